"""HTTP(S) stores read by range requests and upload streams, against a test
server running in its own process."""
import hashlib
import json
import os
import random
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

import pytest

from helpers import rss
from proxy import QuelboError, cls, q

HTTPHeaders = cls("HTTPHeaders")
Uri = cls("Uri")
HERE = os.path.dirname(os.path.abspath(__file__))
SANITIZER_VARS = ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


class Server:
    def __init__(self, root, cert):
        self.root = root
        self.cert = cert
        env = {k: v for k, v in os.environ.items() if k not in SANITIZER_VARS}
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "http_server.py"), str(root),
                                      str(cert), str(cert.with_suffix(".key"))],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        line = self.proc.stdout.readline().decode().split()
        assert line and line[0] == "PORTS", "test server did not start"
        self.http, self.https = int(line[1]), int(line[2])

    def url(self, path, secure=False):
        return "%s://127.0.0.1:%d/%s" % ("https" if secure else "http", self.https if secure else self.http, path)

    def fetch(self, path):
        with urllib.request.urlopen(self.url(path)) as r:
            return r.read()

    def record(self, rid):
        return json.loads(self.fetch("record/" + rid))

    def requests(self):
        return int(self.fetch("count"))

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(10)


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    root = tmp_path_factory.mktemp("www")
    cert = root / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", str(cert.with_suffix(".key")),
                    "-out", str(cert)], check=True, capture_output=True)
    rnd = random.Random(7)
    (root / "data.bin").write_bytes(rnd.randbytes(700_000))
    (root / "small.txt").write_bytes(b"0123456789")
    (root / "empty.bin").write_bytes(b"")
    s = Server(root, cert)
    yield s
    s.stop()


@pytest.fixture
def trusted(server, monkeypatch):
    monkeypatch.setenv("SSL_CERT_FILE", str(server.cert))


def open_read(url, method="GET", headers=None):
    return q.RandomAccessFactory_open_http_read(Uri(url), method, headers or HTTPHeaders())


def read_at(store, offset, n):
    buf = bytearray(n)
    got = q.RandomAccess___read(store, offset, buf)
    return bytes(buf[:got])


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


# ------------------------------------------------------------------ reading

@pytest.mark.parametrize("secure", [False, True])
def test_range_reads_at_random_offsets_equal_the_file(server, trusted, secure):
    data = (server.root / "data.bin").read_bytes()
    store = open_read(server.url("files/data.bin", secure))
    assert q.RandomAccess_get_size(store) == len(data)
    assert q.RandomAccess_get_capabilities(store) is not None
    rnd = random.Random(secure)
    for _ in range(40):
        off = rnd.randrange(len(data))
        n = rnd.choice([1, 100, 5000, 300_000])
        assert read_at(store, off, n) == data[off:off + n]
    assert read_at(store, 0, len(data) + 10) == data
    assert read_at(store, len(data), 4) == b""
    with pytest.raises(QuelboError, match="past the end"):
        read_at(store, len(data) + 1, 1)
    assert q.DataAccess_get_resource_id(store) == "/files/data.bin"
    site = q.DataAccess_get_storage(store)
    assert q.DataStorage_get_source(site) == server.url("", secure)
    again = q.DataStorage_open_random_access(site, "files/small.txt", q.AccessCapabilities_READ_ONLY)
    assert read_at(again, 0, 20) == b"0123456789"


def test_small_sequential_reads_share_requests(server):
    store = open_read(server.url("files/data.bin"))
    before = server.requests()
    stream = q.StreamAccessFactory_from_random_access(store)
    out = bytearray()
    buf = bytearray(100)
    for _ in range(2000):
        out += buf[:q.StreamAccess___read(stream, buf)]
    assert bytes(out) == (server.root / "data.bin").read_bytes()[:200_000]
    assert server.requests() - before <= 2


@pytest.mark.parametrize("secure", [False, True])
def test_sequential_reads_through_a_stream_equal_the_file(server, trusted, secure):
    data = (server.root / "data.bin").read_bytes()
    stream = q.StreamAccessFactory_from_random_access(open_read(server.url("files/data.bin", secure)))
    sizes = [100, 70_000, 1, 300_000, 4096] * 10
    out = bytearray()
    for n in sizes:
        buf = bytearray(n)
        out += buf[:q.StreamAccess___read(stream, buf)]
    assert bytes(out) == data


