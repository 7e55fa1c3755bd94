// The method table, family by family: each family registers with its place
// here (QW_FAMILY(order::datatype, add_datatype)), and the table is assembled
// in ascending order at start-up. Read top to bottom, this is the module's
// interface order.
#pragma once

namespace qw::order {
enum : int
{
    core = 100, // Logger, VersionInfo, Versioning, UidGenerator, errors, SwigPyIterator
    datatype = 200,
    imagetype = 210,
    uri = 220,
    indexer = 230,
    flagsets = 240,
    freeops = 250,
    vectors = 300,    // 300 + 2 * element index; each class's operators at the odd place after it
    matrices = 380,   // Matrix3f, Matrix3d, Matrix4f, Matrix4d
    transforms = 390, // the transform matrix factories
    regions = 400,
    regionx = 401,
    arrays = 410,       // ArrayX of the ten element types (410 to 419)
    properties = 500,   // image properties, read-only wrappers, variant values, metadata (500 to 599)
    spatial = properties,          // SpatialDirections, SpatialCalibrationProperty
    image_info = properties + 1,   // ImageInfoProperty
    image_properties = properties + 2,
    readonly_properties = properties + 3, // the three read-only property wrappers
    variant = properties + 4,             // VariantDataValue
    variant_factory = properties + 5,
    metadata_node = properties + 6,
    metadata_iterators = properties + 7, // MetadataNodeIterator, ConstMetadataNodeIterator
    readonly_metadata = properties + 8,
    metadata_helpers = properties + 9, // MetadataNodeFactory, MetadataNodeHelper
    storage = 600,      // data storage and access, factories, HTTP headers (600 to 699)
    storage_access = 600,    // DataStorage, DataAccess, their providers
    stream_access = 601,     // StreamAccess
    random_access = 602,     // RandomAccess
    stream_factory = 603,    // StreamAccessFactory
    random_factory = 604,    // RandomAccessFactory
    http_headers = 605,      // HTTPHeaders
    views = 700,        // views, image views, extensions, multi-image, LOD, data frames (700 to 799)
    factories = 800,    // numpy bridge and view factories (800 to 899)
    serialization = 900 // serialization, writer, dependency graph (900 to 999)
};
} // namespace qw::order
