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
    arrays = 410,                // ArrayX of the ten element types (410 to 419)
    properties = 500,            // image properties, read-only wrappers, variant values, metadata (500 to 599)
    spatial = properties,        // SpatialDirections, SpatialCalibrationProperty
    image_info = properties + 1, // ImageInfoProperty
    image_properties = properties + 2,
    readonly_properties = properties + 3, // the three read-only property wrappers
    variant = properties + 4,             // VariantDataValue
    variant_factory = properties + 5,
    metadata_node = properties + 6,
    metadata_iterators = properties + 7, // MetadataNodeIterator, ConstMetadataNodeIterator
    readonly_metadata = properties + 8,
    metadata_helpers = properties + 9, // MetadataNodeFactory, MetadataNodeHelper
    storage = 600,                     // data storage and access, factories, HTTP headers (600 to 699)
    storage_access = 600,              // DataStorage, DataAccess, their providers
    stream_access = 601,               // StreamAccess
    random_access = 602,               // RandomAccess
    stream_factory = 603,              // StreamAccessFactory
    random_factory = 604,              // RandomAccessFactory
    http_headers = 605,                // HTTPHeaders
    views = 700,                       // views, image views, extensions, multi-image, LOD, data frames (700 to 799)
    image_views = 701,                 // ImageView: queries and transfer
    image_view_properties = 702,       // ImageView: properties, metadata and their setters
    image_view_hooks = 703,            // ImageView: registration, closing the class
    views_lod_release = 705,           // delete_LodImageView (multi_views.cpp)
    views_lod = 740,                   // LodImageView
    views_extension = 745,             // Extension, TilingInfoExtension
    views_parallel = 746,              // ParallelAccessExtension
    views_origin = 747,                // ViewOriginExtension
    views_multi = 755,                 // MultiImageView
    views_data_frame = 770,            // DataFrameView
    views_providers = 780,             // the view and extension providers
    views_column_unit = 790,           // ColumnUnitExtension
    factories = 800,                   // numpy bridge and view factories (800 to 899)
    numpy_interop = 800,               // NumpyInterop
    image_view_factory = 801,          // ImageViewFactory: allocation and memory sources
    factories_derived = 820,           // ImageViewFactory: derived views
    factories_storage = 825,           // ImageViewFactory: storage-backed views
    image_view_factory_close = 826,    // ImageViewFactory: release and registration
    factories_multi = 830,             // MultiImageViewFactory
    factories_data_frame = 840,        // DataFrameViewFactory
    serialization = 900,               // serialization, writer, dependency graph (900 to 999)
    serialization_views = 900,         // encode and decode of image views
    serialization_arrays = 901,        // the ten value arrays, encoders then decoders
    serialization_vectors = 902,       // sizes 2, 3, 4 and dynamic at 902 to 905
    serialization_frames = 906,        // encode and decode of data-frame views
    serialization_matrices = 907,      // the four matrices, encoders then decoders
    serialization_class = 908,         // delete_Serialization and its hook
    writer = 910,
    dependency_graph = 920
};
} // namespace qw::order
