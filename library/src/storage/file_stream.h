// File streams: a buffer of their own over the file's descriptor, as a
// buffered file of Python's has (private to the library). A stream over a
// regular file knows its position and moves bytes by positioned calls; one
// over a pipe, a FIFO, a terminal or a device reads and writes the
// descriptor as it goes (file_stream_descriptor.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "storage/access_detail.h"
#include "storage/file_detail.h"

namespace quelbo::detail {

// The buffer holds the bytes [m_heldAt, m_heldAt + m_heldLen) of the file
// (of the stream, when it cannot seek: what it read ahead) as the file will
// hold them once the stream's pending writes land, so that a read there
// gives what was written there. A stream that can seek keeps a small write
// in the buffer where it lands within or just after what the buffer holds,
// as Python's buffered files do: the bytes [m_dirtyAt, m_dirtyAt +
// m_dirtyLen) are pending, one run from the first byte written to the last
// (those read between them included), and reach the file in one call before
// the buffer holds other bytes, before the file is read straight into a
// caller's memory or by a store, at a flush and as the stream goes. One that
// cannot seek queues its writes apart (m_out), in the order the descriptor
// takes them. The buffer holds the stream's capacity at most, but after a
// read that the interrupt handler ended, which gives back there what it
// received until the buffer is refilled.
class FileStream : public StreamAccess, public PositionedStream
{
public:
    FileStream(std::string const& path, FileMode mode, Place place, Opener const& open);
    // What is still pending is written here; a failure then raises nowhere,
    // so it is reported as undelivered.
    ~FileStream() override;

    StreamAccessCapabilitySet capabilities() const override { return m_caps; }
    bool good() const override { return !fail() && !eof(); }
    bool eof() const override { return m_caps.has(StreamAccessCapability::READ) && !ahead(); }
    bool fail() const override { return m_failed; }
    std::size_t read(std::size_t size, uint8_t* dst) override
    {
        std::size_t const in = m_pos - m_heldAt;
        if (m_serves && in < m_heldLen && size <= m_heldLen - in) {
            std::memcpy(dst, m_buf.get() + in, size);
            m_pos += size;
            return size;
        }
        return readOn(size, dst);
    }
    uint8_t peek() override;
    std::size_t write(std::size_t size, const uint8_t* src) override;
    void flush() override;
    std::size_t tell() override;
    // A seek within what the buffer holds, or just after it, keeps it, as a
    // buffered file does: another writer's changes there are seen after a
    // seek outside it, where the buffer keeps only its pending bytes.
    void seek(int64_t offset, SeekOrigin origin) override;

    // Positioned transfers: pread and pwrite on the descriptor, after the
    // pending bytes reach the file, and with what the buffer holds dropped
    // where a write changes the file under it. Writes stop at the file's end
    // as reads do, measured for each (another process may have moved it).
    std::size_t byteSize() override;
    std::size_t readRunsAt(ReadRun const* runs, std::size_t count) override;
    std::size_t writeRunsAt(WriteRun const* runs, std::size_t count) override;

private:
    // The bytes a read of a stream that cannot seek has put in its caller's
    // memory so far, and its own copy of them, made before the interrupt
    // handler runs (Python code, which may change the caller's memory): what
    // the read gives back when the handler ends it.
    struct Received
    {
        uint8_t const* dst;
        std::size_t done = 0;
        Bytes kept;
    };

    // The file's size now (also kept for positioned transfers).
    std::size_t measured(char const* failure) const;
    // The file's size once the pending bytes land (they may extend it).
    std::size_t sizeNow(char const* failure) const;
    // What a read the buffer could not serve whole still needs.
    std::size_t readOn(std::size_t size, uint8_t* dst);
    void giveBack(Received const& got);
    // Whether a small write at the position lands in the buffer, which then
    // takes it (keep), or the buffer starts over there.
    bool lands(std::size_t size) const;
    void keep(const uint8_t* src, std::size_t size);
    void writeLarge(const uint8_t* src, std::size_t size);
    bool reserve(std::size_t size);
    void holdPendingOnly();
    // Whether what the buffer holds has the byte at the position.
    bool held() const { return m_pos - m_heldAt < m_heldLen; }
    bool ahead() const;
    std::size_t takeIn(std::size_t offset, uint8_t* dst, std::size_t size) const;
    void deliver(char const* what) const;
    std::size_t putOut(std::size_t offset, const uint8_t* src, std::size_t size, char const* what,
                       bool own = true) const;
    [[noreturn]] void refused(int err, char const* what) const;
    template <class Byte>
    std::size_t onFile(ByteRun<Byte> const* runs, std::size_t count, char const* failure) const;
    void need(StreamAccessCapability cap, char const* operation) const
    {
        idle();
        if (!m_caps.has(cap))
            missingCapability("file stream '" + m_path + "'", operation);
    }

    // A stream that cannot seek (file_stream_descriptor.cpp).
    std::size_t readDescriptor(uint8_t* dst, std::size_t size) const;
    std::size_t writeDescriptor(const uint8_t* src, std::size_t size, char const* what, bool own) const;
    std::size_t writeOn(std::size_t size, const uint8_t* src);
    void toDescriptor(const uint8_t* src, std::size_t size);
    void deliverQueued(char const* what) const;
    bool carryOn() const;
    void idle() const
    {
        if (m_waiting)
            throw Error("reentrant call inside file stream '" + m_path + "'");
    }

    std::string m_path;
    int m_fd = -1;
    StreamAccessCapabilitySet m_caps;
    bool m_seekable = false;
    bool m_writesThrough = false;
    std::size_t m_capacity = 0;
    // The position: in the file, or the bytes read so far when the stream
    // cannot seek.
    std::size_t m_pos = 0;
    mutable std::unique_ptr<uint8_t[]> m_buf;
    mutable std::size_t m_bufRoom = 0, m_heldAt = 0, m_heldLen = 0;
    mutable std::size_t m_dirtyAt = 0, m_dirtyLen = 0;
    mutable std::unique_ptr<uint8_t[]> m_out;
    mutable std::size_t m_outRoom = 0, m_outLen = 0;
    mutable Received* m_received = nullptr; // the read in flight of a stream that cannot seek
    mutable bool m_failed = false;
    mutable bool m_waiting = false; // the interrupt handler runs in a call of the stream
    mutable bool m_serves = false;  // reads may be served from the buffer: the stream reads, and is not waiting
    mutable int m_refused = 0;      // errno of the last write the file refused
    mutable std::size_t m_knownSize = 0;
    ReadMapping m_mapping;
};

// Whether the descriptor has bytes to read, or its end, now: a read would
// not wait.
bool readable(int fd);

// Gives the buffer room for n bytes, dropping what it holds when it has to
// grow; with `exactly`, one grown past n comes back to n.
void roomFor(std::unique_ptr<uint8_t[]>& buffer, std::size_t& room, std::size_t n, bool exactly = false);

} // namespace quelbo::detail
