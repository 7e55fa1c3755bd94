// ArrayXu32.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(u32);
} // namespace
