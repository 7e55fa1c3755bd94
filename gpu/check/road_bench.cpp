// Every road of the library's copies timed against raw driver copies of the
// same bytes, interleaved in one run: the linear, coalesced, sub-box and
// per-plane transfers of GPU views, and the staged roads through host memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "host_view.h"
#include "quelbo/image_view.h"
#include "quelbo_cuda/cuda_image_factory.h"

namespace quelbo_cuda::check {

namespace {

using namespace quelbo;

// Seconds of one call of ours and of the anchor, timed in turn (each the
// best of `repeat`), after one call of each to warm up.
std::pair<double, double> interleaved(const std::function<void()>& ours, const std::function<void()>& anchor,
                                      int repeat = 5)
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

struct Bench
{
    double floor;

    // Prints "road NAME: ours X GiB/s, raw ANCHOR Y GiB/s, ratio R" for
    // `bytes` moved by each, and fails a ratio below the floor.
    void road(const std::string& name, size_t bytes, const std::function<void()>& ours, const std::string& anchor,
              const std::function<void()>& raw) const
    {
        auto const t = interleaved(ours, raw);
        const double gib = double(bytes) / double(1 << 30), ratio = t.second / t.first;
        std::printf("road %s: ours %.2f GiB/s, raw %s %.2f GiB/s, ratio %.2f\n", name.c_str(), gib / t.first,
                    anchor.c_str(), gib / t.second, ratio);
        if (floor > 0)
            expect(ratio >= floor, "road " + name + ": at least " + std::to_string(floor).substr(0, 4) +
                                       "x the raw copies' speed");
    }

