"""Valid storage objects for the hostile-input test: a stream, a store,
headers, and URIs of a file in its folder and of a closed local port."""
import os
import socket
import tempfile


def objects(proxy):
    q = proxy.q
    folder = tempfile.mkdtemp(prefix="quelbo-pool-")
    path = os.path.join(folder, "pool.bin")
    with open(path, "wb") as f:
        f.write(b"pool bytes")
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    port = sock.getsockname()[1]
    sock.close()
    Uri = proxy.cls("Uri")
    headers = proxy.cls("HTTPHeaders")()
    q.HTTPHeaders_add(headers, "X-Pool", "1")
    stream = q.StreamAccessFactory_allocate(16)
    q.StreamAccess_write(stream, b"stream")
    store = q.RandomAccessFactory_allocate(8)
    return [stream, store, headers, q.HTTPHeaders_at(headers, 0),
            Uri("file://" + path), Uri("http://127.0.0.1:%d/closed" % port),
            q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(path))]
