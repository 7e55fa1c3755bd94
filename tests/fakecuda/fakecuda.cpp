// A stand-in GPU driver for the tests: the entry points libquelbo_cuda calls,
// over host memory. "Device memory" lies in pages that stay PROT_NONE except
// inside this driver's own copy calls, so any CPU access to it elsewhere
// crashes the test. Live allocations are counted for the leak tests.
//
// Controls: FAKECUDA_DEVICES (number of devices, default 1),
// FAKECUDA_MAX_PITCH (the largest pitch the rectangular and box copies take,
// default 2^31 - 1 as on the devices) and, from the tests through ctypes,
// fakecuda_live_allocations(), fakecuda_live_bytes() and fakecuda_fail_after(n)
// (the n-th allocation or copy from now on fails).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "cuda_abi.h"

namespace {

using namespace quelbo_cuda::abi;

enum : int
{
    SUCCESS = CUDA_SUCCESS,
    INVALID_VALUE = CUDA_ERROR_INVALID_VALUE,
    OUT_OF_MEMORY = CUDA_ERROR_OUT_OF_MEMORY,
    NOT_INITIALIZED = CUDA_ERROR_NOT_INITIALIZED,
    INVALID_DEVICE = CUDA_ERROR_INVALID_DEVICE,
    INVALID_CONTEXT = CUDA_ERROR_INVALID_CONTEXT,
};

constexpr size_t kTotal = size_t(1) << 34;
constexpr size_t kPitch = 512;

std::mutex g_lock;
std::map<uintptr_t, size_t> g_blocks; // base -> mapped length
size_t g_live_bytes = 0;
bool g_initialised = false;
long g_fail_after = 0; // 0: never

int g_context_tag;
CUcontext const g_context = reinterpret_cast<CUcontext>(&g_context_tag);

size_t max_pitch()
{
    const char* env = std::getenv("FAKECUDA_MAX_PITCH");
    return env ? size_t(std::strtoull(env, nullptr, 10)) : size_t(0x7fffffff);
}

bool injected_failure()
{
    if (g_fail_after <= 0)
        return false;
    return --g_fail_after == 0;
}

size_t page_round(size_t n)
{
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}

// The block holding [p, p + n), or none.
std::map<uintptr_t, size_t>::iterator find_block(uintptr_t p, size_t n)
{
    auto it = g_blocks.upper_bound(p);
    if (it == g_blocks.begin())
        return g_blocks.end();
    --it;
    if (p < it->first || n > it->second || p - it->first > it->second - n)
        return g_blocks.end();
    return it;
}

// Opens (or closes again) the pages of [p, p + n) for the CPU: a call's
// own bytes only, so that what it costs grows with them and not with the
// block they lie in.
void open_range(const void* p, size_t n, bool on)
{
    size_t const page = size_t(sysconf(_SC_PAGESIZE));
    uintptr_t const first = uintptr_t(p) / page * page;
    mprotect(reinterpret_cast<void*>(first), page_round(uintptr_t(p) + n - first),
             on ? PROT_READ | PROT_WRITE : PROT_NONE);
}

CUresult allocate(CUdeviceptr* out, size_t bytes)
{
    if (!g_initialised)
        return NOT_INITIALIZED;
    if (!out || bytes == 0)
        return INVALID_VALUE;
    if (injected_failure() || bytes > kTotal - g_live_bytes)
        return OUT_OF_MEMORY;
    size_t len = page_round(bytes);
    void* p = mmap(nullptr, len, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED)
        return OUT_OF_MEMORY;
    g_blocks[reinterpret_cast<uintptr_t>(p)] = len;
    g_live_bytes += len;
    *out = reinterpret_cast<uintptr_t>(p);
    return SUCCESS;
}

// A side of a copy: `depth` slices `height` rows apart, of `rows` rows
// `pitch` bytes apart, in device memory or host memory.
struct Side
{
    char* at;
    bool device;
    size_t pitch = 0, height = 0;
};

// The bytes from a side's first row to the end of its last (0 on overflow).
size_t extent(Side const& s, size_t width, size_t rows, size_t depth)
{
    size_t lines = 0, bytes = 0;
    if (__builtin_mul_overflow(depth - 1, s.height, &lines) || __builtin_add_overflow(lines, rows - 1, &lines) ||
        __builtin_mul_overflow(lines, s.pitch, &bytes) || __builtin_add_overflow(bytes, width, &bytes))
        return 0;
    return bytes;
}

// One copy of `depth` slices of `rows` rows of `width` bytes; what a device
// side spans must lie in one block, opened for the copy alone.
CUresult copy(Side dst, Side src, size_t width, size_t rows = 1, size_t depth = 1)
{
    if (!g_initialised)
        return NOT_INITIALIZED;
    if (width == 0 || rows == 0 || depth == 0)
        return SUCCESS;
    if (injected_failure())
        return INVALID_VALUE;
    size_t const dn = extent(dst, width, rows, depth), sn = extent(src, width, rows, depth);
    auto d = dst.device ? find_block(uintptr_t(dst.at), dn) : g_blocks.end();
    auto s = src.device ? find_block(uintptr_t(src.at), sn) : g_blocks.end();
    if (!dn || !sn || (dst.device && d == g_blocks.end()) || (src.device && s == g_blocks.end()) || !dst.at ||
        !src.at)
        return INVALID_VALUE;
    if (dst.device)
        open_range(dst.at, dn, true);
    if (src.device)
        open_range(src.at, sn, true);
    for (size_t z = 0; z < depth; ++z)
        for (size_t y = 0; y < rows; ++y)
            std::memmove(dst.at + (z * dst.height + y) * dst.pitch, src.at + (z * src.height + y) * src.pitch, width);
    if (dst.device)
        open_range(dst.at, dn, false);
    if (src.device)
        open_range(src.at, sn, false);
    return SUCCESS;
}

} // namespace

