// Matrix4f.
#include "matrices.h"

namespace {
QW_MATRIX_CLASS(Matrix4f, float, 4);
} // namespace
