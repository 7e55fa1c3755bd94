// Vector2i64, Vector3i64, Vector4i64 and VectorXi64, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(int64_t, i64);
QW_VECTOR_OPS(int64_t, i64);
} // namespace
