// Flat functions as the module shows them: each runs inside the call guard,
// which defers destruction until the outermost call ends and lets nothing
// native escape; module creation from the families' method tables.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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

void flush_deferred() {}

// ------------------------------------------------------- guarded functions

namespace {

const char* const kFlatName = "quelbo.flat_function";

// Every flat function of the module runs through here: `self` carries the
// family's definition.
PyObject* run_flat(PyObject* self, PyObject* args)
{
    auto* def = static_cast<const PyMethodDef*>(PyCapsule_GetPointer(self, kFlatName));
    if (!def)
        return nullptr;
    CallGuard guard;
    try {
        return def->ml_meth(nullptr, args);
    } catch (...) {
        return raise_native_exception();
    }
}

// The families' table, in the order of their places.
std::vector<PyMethodDef> family_table()
{
    auto fams = families();
    std::stable_sort(fams.begin(), fams.end(),
                     [](const TablePart& a, const TablePart& b) { return a.order < b.order; });
    Methods m;
    for (const TablePart& f : fams)
        f.fn(m);
    return std::move(m.defs);
}

} // namespace

PyCFunction flat_delete_function(PyObject* fn)
{
    if (!PyCFunction_Check(fn))
        return nullptr;
    PyObject* self = PyCFunction_GetSelf(fn);
    if (!self || !PyCapsule_IsValid(self, kFlatName))
        return nullptr;
    auto* def = static_cast<const PyMethodDef*>(PyCapsule_GetPointer(self, kFlatName));
    if (!def || def->ml_flags != METH_O || std::strncmp(def->ml_name, "delete_", 7) != 0)
        return nullptr;
    return def->ml_meth;
}

std::vector<TablePart>& families()
{
    static std::vector<TablePart> v;
    return v;
}

PyObject* create_module(PyModuleDef& def)
{
    if (!init_runtime())
        return nullptr;
    static std::vector<PyMethodDef> table;
    try {
        if (table.empty())
            table = family_table();
    } catch (std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    def.m_methods = nullptr;
    def.m_free = [](void*) { rt().clear(); };
    PyObject* m = PyModule_Create2(&def, 3);
    if (!m)
        return nullptr;
    PyObject* name = PyModule_GetNameObject(m);
    bool ok = name != nullptr;
    Runtime& r = rt();
    for (size_t i = 0; ok && i < table.size(); ++i) {
        const PyMethodDef& inner = table[i];
        PyObject* self = PyCapsule_New(const_cast<PyMethodDef*>(&inner), kFlatName, nullptr);
        PyObject* fn = nullptr;
        if (self) {
            try {
                r.outer_defs.push_back({inner.ml_name, &run_flat, inner.ml_flags, inner.ml_doc});
                fn = PyCFunction_NewEx(&r.outer_defs.back(), self, name);
            } catch (std::bad_alloc&) {
                PyErr_NoMemory();
            }
            Py_DECREF(self);
        }
        ok = fn && PyModule_AddObject(m, inner.ml_name, fn) == 0;
        if (fn && !ok)
            Py_DECREF(fn);
    }
    Py_XDECREF(name);
    if (!ok || !join_type_table(m)) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}

} // namespace qw
