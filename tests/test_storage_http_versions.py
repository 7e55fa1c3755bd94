"""An HTTP store reads one version of its resource: a resource replaced on the
server is refused, never mixed with the old one; and what HTTP failures
say, against the test server of test_storage_http.py."""
import email.utils
import os
import random
import re

import pytest

from proxy import QuelboError, q
from test_storage_http import HTTPHeaders, Uri, open_read, read_at, server, trusted  # noqa: F401

SIZE, SHORTER = 1 << 20, 300_000
CHANGED = "the resource changed since the store opened it"


def etag(path):
    st = os.stat(path)
    return '"%x-%x"' % (int(st.st_mtime), st.st_size)


def date(path):
    return email.utils.formatdate(int(os.stat(path).st_mtime), usegmt=True)


def replace(path, data):
    """Puts a new file in the old one's place, modified later, as a deploy does."""
    when = os.stat(path).st_mtime + 10
    new = path.with_suffix(".new")
    new.write_bytes(data)
    os.utime(new, (when, when))
    os.replace(new, path)


# the server kind, the replacement's size, and what the error names: the server refuses the
# condition (412, or the whole new file for If-Range), or the answer shows another validator or size.
# A weak tag cannot vouch for a range: behind one that stays, the date tells (sent as the condition,
# and held against every answer); without a tag the date alone does.
CASES = [
    ("files", SIZE, "ETag {tag} no longer matches"),
    ("files", SHORTER, "ETag {tag} no longer matches"),
    ("ifrange", SIZE, "ETag {tag}, now {newtag}"),
    ("ifrange", SHORTER, "ETag {tag}, now {newtag}"),
    ("ignoring", SIZE, "ETag {tag}, now {newtag}"),
    ("ignoring", SHORTER, "size 1048576, now 300000"),
    ("bare", SHORTER, "size 1048576, now 300000"),
    ("weak", SIZE, "Last-Modified {date}, now {newdate}"),
    ("weakfiles", SIZE, "Last-Modified {date} no longer matches"),
    ("weakly", SIZE, "ETag W/{tag}, now W/{newtag}"),
    ("dated", SIZE, "Last-Modified {date}, now {newdate}"),
    ("datedfiles", SIZE, "Last-Modified {date} no longer matches"),
]


@pytest.mark.parametrize("kind,size,why", CASES)
def test_a_replaced_resource_is_refused_never_mixed(server, kind, size, why):
    path = server.root / ("v-%s-%d.bin" % (kind, size))
    rnd = random.Random(size)
    old = rnd.randbytes(SIZE)
    path.write_bytes(old)
    url = server.url("%s/%s" % (kind, path.name))
    store = open_read(url)
    was = dict(tag=etag(path), date=date(path))
    assert read_at(store, 100_000, 1000) == old[100_000:101_000]
    replace(path, rnd.randbytes(size))
    why = why.format(newtag=etag(path), newdate=date(path), **was)
    for at in (200_000, 600_000, 60_000):  # the last begins in the opening's window, kept from the first answer
        buf = bytearray(b"\xaa" * 100_000)
        with pytest.raises(QuelboError) as err:
            q.RandomAccess___read(store, at, buf)
        assert str(err.value) == "HTTP GET '%s': %s (%s)" % (url, CHANGED, why)
        kept = max(0, 65_536 - at)
        assert buf[kept:] == b"\xaa" * (len(buf) - kept)  # nothing of the new version
        assert buf[:kept] in (old[at:at + kept], b"\xaa" * kept)
    assert read_at(store, 0, 60_000) == old[:60_000]  # kept from the first answer: the old version


def test_an_answer_without_the_first_ones_validator_is_refused(server):
    # the server sends the validator with the opening's answer only and honours no condition: a later
    # answer may be of another version, which only the validator would tell
    path = server.root / "v-untagged.bin"
    old = random.Random(31).randbytes(SIZE)
    path.write_bytes(old)
    url = server.url("untagged/" + path.name)
    store = open_read(url)
    before = etag(path)
    replace(path, random.Random(32).randbytes(SIZE))  # same size
    buf = bytearray(b"\xaa" * 1000)
    with pytest.raises(QuelboError) as err:
        q.RandomAccess___read(store, 200_000, buf)
    assert str(err.value) == "HTTP GET '%s': %s (ETag %s, now none)" % (url, CHANGED, before)
    assert buf == b"\xaa" * len(buf)
    assert read_at(store, 0, 60_000) == old[:60_000]  # kept from the first answer


def test_without_validators_a_same_sized_replacement_goes_unseen(server):
    path = server.root / "v-bare-same.bin"
    path.write_bytes(bytes(SIZE))
    store = open_read(server.url("bare/" + path.name))
    replace(path, b"\x01" * SIZE)
    assert read_at(store, 500_000, 4) == b"\x01" * 4  # checked by size alone, as the README says


def test_validators_ride_on_the_reads_the_store_makes(server):
    before = server.requests()
    store = open_read(server.url("files/data.bin"))
    data = (server.root / "data.bin").read_bytes()
    for off in (300_000, 200_000, 650_000):
        assert read_at(store, off, 1000) == data[off:off + 1000]
    assert server.requests() - before == 4  # the opening and one request a read


def test_a_callers_accept_encoding_still_gets_ranges(server):
    data = (server.root / "data.bin").read_bytes()
    h = HTTPHeaders()
    q.HTTPHeaders_add(h, "accept-encoding", "gzip, deflate")
    store = open_read(server.url("gzip/data.bin"), "GET", h)
    assert read_at(store, 400_000, 5000) == data[400_000:405_000]


def test_tls_failures_are_named(server, monkeypatch):
    monkeypatch.delenv("SSL_CERT_FILE", raising=False)  # the system store does not know the certificate
    url = server.url("files/small.txt", True)
    untrusted = "TLS: SSL certificate problem: self-signed certificate"
    with pytest.raises(QuelboError) as err:
        open_read(url)
    assert str(err.value) == "HTTP GET '%s': %s" % (url, untrusted)
    url = server.url("upload/tls", True)
    with pytest.raises(QuelboError) as err:
        q.StreamAccessFactory_open_http_write(Uri(url), "PUT", HTTPHeaders())
    assert str(err.value) == "HTTP PUT '%s': %s" % (url, untrusted)
    monkeypatch.setenv("SSL_CERT_FILE", str(server.cert))
    url = "https://localhost:%d/files/small.txt" % server.https
    with pytest.raises(QuelboError) as err:
        open_read(url)
    assert re.fullmatch(r"HTTP GET '%s': TLS: SSL: .*'localhost'" % re.escape(url), str(err.value))


def test_no_message_carries_header_bytes(server):
    (server.root / "cut.bin").write_bytes(bytes(300_000))
    store = open_read(server.url("files/cut.bin"))
    (server.root / "cut.bin").write_bytes(bytes(1000))
    for call in (lambda: read_at(store, 299_000, 10), lambda: open_read(server.url("badrange/data.bin")),
                 lambda: open_read(server.url("noranges/data.bin"))):
        with pytest.raises(QuelboError) as err:
            call()
        assert not re.search(r"[\r\n]", str(err.value)), str(err.value)
