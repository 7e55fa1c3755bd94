// Vector2u32, Vector3u32, Vector4u32 and VectorXu32, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u32);
QW_VECTOR_OPS(u32);
} // namespace