def test_reads_that_leave_a_response_early(server):
    data = random.Random(5).randbytes(8 << 20)
    (server.root / "big.bin").write_bytes(data)
    connections = lambda: int(server.fetch("connections"))  # noqa: E731
    store = open_read(server.url("files/big.bin"))
    before = connections()
    assert read_at(store, 0, 65536) + read_at(store, 65536, 65536) == data[:131072]  # a reader going on
    assert read_at(store, 3, 10) == data[3:13]  # leaves the rest of what was asked ahead
    assert connections() - before == 1  # the counting request's: the store's own is kept
    for off in range(0, 3 << 20, 1 << 20):
        assert read_at(store, off, 1 << 20) == data[off:off + (1 << 20)]
    assert read_at(store, 5, 10) == data[5:15]  # leaves megabytes asked ahead
    assert read_at(store, len(data) - 100, 200) == data[-100:]


def test_a_response_kept_between_reads_may_break_off(server):
    data = (server.root / "data.bin").read_bytes()
    store = open_read(server.url("cut/data.bin"))
    assert read_at(store, 0, 65536) + read_at(store, 65536, 16384) == data[:81920]  # asks ahead
    time.sleep(1)  # meanwhile the server stops in the middle of the response and closes
    assert read_at(store, 81920, 200_000) == data[81920:281920]


def test_a_store_keeps_its_connection(server):
    connections = lambda: int(server.fetch("connections"))  # noqa: E731
    before = connections()
    store = open_read(server.url("files/data.bin"))
    for off in (400_000, 10, 300_000, 50_000):
        read_at(store, off, 300_000)
    assert connections() - before == 2  # the store's one, and the counting request


def test_open_uri_read_and_redirects(server):
    store = q.RandomAccessFactory_open_uri_read(Uri(server.url("redirect/small.txt")))
    assert read_at(store, 2, 3) == b"234"
    empty = q.RandomAccessFactory_open_uri_read(Uri(server.url("files/empty.bin")))
    assert q.RandomAccess_get_size(empty) == 0
    with pytest.raises(QuelboError, match="loop"):
        open_read(server.url("loop"))
    with pytest.raises(QuelboError, match="write"):
        q.RandomAccess_write(store, 0, b"x")


def past_the_end(store, offset):
    with pytest.raises(QuelboError) as err:
        read_at(store, offset, 1)
    return str(err.value)


# An empty resource, as servers answer a range of it: 416 with "bytes */0", or the whole of it
# with 200, announcing no bytes (nginx) or sending none before the connection closes.
@pytest.mark.parametrize("kind", ["files", "noranges", "unsized"])
def test_an_empty_resource_opens_as_an_empty_store(server, kind, tmp_path):
    store = open_read(server.url(kind + "/empty.bin"))
    assert q.RandomAccess_get_size(store) == 0
    assert q.RandomAccess___read(store, 0, bytearray(10)) == 0
    (tmp_path / "empty").write_bytes(b"")
    local = q.RandomAccessFactory_open_uri_read(Uri("file://%s/empty" % tmp_path))
    for offset in (1, 4096):
        assert past_the_end(store, offset) == past_the_end(local, offset)


@pytest.mark.parametrize("kind", ["noranges", "unsized"])
@pytest.mark.parametrize("method", ["GET", "HEAD"])  # a HEAD answer has no body, whatever the resource holds
def test_a_whole_body_is_no_range(server, kind, method):
    url = server.url(kind + "/small.txt")
    with pytest.raises(QuelboError) as err:
        open_read(url, method)
    assert str(err.value) == "HTTP %s '%s': the server does not answer range requests (status 200)" % (method, url)


NGINX = shutil.which("nginx") or next((p for p in ("/usr/sbin/nginx",) if os.access(p, os.X_OK)), None)


