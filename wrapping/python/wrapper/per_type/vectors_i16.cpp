// Vector2i16, Vector3i16, Vector4i16 and VectorXi16.
#include "vectors.h"

namespace {
QW_VECTOR_CLASSES(i16, 3);
} // namespace
