// Matrix4f.
#include "matrices.h"

namespace {
QW_MATRIX_CLASS(Matrix4f);
} // namespace
