// The operators of Vector2u8, Vector3u8, Vector4u8 and VectorXu8.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(u8, 0);
} // namespace
