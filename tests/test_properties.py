"""Spatial calibration, image information, image properties and their read-only wrappers."""
import gc

import pytest

import proxy
from proxy import q

Directions = proxy.cls("SpatialDirections")
Calibration = proxy.cls("SpatialCalibrationProperty")
Info = proxy.cls("ImageInfoProperty")
Properties = proxy.cls("ImageProperties")
ROCalibration = proxy.cls("ReadonlySpatialCalibrationProperty")
ROInfo = proxy.cls("ReadonlyImageInfoProperty")
ROProperties = proxy.cls("ReadonlyImageProperties")
ImageType = proxy.cls("ImageType")

UINT8, UINT16, FLOAT = 65800, 65808, 196896


def vec(v):
    return tuple(v[i] for i in range(len(v)))


def image_axes():
    return q.__or__(q.ImageDimension_COLUMN, q.ImageDimension_ROW)


def rgb_axes():
    return q.ImageType___or__(image_axes(), q.ImageDimension_CHANNEL)


def overload_lines(excinfo):
    return [line for line in str(excinfo.value).splitlines() if line.startswith("    ")]


# ------------------------------------------------------------------ directions


def test_directions_defaults_and_two_vector_form():
    d = Directions()
    assert vec(d.get_column_direction()) == (1.0, 0.0, 0.0)
    assert vec(d.get_slice_direction()) == (0.0, 0.0, 1.0)
    d2 = Directions([0, 1, 0], [1, 0, 0])
    assert vec(d2.get_row_direction()) == (1.0, 0.0, 0.0)
    assert vec(d2.get_slice_direction()) == (0.0, 0.0, -1.0)
    assert Directions(d2) == d2 and d2 != d
    assert q.SpatialDirections___eq__(d, 5) is NotImplemented
    with pytest.raises(ValueError, match=r"invalid null reference in method 'SpatialDirections___eq__', argument 2 of type 'quelbo::SpatialDirections const &'"):
        q.SpatialDirections___eq__(d, None)


def test_directions_overload_message():
    with pytest.raises(TypeError) as e:
        Directions(1, 2, 3)
    assert overload_lines(e) == [
        "    quelbo::SpatialDirections::SpatialDirections()",
        "    quelbo::SpatialDirections::SpatialDirections(quelbo::Vector3d const &,quelbo::Vector3d const &)",
        "    quelbo::SpatialDirections::SpatialDirections(quelbo::SpatialDirections const &)",
        "    quelbo::SpatialDirections::SpatialDirections(quelbo::SpatialDirections &&)",
    ]
    assert "Additional information" in str(e.value)


# ----------------------------------------------------------------- calibration


def test_calibration_forms_and_copies():
    c = Calibration()
    assert vec(c.get_origin()) == (0, 0, 0) and vec(c.get_spacing()) == (1, 1, 1) and c.get_unit() == ""
    assert "Overload 7" in q.new_SpatialCalibrationProperty.__doc__
    full = Calibration([1, 2, 3], (4, 5, 6.5), Directions(), "mm")
    assert (vec(full.get_spacing()), full.get_unit()) == ((4, 5, 6.5), "mm")
    assert vec(Calibration([0, 0, 1]).get_origin()) == (0, 0, 1)
    copy = Calibration(full)
    copy.set_unit("cm")
    assert full.get_unit() == "mm" and copy != full
    origin = full.get_origin()
    origin.set_at(0, 99)
    assert vec(full.get_origin()) == (1, 2, 3)


def test_calibration_argument_failures():
    with pytest.raises(ValueError, match="input sequence has invalid length"):
        Calibration([1, 2])
    with pytest.raises(TypeError) as e:
        Calibration(5)
    assert len(overload_lines(e)) == 7
    assert overload_lines(e)[5].endswith("(quelbo::SpatialCalibrationProperty const &)")
    with pytest.raises(TypeError, match="Wrong number or type"):
        Calibration([0, 0, 0], [1, 1, 1], None)
    gone = Directions()
    q.delete_SpatialDirections(gone)
    with pytest.raises(ValueError, match=r"invalid null reference in method 'new_SpatialCalibrationProperty', argument 3 of type 'quelbo::SpatialDirections const &'"):
        Calibration([0, 0, 0], [1, 1, 1], gone, "x")
    c = Calibration()
    with pytest.raises(TypeError, match=r"'SpatialCalibrationProperty_set_unit', argument 2 of type 'std::string const &'"):
        c.set_unit(b"mm")
    with pytest.raises(TypeError, match="expected long or float value"):
        c.set_origin([1, "a", 3])
    assert vec(c.get_origin()) == (0, 0, 0)
    c.set_origin((1.5, 2, 3))
    assert vec(c.get_origin()) == (1.5, 2.0, 3.0)
    with pytest.raises(ValueError, match="invalid null reference in method 'SpatialCalibrationProperty_set_directions'"):
        c.set_directions(None)
    with pytest.raises(ValueError, match="invalid null reference in method 'SpatialCalibrationProperty_get_unit', argument 1"):
        q.SpatialCalibrationProperty_get_unit(None)
    with pytest.raises(TypeError, match=r"argument 1 of type 'quelbo::SpatialCalibrationProperty const \*'"):
        q.SpatialCalibrationProperty_get_unit(Directions())


