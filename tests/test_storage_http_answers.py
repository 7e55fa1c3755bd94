"""What HTTP requests send and what their failures say, against the test
server of test_storage_http.py: uploads the server answered before their end,
interim answers and redirects that lead nowhere, and header entries sent as
given."""
import re
import time
import urllib.error

import pytest

from proxy import QuelboError, q
from test_storage_http import HTTPHeaders, Uri, closed_port, open_read, server, trusted  # noqa: F401

EARLY = r"the server ended the upload (early|before it began) \(status 200\)"  # the latter: before any byte
CUT = r"(no answer|the server ended the upload (early|before it began)|the upload did not complete): .+"


def recorded(server, rid, seconds=30):
    """The server's recording of rid, once there (the server made it)."""
    end = time.monotonic() + seconds
    while True:
        try:
            return server.record(rid)
        except urllib.error.HTTPError:
            assert time.monotonic() < end, "the server recorded nothing for " + rid
            time.sleep(0.01)


def upload(server, path, method="POST", headers=None):
    return q.StreamAccessFactory_open_http_write(Uri(server.url(path)), method, headers or HTTPHeaders())


def failure(call, *args):
    with pytest.raises(QuelboError) as err:
        call(*args)
    return str(err.value)


# ------------------------------------------------------------ uploads answered early

@pytest.mark.parametrize("kind,size,first,cause", [
    ("early-hold", 800, True, EARLY),  # answered before the first write (the server reads nothing)
    ("early-hold", 800, False, EARLY),  # written, then answered, then flushed
    ("early-hold", 32 << 20, False, EARLY),  # answered while the client waits to send more
    ("early", 800, False, EARLY + "|" + CUT),  # closed at once: the reset may come first
    ("early-413", 32 << 20, False, "the server answered 413 Content Too Large"),
    ("upload-reset", 8 << 20, False, CUT),  # reset after 64 KiB of the body
    ("continue-close", 800, True, CUT),  # 100 Continue, then closed
])
def test_an_upload_answered_before_its_end_fails(server, kind, size, first, cause):
    rid = "%s-%d-%d" % (kind, size, first)
    url = server.url("%s/%s" % (kind, rid))
    s = []
    steps = [lambda: s.append(upload(server, "%s/%s" % (kind, rid))), lambda: q.StreamAccess_write(s[0], bytes(size)),
             lambda: recorded(server, rid), lambda: q.StreamAccess_flush(s[0])]
    if first:
        steps.insert(1, steps.pop(2))
    with pytest.raises(QuelboError) as err:  # the answer may come while any step runs
        for step in steps:
            step()
    assert re.fullmatch("HTTP POST '%s': (%s)" % (re.escape(url), cause), str(err.value)), str(err.value)
    assert "Continue" not in str(err.value)
    if s:
        assert q.StreamAccess_get_fail(s[0])
        assert failure(q.StreamAccess_flush, s[0]).endswith("the upload is already finished")


@pytest.mark.parametrize("kind", ["upload", "upload-endless"])  # an answer's body is not waited for
def test_an_upload_read_whole_before_its_answer_succeeds(server, kind):
    s = upload(server, "%s/%s-whole" % (kind, kind))
    for _ in range(3):
        q.StreamAccess_write(s, b"z" * 800)
    q.StreamAccess_flush(s)
    assert not q.StreamAccess_get_fail(s)
    rec = recorded(server, kind + "-whole")
    assert bytes.fromhex(rec["body"]) == b"z" * 2400
    assert rec.get("sent", 0) < 1 << 30  # the client hung up long before the endless answer's end


# ------------------------------------------------------------ redirects

