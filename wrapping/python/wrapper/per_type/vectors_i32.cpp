// Vector2i32, Vector3i32, Vector4i32 and VectorXi32, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i32);
QW_VECTOR_OPS(i32);
} // namespace
