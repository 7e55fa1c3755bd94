// Vector2u64, Vector3u64, Vector4u64 and VectorXu64.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(u64, 6);
} // namespace
