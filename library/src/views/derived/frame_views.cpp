// Views joining the frames of a multi-image view: stacked along a new dimension, or interlaced as components.
#include <algorithm>
#include <string>
#include <type_traits>

#include "quelbo/region_copier.h"
#include "util/parallel_for.h"
#include "values/chunks.h"
#include "values/copy_kernels.h"
#include "views/ancestry.h"
#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

namespace {

// ------------------------------------------------------ frames of a multi view

std::vector<std::shared_ptr<ImageView>> framesOf(std::shared_ptr<MultiImageView> const& multi, char const* operation)
{
    if (!multi)
        invalid(std::string(operation) + ": the multi-image view is empty");
    std::vector<std::shared_ptr<ImageView>> frames;
    for (size_t i = 0, n = multi->frameCount(); i < n; ++i)
        frames.push_back(multi->frame(i));
    if (frames.empty())
        invalid(std::string(operation) + ": the multi-image view has no frame");
    VectorXu64 const& shape = frames.front()->shape();
    DataType const type = frames.front()->dataType();
    for (auto const& f : frames) {
        if (!f)
            invalid(std::string(operation) + ": a frame is empty");
        if (f->shape() != shape || f->dataType() != type)
            invalid(std::string(operation) + ": the frames differ in shape or data type");
    }
    return frames;
}

ImageCapabilitySet commonReadWrite(std::vector<std::shared_ptr<ImageView>> const& frames)
{
    uint64_t caps = kReadWrite;
    for (auto const& f : frames)
        caps &= f->capabilities().value();
    return ImageCapabilitySet(caps);
}

// Whether no two views can reach the same bytes: each pair reaches memory
// alone and in spans apart, or the dependency graph tells them apart (they
// share no ancestor). Memory the caller lent is apart by its addresses only
// where `lentByAddress` (as numpy tells it): one file it mapped twice is
// the same bytes at two addresses.
bool apart(std::vector<std::shared_ptr<ImageView>> const& views, bool lentByAddress = true)
{
    size_t const n = views.size();
    std::vector<detail::Reach> reach;
    for (auto const& v : views)
        reach.push_back(detail::reachOf(*v));
    std::vector<std::unique_ptr<detail::Ancestry>> ancestry(n);
    auto ancestryOf = [&](size_t i) -> detail::Ancestry const& {
        if (!ancestry[i])
            ancestry[i] = std::make_unique<detail::Ancestry>(detail::ancestryOf(*views[i]));
        return *ancestry[i];
    };
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            if (reach[i].complete && reach[j].complete && !reach[i].meets(reach[j]) &&
                (lentByAddress || (!ancestryOf(i).incomplete && !ancestryOf(j).incomplete)))
                continue;
            if (views[i] == views[j] || ancestryOf(i).against(ancestryOf(j)) != CommonAncestorStatus::SHARE_NO_ANCESTOR)
                return false;
        }
    }
    return true;
}

// The frames along a new dimension at `axis`; each frame's samples go to
// their slab of the destination.
class StackView final : public MovingView<StackView>
{
public:
    StackView(std::vector<std::shared_ptr<ImageView>> frames, size_t axis, VectorXu64 shape,
              std::shared_ptr<const ImageProperties> properties, size_t threads)
        : MovingView("Stack", frames, commonReadWrite(frames), std::move(shape), frames.front()->dataType(),
                      std::move(properties), detail::metadataOf(*frames.front())),
          m_axis(axis), m_threads(threads)
    {}

private:
    friend MovingView<StackView>;

