// Vector2u32, Vector3u32, Vector4u32 and VectorXu32.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u32, 4);
} // namespace
