// The pieces every derived view shares: the base class over source views
// that it keeps alive, the mapping of a rearranged view onto its source, and
// the factory's argument checks (private to the library).
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/image_view_factory.h"
#include "quelbo/multi_image_view.h"
#include "util/release.h"
#include "views/view_parts.h"
#include "views/view_reach.h"

namespace quelbo {
namespace derived {

using detail::OwnedDescription;

[[noreturn]] inline void invalid(std::string const& message)
{
    throw InvalidArgument("ImageViewFactory: " + message);
}

[[noreturn]] inline void failure(std::string const& message)
{
    throw Error("ImageViewFactory: " + message);
}

inline std::shared_ptr<ImageView> needView(std::shared_ptr<ImageView> view, char const* operation)
{
    if (!view)
        invalid(std::string(operation) + ": the image view is empty");
    return view;
}

constexpr uint64_t kReadWrite = uint64_t(ImageCapability::READ) | uint64_t(ImageCapability::WRITE);

inline ImageCapabilitySet readWriteOf(ImageView& view)
{
    return ImageCapabilitySet(view.capabilities().value() & kReadWrite);
}

// The scalar type of the components of `type`, each taking whole bytes of
// its own in a sample. Components packed by their bits (three 12-bit ones
// in five bytes) are not taken apart: Error, "<operation>: the components ...".
inline DataType componentsOf(DataType type, char const* operation)
{
    DataType const scalar = DataType::extractScalarType(type);
    if (type.byteCount() != type.elementCount() * scalar.byteCount())
        throw Error(std::string(operation) + ": the components of " + type.toString() +
                    " do not take whole bytes each");
    return scalar;
}

// A shape, origin or size without its value at `axis`.
inline VectorXu64 withoutAxis(VectorXu64 const& v, size_t axis)
{
    VectorXu64 out(v.size() - 1);
    for (size_t d = 0, k = 0; d < v.size(); ++d)
        if (d != axis)
            out.data()[k++] = v.data()[d];
    return out;
}

// A shape with `value` inserted at `axis`.
inline VectorXu64 withAxis(VectorXu64 const& v, size_t axis, uint64_t value)
{
    VectorXu64 out(v.size() + 1);
    for (size_t d = 0, k = 0; d < out.size(); ++d)
        out.data()[d] = d == axis ? value : v.data()[k++];
    return out;
}

// ------------------------------------------------------------ derived view

// A view that a derived view reads or writes, with the shape and type the
// derived view was made over: its layout of that view's samples holds
// only as long as the view keeps them.
struct Footing
{
    ImageView* view;
    VectorXu64 shape;
    DataType type;
};

// A view with a shape, type, capabilities, properties and metadata of its
// own, over one or more source views that it keeps alive. Every transfer
// first finds each view it stands on as it was (else Error), then goes to
// the kind's pull (towards the caller) or push. A caller's buffer that
// shares memory with what the view reaches is moved as if the samples had
// been copied first (numpy's rule): through a copy of the transfer, unless
// the kind moves it in one copy that keeps to the rule itself.
class DerivedView : public ImageView, public detail::Reaching
{
public:
    DerivedView(char const* name, std::vector<std::shared_ptr<ImageView>> sources, ImageCapabilitySet caps,
                VectorXu64 shape, DataType type, std::shared_ptr<const ImageProperties> properties,
                std::shared_ptr<const MetadataNode> metadata, ImageView* calls = nullptr)
        : ImageView(originOf(sources), name, parentsOf(sources)), m_name(name), m_sources(std::move(sources)),
          m_caps(caps), m_shape(std::move(shape)), m_type(type),
          m_description(std::move(properties), std::move(metadata))
    {
        uint64_t common = ~uint64_t(0);
        std::vector<ImageView*> called;
        for (auto const& s : m_sources) {
            m_footings.push_back({s.get(), s->shape(), s->dataType()});
            common &= s->parallelCapabilities().value();
            called.push_back(s.get());
        }
        // The transfers call the sources, or the one view the kind names.
        passesTo(name, calls ? std::vector<ImageView*>{calls} : called);
        uint64_t allowed = uint64_t(ParallelAccessCapability::PARALLEL_READ);
        if (m_caps.has(ImageCapability::WRITE))
            allowed |= uint64_t(ParallelAccessCapability::PARALLEL_WRITE);
        m_parallel = ParallelAccessCapabilitySet(common & allowed);
    }
    // A chain of derived views goes without recursion.
    ~DerivedView() override { util::release(m_sources); }

