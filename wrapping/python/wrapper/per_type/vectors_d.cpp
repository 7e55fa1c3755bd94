// Vector2d, Vector3d, Vector4d and VectorXd, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(d);
QW_VECTOR_OPS(d);
} // namespace
