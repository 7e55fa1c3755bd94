// Matrix3d.
#include "matrices.h"

namespace {
QW_MATRIX_CLASS(Matrix3d);
} // namespace