# ---------------------------------------------------------------- image info


def test_image_info_forms():
    i = Info(UINT8)
    assert (i._get_interpretation(), i.get_alpha(), i.get_bit_depth()) == (q.ImageInterpretation_GRAYSCALE, False, 8)
    assert vec(i.get_value_range()) == (0.0, 255.0)
    assert i.get_axes_interpretation() == proxy.cls("ImageType")()
    i12 = Info(image_axes(), 1, False, 12, [0, 4095])
    assert (i12.get_bit_depth(), vec(i12.get_value_range())) == (12, (0.0, 4095.0))
    rgb = Info(rgb_axes(), q.ImageInterpretation_RGB, True, q.new_DataType(UINT16))
    assert (rgb._get_interpretation(), rgb.get_alpha(), rgb.get_bit_depth()) == (33, True, 16)
    assert Info(image_axes(), FLOAT).get_axes_interpretation() == image_axes()
    assert Info(rgb) == rgb and q.ImageInfoProperty___eq__(rgb, 5) is NotImplemented
    assert not hasattr(q, "ImageInfoProperty___ne__")
    assert q.ImageInfoProperty_channel_count(q.ImageInterpretation_RGB) == 3
    assert q.ImageInfoProperty_channel_count(q.ImageInterpretation_CMYK) == 4
    assert q.ImageInfoProperty_channel_count(q.ImageInterpretation_MULTISPECTRAL) == 0


def test_image_info_overloads_test_values_not_convert():
    for args in [(), (image_axes(), 1, False), (image_axes(), 33, 1, UINT8), (image_axes(), 2**40, True, UINT8),
                 (image_axes(), 1, False, -1, [0, 1]), (None,)]:
        with pytest.raises(TypeError) as e:
            Info(*args)
        assert len(overload_lines(e)) == 6
    with pytest.raises(ValueError, match="input sequence has invalid length"):
        Info(image_axes(), 1, False, 12, [0, 1, 2])


def test_image_info_setters():
    i = Info(UINT8)
    with pytest.raises(OverflowError, match="argument 2 of type 'quelbo::ImageInterpretation'"):
        i.set_interpretation(2**31)
    with pytest.raises(TypeError, match="argument 2 of type 'bool'"):
        i.set_alpha(1)
    with pytest.raises(OverflowError, match="argument 2 of type 'size_t'"):
        i.set_bit_depth(-1)
    with pytest.raises(TypeError, match="argument 2 of type 'quelbo::ImageType'"):
        i.set_axes_interpretation(3)
    with pytest.raises(ValueError, match="invalid null reference .* argument 2 of type 'quelbo::ImageType'"):
        i.set_axes_interpretation(None)
    i.set_interpretation(-5)
    assert i._get_interpretation() == -5
    i.set_bit_depth(2**64 - 1)
    assert i.get_bit_depth() == 2**64 - 1
    i.set_value_range([1, 2])
    r = i.get_value_range()
    r.set_at(0, 7)
    assert vec(i.get_value_range()) == (1.0, 2.0)


# ------------------------------------------------------------------ properties


def props(type_id=UINT8):
    return q.ImageProperties_from_data_type(type_id)


def test_properties_construction():
    with pytest.raises(TypeError) as e:
        Properties()
    assert overload_lines(e) == [
        "    quelbo::ImageProperties::ImageProperties(quelbo::SpatialCalibrationProperty const &,quelbo::ImageInfoProperty const &)",
        "    quelbo::ImageProperties::ImageProperties(quelbo::ImageProperties const &)",
        "    quelbo::ImageProperties::ImageProperties(quelbo::ImageProperties &&)",
    ]
    cal, info = Calibration([1, 1, 1]), Info(UINT8)
    p = Properties(cal, ROInfo(info))
    cal.set_unit("mm")
    assert p.get_calibration().get_unit() == ""
    copy = Properties(p)
    copy.get_calibration().set_unit("um")
    assert p.get_calibration().get_unit() == ""
    with pytest.raises(ValueError, match="invalid null reference in method 'new_ImageProperties', argument 1 of type 'quelbo::ImageProperties const &'"):
        Properties(None)
    assert props() == Properties(Calibration(), Info(UINT8))