def test_a_failed_redirect_or_interim_answer_names_the_cause(server, monkeypatch):
    monkeypatch.delenv("SSL_CERT_FILE", raising=False)  # the system store does not know the certificate
    port = closed_port()
    cases = [
        ("goto?https://127.0.0.1:%d/files/small.txt" % server.https,
         "TLS: SSL certificate problem: self-signed certificate"),
        ("loop", "too many redirects"),
        ("goto?http://127.0.0.1:%d/x" % port,
         "cannot connect: Failed to connect to 127.0.0.1 port %d after \\d+ ms: Couldn't connect to server" % port),
        ("goto?ftp://127.0.0.1/x", "redirect to a scheme other than http/https refused"),
        ("goto?file:///etc/passwd", "redirect to a scheme other than http/https refused"),
        ("continue-close/read", "no answer: Empty reply from server"),  # 100 Continue, then closed
    ]
    unparsed = "the server answered with a redirect whose target cannot be parsed: "
    cases += [("goto?" + target, unparsed + why) for target, why in (
        ("http://%5B::1/x", "Bad IPv6 address"),  # an IPv6 host unclosed
        ("http://127.0.0.1:99999/x", "Port number was not a decimal number between 0 and 65535"),
        ("http://a%01b/x", "Bad hostname"),  # a control character
        ("http://:80/x", "No host part in the URL"))]
    for path, cause in cases:
        url = server.url(path)
        text = failure(open_read, url)
        assert re.fullmatch("HTTP GET '%s': %s" % (re.escape(url), cause), text), text
        assert not re.search("302|100", text.split("': ", 1)[1]), text


def test_a_total_beyond_64_bits_is_named(server):
    url = server.url("hugetotal/data.bin")
    assert failure(open_read, url) == ("HTTP GET '%s': Content-Range 'bytes 0-65535/18446744073709551616' announces a "
                                       "total size that cannot be held (2^64 bytes or more) (status 206)" % url)


def test_uploads_do_not_follow_redirects(server):
    s = upload(server, "redirect/small.txt")
    q.StreamAccess_write(s, b"x")
    assert failure(q.StreamAccess_flush, s).endswith("': the server answered 302 Found")


# ------------------------------------------------------------ request headers

ENTRIES = [("X-Empty", ""), ("X-Blank", "  \t"), ("Accept", ""), ("X-Kept", "v"), ("X-Twice", "1"), ("X-Twice", "")]
SENT = [["X-Empty", ""], ["X-Blank", ""], ["Accept", ""], ["X-Kept", "v"], ["X-Twice", "1"], ["X-Twice", ""]]


def entries():
    h = HTTPHeaders()
    for name, value in ENTRIES:
        q.HTTPHeaders_add(h, name, value)
    return h


def caller_headers(record):
    return [[k, v] for k, v in record["headers"] if k.lower().startswith("x-") or k.lower() == "accept"]


def test_every_header_entry_is_sent_as_given(server):
    store = open_read(server.url("echo/data.bin"), "GET", entries())
    assert caller_headers(server.record("echo-data.bin")) == SENT  # the default Accept replaced, not added to
    stream = q.StreamAccessFactory_from_random_access(store)
    q.StreamAccess_seek(stream, 300_000, q.SeekOrigin_BEGIN)
    q.StreamAccess___read(stream, bytearray(10))  # a later request, with the store's conditions
    later = server.record("echo-data.bin")
    assert caller_headers(later) == SENT and any(k == "If-Match" for k, _ in later["headers"])
    s = upload(server, "upload/headers", "PUT", entries())
    q.StreamAccess_write(s, b"body")
    q.StreamAccess_flush(s)
    assert caller_headers(server.record("headers")) == SENT


@pytest.mark.parametrize("value", ["gzip", "", "chunked"])
def test_an_upload_frames_its_body_whatever_the_callers_transfer_encoding(server, value):
    h = HTTPHeaders()
    q.HTTPHeaders_add(h, "Transfer-Encoding", value)  # the client would send the body unframed
    s = upload(server, "upload/te-%s" % value, "PUT", h)
    q.StreamAccess_write(s, b"framed body")
    q.StreamAccess_flush(s)
    rec = server.record("te-" + value)
    assert bytes.fromhex(rec["body"]) == b"framed body" and rec["chunked"]
    assert [v for k, v in rec["headers"] if k.lower() == "transfer-encoding"] == ["chunked"]


def test_a_header_name_with_a_semicolon_is_refused(server):  # the client would read "X;Y;" as no header
    h = HTTPHeaders()
    q.HTTPHeaders_add(h, "X;Y", "")
    with pytest.raises(QuelboError, match="^HTTP: invalid header name 'X;Y'$"):
        open_read(server.url("files/small.txt"), "GET", h)
