// The module's entries of the property and metadata classes.
#include "readonly/property_types.h"

namespace {
QW_PROPERTY_TYPES();
} // namespace
