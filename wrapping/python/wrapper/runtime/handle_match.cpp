// Recognising handles: the handle behind an object (through its `this`
// chain), the one a type accepts, conversion to native pointers; type names
// and read-only objects.
#include <algorithm>
#include <cstring>

#include "runtime/state.h"

namespace qw {

// ---------------------------------------------------------- recognition

// Built-in values never carry a handle; they are told apart without an
// attribute lookup (a failed lookup raises and clears an AttributeError).
static bool plain_value(PyObject* o)
{
    return o == Py_None || PyLong_CheckExact(o) || PyBool_Check(o) || PyFloat_CheckExact(o) ||
           PyUnicode_CheckExact(o) || PyBytes_CheckExact(o) || PyList_CheckExact(o) || PyTuple_CheckExact(o) ||
           PyDict_CheckExact(o) || Py_TYPE(o) == &PyRange_Type;
}

SwigPyObject* find_handle(PyObject* o)
{
    if (plain_value(o))
        return nullptr;
    if (is_handle(o))
        return reinterpret_cast<SwigPyObject*>(o);
    // Walk the `this` attributes. The result is borrowed, so it must be kept
    // alive by something else than this walk: an attribute computed afresh on
    // each lookup (a property) does not count as a handle. A chain could also
    // loop through user objects; the walk is bounded.
    Py_INCREF(o);
    CallGuard running; // `this` may be computed by Python code
    for (int depth = 0; depth < 64; ++depth) {
        PyObject* t = PyObject_GetAttr(o, rt().this_name);
        Py_DECREF(o);
        if (!t) {
            PyErr_Clear();
            return nullptr;
        }
        if (is_handle(t)) {
            bool held = Py_REFCNT(t) > 1;
            Py_DECREF(t);
            return held ? reinterpret_cast<SwigPyObject*>(t) : nullptr;
        }
        if (plain_value(t)) {
            Py_DECREF(t);
            return nullptr;
        }
        o = t;
    }
    Py_DECREF(o);
    return nullptr;
}

// ------------------------------------------------------------ conversion

namespace {

// The cast record of `expected` that accepts the handle's type, moved to the
// front of its list; null when none.
swig_cast_info* find_cast(swig_type_info* expected, swig_type_info* have)
{
    if (!have)
        return nullptr;
    for (swig_cast_info* c = expected->cast; c; c = c->next) {
        if (c->type == have || std::strcmp(c->type->name, have->name) == 0) {
            if (c != expected->cast) {
                c->prev->next = c->next;
                if (c->next)
                    c->next->prev = c->prev;
                c->next = expected->cast;
                c->prev = nullptr;
                expected->cast->prev = c;
                expected->cast = c;
            }
            return c;
        }
    }
    return nullptr;
}

} // namespace

SwigPyObject* match_handle(PyObject* obj, swig_type_info* ty, swig_cast_info** cast)
{
    *cast = nullptr;
    for (SwigPyObject* cur = find_handle(obj); cur; cur = reinterpret_cast<SwigPyObject*>(cur->next)) {
        if (!ty || cur->ty == ty)
            return cur;
        if ((*cast = find_cast(ty, cur->ty)))
            return cur;
    }
    return nullptr;
}

bool can_convert(PyObject* obj, swig_type_info* ty, bool allow_none)
{
    if (obj == Py_None)
        return allow_none;
    swig_cast_info* cast;
    return match_handle(obj, ty, &cast) != nullptr;
}

int convert_ptr(PyObject* obj, void** ptr, swig_type_info* ty, int flags, int* own)
{
    if (obj == Py_None) {
        *ptr = nullptr;
        return (flags & CV_NO_NULL) ? ERR_NULL : OK;
    }
    swig_cast_info* cast;
    SwigPyObject* hit = match_handle(obj, ty, &cast);
    if (!hit)
        return ERR_TYPE_ARG;
    const bool owns = handle_owns(hit);
    if ((flags & CV_RELEASE) == CV_RELEASE && !owns)
        return ERR_RELEASE;
    int newmem = 0;
    void* p = handle_target(hit);
    if (cast && cast->converter && p)
        p = cast->converter(p, &newmem);
    if (own)
        *own = (newmem == NEWMEM ? NEWMEM : 0) | (owns ? 1 : 0);
    if (flags & CV_DISOWN)
        hit->own = 0;
    if (flags & CV_CLEAR)
        hit->ptr = nullptr;
    *ptr = p;
    return OK;
}

const char* pretty_name(swig_type_info* ty)
{
    if (!ty)
        return "unknown";
    if (ty->str) {
        const char* last = ty->str;
        for (const char* s = ty->str; *s; ++s)
            if (*s == '|')
                last = s + 1;
        return last;
    }
    return ty->name ? ty->name : "unknown";
}

void mark_readonly(const void* p)
{
    rt().readonly.push_back(p);
}

bool is_readonly(const void* p)
{
    auto& v = rt().readonly;
    return p && std::find(v.begin(), v.end(), p) != v.end();
}

} // namespace qw
