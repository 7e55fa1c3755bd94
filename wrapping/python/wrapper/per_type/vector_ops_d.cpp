// The operators of Vector2d, Vector3d, Vector4d and VectorXd.
#include "vector_ops.h"

namespace {
QW_VECTOR_OPS(d, 9);
} // namespace
