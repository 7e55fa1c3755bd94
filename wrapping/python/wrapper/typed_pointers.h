// The typed pointer types of the ten element types, which only modules
// sharing the type table make (a test module, a user's extension). Expanded
// once per module, in the file that uses them.
#pragma once

#include <cstdint>

#include "runtime/wrap.h"

#define QW_TYPED_POINTER_TYPES()                                                                                       \
    QW_TYPE(uint8_t, "_p_uint8_t");                                                                                    \
    QW_TYPE(uint16_t, "_p_uint16_t");                                                                                  \
    QW_TYPE(uint32_t, "_p_uint32_t");                                                                                  \
    QW_TYPE(uint64_t, "_p_uint64_t");                                                                                  \
    QW_TYPE(int8_t, "_p_int8_t");                                                                                      \
    QW_TYPE(int16_t, "_p_int16_t");                                                                                    \
    QW_TYPE(int32_t, "_p_int32_t");                                                                                    \
    QW_TYPE(int64_t, "_p_int64_t");                                                                                    \
    QW_TYPE(float, "_p_float");                                                                                        \
    QW_TYPE(double, "_p_double")
