// The type table: declaration of the module's types, joining the table the
// modules share through a capsule, type_query, and class registration.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "quelbo/error.h"
#include "runtime/state.h"
#include "runtime/types.h"

namespace qw {

namespace {

const char* const kHolder = "swig_runtime_data4";
const char* const kCapsuleName = "swig_runtime_data4.type_pointer_capsule";
// The runtime's own record, beside the table (other modules of the same kind
// never read it).
const char* const kRecordAttr = "quelbo_runtime";
const char* const kRecordName = "swig_runtime_data4.quelbo_runtime";

bool name_less(const swig_type_info* a, const swig_type_info* b)
{
    return std::strcmp(a->name, b->name) < 0;
}

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

// Searches every joined module but `self`.
swig_type_info* find_elsewhere(swig_module_info* self, const char* name)
{
    for (swig_module_info* m = self->next; m && m != self; m = m->next) {
        if (swig_type_info* t = find_in_module(m, name))
            return t;
    }
    return nullptr;
}

void insert_cast(swig_type_info* entry, swig_cast_info* c)
{
    c->prev = nullptr;
    c->next = entry->cast;
    if (entry->cast)
        entry->cast->prev = c;
    entry->cast = c;
}

// Enters a class record the runtime made; false without memory.
bool enter_record(const void* d)
{
    Shared& s = *rt().shared;
    if (s.record_count == s.record_capacity) {
        size_t capacity = s.record_capacity ? 2 * s.record_capacity : 64;
        void* grown = std::realloc(s.records, capacity * sizeof(s.records[0]));
        if (!grown)
            return false;
        s.records = static_cast<const void**>(grown);
        s.record_capacity = capacity;
    }
    s.records[s.record_count++] = d;
    return true;
}

// Frees a class record the runtime made; another module's records are its own.
void destroy_client_data(SwigPyClientData* d)
{
    Shared& s = *rt().shared;
    size_t i = 0;
    while (d && i < s.record_count && s.records[i] != d)
        ++i;
    if (!d || i == s.record_count)
        return;
    s.records[i] = s.records[--s.record_count];
    Py_XDECREF(d->klass);
    Py_XDECREF(d->newraw);
    Py_XDECREF(d->newargs);
    Py_XDECREF(d->destroy);
    delete d;
}

// Runs when the last holder lets the table go: the runtime of every module
// holds it for the life of the process, so in practice never; it frees the
// class records of the table's own entries.
void capsule_destroy(PyObject* capsule)
{
    auto* m = static_cast<swig_module_info*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (m) {
        for (size_t i = 0; i < m->size; ++i) {
            swig_type_info* t = m->types[i];
            if (t && t->owndata && t->clientdata) {
                destroy_client_data(static_cast<SwigPyClientData*>(t->clientdata));
                t->clientdata = nullptr;
                t->owndata = 0;
            }
        }
    }
    PyErr_Clear();
}

} // namespace

// First of the module's static objects (the lowest priority a program may use).
Runtime the_runtime __attribute__((init_priority(101)));

void Runtime::clear()
{
    Py_CLEAR(type_cache);
    Py_CLEAR(cvar);
    for (PyTypeObject*& c : python_classes)
        Py_CLEAR(c);
    while (spare_count > 0)
        PyObject_Free(spare_handles[--spare_count]);
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
    auto* d = new (std::nothrow) SwigPyClientData{};
    if (d && !enter_record(d)) {
        delete d;
        d = nullptr;
    }
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
        d->newraw = PyObject_GetAttrString(klass, "__new__");
        if (!d->newraw)
            PyErr_Clear();
        d->newargs = PyTuple_Pack(1, klass);
        if (!d->newargs) {
            destroy_client_data(d);
            return nullptr;
        }
    }
    if (ty->owndata && ty->clientdata)
        destroy_client_data(static_cast<SwigPyClientData*>(ty->clientdata));
    ty->clientdata = d;
    ty->owndata = 1;
    Py_RETURN_NONE;
}

