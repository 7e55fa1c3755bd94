// Image properties: spatial directions and calibration, image information.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/image_type.h"
#include "quelbo/lazy_shared.h"
#include "quelbo/vector.h"

namespace quelbo {

// The three direction vectors of an image's axis system.
class QUELBO_API SpatialDirections
{
public:
    // Axes along X (1, 0, 0), Y (0, 1, 0) and Z (0, 0, 1).
    SpatialDirections();
    // The slice direction is the cross product of the column and row
    // directions, normalized when it is not zero.
    SpatialDirections(Vector3d const& columnDirection, Vector3d const& rowDirection);
    SpatialDirections(SpatialDirections const& other) = default;
    SpatialDirections(SpatialDirections&& other) = default;
    SpatialDirections& operator=(SpatialDirections const& other) = default;
    SpatialDirections& operator=(SpatialDirections&& other) = default;

    // The direction vector following the column dimension (X)
    Vector3d const& columnDirection() const { return m_columnDir; }
    // The direction vector following the row dimension (Y)
    Vector3d const& rowDirection() const { return m_rowDir; }
    // The direction vector following the slice dimension (Z)
    Vector3d const& sliceDirection() const { return m_sliceDir; }

    // Element-wise exact comparison of the three vectors.
    bool operator==(SpatialDirections const& other) const;
    bool operator!=(SpatialDirections const& other) const { return !(*this == other); }

    std::string toString() const;

    Vector3d m_columnDir;
    Vector3d m_rowDir;
    Vector3d m_sliceDir;
};

// Places an image in space: origin, spacing between elements, axis directions
// and the unit of the axes.
class QUELBO_API SpatialCalibrationProperty
{
public:
    // origin {0, 0, 0}, spacing {1, 1, 1}, default directions, empty unit
    SpatialCalibrationProperty();
    explicit SpatialCalibrationProperty(Vector3d const& origin);
    SpatialCalibrationProperty(Vector3d const& origin, Vector3d const& spacing);
    SpatialCalibrationProperty(Vector3d const& origin, Vector3d const& spacing, SpatialDirections const& directions);
    SpatialCalibrationProperty(Vector3d const& origin, Vector3d const& spacing, SpatialDirections const& directions,
                               std::string const& unit);
    SpatialCalibrationProperty(SpatialCalibrationProperty const& other);
    // The source is left holding the default values.
    SpatialCalibrationProperty(SpatialCalibrationProperty&& other);
    ~SpatialCalibrationProperty();
    SpatialCalibrationProperty& operator=(SpatialCalibrationProperty const& other);

    Vector3d const& origin() const;
    Vector3d const& spacing() const;
    SpatialDirections const& directions() const;
    std::string const& unit() const;

    void setOrigin(Vector3d const& origin);
    void setSpacing(Vector3d const& spacing);
    void setDirections(SpatialDirections const& directions);
    void setUnit(std::string const& unit);

    // Exact comparison of every field.
    bool operator==(SpatialCalibrationProperty const& other) const;
    bool operator!=(SpatialCalibrationProperty const& other) const { return !(*this == other); }

    std::string toString() const;

private:
    struct Private;
    Private* m_private;
};

// The meaning of an image's samples. Values are numbered in blocks of sixteen
// by colour family; any other 32-bit value is accepted and counts as UNKNOWN.
enum class ImageInterpretation : int32_t
{
    UNKNOWN = 0,
    GRAYSCALE = 1,
    LABEL = 2,
    BINARY = 3,
    CIE_XYZ = 17,
    CIE_XYZ_CHROMATICITY = 18,
    CIE_UVW = 20,
    CIE_LUV = 21,
    CIE_LAB = 22,
    RGB = 33,
    RGB_CHROMATICITY = 34,
    SRGB = 35,
    YUV = 49,
    YCC = 50,
    YIQ = 51,
    YDD = 52,
    HSL = 65,
    HSV = 66,
    CMYK = 81,
    MULTISPECTRAL = 255,
};

// How an image's samples are read: axes, interpretation, alpha, significant
// bit depth and value range of one component.
class QUELBO_API ImageInfoProperty
{
public:
    ImageInfoProperty(ImageType axes, ImageInterpretation interpretation, bool alpha, size_t bitDepth,
                      Vector2d const& valueRange);
    // Bit depth and value range from the type (see the DataType constructor).
    ImageInfoProperty(ImageType axes, ImageInterpretation interpretation, bool alpha, DataType dataType);
    // Defaults from a data type: axes UNKNOWN; GRAYSCALE for a type of one
    // component, UNKNOWN otherwise; no alpha; the type's bit depth and its
    // standard range (DataType::standardRange: the representable range of
    // integers, [0, 1] for floating point, [0, 0] when the type has none).
    explicit ImageInfoProperty(DataType dataType);
    // The interpretation and alpha as above, with the given axes.
    ImageInfoProperty(ImageType axes, DataType dataType);
    ImageInfoProperty(ImageInfoProperty const& other);
    // The source is left as the defaults of an unknown type.
    ImageInfoProperty(ImageInfoProperty&& other);
    ~ImageInfoProperty();
    ImageInfoProperty& operator=(ImageInfoProperty const& other);

