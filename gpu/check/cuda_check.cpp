// Checks libquelbo_cuda against a driver, through the counting driver
// (tests/fakecuda/countcuda.cpp) passing every call on to it: the test
// driver in the test suite, the real one on a machine with a GPU
// (gpu/device-check).
//
//   quelbo_cuda_check                      allocate, copy, adapt with device
//       buffers, coalesced layout, driver copies per transfer, device memory
//       given back
//   quelbo_cuda_check --bench N [--floor F]  also every road timed against
//       raw driver copies of N MiB; with F, a road below F times the raw
//       copies' speed fails
//
// Prints the device and driver, one line per check and "ok" at the end;
// exits 1 on any failure, 2 without a driver.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "check.h"
#include "host_view.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo_cuda/cuda_image_factory.h"

namespace quelbo_cuda::check {

namespace {
int g_failures = 0;

// An entry point of the counting driver, or null when the driver loaded is
// another.
template <class F>
F counter(const char* name)
{
    void* lib = dlopen("libcuda.so.1", RTLD_NOW | RTLD_NOLOAD);
    F f = lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
    if (lib)
        dlclose(lib);
    return f;
}
} // namespace

void expect(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "pass" : "FAIL", what.c_str());
    if (!ok)
        ++g_failures;
}

int failures()
{
    return g_failures;
}

std::vector<uint8_t> pattern(size_t n, unsigned seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t((i * 131 + seed * 7 + (i >> 8)) & 0xff);
    return v;
}

quelbo::VectorXu64 vec(std::initializer_list<uint64_t> values)
{
    quelbo::VectorXu64 v(values.size());
    size_t i = 0;
    for (uint64_t x : values)
        v[i++] = x;
    return v;
}

bool counting()
{
    return counter<long (*)()>("countcuda_copies") != nullptr;
}

long driverCopies()
{
    static auto const f = counter<long (*)()>("countcuda_copies");
    return f ? f() : -1;
}

long liveAllocations()
{
    static auto const f = counter<long (*)()>("countcuda_live_allocations");
    return f ? f() : -1;
}

using namespace quelbo;

void checkRoundTrips()
{
    const DataType u16(DataTypeId::UINT16);
    for (bool coalesced : {false, true}) {
        const std::string kind = coalesced ? "coalesced" : "plain";
        const VectorXu64 shape = vec({37, 11, 3, 2});
        auto view =
            coalesced ? CudaImageFactory::allocateCoalesced(shape, u16) : CudaImageFactory::allocate(shape, u16);
        const size_t bytes = 37 * 11 * 3 * 2 * 2;
        std::vector<uint8_t> zeros(bytes, 0xAA);
        view->readRegion(RegionXu64::createFullRegion(shape), zeros.data());
        expect(zeros == std::vector<uint8_t>(bytes, 0), kind + ": a new image reads zeros");
        auto in = pattern(bytes, 1);
        view->writeRegion(RegionXu64::createFullRegion(shape), in.data());
        std::vector<uint8_t> out(bytes);
        view->readRegion(RegionXu64::createFullRegion(shape), out.data());
        expect(in == out, kind + ": whole image written and read back");

        // A sub-box against the same box of a host image.
        HostView host(shape, u16, true);
        host.writeRegion(RegionXu64::createFullRegion(shape), in.data());
        RegionXu64 box(vec({3, 2, 1, 1}), vec({30, 7, 2, 1}));
        const size_t boxBytes = 30 * 7 * 2 * 2;
        std::vector<uint8_t> a(boxBytes), b(boxBytes);
        view->readRegion(box, a.data());
        host.readRegion(box, b.data());
        expect(a == b, kind + ": a sub-box reads as in host memory");
        auto patch = pattern(boxBytes, 9);
        view->writeRegion(box, patch.data());
        host.writeRegion(box, patch.data());
        view->readRegion(RegionXu64::createFullRegion(shape), out.data());
        expect(out == host.data(), kind + ": a sub-box written lands where it belongs");

        // Device buffers in place of host buffers.
        DeviceBuffer dev(boxBytes);
        view->readRegion(box, dev.address());
        std::vector<uint8_t> back(boxBytes);
        Driver::get().toHost(back.data(), dev.ptr, boxBytes);
        expect(back == patch, kind + ": a region read into a device buffer");
        auto other = pattern(boxBytes, 4);
        Driver::get().toDevice(dev.ptr, other.data(), boxBytes);
        view->writeRegion(box, dev.address());
        view->readRegion(box, back.data());
        expect(back == other, kind + ": a region written from a device buffer");

        expect(!view->support(ImageCapabilitySet(ImageCapability::MEMORY_ACCESS)) &&
                   view->support(ImageCapabilitySet(ImageCapability::READ) | ImageCapability::WRITE),
               kind + ": READ and WRITE, no MEMORY_ACCESS");
        expect(view->viewOrigin()->dataOrigin() == ViewDataOrigin::GPU_MEMORY, kind + ": origin GPU_MEMORY");
        expectThrow<InvalidArgument>(
            [&] {
                view->readRegion(RegionXu64(vec({0, 0, 0, 0}), vec({38, 1, 1, 1})), a.data());
            },
            kind + ": a region beyond the image is refused");
    }
}

