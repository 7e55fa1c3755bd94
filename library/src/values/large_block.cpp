// The blocks that scale with the data: fixed and growable, on the heap while
// small, mapped on their own and aligned for huge pages once large.
#include "values/large_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

namespace quelbo::detail {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    if (bytes > std::numeric_limits<std::size_t>::max() - 2 * kHugePage)
        throw std::bad_alloc();
    return (bytes + unit - 1) / unit * unit;
}

// The length of the mapping that holds bytes: whole huge pages.
std::size_t mappedLength(std::size_t bytes)
{
    return roundUp(bytes, kHugePage);
}

std::size_t pageSize()
{
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

// A new mapping of length bytes (whole huge pages) at an address aligned to
// a huge page: readable, writable and advised to use huge pages, or a
// placeholder that only holds the addresses.
uint8_t* mapAligned(std::size_t length, bool placeholder)
{
    int const prot = placeholder ? PROT_NONE : PROT_READ | PROT_WRITE;
    int const flags = MAP_PRIVATE | MAP_ANONYMOUS | (placeholder ? MAP_NORESERVE : 0);
    void* p = mmap(nullptr, length + kHugePage, prot, flags, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    auto* const first = static_cast<uint8_t*>(p);
    auto* const start = reinterpret_cast<uint8_t*>((reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) &
                                                   ~std::uintptr_t(kHugePage - 1));
    std::size_t const head = std::size_t(start - first);
    if (head)
        munmap(first, head);
    munmap(start + length, kHugePage - head);
    if (!placeholder)
        madvise(start, length, MADV_HUGEPAGE); // advice only: failure changes nothing
    return start;
}

// The mapping of length bytes at `at`, which the system moved there, on
// addresses aligned to a huge page (where huge pages can back it): as it is
// when it lies on them already, as recent systems place such mappings, else
// moved again, without growing, into a placeholder of its own. Should that
// move fail, it stays where it is: the system may have unmapped the
// placeholder before failing, and another thread may have mapped those
// addresses since, so only a placeholder taken back whole is unmapped (one
// the system kept stays reserved: addresses, no memory).
uint8_t* aligned(uint8_t* at, std::size_t length)
{
    if (reinterpret_cast<std::uintptr_t>(at) % kHugePage == 0)
        return at;
    uint8_t* target;
    try {
        target = mapAligned(length, true);
    } catch (std::bad_alloc const&) {
        return at;
    }
    if (mremap(at, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, target) != MAP_FAILED)
        return target;
    void* back = mmap(target, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE,
                      -1, 0);
    if (back != MAP_FAILED)
        munmap(back, length); // taken back, or (a system that ignores the flag) other addresses of its own
    return at;
}

// The mapping of `from` bytes at block grown to `to` bytes (both whole huge
// pages), its pages kept: in place when the addresses after it are free,
// else moved whole where the system finds room. std::bad_alloc leaves it as
// it was, and every other mapping too: nothing here unmaps addresses it does
// not hold (a move onto chosen addresses unmaps them first, and a failed one
// leaves them to whoever maps next).
uint8_t* growMapping(uint8_t* block, std::size_t from, std::size_t to)
{
    if (mremap(block, from, to, 0) != MAP_FAILED) {
        madvise(block, to, MADV_HUGEPAGE);
        return block;
    }
    void* moved = mremap(block, from, to, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
        throw std::bad_alloc();
    uint8_t* const grown = aligned(static_cast<uint8_t*>(moved), to);
    madvise(grown, to, MADV_HUGEPAGE);
    return grown;
}

// Mapped fixed blocks given back are kept, the last few of them, for the
// next block of the same length that its caller fills whole: a new mapping
// costs a page fault and the zeroing of every page at its first touch, which
// a loop making results of one size (the vector operators) would pay on
// each call. What is kept stays bounded, the oldest given back first; longer
// blocks go back at once, as the C library's heap gives back its own large
// blocks.
class KeptMappings
{
public:
    static constexpr std::size_t kLongest = std::size_t(32) << 20;
    static constexpr std::size_t kBytes = std::size_t(64) << 20;

    // A kept mapping of `length` bytes, the last one given back, or null.
    uint8_t* take(std::size_t length)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (std::size_t i = m_count; i-- > 0;) {
            if (m_kept[i].length == length) {
                uint8_t* const block = m_kept[i].block;
                drop(i);
                return block;
            }
        }
        return nullptr;
    }

    // Keeps the mapping, or unmaps it when it is too long; the oldest kept
    // ones are unmapped as needed to make room.
    void keep(uint8_t* block, std::size_t length)
    {
        if (length > kLongest) {
            munmap(block, length);
            return;
        }
        Kept gone[kCount];
        std::size_t goneCount = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            while (m_count == kCount || m_bytes + length > kBytes) {
                gone[goneCount++] = m_kept[0];
                drop(0);
            }
            m_kept[m_count++] = {block, length};
            m_bytes += length;
        }
        for (std::size_t i = 0; i < goneCount; ++i)
            munmap(gone[i].block, gone[i].length);
    }

private:
    static constexpr std::size_t kCount = 4;
    struct Kept
    {
        uint8_t* block;
        std::size_t length;
    };

    // Held under m_lock; the order of the others stays.
    void drop(std::size_t i)
    {
        m_bytes -= m_kept[i].length;
        std::copy(m_kept + i + 1, m_kept + m_count, m_kept + i);
        --m_count;
    }

    std::mutex m_lock;
    Kept m_kept[kCount] = {};
    std::size_t m_count = 0;
    std::size_t m_bytes = 0;
};

// Never destroyed: blocks are given back until the process ends.
KeptMappings& kept()
{
    static KeptMappings* const mappings = new KeptMappings;
    return *mappings;
}

} // namespace

