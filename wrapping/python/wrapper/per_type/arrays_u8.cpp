// ArrayXu8.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(u8);
} // namespace