def test_borrowed_members_change_the_properties_in_place():
    p = props()
    a, b = p.get_calibration(), p.get_calibration()
    a.set_unit("mm")
    assert b.get_unit() == "mm" and p.get_calibration().get_unit() == "mm"
    ro = ROProperties(p)
    p.get_image_info().set_bit_depth(5)
    assert ro.get_image_info().get_bit_depth() == 5
    p.set_image_info(Info(UINT16))
    assert ro.get_image_info().get_bit_depth() == 16 and p.get_image_info().get_bit_depth() == 16
    p.set_calibration(ROCalibration(Calibration([9, 9, 9])))
    assert vec(a.get_origin()) == (9, 9, 9)
    p.set_calibration(a)  # its own member
    assert vec(p.get_calibration().get_origin()) == (9, 9, 9)
    for bad in (5, None, ro):
        with pytest.raises(TypeError, match=r"'ImageProperties_set_calibration', argument 2 of type 'quelbo::SpatialCalibrationProperty const &'"):
            p.set_calibration(bad)
    assert vec(a.get_origin()) == (9, 9, 9)


def test_borrowed_member_outlives_its_properties():
    p = props()
    cal = p.get_calibration()
    info = p.get_image_info()
    del p
    gc.collect()
    cal.set_unit("mm")
    assert cal.get_unit() == "mm" and info.get_bit_depth() == 8
    p = props()
    cal = p.get_calibration()
    q.delete_ImageProperties(p)
    assert cal.get_unit() == ""
    q.delete_SpatialCalibrationProperty(cal)  # frees nothing it does not own
    with pytest.raises(ValueError, match="invalid null reference"):
        cal.get_unit()


def test_from_properties_and_clone():
    p = props()
    info = Info(FLOAT)
    n = q.ImageProperties_from_properties(p, info)
    assert n.get_image_info().get_bit_depth() == 32 and p.get_image_info().get_bit_depth() == 8
    n2 = q.ImageProperties_from_properties(p, ROCalibration(Calibration([3, 3, 3])))
    assert vec(n2.get_calibration().get_origin()) == (3, 3, 3)
    n3 = q.ImageProperties_from_properties(Calibration(), ROInfo(info))
    assert n3.get_image_info() == info
    for args in [(ROProperties(p), Calibration()), (Calibration(), p), (p,), (p, p, p)]:
        with pytest.raises(TypeError) as e:
            q.ImageProperties_from_properties(*args)
        assert overload_lines(e)[0].endswith("fromProperties(quelbo::SpatialCalibrationProperty const &,quelbo::ImageInfoProperty const &)")
    with pytest.raises(ValueError, match=r"invalid null reference in method 'ImageProperties_from_properties', argument 1 of type 'std::shared_ptr< quelbo::ImageProperties const >'"):
        q.ImageProperties_from_properties(None, info)
    c = p.clone()
    c.get_calibration().set_unit("x")
    assert p.get_calibration().get_unit() == ""


def test_compatibility_rules():
    gray = props(UINT8)
    assert gray.is_compatible_with([512, 512], UINT8)
    assert gray.is_compatible_with([4, 4, 4], q.new_DataType(UINT16))
    assert not gray.is_compatible_with([4, 4], 65792 + 4)  # 4-bit type: bit depth 8 above 4
    rgb = Properties(Calibration(), Info(rgb_axes(), q.ImageInterpretation_RGB, False, UINT8))
    assert rgb.is_compatible_with([8, 8, 3], UINT8)
    assert not rgb.is_compatible_with([8, 8, 4], UINT8)
    assert not rgb.is_compatible_with([8, 8], UINT8)  # three axes
    rgba = Properties(Calibration(), Info(image_axes(), q.ImageInterpretation_RGB, True, 65800 + 3 * 256))
    assert rgba.is_compatible_with([8, 8], 65800 + 3 * 256)  # 4 components of uint8
    multi = Properties(Calibration(), Info(rgb_axes(), q.ImageInterpretation_MULTISPECTRAL, False, UINT8))
    assert multi.is_compatible_with([8, 8, 17], UINT8)
    with pytest.raises(TypeError):
        gray.is_compatible_with([1, 1], "uint8")
    with pytest.raises(ValueError, match="input must be a sequence"):
        gray.is_compatible_with(5, UINT8)


