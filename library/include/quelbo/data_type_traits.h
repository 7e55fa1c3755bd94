#pragma once
#include <cstdint>
#include <type_traits>
#include <utility>

#include "quelbo/data_type.h"
#include "quelbo/error.h"

namespace quelbo {

// The data type of a native element type.
template <class T>
struct DataTypeTraits;

#define QUELBO_DATA_TYPE_TRAITS(T, ID)                                                                                 \
    template <>                                                                                                        \
    struct DataTypeTraits<T>                                                                                           \
    {                                                                                                                  \
        static DataType toDataType() { return DataType(DataTypeId::ID); }                                              \
    }
QUELBO_DATA_TYPE_TRAITS(uint8_t, UINT8);
QUELBO_DATA_TYPE_TRAITS(int8_t, INT8);
QUELBO_DATA_TYPE_TRAITS(uint16_t, UINT16);
QUELBO_DATA_TYPE_TRAITS(int16_t, INT16);
QUELBO_DATA_TYPE_TRAITS(uint32_t, UINT32);
QUELBO_DATA_TYPE_TRAITS(int32_t, INT32);
QUELBO_DATA_TYPE_TRAITS(uint64_t, UINT64);
QUELBO_DATA_TYPE_TRAITS(int64_t, INT64);
QUELBO_DATA_TYPE_TRAITS(float, FLOAT);
QUELBO_DATA_TYPE_TRAITS(double, DOUBLE);
#undef QUELBO_DATA_TYPE_TRAITS

// ------------------------------------------------------------ the other way

// A numeric element type, handed to a visitor: `typename decltype(tag)::type`.
template <class T>
struct Element
{
    using type = T;
};

// The code unit of a text element (UTF-8, UTF-16 or UTF-32), handed to a
// visitor that accepts texts.
template <class Unit>
struct TextElement
{
    using unit = Unit;
};

// Whether a visitor's tag is a numeric element (not a text one).
template <class Tag>
constexpr bool isNumericElement = false;
template <class T>
constexpr bool isNumericElement<Element<T>> = true;

namespace element_detail {

template <bool Texts, class F, class Otherwise>
decltype(auto) visit(DataType type, F&& f, Otherwise&& otherwise)
{
    using R = decltype(f(Element<uint8_t>{}));
    auto other = [&]() -> R {
        if constexpr (std::is_void<R>::value || !std::is_void<decltype(otherwise())>::value)
            return otherwise();
        else {
            otherwise(); // expected to throw: there is nothing to return
            throw InvalidArgument("no native element type for " + type.toString());
        }
    };
    bool const sign = type.primitiveType() == PrimitiveTypeId::SIGNED_INTEGER;
    switch (type.primitiveType()) {
    case PrimitiveTypeId::UNSIGNED_INTEGER:
    case PrimitiveTypeId::SIGNED_INTEGER:
        switch (type.bitDepth()) {
        case 8:
            return sign ? f(Element<int8_t>{}) : f(Element<uint8_t>{});
        case 16:
            return sign ? f(Element<int16_t>{}) : f(Element<uint16_t>{});
        case 32:
            return sign ? f(Element<int32_t>{}) : f(Element<uint32_t>{});
        case 64:
            return sign ? f(Element<int64_t>{}) : f(Element<uint64_t>{});
        }
        break;
    case PrimitiveTypeId::FLOATING_POINT:
        if (type.bitDepth() == 32)
            return f(Element<float>{});
        if (type.bitDepth() == 64)
            return f(Element<double>{});
        break;
    case PrimitiveTypeId::UNICODE_STRING:
        if constexpr (Texts) {
            switch (type.bitDepth()) {
            case 8:
                return f(TextElement<uint8_t>{});
            case 16:
                return f(TextElement<uint16_t>{});
            case 32:
                return f(TextElement<uint32_t>{});
            }
        }
        break;
    default:
        break;
    }
    return other();
}

} // namespace element_detail

// f(Element<T>{}) with T the native type of one component of `type`
// (integers and floating point of 8 to 64 bits; the component count and the
// interpretation are the caller's), else otherwise(). Every call returns
// the same type; an otherwise() of no value must throw.
template <class F, class Otherwise>
decltype(auto) visitElement(DataType type, F&& f, Otherwise&& otherwise)
{
    return element_detail::visit<false>(type, std::forward<F>(f), std::forward<Otherwise>(otherwise));
}

// visitElement, with text types given as f(TextElement<Unit>{}) too.
template <class F, class Otherwise>
decltype(auto) visitElementOrText(DataType type, F&& f, Otherwise&& otherwise)
{
    return element_detail::visit<true>(type, std::forward<F>(f), std::forward<Otherwise>(otherwise));
}

// f(Element<From>{}, Element<To>{}) for the native component types of a
// conversion, compiled for every pair; otherwise() when either has none.
template <class F, class Otherwise>
decltype(auto) visitPair(DataType from, DataType to, F&& f, Otherwise&& otherwise)
{
    return visitElement(
        from,
        [&](auto a) -> decltype(auto) {
            return visitElement(
                to, [&](auto b) -> decltype(auto) { return f(a, b); }, otherwise);
        },
        otherwise);
}

// f(Element<T>{}) for every numeric element type, in the order of the
// data type identifiers.
template <class F>
void forEachElement(F&& f)
{
    f(Element<uint8_t>{}), f(Element<uint16_t>{}), f(Element<uint32_t>{}), f(Element<uint64_t>{});
    f(Element<int8_t>{}), f(Element<int16_t>{}), f(Element<int32_t>{}), f(Element<int64_t>{});
    f(Element<float>{}), f(Element<double>{});
}

} // namespace quelbo
