"""Valid objects of the property and metadata classes for the hostile-input test."""


def objects(proxy):
    q = proxy.q
    cls = proxy.cls
    props = q.ImageProperties_from_data_type(65800)
    calibration = q.ImageProperties_get_calibration(props)
    info = cls("ImageInfoProperty")(65808)
    node = cls("MetadataNode")("root", q.VariantDataValueFactory_create([1, 2]))
    q.MetadataNodeHelper_create_path(node, "a/b", q.VariantDataValueFactory_create("text"))
    readonly_node = cls("ReadonlyMetadataNode")(node)
    return [
        cls("SpatialDirections")(), cls("SpatialCalibrationProperty")([1, 2, 3]), calibration, info, props,
        cls("ReadonlySpatialCalibrationProperty")(calibration), cls("ReadonlyImageInfoProperty")(info),
        cls("ReadonlyImageProperties")(props), q.VariantDataValueFactory_create(2.5),
        q.VariantDataValue_raw(q.VariantDataValueFactory_create([1])), node, readonly_node,
        cls("ReadonlyMetadataNode")(None), q.MetadataNode___begin(node), q.MetadataNode___end(node),
        q.ReadonlyMetadataNode___begin(readonly_node), cls("MetadataNodeIterator")(),
        cls("MetadataNodeHelper")(),
    ]
