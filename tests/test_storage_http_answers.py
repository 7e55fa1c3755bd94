"""What HTTP requests send and what their failures say, against the test
server of test_storage_http.py: uploads the server answered before their end,
interim answers and redirects that lead nowhere, and header entries sent as
given."""
import re
import time
import urllib.error

import pytest

from proxy import QuelboError, q
from test_storage_http import HTTPHeaders, Uri, closed_port, open_read, read_at, server, trusted  # noqa: F401

EARLY = "the server ended the upload early (status 200)"


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


# ------------------------------------------------------------ early answers

@pytest.mark.parametrize("kind", ["early", "early-hold"])  # closed at once (a reset), or its sending side only
@pytest.mark.parametrize("answered", ["before the first write", "before the flush"])
def test_an_upload_answered_before_its_end_fails(server, kind, answered):
    rid = "%s-%s" % (kind, answered.replace(" ", "-"))
    url = server.url("%s/%s" % (kind, rid))
    s = upload(server, "%s/%s" % (kind, rid))
    if answered == "before the first write":
        recorded(server, rid)
        text = failure(q.StreamAccess_write, s, b"x" * 800)
    else:
        try:  # the answer may come while the bytes go out, or after
            q.StreamAccess_write(s, b"x" * 800)
        except QuelboError as e:
            text = str(e)
        else:
            recorded(server, rid)
            text = failure(q.StreamAccess_flush, s)
    if kind == "early" and not text.endswith(EARLY):  # the reset may come first
        assert re.fullmatch(r"HTTP POST '%s': .*(reset|Send failure|Recv failure|Broken pipe).*" % re.escape(url),
                            text), text
    else:
        assert text == "HTTP POST '%s': %s" % (url, EARLY)
    assert q.StreamAccess_get_fail(s)
    assert failure(q.StreamAccess_write, s, b"y").endswith("the upload is already finished")
    assert failure(q.StreamAccess_flush, s).endswith("the upload is already finished")


def test_an_upload_read_whole_before_its_answer_succeeds(server):
    s = upload(server, "upload/whole")
    for _ in range(3):
        q.StreamAccess_write(s, b"z" * 800)
    q.StreamAccess_flush(s)
    assert not q.StreamAccess_get_fail(s)
    assert bytes.fromhex(server.record("whole")["body"]) == b"z" * 2400


@pytest.mark.parametrize("method,call", [("POST", "upload"), ("GET", "read")])
def test_an_interim_answer_then_a_close_names_the_failure(server, method, call):
    rid = "interim-" + call
    url = server.url("continue-close/" + rid)
    if call == "read":
        text = failure(open_read, url)
        assert text == "HTTP GET '%s': no answer: Empty reply from server" % url
        return
    s = upload(server, "continue-close/" + rid)
    recorded(server, rid)
    try:
        q.StreamAccess_write(s, b"x" * 800)
        text = failure(q.StreamAccess_flush, s)
    except QuelboError as e:
        text = str(e)
    assert re.fullmatch(r"HTTP POST '%s': the (server ended the upload early|upload did not complete): .+"
                        % re.escape(url), text), text
    assert "100" not in text.split("': ", 1)[1]


# ------------------------------------------------------------ redirects

def test_a_failed_redirect_names_its_cause(server, monkeypatch):
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
    ]
    for path, cause in cases:
        url = server.url(path)
        text = failure(open_read, url)
        assert re.fullmatch("HTTP GET '%s': %s" % (re.escape(url), cause), text), text
        assert "302" not in text.split("': ", 1)[1]


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


@pytest.mark.parametrize("name", ["X;Y", "X Y", "X:Y", ""])
def test_header_names_that_are_no_tokens_are_refused(server, name):
    h = HTTPHeaders()
    q.HTTPHeaders_add(h, name, "")
    with pytest.raises(QuelboError, match="^HTTP: invalid header name '%s'$" % re.escape(name)):
        open_read(server.url("files/small.txt"), "GET", h)
