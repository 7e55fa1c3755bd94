// The operators of Vector2i32, Vector3i32, Vector4i32 and VectorXi32.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(i32, 5);
} // namespace
