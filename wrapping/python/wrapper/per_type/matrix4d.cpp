// Matrix4d.
#include "matrices.h"

namespace {
QW_MATRIX_CLASS(Matrix4d);
} // namespace
