// The type-table entries of the property and metadata classes. A module
// expands QW_PROPERTY_TYPES() once (at namespace scope, in one file) to take
// and return these objects: _quelbo does, and so does any other module that
// uses readonly_args.h (the GPU module, the test module); the modules then
// share the entries through the type table.
#pragma once

#include <memory>

#include "quelbo/image_properties.h"
#include "quelbo/metadata.h"
#include "readonly/ReadonlyImageProperties.h"
#include "readonly/ReadonlyMetadataNode.h"
#include "runtime/wrap.h"
#include "native_types.h"

#define QW_PROPERTY_TYPES()                                                                                            \
    QW_TYPE(quelbo::SpatialDirections);                                                                                \
    QW_TYPE(quelbo::SpatialCalibrationProperty);                                                                       \
    QW_TYPE(quelbo::ImageInfoProperty);                                                                                \
    QW_TYPE(std::shared_ptr<quelbo::ImageProperties>);                                                                 \
    QW_TYPE(quelbo::ImageProperties);                                                                                  \
    QW_TYPE(std::shared_ptr<quelbo::VariantDataValue>);                                                                \
    QW_TYPE(std::shared_ptr<quelbo::MetadataNode>);                                                                    \
    QW_TYPE(quelbo::MetadataNode);                                                                                     \
    QW_TYPE(quelbo::MetadataNodeIterator);                                                                             \
    QW_TYPE(quelbo::ConstMetadataNodeIterator);                                                                        \
    QW_TYPE(quelbo::MetadataIteratorObject);                                                                           \
    QW_TYPE(quelbo::ConstMetadataIteratorObject);                                                                      \
    QW_TYPE(quelbo::ReadonlySpatialCalibrationProperty);                                                               \
    QW_TYPE(quelbo::ReadonlyImageInfoProperty);                                                                        \
    QW_TYPE(quelbo::ReadonlyImageProperties);                                                                          \
    QW_TYPE(quelbo::ReadonlyMetadataNode)
