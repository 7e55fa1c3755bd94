// The operators of Vector2i16, Vector3i16, Vector4i16 and VectorXi16.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(i16, 3);
} // namespace
