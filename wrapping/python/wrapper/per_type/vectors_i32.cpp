// Vector2i32, Vector3i32, Vector4i32 and VectorXi32.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i32, 5);
} // namespace
