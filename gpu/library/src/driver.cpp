// The GPU driver, loaded at first use through dlopen with our own
// declarations of the few entry points we call: building needs no toolkit.
#include "quelbo_cuda/driver.h"

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "cuda_abi.h"
#include "quelbo/error.h"

namespace quelbo_cuda {

namespace {

using namespace abi;

constexpr char kLibrary[] = "libcuda.so.1";

} // namespace

struct Driver::Api
{
#define QUELBO_CUDA_FIELD(name, symbol, parameters, arguments) CUresult(*name) parameters;
    QUELBO_CUDA_ENTRY_POINTS(QUELBO_CUDA_FIELD)
#undef QUELBO_CUDA_FIELD
    CUcontext context = nullptr;
    std::string deviceName;
    int driverVersion = 0;
    size_t maxPitch = 0;

    [[noreturn]] void fail(const char* call, CUresult r) const
    {
        const char* name = nullptr;
        if (!cuGetErrorName || cuGetErrorName(r, &name) != 0 || !name)
            name = "unknown error";
        throw quelbo::Error(std::string("CUDA driver: ") + call + " failed: " + name + " (" + std::to_string(r) + ")");
    }
    void check(const char* call, CUresult r) const
    {
        if (r != 0)
            fail(call, r);
    }
    // The calling thread works in the primary context.
    void enter() const { check("cuCtxSetCurrent", cuCtxSetCurrent(context)); }
};

namespace {

template <class F>
void bind(void* lib, F& fn, const char* name)
{
    fn = reinterpret_cast<F>(dlsym(lib, name));
    if (!fn)
        throw quelbo::Error(std::string("CUDA driver: ") + kLibrary + " lacks the entry point " + name);
}

Driver::Api* load()
{
    dlerror();
    void* lib = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        throw quelbo::Error(std::string("CUDA driver: no driver library (") + kLibrary +
                            " cannot be loaded: " + (why ? why : "unknown reason") + ")");
    }
    auto* api = new Driver::Api();
    try {
#define QUELBO_CUDA_BIND(name, symbol, parameters, arguments) bind(lib, api->name, #symbol);
        QUELBO_CUDA_ENTRY_POINTS(QUELBO_CUDA_BIND)
#undef QUELBO_CUDA_BIND
        api->check("cuInit", api->cuInit(0));
        int count = 0;
        api->check("cuDeviceGetCount", api->cuDeviceGetCount(&count));
        if (count < 1)
            throw quelbo::Error("CUDA driver: no CUDA device");
        CUdevice dev = 0;
        api->check("cuDeviceGet", api->cuDeviceGet(&dev, 0));
        api->check("cuDevicePrimaryCtxRetain", api->cuDevicePrimaryCtxRetain(&api->context, dev));
        char name[256] = {};
        api->check("cuDeviceGetName", api->cuDeviceGetName(name, int(sizeof name - 1), dev));
        api->deviceName = name;
        api->check("cuDriverGetVersion", api->cuDriverGetVersion(&api->driverVersion));
        int pitch = 0;
        api->check("cuDeviceGetAttribute", api->cuDeviceGetAttribute(&pitch, CU_DEVICE_ATTRIBUTE_MAX_PITCH, dev));
        api->maxPitch = pitch > 0 ? size_t(pitch) : 0;
        api->enter();
    } catch (...) {
        delete api;
        dlclose(lib);
        throw;
    }
    // The library stays loaded: device memory may be released until exit.
    return api;
}

// The fields that a rectangular and a box copy share, the others zero.
template <class Record>
Record record(Driver::Plane const& dst, Driver::Plane const& src, size_t widthBytes, size_t rows)
{
    Record c;
    std::memset(&c, 0, sizeof c);
    c.srcMemoryType = src.device ? CU_MEMORYTYPE_DEVICE : CU_MEMORYTYPE_HOST;
    c.srcDevice = src.device;
    c.srcHost = src.host;
    c.srcPitch = src.pitch;
    c.dstMemoryType = dst.device ? CU_MEMORYTYPE_DEVICE : CU_MEMORYTYPE_HOST;
    c.dstDevice = dst.device;
    c.dstHost = dst.host;
    c.dstPitch = dst.pitch;
    c.WidthInBytes = widthBytes;
    c.Height = rows;
    return c;
}

} // namespace

Driver::Driver() : m_api(load()) {}

Driver& Driver::get()
{
    // A failed start throws out of the initialisation, so the next use tries again.
    static Driver driver;
    return driver;
}

DevicePtr Driver::allocate(std::size_t bytes)
{
    m_api->enter();
    CUdeviceptr p = 0;
    m_api->check("cuMemAlloc", m_api->cuMemAlloc(&p, bytes));
    return p;
}