void checkCopyAndAdapt()
{
    const DataType f32(DataTypeId::FLOAT);
    const VectorXu64 shape = vec({64, 33, 5});
    const size_t bytes = 64 * 33 * 5 * 4;
    for (bool memoryAccess : {true, false}) {
        const std::string kind = memoryAccess ? "from memory" : "staged";
        auto host = std::make_shared<HostView>(shape, f32, memoryAccess);
        host->data() = pattern(bytes, 3);
        auto gpu = CudaImageFactory::copyInCudaMemory(host);
        std::vector<uint8_t> out(bytes);
        gpu->readRegion(RegionXu64::createFullRegion(shape), out.data());
        expect(out == host->data(), "copyInCudaMemory " + kind + ": the samples are equal");
        expect(CudaImageFactory::copyInCudaMemory(gpu) == gpu, "copyInCudaMemory of a GPU image is that image");
        expect(gpu->viewOrigin()->parentCount() == 1 &&
                   gpu->viewOrigin()->parent(0)->uid() == host->viewOrigin()->uid(),
               "copyInCudaMemory: the copy's origin names its source");
        expect(CudaExtensionProvider::isCudaImage(gpu) && !CudaExtensionProvider::isCudaImage(host) &&
                   !CudaExtensionProvider::isCudaImage(nullptr),
               "isCudaImage tells GPU images apart");
    }
    auto host = std::make_shared<HostView>(shape, f32, true);
    host->data() = pattern(bytes, 5);
    auto adapted = CudaImageFactory::adaptToCuda(host);
    expect(CudaExtensionProvider::isCudaImage(adapted) && CudaImageFactory::adaptToCuda(adapted) == adapted,
           "adaptToCuda: a CUDA image, adapted once");
    RegionXu64 box(vec({1, 2, 3}), vec({60, 20, 2}));
    const size_t boxBytes = 60 * 20 * 2 * 4;
    DeviceBuffer dev(boxBytes);
    adapted->readRegion(box, dev.address());
    std::vector<uint8_t> a(boxBytes), b(boxBytes);
    Driver::get().toHost(a.data(), dev.ptr, boxBytes);
    host->readRegion(box, b.data());
    expect(a == b, "adapted view: a region read into a device buffer");
    adapted->readRegion(box, a.data());
    expect(a == b, "adapted view: a region read into a host buffer");
    auto other = pattern(boxBytes, 8);
    Driver::get().toDevice(dev.ptr, other.data(), boxBytes);
    adapted->writeRegion(box, dev.address());
    host->readRegion(box, b.data());
    expect(b == other, "adapted view: a region written from a device buffer");
    auto copied = CudaImageFactory::copyInCudaMemory(adapted);
    expect(copied != adapted, "copyInCudaMemory of an adapted host image copies it");
}

void checkRefusals()
{
    const DataType u8(DataTypeId::UINT8);
    expectThrow<InvalidArgument>([&] { CudaImageFactory::allocate(VectorXu64(), u8); }, "an empty shape");
    expectThrow<InvalidArgument>([&] { CudaImageFactory::allocate(vec({4, 0}), u8); }, "a zero size");
    expectThrow<Error>([&] { CudaImageFactory::allocate(vec({uint64_t(-1), 4}), u8); }, "a huge size");
    expectThrow<Error>([&] { CudaImageFactory::allocate(vec({1ull << 40, 1ull << 40}), u8); }, "an overflowing shape");
    expectThrow<Error>([&] { CudaImageFactory::allocate(vec({4, 4}), u8, nullptr, nullptr); }, "null properties");
    expectThrow<InvalidArgument>([&] { CudaImageFactory::copyInCudaMemory(nullptr); }, "copy of no image");
    expectThrow<InvalidArgument>(
        [&] {
            CudaImageFactory::copyInCudaMemory(std::make_shared<HostView>(vec({0, 3}), u8, true));
        },
        "copy of an empty image");
    expectThrow<InvalidArgument>(
        [&] {
            CudaImageFactory::adaptToCuda(std::make_shared<HostView>(vec({3, 0}), u8, true));
        },
        "adaptation of an empty image");
}

} // namespace quelbo_cuda::check

namespace {

size_t freeMemory()
{
    size_t free = 0, total = 0;
    quelbo_cuda::Driver::get().memoryInfo(free, total);
    return free;
}

// Lazily allocated driver resources and other processes on the device move
// its free memory; our own allocations the counting driver counts exactly.
constexpr size_t kFreeMemoryTolerance = size_t(64) << 20;

} // namespace

int main(int argc, char** argv)
{
    using namespace quelbo_cuda::check;
    using quelbo_cuda::Driver;
    size_t benchMiB = 0;
    double floor = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--bench") == 0)
            benchMiB = std::strtoull(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--floor") == 0)
            floor = std::strtod(argv[i + 1], nullptr);
    }
    try {
        Driver::get();
    } catch (quelbo::Error& e) {
        std::printf("no driver: %s\n", e.what());
        return 2;
    }
    Driver& d = Driver::get();
    std::printf("device: %s; driver %d.%d; largest copy pitch %zu bytes\n", d.deviceName().c_str(),
                d.driverVersion() / 1000, d.driverVersion() % 1000 / 10, d.maxPitch());
    expect(counting(), "the driver's calls are counted (the counting driver passes them on)");
    const size_t before = freeMemory();
    try {
        checkRoundTrips();
        checkCopyAndAdapt();
        checkRefusals();
        checkCopyCounts();
        if (benchMiB)
            benchRoads(benchMiB, floor);
    } catch (std::exception& e) {
        expect(false, std::string("unexpected exception: ") + e.what());
    }
    const size_t after = freeMemory();
    expect(after + kFreeMemoryTolerance >= before && liveAllocations() == 0,
           "device memory given back once the views are gone: every allocation freed (" +
               std::to_string(liveAllocations()) + " live), free memory within " +
               std::to_string(kFreeMemoryTolerance >> 20) + " MiB of the start (" +
               std::to_string(((long long)before - (long long)after) / (1 << 20)) + " MiB less)");
    if (failures())
        return 1;
    std::printf("ok\n");
    return 0;
}
