#pragma once
#include <cstddef>
#include <memory>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/image_type.h"
#include "quelbo/image_view.h"
#include "quelbo/region.h"
#include "quelbo/vector.h"

namespace quelbo {

class ImageProperties;
class MetadataNode;
class MultiImageView;
enum class ImageInterpretation : int32_t;

// Views derived from other views without image memory of their own: each
// keeps its sources alive and reads (and, where its capabilities say so,
// writes) through them at each call. Every derivation names its sources as
// the parents of its view origin. An empty source is InvalidArgument.
class QUELBO_API DerivedViews
{
public:
    // Every operation of the result runs under one lock; the capabilities are
    // the source's, the parallel access adds THREAD_SAFE.
    static std::shared_ptr<ImageView> makeThreadSafe(std::shared_ptr<ImageView> image);

    // The samples in reverse order along one dimension: READ only. Error
    // without READ; InvalidArgument for an index not below the dimension
    // count, or an image type that lacks the dimension.
    static std::shared_ptr<ImageView> flip(std::shared_ptr<ImageView> image, size_t dimensionIndex);
    static std::shared_ptr<ImageView> flip(std::shared_ptr<ImageView> image, ImageDimension dimension);

    // Every step-th sample along each dimension but CHANNEL (sizes rounded
    // up): READ only. InvalidArgument for a step of 0 or larger than such a
    // dimension.
    static std::shared_ptr<ImageView> subSample(std::shared_ptr<ImageView> image, size_t step);

    // The dimensions named by the list (one per dimension of the image, in
    // its order) put in canonical order. Error when the count differs,
    // InvalidArgument for an unknown or repeated dimension.
    static std::shared_ptr<ImageView> reinterpretAxes(std::shared_ptr<ImageView> image,
                                                      ImageDimension const* dimensions,
                                                      size_t count);
    // The same samples with another image type (UNKNOWN fits any view);
    // Error when the type's dimension count differs.
    static std::shared_ptr<ImageView> reinterpret(std::shared_ptr<ImageView> image, ImageType newImageType);

    // Vector samples as scalars along a new CHANNEL dimension: READ only.
    static std::shared_ptr<ImageView> disassembleChannels(std::shared_ptr<ImageView> image);
    // The CHANNEL dimension (else the last) packed into vector samples: READ only.
    static std::shared_ptr<ImageView> assembleChannels(std::shared_ptr<ImageView> image);

    // A box of the image; the adjusted form drops the dimensions of size 1.
    static std::shared_ptr<ImageView> extractAdjustedRegion(std::shared_ptr<ImageView> view,
                                                            RegionXu64 const& region);
    static std::shared_ptr<ImageView> extractRegion(std::shared_ptr<ImageView> view, RegionXu64 const& region);
    // One component of vector samples.
    static std::shared_ptr<ImageView> extractChannel(std::shared_ptr<ImageView> view, size_t idxChannel);

    // Samples mapped linearly from the source's value range onto the
    // standard range of type; values stored into an integer type saturate,
    // NaN gives 0.
    static std::shared_ptr<ImageView> adaptDataType(std::shared_ptr<ImageView> view, DataType type);
    // inputRange mapped linearly onto outputRange (no clamping but the
    // saturation of integer types).
    static std::shared_ptr<ImageView> adaptDynamicRange(std::shared_ptr<ImageView> view,
                                                        DataType type,
                                                        Vector2d const& inputRange,
                                                        Vector2d const& outputRange);

    // The same view with other properties (a clone of the source's when
    // empty) and metadata. Error when the properties do not fit.
    static std::shared_ptr<ImageView> fromImageView(std::shared_ptr<ImageView> view,
                                                    std::shared_ptr<const ImageProperties> properties,
                                                    std::shared_ptr<const MetadataNode> metadata);

    // The frames as the components of one vector sample. InvalidArgument
    // for frames of different shape or type, with CHANNEL, or not scalar.
    static std::shared_ptr<ImageView> interlace(std::shared_ptr<MultiImageView> multiView);
    static std::shared_ptr<ImageView> interlace(std::shared_ptr<MultiImageView> multiView,
                                                ImageInterpretation newInterpretation,
                                                bool hasAlpha);

    // The frames along a new dimension (last, image type UNKNOWN, when none
    // is given). threadCount 0 uses the machine's cores, 1 no thread; counts
    // are capped to the machine. InvalidArgument for frames of different
    // shape or type, or no frame.
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multiView);
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multiView, ImageDimension newDimension);
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multiView,
                                            ImageDimension newDimension,
                                            size_t threadCount);
};

} // namespace quelbo
