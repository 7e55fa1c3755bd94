// Read-only views of image properties: the getters of the wrapped object and
// nothing that changes it. A wrapper shows later changes made through other
// handles (it refers, it does not copy).
#pragma once

#include <memory>
#include <string>

#include "quelbo/image_properties.h"
#include "runtime/pyrt.h"
#include "runtime/type_text.h"

namespace quelbo {

// What keeps a value wrapper's object alive and tells whether it still
// exists: the shared object it is a member of (kept alive), and the handle it
// was taken from (kept alive; the object exists while that handle still
// points at it, so an explicit delete_ of the source leaves the wrapper
// refusing instead of reading freed memory).
class ReadonlyAnchor
{
public:
    ReadonlyAnchor() = default;
    ReadonlyAnchor(std::shared_ptr<const void> owner, PyObject* source, const void* target)
        : m_owner(std::move(owner)), m_source(source), m_target(target)
    {
        Py_XINCREF(m_source);
    }
    ReadonlyAnchor(ReadonlyAnchor const& other) : ReadonlyAnchor(other.m_owner, other.m_source, other.m_target) {}
    ReadonlyAnchor& operator=(ReadonlyAnchor const&) = delete;
    ~ReadonlyAnchor() { Py_XDECREF(m_source); }

    bool alive() const { return m_source == nullptr || reinterpret_cast<SwigPyObject*>(m_source)->ptr == m_target; }

private:
    std::shared_ptr<const void> m_owner;
    PyObject* m_source = nullptr; // a handle
    const void* m_target = nullptr;
};

class ReadonlySpatialCalibrationProperty
{
public:
    // Wrap the SpatialCalibrationProperty instance.
    explicit ReadonlySpatialCalibrationProperty(const SpatialCalibrationProperty& calibration,
                                                ReadonlyAnchor anchor = {})
        : m_private(calibration), m_anchor(std::move(anchor))
    {}

    // The wrapped object; null once its source is gone.
    const SpatialCalibrationProperty* pointer() const { return m_anchor.alive() ? &m_private : nullptr; }

    Vector3d get_origin() const { return m_private.origin(); }
    Vector3d get_spacing() const { return m_private.spacing(); }
    SpatialDirections get_directions() const { return m_private.directions(); }
    std::string get_unit() const { return m_private.unit(); }
    std::string toString() const { return m_private.toString(); }

    const SpatialCalibrationProperty& m_private;
    ReadonlyAnchor m_anchor;
};

class ReadonlyImageInfoProperty
{
public:
    // Wrap the ImageInfoProperty instance.
    explicit ReadonlyImageInfoProperty(const ImageInfoProperty& imageInfo, ReadonlyAnchor anchor = {})
        : m_private(imageInfo), m_anchor(std::move(anchor))
    {}

    const ImageInfoProperty* pointer() const { return m_anchor.alive() ? &m_private : nullptr; }

    ImageType get_axes_interpretation() const { return m_private.axesInterpretation(); }
    ImageInterpretation _get_interpretation() const { return m_private.interpretation(); }
    bool get_alpha() const { return m_private.hasAlpha(); }
    size_t get_bit_depth() const { return m_private.bitDepth(); }
    Vector2d get_value_range() const { return m_private.valueRange(); }
    std::string toString() const { return m_private.toString(); }

    const ImageInfoProperty& m_private;
    ReadonlyAnchor m_anchor;
};

class ReadonlyImageProperties
{
public:
    // Wrap the ImageProperties instance (one more owner of it); null refused.
    explicit ReadonlyImageProperties(std::shared_ptr<const ImageProperties> properties)
        : m_private(std::move(properties)),
          m_calibration(m_private->calibration(), ReadonlyAnchor(m_private, nullptr, nullptr)),
          m_imageInfo(m_private->imageInfo(), ReadonlyAnchor(m_private, nullptr, nullptr))
    {}

    std::shared_ptr<const ImageProperties> pointer() const { return m_private; }

    // Wrappers over the members, each keeping the properties alive.
    ReadonlySpatialCalibrationProperty get_calibration() const { return m_calibration; }
    ReadonlyImageInfoProperty get_image_info() const { return m_imageInfo; }
    std::shared_ptr<ImageProperties> clone() const { return m_private->clone(); }
    std::string toString() const { return m_private->toString(); }
    bool operator==(ReadonlyImageProperties const& other) const { return *m_private == *other.m_private; }
    bool operator==(ImageProperties const& other) const { return *m_private == other; }

    std::shared_ptr<const ImageProperties> m_private;
    ReadonlySpatialCalibrationProperty m_calibration;
    ReadonlyImageInfoProperty m_imageInfo;
};

} // namespace quelbo

namespace qw {
QW_NATIVE(quelbo::ReadonlyImageInfoProperty);
QW_NATIVE(quelbo::ReadonlyImageProperties);
QW_NATIVE(quelbo::ReadonlySpatialCalibrationProperty);
} // namespace qw
