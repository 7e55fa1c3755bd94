// A counting driver for the tests and gpu/device-check: every entry point
// the library calls, passed on to the driver library that COUNTCUDA_DRIVER
// names (a path: the stand-in driver, or the real one), with a count of the
// calls of each. Read through ctypes or dlsym:
//   countcuda_calls(symbol)        calls of one entry point so far
//   countcuda_copies()             calls of every copy entry point so far
//   countcuda_live_allocations()   allocations made and not yet freed
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cuda_abi.h"

namespace {

using namespace quelbo_cuda::abi;

void* driver()
{
    static void* lib = [] {
        const char* path = std::getenv("COUNTCUDA_DRIVER");
        void* l = path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
        if (!l)
            std::fprintf(stderr, "countcuda: no driver to pass calls to (COUNTCUDA_DRIVER=%s: %s)\n",
                         path ? path : "unset", path ? dlerror() : "");
        return l;
    }();
    return lib;
}

// One counter per entry point, in the order of the list.
enum Entry : int
{
#define COUNTCUDA_ENTRY(name, symbol, parameters, arguments) k_##symbol,
    QUELBO_CUDA_ENTRY_POINTS(COUNTCUDA_ENTRY)
#undef COUNTCUDA_ENTRY
        kEntries
};
const char* const kSymbols[] = {
#define COUNTCUDA_NAME(name, symbol, parameters, arguments) #symbol,
    QUELBO_CUDA_ENTRY_POINTS(COUNTCUDA_NAME)
#undef COUNTCUDA_NAME
};
std::atomic<long> g_calls[kEntries];
std::atomic<long> g_live{0};

// What the driver's call returned, counted; allocations that succeeded and
// frees that did are what is live.
CUresult counted(Entry e, CUresult r)
{
    ++g_calls[e];
    if (r == CUDA_SUCCESS && (e == k_cuMemAlloc_v2 || e == k_cuMemAllocPitch_v2))
        ++g_live;
    if (r == CUDA_SUCCESS && e == k_cuMemFree_v2)
        --g_live;
    return r;
}

} // namespace

#define API extern "C" __attribute__((visibility("default")))

#define COUNTCUDA_FORWARD(name, symbol, parameters, arguments)                                                 \
    API CUresult symbol parameters                                                                            \
    {                                                                                                          \
        using Fn = CUresult(*) parameters;                                                                     \
        static Fn const fn = driver() ? reinterpret_cast<Fn>(dlsym(driver(), #symbol)) : nullptr;             \
        return counted(k_##symbol, fn ? fn arguments : driver() ? CUDA_ERROR_NOT_FOUND : CUDA_ERROR_NOT_INITIALIZED); \
    }
QUELBO_CUDA_ENTRY_POINTS(COUNTCUDA_FORWARD)
#undef COUNTCUDA_FORWARD

API long countcuda_calls(const char* symbol)
{
    for (int e = 0; e < kEntries; ++e)
        if (symbol && std::strcmp(symbol, kSymbols[e]) == 0)
            return g_calls[e];
    return -1;
}

API long countcuda_copies()
{
    return g_calls[k_cuMemcpyHtoD_v2] + g_calls[k_cuMemcpyDtoH_v2] + g_calls[k_cuMemcpyDtoD_v2] +
           g_calls[k_cuMemcpy2D_v2] + g_calls[k_cuMemcpy2DUnaligned_v2] + g_calls[k_cuMemcpy3D_v2];
}

API long countcuda_live_allocations()
{
    return g_live;
}
