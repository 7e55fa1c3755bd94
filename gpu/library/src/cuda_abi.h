// Our own declarations of the driver's binary interface (the types, codes
// and records of the entry points we call), shared with the test drivers.
#pragma once
#include <cstddef>

namespace quelbo_cuda::abi {

using CUresult = int;
using CUdevice = int;
using CUcontext = struct CUctx_st*;
using CUdeviceptr = unsigned long long;

enum : int
{
    CUDA_SUCCESS = 0,
    CUDA_ERROR_INVALID_VALUE = 1,
    CUDA_ERROR_OUT_OF_MEMORY = 2,
    CUDA_ERROR_NOT_INITIALIZED = 3,
    CUDA_ERROR_INVALID_DEVICE = 101,
    CUDA_ERROR_INVALID_CONTEXT = 201,
    CUDA_ERROR_NOT_FOUND = 500,
};

enum : int
{
    CU_MEMORYTYPE_HOST = 1,
    CU_MEMORYTYPE_DEVICE = 2,
    CU_POINTER_ATTRIBUTE_MEMORY_TYPE = 2,
    // The largest pitch in bytes that the rectangular copies take.
    CU_DEVICE_ATTRIBUTE_MAX_PITCH = 11,
};

// The record of a rectangular copy (cuMemcpy2D): rows of WidthInBytes,
// srcPitch and dstPitch bytes apart.
struct Memcpy2D
{
    size_t srcXInBytes, srcY;
    int srcMemoryType;
    const void* srcHost;
    CUdeviceptr srcDevice;
    void* srcArray;
    size_t srcPitch;
    size_t dstXInBytes, dstY;
    int dstMemoryType;
    void* dstHost;
    CUdeviceptr dstDevice;
    void* dstArray;
    size_t dstPitch;
    size_t WidthInBytes, Height;
};

// The record of a box copy (cuMemcpy3D): Depth slices of Height rows, each
// slice a side's height times its pitch bytes after the one before.
struct Memcpy3D
{
    size_t srcXInBytes, srcY, srcZ, srcLOD;
    int srcMemoryType;
    const void* srcHost;
    CUdeviceptr srcDevice;
    void* srcArray;
    void* reserved0;
    size_t srcPitch, srcHeight;
    size_t dstXInBytes, dstY, dstZ, dstLOD;
    int dstMemoryType;
    void* dstHost;
    CUdeviceptr dstDevice;
    void* dstArray;
    void* reserved1;
    size_t dstPitch, dstHeight;
    size_t WidthInBytes, Height, Depth;
};

} // namespace quelbo_cuda::abi

// Every driver entry point we call, as X(name, symbol, parameters, arguments):
// the library binds the exported `symbol` as `name`; the test drivers define
// `symbol` with these parameters. Every one returns a CUresult.
#define QUELBO_CUDA_ENTRY_POINTS(X)                                                                                  \
    X(cuInit, cuInit, (unsigned flags), (flags))                                                                     \
    X(cuDriverGetVersion, cuDriverGetVersion, (int* version), (version))                                             \
    X(cuDeviceGetCount, cuDeviceGetCount, (int* count), (count))                                                     \
    X(cuDeviceGet, cuDeviceGet, (CUdevice * device, int ordinal), (device, ordinal))                                 \
    X(cuDeviceGetName, cuDeviceGetName, (char* name, int length, CUdevice device), (name, length, device))           \
    X(cuDeviceGetAttribute, cuDeviceGetAttribute, (int* value, int attribute, CUdevice device),                      \
      (value, attribute, device))                                                                                    \
    X(cuDevicePrimaryCtxRetain, cuDevicePrimaryCtxRetain, (CUcontext * context, CUdevice device), (context, device)) \
    X(cuCtxSetCurrent, cuCtxSetCurrent, (CUcontext context), (context))                                              \
    X(cuMemAlloc, cuMemAlloc_v2, (CUdeviceptr * p, size_t bytes), (p, bytes))                                        \
    X(cuMemAllocPitch, cuMemAllocPitch_v2,                                                                           \
      (CUdeviceptr * p, size_t * pitch, size_t width, size_t height, unsigned element),                              \
      (p, pitch, width, height, element))                                                                            \
    X(cuMemFree, cuMemFree_v2, (CUdeviceptr p), (p))                                                                 \
    X(cuMemsetD8, cuMemsetD8_v2, (CUdeviceptr p, unsigned char value, size_t n), (p, value, n))                      \
    X(cuMemcpyHtoD, cuMemcpyHtoD_v2, (CUdeviceptr dst, const void* src, size_t n), (dst, src, n))                    \
    X(cuMemcpyDtoH, cuMemcpyDtoH_v2, (void* dst, CUdeviceptr src, size_t n), (dst, src, n))                          \
    X(cuMemcpyDtoD, cuMemcpyDtoD_v2, (CUdeviceptr dst, CUdeviceptr src, size_t n), (dst, src, n))                    \
    X(cuMemcpy2D, cuMemcpy2D_v2, (const Memcpy2D* copy), (copy))                                                     \
    X(cuMemcpy2DUnaligned, cuMemcpy2DUnaligned_v2, (const Memcpy2D* copy), (copy))                                   \
    X(cuMemcpy3D, cuMemcpy3D_v2, (const Memcpy3D* copy), (copy))                                                     \
    X(cuPointerGetAttribute, cuPointerGetAttribute, (void* data, int attribute, CUdeviceptr p), (data, attribute, p)) \
    X(cuMemGetInfo, cuMemGetInfo_v2, (size_t * free, size_t * total), (free, total))                                 \
    X(cuGetErrorName, cuGetErrorName, (CUresult error, const char** name), (error, name))
