// Vector2f, Vector3f, Vector4f and VectorXf, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(float, f);
QW_VECTOR_OPS(float, f);
} // namespace