    template <class Byte>
    void move(RegionXu64 const& region, Byte* dense)
    {
        constexpr bool toView = !std::is_const_v<Byte>;
        size_t const n = region.dimensionCount();
        size_t const bytes = dataType().byteCount();
        uint64_t const first = region.origin().data()[m_axis];
        uint64_t const count = region.size().data()[m_axis];
        // The frame's region: the view's without the stacking axis.
        RegionXu64 const frameRegion(withoutAxis(region.origin(), m_axis), withoutAxis(region.size(), m_axis));
        VectorXu64 const viewStrides = detail::denseStrides(region.size(), bytes);
        uint64_t const slab = viewStrides.data()[m_axis];
        bool const contiguous = m_axis == n - 1;
        // The slab of one frame inside the dense region, as an indexer.
        VectorXu64 slabShape(region.size());
        slabShape.data()[m_axis] = 1;
        Indexer const slabSide(slabShape, dataType(), viewStrides, detail::identityOrder(n));
        Indexer const frameSide(slabShape, dataType());
        VectorXu64 const zero(n);
        size_t const threads =
            concurrent(toView) ? std::min(m_threads == 0 ? util::machineThreads() : m_threads, util::machineThreads()) : 1;
        util::parallelFor(size_t(count), threads, [&](size_t i) {
            ImageView& frame = *sources()[first + i];
            Byte* at = dense + i * slab;
            if (contiguous) {
                if constexpr (toView)
                    frame.readRegion(frameRegion, at);
                else
                    frame.writeRegion(frameRegion, at);
                return;
            }
            detail::Scratch own(frame.regionByteCount(frameRegion));
            if constexpr (toView) {
                frame.readRegion(frameRegion, own.data());
                RegionCopier(frameSide, slabSide, zero, zero, slabShape, dataType()).copy(own.data(), at);
            } else {
                RegionCopier(slabSide, frameSide, zero, zero, slabShape, dataType()).copy(at, own.data());
                frame.writeRegion(frameRegion, own.data());
            }
        });
    }

    // Frames are read side by side when each allows it, and written side by
    // side only when, besides, no two of them can reach the same bytes;
    // otherwise they are written in order, and the last frame wins.
    // THREAD_SAFE is not enough: two locked frames may share one source.
    bool concurrent(bool reading)
    {
        uint64_t const side =
            uint64_t(reading ? ParallelAccessCapability::PARALLEL_READ : ParallelAccessCapability::PARALLEL_WRITE);
        for (auto const& frame : sources())
            if (!(frame->parallelCapabilities().value() & side))
                return false;
        return reading || apart(sources());
    }

    size_t m_axis;
    size_t m_threads;
};

std::shared_ptr<ImageView> stackFrames(std::shared_ptr<MultiImageView> multi, ImageDimension* dimension, size_t threads)
{
    auto frames = framesOf(multi, "stack");
    ImageView& first = *frames.front();
    size_t const n = first.dimensionCount();
    ImageType const axes = axesOf(first);
    size_t axis = n;
    ImageType newAxes = ImageTypeId::UNKNOWN;
    if (dimension && axes != ImageTypeId::UNKNOWN) {
        if (*dimension < ImageDimension::COLUMN || *dimension > ImageDimension::SEQUENCE)
            invalid("stack: unknown dimension " + std::to_string(int(*dimension)));
        if (axes.has(*dimension))
            invalid("stack: the frames already have the dimension " + std::to_string(int(*dimension)));
        newAxes = axes | *dimension;
        axis = newAxes.indexDimension(*dimension);
    }
    VectorXu64 shape = withAxis(first.shape(), axis, frames.size());
    auto p = describe(first, newAxes, shape, first.dataType());
    if (dimension && *dimension == ImageDimension::CHANNEL && frames.size() > 1)
        p->imageInfo().setInterpretation(ImageInterpretation::UNKNOWN);
    return std::make_shared<StackView>(std::move(frames), axis, std::move(shape), std::move(p), threads);
}

// The frames as the components of one vector sample.
class InterlaceView final : public MovingView<InterlaceView>
{
public:
    InterlaceView(std::vector<std::shared_ptr<ImageView>> frames, DataType type,
                  std::shared_ptr<const ImageProperties> properties)
        : MovingView("Interlace", frames, commonReadWrite(frames), frames.front()->shape(), type,
                      std::move(properties), detail::metadataOf(*frames.front()))
    {}

    // Component i of every sample is frame i's sample.
    std::shared_ptr<ImageView> partAt(size_t byteOffset, DataType unit) override
    {
        size_t const bytes = unit.byteCount();
        if (unit != sources().front()->dataType() || byteOffset % bytes != 0 || byteOffset / bytes >= sources().size())
            return nullptr;
        return sources()[byteOffset / bytes];
    }
    // A channel that would lose its write costs more than one that does not
    // write: frames over lent memory are not taken apart by their addresses.
    bool partsMayMeet() override { return !apart(sources(), false); }

private:
    friend MovingView<InterlaceView>;

