// Vector2i16, Vector3i16, Vector4i16 and VectorXi16, with their operators.
#include "vector_ops.h"
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i16);
QW_VECTOR_OPS(i16);
} // namespace
