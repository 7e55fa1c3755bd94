// ArrayXi64.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(i64);
} // namespace
