// Test-only wrapper of the system's mremap, preloaded into a child process by
// the tests of mapped growth. Armed (mapping_shim_arm), it plays the other
// threads and the limits of a busy process around the remappings that grow
// or move a mapping:
//  - before a growth, another thread maps the page just after the mapping,
//    so that it cannot grow in place;
//  - LIMIT: while a growth runs, the address space holds no more than the
//    process maps: the system cannot commit the growth, and fails it;
//  - MISPLACE: a growth the system moves lands off huge-page alignment;
//  - FIXED_FAILS: a move onto chosen addresses fails after clearing them, as
//    the system does when it cannot commit the memory (it unmaps the target
//    range before it charges the move);
// and after every failed move onto chosen addresses, another thread maps
// those addresses when they are free. Each such foreign mapping holds a
// marker (on each page): mapping_shim_foreign_intact() tells whether all are
// still mapped and hold it.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum : int
{
    LIMIT = 1,
    MISPLACE = 2,
    FIXED_FAILS = 4,
};

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr unsigned char kMarker = 0x5a;

using Remap = void* (*)(void*, std::size_t, std::size_t, int, ...);

int g_mode = 0;
bool g_armed = false;
struct Foreign
{
    unsigned char* at;
    std::size_t length;
} g_foreign[64];
int g_foreignCount = 0;
int g_moves = 0; // moves onto chosen addresses seen while armed

Remap real()
{
    static Remap const f = reinterpret_cast<Remap>(dlsym(RTLD_NEXT, "mremap"));
    return f;
}

std::size_t page()
{
    return std::size_t(sysconf(_SC_PAGESIZE));
}

// Another thread maps [at, at + length) when those addresses are free.
void mapForeign(void* at, std::size_t length)
{
    if (g_foreignCount == int(sizeof g_foreign / sizeof g_foreign[0]))
        return;
    void* p = mmap(at, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED)
        return;
    if (p != at) {
        munmap(p, length);
        return;
    }
    for (std::size_t at = 0; at < length; at += page())
        static_cast<unsigned char*>(p)[at] = kMarker;
    g_foreign[g_foreignCount++] = {static_cast<unsigned char*>(p), length};
}

// The bytes the process maps (its virtual size).
std::size_t mappedBytes()
{
    char text[64] = {};
    int fd = open("/proc/self/statm", O_RDONLY);
    if (fd < 0)
        return 0;
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    return n > 0 ? std::strtoull(text, nullptr, 10) * page() : 0;
}

// The system's growth of old, moved to addresses off huge-page alignment
// (one page past an aligned address).
void* misplaced(void* old, std::size_t oldSize, std::size_t newSize)
{
    std::size_t const span = newSize + 2 * kHugePage;
    void* r = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (r == MAP_FAILED)
        return r;
    auto* const first = static_cast<unsigned char*>(r);
    auto* const at = reinterpret_cast<unsigned char*>(
        ((reinterpret_cast<std::uintptr_t>(first) + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1)) + page());
    void* moved = real()(old, oldSize, newSize, MREMAP_MAYMOVE | MREMAP_FIXED, at);
    munmap(first, std::size_t(at - first));
    if (moved == MAP_FAILED)
        munmap(at, span - std::size_t(at - first));
    else
        munmap(at + newSize, span - std::size_t(at - first) - newSize);
    return moved;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void* mremap(void* old, std::size_t oldSize, std::size_t newSize, int flags, ...)
{
    void* target = nullptr;
    if (flags & MREMAP_FIXED) {
        va_list args;
        va_start(args, flags);
        target = va_arg(args, void*);
        va_end(args);
    }
    bool const fixed = flags & MREMAP_FIXED;
    if (!g_armed)
        return real()(old, oldSize, newSize, flags, target);
    if (fixed)
        ++g_moves;
    if (newSize > oldSize && !fixed)
        mapForeign(static_cast<unsigned char*>(old) + oldSize, page());
    void* result;
    int error = 0;
    if (fixed && (g_mode & FIXED_FAILS)) {
        munmap(target, newSize);
        result = MAP_FAILED;
        error = ENOMEM;
    } else if (newSize > oldSize && (g_mode & LIMIT)) {
        rlimit saved;
        getrlimit(RLIMIT_AS, &saved);
        rlimit limited = saved;
        limited.rlim_cur = mappedBytes();
        setrlimit(RLIMIT_AS, &limited);
        result = real()(old, oldSize, newSize, flags, target);
        error = errno;
        setrlimit(RLIMIT_AS, &saved);
    } else if (newSize > oldSize && !fixed && (flags & MREMAP_MAYMOVE) && (g_mode & MISPLACE)) {
        result = misplaced(old, oldSize, newSize);
        error = errno;
    } else {
        result = real()(old, oldSize, newSize, flags, target);
        error = errno;
    }
    if (result == MAP_FAILED && fixed)
        mapForeign(target, newSize);
    errno = error;
    return result;
}

__attribute__((visibility("default"))) void mapping_shim_arm(int mode)
{
    g_mode = mode;
    g_armed = mode >= 0;
}

__attribute__((visibility("default"))) int mapping_shim_foreign_count()
{
    return g_foreignCount;
}

__attribute__((visibility("default"))) int mapping_shim_moves()
{
    return g_moves;
}

// 1 when every foreign mapping is still mapped and holds its marker.
__attribute__((visibility("default"))) int mapping_shim_foreign_intact()
{
    std::size_t const unit = page();
    unsigned char resident;
    for (int i = 0; i < g_foreignCount; ++i) {
        Foreign const& f = g_foreign[i];
        for (std::size_t at = 0; at < f.length; at += unit) {
            if (mincore(f.at + at, unit, &resident) != 0) // ENOMEM: unmapped
                return 0;
        }
        for (std::size_t at = 0; at < f.length; at += unit) {
            if (f.at[at] != kMarker)
                return 0;
        }
    }
    return 1;
}
}
