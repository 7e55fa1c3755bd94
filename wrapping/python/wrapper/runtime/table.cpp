// The type table: declaration of the module's types, class registration and
// the class records, the shared table's end, type_query (joining the shared
// table: join.cpp).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "quelbo/error.h"
#include "runtime/state.h"
#include "runtime/table.h"
#include "runtime/types.h"

namespace qw {

namespace table {

swig_type_info* find_in_module(swig_module_info* m, const char* name)
{
    size_t lo = 0, hi = m->size;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        swig_type_info* t = m->types[mid];
        if (!t)
            break;
        int c = std::strcmp(name, t->name);
        if (c == 0)
            return t;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

swig_type_info* find_elsewhere(swig_module_info* self, const char* name)
{
    for (swig_module_info* m = self->next; m && m != self; m = m->next) {
        if (swig_type_info* t = find_in_module(m, name))
            return t;
    }
    return nullptr;
}

} // namespace table

using namespace table;

namespace {

// Calls f on every entry of every module joined with `m`.
template <class F>
void each_entry(swig_module_info* m, F f)
{
    swig_module_info* start = m;
    do {
        for (size_t i = 0; m->types && i < m->size; ++i)
            if (m->types[i])
                f(m->types[i]);
        m = m->next;
    } while (m && m != start);
}

// Class records are plain C structures made with the C allocator: whichever
// module of the same kind destroys the table frees them alike.
SwigPyClientData* new_record()
{
    return static_cast<SwigPyClientData*>(std::calloc(1, sizeof(SwigPyClientData)));
}

void release_record(SwigPyClientData* d)
{
    if (!d)
        return;
    Py_XDECREF(d->klass);
    Py_XDECREF(d->newraw);
    Py_XDECREF(d->newargs);
    Py_XDECREF(d->destroy);
    std::free(d);
}

// The capsule is gone: the runtime forgets it, and the class records of its
// modules go now, or with the last of the runtime's holders when some are
// left (they were let go of by another holder).
void table_ends(Shared& s, PyObject* capsule)
{
    if (s.table == capsule)
        s.table = nullptr;
    if (!s.table_ended)
        s.table_ended = 1;
    end_table_records(s);
}

} // namespace

void end_table_records(Shared& s)
{
    if (s.table_ended != 1 || s.table_holds != 0 || s.module_count == 0)
        return;
    s.table_ended = 2;
    auto ours = [&s](auto f) {
        for (int i = 0; i < s.module_count; ++i)
            for (size_t k = 0; s.modules[i]->types && k < s.modules[i]->size; ++k)
                if (swig_type_info* t = s.modules[i]->types[k])
                    f(t);
    };
    // Each record that an entry of the runtime's modules owns stays with that
    // entry alone; the records that other modules' entries lend them may be
    // gone already: those are only forgotten.
    ours([&s](swig_type_info* t) {
        void* d = t->owndata ? t->clientdata : nullptr;
        if (d)
            each_entry(s.modules[0], [d, t](swig_type_info* e) {
                if (e != t && e->clientdata == d)
                    e->clientdata = nullptr, e->owndata = 0;
            });
    });
    ours([](swig_type_info* t) {
        if (!t->owndata)
            t->clientdata = nullptr;
    });
    // Then each goes once, whichever module registered it (releasing a class
    // may run Python code: no entry leads to a record gone by then).
    ours([](swig_type_info* t) {
        auto* d = static_cast<SwigPyClientData*>(t->owndata ? t->clientdata : nullptr);
        t->clientdata = nullptr;
        t->owndata = 0;
        release_record(d);
    });
}

// The capsule's destructor, run once when the last holder lets the table
// go (the holder module's attribute and the owning handles of the runtime's
// modules): the class records of the runtime's modules go, then the
// runtime's "this", lookup cache and module variables.
void table::capsule_destroy(PyObject* capsule)
{
    Runtime& r = rt();
    if (r.shared->table == capsule)
        r.shared->table = nullptr;
    if (--r.table_users != 0)
        return;
    table_ends(*r.shared, capsule);
    Py_CLEAR(r.this_name);
    Py_CLEAR(r.cvar);
    Py_CLEAR(r.type_cache);
}

// The destructor the runtime gives the capsule that another module made:
// that module's own first (it releases the records of its entries), then
// the runtime's records go.
void table::foreign_capsule_destroy(PyObject* capsule)
{
    Shared& s = *rt().shared;
    if (s.foreign_end)
        s.foreign_end(capsule);
    table_ends(s, capsule);
}

// First of the module's static objects (the lowest priority a program may use).
LastingRuntime the_runtime __attribute__((init_priority(101)));

void Runtime::clear()
{
    Py_CLEAR(type_cache);
    Py_CLEAR(cvar);
    for (PyTypeObject*& c : python_classes)
        Py_CLEAR(c);
    while (spare_count > 0) {
        PyObject* h = spare_handles[--spare_count];
        spare_serves(h, sizeof(Handle));
        PyObject_Free(h);
    }
    spare_blocks.release();
    for (DeleteVerdict& v : delete_verdicts) {
        PyObject* fn = v.fn;
        v = {nullptr, nullptr, nullptr};
        Py_XDECREF(fn);
    }
}

// ------------------------------------------------------------- registration

PyObject* swigregister_for(swig_type_info* ty, PyObject* arg)
{
    PyObject* objs[1];
    if (!unpack("swigregister", arg, 1, 1, objs))
        return nullptr;
    PyObject* klass = objs[0];
    if (ty == rt().error_type && !PyExceptionClass_Check(klass)) {
        // Library errors are raised as this class.
        PyErr_SetString(PyExc_TypeError, "the class registered for Error must be an exception class");
        return nullptr;
    }
    PyObject* destroy = PyObject_GetAttrString(klass, "__swig_destroy__");
    if (!destroy) {
        PyErr_Clear();
    } else if (!flat_delete_function(destroy)) {
        // An owning handle calls it when it dies: only the module's own
        // delete_ functions know how to destroy the object.
        Py_DECREF(destroy);
        PyErr_SetString(PyExc_TypeError, "__swig_destroy__ must be a delete_ function of the module");
        return nullptr;
    }
    SwigPyClientData* d = new_record();
    if (!d) {
        Py_XDECREF(destroy);
        return PyErr_NoMemory();
    }
    Py_INCREF(klass);
    d->klass = klass;
    d->destroy = destroy;
    d->delargs = 0;
    if (PyType_Check(klass)) {
        d->newraw = nullptr;
        Py_INCREF(klass);
        d->newargs = klass;
    } else {
        // Another object makes its instances through its __new__: one that
        // cannot be read could make none.
        d->newraw = PyObject_GetAttrString(klass, "__new__");
        if (!d->newraw) {
            const bool memory = PyErr_ExceptionMatches(PyExc_MemoryError);
            PyErr_Clear();
            release_record(d);
            if (memory)
                return PyErr_NoMemory();
            PyErr_SetString(PyExc_TypeError, "the registered object is not a class and its __new__ cannot be read");
            return nullptr;
        }
        d->newargs = PyTuple_Pack(1, klass);
        if (!d->newargs) {
            release_record(d);
            return nullptr;
        }
    }
    // The record replaced is the table's (made with the C allocator, by
    // whichever module registered it); it stays while another entry uses it.
    void* old = ty->owndata ? ty->clientdata : nullptr;
    ty->clientdata = d;
    ty->owndata = 1;
    bool lent = false;
    if (old && rt().module.next)
        each_entry(&rt().module, [&](swig_type_info* e) { lent = lent || e->clientdata == old; });
    if (!lent)
        release_record(static_cast<SwigPyClientData*>(old));
    Py_RETURN_NONE;
}

bool attach_destroy(swig_type_info* ty, PyMethodDef* def)
{
    if (ty->clientdata)
        return true;
    SwigPyClientData* d = new_record();
    if (!d) {
        PyErr_NoMemory();
        return false;
    }
    d->destroy = PyCFunction_New(def, nullptr);
    if (!d->destroy) {
        release_record(d);
        return false;
    }
    ty->clientdata = d;
    ty->owndata = 1;
    return true;
}

PyObject* swiginit(PyObject*, PyObject* args)
{
    PyObject* objs[2];
    if (!unpack("swiginit", args, 2, 2, objs))
        return nullptr;
    SwigPyObject* existing = find_handle(objs[0]);
    if (existing)
        return append_handle(reinterpret_cast<PyObject*>(existing), objs[1]);
    const Held name(this_name());
    if (!name.get() || PyObject_SetAttr(objs[0], name.get(), objs[1]) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

// ------------------------------------------------------------- declarations

void declare_type(TypeDecl d)
{
    rt().type_decls.push_back(d);
}

void declare_cast(CastDecl d)
{
    rt().cast_decls.push_back(d);
}

void declare_family(TablePartFn fn)
{
    rt().families.push_back(fn);
}

bool init_runtime()
{
    Runtime& r = rt();
    if (!r.this_name) {
        r.this_name = PyUnicode_InternFromString("this");
        if (!r.this_name)
            return false;
    }
    if (!r.type_cache) {
        r.type_cache = PyDict_New();
        if (!r.type_cache)
            return false;
    }
    if (!r.empty_tuple && !(r.empty_tuple = PyTuple_New(0)))
        return false;
    if (!r.empty_dict && !(r.empty_dict = PyDict_New()))
        return false;
    if (!r.python_dealloc) {
        // Classes defined in Python all share one deallocation: a class made
        // here shows which.
        PyObject* probe = PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s(){}", "probe");
        if (!probe)
            return false;
        r.python_dealloc = PyType_GetSlot(reinterpret_cast<PyTypeObject*>(probe), Py_tp_dealloc);
        Py_DECREF(probe);
    }
    return handle_type() && packed_type();
}

PyObject* renew_this_name()
{
    Runtime& r = rt();
    if (!r.this_name)
        r.this_name = PyUnicode_InternFromString("this");
    return r.this_name;
}

swig_type_info* type_query(const char* name)
{
    Runtime& r = rt();
    if (r.type_cache) {
        PyObject* hit = PyDict_GetItemString(r.type_cache, name);
        if (hit)
            return static_cast<swig_type_info*>(PyCapsule_GetPointer(hit, nullptr));
    }
    swig_type_info* found = nullptr;
    swig_module_info* start = r.module.next ? &r.module : nullptr;
    for (swig_module_info* m = start; m && !found; m = m->next == start ? nullptr : m->next)
        found = find_in_module(m, name);
    if (!found) {
        auto matches = [name](const char* s, const char* e) {
            const char* n = name;
            while (true) {
                while (s < e && *s == ' ')
                    ++s;
                while (*n == ' ')
                    ++n;
                if (s == e || *n == 0)
                    return s == e && *n == 0;
                if (*s++ != *n++)
                    return false;
            }
        };
        for (swig_module_info* m = start; m && !found; m = m->next == start ? nullptr : m->next) {
            for (size_t i = 0; i < m->size && !found; ++i) {
                swig_type_info* t = m->types[i];
                if (!t || !t->str)
                    continue;
                const char* s = t->str;
                while (true) {
                    const char* e = std::strchr(s, '|');
                    const char* end = e ? e : s + std::strlen(s);
                    if (matches(s, end)) {
                        found = t;
                        break;
                    }
                    if (!e)
                        break;
                    s = e + 1;
                }
            }
        }
    }
    if (found && r.type_cache) {
        PyObject* c = PyCapsule_New(found, nullptr, nullptr);
        if (c) {
            PyDict_SetItemString(r.type_cache, name, c);
            Py_DECREF(c);
        }
        PyErr_Clear();
    }
    return found;
}

} // namespace qw
