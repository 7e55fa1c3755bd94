// The operators of Vector2u64, Vector3u64, Vector4u64 and VectorXu64.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(u64, 6);
} // namespace
