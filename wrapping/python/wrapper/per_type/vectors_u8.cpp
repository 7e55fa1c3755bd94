// Vector2u8, Vector3u8, Vector4u8 and VectorXu8, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u8);
QW_VECTOR_OPS(u8);
} // namespace
