// The operators of Vector2i8, Vector3i8, Vector4i8 and VectorXi8.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(i8, 1);
} // namespace
