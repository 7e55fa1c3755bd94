// Vector2u16, Vector3u16, Vector4u16 and VectorXu16.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u16, 2);
} // namespace
