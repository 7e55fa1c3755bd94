// Vector2i8, Vector3i8, Vector4i8 and VectorXi8.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i8, 1);
} // namespace
