// Flat functions as the module shows them: each runs inside the call guard,
// which defers destruction until the outermost call ends and lets nothing
// native escape; module creation from the families' method tables.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "runtime/state.h"
#include "runtime/wrap.h"

namespace qw {

// ------------------------------------------------------------ the guard

CallGuard::CallGuard()
{
    ++rt().shared->calls;
}

CallGuard::~CallGuard()
{
    Shared& s = *rt().shared;
    if (--s.calls > 0 || s.deferred_count == 0)
        return;
    // The outermost call is over: destroy what waited. A destructor may run
    // Python code that calls again; it defers into the same list.
    PyObject *et, *ev, *tb;
    PyErr_Fetch(&et, &ev, &tb);
    ++s.calls;
    while (s.deferred_count > 0) {
        Shared::Deferred d = s.deferred[--s.deferred_count];
        d.destroy(d.p);
    }
    --s.calls;
    std::free(s.deferred);
    s.deferred = nullptr;
    s.deferred_capacity = 0;
    PyErr_Restore(et, ev, tb);
}

void destroy_or_defer(void* p, void (*destroy)(void*))
{
    Shared& s = *rt().shared;
    if (s.calls > 0) {
        if (s.deferred_count == s.deferred_capacity) {
            size_t capacity = s.deferred_capacity ? 2 * s.deferred_capacity : 8;
            void* grown = std::realloc(s.deferred, capacity * sizeof(Shared::Deferred));
            if (grown) {
                s.deferred = static_cast<Shared::Deferred*>(grown);
                s.deferred_capacity = capacity;
            }
        }
        if (s.deferred_count < s.deferred_capacity) {
            s.deferred[s.deferred_count++] = {p, destroy};
            return;
        }
        // No room to remember it: destroying now is the lesser evil.
    }
    destroy(p);
}

bool is_deferred(const void* p)
{
    const Shared& s = *rt().shared;
    for (size_t i = 0; i < s.deferred_count; ++i)
        if (s.deferred[i].p == p)
            return true;
    return false;
}

// ------------------------------------------------------- guarded functions

namespace {

// Every flat function of a module runs through here.
PyObject* run_flat(const PyMethodDef& def, PyObject* args)
{
    CallGuard guard;
    try {
        return def.ml_meth(nullptr, args);
    } catch (...) {
        return raise_native_exception();
    }
}

// One runner per place of the table, so that the module's functions are
// plain module functions (their `self` is the module) that still know their
// family function.
constexpr size_t kMaxFunctions = 4096;

template <size_t I>
PyObject* run_at(PyObject*, PyObject* args)
{
    return run_flat(rt().inner[I], args);
}

template <size_t... I>
std::array<PyCFunction, sizeof...(I)> make_runners(std::index_sequence<I...>)
{
    return {{&run_at<I>...}};
}

const std::array<PyCFunction, kMaxFunctions>& runners()
{
    static const auto all = make_runners(std::make_index_sequence<kMaxFunctions>{});
    return all;
}

const PyMethodDef* own_flat_function(PyCFunction f)
{
    Runtime& r = rt();
    auto it = r.slot_of.find(f);
    return it == r.slot_of.end() ? nullptr : &r.inner[it->second];
}

// The families' table, in the order of their places.
std::vector<PyMethodDef> family_table()
{
    auto fams = rt().families;
    std::stable_sort(fams.begin(), fams.end(),
                     [](const TablePart& a, const TablePart& b) { return a.order < b.order; });
    Methods m;
    for (const TablePart& f : fams)
        f.fn(m);
    return std::move(m.defs);
}

// Builds the module's table once: the family definitions and their runners.
bool build_table(Runtime& r)
{
    if (!r.outer.empty())
        return true;
    try {
        r.inner = family_table();
        if (r.inner.size() > kMaxFunctions) {
            PyErr_SetString(PyExc_ImportError, "too many functions for one module");
            return false;
        }
        for (size_t i = 0; i < r.inner.size(); ++i) {
            const PyMethodDef& d = r.inner[i];
            r.outer.push_back({d.ml_name, runners()[i], d.ml_flags, d.ml_doc});
            r.slot_of[runners()[i]] = i;
        }
        r.outer.push_back({nullptr, nullptr, 0, nullptr});
    } catch (std::bad_alloc&) {
        r.outer.clear();
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// The module enters its handle type (its objects are handles with the
// runtime's own fields) and its lookup of flat functions in the runtime's
// shared record; ImportError when the record has no room left for them.
bool enter_module(Shared& s, PyTypeObject* handle_type)
{
    auto has = [](const auto& list, int count, auto item) {
        return std::find(list, list + count, item) != list + count;
    };
    const bool has_type = has(s.handle_types, s.handle_type_count, handle_type);
    const bool has_lookup = has(s.flat_lookups, s.flat_lookup_count, &own_flat_function);
    if ((!has_type && s.handle_type_count == int(std::size(s.handle_types))) ||
        (!has_lookup && s.flat_lookup_count == int(std::size(s.flat_lookups)))) {
        PyErr_SetString(PyExc_ImportError, "too many modules of this runtime in one interpreter");
        return false;
    }
    if (!has_type)
        s.handle_types[s.handle_type_count++] = handle_type;
    if (!has_lookup)
        s.flat_lookups[s.flat_lookup_count++] = &own_flat_function;
    return true;
}

} // namespace

PyCFunction flat_delete_function(PyObject* fn)
{
    if (!PyCFunction_Check(fn))
        return nullptr;
    PyCFunction f = PyCFunction_GetFunction(fn);
    const Shared& s = *rt().shared;
    for (int i = 0; i < s.flat_lookup_count; ++i) {
        const PyMethodDef* def = s.flat_lookups[i](f);
        if (def)
            return def->ml_flags == METH_O && std::strncmp(def->ml_name, "delete_", 7) == 0 ? def->ml_meth : nullptr;
    }
    return nullptr;
}

PyObject* create_module(PyModuleDef& def)
{
    Runtime& r = rt();
    if (!r.module_name && !(r.module_name = PyUnicode_FromString(def.m_name)))
        return nullptr;
    if (!init_runtime() || !build_table(r))
        return nullptr;
    def.m_methods = r.outer.data();
    def.m_free = [](void*) { rt().clear(); };
    PyObject* m = PyModule_Create2(&def, 3);
    if (!m)
        return nullptr;
    if (!join_type_table(m)) {
        Py_DECREF(m);
        return nullptr;
    }
    if (!enter_module(*r.shared, r.handle_type)) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}

} // namespace qw