    ImageCapabilitySet capabilities() const override { return m_caps; }
    VectorXu64 const& shape() override { return m_shape; }
    DataType dataType() override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() override { return m_description.properties(); }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_description.metadata(m_caps); }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        m_description.setProperties(m_caps, std::move(properties));
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        m_description.setMetadata(m_caps, std::move(metadata));
    }
    // "ImageView: writeRegion needs the WRITE capability", a sample
    // transfer named by its region entry.
    std::string refusal(Transfer transfer) const override
    {
        Transfer const entry = regionOf(transfer);
        return detail::needsCapabilityText("ImageView", nameOf(entry),
                                           entry == Transfer::READ_REGION ? "READ" : "WRITE");
    }

    // Concurrent reads are as safe as on every source; writes when the view
    // writes and every source allows them (as the sources told when the view
    // was made: a chain of views answers without walking it).
    ParallelAccessCapabilitySet parallelCapabilities() override { return m_parallel; }

    // The sources, by default.
    void reachInto(detail::Reach&, std::vector<ImageView*>& through) override
    {
        for (auto const& s : m_sources)
            through.push_back(s.get());
    }

    // The view whose samples are, index for index, the `unit` at
    // `byteOffset` in every sample of this one (a frame of an interlace):
    // a view of that part can go there and leave the other parts alone.
    virtual std::shared_ptr<ImageView> partAt(size_t /*byteOffset*/, DataType /*unit*/) { return nullptr; }
    // Whether two parts of this view's samples may be the same bytes (frames
    // of an interlace that reach the same memory): writing some parts back
    // as read, around the others, may then undo those.
    virtual bool partsMayMeet() { return false; }

    // What this view recorded of a view it stands on.
    Footing const& footingOf(ImageView const& view) const
    {
        return *std::find_if(m_footings.begin(), m_footings.end(), [&](Footing const& f) { return f.view == &view; });
    }

protected:
    ImageView& source(size_t i = 0) { return *m_sources[i]; }
    std::vector<std::shared_ptr<ImageView>> const& sources() const { return m_sources; }

    void load(RegionXu64 const& region, uint8_t* dst) final
    {
        settle();
        moveChecked(region, dst, [&](uint8_t* to) { pull(region, to); });
    }
    void store(RegionXu64 const& region, const uint8_t* src) final
    {
        settle();
        moveChecked(region, src, [&](const uint8_t* from) { push(region, from); });
    }
    // The kind's transfers, once its footings hold.
    virtual void pull(RegionXu64 const& region, uint8_t* dst) = 0;
    virtual void push(RegionXu64 const& region, const uint8_t* src) = 0;
    // Whether the kind moves every transfer in one copy between the caller's
    // buffer and memory (a RegionCopier's, which keeps to numpy's rule), or
    // hands it whole to one view that does.
    virtual bool movesInOneCopy() { return false; }

    // Another view the kind reaches past its sources, as `as` recorded it.
    void standOn(Footing as) { m_footings.push_back(std::move(as)); }

private:
    static ViewDataOrigin originOf(std::vector<std::shared_ptr<ImageView>> const& sources)
    {
        if (sources.size() != 1)
            return ViewDataOrigin::COMPOSITE;
        return detail::dataOriginOf(*sources.front());
    }
    static std::vector<std::shared_ptr<ViewOriginExtension>>
    parentsOf(std::vector<std::shared_ptr<ImageView>> const& sources)
    {
        std::vector<std::shared_ptr<ViewOriginExtension>> parents;
        for (auto const& s : sources)
            parents.push_back(s->viewOrigin());
        return parents;
    }

    // A transfer of several steps whose caller's buffer shares memory that
    // it reaches goes through a copy of the buffer; the views it reaches
    // then take their buffers as checked. A transfer that a view above
    // checked, or that the kind moves in one copy, goes as it is.
    template <class Byte, class Move>
    void moveChecked(RegionXu64 const& region, Byte* buffer, Move const& move)
    {
        if (detail::CheckedTransfer::active() || movesInOneCopy())
            return move(buffer);
        size_t const bytes = regionByteCount(region);
        bool const shared = detail::reachOf(*this).meets(detail::spanOf(buffer, bytes));
        detail::CheckedTransfer checked;
        detail::moveApart(buffer, bytes, shared, move);
    }

