// ArrayXf.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(f, 8);
} // namespace
