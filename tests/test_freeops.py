"""The free operators over image types, stream capability sets and streams."""
import random
import re

import numpy as np
import pytest

from helpers import exact, overload, overload_text, vec
from proxy import QuelboError, cls, handle, q

ImageType = cls("ImageType")


def dims(t):
    return [q.ImageType__dimension(t, i) for i in range(q.ImageType_dimension_count(t))]


def test_free_or_builds_image_types():
    for a, b in ((0, 1), (q.StreamAccessCapability_READ, q.StreamAccessCapability_WRITE)):
        r = q.__or__(a, b)
        assert type(r).__name__ == "ImageType" and dims(r) == [a, b]
    t = q.__or__(0, 1)
    assert dims(q.__or__(q.ImageDimension_CHANNEL, t)) == [0, 1, 3] and dims(t) == [0, 1]


def test_free_and_xor_build_stream_sets():
    r = q.__and__(q.ImageCapability_READ_WRITE, q.ImageCapability_READ)
    assert type(r).__name__ == "StreamAccessCapabilitySet" and q.StreamAccessCapabilitySet_value(r) == 1
    assert q.StreamAccessCapabilitySet_value(q.__xor__(6, 3)) == 5
    assert q.StreamAccessCapabilitySet_value(q.__xor__(-1, 0)) == 2**64 - 1


UNFIT = [(1.5, 1), (1, "x"), (1, 2, 3), (1,), (), (2**31, 1)]


@pytest.mark.parametrize("fn, args", [(fn, args) for fn in ("__or__", "__and__", "__xor__", "__lshift__")
                                      for args in UNFIT] + [(fn, (None, 1)) for fn in ("__or__", "__and__", "__xor__")])
def test_free_operators_never_raise_for_unfit_operands(fn, args):
    assert getattr(q, fn)(*args) is NotImplemented


def test_lshift_stream_argument():
    with pytest.raises(ValueError, match=exact(
            "invalid null reference in method '__lshift__', argument 1 of type 'std::ostream &'")):
        q.__lshift__(None, 65800)
    assert q.__lshift__(1, 65800) is NotImplemented
