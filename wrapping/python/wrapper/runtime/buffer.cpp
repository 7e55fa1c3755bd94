// bufferArgument and the keeper of lent Python memory.
#include "runtime/buffer.h"

#include <cstring>
#include <new>

#include "runtime/numpy_api.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace qw {

namespace {

// The buffer protocol's request record and calls, as the stable ABI has
// them (unchanged since Python 3.3, in the limited API from 3.11 on): the
// limited API of 3.8 that the module is built on hides them, and holding an
// export without a memoryview object around it needs them.
struct Export
{
    void* buf = nullptr;
    PyObject* obj = nullptr; // the exporter's reference, held until release
    Py_ssize_t len = 0;
    Py_ssize_t itemsize = 0;
    int readonly = 0;
    int ndim = 0;
    char* format = nullptr;
    Py_ssize_t* shape = nullptr;
    Py_ssize_t* strides = nullptr;
    Py_ssize_t* suboffsets = nullptr;
    void* internal = nullptr;
};

// Every field the exporter has (strides, shape, format, suboffsets), read-only
// allowed: what a memoryview asks for.
constexpr int kFormat = 0x0004;
constexpr int kFullRequest = 0x0100 | 0x0010 | 0x0008 | kFormat;

} // namespace

} // namespace qw

extern "C" {
PyAPI_FUNC(int) PyObject_GetBuffer(PyObject* obj, qw::Export* view, int flags);
PyAPI_FUNC(void) PyBuffer_Release(qw::Export* view);
PyAPI_FUNC(int) PyBuffer_IsContiguous(const qw::Export* view, char order);
}

namespace qw {

namespace {

// Whether the items are Python object references (format "O", such as a
// numpy array of objects): raw bytes written there would corrupt the
// interpreter, so such memory is never lent out for writing.
bool holds_references(const Export& e)
{
    return e.format && std::strchr(e.format, 'O');
}

// Whether the object's format must be read to know: a numpy array of numbers
// has a type code for format, never of references, so numpy is spared
// spelling it out.
bool may_hold_references(PyObject* o)
{
    return !rt().numpy_api || !np::is_array(o) || !np::holds_numbers(np::fields(o)->descr->type_num);
}

// Whether the object offers a buffer of references; a failed request is left
// to the request that follows.
bool references(PyObject* o)
{
    Export e;
    if (!may_hold_references(o))
        return false;
    if (PyObject_GetBuffer(o, &e, kFullRequest) < 0) {
        PyErr_Clear();
        return false;
    }
    const bool refs = holds_references(e);
    PyBuffer_Release(&e);
    return refs;
}

// One C-contiguous block, as a memoryview judges it: no dimension or no
// strides, one dimension of one item or of adjacent items, else the strides
// of a C-ordered array; indirect (suboffset) memory and more dimensions than
// a memoryview takes never are.
bool c_contiguous(const Export& e)
{
    if (e.suboffsets || e.ndim < 0 || e.ndim > 64)
        return false;
    if (e.ndim == 0 || !e.strides)
        return true;
    if (!e.shape)
        return false;
    if (e.ndim == 1)
        return e.shape[0] == 1 || e.strides[0] == e.itemsize;
    return PyBuffer_IsContiguous(&e, 'C') != 0;
}

// A full request of the object's buffer that it would lend for writing: one
// writable, C-contiguous block of raw memory. On success the export is held
// (release it); on failure nothing is held, an exception may be pending.
bool writable_export(PyObject* o, Export& e)
{
    if (!o)
        return false;
    // A memoryview is asked through a view of its own over the same memory:
    // its owner may still release it, the memory stays exported.
    PyObject* exporter = PyMemoryView_Check(o) ? PyMemoryView_FromObject(o) : (Py_INCREF(o), o);
    if (!exporter)
        return false;
    const int got = PyObject_GetBuffer(exporter, &e, may_hold_references(o) ? kFullRequest : kFullRequest & ~kFormat);
    Py_DECREF(exporter); // the export holds its own reference
    if (got < 0)
        return false;
    if (!e.readonly && !holds_references(e) && c_contiguous(e))
        return true;
    PyBuffer_Release(&e);
    return false;
}

// The old buffer calls: a simple (C-contiguous) view, released before return.
// The built-in byte buffers give their memory at once: always one block of
// raw bytes (a bytes object only for reading).
bool request(PyObject* o, BufferForm form, Buffer& out)
{
    if (!o)
        return false;
    if (byte_block(o, form, out))
        return true;
    if (form == BufferForm::source) {
        const void* p = nullptr;
        Py_ssize_t n = 0;
        if (PyObject_AsReadBuffer(o, &p, &n) < 0)
            return false;
        out.data = static_cast<uint8_t*>(const_cast<void*>(p));
        out.size = size_t(n);
        return true;
    }
    if (references(o)) {
        PyErr_SetString(PyExc_TypeError, "a buffer of object references is not raw memory");
        return false;
    }
    void* p = nullptr;
    Py_ssize_t n = 0;
    if (PyObject_AsWriteBuffer(o, &p, &n) < 0)
        return false;
    out.data = static_cast<uint8_t*>(p);
    out.size = size_t(n);
    return true;
}

// A held export, released through release_kept by whichever thread drops
// the last keeper.
struct HeldExport
{
    Export view;

    static void release(void* p)
    {
        auto* held = static_cast<HeldExport*>(p);
        if (held->view.obj && Py_IsInitialized())
            PyBuffer_Release(&held->view);
        delete held;
    }
};

} // namespace

bool other_buffer_arg(PyObject* o, const ArgId& a, BufferForm form, Buffer& out)
{
    if (request(o, form, out))
        return true;
    PyErr_Clear();
    fail_arg(ERR_TYPE, a);
    return false;
}

void BlockInUse::unpin()
{
    auto* pin = static_cast<Export*>(m_pin);
    PyBuffer_Release(pin);
    delete pin;
}

void pin_blocks_in_use()
{
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    for (BlockInUse* b = BlockInUse::s_first; b; b = b->m_next) {
        if (b->m_pin)
            continue;
        auto* pin = new (std::nothrow) Export;
        if (pin && PyObject_GetBuffer(b->m_owner, pin, 0) == 0)
            b->m_pin = pin;
        else
            delete pin; // nothing to hold it by: as before, unpinned
    }
    PyErr_Clear();
    PyErr_Restore(type, value, trace);
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
    // The export is held for as long as the keeper lives, which is what keeps
    // a bytearray from resizing and the object alive.
    std::shared_ptr<void> keeper;
    HeldExport* held = nullptr;
    try {
        held = new HeldExport;
        keeper = std::shared_ptr<void>(held, [](void* p) { release_kept(p, &HeldExport::release); });
    } catch (std::bad_alloc&) {
        PyErr_NoMemory(); // a keeper that could not be made has released its export already
        return false;
    }
    if (!writable_export(o, held->view)) {
        PyErr_Clear();
        fail_arg(ERR_TYPE, a);
        return false;
    }
    out.data = static_cast<uint8_t*>(held->view.buf);
    out.size = size_t(held->view.len);
    out.keeper = std::move(keeper);
    return true;
}

} // namespace qw
