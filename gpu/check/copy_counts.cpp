// Driver copies per transfer, counted by the counting driver, for each
// layout and road: what is contiguous or evenly pitched takes one copy.
#include <string>
#include <vector>

#include "check.h"
#include "host_view.h"
#include "quelbo/image_view.h"
#include "quelbo_cuda/cuda_image_factory.h"

namespace quelbo_cuda::check {

namespace {

using namespace quelbo;

// The driver copies f makes.
long copiesOf(const std::function<void()>& f)
{
    long const before = driverCopies();
    f();
    return driverCopies() - before;
}

void expectCopies(const std::string& what, long expected, const std::function<void()>& f)
{
    long const got = copiesOf(f);
    expect(got == expected, "copies per transfer, " + what + ": " + std::to_string(got) + " (expected " +
                                std::to_string(expected) + ")");
}

// A box written from and read into a buffer (host or device) of a view:
// each transfer takes `expected` copies, and the samples come back.
void expectBox(const std::string& what, std::shared_ptr<ImageView> const& view, RegionXu64 const& box,
               long expected, bool device = false)
{
    const size_t bytes = view->regionByteCount(box);
    auto const in = pattern(bytes, 6);
    std::vector<uint8_t> out(bytes);
    if (device) {
        DeviceBuffer dev(bytes);
        Driver::get().toDevice(dev.ptr, in.data(), bytes);
        expectCopies(what + ", written from a device buffer", expected, [&] { view->writeRegion(box, dev.address()); });
        Driver::get().zero(dev.ptr, bytes);
        expectCopies(what + ", read into a device buffer", expected, [&] { view->readRegion(box, dev.address()); });
        Driver::get().toHost(out.data(), dev.ptr, bytes);
    } else {
        expectCopies(what + ", written", expected, [&] { view->writeRegion(box, in.data()); });
        expectCopies(what + ", read", expected, [&] { view->readRegion(box, out.data()); });
    }
    expect(out == in, what + ": the samples come back");
}

} // namespace

void checkCopyCounts()
{
    const DataType u8(DataTypeId::UINT8), u16(DataTypeId::UINT16);
    auto const whole = [](std::shared_ptr<ImageView> const& v) { return RegionXu64::createFullRegion(v->shape()); };
    for (bool coalesced : {false, true}) {
        const std::string kind = coalesced ? "coalesced" : "plain";
        auto const make = [&](VectorXu64 const& shape, DataType type) {
            return coalesced ? CudaImageFactory::allocateCoalesced(shape, type)
                             : CudaImageFactory::allocate(shape, type);
        };
        auto const cube = make(vec({64, 48, 5}), u16);
        expectBox(kind + " [64, 48, 5], whole", cube, whole(cube), 1);
        RegionXu64 const box(vec({3, 2, 1}), vec({50, 40, 3}));
        expectBox(kind + " [64, 48, 5], a sub-box", cube, box, 1);
        expectBox(kind + " [64, 48, 5], a sub-box", cube, box, 1, true);
        expectBox(kind + " [64, 48, 5], a column", cube, RegionXu64(vec({5, 0, 2}), vec({1, 48, 1})), 1);
        auto const four = make(vec({8, 8, 16, 16}), u8);
        expectBox(kind + " [8, 8, 16, 16], whole", four, whole(four), 1);
        auto const slices = make(vec({8, 8, 4096}), u8);
        expectBox(kind + " [8, 8, 4096], slices 1 to 4095", slices, RegionXu64(vec({0, 0, 1}), vec({8, 8, 4095})), 1);
        // Three axes past the rows' run, none merging: the rows and the
        // longest other axis make each box copy, one per index of the third.
        auto const planes = make(vec({32, 16, 6, 7}), u8);
        expectBox(kind + " [32, 16, 6, 7], a sub-box of 7 planes of 4 slices", planes,
                  RegionXu64(vec({1, 1, 1, 0}), vec({30, 14, 4, 7})), 4);
    }
    // Through host memory: one copy per stage of 64 MiB, whatever the shape.
    auto const host = std::make_shared<HostView>(vec({8192, 8193, 1}), u8, false);
    std::shared_ptr<ImageView> copy;
    expectCopies("[8192, 8193, 1] without memory access, copied into GPU memory (two stages)", 2,
                 [&] { copy = CudaImageFactory::copyInCudaMemory(host); });
    std::vector<uint8_t> back(host->data().size(), 1);
    copy->readRegion(whole(copy), back.data());
    expect(back == host->data(), "the staged copy holds the samples");
    copy.reset();
    auto const memory = std::make_shared<HostView>(vec({64, 48, 5}), u16, true);
    memory->data() = pattern(memory->data().size(), 2);
    expectCopies("[64, 48, 5] in memory, copied into GPU memory", 1,
                 [&] { copy = CudaImageFactory::copyInCudaMemory(memory); });
    expectBox("an adapted view in memory, a sub-box", CudaImageFactory::adaptToCuda(memory),
              RegionXu64(vec({3, 2, 1}), vec({50, 40, 3})), 1, true);
    // A pitch beyond the device's is refused before the driver is called.
    Driver& d = Driver::get();
    DeviceBuffer dev(64);
    Driver::Plane to, from;
    to.device = dev.ptr;
    from.device = dev.ptr;
    to.pitch = d.maxPitch() + 1;
    from.pitch = 8;
    expectCopies("a pitch beyond the device's", 0, [&] {
        expectThrow<Error>([&] { d.copy(to, from, 8, 2); }, "a rectangular copy of a pitch beyond the device's");
    });
}

} // namespace quelbo_cuda::check
