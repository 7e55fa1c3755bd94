// Calling conventions: unpacking, failure messages, overload rows, operator
// rules, library-error translation and texts.
#include "quelbo/error.h"
#include "runtime/keepalive.h"
#include "runtime/state.h"
#include "runtime/wrap.h"

namespace qw {

bool unpack_rest(const char* name, PyObject* args, Py_ssize_t min, Py_ssize_t max, PyObject** objs,
                 Py_ssize_t* count)
{
    if (count)
        *count = 0;
    if (!args) {
        if (min == 0 && max == 0)
            return true;
        PyErr_Format(PyExc_TypeError, "%s expected %s%d arguments, got none", name, min == max ? "" : "at least ",
                     int(min));
        return false;
    }
    if (!PyTuple_CheckExact(args) && !PyTuple_Check(args)) {
        if (min <= 1 && max >= 1) {
            objs[0] = args;
            for (Py_ssize_t i = 1; i < max; ++i)
                objs[i] = nullptr;
            if (count)
                *count = 1;
            return true;
        }
        PyErr_SetString(PyExc_SystemError, "UnpackTuple() argument list is not a tuple");
        return false;
    }
    Py_ssize_t n = PyTuple_Size(args);
    if (n < min) {
        PyErr_Format(PyExc_TypeError, "%s expected %s%d arguments, got %d", name, min == max ? "" : "at least ",
                     int(min), int(n));
        return false;
    }
    if (n > max) {
        PyErr_Format(PyExc_TypeError, "%s expected %s%d arguments, got %d", name, min == max ? "" : "at most ",
                     int(max), int(n));
        return false;
    }
    return unpack_items(args, n, max, objs, count);
}

PyObject* exception_for(int code)
{
    switch (code) {
    case ERR_TYPE_ARG:
    case ERR_TYPE:
        return PyExc_TypeError;
    case ERR_OVERFLOW:
        return PyExc_OverflowError;
    case ERR_VALUE:
        return PyExc_ValueError;
    case ERR_MEMORY:
        return PyExc_MemoryError;
    default:
        return PyExc_RuntimeError;
    }
}

void fail_arg(int code, const ArgId& a, const char* detail)
{
    PyErr_Format(exception_for(code), "in method '%s', argument %d of type '%s'%s", a.fn, a.num, a.ty, detail);
}

void fail_null(const ArgId& a)
{
    PyErr_Format(PyExc_ValueError, "invalid null reference in method '%s', argument %d of type '%s'", a.fn, a.num,
                 a.ty);
}

void fail_release(const ArgId& a)
{
    PyErr_Format(PyExc_RuntimeError,
                 "in method '%s', cannot release ownership as memory is not owned for argument %d of type '%s'", a.fn,
                 a.num, a.ty);
}

namespace {

std::string overload_message(const char* fn, const char* const* protos, size_t n)
{
    std::string msg = "Wrong number or type of arguments for overloaded function '";
    msg += fn;
    msg += "'.\n  Possible C/C++ prototypes are:\n";
    for (size_t i = 0; i < n; ++i) {
        msg += "    ";
        msg += protos[i];
        msg += "\n";
    }
    return msg;
}

// Raises the overload TypeError, merged into a pending TypeError.
PyObject* raise_overload(const char* msg)
{
    if (PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);
        PyErr_NormalizeException(&type, &value, &tb);
        PyObject* merged = value ? PyUnicode_FromFormat("%S\nAdditional information:\n%s", value, msg) : nullptr;
        if (merged) {
            Py_XDECREF(value);
            Py_XDECREF(tb);
            PyErr_SetObject(type, merged);
            Py_DECREF(type);
            Py_DECREF(merged);
        } else {
            PyErr_Clear();
            PyErr_Restore(type, value, tb);
        }
        return nullptr;
    }
    PyErr_SetString(PyExc_TypeError, msg);
    return nullptr;
}

} // namespace

Overloads::Overloads(const char* fn, std::initializer_list<Overload> rows) : fn_(fn), rows_(rows)
{
    std::vector<const char*> protos(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        const Overload& r = rows_[i];
        protos[r.decl < 0 ? i : size_t(r.decl)] = r.proto;
        if (r.max > max_)
            max_ = r.max;
    }
    message_ = overload_message(fn, protos.data(), protos.size());
}

