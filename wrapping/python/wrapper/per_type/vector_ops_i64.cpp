// The operators of Vector2i64, Vector3i64, Vector4i64 and VectorXi64.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(i64, 7);
} // namespace
