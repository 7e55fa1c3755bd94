"""The view and extension providers: kind tests and conversions of every
view and extension kind, and the read-only and write-only image views."""
import numpy as np
import pytest

from proxy import QuelboError as Error
from proxy import cls, q
from views_util import exact, region

import _quelbo_twin as twin  # noqa: E402  (found through the proxy's build folder)


def kinds():
    """One handle of each view kind, by the name of its kind."""
    multi = q.MultiImageViewFactory_create()
    q.MultiImageView_add_frame(multi, q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8))
    return {"View": cls("View")(),
            "ImageView": q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8),
            "LodImageView": twin.lod_view(0, 1),
            "MultiImageView": multi,
            "DataFrameView": q.DataFrameViewFactory__allocate([1, 2], ["a"], [q.DataTypeId_UINT8])}


TESTS = {"ImageView": (q.ImageViewProvider_is_image, q.ImageViewProvider_to_image),
         "LodImageView": (q.LodImageViewProvider_is_lod_image, q.LodImageViewProvider_to_lod_image),
         "MultiImageView": (q.MultiImageViewProvider_is_multi_image, q.MultiImageViewProvider_to_multi_image),
         "DataFrameView": (q.DataFrameViewProvider_is_data_frame, q.DataFrameViewProvider_to_data_frame)}


def uid(view):
    return q.ViewOriginExtension_uid(q.View_view_origin(view))


def test_every_view_kind_is_tested_and_converted():
    views = kinds()
    for kind, (test, convert) in TESTS.items():
        assert test(None) is False and convert(None) is None
        for name, v in views.items():
            assert test(v) is (name == kind)
            converted = convert(v)
            assert (converted is None) == (name != kind)
            if name == kind == "LodImageView":
                q.delete_LodImageView(converted)  # a bare handle: no class is registered for it
        with pytest.raises(TypeError, match=exact("in method '%s', argument 1 of type 'std::shared_ptr< "
                                                  "quelbo::View >'" % test.__name__)):
            test(q.View__extension(views["ImageView"], 3))
        with pytest.raises(TypeError, match=exact("in method '%s', argument 1 of type 'std::shared_ptr< "
                                                  "quelbo::View >'" % convert.__name__)):
            convert(5)
    q.delete_LodImageView(views["LodImageView"])


def test_a_conversion_shares_the_object():
    image = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8)
    q.ImageView___write(image, [1, 1], b"\x07")
    # a View handle of an image view, from a handed-over frame of a multi-image view
    multi = q.MultiImageViewFactory_create()
    q.MultiImageView_add_frame(multi, image)
    generic = q.MultiImageViewProvider_to_multi_image(multi)
    assert type(generic).__name__ == "MultiImageView" and uid(generic) == uid(multi)
    as_image = q.ImageViewProvider_to_image(image)
    assert type(as_image).__name__ == "ImageView" and uid(as_image) == uid(image)
    del image
    out = bytearray(1)
    q.ImageView___read(as_image, [1, 1], out)
    assert out == b"\x07"
    df = q.DataFrameViewFactory__allocate([1, 2], ["a"], [q.DataTypeId_INT8])
    again = q.DataFrameViewProvider_to_data_frame(df)
    q.DataFrameView__set_at(df, 0, 1, -3)
    del df
    assert q.DataFrameView__at(again, 0, 1) == -3
    lod = twin.lod_view(0, 1)
    same = q.LodImageViewProvider_to_lod_image(lod)
    q.delete_LodImageView(lod)
    assert q.LodImageView_get_level_range(same) is not None
    q.delete_LodImageView(same)


def test_read_only_views_never_write_their_source():
    source = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT16)
    q.ImageView___write(source, [0, 0], b"\x05\x00")
    ro = q.ImageViewProvider_to_read_only(source)
    assert type(ro).__name__ == "ImageView" and uid(ro) != uid(source)
    assert q.ImageView_get_capabilities(ro).value() == q.ImageCapability_READ
    out = bytearray(2)
    q.ImageView___read(ro, [0, 0], out)
    assert out == b"\x05\x00"
    props = q.ImageView___get_properties(source)
    for call in (lambda: q.ImageView___write(ro, [0, 0], b"\x09\x00"),
                 lambda: q.ImageView___write_region(ro, region([0, 0], [1, 1]), b"\x09\x00"),
                 lambda: q.ImageView_reshape(ro, [1], q.DataTypeId_UINT8),
                 lambda: q.ImageView_set_properties(ro, props),
                 lambda: q.ImageView_set_metadata(ro, q.MetadataNodeFactory_create("k", None)),
                 lambda: q.ImageView_set_spatial_unit(ro, "mm")):
        with pytest.raises(Error):
            call()
    with pytest.raises(Exception):
        q.NumpyInterop_to_numpy_array(ro)
    q.ImageView___read(source, [0, 0], out)
    assert out == b"\x05\x00" and q.ImageView_get_shape(source).at(0) == 3
    # a view of READ only is returned itself
    assert uid(q.ImageViewProvider_to_read_only(ro)) == uid(ro)
    # the restricted view keeps its source alive and sees its changes
    del source
    q.ImageView___read(ro, [0, 0], out)
    assert out == b"\x05\x00"