    // Error unless every view stood on keeps the shape and type recorded.
    void settle()
    {
        for (Footing const& f : m_footings) {
            if (f.view->shape() == f.shape && f.view->dataType() == f.type)
                continue;
            throw Error("ImageView: the " + std::string(m_name) + " view was made over a view of shape " +
                        f.shape.toString() + " and type " + f.type.toString() + ", which is now of shape " +
                        f.view->shape().toString() + " and type " + f.view->dataType().toString());
        }
    }

    char const* m_name;
    std::vector<std::shared_ptr<ImageView>> m_sources;
    std::vector<Footing> m_footings;
    ImageCapabilitySet m_caps;
    ParallelAccessCapabilitySet m_parallel;
    VectorXu64 m_shape;
    DataType m_type;
    OwnedDescription m_description;
};

// A derived view that moves a region alike both ways, between the caller's
// dense buffer and its sources: Kind::move(region, dense) for a dense buffer
// of mutable bytes (loading, towards the caller) or of constant ones
// (storing).
template <class Kind>
class MovingView : public DerivedView
{
public:
    using DerivedView::DerivedView;

protected:
    void pull(RegionXu64 const& region, uint8_t* dst) override { static_cast<Kind&>(*this).move(region, dst); }
    void push(RegionXu64 const& region, const uint8_t* src) override { static_cast<Kind&>(*this).move(region, src); }
};

// ------------------------------------------------------------ mapped view

// One axis of a mapping: a dimension of the source walked by `step` samples,
// or (source < 0) the components inside a sample, `step` bytes apart.
struct MapAxis
{
    int source;
    int64_t step;
};

// Where the samples of a mapped view lie in its source: view index i holds
// the unit at source index start + sum(step * i) (per source dimension),
// byteOffset bytes into that sample. With `inner`, each sample of the view
// is innerCount units of the source along one more axis.
struct Mapping
{
    std::vector<MapAxis> axes; // one per view dimension
    std::vector<int64_t> start;
    size_t byteOffset = 0;
    DataType unit; // the type of one unit moved
    bool hasInner = false;
    MapAxis inner{0, 0};
    uint64_t innerCount = 1;
};

// The identity mapping of a view's dimensions onto its source's.
Mapping identityMapping(ImageView& source);

// A view rearranging the samples of `source` as `mapping` says.
std::shared_ptr<ImageView> mapped(char const* name, std::shared_ptr<ImageView> source, ImageCapabilitySet caps,
                                  VectorXu64 shape, DataType type, std::shared_ptr<const ImageProperties> properties,
                                  Mapping mapping);

// The view's axes interpretation when it names every dimension, else UNKNOWN.
ImageType axesOf(ImageView& view);

// Fits properties to a view of `shape` and `type`: axes of another
// dimension count become UNKNOWN, a bit depth above the type's the type's,
// and an interpretation whose channels (with alpha) neither the components
// nor the CHANNEL axis hold any more UNKNOWN, without alpha.
void fit(ImageProperties& properties, VectorXu64 const& shape, DataType type);

// Properties of a view of `shape` and `type` derived from `source`: the
// source's with `axes` (by default its own), fitted to the view.
std::shared_ptr<ImageProperties> describe(ImageView& source, ImageType axes, VectorXu64 const& shape, DataType type);
std::shared_ptr<ImageProperties> describe(ImageView& source, VectorXu64 const& shape, DataType type);

// A slice of a view at one position along one dimension, without it.
std::shared_ptr<ImageView> sliceOf(std::shared_ptr<ImageView> view, size_t axis, uint64_t position);

// One component of every sample of a view.
std::shared_ptr<ImageView> channelOf(std::shared_ptr<ImageView> view, size_t index);

// The source offering only `kept` (READ or WRITE) of its capabilities.
std::shared_ptr<ImageView> restricted(std::shared_ptr<ImageView> source, ImageCapability kept);

} // namespace derived
} // namespace quelbo
