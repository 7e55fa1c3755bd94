"""Hostile-input pool of serialization: streams holding random bytes, a
record header followed by random bytes, and a valid record."""
import random


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
    return [stream(noise), stream(header + noise), valid]
