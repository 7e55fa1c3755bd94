// Boxes of samples moved between device and host memory in the fewest driver
// copies: the library's box walk finds the runs, the driver's rectangular and
// box copies take the evenly pitched ones whole.
#include "device_copies.h"

#include <utility>
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

// Slices of those rows along the axis: on both sides a whole number of
// pitches apart, no fewer than the rows.
bool slicesFit(Axis const& slices, Axis const& rows)
{
    for (int s = 0; s < 2; ++s)
        if (slices.stride[s] % rows.stride[s] != 0 || slices.stride[s] / rows.stride[s] < int64_t(rows.size))
            return false;
    return true;
}

// The axes of a copy's rows and of its slices (axes.size() for none): of the
// axes from `first` on, the one or two that hold the most elements together
// where the driver takes them, the first such pair on a tie (any two, not
// only the next ones: the copies are the elements of the axes left over).
std::pair<size_t, size_t> rowsAndSlices(std::vector<Axis> const& axes, size_t first, size_t width, size_t maxPitch)
{
    size_t const none = axes.size();
    std::pair<size_t, size_t> best{none, none};
    uint64_t most = 1;
    for (size_t r = first; r < axes.size(); ++r) {
        if (!rowsFit(axes[r], width, maxPitch))
            continue;
        if (axes[r].size > most) {
            most = axes[r].size;
            best = {r, none};
        }
        for (size_t s = first; s < axes.size(); ++s)
            if (s != r && slicesFit(axes[s], axes[r]) && axes[s].size > most / axes[r].size) {
                most = axes[r].size * axes[s].size;
                best = {r, s};
            }
    }
    return best;
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
    size_t const first = runs.dense() ? 1 : 0;
    auto const [rowAxis, sliceAxis] = rowsAndSlices(axes, first, width, driver.maxPitch());
    size_t const none = axes.size();
    Driver::Plane to = dst, from = src;
    size_t rows = 1, slices = 1;
    if (rowAxis != none) {
        rows = size_t(axes[rowAxis].size);
        to.pitch = size_t(axes[rowAxis].stride[0]);
        from.pitch = size_t(axes[rowAxis].stride[1]);
    }
    if (sliceAxis != none) {
        slices = size_t(axes[sliceAxis].size);
        to.height = size_t(axes[sliceAxis].stride[0] / axes[rowAxis].stride[0]);
        from.height = size_t(axes[sliceAxis].stride[1] / axes[rowAxis].stride[1]);
    }
    // The axes left over, walked with runs of one element: one copy each.
    std::vector<uint64_t> loopSize{1}, loopDst{0}, loopSrc{0};
    for (size_t k = first; k < axes.size(); ++k) {
        if (k == rowAxis || k == sliceAxis)
            continue;
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
