// bufferArgument and the keeper of lent Python memory.
#include "runtime/buffer.h"

#include <new>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace qw {

namespace {

// Whether the items of a memoryview are Python object references (format
// "O", such as a numpy array of objects): raw bytes written there would
// corrupt the interpreter, so such memory is never lent out for writing.
bool view_holds_references(PyObject* view)
{
    static PyObject* const name = PyUnicode_InternFromString("format"); // kept for the process
    PyObject* format = name ? PyObject_GetAttr(view, name) : nullptr;
    bool const refs = format && PyUnicode_Check(format) &&
                      PyUnicode_FindChar(format, 'O', 0, PyUnicode_GetLength(format), 1) >= 0;
    Py_XDECREF(format);
    PyErr_Clear();
    return refs;
}

bool holds_references(PyObject* o)
{
    PyObject* view = PyMemoryView_FromObject(o);
    if (!view) {
        PyErr_Clear();
        return false; // the buffer request below reports it
    }
    bool const refs = view_holds_references(view);
    Py_DECREF(view);
    return refs;
}

// A simple writable request: one C-contiguous block, released at once.
bool write_request(PyObject* o, Buffer& out)
{
    void* p = nullptr;
    Py_ssize_t n = 0;
    if (PyObject_AsWriteBuffer(o, &p, &n) < 0)
        return false;
    out.data = static_cast<uint8_t*>(p);
    out.size = size_t(n);
    return true;
}

// The old buffer calls: a simple (C-contiguous) view, released before return.
bool request(PyObject* o, BufferForm form, Buffer& out)
{
    if (!o)
        return false;
    if (form == BufferForm::source) {
        const void* p = nullptr;
        Py_ssize_t n = 0;
        if (PyObject_AsReadBuffer(o, &p, &n) < 0)
            return false;
        out.data = static_cast<uint8_t*>(const_cast<void*>(p));
        out.size = size_t(n);
        return true;
    }
    if (holds_references(o)) {
        PyErr_SetString(PyExc_TypeError, "a buffer of object references is not raw memory");
        return false;
    }
    return write_request(o, out);
}

// Releases a held export with the interpreter lock, whichever thread drops it.
void release_export(void* view)
{
    if (!Py_IsInitialized())
        return; // the interpreter is gone: nothing left to release
    PyGILState_STATE st = PyGILState_Ensure();
    Py_DECREF(static_cast<PyObject*>(view));
    PyGILState_Release(st);
}

} // namespace

bool buffer_arg(PyObject* o, const ArgId& a, BufferForm form, Buffer& out)
{
    if (request(o, form, out))
        return true;
    PyErr_Clear();
    fail_arg(ERR_TYPE, a);
    return false;
}

bool is_buffer(PyObject* o, BufferForm form)
{
    Buffer scratch;
    if (request(o, form, scratch))
        return true;
    PyErr_Clear();
    return false;
}

bool buffer_keep(PyObject* o, const ArgId& a, quelbo::BorrowedMemory& out)
{
    // A memoryview holds one export of the object's buffer for as long as it
    // lives, which is what keeps a bytearray from resizing; its format is the
    // object's, and the simple writable request is made of it: it holds what
    // the object gives such a request (a read-only or non-contiguous buffer
    // is refused the same way).
    PyObject* view = PyMemoryView_FromObject(o);
    Buffer held;
    if (!view || view_holds_references(view) || !write_request(view, held)) {
        Py_XDECREF(view);
        PyErr_Clear();
        fail_arg(ERR_TYPE, a);
        return false;
    }
    try {
        out.keeper = std::shared_ptr<void>(view, &release_export);
    } catch (std::bad_alloc&) {
        // the deleter has already released the view
        PyErr_NoMemory();
        return false;
    }
    out.data = held.data;
    out.size = held.size;
    return true;
}

} // namespace qw
