// Vector2i64, Vector3i64, Vector4i64 and VectorXi64.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i64, 7);
} // namespace
