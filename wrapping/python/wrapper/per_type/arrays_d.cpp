// ArrayXd.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(d);
} // namespace
