// The test peer's table: its five entries and their casts, joined to the
// shared table, or the capsule made around them with the destructor such a
// module has.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "peer.h"

namespace peer {

namespace {

// Sorted by mangled name; each with its own cast list, itself first.
TypeInfo t_error = {"_p_quelbo__Error", "quelbo::Error *", nullptr, nullptr, nullptr, 0};
TypeInfo t_image = {"_p_quelbo__ImageView", "quelbo::ImageView *", nullptr, nullptr, nullptr, 0};
TypeInfo t_version = {"_p_quelbo__VersionInfo", "quelbo::VersionInfo *", nullptr, nullptr, nullptr, 0};
TypeInfo t_view = {"_p_quelbo__View", "quelbo::View *", nullptr, nullptr, nullptr, 0};
TypeInfo t_stream = {"_p_std__ostream", "std::ostream *", nullptr, nullptr, nullptr, 0};
TypeInfo* initial[] = {&t_error, &t_image, &t_version, &t_view, &t_stream};
constexpr size_t kTypes = sizeof(initial) / sizeof(initial[0]);
CastInfo c_error[] = {{&t_error, nullptr, nullptr, nullptr}, {}};
CastInfo c_image[] = {{&t_image, nullptr, nullptr, nullptr}, {}};
CastInfo c_version[] = {{&t_version, nullptr, nullptr, nullptr}, {}};
CastInfo c_view[] = {{&t_view, nullptr, nullptr, nullptr}, {&t_image, nullptr, nullptr, nullptr}, {}};
CastInfo c_stream[] = {{&t_stream, nullptr, nullptr, nullptr}, {}};
CastInfo* casts[] = {c_error, c_image, c_version, c_view, c_stream};
TypeInfo* in_use[kTypes + 1];

} // namespace

ModuleInfo module_info = {in_use, kTypes, nullptr, initial, casts, nullptr};

// The entries in use after joining (own or adopted).
TypeInfo* error_type;
TypeInfo* version_type;
TypeInfo* stream_type;
PyObject* capsule = nullptr;

namespace {

int interpreters = 0;

TypeInfo* find_in(ModuleInfo* m, const char* name)
{
    size_t lo = 0, hi = m->size;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = std::strcmp(name, m->types[mid]->name);
        if (c == 0)
            return m->types[mid];
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

TypeInfo* find_elsewhere(const char* name)
{
    for (ModuleInfo* m = module_info.next; m != &module_info; m = m->next)
        if (TypeInfo* t = find_in(m, name))
            return t;
    return nullptr;
}

} // namespace

TypeInfo* find_anywhere(const char* name)
{
    TypeInfo* t = find_in(&module_info, name);
    return t ? t : find_elsewhere(name);
}

namespace {

void push_cast(TypeInfo* t, CastInfo* c)
{
    c->prev = nullptr;
    c->next = t->cast;
    if (t->cast)
        t->cast->prev = c;
    t->cast = c;
}

void free_record(ClientData* d)
{
    Py_XDECREF(d->klass);
    Py_XDECREF(d->newraw);
    Py_XDECREF(d->newargs);
    Py_XDECREF(d->destroy);
    std::free(d);
}

// The capsule's destructor: the records of this module's entries go, with
// free, whichever module registered them.
void destroy_table(PyObject* c)
{
    auto* m = static_cast<ModuleInfo*>(PyCapsule_GetPointer(c, kCapsuleName));
    capsule = nullptr;
    if (!m || --interpreters != 0)
        return;
    int freed = 0;
    for (size_t i = 0; i < m->size; ++i) {
        TypeInfo* t = m->types[i];
        if (t->owndata && t->clientdata) {
            free_record(static_cast<ClientData*>(t->clientdata));
            ++freed;
        }
        t->clientdata = nullptr;
        t->owndata = 0;
    }
    std::printf("peer: table destroyed, %d records freed\n", freed);
    std::fflush(stdout);
}

} // namespace

bool join()
{
    bool first = module_info.next == nullptr;
    if (first)
        module_info.next = &module_info;
    auto* shared = static_cast<ModuleInfo*>(PyCapsule_Import(kCapsuleName, 0));
    if (!shared) {
        PyErr_Clear();
        PyObject* holder = PyImport_AddModule("swig_runtime_data4");
        PyObject* c = holder ? PyCapsule_New(&module_info, kCapsuleName, destroy_table) : nullptr;
        if (!c || PyModule_AddObject(holder, "type_pointer_capsule", c) < 0) {
            Py_XDECREF(c);
            return false;
        }
        capsule = c;
        ++interpreters;
    } else {
        for (ModuleInfo* m = shared;; m = m->next) {
            if (m == &module_info)
                return true;
            if (m->next == shared)
                break;
        }
        module_info.next = shared->next;
        shared->next = &module_info;
    }
    if (!first)
        return true;
    for (size_t i = 0; i < kTypes; ++i) {
        TypeInfo* found = find_elsewhere(initial[i]->name);
        TypeInfo* entry = found ? found : initial[i];
        for (CastInfo* c = casts[i]; c->type; ++c) {
            TypeInfo* other = find_elsewhere(c->type->name);
            bool known = false;
            if (found)
                for (CastInfo* k = found->cast; k; k = k->next)
                    known = known || std::strcmp(k->type->name, c->type->name) == 0;
            if (known)
                continue;
            if (!found && other)
                c->type = other;
            push_cast(entry, c);
        }
        in_use[i] = entry;
    }
    in_use[kTypes] = nullptr;
    error_type = in_use[0];
    version_type = in_use[2];
    stream_type = in_use[4];
    return true;
}

void register_record(TypeInfo* t, PyObject* klass)
{
    auto* d = static_cast<ClientData*>(std::calloc(1, sizeof(ClientData)));
    Py_INCREF(klass);
    Py_INCREF(klass);
    d->klass = klass;
    d->newargs = klass;
    if (t->owndata && t->clientdata)
        free_record(static_cast<ClientData*>(t->clientdata));
    t->clientdata = d;
    t->owndata = 1;
}

} // namespace peer
