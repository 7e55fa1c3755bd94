// Object-level helpers of the calling conventions.
#include "runtime/wrap.h"

namespace qw {

namespace {
int g_user_code = 0;
std::vector<std::pair<void*, void (*)(void*)>> g_deferred;
} // namespace

UserCode::UserCode()
{
    ++g_user_code;
}

UserCode::~UserCode()
{
    --g_user_code;
}

void destroy_or_defer(void* p, void (*destroy)(void*))
{
    if (g_user_code > 0) {
        try {
            g_deferred.emplace_back(p, destroy);
            return;
        } catch (...) {
            // No room to remember it: destroying now is the lesser evil.
        }
    }
    destroy(p);
}

void flush_deferred()
{
    if (g_user_code > 0)
        return;
    while (!g_deferred.empty()) {
        auto d = g_deferred.back();
        g_deferred.pop_back();
        d.second(d.first);
    }
}

// The entry of the library's error class, declared by each module.
swig_type_info* error_type()
{
    return Type<quelbo::Error>::info;
}

std::vector<Family>& families()
{
    static std::vector<Family> v;
    return v;
}

int as_string(PyObject* o, std::string& out)
{
    if (o == Py_None)
        return ERR_NULL;
    if (PyUnicode_Check(o)) {
        PyObject* bytes = PyUnicode_AsUTF8String(o);
        if (!bytes) {
            PyErr_Clear();
            return ERR_TYPE;
        }
        char* data = nullptr;
        Py_ssize_t n = 0;
        PyBytes_AsStringAndSize(bytes, &data, &n);
        try {
            out.assign(data, size_t(n));
        } catch (...) {
            Py_DECREF(bytes);
            return ERR_MEMORY;
        }
        Py_DECREF(bytes);
        return OK;
    }
    swig_type_info* char_type = type_query("_p_char");
    void* p = nullptr;
    if (char_type && find_handle(o) && convert_ptr(o, &p, char_type, 0) == OK) {
        if (!p)
            return ERR_NULL;
        out.assign(static_cast<const char*>(p));
        return OK;
    }
    return ERR_TYPE;
}

bool disown_for_delete(PyObject* o, swig_type_info* ty, const A& a, void*& out)
{
    out = nullptr;
    if (o == Py_None)
        return true;
    swig_cast_info* cast;
    SwigPyObject* h = match_handle(o, ty, &cast);
    // A handle reached through a converting cast (a derived shared pointer)
    // does not hold an object of this type to destroy.
    if (!h || (cast && cast->converter)) {
        fail_arg(ERR_TYPE_ARG, a);
        return false;
    }
    if (h->own && !is_readonly(h->ptr))
        out = h->ptr;
    h->own = 0;
    h->ptr = nullptr;
    return true;
}

PyObject* inplace_result(PyObject* left, void* p, swig_type_info* ty)
{
    // Built without ownership first, so a failure here destroys nothing and
    // the left handle keeps its object.
    PyObject* r = new_pointer_obj(p, ty, 0);
    if (!r)
        return nullptr;
    SwigPyObject* from = nullptr;
    for (SwigPyObject* cur = find_handle(left); cur; cur = reinterpret_cast<SwigPyObject*>(cur->next))
        if (cur->ptr == p) {
            from = cur;
            break;
        }
    if (from) {
        find_handle(r)->own = from->own;
        from->own = 0;
    }
    return r;
}

} // namespace qw
