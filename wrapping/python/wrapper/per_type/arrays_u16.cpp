// ArrayXu16.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(u16);
} // namespace
