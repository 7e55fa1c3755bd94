// The typed pointer types of the ten element types, which only modules
// sharing the type table make (a test module, a user's extension). Expanded
// once per module, in the file that uses them.
#pragma once

#include <cstdint>

#include "runtime/wrap.h"

#define QW_TYPED_POINTER_TYPES()                                                                                       \
    static ::qw::TypeDef<uint8_t> qw_typed_uint8(QW_LISTED("_p_uint8_t"));                                             \
    static ::qw::TypeDef<uint16_t> qw_typed_uint16(QW_LISTED("_p_uint16_t"));                                          \
    static ::qw::TypeDef<uint32_t> qw_typed_uint32(QW_LISTED("_p_uint32_t"));                                          \
    static ::qw::TypeDef<uint64_t> qw_typed_uint64(QW_LISTED("_p_uint64_t"));                                          \
    static ::qw::TypeDef<int8_t> qw_typed_int8(QW_LISTED("_p_int8_t"));                                                \
    static ::qw::TypeDef<int16_t> qw_typed_int16(QW_LISTED("_p_int16_t"));                                             \
    static ::qw::TypeDef<int32_t> qw_typed_int32(QW_LISTED("_p_int32_t"));                                             \
    static ::qw::TypeDef<int64_t> qw_typed_int64(QW_LISTED("_p_int64_t"));                                             \
    static ::qw::TypeDef<float> qw_typed_float(QW_LISTED("_p_float"));                                                 \
    static ::qw::TypeDef<double> qw_typed_double(QW_LISTED("_p_double"))