    // Channels of one pixel: 1 for GRAYSCALE, LABEL and BINARY; 4 for CMYK;
    // 3 for every other colour interpretation (the CIE, RGB, YUV-like and
    // HSL/HSV families, chromaticities included); 0 for UNKNOWN,
    // MULTISPECTRAL and values outside the enumeration, which take any count.
    static size_t channelCount(ImageInterpretation interpretation);

    // Return an ImageType describing the interpretation of the axes of the image.
    ImageType axesInterpretation() const;
    void setAxesInterpretation(ImageType axes);
    ImageInterpretation interpretation() const;
    void setInterpretation(ImageInterpretation interpretation);
    bool hasAlpha() const;
    void setAlpha(bool alpha);
    size_t bitDepth() const;
    void setBitDepth(size_t bitDepth);
    Vector2d const& valueRange() const;
    void setValueRange(Vector2d const& range);

    // True when these properties can describe an image of that shape and type:
    // - the axes are UNKNOWN, or there are as many axes as the shape has
    //   dimensions;
    // - the interpretation is UNKNOWN or MULTISPECTRAL (any count), or its
    //   channel count, plus one with alpha, equals the type's element count or
    //   the size of the CHANNEL axis (when the axes have one);
    // - the bit depth is not above the type's.
    bool isCompatibleWith(VectorXu64 const& shape, DataType dataType) const;
    // The same test for an information of these values, without making one.
    static bool isCompatible(ImageType axes, ImageInterpretation interpretation, bool alpha, size_t bitDepth,
                             VectorXu64 const& shape, DataType dataType);

    bool operator==(ImageInfoProperty const& other) const;
    bool operator!=(ImageInfoProperty const& other) const { return !(*this == other); }

    std::string toString() const;

private:
    struct Private;
    Private* m_private;
};

// The property set of an image view: one calibration and one image information.
// Views and factories share it through std::shared_ptr.
class QUELBO_API ImageProperties
{
public:
    ImageProperties(SpatialCalibrationProperty const& calibration, ImageInfoProperty const& imageInfo);
    ImageProperties(ImageProperties const& other);
    // The source is left with default calibration and an unknown-type image information.
    ImageProperties(ImageProperties&& other);
    ~ImageProperties();
    ImageProperties& operator=(ImageProperties const& other);

    // Create a property set with all values defaulted, according to a data
    // type: default calibration, ImageInfoProperty(dataType).
    static std::shared_ptr<ImageProperties> fromDataType(DataType dataType);
    // Build a ImageProperties from a set of properties.
    static std::shared_ptr<ImageProperties> fromProperties(SpatialCalibrationProperty const& calibration,
                                                           ImageInfoProperty const& imageInfo);
    // Copy of properties with another calibration; InvalidArgument for an empty pointer.
    static std::shared_ptr<ImageProperties> fromProperties(std::shared_ptr<const ImageProperties> properties,
                                                           SpatialCalibrationProperty const& calibration);
    // Copy of properties with another image information; InvalidArgument for an empty pointer.
    static std::shared_ptr<ImageProperties> fromProperties(std::shared_ptr<const ImageProperties> properties,
                                                           ImageInfoProperty const& imageInfo);

    std::shared_ptr<ImageProperties> clone() const;

    // The members themselves: they keep their address for the object's life,
    // assignments copy into them.
    SpatialCalibrationProperty const& calibration() const;
    SpatialCalibrationProperty& calibration();
    ImageInfoProperty const& imageInfo() const;
    ImageInfoProperty& imageInfo();

    // See ImageInfoProperty::isCompatibleWith.
    bool isCompatibleWith(VectorXu64 const& shape, DataType dataType) const;
    // Error "<owner>: the properties do not fit the shape ... and type ..."
    // unless they are compatible (the factories' check of given properties).
    void checkFit(VectorXu64 const& shape, DataType dataType, std::string const& owner) const;

    bool operator==(ImageProperties const& other) const;
    bool operator!=(ImageProperties const& other) const { return !(*this == other); }

    std::string toString() const;

private:
    struct Private;
    Private* m_private;
};

// The properties of a view, made when first asked for (see LazyShared): a
// view that starts with the defaults of its data type keeps only what they
// are made from.
class QUELBO_API LazyImageProperties
{
public:
    // ImageProperties::fromDataType(dataType) with these axes.
    LazyImageProperties(DataType dataType, ImageType axes);
    // The same with this interpretation and alpha.
    LazyImageProperties(DataType dataType, ImageType axes, ImageInterpretation interpretation, bool alpha);
    // Properties made already (possibly empty).
    explicit LazyImageProperties(std::shared_ptr<ImageProperties> properties);
    LazyImageProperties(LazyImageProperties const&) = delete;
    LazyImageProperties& operator=(LazyImageProperties const&) = delete;

    std::shared_ptr<ImageProperties> const& get();
    // Replaces the properties, made or not.
    void set(std::shared_ptr<ImageProperties> properties) { m_properties.set(std::move(properties)); }
    // ImageProperties::isCompatibleWith of the properties, made or not.
    bool isCompatibleWith(VectorXu64 const& shape, DataType dataType) const;

private:
    LazyShared<ImageProperties> m_properties;
    DataType m_dataType;
    ImageType m_axes;
    ImageInterpretation m_interpretation;
    bool m_alpha;
};

} // namespace quelbo
