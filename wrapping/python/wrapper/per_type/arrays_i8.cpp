// ArrayXi8.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(i8);
} // namespace
