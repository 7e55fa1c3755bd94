// Vector2u64, Vector3u64, Vector4u64 and VectorXu64, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u64);
QW_VECTOR_OPS(u64);
} // namespace
