// Flat functions as the module shows them: each runs inside the call guard,
// which defers destruction until the outermost call ends and lets nothing
// native escape; module creation from the families' method tables.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "runtime/state.h"
#include "runtime/wrap.h"

namespace qw {

// ------------------------------------------------------------ the guard

// Room kept for objects waiting for destruction between calls.
constexpr size_t kKeptDeferred = 8;

int* running_calls = &the_runtime.runtime.own_shared.calls;
size_t* waiting_count = &the_runtime.runtime.own_shared.deferred_count;

// A destructor may run Python code that calls again; it defers into the same
// list.
[[gnu::noinline, gnu::cold]] void destroy_waiting()
{
    Shared& s = *rt().shared;
    PyObject *et, *ev, *tb;
    PyErr_Fetch(&et, &ev, &tb);
    ++s.calls;
    while (s.deferred_count > 0) {
        Shared::Deferred d = s.deferred[--s.deferred_count];
        d.destroy(d.p);
    }
    --s.calls;
    // A short list stays for the next call; a long one goes.
    if (s.deferred_capacity > kKeptDeferred) {
        std::free(s.deferred);
        s.deferred = nullptr;
        s.deferred_capacity = 0;
    }
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
        destroy(p);
        return;
    }
    CallGuard destroying; // what the destruction lets go waits for its end
    destroy(p);
}

void release_kept(void* p, void (*release)(void*))
{
    if (!Py_IsInitialized())
        return release(p);
    const PyGILState_STATE state = PyGILState_Ensure();
    destroy_or_defer(p, release);
    PyGILState_Release(state);
}

void destroy_deleted(void* p, void (*destroy)(void*))
{
    // Only the delete call itself is running: nothing else holds the object,
    // and waiting for the end of this call would change nothing.
    if (rt().shared->calls <= 1)
        destroy(p);
    else
        destroy_or_defer(p, destroy);
}

bool is_deferred(const void* p)
{
    const Shared& s = *rt().shared;
    for (size_t i = 0; i < s.deferred_count; ++i)
        if (s.deferred[i].p == p)
            return true;
    return false;
}

// ------------------------------------------------------------ the table

namespace {

const PyMethodDef* own_flat_function(PyCFunction f)
{
    Runtime& r = rt();
    auto it = r.slot_of.find(f);
    return it == r.slot_of.end() ? nullptr : &r.table[it->second];
}

// The families' table, in table order; the native forms of the delete_
// functions go to the runtime.
bool family_table(Runtime& r, TableOrder order, std::string& fault)
{
    Methods m;
    for (TablePartFn f : r.families)
        f(m);
    r.native_deletes.insert(m.deletes.begin(), m.deletes.end());
    if (order.count && !sort_table(m.defs, order, fault))
        return false;
    r.table = std::move(m.defs);
    return true;
}

// Builds the module's table once: every family function in its guarded form
// (methods.h), in table order. ImportError when the order does not list
// exactly the registered functions.
bool build_table(Runtime& r, const char* module, TableOrder order)
{
    if (!r.table.empty())
        return true;
    try {
        std::string fault;
        if (!family_table(r, order, fault)) {
            r.native_deletes.clear();
            PyErr_Format(PyExc_ImportError, "%s: %s", module, fault.c_str());
            return false;
        }
        for (size_t i = 0; i < r.table.size(); ++i)
            r.slot_of[r.table[i].ml_meth] = i;
        r.table.push_back({nullptr, nullptr, 0, nullptr});
    } catch (std::bad_alloc&) {
        r.table.clear();
        r.slot_of.clear();
        r.native_deletes.clear();
        PyErr_NoMemory();
        return false;
    }
    return true;
}

// The module enters its handle type (its objects are handles with the
// runtime's own fields), its lookup of flat functions and its module record
// (whose class records the runtime releases at the table's end) in the
// runtime's shared record; ImportError when the record has no room left.
bool enter_module(Runtime& r)
{
    Shared& s = *r.shared;
    auto fits = [](const auto& list, int count, auto item) {
        return count < int(std::size(list)) || std::find(list, list + count, item) != list + count;
    };
    auto enter = [](auto& list, int& count, auto item) {
        if (std::find(list, list + count, item) == list + count)
            list[count++] = item;
    };
    if (!fits(s.handle_types, s.handle_type_count, r.handle_type) ||
        !fits(s.flat_lookups, s.flat_lookup_count, &own_flat_function) ||
        !fits(s.modules, s.module_count, &r.module)) {
        PyErr_SetString(PyExc_ImportError, "too many modules of this runtime in one interpreter");
        return false;
    }
    enter(s.handle_types, s.handle_type_count, r.handle_type);
    enter(s.flat_lookups, s.flat_lookup_count, &own_flat_function);
    enter(s.modules, s.module_count, &r.module);
    return true;
}

} // namespace

