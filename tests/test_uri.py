"""Uri: parts, malformed texts, copies and refusals."""
import random
import re

import numpy as np
import pytest

from helpers import exact, overload, overload_text, vec
from proxy import QuelboError, cls, handle, q

Uri = cls("Uri")
Indexer = cls("Indexer")

PARTS = ("scheme", "authority", "user_info", "host", "port", "path", "query", "path_and_query", "to_string")


@pytest.mark.parametrize("text, parts", [
    ("file:/tmp/a.raw", ("file", "", "", "", 0, "/tmp/a.raw", "", "/tmp/a.raw", "file:/tmp/a.raw")),
    ("file:///tmp/a%20b.raw",
     ("file", "", "", "", 0, "/tmp/a b.raw", "", "/tmp/a%20b.raw", "file:///tmp/a%20b.raw")),
    ("http://user@host:8080/a%20b?x=1",
     ("http", "user@host:8080", "user", "host", 8080, "/a b", "x=1", "/a%20b?x=1", "http://user@host:8080/a%20b?x=1")),
    ("http://[::1]:99/p?q%3D#frag", ("http", "[::1]:99", "", "::1", 99, "/p", "q=", "/p?q%3D", "http://[::1]:99/p?q%3D#frag")),
    ("HTTPS://example.com", ("https", "example.com", "", "example.com", 443, "", "", "", "https://example.com")),
    ("/data/x y.raw", ("", "", "", "", 0, "/data/x y.raw", "", "/data/x%20y.raw", "/data/x%20y.raw")),
    ("", ("", "", "", "", 0, "", "", "", "")),
])
def test_uri_parts(text, parts):
    u = Uri(text)
    assert tuple(getattr(q, "Uri_" + p)(u) for p in PARTS) == parts


@pytest.mark.parametrize("text", ["http://[::1", "http://[::1]x/", "http://[zz]/", "http://h:99999/", "http://h:8a/",
                                  "http://h/%zz", "http://h/a%4", "1abc:x", "http://a b/", "http://h/\x01"])
def test_malformed_uris_are_refused(text):
    with pytest.raises(QuelboError, match="Malformed URI"):
        Uri(text)


def test_uri_copy_and_refusals():
    u = Uri("ftp://me@files.example.org/pub/a.raw")
    copy = Uri(u)
    q.delete_Uri(u)
    assert q.Uri_to_string(copy) == "ftp://me@files.example.org/pub/a.raw" and q.Uri_port(copy) == 21
    protos = ("quelbo::Uri::Uri(std::string const &)", "quelbo::Uri::Uri(quelbo::Uri const &)")
    for args in ((b"http://h/",), (), (1,), ("a", "b")):
        with pytest.raises(TypeError) as info:
            q.new_Uri(*args)
        assert str(info.value).endswith(overload_text("new_Uri", *protos))
    with pytest.raises(ValueError, match=exact(
            "invalid null reference in method 'new_Uri', argument 1 of type 'std::string const &'")):
        q.new_Uri(None)
    with pytest.raises(TypeError, match=exact("in method 'Uri_host', argument 1 of type 'quelbo::Uri const *'")):
        q.Uri_host(Indexer())
