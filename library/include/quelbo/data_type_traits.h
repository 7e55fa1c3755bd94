// From native element types to data types and back: the element visitors.
#pragma once
#include <cstdint>
#include <type_traits>
#include <utility>

#include "quelbo/data_type.h"
#include "quelbo/element_types.h"
#include "quelbo/error.h"

namespace quelbo {

// The data type of a native element type.
template <class T>
struct DataTypeTraits;

#define QUELBO_DATA_TYPE_TRAITS(T, S, ID)                                                                              \
    template <>                                                                                                        \
    struct DataTypeTraits<T>                                                                                           \
    {                                                                                                                  \
        static DataType toDataType() { return DataType(DataTypeId::ID); }                                              \
    };
QUELBO_ELEMENT_TYPES(QUELBO_DATA_TYPE_TRAITS)
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

// The primitive type of a native element type.
template <class T>
constexpr PrimitiveTypeId primitiveOf()
{
    return std::is_floating_point<T>::value ? PrimitiveTypeId::FLOATING_POINT
           : std::is_signed<T>::value       ? PrimitiveTypeId::SIGNED_INTEGER
                                            : PrimitiveTypeId::UNSIGNED_INTEGER;
}

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
    PrimitiveTypeId const primitive = type.primitiveType();
    size_t const bits = type.bitDepth();
#define QUELBO_VISIT_ELEMENT(T, S, ID)                                                                                 \
    if (primitive == primitiveOf<T>() && bits == 8 * sizeof(T))                                                        \
        return f(Element<T>{});
    QUELBO_ELEMENT_TYPES(QUELBO_VISIT_ELEMENT)
#undef QUELBO_VISIT_ELEMENT
    if constexpr (Texts) {
        if (primitive == PrimitiveTypeId::UNICODE_STRING) {
            switch (bits) {
            case 8:
                return f(TextElement<uint8_t>{});
            case 16:
                return f(TextElement<uint16_t>{});
            case 32:
                return f(TextElement<uint32_t>{});
            }
        }
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
#define QUELBO_EACH_ELEMENT(T, S, ID) f(Element<T>{});
    QUELBO_ELEMENT_TYPES(QUELBO_EACH_ELEMENT)
#undef QUELBO_EACH_ELEMENT
}

} // namespace quelbo
