"""Test HTTP(S) server, run by the tests as a separate process.

    python3 http_server.py ROOT [CERT KEY]

Prints "PORTS <http> [<https>]" once listening on 127.0.0.1, then serves:
  GET  /files/NAME        the file, with single byte ranges (206, Content-Range; 416), ETag and Last-Modified,
                          and the conditions as nginx honours them: If-Match and If-Unmodified-Since (412),
                          If-Range (the whole file with 200 when it fails); the tests replace files between
                          requests
  GET  /ifrange/NAME      as files, honouring If-Range only
  GET  /ignoring/NAME     as files, honouring no condition
  GET  /bare/NAME         as files, without validators or conditions
  GET  /untagged/NAME     as ignoring, with validators only in answers to ranges from 0 (the opening's)
  GET  /weak/NAME         as ignoring, with the weak ETag W/"v" whatever the file
  GET  /weakfiles/NAME    as files, with the weak ETag W/"v" whatever the file
  GET  /weakly/NAME       as ignoring, with the file's ETag made weak (W/"...")
  GET  /dated/NAME        as ignoring, with Last-Modified only
  GET  /datedfiles/NAME   as files, with Last-Modified only
  GET  /hugetotal/NAME    as files, its Content-Range announcing a total of 2^64 bytes
  GET  /closing/NAME      as files, closing the connection after each answer
  GET  /gzip/NAME         as files; when Accept-Encoding names gzip, the whole file compressed with 200
  GET  /noranges/NAME     the whole file with 200, whatever Range says (an empty file: Content-Length 0, as
                          nginx answers a range of it)
  GET  /unsized/NAME      the whole file with 200, whatever Range says, without Content-Length: the body
                          ends as the connection closes
  GET  /badrange/NAME     206 with a Content-Range one byte off what was asked
  GET  /short/NAME        announces the asked length, sends half and closes
  GET  /hold/NAME         announces the asked length, sends half and holds the connection
  GET  /cut/NAME          the asked range; the first one longer than 128 KiB stops after 128 KiB, and
                          half a second later the connection closes
  GET  /drip/NAME         the asked range at 2 bytes a second
  GET  /steady/NAME       the asked range: 64 KiB at once, then 8 KiB a second
  GET  /silent            accepts the request and says nothing
  GET  /slowhead          a head that never ends, one header line every half second
  ANY  /continue          reads the request, then answers 100 Continue five times a second for ever
  ANY  /upload-stall/ID   reads the request head, then nothing
  ANY  /upload-slow/ID    reads the body 100 bytes a second
  GET  /liar             zeros, announcing 1 TiB but serving only its first 3 MiB
  GET  /status/CODE       answers CODE with a small body
  GET  /redirect/NAME     302 to /files/NAME
  GET  /loop              302 to itself
  GET  /goto?URL          302 to URL, percent escapes decoded (so that any byte can be sent)
  GET  /count             how many file requests were answered
  GET  /connections       how many connections were accepted (this one included)
  GET  /echo/NAME         as files, recording the request's method and headers as ID "echo-NAME"
  ANY  /early/ID          reads the request head only, answers 200 with no body, records {"answered": true}
                          and closes (unread body bytes make the close a reset)
  ANY  /early-hold/ID     as early, but ends only its sending side and keeps the connection a while, reading
                          nothing
  ANY  /continue-close/ID reads the request head only, answers 100 Continue, records, and closes
  ANY  /early-413/ID      reads the request head only and answers 413, keeping the connection a while
  ANY  /upload-reset/ID   reads 64 KiB of the body, records, and resets the connection
  ANY  /upload/ID         records method, headers and the (chunked) body; 201
  ANY  /upload-digest/ID  records the body's length and SHA-256 only; 201
  ANY  /upload-endless/ID reads the body, answers 200 with a body of 1 GiB or until the client hangs up, then
                          records the body and how much of the answer went out
  ANY  /upload-fail/ID    records, then answers 500
  GET  /record/ID         the recording as JSON (body in hex)
"""
import email.utils
import gzip
import hashlib
import json
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = sys.argv[1]
RECORDS = {}
COUNT = [0]
CONNECTIONS = [0]
LOCK = threading.Lock()
CUT, CUT_AFTER = set(), 128 << 10
ENDLESS = 1 << 30
PACED = {"drip": (0, 2, 1.0), "steady": (64 << 10, 2 << 10, 0.25)}  # first bytes, then a piece per pause


VALIDATED = ("files", "ifrange", "ignoring", "gzip", "noranges", "unsized", "badrange", "short", "hold", "cut",
             "drip", "steady", "closing", "weak", "weakfiles", "weakly", "dated", "datedfiles", "hugetotal")
CONDITIONAL = {"files": ("match", "range"), "gzip": ("match", "range"), "ifrange": ("range",),
               "weakfiles": ("match", "range"), "datedfiles": ("match", "range"), "hugetotal": ("match", "range")}