    // A GPU view's box written from and read into host memory, against the
    // raw copies given the same device and host planes.
    void box(const std::string& name, std::shared_ptr<ImageView> const& view, RegionXu64 const& region,
             Driver::Plane device, const std::function<void(Driver::Plane const&, Driver::Plane const&)>& raw,
             const std::string& anchor) const
    {
        const size_t bytes = view->regionByteCount(region);
        std::vector<uint8_t> host = pattern(bytes, 1);
        Driver::Plane h;
        h.host = host.data();
        h.pitch = size_t(region.size()[0]) * view->sampleByteCount();
        h.height = region.dimensionCount() > 1 ? size_t(region.size()[1]) : 1;
        road(name + " write", bytes, [&] { view->writeRegion(region, host.data()); }, anchor,
             [&] { raw(device, h); });
        road(name + " read", bytes, [&] { view->readRegion(region, host.data()); }, anchor,
             [&] { raw(h, device); });
    }
};

// Device memory for the raw copies, zeroed as a view's is when made: both
// sides start with their pages in the same state.
struct RawBuffer : DeviceBuffer
{
    explicit RawBuffer(size_t n) : DeviceBuffer(n) { Driver::get().zero(ptr, n); }
};
struct PitchedBuffer
{
    PitchedBuffer(size_t width, size_t rows) : ptr(Driver::get().allocatePitched(width, rows, 1, pitch))
    {
        Driver::get().zero(ptr, pitch * rows);
    }
    ~PitchedBuffer() { Driver::get().release(ptr); }
    size_t pitch = 0;
    DevicePtr ptr;
};

} // namespace

void benchRoads(size_t mib, double floor)
{
    Bench const b{floor};
    Driver& d = Driver::get();
    const size_t bytes = mib << 20;
    const DataType u8(DataTypeId::UINT8);
    {
        auto const view = CudaImageFactory::allocate(vec({4096, bytes / 4096}), u8);
        RawBuffer raw(bytes);
        Driver::Plane p;
        p.device = raw.ptr;
        b.box("linear", view, RegionXu64::createFullRegion(view->shape()), p,
              [&](Driver::Plane const& to, Driver::Plane const& from) { d.copy(to, from, bytes); }, "linear copy");
    }
    {
        const size_t width = 4000, rows = bytes / width;
        auto const view = CudaImageFactory::allocateCoalesced(vec({width, rows}), u8);
        PitchedBuffer raw(width, rows);
        Driver::Plane p;
        p.device = raw.ptr;
        p.pitch = raw.pitch;
        b.box("coalesced", view, RegionXu64::createFullRegion(view->shape()), p,
              [&](Driver::Plane const& to, Driver::Plane const& from) { d.copy(to, from, width, rows); },
              "rectangular copy");
    }
    {
        // One box copy: the rows and slices within the border.
        const size_t n = 1024, depth = bytes / (n * n);
        auto const view = CudaImageFactory::allocate(vec({n, n, depth}), u8);
        RawBuffer raw(bytes);
        Driver::Plane p;
        p.device = raw.ptr + (1 + n + n * n);
        p.pitch = n;
        p.height = n;
        b.box("sub-box", view, RegionXu64(vec({1, 1, 1}), vec({n - 2, n - 2, depth - 2})), p,
              [&](Driver::Plane const& to, Driver::Plane const& from) { d.copy(to, from, n - 2, n - 2, depth - 2); },
              "box copy");
    }
    {
        // Planes of the last axis, the shortest past the rows: one box copy each.
        const size_t w = 1024, h = 256, depth = 64, planes = bytes / (w * h * depth);
        auto const view = CudaImageFactory::allocate(vec({w, h, depth, planes}), u8);
        RawBuffer raw(bytes);
        Driver::Plane p;
        p.device = raw.ptr + (1 + w + w * h);
        p.pitch = w;
        p.height = h;
        const size_t plane = w * h * depth, dense = (w - 2) * (h - 2) * (depth - 2);
        b.box("per-plane", view, RegionXu64(vec({1, 1, 1, 0}), vec({w - 2, h - 2, depth - 2, planes})), p,
              [&](Driver::Plane const& to, Driver::Plane const& from) {
                  for (size_t i = 0; i < planes; ++i)
                      d.copy(to.shifted(int64_t(i * (to.device ? plane : dense))),
                             from.shifted(int64_t(i * (from.device ? plane : dense))), w - 2, h - 2, depth - 2);
              },
              "box copies");
    }
    // Through host memory: the stage against the view read whole into host
    // memory and one raw copy (a view without memory access has no bytes a
    // raw copy could take).
    const VectorXu64 shape = vec({bytes / 8192, 8192, 1});
    auto const host = std::make_shared<HostView>(shape, u8, false);
    host->data() = pattern(bytes, 2);
    const RegionXu64 whole = RegionXu64::createFullRegion(shape);
    std::vector<uint8_t> buffer(bytes);
    b.road("staged copy into GPU memory", bytes, [&] { CudaImageFactory::copyInCudaMemory(host); },
           "allocation + host read + linear copy", [&] {
               DeviceBuffer fresh(bytes);
               host->readRegion(whole, buffer.data());
               d.toDevice(fresh.ptr, buffer.data(), bytes);
           });
    auto const adapted = CudaImageFactory::adaptToCuda(host);
    RawBuffer raw(bytes);
    b.road("staged read into a device buffer", bytes, [&] { adapted->readRegion(whole, raw.address()); },
           "host read + linear copy", [&] {
               host->readRegion(whole, buffer.data());
               d.toDevice(raw.ptr, buffer.data(), bytes);
           });
    b.road("staged write from a device buffer", bytes, [&] { adapted->writeRegion(whole, raw.address()); },
           "linear copy + host write", [&] {
               d.toHost(buffer.data(), raw.ptr, bytes);
               host->writeRegion(whole, buffer.data());
           });
    auto const memory = std::make_shared<HostView>(shape, u8, true);
    memory->data() = pattern(bytes, 3);
    b.road("copy into GPU memory from host memory", bytes, [&] { CudaImageFactory::copyInCudaMemory(memory); },
           "allocation + linear copy", [&] {
               DeviceBuffer fresh(bytes);
               d.toDevice(fresh.ptr, memory->data().data(), bytes);
           });
}

} // namespace quelbo_cuda::check
