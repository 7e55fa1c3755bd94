// Boxes of samples moved between device and host memory in the fewest driver
// copies: the library's box walk finds the runs, the driver's rectangular and
// box copies take the evenly pitched ones whole.
#include "device_copies.h"

#include <vector>

#include "quelbo/box_runs.h"

namespace quelbo_cuda {

namespace {

using Axis = quelbo::BoxRuns::Axis;

// Rows of `width` bytes along the axis: no row overlaps the next, and the
// driver takes both pitches.
bool rowsFit(Axis const& rows, size_t width, size_t maxPitch)
{
    for (int64_t pitch : rows.stride)
        if (pitch < int64_t(width) || uint64_t(pitch) > maxPitch)
            return false;
    return true;
}

// Slices along the axis of the rows before: on both sides a whole number of
// pitches apart, no fewer than the rows.
bool slicesFit(Axis const& slices, Axis const& rows)
{
    for (int s = 0; s < 2; ++s)
        if (slices.stride[s] % rows.stride[s] != 0 || uint64_t(slices.stride[s] / rows.stride[s]) < rows.size)
            return false;
    return true;
}

} // namespace

Driver::Plane planeOf(const void* p)
{
    Driver::Plane plane;
    if (Driver::get().isDevicePointer(p))
        plane.device = reinterpret_cast<DevicePtr>(p);
    else
        plane.host = const_cast<void*>(p);
    return plane;
}

void copyBox(Driver::Plane const& dst, Driver::Plane const& src, uint64_t const* size, uint64_t const* dstStride,
             uint64_t const* srcStride, std::size_t n, std::size_t elementBytes)
{
    quelbo::BoxRuns const runs(size, dstStride, srcStride, n, elementBytes);
    if (runs.empty())
        return;
    Driver& driver = Driver::get();
    std::vector<Axis> const& axes = runs.axes();
    // A run dense on both sides is the width of a copy; else one element is.
    size_t const width = runs.dense() ? runs.runBytes() : elementBytes;
    size_t k = runs.dense() ? 1 : 0;
    Driver::Plane to = dst, from = src;
    size_t rows = 1, slices = 1;
    if (k < axes.size() && rowsFit(axes[k], width, driver.maxPitch())) {
        rows = size_t(axes[k].size);
        to.pitch = size_t(axes[k].stride[0]);
        from.pitch = size_t(axes[k].stride[1]);
        ++k;
        if (k < axes.size() && slicesFit(axes[k], axes[k - 1])) {
            slices = size_t(axes[k].size);
            to.height = size_t(axes[k].stride[0] / axes[k - 1].stride[0]);
            from.height = size_t(axes[k].stride[1] / axes[k - 1].stride[1]);
            ++k;
        }
    }
    // The axes left over, walked with runs of one element: one copy each.
    std::vector<uint64_t> loopSize{1}, loopDst{0}, loopSrc{0};
    for (; k < axes.size(); ++k) {
        loopSize.push_back(axes[k].size);
        loopDst.push_back(uint64_t(axes[k].stride[0]));
        loopSrc.push_back(uint64_t(axes[k].stride[1]));
    }
    quelbo::BoxRuns const copies(loopSize.data(), loopDst.data(), loopSrc.data(), loopSize.size(), width,
                                 quelbo::BoxRuns::Order::KEPT);
    copies.forEach([&](int64_t a, int64_t b, size_t) {
        driver.copy(to.shifted(a), from.shifted(b), width, rows, slices);
    });
}

} // namespace quelbo_cuda