@pytest.mark.skipif(not NGINX, reason="nginx is not installed")
def test_nginx_serves_ranges_and_empty_files(server, tmp_path):
    port = closed_port()
    for name in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        (tmp_path / name).mkdir()
    conf = tmp_path / "nginx.conf"
    conf.write_text("""daemon off; master_process off; pid %(d)s/nginx.pid; error_log %(d)s/error.log;
events {}
http { access_log off; client_body_temp_path %(d)s/body; proxy_temp_path %(d)s/proxy;
  fastcgi_temp_path %(d)s/fastcgi; uwsgi_temp_path %(d)s/uwsgi; scgi_temp_path %(d)s/scgi;
  server { listen 127.0.0.1:%(port)d; root %(root)s; } }
""" % {"d": tmp_path, "port": port, "root": server.root})
    proc = subprocess.Popen([NGINX, "-p", str(tmp_path), "-c", str(conf)], stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 0.1).close()
                break
            except OSError:
                time.sleep(0.05)
        url = "http://127.0.0.1:%d/" % port
        empty = open_read(url + "empty.bin")
        assert q.RandomAccess_get_size(empty) == 0 and q.RandomAccess___read(empty, 0, bytearray(4)) == 0
        data = (server.root / "data.bin").read_bytes()
        store = open_read(url + "data.bin")
        assert q.RandomAccess_get_size(store) == len(data)
        assert read_at(store, 123_456, 100_000) == data[123_456:223_456]
    finally:
        proc.terminate()
        proc.wait(10)


@pytest.mark.parametrize("path,text", [
    ("files/missing.bin", "': the server answered 404 Not Found$"),
    ("status/500", "': the server answered 500 Internal Server Error$"),
    ("status/404", "': the server answered 404 Not Found$"),
    ("status/599", "': the server answered 599$"),
    ("noranges/data.bin", "range requests"),
    ("badrange/data.bin", "Content-Range"),
    ("short/data.bin", "transfer failed|shorter"),
])
def test_server_faults_raise(server, path, text):
    url = server.url(path)
    with pytest.raises(QuelboError) as err:
        open_read(url)
    assert str(err.value).startswith("HTTP GET '%s': " % url) and re.search(text, str(err.value))
    assert not re.search("[\r\n]", str(err.value))


def test_faults_after_opening_raise(server, tmp_path):
    good = open_read(server.url("files/small.txt"))
    (server.root / "grow.bin").write_bytes(bytes(300_000))
    store = open_read(server.url("files/grow.bin"))
    (server.root / "grow.bin").write_bytes(bytes(1000))  # the resource shrank
    with pytest.raises(QuelboError, match="the resource changed since the store opened it"):
        read_at(store, 299_000, 10)
    assert read_at(good, 0, 4) == b"0123"


def test_messages_hide_credentials(server):
    with pytest.raises(QuelboError, match="answered 404 Not Found") as err:
        open_read(server.url("status/404").replace("127.0.0.1", "user:secret@127.0.0.1"))
    assert "secret" not in str(err.value) and "127.0.0.1" in str(err.value)


def test_announced_sizes_allocate_nothing(server):
    liar = open_read(server.url("liar"))
    assert q.RandomAccess_get_size(liar) == 1 << 40
    refused = "the server answered 416 Range Not Satisfiable"
    with pytest.raises(QuelboError, match=refused):  # not MemoryError: the copy grew with the bytes
        q.RandomAccessFactory_copy_in_memory(liar)
    with pytest.raises(QuelboError, match=refused):
        q.StreamAccessFactory_copy_in_memory(q.StreamAccessFactory_from_random_access(liar))


def test_unreachable_and_refused_requests(server):
    url = "http://127.0.0.1:%d/x" % closed_port()
    with pytest.raises(QuelboError, match=re.escape(url)):
        open_read(url)
    for method in ("GE\r\nT", "GET\n", "G\0ET"):
        with pytest.raises(QuelboError, match="CR, LF or NUL"):
            open_read(server.url("files/small.txt"), method)
    for name, value in (("X-A\r\nX-B", "1"), ("X-A", "1\r\nX-Evil: 2"), ("X-A", "a\0b")):
        h = HTTPHeaders()
        q.HTTPHeaders_add(h, name, value)
        with pytest.raises(QuelboError, match="CR, LF or NUL"):
            open_read(server.url("files/small.txt"), "GET", h)
    with pytest.raises(QuelboError, match="scheme"):
        q.StreamAccessFactory_open_http_write(Uri("file:///tmp/x"), "POST", HTTPHeaders())


