// Vector2u8, Vector3u8, Vector4u8 and VectorXu8.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u8, 0);
} // namespace
