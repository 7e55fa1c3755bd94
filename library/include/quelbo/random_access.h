// RandomAccess: byte stores read and written at any offset, and their runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "quelbo/data_access.h"
#include "quelbo/flags.h"

namespace quelbo {

// A run of bytes at an offset of a store and its place in the caller's
// memory, whose constness says the direction: a read's run (ReadRun) is
// where the bytes go, a write's (WriteRun) where they come from.
template <class Byte>
struct ByteRun
{
    std::size_t offset;
    std::size_t size;
    Byte* data;
};
using ReadRun = ByteRun<uint8_t>;
using WriteRun = ByteRun<const uint8_t>;

// A sized byte store read and written at any offset. Reading needs READ,
// writing WRITE, resizing RESIZE (Error otherwise). An offset past the end
// raises Error; transfers stop at the end and return the count moved.
class QUELBO_API RandomAccess : public DataAccess
{
public:
    using DataAccess::DataAccess;

    virtual RandomAccessCapabilitySet capabilities() const = 0;
    virtual std::size_t size() const = 0;
    virtual std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) = 0;
    virtual std::size_t write(std::size_t offset, std::size_t size, const uint8_t* src) = 0;
    // Keeps the bytes that stay, zeroes the new ones.
    virtual void resize(std::size_t newSize) = 0;
    // The store's bytes when it has MEMORY_ACCESS (valid until the next
    // resize), else null. Views over a store use it to skip copies.
    virtual uint8_t* data() { return nullptr; }
    // Moves the runs in their order as read and write would, and stops after
    // the first one that moves short; returns the bytes moved in all. Stores
    // that move many runs in fewer calls than one each override them.
    virtual std::size_t readRuns(ReadRun const* runs, std::size_t count);
    virtual std::size_t writeRuns(WriteRun const* runs, std::size_t count);

    std::string toString() const;
    bool support(RandomAccessCapabilitySet flags) const { return capabilities().has(flags); }
};

} // namespace quelbo
