"""ImageType: dimensions, positions, constructors and the named types."""
import random
import re

import numpy as np
import pytest

from helpers import exact, overload, overload_text, vec
from proxy import QuelboError, cls, handle, q

DataType = cls("DataType")
ImageType = cls("ImageType")


def dims(t):
    return [q.ImageType__dimension(t, i) for i in range(q.ImageType_dimension_count(t))]


def test_positions_run_over_present_dimensions():
    t = q.cvar.ImageTypeId_IMAGE_SEQUENCE
    assert dims(t) == [q.ImageDimension_COLUMN, q.ImageDimension_ROW, q.ImageDimension_SEQUENCE]
    assert q.ImageType_index_dimension(t, q.ImageDimension_SEQUENCE) == 2
    assert q.ImageType_index_dimension(t, q.ImageDimension_SLICE) == 2**64 - 1
    with pytest.raises(QuelboError):
        q.ImageType__dimension(ImageType(), 0)


def test_value_round_trip_of_the_named_types():
    names = str(q.cvar)[1:-1].split(", ")
    assert len([n for n in names if n.startswith("ImageTypeId_")]) == 9
    for name in (n for n in names if n.startswith("ImageTypeId_")):
        t = getattr(q.cvar, name)
        assert q.ImageType___eq__(ImageType(q.ImageType_value(t)), t) is True


def test_remove_by_dimension_and_by_position():
    t = ImageType(q.ImageType_value(q.cvar.ImageTypeId_MULTISPECTRAL_VOLUME))
    q.ImageType_remove(t, 1)  # the dimension ROW, not position 1
    assert dims(t) == [0, 2, 3]
    with pytest.raises(QuelboError):  # positions from 2**31 take the size_t form
        q.ImageType_remove(t, 2**31)
    assert dims(t) == [0, 2, 3]
    for bad in ("x", 2**64, None):
        with pytest.raises(TypeError, match=overload("ImageType_remove", "quelbo::ImageType::remove(quelbo::ImageDimension)",
                                                     "quelbo::ImageType::remove(size_t)")):
            q.ImageType_remove(t, bad)


def test_add_changes_or_copies():
    t = q.__or__(0, 1)
    u = q.ImageType___or__(t, q.ImageDimension_CHANNEL)
    assert dims(t) == [0, 1] and dims(u) == [0, 1, 3]
    assert q.ImageType_add(t, q.ImageDimension_SLICE) is None
    assert dims(t) == [0, 1, 2]
    assert q.ImageType___or__(t, "x") is NotImplemented
    with pytest.raises(OverflowError):
        q.ImageType___or__(t, 2**31)


@pytest.mark.parametrize("call", [lambda t: q.ImageType_add(t, 7), lambda t: q.ImageType___or__(t, -1),
                                  lambda t: q.__or__(5, t), lambda t: q.__or__(0, 99)])
def test_unknown_dimensions_are_refused(call):
    with pytest.raises(QuelboError, match="unknown image dimension"):
        call(ImageType())


def test_constructor_forms_and_refusals():
    assert q.ImageType_value(ImageType()) == 0
    assert q.ImageType_value(ImageType(None, 0)) == 0
    with pytest.raises(QuelboError):  # a null list with a count is never read
        ImageType(None, 3)
    with pytest.raises(QuelboError):
        ImageType(2**40)
    protos = ("quelbo::ImageType::ImageType()", "quelbo::ImageType::ImageType(quelbo::ImageDimension const *,size_t)",
              "quelbo::ImageType::ImageType(uint64_t)")
    for args in (("x",), ([0, 1], 2), (-1,), (1, 2, 3)):
        with pytest.raises(TypeError) as info:
            q.new_ImageType(*args)
        assert str(info.value).endswith(overload_text("new_ImageType", *protos))


def test_comparisons():
    t = q.__or__(0, 1)
    assert q.ImageType___eq__(t, q.cvar.ImageTypeId_IMAGE) is True
    assert q.ImageType___ne__(t, q.cvar.ImageTypeId_VOLUME) is True
    assert q.ImageType___eq__(t, "x") is NotImplemented
    for fn in ("ImageType___eq__", "ImageType___ne__"):
        with pytest.raises(ValueError, match=exact(
                "invalid null reference in method '%s', argument 2 of type 'quelbo::ImageType'" % fn)):
            getattr(q, fn)(t, None)


def test_named_types_cannot_be_changed():
    image = q.cvar.ImageTypeId_IMAGE
    for call in (lambda: q.ImageType_add(image, 3), lambda: q.ImageType_remove(image, 0)):
        with pytest.raises(TypeError, match="argument 1 of type 'quelbo::ImageType \\*'"):
            call()
    assert dims(q.cvar.ImageTypeId_IMAGE) == [0, 1]
