"""Run by test_storage_http.py in a child process, so that calls which hold
the interpreter for many seconds run side by side: one HTTP call against a
misbehaving server, timed. Prints one JSON line: the seconds the call took,
the error message (or None) and, for a read, the SHA-256 of what was read.

    python3 http_peer_child.py read URL [OFFSET SIZE]
    python3 http_peer_child.py upload URL SIZE
"""
import hashlib
import json
import sys
import time

from proxy import QuelboError, cls, q

kind, url, *numbers = sys.argv[1:]
numbers = [int(n) for n in numbers]
result = {"error": None, "sha256": None}
start = time.monotonic()
try:
    if kind == "read":
        store = q.RandomAccessFactory_open_http_read(cls("Uri")(url), "GET", cls("HTTPHeaders")())
        if numbers:
            buf = bytearray(numbers[1])
            got = q.RandomAccess___read(store, numbers[0], buf)
            result["sha256"] = hashlib.sha256(buf[:got]).hexdigest()
    else:
        stream = q.StreamAccessFactory_open_http_write(cls("Uri")(url), "POST", cls("HTTPHeaders")())
        q.StreamAccess_write(stream, bytes(numbers[0]))
        q.StreamAccess_flush(stream)
except QuelboError as e:
    result["error"] = str(e)
result["seconds"] = time.monotonic() - start
print(json.dumps(result), flush=True)
