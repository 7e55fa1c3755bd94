// Vector2u16, Vector3u16, Vector4u16 and VectorXu16, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u16);
QW_VECTOR_OPS(u16);
} // namespace