#define API extern "C" __attribute__((visibility("default")))

// Each entry point as the library declares it.
#define FAKECUDA_DECLARE(name, symbol, parameters, arguments) API CUresult symbol parameters;
QUELBO_CUDA_ENTRY_POINTS(FAKECUDA_DECLARE)
#undef FAKECUDA_DECLARE

API CUresult cuInit(unsigned)
{
    std::lock_guard<std::mutex> g(g_lock);
    g_initialised = true;
    return SUCCESS;
}

API CUresult cuDriverGetVersion(int* version)
{
    *version = 12000;
    return SUCCESS;
}

API CUresult cuDeviceGetCount(int* count)
{
    const char* env = std::getenv("FAKECUDA_DEVICES");
    *count = env ? std::atoi(env) : 1;
    return g_initialised ? SUCCESS : NOT_INITIALIZED;
}

API CUresult cuDeviceGet(int* dev, int ordinal)
{
    int count = 0;
    cuDeviceGetCount(&count);
    if (ordinal < 0 || ordinal >= count)
        return INVALID_DEVICE;
    *dev = ordinal;
    return SUCCESS;
}

API CUresult cuDeviceGetName(char* name, int length, int dev)
{
    int count = 0;
    cuDeviceGetCount(&count);
    if (!name || length <= 0 || dev < 0 || dev >= count)
        return INVALID_VALUE;
    std::snprintf(name, size_t(length), "quelbo stand-in driver (host memory)");
    return SUCCESS;
}

API CUresult cuDeviceGetAttribute(int* value, int attribute, int)
{
    if (!value || attribute != CU_DEVICE_ATTRIBUTE_MAX_PITCH)
        return INVALID_VALUE;
    *value = int(max_pitch());
    return SUCCESS;
}

API CUresult cuDevicePrimaryCtxRetain(CUcontext* ctx, int)
{
    *ctx = g_context;
    return SUCCESS;
}

API CUresult cuCtxSetCurrent(CUcontext ctx)
{
    return ctx == g_context ? SUCCESS : INVALID_CONTEXT;
}

