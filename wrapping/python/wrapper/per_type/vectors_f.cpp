// Vector2f, Vector3f, Vector4f and VectorXf, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(f);
QW_VECTOR_OPS(f);
} // namespace