[[gnu::hot]] PyObject* Overloads::operator()(PyObject* args) const
{
    // Arguments beyond the few on the stack are held in memory of their own.
    PyObject* few[16];
    std::vector<PyObject*> many;
    PyObject** a = few;
    if (max_ > Py_ssize_t(std::size(few))) {
        try {
            many.resize(size_t(max_));
        } catch (...) {
            return PyErr_NoMemory();
        }
        a = many.data();
    }
    Py_ssize_t n = 0;
    if (unpack(fn_, args, 0, max_, a, &n))
        return (*this)(a, n);
    return raise_overload(message_.c_str());
}

[[gnu::hot]] PyObject* Overloads::operator()(Args a, Py_ssize_t n) const
{
    Recognised once; // rows check and convert the same arguments
    for (const Overload& r : rows_) {
        if (n < r.min || n > r.max || (r.check && !r.check(a, n)))
            continue;
        return r.call(a, n);
    }
    return raise_overload(message_.c_str());
}

PyObject* not_implemented(PyObject* result)
{
    if (result)
        return result;
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_TypeError))
        return nullptr;
    PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
}

PyObject* registered_error_class()
{
    swig_type_info* ty = rt().error_type;
    auto* data = ty ? static_cast<SwigPyClientData*>(ty->clientdata) : nullptr;
    // Another module may have registered anything: only an exception class
    // can be raised.
    PyObject* klass = data && data->klass && PyExceptionClass_Check(data->klass) ? data->klass : nullptr;
    Py_XINCREF(klass);
    return klass;
}

void raise_library_error(std::exception const& e)
{
    auto* err = dynamic_cast<quelbo::Error const*>(&e);
    quelbo::Error* copy = nullptr;
    try {
        copy = err ? new quelbo::Error(*err) : new quelbo::Error(e.what());
    } catch (...) {
        PyErr_NoMemory();
        return;
    }
    // The class is held while its instance is made: its __new__ may register
    // another class for Error and let go of this one.
    PyObject* klass = registered_error_class();
    PyObject* value = new_pointer_obj(copy, rt().error_type, klass ? RES_OWN : RES_OWN | RES_NOPROXY);
    // Without a value the handle (if any) has released the copy already.
    if (value)
        PyErr_SetObject(klass ? klass : PyExc_RuntimeError, value);
    Py_XDECREF(value);
    Py_XDECREF(klass);
}

namespace {

bool too_long_for_str(size_t n)
{
    return n > size_t(PY_SSIZE_T_MAX) || n > 2147483647u;
}

// A text too long for a str: a `char *` handle that keeps the text alive.
PyObject* long_text(std::string&& text)
{
    auto kept = std::make_shared<std::string>(std::move(text));
    swig_type_info* text_type = char_type();
    if (!text_type)
        Py_RETURN_NONE;
    char* data = const_cast<char*>(kept->c_str());
    return keep_alive_pointer(data, text_type, std::move(kept));
}

} // namespace

PyObject* raise_native_exception() noexcept
{
    try {
        throw;
    } catch (std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (std::length_error&) {
        return PyErr_NoMemory();
    } catch (quelbo::Interrupted& e) {
        // Ended by a signal's handler that raised: its exception is the call's.
        if (!PyErr_Occurred())
            raise_library_error(e);
    } catch (std::exception& e) {
        raise_library_error(e);
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unknown native exception");
    }
    return nullptr;
}

PyObject* from_string(const char* s, size_t n)
{
    if (!s)
        Py_RETURN_NONE;
    if (too_long_for_str(n))
        return long_text(std::string(s, n));
    return PyUnicode_DecodeUTF8(s, Py_ssize_t(n), "surrogateescape");
}

PyObject* from_string(std::string&& s)
{
    if (too_long_for_str(s.size()))
        return long_text(std::move(s));
    return PyUnicode_DecodeUTF8(s.data(), Py_ssize_t(s.size()), "surrogateescape");
}

const char* intern(const char* s)
{
    try {
        return rt().texts.emplace(s).first->c_str();
    } catch (...) {
        return "";
    }
}

const char* intern(const std::string& s)
{
    return intern(s.c_str());
}

} // namespace qw
