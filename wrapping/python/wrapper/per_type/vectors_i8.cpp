// Vector2i8, Vector3i8, Vector4i8 and VectorXi8, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i8);
QW_VECTOR_OPS(i8);
} // namespace