def test_write_only_views_refuse_every_read():
    a = np.zeros((2, 3), np.uint8)
    source = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8)
    wo = q.ImageViewProvider_to_write_only(source)
    q.ImageView___write_region(wo, region([0, 0], [3, 2]), bytes(range(6)))
    for call in (lambda: q.ImageView___read(wo, [0, 0], bytearray(1)),
                 lambda: q.ImageView___read_region(wo, region([0, 0], [1, 1]), bytearray(1)),
                 lambda: q.ImageView___get_metadata(wo),
                 lambda: q.ImageView_reshape(wo, [1], q.DataTypeId_UINT8)):
        with pytest.raises(Error):
            call()
    out = bytearray(6)
    q.ImageView___read_region(source, region([0, 0], [3, 2]), out)
    assert out == bytes(range(6))
    assert uid(q.ImageViewProvider_to_write_only(wo)) == uid(wo)
    # a source without WRITE gives a view without any capability
    none = q.ImageViewProvider_to_write_only(twin.restricted_view(source, q.ImageCapability_READ))
    assert q.ImageView_get_capabilities(none).value() == 0
    with pytest.raises(Error):
        q.ImageView___write(none, [0, 0], b"\x01")
    del a


def test_restriction_arguments():
    for fn in (q.ImageViewProvider_to_read_only, q.ImageViewProvider_to_write_only):
        with pytest.raises(Error):
            fn(None)
        lod = twin.lod_view(0, 1)
        for bad in (lod, q.DataFrameViewFactory__allocate_empty(), cls("View")()):
            with pytest.raises(TypeError, match=exact("in method '%s', argument 1 of type 'std::shared_ptr< "
                                                      "quelbo::ImageView >'" % fn.__name__)):
                fn(bad)
        q.delete_LodImageView(lod)  # a bare handle: no class is registered for it


def test_extensions_are_converted_by_kind():
    disk = q.ImageViewFactory_create_on_disk([4, 4], q.DataTypeId_UINT8)
    df = q.DataFrameViewFactory__allocate([1, 1], ["a"], [q.DataTypeId_UINT8])
    exts = {1: q.View__extension(disk, 1), 2: q.View__extension(disk, 2), 3: q.View__extension(disk, 3),
            4: q.View__extension(df, 4), 0: cls("Extension")()}
    convert = {1: q.ExtensionProvider_to_tiling_info, 2: q.ExtensionProvider_to_parallel_access,
               3: q.ExtensionProvider_to_view_origin}
    names = {1: "TilingInfoExtension", 2: "ParallelAccessExtension", 3: "ViewOriginExtension"}
    kinds_ = {k: cast(e) for k, e, cast in [(4, exts[4], q.ColumnUnitExtension_cast)]}
    for i, fn in convert.items():
        assert fn(None) is None
        for j, e in list(exts.items()) + [(4, kinds_[4])]:
            r = fn(e)
            assert (r is None) == (i != j)
            if r is not None:
                assert type(r).__name__ == names[i]
        with pytest.raises(TypeError, match=exact("in method '%s', argument 1 of type 'std::shared_ptr< "
                                                  "quelbo::Extension >'" % fn.__name__)):
            fn(disk)
    origin = q.ExtensionProvider_to_view_origin(exts[3])
    del disk, exts
    assert q.ViewOriginExtension_display_name(origin) == "DiskView"
    assert not hasattr(q, "ExtensionProvider_to_column_unit")


def test_provider_classes():
    for name in ("ImageViewProvider", "LodImageViewProvider", "DataFrameViewProvider", "MultiImageViewProvider",
                 "ExtensionProvider"):
        p = cls(name)()
        with pytest.raises(TypeError, match=exact("in method 'delete_%s', argument 1 of type 'quelbo::%s *'"
                                                  % (name, name))):
            getattr(q, "delete_" + name)(cls("View")())
        del p
    with pytest.raises(TypeError):
        q.new_ExtensionProvider(1)