def test_https_verifies_the_certificate(server, monkeypatch):
    monkeypatch.delenv("SSL_CERT_FILE", raising=False)  # the system store does not know it
    with pytest.raises(QuelboError, match="https://.*certificate"):
        open_read(server.url("files/small.txt", True))
    with pytest.raises(QuelboError, match="https://.*certificate"):
        q.StreamAccessFactory_open_http_write(Uri(server.url("upload/tls", True)), "POST", HTTPHeaders())
    monkeypatch.setenv("SSL_CERT_FILE", str(server.cert))
    with pytest.raises(QuelboError, match="localhost"):  # the certificate names 127.0.0.1 only
        open_read("https://localhost:%d/files/small.txt" % server.https)


def test_redirects_stay_on_http(server, tmp_path):
    (tmp_path / "secret").write_bytes(b"secret")
    with pytest.raises(QuelboError):
        open_read(server.url("goto?file://" + str(tmp_path / "secret")))


def test_no_threads_are_started(server):
    before = len(os.listdir("/proc/self/task"))
    store = open_read(server.url("files/data.bin"))
    read_at(store, 500_000, 300_000)
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload/threads")), "POST", HTTPHeaders())
    q.StreamAccess_write(s, b"x" * 100_000)
    q.StreamAccess_flush(s)
    assert len(os.listdir("/proc/self/task")) == before


def test_head_requests_end(server):
    with pytest.raises(QuelboError, match="shorter"):
        open_read(server.url("files/small.txt"), "HEAD")


# ------------------------------------------------------------------ uploads

@pytest.mark.parametrize("secure", [False, True])
def test_uploads_arrive_byte_exact(server, trusted, secure):
    payload = random.Random(3).randbytes(300_000)
    h = HTTPHeaders()
    q.HTTPHeaders_add(h, "X-Token", "abc 123")
    rid = "up%d" % secure
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload/" + rid, secure)), "PUT", h)
    for i in range(0, len(payload), 70_000):
        assert q.StreamAccess_write(s, payload[i:i + 70_000]) == len(payload[i:i + 70_000])
    q.StreamAccess_flush(s)
    rec = server.record(rid)
    assert rec["method"] == "PUT" and rec["chunked"]
    assert bytes.fromhex(rec["body"]) == payload
    assert ["X-Token", "abc 123"] in rec["headers"]
    with pytest.raises(QuelboError, match="finished"):
        q.StreamAccess_write(s, b"more")
    with pytest.raises(QuelboError, match="read"):
        q.StreamAccess___read(s, bytearray(1))


def test_a_write_keeps_no_copy_of_its_bytes(server):
    size = 32 << 20
    payload = random.Random(4).randbytes(1 << 20) * (size >> 20)
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload-digest/nocopy")), "PUT", HTTPHeaders())
    before = rss()
    q.StreamAccess_write(s, payload)  # handed to the client from the caller's buffer
    grown = rss() - before
    q.StreamAccess_flush(s)
    assert grown < size // 4, grown
    rec = server.record("nocopy")
    assert rec["length"] == size and rec["sha256"] == hashlib.sha256(payload).hexdigest()


def test_records_encoded_into_one_upload_follow_each_other(server):
    # an encode leaves the upload open: its flush would end the request
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload/records")), "POST", HTTPHeaders())
    q.Serialization_encode_vector_2u8([1, 2], s)
    q.Serialization_encode_matrix_3f(q.Matrix3f_identity(), s)
    q.StreamAccess_flush(s)
    back = q.StreamAccessFactory_allocate(0)
    q.StreamAccess_write(back, bytes.fromhex(server.record("records")["body"]))
    q.StreamAccess_seek(back, 0, q.SeekOrigin_BEGIN)
    assert list(q.Serialization_decode_vector_2u8(back)) == [1, 2]
    assert q.Matrix3f___eq__(q.Serialization_decode_matrix_3f(back), q.Matrix3f_identity())


def test_upload_through_uri_and_on_drop(server):
    s = q.StreamAccessFactory_open_uri_write(Uri(server.url("upload/uri")))
    q.StreamAccess_write(s, b"first")
    del s  # the request still ends and what was written arrives
    rec = server.record("uri")
    assert rec["method"] == "POST" and bytes.fromhex(rec["body"]) == b"first"


