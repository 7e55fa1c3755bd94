// ArrayXu32.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(u32, uint32_t, UINT, "int");
} // namespace
