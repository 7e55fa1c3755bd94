// Checks libquelbo_cuda against a driver: the test driver in the test suite,
// the real one on a machine with a GPU (gpu/device-check).
//
//   quelbo_cuda_check            allocate, copy, adapt with device buffers,
//                                coalesced layout, device memory given back
//   quelbo_cuda_check --bench N  also the bandwidth of copies of N MiB
//
// Prints one line per check and "ok" at the end; exits 1 on the first failure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "host_view.h"
#include "quelbo/error.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/indexer.h"
#include "quelbo/region_copier.h"
#include "quelbo_cuda/cuda_image_factory.h"
#include "quelbo_cuda/driver.h"

using namespace quelbo;
using quelbo_cuda::CudaExtensionProvider;
using quelbo_cuda::CudaImageFactory;
using quelbo_cuda::DevicePtr;
using quelbo_cuda::Driver;
using quelbo_cuda::check::HostView;

namespace {

int g_failures = 0;

void expect(bool ok, const std::string& what)
{
    std::printf("%s %s\n", ok ? "pass" : "FAIL", what.c_str());
    if (!ok)
        ++g_failures;
}

template <class E>
void expectThrow(const std::function<void()>& f, const std::string& what)
{
    try {
        f();
    } catch (E& e) {
        expect(true, what + " (" + e.what() + ")");
        return;
    } catch (std::exception& e) {
        expect(false, what + ": unexpected " + e.what());
        return;
    }
    expect(false, what + ": nothing thrown");
}

std::vector<uint8_t> pattern(size_t n, unsigned seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t((i * 131 + seed * 7 + (i >> 8)) & 0xff);
    return v;
}

VectorXu64 vec(std::initializer_list<uint64_t> values)
{
    VectorXu64 v(values.size());
    size_t i = 0;
    for (uint64_t x : values)
        v[i++] = x;
    return v;
}

// Device memory for the checks, given back on every path.
struct DeviceBuffer
{
    explicit DeviceBuffer(size_t n) : ptr(Driver::get().allocate(n)), size(n) {}
    ~DeviceBuffer() { Driver::get().release(ptr); }
    void* address() const { return reinterpret_cast<void*>(ptr); }
    DevicePtr ptr;
    size_t size;
};

size_t freeMemory()
{
    size_t free = 0, total = 0;
    Driver::get().memoryInfo(free, total);
    return free;
}

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

double seconds(const std::function<void()>& f, int repeat)
{
    f(); // warm up
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < repeat; ++i)
        f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / repeat;
}

// Seconds of one call of ours and of the anchor, timed in turn (each the
// best of `repeat`), after one call of each to warm up.
std::pair<double, double> interleaved(const std::function<void()>& ours, const std::function<void()>& anchor,
                                      int repeat)
{
    double best[2] = {1e30, 1e30};
    ours();
    anchor();
    for (int i = 0; i < repeat; ++i) {
        int k = 0;
        for (auto const* f : {&ours, &anchor}) {
            auto t0 = std::chrono::steady_clock::now();
            (*f)();
            best[k] = std::min(best[k], std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
            ++k;
        }
    }
    return {best[0], best[1]};
}

void bench(size_t mib)
{
    const size_t bytes = mib << 20;
    const VectorXu64 shape = vec({4096, bytes / 4096});
    const DataType u8(DataTypeId::UINT8);
    auto host = std::make_shared<HostView>(shape, u8, true);
    DeviceBuffer raw(bytes);
    std::vector<uint8_t> back(bytes);
    const double gib = double(bytes) / double(1 << 30);
    double rawUp = seconds([&] { Driver::get().toDevice(raw.ptr, host->data().data(), bytes); }, 5);
    double rawDown = seconds([&] { Driver::get().toHost(back.data(), raw.ptr, bytes); }, 5);
    double up = seconds([&] { CudaImageFactory::copyInCudaMemory(host); }, 5);
    auto gpu = CudaImageFactory::copyInCudaMemory(host);
    double down = seconds([&] { gpu->readRegion(RegionXu64::createFullRegion(shape), back.data()); }, 5);
    // copyInCudaMemory allocates its memory: against raw allocation and copy too.
    double rawFresh = seconds(
        [&] {
            DeviceBuffer fresh(bytes);
            Driver::get().toDevice(fresh.ptr, host->data().data(), bytes);
        },
        5);
    std::printf("bench %zu MiB: raw host->device %.2f GiB/s, raw allocation + copy %.2f GiB/s, "
                "copyInCudaMemory %.2f GiB/s (%.2fx of raw allocation + copy)\n",
                mib, gib / rawUp, gib / rawFresh, gib / up, rawFresh / up);
    std::printf("bench %zu MiB: raw device->host %.2f GiB/s, view read-back %.2f GiB/s (%.2fx)\n", mib, gib / rawDown,
                gib / down, rawDown / down);
    // A host view adapted to device buffers: through a bounded host stage,
    // against a plain copy of the same bytes.
    auto adapted = CudaImageFactory::adaptToCuda(host);
    const RegionXu64 whole = RegionXu64::createFullRegion(shape);
    auto in = interleaved([&] { adapted->readRegion(whole, raw.address()); },
                          [&] { Driver::get().toDevice(raw.ptr, host->data().data(), bytes); }, 5);
    auto out = interleaved([&] { adapted->writeRegion(whole, raw.address()); },
                           [&] { Driver::get().toHost(host->data().data(), raw.ptr, bytes); }, 5);
    std::printf("bench %zu MiB: adapted read into device %.2f GiB/s, plain host->device %.2f GiB/s; "
                "adapted write from device %.2f GiB/s, plain device->host %.2f GiB/s\n",
                mib, gib / in.first, gib / in.second, gib / out.first, gib / out.second);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        Driver::get();
    } catch (Error& e) {
        std::printf("no driver: %s\n", e.what());
        return 2;
    }
    const size_t before = freeMemory();
    try {
        checkRoundTrips();
        checkCopyAndAdapt();
        checkRefusals();
        if (argc == 3 && std::strcmp(argv[1], "--bench") == 0)
            bench(std::strtoull(argv[2], nullptr, 10));
    } catch (std::exception& e) {
        expect(false, std::string("unexpected exception: ") + e.what());
    }
    expect(freeMemory() == before, "device memory given back once the views are gone");
    if (g_failures)
        return 1;
    std::printf("ok\n");
    return 0;
}
