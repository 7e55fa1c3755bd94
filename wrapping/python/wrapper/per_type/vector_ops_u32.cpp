// The operators of Vector2u32, Vector3u32, Vector4u32 and VectorXu32.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(u32, 4);
} // namespace
