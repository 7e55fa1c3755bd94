// Recognising handles: the handle behind an object (through its `this`
// chain), the one a type accepts, conversion to native pointers; type names
// and read-only objects.
#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

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

namespace {

bool recent_python_class(const Runtime& r, PyTypeObject* t)
{
    for (PyTypeObject* c : r.python_classes)
        if (c == t)
            return true;
    return false;
}

SwigPyObject* walk_this(Runtime& r, PyObject* o);

void remember_python_class(Runtime& r, PyTypeObject* t)
{
    PyTypeObject*& slot = r.python_classes[r.next_python_class++ % std::size(r.python_classes)];
    PyTypeObject* old = slot;
    Py_INCREF(t);
    slot = t;
    Py_XDECREF(old);
}

} // namespace

__thread Recognised* running_recognition = nullptr;

Recognised::Recognised() : outer_(running_recognition)
{
    running_recognition = this;
}

Recognised::~Recognised()
{
    running_recognition = outer_;
    for (int i = 0; i < count_; ++i) {
        Py_DECREF(entries_[i].handle);
        Py_DECREF(entries_[i].obj);
    }
}

SwigPyObject* Recognised::find(PyObject* o) const
{
    for (int i = 0; i < count_; ++i)
        if (entries_[i].obj == o)
            return entries_[i].handle;
    return nullptr;
}

void Recognised::keep(PyObject* o, SwigPyObject* h)
{
    if (count_ == int(std::size(entries_)))
        return;
    // Both held: the object's address names no other object meanwhile.
    Py_INCREF(o);
    Py_INCREF(h);
    entries_[count_++] = {o, h};
}

namespace {

// find_handle, inlined where a conversion looks for a handle.
[[gnu::always_inline]] inline SwigPyObject* handle_of(Runtime& r, PyObject* o)
{
    // This module's own handles first, then instances of the classes seen
    // lately: most arguments are one or the other.
    if (Py_TYPE(o) == r.handle_type)
        return reinterpret_cast<SwigPyObject*>(o);
    Recognised* known = running_recognition;
    if (known)
        if (SwigPyObject* h = known->find(o))
            return h;
    // The walk may run Python code, and other threads with it; the thread's
    // recognition is the same when it returns.
    SwigPyObject* h = walk_this(r, o);
    if (h && h != reinterpret_cast<SwigPyObject*>(o) && known)
        known->keep(o, h);
    return h;
}

} // namespace

SwigPyObject* find_handle(PyObject* o)
{
    return handle_of(rt(), o);
}

namespace {

[[gnu::hot]] SwigPyObject* walk_this(Runtime& r, PyObject* o)
{
    PyTypeObject* type = Py_TYPE(o);
    bool remember = false;
    if (!recent_python_class(r, type)) {
        if (plain_value(o))
            return nullptr;
        if (is_handle(o))
            return reinterpret_cast<SwigPyObject*>(o);
        if (defined_in_python(type))
            remember = true;
    }
    // Walk the `this` attributes. The result is borrowed, so it must be kept
    // alive by something else than this walk: an attribute computed afresh on
    // each lookup (a property) does not count as a handle. A chain could also
    // loop through user objects; the walk is bounded.
    Py_INCREF(o);
    // `this` may be computed by Python code: a call guards the walk, when
    // none is running already.
    std::optional<CallGuard> running;
    if (r.shared->calls == 0)
        running.emplace();
    if (remember)
        remember_python_class(r, type); // may let go of another class
    // Held: the Python code the walk runs may end the table, which lets go of it.
    const Held name(this_name());
    for (int depth = 0; depth < 64; ++depth) {
        PyObject* t = name.get() ? PyObject_GetAttr(o, name.get()) : nullptr;
        Py_DECREF(o);
        if (!t) {
            PyErr_Clear();
            return nullptr;
        }
        if (Py_TYPE(t) == r.handle_type || is_handle(t)) {
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

} // namespace

// ------------------------------------------------------------ conversion

namespace {

// What a handle points to and whether it owns it, without a call for this
// module's handles that handed nothing to an heir (nearly all of them).
inline bool plain_own_handle(SwigPyObject* h)
{
    return Py_TYPE(reinterpret_cast<PyObject*>(h)) == rt().handle_type &&
           !reinterpret_cast<Handle*>(h)->heir;
}
inline void* target_of(SwigPyObject* h)
{
    return plain_own_handle(h) ? h->ptr : handle_target(h);
}
inline bool owns(SwigPyObject* h)
{
    return plain_own_handle(h) ? h->own != 0 : handle_owns(h);
}

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

namespace {

// match_handle, inlined into the conversion.
[[gnu::always_inline]] inline SwigPyObject* match_in(Runtime& r, PyObject* obj, swig_type_info* ty,
                                                     swig_cast_info** cast)
{
    *cast = nullptr;
    for (SwigPyObject* cur = handle_of(r, obj); cur; cur = reinterpret_cast<SwigPyObject*>(cur->next)) {
        if (!ty || cur->ty == ty)
            return cur;
        if ((*cast = find_cast(ty, cur->ty)))
            return cur;
    }
    return nullptr;
}

} // namespace

[[gnu::hot]] SwigPyObject* match_handle(PyObject* obj, swig_type_info* ty, swig_cast_info** cast)
{
    return match_in(rt(), obj, ty, cast);
}

bool can_convert(PyObject* obj, swig_type_info* ty, bool allow_none)
{
    if (obj == Py_None)
        return allow_none;
    swig_cast_info* cast;
    return match_handle(obj, ty, &cast) != nullptr;
}

[[gnu::hot]] int convert_ptr(PyObject* obj, void** ptr, swig_type_info* ty, int flags, int* own)
{
    if (obj == Py_None) {
        *ptr = nullptr;
        return (flags & CV_NO_NULL) ? ERR_NULL : OK;
    }
    swig_cast_info* cast;
    SwigPyObject* hit = match_in(rt(), obj, ty, &cast);
    if (!hit)
        return ERR_TYPE_ARG;
    const bool owning = owns(hit);
    if ((flags & CV_RELEASE) == CV_RELEASE && !owning)
        return ERR_RELEASE;
    int newmem = 0;
    void* p = target_of(hit);
    if (cast && cast->converter && p)
        p = cast->converter(p, &newmem);
    if (own)
        *own = (newmem == NEWMEM ? NEWMEM : 0) | (owning ? 1 : 0) | (owning && plain_own_handle(hit) ? HELD : 0);
    *ptr = p;
    const bool peer_held = (flags & CV_DISOWN) && owning && !own_handle(hit) && peer_holds_table(hit);
    if (flags & CV_DISOWN)
        hit->own = 0;
    if (flags & CV_CLEAR)
        hit->ptr = nullptr;
    if (peer_held)
        let_table_go_for_peer();
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
    Runtime& r = rt();
    r.readonly.push_back(p);
    if (!r.readonly_low || std::less<const void*>()(p, r.readonly_low))
        r.readonly_low = p;
    if (!r.readonly_high || std::less<const void*>()(r.readonly_high, p))
        r.readonly_high = p;
}

[[gnu::hot]] bool is_readonly(const void* p)
{
    const Runtime& r = rt();
    std::less<const void*> below;
    if (!p || below(p, r.readonly_low) || below(r.readonly_high, p))
        return false;
    return std::find(r.readonly.begin(), r.readonly.end(), p) != r.readonly.end();
}

} // namespace qw
