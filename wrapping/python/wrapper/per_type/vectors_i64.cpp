// Vector2i64, Vector3i64, Vector4i64 and VectorXi64, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i64);
QW_VECTOR_OPS(i64);
} // namespace
