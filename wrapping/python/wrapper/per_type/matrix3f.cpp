// Matrix3f.
#include "matrices.h"

namespace {
QW_MATRIX_CLASS(Matrix3f);
} // namespace
