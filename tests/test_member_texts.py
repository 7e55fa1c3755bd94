"""Prototype lines name the library's members and constructors as the library declares them."""
import pytest

from helpers import exact, overload_text
from proxy import q


@pytest.mark.parametrize("fn,member", [("shape", "shape"), ("stride", "stride"), ("byte_stride", "byteStride"),
                                       ("layout", "layout")])
def test_indexer_members_in_prototypes(fn, member):
    name = "Indexer_" + fn
    protos = overload_text(name, "quelbo::Indexer::%s() const" % member, "quelbo::Indexer::%s(size_t) const" % member)
    with pytest.raises(TypeError, match=exact("%s expected at most 2 arguments, got 3\nAdditional information:\n%s"
                                              % (name, protos))):
        getattr(q, name)(1, 2, 3)


def test_error_constructor_in_prototypes():
    with pytest.raises(TypeError, match=exact(overload_text(
            "new_Error", "quelbo::Error::Error(std::string const &)", "quelbo::Error::Error(quelbo::Error const &)",
            "quelbo::Error::Error(quelbo::Error &&)"))):
        q.new_Error(5)
