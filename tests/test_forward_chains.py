"""Chains of forwarding views (thread-safe, read-only, write-only, with
descriptions of their own) against a model that follows each link to its
source: whatever the chain folds into one step, each view offers, refuses
(in the wording of the view that refuses) and describes as its links say."""
import numpy as np

from proxy import QuelboError as Error
from proxy import q
from views_util import region

READ, WRITE = 1, 2
RO = "read-only image view: %s is not available"
WO = "write-only image view: %s is not available"
OWN = "ImageView: %s needs the %s capability"


class Link:
    """A view of the chain: its capabilities, whether it locks or keeps its
    own description, and the link below."""

    def __init__(self, kind, below, caps, locks=False, own=False):
        self.kind, self.below, self.caps, self.locks, self.own = kind, below, caps, locks, own

    def metadata(self):
        """None when metadata is read, else the refusal."""
        if self.kind == "read-only":
            return self.below.metadata() if self.below.caps & READ else RO % "metadata"
        if self.kind == "write-only":
            return WO % "metadata"
        if self.own:
            return None if self.caps & READ else OWN % ("metadata", "READ")
        return self.below.metadata() if self.below else None

    def set_properties(self):
        if self.kind == "read-only":
            return RO % "setProperties"
        if self.kind == "write-only":
            return self.below.set_properties() if self.below.caps & WRITE else WO % "setProperties"
        if self.own or not self.below:
            return None if self.caps & WRITE else OWN % ("setProperties", "WRITE")
        return self.below.set_properties()

    def tiled(self):
        if self.kind in ("read-only", "write-only", "thread-safe"):
            return False
        return self.below.tiled() if self.below else True

    def buffer(self):
        restricted = {"read-only": RO, "write-only": WO}.get(self.kind)
        return restricted % "buffer" if restricted else "ImageView: buffer is not supported by this view"


LINKS = {
    "thread-safe": (q.ImageViewFactory_make_thread_safe, lambda b: Link("thread-safe", b, b.caps, locks=True)),
    "described": (lambda v: q.ImageViewFactory_from_image_view(v, None, None),
                  lambda b: Link("described", b, b.caps, own=True)),
    "reinterpreted": (lambda v: q.ImageViewFactory_reinterpret(v, q.ImageView_get_axes_interpretation(v)),
                      lambda b: Link("reinterpreted", b, b.caps & 3, own=True)),
    "read-only": (q.ImageViewProvider_to_read_only,
                  lambda b: b if b.caps == READ else Link("read-only", b, b.caps & READ)),
    "write-only": (q.ImageViewProvider_to_write_only,
                   lambda b: b if b.caps == WRITE else Link("write-only", b, b.caps & WRITE)),
}


def outcome(call):
    try:
        call()
        return None
    except (Error, NotImplementedError) as e:
        return str(e)


def test_random_forwarding_chains_behave_as_their_links():
    rng = np.random.default_rng(5)
    names = sorted(LINKS)
    for _ in range(300):
        store = q.RandomAccessFactory_allocate(24)
        v = q.ImageViewFactory_from_random_access(store, [4, 3], q.DataTypeId_UINT16)
        q.ImageView___write_region(v, region([0, 0], [4, 3]), bytes(range(24)))
        model = Link("store", None, READ | WRITE)
        for _ in range(int(rng.integers(1, 9))):
            make, follow = LINKS[names[int(rng.integers(len(names)))]]
            v, model = make(v), follow(model)
        caps = q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v))
        assert caps == model.caps
        assert outcome(lambda: q.ImageView___get_metadata(v)) == model.metadata()
        assert outcome(lambda: q.ImageView_set_spatial_unit(v, "mm")) == model.set_properties()
        assert (q.ImageView_tiling_info(v) is not None) == model.tiled()
        assert outcome(lambda: q.ImageView_reshape(v, [2], q.DataTypeId_UINT8)) == model.buffer().replace(
            "buffer", "reshape")
        out = bytearray(24)
        if caps & READ:
            q.ImageView___read_region(v, region([0, 0], [4, 3]), out)
            assert bytes(out) == bytes(range(24))
        if caps & WRITE:
            q.ImageView___write_region(v, region([0, 2], [4, 1]), bytes([9] * 8))
            q.ImageView___read_region(q.ImageViewFactory_from_random_access(store, [4, 3], q.DataTypeId_UINT16),
                                      region([0, 0], [4, 3]), out)
            assert bytes(out) == bytes(range(16)) + bytes([9] * 8)