def test_properties_equality_and_none_objects():
    p, r = props(), props(UINT16)
    ro = ROProperties(p)
    assert q.ImageProperties___eq__(p, ro) is NotImplemented
    assert p == ro and ro == p and not (r == ro)
    assert q.ReadonlyImageProperties___eq__(ro, ROProperties(props())) is True
    assert q.ReadonlyImageProperties___eq__(ro, 5) is NotImplemented
    with pytest.raises(ValueError, match=r"invalid null reference in method 'ReadonlyImageProperties___eq__', argument 2 of type 'quelbo::ImageProperties const &'"):
        q.ReadonlyImageProperties___eq__(ro, None)
    with pytest.raises(ValueError, match="invalid null reference in method 'ImageProperties___eq__'"):
        q.ImageProperties___eq__(p, None)
    for fn in (q.ImageProperties_clone, q.ImageProperties_get_calibration, q.ImageProperties_to_string):
        with pytest.raises(ValueError, match="invalid null reference"):
            fn(None)


def test_readonly_properties_comparison_forms():
    p = props()
    ro = ROProperties(p)
    # with plain properties or another wrapper, by value
    assert q.ReadonlyImageProperties___eq__(ro, props()) is True
    assert q.ReadonlyImageProperties___eq__(ro, props(UINT16)) is False
    assert q.ReadonlyImageProperties___eq__(ro, ROProperties(props(UINT16))) is False
    # anything else, including a wrong count or a first operand of another kind, is not implemented
    for args in ((), (ro,), (ro, p, p), (None, p), (p, ro), (ro, ROInfo(Info(UINT8)))):
        assert q.ReadonlyImageProperties___eq__(*args) is NotImplemented, args
    # a deleted wrapper is refused, on either side
    gone = ROProperties(p)
    q.delete_ReadonlyImageProperties(gone)
    for args, number in (((gone, p), 1), ((ro, gone), 2)):
        with pytest.raises(ValueError, match=f"invalid null reference in method 'ReadonlyImageProperties___eq__', "
                                             f"argument {number}"):
            q.ReadonlyImageProperties___eq__(*args)


# ----------------------------------------------------------- read-only wrappers


def test_readonly_value_wrappers():
    c = Calibration([1, 2, 3])
    ro = ROCalibration(c)
    ro2 = ROCalibration(ro)
    c.set_unit("mm")
    assert ro.get_unit() == ro2.get_unit() == "mm"
    assert "mm" in ro.to_string()
    assert q.new_ReadonlySpatialCalibrationProperty.__doc__ == "Wrap the SpatialCalibrationProperty instance."
    assert q.ReadonlyImageInfoProperty_get_alpha.__doc__ == "Proxy for ImageInfoProperty::hasAlpha."
    with pytest.raises(TypeError, match=r"in method 'new_ReadonlyImageInfoProperty', argument 1 of type 'quelbo::ImageInfoProperty const &'"):
        ROInfo(5)
    with pytest.raises(TypeError, match=r"argument 1 of type 'quelbo::ReadonlyImageInfoProperty const \*'"):
        q.ReadonlyImageInfoProperty_get_alpha(Info(UINT8))
    ri = ROInfo(Info(UINT16))
    assert (ri.get_bit_depth(), ri._get_interpretation(), vec(ri.get_value_range())) == (16, 1, (0.0, 65535.0))
    with pytest.raises(TypeError):
        Calibration(ro)  # the copy constructor takes the plain class only


def test_readonly_value_wrapper_keeps_its_source():
    ro = ROCalibration(Calibration([1, 2, 3]))
    gc.collect()
    assert vec(ro.get_origin()) == (1, 2, 3)
    c = Calibration([4, 5, 6])
    ro = ROCalibration(c)
    q.delete_SpatialCalibrationProperty(c)
    with pytest.raises(ValueError, match="invalid null reference in method 'ReadonlySpatialCalibrationProperty_get_origin', argument 1"):
        ro.get_origin()
    p = props()
    ro = ROCalibration(p.get_calibration())
    del p
    gc.collect()
    assert ro.get_unit() == ""


def test_readonly_properties():
    p = props()
    ro = ROProperties(p)
    with pytest.raises(TypeError, match=r"in method 'new_ReadonlyImageProperties', argument 1 of type 'std::shared_ptr< quelbo::ImageProperties const >'"):
        ROProperties(ro)
    with pytest.raises(ValueError, match="invalid null reference in method 'new_ReadonlyImageProperties'"):
        ROProperties(None)
    cal = ro.get_calibration()
    del p, ro
    gc.collect()
    assert cal.get_unit() == ""  # the wrapper keeps the properties it refers into
    p = props()
    ro = ROProperties(p)
    clone = ro.clone()
    clone.get_calibration().set_unit("mm")
    assert ro.get_calibration().get_unit() == ""
    assert ro.to_string() == p.to_string()
    q.delete_ImageProperties(p)
    assert ro.get_image_info().get_bit_depth() == 8


