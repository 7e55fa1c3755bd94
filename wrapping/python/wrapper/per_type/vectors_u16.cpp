// Vector2u16, Vector3u16, Vector4u16 and VectorXu16, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(uint16_t, u16);
QW_VECTOR_OPS(uint16_t, u16);
} // namespace
