// Vector2d, Vector3d, Vector4d and VectorXd.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(d, 9);
} // namespace