CAL = "quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty("
INFO = "quelbo::ImageInfoProperty::ImageInfoProperty("
FROM = "quelbo::ImageProperties::fromProperties("


@pytest.mark.parametrize("fn,expected", [
    (q.new_SpatialCalibrationProperty, [
        CAL + ")", CAL + "quelbo::Vector3d const &)", CAL + "quelbo::Vector3d const &,quelbo::Vector3d const &)",
        CAL + "quelbo::Vector3d const &,quelbo::Vector3d const &,quelbo::SpatialDirections const &)",
        CAL + "quelbo::Vector3d const &,quelbo::Vector3d const &,quelbo::SpatialDirections const &,std::string const &)",
        CAL + "quelbo::SpatialCalibrationProperty const &)", CAL + "quelbo::SpatialCalibrationProperty &&)"]),
    (q.new_ImageInfoProperty, [
        INFO + "quelbo::ImageType,quelbo::ImageInterpretation,bool,size_t,quelbo::Vector2d const &)",
        INFO + "quelbo::ImageType,quelbo::ImageInterpretation,bool,quelbo::DataType)", INFO + "quelbo::DataType)",
        INFO + "quelbo::ImageType,quelbo::DataType)", INFO + "quelbo::ImageInfoProperty const &)",
        INFO + "quelbo::ImageInfoProperty &&)"]),
    (q.ImageProperties_from_properties, [
        FROM + "quelbo::SpatialCalibrationProperty const &,quelbo::ImageInfoProperty const &)",
        FROM + "std::shared_ptr< quelbo::ImageProperties const >,quelbo::SpatialCalibrationProperty const &)",
        FROM + "std::shared_ptr< quelbo::ImageProperties const >,quelbo::ImageInfoProperty const &)"]),
])
def test_overload_messages_list_every_prototype(fn, expected):
    with pytest.raises(TypeError) as e:
        fn(object(), object())
    assert overload_lines(e) == ["    " + p for p in expected]
    assert str(e.value).startswith("Wrong number or type of arguments for overloaded function '%s'.\n  Possible C/C++ prototypes are:\n" % fn.__name__)


def test_candidate_order():
    info = Info(UINT8)
    assert Info(info) == info  # the copy, not a data type
    assert Info(True).get_bit_depth() == 1  # a bool is an int: the data type of code 1
    p = props()
    # a calibration second: the form with the shared properties first
    assert q.ImageProperties_from_properties(p, Calibration([5, 5, 5])).get_image_info() == p.get_image_info()
    ro_cal, ro_info = ROCalibration(Calibration([2, 2, 2])), ROInfo(Info(UINT16))
    both = q.ImageProperties_from_properties(ro_cal, ro_info)
    assert vec(both.get_calibration().get_origin()) == (2, 2, 2) and both.get_image_info().get_bit_depth() == 16


class Deleting:
    """A sequence of three numbers whose item access runs `action` first."""

    def __init__(self, action):
        self.action = action

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i >= 3:
            raise IndexError(i)
        if i == 0:
            self.action()
        return 1


def test_objects_dropped_during_a_call_stay_valid_until_it_ends():
    holder = {"p": props()}
    cal = holder["p"].get_calibration()
    cal.set_origin(Deleting(lambda: holder.pop("p")))  # the last owner of the properties goes
    gc.collect()
    assert vec(cal.get_origin()) == (1, 1, 1)
    c = Calibration()
    c.set_spacing(Deleting(lambda: q.delete_SpatialCalibrationProperty(c)))
    with pytest.raises(ValueError, match="invalid null reference"):
        c.get_spacing()
    own = Calibration()
    ro = ROCalibration(own)
    p = props()
    p.set_calibration(ro)
    q.ImageProperties_is_compatible_with(p, Deleting(lambda: q.delete_ImageProperties(p)), UINT8)
    with pytest.raises(ValueError, match="invalid null reference"):
        p.to_string()
    # The object's only handle goes with its `this` while a later argument converts.
    alone = props()
    expected = q.ImageProperties_is_compatible_with(props(), [1, 1, 1], UINT8)
    assert q.ImageProperties_is_compatible_with(alone, Deleting(lambda: delattr(alone, "this")), UINT8) is expected
    gc.collect()
    with pytest.raises(TypeError, match="argument 1 of type"):
        alone.to_string()
