// The list of numeric element types.
#pragma once
#include <cstdint>

// The numeric element types of the library's values, listed once, in the
// order of their data type identifiers: X(T, S, ID) for each, with T the
// native type, S the suffix of the names of its vectors and arrays
// (VectorXu8, ArrayXf) and ID its DataTypeId. Every list of the element
// types is made from this one.
#define QUELBO_ELEMENT_TYPES(X)                                                                                        \
    X(uint8_t, u8, UINT8)                                                                                              \
    X(uint16_t, u16, UINT16)                                                                                           \
    X(uint32_t, u32, UINT32)                                                                                           \
    X(uint64_t, u64, UINT64)                                                                                           \
    X(int8_t, i8, INT8)                                                                                                \
    X(int16_t, i16, INT16)                                                                                             \
    X(int32_t, i32, INT32)                                                                                             \
    X(int64_t, i64, INT64)                                                                                             \
    X(float, f, FLOAT)                                                                                                 \
    X(double, d, DOUBLE)
