"""Hostile-input pool of serialization, writers and the dependency graph:
streams holding random bytes, a record header followed by random bytes, a
valid record, a recording writer, an empty writer handle and a graph."""
import random

import _quelbo_twin as twin


def objects(proxy):
    q = proxy.q
    rng = random.Random(15)

    def stream(data):
        s = q.StreamAccessFactory_allocate(0)
        q.StreamAccess_write(s, data)
        q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
        return s

    noise = bytes(rng.randrange(256) for _ in range(256))
    valid = q.StreamAccessFactory_allocate(0)
    q.Serialization_encode_vector_xd([1.0, 2.0], valid)
    q.StreamAccess_seek(valid, 0, q.SeekOrigin_BEGIN)
    header = b"QLBO\x01\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00"
    return [stream(noise), stream(header + noise), valid, twin.recording_writer(), twin.empty_writer(),
            proxy.cls("DependencyGraph")()]
