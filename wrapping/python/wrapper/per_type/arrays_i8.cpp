// ArrayXi8.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(i8, int8_t, BYTE, "int8_t");
} // namespace
