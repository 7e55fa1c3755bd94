// ArrayXu8.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(u8, uint8_t, UBYTE, "uint8_t");
} // namespace