API CUresult cuMemAlloc_v2(CUdeviceptr* out, size_t bytes)
{
    std::lock_guard<std::mutex> g(g_lock);
    return allocate(out, bytes);
}

API CUresult cuMemAllocPitch_v2(CUdeviceptr* out, size_t* pitch, size_t width, size_t height, unsigned element)
{
    std::lock_guard<std::mutex> g(g_lock);
    if (!pitch || width == 0 || height == 0 || (element != 4 && element != 8 && element != 16))
        return INVALID_VALUE;
    size_t p = (width + kPitch - 1) / kPitch * kPitch;
    if (p < width || height > kTotal / p)
        return OUT_OF_MEMORY;
    CUresult r = allocate(out, p * height);
    if (r == SUCCESS)
        *pitch = p;
    return r;
}

API CUresult cuMemFree_v2(CUdeviceptr p)
{
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_blocks.find(uintptr_t(p));
    if (it == g_blocks.end())
        return INVALID_VALUE;
    munmap(reinterpret_cast<void*>(it->first), it->second);
    g_live_bytes -= it->second;
    g_blocks.erase(it);
    return SUCCESS;
}

API CUresult cuMemsetD8_v2(CUdeviceptr dst, unsigned char value, size_t n)
{
    std::lock_guard<std::mutex> g(g_lock);
    if (!g_initialised)
        return NOT_INITIALIZED;
    if (injected_failure())
        return INVALID_VALUE;
    auto d = find_block(uintptr_t(dst), n);
    if (d == g_blocks.end())
        return INVALID_VALUE;
    open_range(reinterpret_cast<void*>(dst), n, true);
    std::memset(reinterpret_cast<void*>(dst), value, n);
    open_range(reinterpret_cast<void*>(dst), n, false);
    return SUCCESS;
}

API CUresult cuMemcpyHtoD_v2(CUdeviceptr dst, const void* src, size_t n)
{
    std::lock_guard<std::mutex> g(g_lock);
    return copy({reinterpret_cast<char*>(dst), true}, {const_cast<char*>(static_cast<const char*>(src)), false}, n);
}

API CUresult cuMemcpyDtoH_v2(void* dst, CUdeviceptr src, size_t n)
{
    std::lock_guard<std::mutex> g(g_lock);
    return copy({static_cast<char*>(dst), false}, {reinterpret_cast<char*>(src), true}, n);
}

API CUresult cuMemcpyDtoD_v2(CUdeviceptr dst, CUdeviceptr src, size_t n)
{
    std::lock_guard<std::mutex> g(g_lock);
    return copy({reinterpret_cast<char*>(dst), true}, {reinterpret_cast<char*>(src), true}, n);
}

// A box copy as the record describes it.
CUresult copy_box(const Memcpy3D& c)
{
    if (c.srcArray || c.dstArray || c.reserved0 || c.reserved1 || c.srcLOD || c.dstLOD ||
        c.srcPitch < c.WidthInBytes + c.srcXInBytes || c.dstPitch < c.WidthInBytes + c.dstXInBytes ||
        c.srcPitch > max_pitch() || c.dstPitch > max_pitch() ||
        (c.Depth > 1 && (c.srcHeight < c.Height + c.srcY || c.dstHeight < c.Height + c.dstY)))
        return INVALID_VALUE;
    bool sd = c.srcMemoryType == CU_MEMORYTYPE_DEVICE, dd = c.dstMemoryType == CU_MEMORYTYPE_DEVICE;
    auto* s = static_cast<char*>(sd ? reinterpret_cast<void*>(c.srcDevice) : const_cast<void*>(c.srcHost));
    auto* d = static_cast<char*>(dd ? reinterpret_cast<void*>(c.dstDevice) : c.dstHost);
    // The first row of each side: past its slices, rows and bytes before.
    Side const to{d ? d + (c.dstZ * c.dstHeight + c.dstY) * c.dstPitch + c.dstXInBytes : nullptr, dd, c.dstPitch,
                  c.dstHeight};
    Side const from{s ? s + (c.srcZ * c.srcHeight + c.srcY) * c.srcPitch + c.srcXInBytes : nullptr, sd, c.srcPitch,
                    c.srcHeight};
    return copy(to, from, c.WidthInBytes, c.Height, c.Depth);
}

