// Joining the table the modules share through a capsule: the module's own
// entries and casts, made from its declarations and its rows of the type
// list, and the entries of the table that it adopts.
#include <algorithm>
#include <cstring>
#include <dlfcn.h>

#include "quelbo/binding_slot.h"
#include "quelbo/error.h"
#include "runtime/state.h"
#include "runtime/table.h"
#include "runtime/types.h"

namespace qw {

using namespace table;

namespace {

// The runtime's own record, beside the table (other modules of the same kind
// never read it).
const char* const kRecordAttr = "quelbo_runtime";
const char* const kRecordName = "swig_runtime_data4.quelbo_runtime";

bool name_less(const swig_type_info* a, const swig_type_info* b)
{
    return std::strcmp(a->name, b->name) < 0;
}

void insert_cast(swig_type_info* entry, swig_cast_info* c)
{
    c->prev = nullptr;
    c->next = entry->cast;
    if (entry->cast)
        entry->cast->prev = c;
    entry->cast = c;
}

} // namespace

// The shared table: the module record of the capsule named kCapsuleName,
// made now around this module's record when no module made it yet. The
// holder module's attribute owns the capsule; the owning handles of the
// runtime's modules hold it too (Shared::table). Once the runtime has a
// table, its modules join that one, whatever became of the holder's
// attribute (removed or replaced: the holder shows the table again).
static swig_module_info* find_table(Runtime& r, bool& created)
{
    created = false;
    Shared& s = *r.shared;
    // Reading its attributes may run Python code that lets go of the module.
    const Held holder(PyImport_AddModule(kHolder));
    if (!holder.get())
        return nullptr;
    PyObject* c = PyObject_GetAttrString(holder.get(), "type_pointer_capsule");
    const bool valid = c && PyCapsule_IsValid(c, kCapsuleName);
    PyErr_Clear();
    if (s.table_record) {
        const Held table(s.table_ended ? nullptr : s.table ? s.table : find_table_again());
        int shown =
            table.get() && !valid ? PyObject_SetAttrString(holder.get(), "type_pointer_capsule", table.get()) : 0;
        Py_XDECREF(c);
        if (!table.get())
            PyErr_SetString(PyExc_ImportError, "the type table of the runtime's modules has ended");
        return table.get() && shown == 0 ? s.table_record : nullptr;
    }
    if (valid) {
        // Another module's: the runtime holds it from now on, and its end is
        // the runtime's too.
        auto* m = static_cast<swig_module_info*>(PyCapsule_GetPointer(c, kCapsuleName));
        s.table = c;
        s.table_record = m;
        s.table_ours = 0;
        PyCapsule_Destructor end = PyCapsule_GetDestructor(c);
        if (end != foreign_capsule_destroy && PyCapsule_SetDestructor(c, foreign_capsule_destroy) == 0)
            s.foreign_end = end;
        Py_DECREF(c);
        PyErr_Clear();
        return m;
    }
    Py_XDECREF(c);
    c = PyCapsule_New(&r.module, kCapsuleName, capsule_destroy);
    if (!c)
        return nullptr;
    if (PyModule_AddObject(holder.get(), "type_pointer_capsule", c) < 0) {
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
    // Held before the hook is registered, which runs Python code: the
    // holder's attribute may go meanwhile.
    PyObject* table = s.table;
    Py_INCREF(table);
    ++s.table_holds;
    s.table_kept = 1;
    PyObject* fn = PyCFunction_NewEx(&g_let_go, nullptr, nullptr);
    PyObject* atexit = fn ? PyImport_ImportModule("atexit") : nullptr;
    PyObject* done = atexit ? PyObject_CallMethod(atexit, "register", "O", fn) : nullptr;
    Py_XDECREF(fn);
    Py_XDECREF(atexit);
    if (!done) {
        s.table_kept = 0;
        let_table_go(table);
        return false;
    }
    Py_DECREF(done);
    return true;
}

} // namespace

PyObject* find_table_again()
{
    Shared& s = *rt().shared;
    if (s.table_ours || !s.table_record || s.table_ended)
        return nullptr;
    // Read without import machinery and without touching a pending error.
    PyObject* modules = PyImport_GetModuleDict();
    // Reading its attribute may run Python code that lets go of the module.
    const Held holder(modules ? PyDict_GetItemString(modules, kHolder) : nullptr);
    if (!holder.get())
        return nullptr;
    PyObject *et, *ev, *tb;
    PyErr_Fetch(&et, &ev, &tb);
    PyObject* c = PyObject_GetAttrString(holder.get(), "type_pointer_capsule");
    // Found again only where the holder's attribute keeps it meanwhile: a
    // capsule made afresh by the lookup would go with this reference.
    if (c && Py_REFCNT(c) > 1 && PyCapsule_IsValid(c, kCapsuleName) &&
        PyCapsule_GetPointer(c, kCapsuleName) == s.table_record)
        s.table = c;
    Py_XDECREF(c);
    PyErr_Clear();
    PyErr_Restore(et, ev, tb);
    return s.table;
}

namespace {

// The start of the loaded object that holds the code or data at `p`, or null.
const void* loaded_object_of(const void* p)
{
    Dl_info info;
    return p && dladdr(p, &info) ? info.dli_fbase : nullptr;
}

} // namespace

bool peer_holds_table(SwigPyObject* h)
{
    // Only the owning handles of the module that made the capsule hold it,
    // and one that dies lets go itself (its deallocation is what asks here).
    Shared& s = *rt().shared;
    if (!h->own || s.table_ours || s.table_ended || !s.foreign_end || Py_REFCNT(h) == 0)
        return false;
    PyObject *et, *ev, *tb;
    PyErr_Fetch(&et, &ev, &tb);
    void* dealloc = PyType_GetSlot(Py_TYPE(reinterpret_cast<PyObject*>(h)), Py_tp_dealloc);
    PyErr_Clear(); // a type made without a specification, before 3.10
    PyErr_Restore(et, ev, tb);
    return dealloc && loaded_object_of(dealloc) == loaded_object_of(reinterpret_cast<const void*>(s.foreign_end));
}

void let_table_go_for_peer()
{
    Shared& s = *rt().shared;
    PyObject* table = s.table ? s.table : find_table_again();
    if (!table)
        return;
    if (s.table_holds == 0)
        s.table = nullptr; // found again for this only
    Py_DECREF(table);
}

// Holds the runtime's record: the one the first module of the runtime in
// the process entered in the library's slot, else this module's own (or, for
// a runtime whose modules predate the slot, the one its holder shows),
// entered now. Whatever became of the record shown beside the table (removed,
// replaced) every module joins the one runtime; the holder shows it again.
static bool hold_record(Runtime& r)
{
    // Reading its attributes may run Python code that lets go of the module.
    const Held holder(PyImport_AddModule(kHolder));
    if (!holder.get())
        return false;
    PyObject* c = PyObject_GetAttrString(holder.get(), kRecordAttr);
    auto* shown = c && PyCapsule_IsValid(c, kRecordName) ? static_cast<Shared*>(PyCapsule_GetPointer(c, kRecordName))
                                                         : nullptr;
    PyErr_Clear();
    void*& slot = quelbo::bindingSlot();
    if (!slot)
        slot = shown && shown->magic == Shared::kMagic ? shown : r.shared;
    auto* s = static_cast<Shared*>(slot);
    if (s->magic != Shared::kMagic) {
        Py_XDECREF(c);
        PyErr_SetString(PyExc_ImportError, "another version of the binding runtime is loaded in this process");
        return false;
    }
    if (shown != s) {
        Py_XDECREF(c);
        c = PyCapsule_New(s, kRecordName, nullptr);
        if (!c || PyObject_SetAttrString(holder.get(), kRecordAttr, c) < 0) {
            Py_XDECREF(c);
            return false;
        }
    }
    Py_XDECREF(r.record);
    r.record = c;
    r.shared = s;
    running_calls = &s->calls;
    waiting_count = &s->deferred_count;
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

} // namespace qw
