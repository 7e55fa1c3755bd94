// ArrayXu64.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(u64);
} // namespace