bool sort_table(std::vector<PyMethodDef>& defs, TableOrder order, std::string& fault)
{
    auto quoted = [](const char* name) { return "'" + std::string(name) + "'"; };
    std::unordered_map<std::string_view, std::size_t> place;
    place.reserve(order.count);
    for (std::size_t i = 0; i < order.count; ++i)
        if (!place.emplace(order.names[i], i).second) {
            fault = quoted(order.names[i]) + " is listed twice in the table order";
            return false;
        }
    std::vector<PyMethodDef> sorted(order.count, PyMethodDef{nullptr, nullptr, 0, nullptr});
    for (const PyMethodDef& d : defs) {
        auto it = place.find(d.ml_name);
        if (it == place.end()) {
            fault = "the table order lacks the registered function " + quoted(d.ml_name);
            return false;
        }
        if (sorted[it->second].ml_name) {
            fault = quoted(d.ml_name) + " is registered twice";
            return false;
        }
        sorted[it->second] = d;
    }
    for (std::size_t i = 0; i < order.count; ++i)
        if (!sorted[i].ml_name) {
            fault = quoted(order.names[i]) + " is listed in the table order but not registered";
            return false;
        }
    defs.swap(sorted);
    return true;
}

const DeleteVerdict& find_delete_verdict(PyObject* fn, DeleteVerdict& v)
{
    Runtime& r = rt();
    static const DeleteVerdict none = {nullptr, nullptr, nullptr};
    if (!PyCFunction_Check(fn))
        return none;
    PyCFunction destroy = find_delete_function(PyCFunction_GetFunction(fn));
    auto native = destroy ? r.native_deletes.find(destroy) : r.native_deletes.end();
    PyObject* old = v.fn;
    Py_INCREF(fn);
    v = {fn, destroy, native == r.native_deletes.end() ? nullptr : &native->second};
    Py_XDECREF(old);
    return v;
}

PyCFunction flat_delete_function(PyObject* fn)
{
    return delete_verdict(fn).destroy;
}

PyCFunction find_delete_function(PyCFunction f)
{
    const Shared& s = *rt().shared;
    for (int i = 0; i < s.flat_lookup_count; ++i) {
        const PyMethodDef* def = s.flat_lookups[i](f);
        if (def)
            return def->ml_flags == METH_O && std::strncmp(def->ml_name, "delete_", 7) == 0 ? def->ml_meth : nullptr;
    }
    return nullptr;
}

PyObject* create_module(PyModuleDef& def, unsigned carried, TableOrder order)
{
    Runtime& r = rt();
    r.carried = carried;
    if (!r.module_name && !(r.module_name = PyUnicode_FromString(def.m_name)))
        return nullptr;
    if (!init_runtime() || !build_table(r, def.m_name, order))
        return nullptr;
    def.m_methods = r.table.data();
    def.m_free = [](void*) { rt().clear(); };
    PyObject* m = PyModule_Create2(&def, 3);
    if (!m)
        return nullptr;
    if (!join_type_table(m)) {
        Py_DECREF(m);
        return nullptr;
    }
    if (!enter_module(r)) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}

} // namespace qw
