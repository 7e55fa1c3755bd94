// Our own declarations of the driver's binary interface (the types, codes
// and records of the entry points we call), shared with the test driver.
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
};

enum : int
{
    CU_MEMORYTYPE_HOST = 1,
    CU_MEMORYTYPE_DEVICE = 2,
    CU_POINTER_ATTRIBUTE_MEMORY_TYPE = 2,
};

// The record of a rectangular copy (cuMemcpy2D).
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

} // namespace quelbo_cuda::abi
