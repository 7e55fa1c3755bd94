// The operators of Vector2f, Vector3f, Vector4f and VectorXf.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(f, 8);
} // namespace
