// The operators of Vector2u16, Vector3u16, Vector4u16 and VectorXu16.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(u16, 2);
} // namespace
