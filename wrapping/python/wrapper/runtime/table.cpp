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

// The capsule's destructor, run once when the last holder lets the table
// go (the holder module's attribute and this module's owning handles): it
// releases the class records that this module's entries own, whichever
// module registered them, then the runtime's "this", lookup cache and
// module variables.
void capsule_destroy(PyObject* capsule)
{
    Runtime& r = rt();
    auto* m = static_cast<swig_module_info*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    PyErr_Clear();
    if (r.shared->table == capsule)
        r.shared->table = nullptr;
    if (--r.table_users != 0)
        return;
    for (size_t i = 0; m && i < m->size; ++i) {
        swig_type_info* t = m->types[i];
        if (!t || !t->owndata)
            continue;
        void* d = t->clientdata;
        t->owndata = 0;
        // Other entries lent the record (a module may give a class to the
        // entries of its derived types) let it go too.
        each_entry(m, [d](swig_type_info* e) {
            if (e->clientdata == d && !e->owndata)
                e->clientdata = nullptr;
        });
        release_record(static_cast<SwigPyClientData*>(d));
    }
    Py_CLEAR(r.this_name);
    Py_CLEAR(r.cvar);
    Py_CLEAR(r.type_cache);
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
        d->newraw = PyObject_GetAttrString(klass, "__new__");
        if (!d->newraw)
            PyErr_Clear();
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

PyObject* swiginit(PyObject*, PyObject* args)
{
    PyObject* objs[2];
    if (!unpack("swiginit", args, 2, 2, objs))
        return nullptr;
    SwigPyObject* existing = find_handle(objs[0]);
    if (existing)
        return append_handle(reinterpret_cast<PyObject*>(existing), objs[1]);
    PyObject* name = this_name();
    if (!name || PyObject_SetAttr(objs[0], name, objs[1]) < 0)
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

// The shared table: the module record of the capsule named kCapsuleName,
// made now around this module's record when no module made it yet. The
// holder module's attribute owns the capsule; the owning handles of the
// runtime's modules hold it too (Shared::table).
static swig_module_info* find_table(Runtime& r, bool& created)
{
    created = false;
    Shared& s = *r.shared;
    PyObject* holder = PyImport_AddModule(kHolder); // borrowed
    if (!holder)
        return nullptr;
    PyObject* c = PyObject_GetAttrString(holder, "type_pointer_capsule");
    if (c && PyCapsule_IsValid(c, kCapsuleName)) {
        auto* m = static_cast<swig_module_info*>(PyCapsule_GetPointer(c, kCapsuleName));
        Py_DECREF(c);
        if (!s.table_record) {
            // Another module's: the runtime holds it from now on.
            s.table = c;
            s.table_record = m;
            s.table_ours = 0;
        }
        return m;
    }
    Py_XDECREF(c);
    PyErr_Clear();
    c = PyCapsule_New(&r.module, kCapsuleName, capsule_destroy);
    if (!c)
        return nullptr;
    if (PyModule_AddObject(holder, "type_pointer_capsule", c) < 0) {
        Py_DECREF(c);
        return nullptr;
    }
    s.table = c;
    s.table_record = &r.module;
    s.table_ours = 1;
    ++r.table_users;
    created = true;
    return &r.module;
}

namespace {

// At the interpreter's exit, before the modules go: the runtime lets the
// table go, which ends when its last holder does.
PyObject* let_kept_table_go(PyObject*, PyObject*)
{
    Shared& s = *rt().shared;
    if (s.table_kept == 1) {
        s.table_kept = 2;
        let_table_go(s.table);
    }
    Py_RETURN_NONE;
}
PyMethodDef g_let_go = {"let_table_go", let_kept_table_go, METH_NOARGS, nullptr};

// The runtime holds the table while the process runs (whoever removes the
// holder module): the first of its modules to join takes the hold, to be let
// go when the interpreter exits.
bool keep_table(Shared& s)
{
    if (s.table_kept || !s.table)
        return true;
    PyObject* fn = PyCFunction_NewEx(&g_let_go, nullptr, nullptr);
    PyObject* atexit = fn ? PyImport_ImportModule("atexit") : nullptr;
    PyObject* done = atexit ? PyObject_CallMethod(atexit, "register", "O", fn) : nullptr;
    Py_XDECREF(fn);
    Py_XDECREF(atexit);
    if (!done)
        return false;
    Py_DECREF(done);
    Py_INCREF(s.table);
    ++s.table_holds;
    s.table_kept = 1;
    return true;
}

} // namespace

PyObject* find_table_again()
{
    Shared& s = *rt().shared;
    if (s.table_ours || !s.table_record)
        return nullptr;
    // Read without import machinery and without touching a pending error.
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* holder = modules ? PyDict_GetItemString(modules, kHolder) : nullptr;
    if (!holder)
        return nullptr;
    PyObject *et, *ev, *tb;
    PyErr_Fetch(&et, &ev, &tb);
    PyObject* c = PyObject_GetAttrString(holder, "type_pointer_capsule");
    if (c && PyCapsule_IsValid(c, kCapsuleName) && PyCapsule_GetPointer(c, kCapsuleName) == s.table_record)
        s.table = c; // the holder's attribute keeps it meanwhile
    Py_XDECREF(c);
    PyErr_Clear();
    PyErr_Restore(et, ev, tb);
    return s.table;
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

namespace {

swig_type_info* find_own(const std::vector<swig_type_info*>& own, const char* name)
{
    auto at = std::lower_bound(own.begin(), own.end(), name,
                               [](const swig_type_info* t, const char* n) { return std::strcmp(t->name, n) < 0; });
    return at != own.end() && std::strcmp((*at)->name, name) == 0 ? *at : nullptr;
}

// The module's own entries, sorted: the declared ones (bound to native
// types) and one made from each other row of the type list it carries;
// then each entry's own cast list, itself first.
bool build_own_entries(Runtime& r)
{
    std::vector<swig_type_info*>& own = r.initial;
    for (auto& d : r.type_decls)
        own.push_back(d.info);
    std::sort(own.begin(), own.end(), name_less);
    size_t made = 0;
    for (const TypeRow& row : kTypeList)
        made += r.carried && carries(r.carried, row) && !find_own(own, row.mangled);
    r.listed.reserve(made);
    for (const TypeRow& row : kTypeList) {
        if (!r.carried || !carries(r.carried, row))
            continue;
        if (swig_type_info* t = find_own(own, row.mangled))
            t->str = printable(r.carried, row);
        else
            r.listed.push_back({row.mangled, printable(r.carried, row), nullptr, nullptr, nullptr, 0});
    }
    for (swig_type_info& t : r.listed)
        own.push_back(&t);
    std::sort(own.begin(), own.end(), name_less);
    if (r.carried && own.size() != rows_in(r.carried)) {
        PyErr_SetString(PyExc_SystemError, "the module's types are not those of its rows");
        return false;
    }

    // Casts per base entry: (base, derived, converter).
    struct Cast
    {
        swig_type_info* base;
        swig_type_info* derived;
        swig_converter_func conv;
    };
    std::vector<Cast> casts;
    for (const CastRow& c : kCastList)
        if (c.in & r.carried)
            casts.push_back({find_own(own, c.base), find_own(own, c.derived), nullptr});
    for (const CastDecl& c : r.cast_decls)
        for (const TypeDecl& d : r.type_decls)
            if (d.slot == c.base)
                casts.push_back({d.info, c.derived, c.conv});
    // One null-ended array per entry, in one block: itself, then its casts.
    r.cast_records.assign(2 * own.size() + casts.size(), swig_cast_info{nullptr, nullptr, nullptr, nullptr});
    r.cast_initial.clear();
    size_t next = 0;
    for (swig_type_info* t : own) {
        r.cast_initial.push_back(&r.cast_records[next]);
        r.cast_records[next++].type = t;
        for (const Cast& c : casts)
            if (c.base == t)
                r.cast_records[next++] = {c.derived, c.conv, nullptr, nullptr};
        ++next; // the terminator
    }
    return true;
}

} // namespace

bool join_type_table(PyObject*)
{
    Runtime& r = rt();
    swig_module_info& own = r.module;
    bool first = own.next == nullptr;
    if (first) {
        if (!build_own_entries(r))
            return false;
        own.next = &own;
        own.type_initial = r.initial.data();
        own.cast_initial = r.cast_initial.data();
        own.size = r.initial.size();
        r.types.assign(own.size + 1, nullptr);
        own.types = r.types.data();
    }

    if (!hold_record(r))
        return false;
    bool created = false;
    swig_module_info* shared = find_table(r, created);
    if (!shared || !keep_table(*r.shared))
        return false;
    if (!created) {
        swig_module_info* m = shared;
        do {
            if (m == &own)
                return true; // joined already
            m = m->next;
        } while (m && m != shared);
        own.next = shared->next;
        shared->next = &own;
    }
    if (!first)
        return true;

    // Each entry is now that of the table: the module's own, or the one
    // another module entered already under the same name; the module's casts
    // join it, those the adopted entry lacks only.
    for (size_t i = 0; i < own.size; ++i) {
        swig_type_info* mine = own.type_initial[i];
        swig_type_info* found = find_elsewhere(&own, mine->name);
        swig_type_info* entry = found ? found : mine;
        if (found && mine->clientdata) {
            found->clientdata = mine->clientdata;
            found->owndata = mine->owndata;
        }
        for (swig_cast_info* c = own.cast_initial[i]; c->type; ++c) {
            swig_type_info* other = find_elsewhere(&own, c->type->name);
            if (found) {
                bool known = false;
                for (swig_cast_info* k = found->cast; k && !known; k = k->next)
                    known = std::strcmp(k->type->name, c->type->name) == 0;
                if (known)
                    continue;
            }
            if (other)
                c->type = other;
            insert_cast(entry, c);
        }
        r.types[i] = entry;
    }
    r.types[own.size] = nullptr;
    for (auto& d : r.type_decls)
        *d.slot = find_in_module(&own, d.info->name);
    r.error_type = type_of<quelbo::Error>();
    return true;
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