PyObject* swiginit(PyObject*, PyObject* args)
{
    PyObject* objs[2];
    if (!unpack("swiginit", args, 2, 2, objs))
        return nullptr;
    SwigPyObject* existing = find_handle(objs[0]);
    if (existing)
        return append_handle(reinterpret_cast<PyObject*>(existing), objs[1]);
    if (PyObject_SetAttr(objs[0], rt().this_name, objs[1]) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

// ----------------------------------------------------------- table joining

void declare_type(TypeDecl d)
{
    rt().type_decls.push_back(d);
}

void declare_cast(CastDecl d)
{
    rt().cast_decls.push_back(d);
}

void declare_family(TablePart p)
{
    rt().families.push_back(p);
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

// Holds the capsule named kCapsuleName for the module's life; creates it
// (around the module's own record) when no module made it yet.
static swig_module_info* hold_table(Runtime& r, bool& created)
{
    created = false;
    PyObject* holder = PyImport_AddModule(kHolder); // borrowed
    if (!holder)
        return nullptr;
    PyObject* c = PyObject_GetAttrString(holder, "type_pointer_capsule");
    if (c && PyCapsule_IsValid(c, kCapsuleName)) {
        Py_XDECREF(r.capsule);
        r.capsule = c;
        return static_cast<swig_module_info*>(PyCapsule_GetPointer(c, kCapsuleName));
    }
    Py_XDECREF(c);
    PyErr_Clear();
    c = PyCapsule_New(&r.module, kCapsuleName, capsule_destroy);
    if (!c)
        return nullptr;
    Py_INCREF(c);
    if (PyModule_AddObject(holder, "type_pointer_capsule", c) < 0) {
        Py_DECREF(c);
        Py_DECREF(c);
        return nullptr;
    }
    Py_XDECREF(r.capsule);
    r.capsule = c;
    created = true;
    return &r.module;
}

// Holds the runtime's record beside the table: the one published by the
// first module of the runtime, else this module's own, published now.
static bool hold_record(Runtime& r)
{
    PyObject* holder = PyImport_AddModule(kHolder); // borrowed
    if (!holder)
        return false;
    PyObject* c = PyObject_GetAttrString(holder, kRecordAttr);
    if (c && PyCapsule_IsValid(c, kRecordName)) {
        auto* s = static_cast<Shared*>(PyCapsule_GetPointer(c, kRecordName));
        if (s->magic == Shared::kMagic) {
            Py_XDECREF(r.record);
            r.record = c;
            r.shared = s;
            return true;
        }
    }
    Py_XDECREF(c);
    PyErr_Clear();
    c = PyCapsule_New(r.shared, kRecordName, nullptr);
    if (!c || PyObject_SetAttrString(holder, kRecordAttr, c) < 0) {
        Py_XDECREF(c);
        return false;
    }
    Py_XDECREF(r.record);
    r.record = c;
    return true;
}

bool join_type_table(PyObject*)
{
    Runtime& r = rt();
    swig_module_info& own = r.module;
    bool first = own.next == nullptr;
    if (first) {
        own.next = &own;
        // Each type's own cast list: itself, then the declared derived types.
        for (auto& d : r.type_decls) {
            auto* self = new swig_cast_info{d.info, nullptr, nullptr, nullptr};
            r.initial.push_back(d.info);
            d.info->cast = nullptr;
            insert_cast(d.info, self);
        }
        std::sort(r.initial.begin(), r.initial.end(), name_less);
        own.type_initial = r.initial.data();
        own.size = r.initial.size();
        r.types.assign(r.initial.size() + 1, nullptr);
    }

    bool created = false;
    swig_module_info* shared = hold_table(r, created);
    if (!shared)
        return false;
    if (!hold_record(r))
        return false;
    if (!created) {
        bool member = false;
        swig_module_info* m = shared;
        do {
            if (m == &own) {
                member = true;
                break;
            }
            m = m->next;
        } while (m && m != shared);
        if (!member) {
            own.next = shared->next;
            shared->next = &own;
        }
    }
    if (!first)
        return true;

    // The module's entries are now those of the table: our own, or the one
    // already registered by another module under the same name.
    std::vector<std::pair<swig_type_info*, swig_type_info*>> chosen; // own -> in use
    for (size_t i = 0; i < own.size; ++i) {
        swig_type_info* mine = r.initial[i];
        swig_type_info* found = find_elsewhere(&own, mine->name);
        chosen.emplace_back(mine, found ? found : mine);
    }
    auto in_use = [&](swig_type_info* mine) {
        for (auto& p : chosen)
            if (p.first == mine)
                return p.second;
        return mine;
    };
    for (auto& c : r.cast_decls) {
        swig_type_info* base_own = nullptr;
        for (auto& d : r.type_decls)
            if (d.slot == c.base)
                base_own = d.info;
        if (!base_own)
            continue;
        swig_type_info* base = in_use(base_own);
        swig_type_info* derived = in_use(c.derived);
        if (base != base_own) {
            // Adopted entry: add the cast only when it is not known yet.
            bool known = false;
            for (swig_cast_info* k = base->cast; k; k = k->next)
                if (std::strcmp(k->type->name, derived->name) == 0)
                    known = true;
            if (known)
                continue;
        }
        insert_cast(base, new swig_cast_info{derived, c.conv, nullptr, nullptr});
    }
    for (size_t i = 0; i < own.size; ++i)
        r.types[i] = chosen[i].second;
    r.types[own.size] = nullptr;
    own.types = r.types.data();
    for (auto& d : r.type_decls)
        *d.slot = in_use(d.info);
    r.error_type = type_of<quelbo::Error>();
    return true;
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