void* allocateBlock(std::size_t bytes, bool filled, std::size_t alignment)
{
    if (bytes >= kLargeBlock) {
        std::size_t const length = mappedLength(bytes);
        if (filled) {
            if (uint8_t* const block = kept().take(length))
                return block;
        }
        return mapAligned(length, false);
    }
    std::size_t const size = std::max<std::size_t>(bytes, 1);
    void* p;
    if (alignment <= alignof(std::max_align_t)) {
        p = filled ? std::malloc(size) : std::calloc(size, 1);
    } else {
        std::size_t const rounded = roundUp(size, alignment); // aligned_alloc wants a multiple
        p = std::aligned_alloc(alignment, rounded);
        if (p && !filled)
            std::memset(p, 0, rounded);
    }
    if (!p)
        throw std::bad_alloc();
    return p;
}

void releaseBlock(void* block, std::size_t bytes) noexcept
{
    if (bytes >= kLargeBlock) {
        kept().keep(static_cast<uint8_t*>(block), mappedLength(bytes));
    } else
        std::free(block);
}

std::shared_ptr<unsigned char> sharedBlock(std::size_t bytes, bool filled)
{
    // Should the count fail to be made, the pointer's constructor releases the block.
    auto* block = static_cast<unsigned char*>(allocateBlock(bytes, filled));
    return std::shared_ptr<unsigned char>(block, [bytes](unsigned char* p) { releaseBlock(p, bytes); });
}

// ------------------------------------------------------------------ Bytes

Bytes::~Bytes()
{
    if (mapped())
        munmap(m_data, m_capacity);
    else
        std::free(m_data);
}

void Bytes::swap(Bytes& other) noexcept
{
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
}

void Bytes::reserve(std::size_t capacity)
{
    if (capacity <= m_capacity)
        return;
    if (capacity < kLargeBlock) {
        void* p = std::realloc(m_data, capacity);
        if (!p)
            throw std::bad_alloc();
        m_data = static_cast<uint8_t*>(p);
        m_capacity = capacity;
        return;
    }
    std::size_t const length = mappedLength(capacity);
    if (mapped()) {
        m_data = growMapping(m_data, m_capacity, length);
    } else {
        uint8_t* const block = mapAligned(length, false);
        copyBytes(block, m_data, m_size);
        std::free(m_data);
        m_data = block;
    }
    m_capacity = length;
}

void Bytes::resize(std::size_t size)
{
    if (size > m_capacity) {
        std::size_t const doubled = m_capacity > std::numeric_limits<std::size_t>::max() / 2
                                        ? std::numeric_limits<std::size_t>::max()
                                        : m_capacity * 2;
        if (doubled <= size) {
            reserve(size);
        } else {
            try {
                reserve(doubled);
            } catch (std::bad_alloc const&) {
                reserve(size); // room for the size asked, when the usual step is too much
            }
        }
    }
    if (size > m_size && !mapped()) {
        std::memset(m_data + m_size, 0, size - m_size);
    } else if (size < m_size && mapped()) {
        // Whole huge pages past the new size are unmapped; the rest of the
        // bytes past it are zeroed, whole pages by giving them back.
        std::size_t const keep = std::max(mappedLength(size), kLargeBlock);
        if (keep < m_capacity && munmap(m_data + keep, m_capacity - keep) == 0)
            m_capacity = keep;
        std::size_t const end = std::min(m_size, m_capacity);
        std::size_t const page = std::min(roundUp(size, pageSize()), end);
        std::memset(m_data + size, 0, page - size);
        if (page < end && madvise(m_data + page, end - page, MADV_DONTNEED) != 0)
            std::memset(m_data + page, 0, end - page);
    }
    m_size = size;
}

void Bytes::insert(std::size_t offset, std::size_t count)
{
    if (count > std::numeric_limits<std::size_t>::max() - m_size)
        throw std::bad_alloc();
    if (!count)
        return;
    std::size_t const tail = m_size - offset;
    resize(m_size + count);
    moveBytes(m_data + offset + count, m_data + offset, tail);
    std::memset(m_data + offset, 0, count);
}

void Bytes::erase(std::size_t offset, std::size_t count)
{
    if (!count)
        return;
    moveBytes(m_data + offset, m_data + offset + count, m_size - offset - count);
    resize(m_size - count);
}

} // namespace quelbo::detail
