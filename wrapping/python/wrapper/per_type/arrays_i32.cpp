// ArrayXi32.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(i32);
} // namespace
