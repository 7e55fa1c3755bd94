// bufferArgument: one Python buffer object filling a native (address, size)
// pair. Three forms, by the direction of the transfer:
//   destination    the call writes into it          writable   kDst
//   source         the call reads from it           readable   kSrc
//   memory source  the created object keeps it     writable   kMemory / kMemorySize
// The address and the length always reach the native side, also where the
// native operation is declared with the address alone: the library checks
// the length.
//
// How a family uses it:
//   qw::Buffer b;
//   if (!qw::buffer_arg(a[2], {fn, 3, qw::kDst}, qw::BufferForm::destination, b)) return nullptr;
//   return call([&] { return to_py(store->read(offset, b.size, b.data)); });
// A factory that builds an object over the memory (a store, a view) takes the
// memory with a keeper instead, and hands the keeper to the library, which
// holds it as long as any native user of the memory lives:
//   quelbo::BorrowedMemory m;
//   if (!qw::buffer_keep(a[0], {fn, 1, qw::kMemory}, m)) return nullptr;
//   return call([&] { return shared(quelbo::RandomAccessFactory::fromBuffer(std::move(m))); });
#pragma once

#include <cstddef>
#include <cstdint>

#include "quelbo/buffer_keeper.h"
#include "runtime/pyrt.h"

namespace qw {

// Declared type texts of the three forms.
constexpr const char* kDst = "(uint8_t* dst, size_t size)";
constexpr const char* kSrc = "(const uint8_t* src, size_t size)";
constexpr const char* kMemory = "(uint8_t* buffer, size_t size)";
constexpr const char* kMemorySize = "(uint8_t* buffer, size_t bufferSize)";

enum class BufferForm
{
    destination,
    source,
    memory_source,
};

// A block a call in flight uses by its address alone (the buffer calls lend
// the address and let go of the export at once). Python code that runs
// inside the call (a signal handler while a stream waits on a pipe) could
// resize or free it under the library: pin_blocks_in_use exports each such
// block first, so that a resize or a release raises BufferError instead,
// until the call ends. Entered and left under the interpreter lock.
class BlockInUse
{
public:
    BlockInUse() = default;
    BlockInUse(const BlockInUse&) {} // a copy is no block of a call
    BlockInUse& operator=(const BlockInUse&) { return *this; }
    ~BlockInUse()
    {
        if (m_owner)
            leave();
    }
    PyObject* owner() const { return m_owner; }
    void enter(PyObject* owner)
    {
        m_owner = owner;
        m_next = s_first;
        if (s_first)
            s_first->m_prev = this;
        s_first = this;
    }

private:
    friend void pin_blocks_in_use();
    void leave()
    {
        (m_prev ? m_prev->m_next : s_first) = m_next;
        if (m_next)
            m_next->m_prev = m_prev;
        if (m_pin)
            unpin();
    }
    void unpin();

    PyObject* m_owner = nullptr; // alive: the call's arguments hold it
    BlockInUse* m_prev = nullptr;
    BlockInUse* m_next = nullptr;
    void* m_pin = nullptr; // the export pin_blocks_in_use took
    static inline BlockInUse* s_first = nullptr;
};

// Exports every block of the calls in flight that none holds yet; any
// exception pending stays as it was.
void pin_blocks_in_use();

struct Buffer
{
    uint8_t* data = nullptr;
    size_t size = 0;
    BlockInUse in_use;
};

// The memory of a built-in byte buffer, which always is one block of raw
// bytes: a bytearray, or a bytes object as a source. False for anything else.
inline bool byte_block(PyObject* o, BufferForm form, Buffer& out)
{
    const bool array = PyByteArray_CheckExact(o);
    if (!array && (form != BufferForm::source || !PyBytes_CheckExact(o)))
        return false;
    out.data = reinterpret_cast<uint8_t*>(array ? PyByteArray_AsString(o) : PyBytes_AsString(o));
    out.size = size_t(array ? PyByteArray_Size(o) : PyBytes_Size(o));
    return true;
}

bool other_buffer_arg(PyObject* o, const ArgId& a, BufferForm form, Buffer& out);

// Requests the object's memory as one contiguous block (writable unless the
// form is source). On failure: TypeError with the argument message, nothing
// else pending, the object untouched. A byte buffer is read inline.
inline bool buffer_arg(PyObject* o, const ArgId& a, BufferForm form, Buffer& out)
{
    return (o && byte_block(o, form, out)) || other_buffer_arg(o, a, form, out);
}

// Check face (overload dispatch): the object offers such a block.
bool is_buffer(PyObject* o, BufferForm form);

// Memory source with a keeper: the object's buffer stays exported (a
// bytearray cannot be resized, the object cannot be freed) until the keeper's
// last copy is released; the release takes the interpreter lock itself, so
// the library may drop the keeper from any thread.
bool buffer_keep(PyObject* o, const ArgId& a, quelbo::BorrowedMemory& out);

} // namespace qw