def test_an_upload_refused_after_it_was_let_go_is_reported_as_unraisable(server, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append((type(u.exc_value), str(u.exc_value))))
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload-fail/gone")), "POST", HTTPHeaders())
    q.StreamAccess_write(s, b"payload")
    del s  # the request ends here, and the server refuses what it carried
    assert server.record("gone")["body"] == b"payload".hex()
    assert len(reported) == 1 and reported[0][0] is QuelboError
    assert reported[0][1].endswith("the server answered 500 Internal Server Error")
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload/kept")), "POST", HTTPHeaders())
    q.StreamAccess_write(s, b"fine")
    del s  # taken: nothing to report
    assert len(reported) == 1


def test_failed_uploads_raise(server):
    s = q.StreamAccessFactory_open_http_write(Uri(server.url("upload-fail/f")), "POST", HTTPHeaders())
    q.StreamAccess_write(s, b"payload")
    with pytest.raises(QuelboError, match="answered 500 Internal Server Error$"):
        q.StreamAccess_flush(s)
    assert q.StreamAccess_get_fail(s)
    with pytest.raises(QuelboError):
        q.StreamAccessFactory_open_http_write(Uri("http://127.0.0.1:%d/x" % closed_port()), "POST", HTTPHeaders())


# ---------------------------------------------------------- misbehaving peers
# Calls keep the interpreter lock, so each runs in its own process and all run
# at once: the group takes about as long as its slowest call.

STALLED, SLOW = "stalled: no progress for 15 s", r"too slow: \d+ body bytes in 30 s"
STALL, TRICKLE = 25, 40  # the most seconds a call may take: nothing moves for 15 s; too little in 30 s
PEERS = {  # the call, the cause its Error names, the most seconds it may take
    "body at 2 bytes a second": (["read", "drip/data.bin"], SLOW, TRICKLE),
    "accepts and says nothing": (["read", "silent"], STALLED, STALL),
    "a head without end": (["read", "slowhead"], SLOW, TRICKLE),
    "half the body, connection held": (["read", "hold/data.bin"], STALLED, STALL),
    "100 Continue for ever": (["read", "continue"], SLOW, TRICKLE),
    "100 Continue for ever after an upload": (["upload", "continue", 1000], SLOW, TRICKLE),
    "an upload nobody reads": (["upload", "upload-stall/a", 32 << 20], STALLED, STALL),
    "an upload read slowly": (["upload", "upload-slow/b", 32 << 20], STALLED + "|" + SLOW, TRICKLE),
}
STEADY = ["read", "steady/data.bin", 65536, 340_000]  # 8 KiB a second after the first 64 KiB: about 34 s


@pytest.fixture(scope="module")
def peers(server):
    env = dict(os.environ, PYTHONPATH=HERE)
    calls = dict(((name, args) for name, (args, _, _) in PEERS.items()), steady=STEADY)
    procs = {name: subprocess.Popen([sys.executable, os.path.join(HERE, "http_peer_child.py"), args[0],
                                     server.url(args[1]), *map(str, args[2:])],
                                    stdout=subprocess.PIPE, cwd=HERE, env=env)
             for name, args in calls.items()}
    yield lambda name: json.loads(procs[name].communicate(timeout=120)[0])
    for proc in procs.values():
        if proc.poll() is None:
            proc.kill()
            proc.wait()


@pytest.mark.parametrize("name", PEERS)
def test_misbehaving_peers_fail_in_bounded_time(server, peers, name):
    (kind, path, *_), cause, most = PEERS[name]
    result = peers(name)
    error = result["error"] or ""
    assert server.url(path) in error and re.search(cause, error), result
    assert result["seconds"] < most, result


def test_slow_but_steady_transfers_are_not_cut_short(server, peers):
    result = peers("steady")
    offset, size = STEADY[2:]
    expected = (server.root / "data.bin").read_bytes()[offset:offset + size]
    assert result["error"] is None and result["sha256"] == hashlib.sha256(expected).hexdigest(), result
    assert result["seconds"] > 30, result  # longer than one window of the rate rule
