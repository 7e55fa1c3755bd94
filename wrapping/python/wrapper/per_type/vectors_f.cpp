// Vector2f, Vector3f, Vector4f and VectorXf.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(f, 8);
} // namespace
