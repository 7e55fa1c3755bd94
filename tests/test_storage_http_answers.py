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
# an answer that came before the first byte was asked for
EARLY_TEXTS = (EARLY, "the server ended the upload before it began (status 200)")


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


def first_failure(*steps):
    """Runs the steps in turn up to the first that raises: its message (the server's answer may come
    while any of them runs)."""
    with pytest.raises(QuelboError) as err:
        for step in steps:
            step()
    return str(err.value)


# ------------------------------------------------------------ early answers

@pytest.mark.parametrize("kind", ["early", "early-hold"])  # closed at once (a reset), or its sending side only
@pytest.mark.parametrize("answered", ["before the first write", "before the flush"])
def test_an_upload_answered_before_its_end_fails(server, kind, answered):
    rid = "%s-%s" % (kind, answered.replace(" ", "-"))
    url = server.url("%s/%s" % (kind, rid))
    s = []
    steps = [lambda: s.append(upload(server, "%s/%s" % (kind, rid))),
             lambda: q.StreamAccess_write(s[0], b"x" * 800), lambda: recorded(server, rid),
             lambda: q.StreamAccess_flush(s[0])]
    if answered == "before the first write":
        steps.insert(1, steps.pop(2))
    text = first_failure(*steps)
    if kind == "early" and not text.endswith(EARLY_TEXTS):  # the reset may come first
        assert re.fullmatch(r"HTTP POST '%s': .*(reset|Send failure|Recv failure|Broken pipe).*" % re.escape(url),
                            text), text
    else:
        assert text in ["HTTP POST '%s': %s" % (url, t) for t in EARLY_TEXTS]
    if s:
        assert q.StreamAccess_get_fail(s[0])
        assert failure(q.StreamAccess_write, s[0], b"y").endswith("the upload is already finished")
        assert failure(q.StreamAccess_flush, s[0]).endswith("the upload is already finished")


@pytest.mark.parametrize("kind,size,text", [
    ("early-hold", 32 << 20, EARLY_TEXTS),  # the answer comes while the client waits to send more
    ("early-413", 800, ("the server answered 413 Content Too Large",)),
    ("early-413", 32 << 20, ("the server answered 413 Content Too Large",)),
    ("upload-reset", 8 << 20, None),  # reset after 64 KiB of the body
])
def test_an_upload_the_server_refuses_or_cuts_short_fails(server, kind, size, text):
    rid = "%s-%d" % (kind, size)
    url = server.url("%s/%s" % (kind, rid))
    s = []
    message = first_failure(lambda: s.append(upload(server, "%s/%s" % (kind, rid))),
                            lambda: q.StreamAccess_write(s[0], bytes(size)), lambda: recorded(server, rid),
                            lambda: q.StreamAccess_flush(s[0]))
    if text is None:
        assert re.fullmatch(r"HTTP POST '%s': (no answer|the server ended the upload early|the upload did not complete)"
                            r": .+" % re.escape(url), message), message
    else:
        assert message in ["HTTP POST '%s': %s" % (url, t) for t in text]
    assert not s or q.StreamAccess_get_fail(s[0])


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
    s = []
    text = first_failure(lambda: s.append(upload(server, "continue-close/" + rid)), lambda: recorded(server, rid),
                         lambda: q.StreamAccess_write(s[0], b"x" * 800), lambda: q.StreamAccess_flush(s[0]))
    assert re.fullmatch(r"HTTP POST '%s': the (server ended the upload (early|before it began)|upload did not "
                        r"complete): .+"
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
