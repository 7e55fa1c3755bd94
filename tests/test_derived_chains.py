"""Chains of derived views against numpy: random chains of one to four
derivations over an allocated view, read and written in random regions
(empty ones and ones at the ends included), with the source reshaped under
them between calls (the views that follow it fitting their properties to
it)."""
import numpy as np
import pytest

from derived_chain_model import TYPES, Link, box_in, check_transfers, fits, grow
from derived_util import Error, region, shape
from proxy import q

# reshapes of the source that leave no derived view its geometry
RESHAPES = [lambda s: ([1] * len(s), q.DataTypeId_UINT8), lambda s: (s, q.DataTypeId_DOUBLE),
            lambda s: (s + [1], q.DataTypeId_UINT8), lambda s: ([s[0] * 2] + s[1:], q.DataTypeId_UINT16)]


@pytest.mark.parametrize("seed", range(8))
def test_random_chains_of_derived_views_equal_numpy(seed):
    rng = np.random.default_rng(seed)
    for _ in range(10):
        dtype, unit, part = TYPES[int(rng.integers(len(TYPES)))]
        size = [int(rng.integers(1, 6)) for _ in range(int(rng.integers(1, 4)))]
        base = q.ImageViewFactory_allocate(size, dtype)
        truth = rng.integers(0, 256, tuple(reversed(size)) + (unit,), dtype=np.uint8)
        q.ImageView___write_region(base, region([0] * len(size), size), truth.tobytes())
        chain = [Link(base, lambda a: a, unit, part)]
        for _ in range(int(rng.integers(1, 5))):
            check_transfers(rng, grow(rng, chain), base, truth)
        # the source reshaped under the chain: every view laid out for it refuses
        was, kind = list(size), q.DataType_get_id(q.ImageView_get_data_type(base))
        for i in rng.permutation(len(RESHAPES)):
            q.ImageView_reshape(base, *RESHAPES[i](was))
            if (shape(base), q.DataType_get_id(q.ImageView_get_data_type(base))) != (was, kind):
                break
        for link in chain[1:]:
            if link.forwards:  # it follows the source, with properties fitted to what it shows now
                assert fits(link.view)
                continue
            lo, ext = box_in(rng, shape(link.view))
            count = int(np.prod(ext)) * link.unit
            guarded = bytearray(b"\xa5" * (count + 16))
            if not all(ext):
                q.ImageView___read_region(link.view, region(lo, ext), memoryview(guarded)[:count])
            else:
                with pytest.raises(Error, match="which is now of shape"):
                    q.ImageView___read_region(link.view, region(lo, ext), memoryview(guarded)[:count])
            assert guarded == b"\xa5" * len(guarded)
        # and back: the chain reads the source again
        q.ImageView_reshape(base, was, dtype)
        q.ImageView___write_region(base, region([0] * len(size), size), truth.tobytes())
        check_transfers(rng, chain[-1], base, truth)
