// ArrayXi16.
#include "arrays.h"

namespace {
QW_ARRAY_CLASS(i16);
} // namespace