CUresult copy_rectangle(const Memcpy2D* c)
{
    if (!c)
        return INVALID_VALUE;
    Memcpy3D box;
    std::memset(&box, 0, sizeof box);
    box.srcXInBytes = c->srcXInBytes;
    box.srcY = c->srcY;
    box.srcMemoryType = c->srcMemoryType;
    box.srcHost = c->srcHost;
    box.srcDevice = c->srcDevice;
    box.srcArray = c->srcArray;
    box.srcPitch = c->srcPitch;
    box.dstXInBytes = c->dstXInBytes;
    box.dstY = c->dstY;
    box.dstMemoryType = c->dstMemoryType;
    box.dstHost = c->dstHost;
    box.dstDevice = c->dstDevice;
    box.dstArray = c->dstArray;
    box.dstPitch = c->dstPitch;
    box.WidthInBytes = c->WidthInBytes;
    box.Height = c->Height;
    box.Depth = 1;
    return copy_box(box);
}

API CUresult cuMemcpy2D_v2(const Memcpy2D* c)
{
    std::lock_guard<std::mutex> g(g_lock);
    return copy_rectangle(c);
}

API CUresult cuMemcpy2DUnaligned_v2(const Memcpy2D* c)
{
    std::lock_guard<std::mutex> g(g_lock);
    return copy_rectangle(c);
}

API CUresult cuMemcpy3D_v2(const Memcpy3D* c)
{
    std::lock_guard<std::mutex> g(g_lock);
    return c ? copy_box(*c) : INVALID_VALUE;
}

API CUresult cuPointerGetAttribute(void* data, int attribute, CUdeviceptr p)
{
    std::lock_guard<std::mutex> g(g_lock);
    if (attribute != CU_POINTER_ATTRIBUTE_MEMORY_TYPE || !data)
        return INVALID_VALUE;
    if (find_block(uintptr_t(p), 1) == g_blocks.end())
        return INVALID_VALUE; // unregistered host memory
    *static_cast<unsigned*>(data) = CU_MEMORYTYPE_DEVICE;
    return SUCCESS;
}

API CUresult cuMemGetInfo_v2(size_t* free_bytes, size_t* total)
{
    std::lock_guard<std::mutex> g(g_lock);
    *free_bytes = kTotal - g_live_bytes;
    *total = kTotal;
    return SUCCESS;
}

API CUresult cuGetErrorName(CUresult r, const char** name)
{
    switch (r) {
    case SUCCESS:
        *name = "CUDA_SUCCESS";
        return SUCCESS;
    case INVALID_VALUE:
        *name = "CUDA_ERROR_INVALID_VALUE";
        return SUCCESS;
    case OUT_OF_MEMORY:
        *name = "CUDA_ERROR_OUT_OF_MEMORY";
        return SUCCESS;
    case NOT_INITIALIZED:
        *name = "CUDA_ERROR_NOT_INITIALIZED";
        return SUCCESS;
    case INVALID_DEVICE:
        *name = "CUDA_ERROR_INVALID_DEVICE";
        return SUCCESS;
    case INVALID_CONTEXT:
        *name = "CUDA_ERROR_INVALID_CONTEXT";
        return SUCCESS;
    default:
        return INVALID_VALUE;
    }
}

// --- test controls ----------------------------------------------------------

API long fakecuda_live_allocations()
{
    std::lock_guard<std::mutex> g(g_lock);
    return long(g_blocks.size());
}

API long fakecuda_live_bytes()
{
    std::lock_guard<std::mutex> g(g_lock);
    return long(g_live_bytes);
}

API void fakecuda_fail_after(long n)
{
    std::lock_guard<std::mutex> g(g_lock);
    g_fail_after = n;
}
