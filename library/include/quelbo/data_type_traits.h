#pragma once
#include <cstdint>

#include "quelbo/data_type.h"

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

} // namespace quelbo