DevicePtr Driver::allocatePitched(std::size_t widthBytes, std::size_t rows, std::size_t elementBytes,
                                  std::size_t& pitch)
{
    // The driver takes element sizes of 4, 8 or 16 bytes for its alignment.
    unsigned element = elementBytes <= 4 ? 4 : elementBytes <= 8 ? 8 : 16;
    m_api->enter();
    CUdeviceptr p = 0;
    size_t got = 0;
    m_api->check("cuMemAllocPitch", m_api->cuMemAllocPitch(&p, &got, widthBytes, rows, element));
    if (got < widthBytes) {
        release(p);
        throw quelbo::Error("CUDA driver: cuMemAllocPitch returned a pitch below the row width");
    }
    pitch = got;
    return p;
}

void Driver::release(DevicePtr p) noexcept
{
    if (p && m_api->cuCtxSetCurrent(m_api->context) == 0)
        m_api->cuMemFree(p);
}

void Driver::zero(DevicePtr p, std::size_t bytes)
{
    if (!bytes)
        return;
    m_api->enter();
    m_api->check("cuMemsetD8", m_api->cuMemsetD8(p, 0, bytes));
}

void Driver::toDevice(DevicePtr dst, void const* src, std::size_t bytes)
{
    if (!bytes)
        return;
    m_api->enter();
    m_api->check("cuMemcpyHtoD", m_api->cuMemcpyHtoD(dst, src, bytes));
}

void Driver::toHost(void* dst, DevicePtr src, std::size_t bytes)
{
    if (!bytes)
        return;
    m_api->enter();
    m_api->check("cuMemcpyDtoH", m_api->cuMemcpyDtoH(dst, src, bytes));
}

void Driver::deviceToDevice(DevicePtr dst, DevicePtr src, std::size_t bytes)
{
    if (!bytes)
        return;
    m_api->enter();
    m_api->check("cuMemcpyDtoD", m_api->cuMemcpyDtoD(dst, src, bytes));
}

void Driver::copy(Plane const& dst, Plane const& src, std::size_t widthBytes, std::size_t rows, std::size_t slices)
{
    if (!widthBytes || !rows || !slices)
        return;
    if (rows == 1 && slices == 1) {
        if (dst.device && src.device)
            return deviceToDevice(dst.device, src.device, widthBytes);
        if (dst.device)
            return toDevice(dst.device, src.host, widthBytes);
        if (src.device)
            return toHost(dst.host, src.device, widthBytes);
        return void(std::memcpy(dst.host, src.host, widthBytes));
    }
    const char* call = slices > 1 ? "cuMemcpy3D" : "cuMemcpy2D";
    for (size_t pitch : {dst.pitch, src.pitch})
        if (pitch > m_api->maxPitch)
            throw quelbo::Error(std::string("CUDA driver: ") + call + " cannot take a pitch of " +
                                std::to_string(pitch) + " bytes (the device's largest is " +
                                std::to_string(m_api->maxPitch) + ")");
    m_api->enter();
    if (slices > 1) {
        auto c = record<Memcpy3D>(dst, src, widthBytes, rows);
        c.srcHeight = src.height;
        c.dstHeight = dst.height;
        c.Depth = slices;
        return m_api->check(call, m_api->cuMemcpy3D(&c));
    }
    auto const c = record<Memcpy2D>(dst, src, widthBytes, rows);
    // Within the device the aligned form takes only pitches of the driver's
    // pitched allocations; a caller's buffer has its own.
    if (dst.device && src.device)
        return m_api->check("cuMemcpy2DUnaligned", m_api->cuMemcpy2DUnaligned(&c));
    m_api->check(call, m_api->cuMemcpy2D(&c));
}

std::size_t Driver::maxPitch() const
{
    return m_api->maxPitch;
}

std::string Driver::deviceName() const
{
    return m_api->deviceName;
}

int Driver::driverVersion() const
{
    return m_api->driverVersion;
}

bool Driver::isDevicePointer(void const* p)
{
    if (!p)
        return false;
    m_api->enter();
    unsigned type = 0;
    CUresult r =
        m_api->cuPointerGetAttribute(&type, CU_POINTER_ATTRIBUTE_MEMORY_TYPE, reinterpret_cast<CUdeviceptr>(p));
    return r == 0 && type == CU_MEMORYTYPE_DEVICE;
}

void Driver::memoryInfo(std::size_t& freeBytes, std::size_t& totalBytes)
{
    m_api->enter();
    m_api->check("cuMemGetInfo", m_api->cuMemGetInfo(&freeBytes, &totalBytes));
}

} // namespace quelbo_cuda
