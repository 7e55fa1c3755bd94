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

#define QW_PROPERTY_TYPE(T, var, mangled) static ::qw::TypeDef<T> qw_property_type_##var(QW_LISTED(mangled))

#define QW_PROPERTY_TYPES()                                                                                            \
    QW_PROPERTY_TYPE(quelbo::SpatialDirections, directions, "_p_quelbo__SpatialDirections");                           \
    QW_PROPERTY_TYPE(quelbo::SpatialCalibrationProperty, calibration, "_p_quelbo__SpatialCalibrationProperty");        \
    QW_PROPERTY_TYPE(quelbo::ImageInfoProperty, info, "_p_quelbo__ImageInfoProperty");                                 \
    QW_PROPERTY_TYPE(std::shared_ptr<quelbo::ImageProperties>, properties,                                             \
                     "_p_std__shared_ptrT_quelbo__ImageProperties_t");                                                 \
    QW_PROPERTY_TYPE(quelbo::ImageProperties, bare_properties, "_p_quelbo__ImageProperties");                          \
    QW_PROPERTY_TYPE(std::shared_ptr<quelbo::VariantDataValue>, value,                                                 \
                     "_p_std__shared_ptrT_quelbo__VariantDataValue_t");                                                \
    QW_PROPERTY_TYPE(std::shared_ptr<quelbo::MetadataNode>, node, "_p_std__shared_ptrT_quelbo__MetadataNode_t");       \
    QW_PROPERTY_TYPE(quelbo::MetadataNode, bare_node, "_p_quelbo__MetadataNode");                                      \
    QW_PROPERTY_TYPE(quelbo::MetadataNodeIterator, iterator, "_p_quelbo__MetadataNodeIterator");                       \
    QW_PROPERTY_TYPE(quelbo::ConstMetadataNodeIterator, const_iterator, "_p_quelbo__ConstMetadataNodeIterator");       \
    QW_PROPERTY_TYPE(quelbo::MetadataIteratorObject, iterator_object, "_p_quelbo__MetadataIteratorObject");            \
    QW_PROPERTY_TYPE(quelbo::ConstMetadataIteratorObject, const_iterator_object,                                       \
                     "_p_quelbo__ConstMetadataIteratorObject");                                                        \
    QW_PROPERTY_TYPE(quelbo::ReadonlySpatialCalibrationProperty, readonly_calibration,                                 \
                     "_p_quelbo__ReadonlySpatialCalibrationProperty");                                                 \
    QW_PROPERTY_TYPE(quelbo::ReadonlyImageInfoProperty, readonly_info, "_p_quelbo__ReadonlyImageInfoProperty");        \
    QW_PROPERTY_TYPE(quelbo::ReadonlyImageProperties, readonly_properties, "_p_quelbo__ReadonlyImageProperties");      \
    QW_PROPERTY_TYPE(quelbo::ReadonlyMetadataNode, readonly_node, "_p_quelbo__ReadonlyMetadataNode")