# the ETag of the kinds that send another than the file's: weak, or none at all
TAGS = {"weak": lambda tag: 'W/"v"', "weakfiles": lambda tag: 'W/"v"', "weakly": lambda tag: "W/" + tag,
        "dated": lambda tag: None, "datedfiles": lambda tag: None}


def validators(st):
    """The ETag and Last-Modified nginx sends for a file: its modification second and size."""
    return '"%x-%x"' % (int(st.st_mtime), st.st_size), email.utils.formatdate(int(st.st_mtime), usegmt=True)


def older_than(date, mtime):
    """Whether an HTTP date lies before the modification second (False when it is no date)."""
    try:
        return email.utils.parsedate_to_datetime(date).timestamp() < int(mtime)
    except (TypeError, ValueError):
        return False


def parse_range(header, size):
    """(first, last) of a single byte range, None when absent, False when unsatisfiable."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    spec = header[6:].strip()
    first, _, last = spec.partition("-")
    try:
        if first == "":
            n = int(last)
            if n == 0:
                return False
            return max(0, size - n), size - 1
        a = int(first)
        b = int(last) if last else size - 1
    except ValueError:
        return None
    if a >= size or b < a:
        return False
    return a, min(b, size - 1)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # the head and the body go out as soon as they are written

    def log_message(self, *args):
        pass

    def setup(self):
        with LOCK:
            CONNECTIONS[0] += 1
        super().setup()

    def reply(self, code, body=b"", headers=()):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            out = bytearray()
            while True:
                line = self.rfile.readline()
                n = int(line.split(b";")[0].strip(), 16)
                if n == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(out), True
                out += self.rfile.read(n)
                self.rfile.readline()
        n = int(self.headers.get("Content-Length", "0"))
        return self.rfile.read(n), False

    def serve_file(self, kind, name):
        path = os.path.join(ROOT, os.path.basename(name))
        if not os.path.isfile(path):
            return self.reply(404, b"no such file")
        with LOCK:
            COUNT[0] += 1
        with open(path, "rb") as f:
            st = os.fstat(f.fileno())
            size = st.st_size
            etag, modified = validators(st)
            etag = TAGS.get(kind, str)(etag)
            honoured = CONDITIONAL.get(kind, ())
            match, since = self.headers.get("If-Match"), self.headers.get("If-Unmodified-Since")
            if "match" in honoured and ((match and match.strip() != "*" and etag not in map(str.strip, match.split(",")))
                                        or (since and not match and older_than(since, st.st_mtime))):
                return self.reply(412, b"precondition failed")
            if kind == "gzip" and "gzip" in self.headers.get("Accept-Encoding", ""):
                return self.reply(200, gzip.compress(f.read()), [("Content-Encoding", "gzip"), ("ETag", etag)])
            rng = None if kind in ("noranges", "unsized") else parse_range(self.headers.get("Range"), size)
            if_range = self.headers.get("If-Range")
            if rng is not None and "range" in honoured and if_range and if_range not in (etag, modified):
                rng = None  # the condition failed: the whole current file
            if rng is False:
                return self.reply(416, b"", [("Content-Range", "bytes */%d" % size)])
            a, b = rng or (0, size - 1)
            count = b + 1 - a
            shown = (a + 1, b + 1) if kind == "badrange" else (a, b)
            self.send_response(206 if rng else 200)
            if kind in VALIDATED or (kind == "untagged" and a == 0):
                if etag:
                    self.send_header("ETag", etag)
                self.send_header("Last-Modified", modified)
            if rng:
                total = 1 << 64 if kind == "hugetotal" else size
                self.send_header("Content-Range", "bytes %d-%d/%d" % (shown + (total,)))
            if kind != "unsized":
                self.send_header("Content-Length", str(count))
            if kind in ("short", "unsized", "closing"):
                self.send_header("Connection", "close")
                self.close_connection = True
            if kind in ("short", "hold"):
                count //= 2
            self.end_headers()
            if self.command == "HEAD" or count <= 0:
                return
            if kind == "cut" and count > CUT_AFTER and name not in CUT:
                CUT.add(name)
                self.close_connection = True
                f.seek(a)
                self.wfile.write(f.read(CUT_AFTER))
                return time.sleep(0.5)
            if kind in PACED:
                return self.trickle(f, a, count, *PACED[kind])
            self.connection.sendfile(f, a, count)  # os.sendfile, or plain sends under TLS
            if kind == "hold":
                self.hold()

    def trickle(self, f, offset, count, first, piece, pause):
        """Sends `first` bytes at once, then `piece` bytes every `pause` seconds."""
        f.seek(offset)
        self.wfile.write(f.read(min(first, count)))
        left = count - min(first, count)
        while left > 0:
            time.sleep(pause)
            self.wfile.write(f.read(min(piece, left)))
            left -= piece

    def hold(self, seconds=120):
        """Keeps the connection, reading nothing more, until the client hangs up."""
        self.close_connection = True
        self.connection.settimeout(seconds)
        while self.connection.recv(1 << 16):
            pass

    def record(self, rid, **more):
        with LOCK:
            RECORDS[rid] = dict({"method": self.command, "headers": [[k, v] for k, v in self.headers.items()]},
                                **more)

    def answer_early(self, kind, rid):
        """Answers without reading the request body, then records that it did."""
        self.close_connection = True
        if kind == "continue-close":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
        elif kind == "early-413":
            self.wfile.write(b"HTTP/1.1 413 Content Too Large\r\nContent-Length: 0\r\n\r\n")
        else:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        self.wfile.flush()
        if kind == "early-hold":
            self.connection.shutdown(socket.SHUT_WR)
        self.record(rid, answered=True)
        if kind in ("early-hold", "early-413"):
            time.sleep(5)

    def handle_any(self):
        parts = self.path.lstrip("/").split("/", 1)
        kind, rest = parts[0], (parts[1] if len(parts) > 1 else "")
        if kind in ("upload", "upload-fail"):
            body, chunked = self.read_body()
            self.record(rest, body=body.hex(), chunked=chunked)
            return self.reply(500 if kind == "upload-fail" else 201, b"recorded")
        if kind == "upload-digest":
            body, chunked = self.read_body()
            self.record(rest, length=len(body), sha256=hashlib.sha256(body).hexdigest(), chunked=chunked)
            return self.reply(201, b"recorded")
        if kind == "upload-endless":
            body, chunked = self.read_body()
            self.close_connection = True
            self.wfile.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
            piece, sent = b"10000\r\n" + bytes(1 << 16) + b"\r\n", 0
            try:
                while sent < ENDLESS:
                    self.wfile.write(piece)
                    sent += 1 << 16
                self.wfile.write(b"0\r\n\r\n")
            except OSError:
                pass
            return self.record(rest, body=body.hex(), chunked=chunked, sent=sent)
        if kind == "upload-reset":
            self.rfile.read(64 << 10)
            self.record(rest, answered=True)
            self.close_connection = True
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return
        if kind in ("early", "early-hold", "continue-close", "early-413"):
            return self.answer_early(kind, rest)
        if kind == "echo":
            self.record("echo-" + rest)
            return self.serve_file("files", rest)
        if kind == "upload-stall":
            self.close_connection = True
            return time.sleep(120)
        if kind == "upload-slow":
            self.close_connection = True
            for _ in range(120):
                self.rfile.read(100)
                time.sleep(1)
            return
        if self.command not in ("GET", "HEAD"):
            self.read_body()
        if kind in VALIDATED + ("bare", "untagged"):
            return self.serve_file(kind, rest)
        if kind == "silent":
            return self.hold()
        if kind == "slowhead":
            self.close_connection = True
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            while True:
                time.sleep(0.5)
                self.wfile.write(b"X-Slow: a\r\n")
        if kind == "continue":
            self.close_connection = True
            while True:
                self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                time.sleep(0.2)
        if kind == "liar":
            total, real = 1 << 40, 3 << 20
            rng = parse_range(self.headers.get("Range"), total)
            if not rng or rng[1] >= real:
                return self.reply(416, b"", [("Content-Range", "bytes */%d" % total)])
            return self.reply(206, bytes(rng[1] - rng[0] + 1), [("Content-Range", "bytes %d-%d/%d" % (rng + (total,)))])
        if kind == "status":
            return self.reply(int(rest), b"status body")
        if kind == "redirect":
            return self.reply(302, b"", [("Location", "/files/" + rest)])
        if kind.startswith("goto?"):
            return self.reply(302, b"", [("Location", urllib.parse.unquote(kind[5:] + ("/" + rest if rest else "")))])
        if kind == "loop":
            return self.reply(302, b"", [("Location", "/loop")])
        if kind == "connections":
            return self.reply(200, str(CONNECTIONS[0]).encode())
        if kind == "count":
            return self.reply(200, str(COUNT[0]).encode())
        if kind == "record":
            with LOCK:
                rec = RECORDS.get(rest)
            return self.reply(200 if rec else 404, json.dumps(rec).encode())
        self.reply(404, b"unknown")

    do_GET = do_POST = do_PUT = do_HEAD = do_PATCH = do_DELETE = handle_any


def serve(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()


def main():
    ThreadingHTTPServer.daemon_threads = True
    ThreadingHTTPServer.handle_error = lambda self, request, address: None  # clients may hang up
    plain = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    ports = [plain.server_address[1]]
    serve(plain)
    if len(sys.argv) > 3:
        secure = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(sys.argv[2], sys.argv[3])
        secure.socket = ctx.wrap_socket(secure.socket, server_side=True)
        ports.append(secure.server_address[1])
        serve(secure)
    print("PORTS " + " ".join(map(str, ports)), flush=True)
    sys.stdin.read()  # runs until the tests close its input


if __name__ == "__main__":
    main()