    // A chunk of the region at a time, while its samples stay in the cache:
    // a frame holding the chunk in memory is read from there, any other
    // through its part of a scratch of one chunk; writes go a frame at a
    // time through the scratch.
    template <class Byte>
    void move(RegionXu64 const& region, Byte* dense)
    {
        constexpr bool toView = !std::is_const_v<Byte>;
        size_t const unit = sources().front()->sampleByteCount();
        size_t const sample = sampleByteCount(), frames = sources().size();
        detail::Scratch own;
        std::vector<const uint8_t*> planes(frames);
        detail::forEachChunk(region, detail::chunkSamples(sample), [&](RegionXu64 const& part, uint64_t at) {
            uint64_t const count = part.elementCount();
            Byte* const samples = dense + at * sample;
            auto mine = [&](size_t i) {
                own.resize(size_t(count) * sample);
                return own.data() + i * size_t(count) * unit;
            };
            for (size_t i = 0; i < frames; ++i) {
                ImageView& frame = *sources()[i];
                if constexpr (!toView) {
                    detail::copyElements(samples + i * unit, mine(i), count, int64_t(sample), int64_t(unit), unit);
                    frame.writeRegion(part, mine(i));
                } else if (!(planes[i] = detail::denseInMemory(frame, part))) {
                    frame.readRegion(part, mine(i));
                    planes[i] = mine(i);
                }
            }
            if constexpr (toView)
                detail::interleave(planes.data(), frames, samples, count, unit);
        });
    }
};

std::shared_ptr<ImageView> interlaceFrames(std::shared_ptr<MultiImageView> multi, ImageInterpretation interpretation,
                                           bool alpha)
{
    auto frames = framesOf(multi, "interlace");
    ImageView& first = *frames.front();
    DataType const type = first.dataType();
    if (!type.isScalar())
        invalid("interlace: the frames are not scalar");
    if (axesOf(first).has(ImageDimension::CHANNEL))
        invalid("interlace: the frames have a CHANNEL dimension");
    if (frames.size() > 255)
        invalid("interlace: more than 255 frames");
    DataType const vector(type.primitiveType(), type.bitDepth(), frames.size());
    componentsOf(vector, "ImageViewFactory: interlace");
    // The interpretation given is the caller's: one it cannot have is refused.
    auto p = describe(first, first.shape(), vector);
    ImageInfoProperty& info = p->imageInfo();
    if (!ImageInfoProperty::isCompatible(info.axesInterpretation(), interpretation, alpha, info.bitDepth(),
                                         first.shape(), vector))
        invalid("interlace: the interpretation " + std::to_string(int32_t(interpretation)) +
                (alpha ? " with alpha" : "") + " takes " +
                std::to_string(ImageInfoProperty::channelCount(interpretation) + (alpha ? 1 : 0)) +
                " components, not the " + std::to_string(frames.size()) + " frames");
    info.setInterpretation(interpretation);
    info.setAlpha(alpha);
    return std::make_shared<InterlaceView>(std::move(frames), vector, std::move(p));
}

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::interlace(std::shared_ptr<MultiImageView> multiView)
{
    return interlaceFrames(std::move(multiView), ImageInterpretation::UNKNOWN, false);
}

std::shared_ptr<ImageView> ImageViewFactory::interlace(std::shared_ptr<MultiImageView> multiView,
                                                       ImageInterpretation newInterpretation, bool hasAlpha)
{
    return interlaceFrames(std::move(multiView), newInterpretation, hasAlpha);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multiView)
{
    return stackFrames(std::move(multiView), nullptr, 0);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multiView,
                                                   ImageDimension newDimension)
{
    return stackFrames(std::move(multiView), &newDimension, 0);
}

std::shared_ptr<ImageView> ImageViewFactory::stack(std::shared_ptr<MultiImageView> multiView,
                                                   ImageDimension newDimension, size_t threadCount)
{
    return stackFrames(std::move(multiView), &newDimension, threadCount);
}

} // namespace quelbo
