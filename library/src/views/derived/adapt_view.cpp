// Views adapting the values of their source to another type or range.
#include <cmath>
#include <cstring>
#include <limits>

#include "quelbo/data_type_traits.h"
#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

namespace {

// ------------------------------------------------------------ adapt view

// Loads and stores one numeric component as a double; integer stores round
// and saturate, NaN giving 0.
using LoadFn = double (*)(const uint8_t*);
using StoreFn = void (*)(double, uint8_t*);

template <class T>
double loadAs(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return double(v);
}

template <class T>
void storeAs(double v, uint8_t* p)
{
    T out;
    if constexpr (std::is_floating_point<T>::value) {
        double const top = double(std::numeric_limits<T>::max());
        out = v > top ? std::numeric_limits<T>::infinity() : v < -top ? -std::numeric_limits<T>::infinity() : T(v);
    } else {
        if (std::isnan(v))
            out = 0;
        else {
            v = std::nearbyint(v);
            if (v <= double(std::numeric_limits<T>::min()))
                out = std::numeric_limits<T>::min();
            else if (v >= double(std::numeric_limits<T>::max()))
                out = std::numeric_limits<T>::max();
            else
                out = T(v);
        }
    }
    std::memcpy(p, &out, sizeof out);
}

struct Numeric
{
    LoadFn load;
    StoreFn store;
    size_t bytes;
};

// The numeric functions of a scalar type among the element types.
template <class... T>
Numeric numericAmong(DataType scalar)
{
    Numeric found{nullptr, nullptr, 0};
    ((DataTypeTraits<T>::toDataType() == scalar && (found = {&loadAs<T>, &storeAs<T>, sizeof(T)}, true)) || ...);
    if (!found.load)
        invalid("the data type " + scalar.toString() + " is not a numeric type of 8, 16, 32 or 64 bits");
    return found;
}

Numeric numericOf(DataType scalar)
{
    return numericAmong<uint8_t, int8_t, uint16_t, int16_t, uint32_t, int32_t, uint64_t, int64_t, float, double>(
        scalar);
}

// Values mapped linearly from one range onto another, in another type.
class AdaptView final : public DerivedView
{
public:
    AdaptView(char const* name, std::shared_ptr<ImageView> source, DataType type, Vector2d const& in,
              Vector2d const& out, std::shared_ptr<const ImageProperties> properties)
        : DerivedView(name, {source}, readWriteOf(*source), source->shape(), type, std::move(properties),
                      detail::metadataOf(*source)),
          m_from(numericOf(DataType::extractScalarType(source->dataType()))),
          m_to(numericOf(DataType::extractScalarType(type))), m_in(in), m_out(out)
    {
        double const span = in[1] - in[0];
        m_scale = span != 0 ? (out[1] - out[0]) / span : 0.0;
        double const back = out[1] - out[0];
        m_inverse = back != 0 ? span / back : 0.0;
    }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override
    {
        size_t const bytes = source().regionByteCount(region);
        detail::Scratch raw(bytes);
        source().readRegion(region, raw.data());
        size_t const count = bytes / m_from.bytes;
        for (size_t i = 0; i < count; ++i)
            m_to.store((m_from.load(raw.data() + i * m_from.bytes) - m_in[0]) * m_scale + m_out[0],
                       dst + i * m_to.bytes);
    }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        size_t const bytes = source().regionByteCount(region);
        detail::Scratch raw(bytes);
        size_t const count = bytes / m_from.bytes;
        for (size_t i = 0; i < count; ++i)
            m_from.store((m_to.load(src + i * m_to.bytes) - m_out[0]) * m_inverse + m_in[0],
                         raw.data() + i * m_from.bytes);
        source().writeRegion(region, raw.data());
    }

private:
    Numeric m_from, m_to;
    Vector2d m_in, m_out;
    double m_scale = 0, m_inverse = 0;
};

std::shared_ptr<ImageView> adapt(char const* name, std::shared_ptr<ImageView> view, DataType type, Vector2d const& in,
                                 Vector2d const& out)
{
    DataType const from = view->dataType();
    if (type.elementCount() != from.elementCount())
        invalid(std::string(name) + ": " + type.toString() + " and " + from.toString() + " differ in component count");
    if (!type.isNumeric() || !from.isNumeric())
        invalid(std::string(name) + ": " + type.toString() + " and " + from.toString() + " must be numeric");
    auto p = detail::propertiesOf(*view);
    p->imageInfo().setBitDepth(type.bitDepth());
    p->imageInfo().setValueRange(out);
    return std::make_shared<AdaptView>(name, view, type, in, out, std::move(p));
}

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::adaptDataType(std::shared_ptr<ImageView> view, DataType type)
{
    needView(view, "adaptDataType");
    auto p = view->properties();
    Vector2d const in = p ? p->imageInfo().valueRange() : DataType::standardRange(view->dataType());
    return adapt("AdaptDataType", view, type, in, DataType::standardRange(type));
}

std::shared_ptr<ImageView> ImageViewFactory::adaptDynamicRange(std::shared_ptr<ImageView> view, DataType type,
                                                               Vector2d const& inputRange, Vector2d const& outputRange)
{
    needView(view, "adaptDynamicRange");
    return adapt("AdaptDynamicRange", view, type, inputRange, outputRange);
}

} // namespace quelbo
