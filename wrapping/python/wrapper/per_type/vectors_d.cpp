// Vector2d, Vector3d, Vector4d and VectorXd, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(double, d);
QW_VECTOR_OPS(double, d);
} // namespace
