// ArrayXf.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(f);
} // namespace
