"""Matrices, transform factories, value arrays and numpy arrays for the
hostile sweep."""
import numpy as np


def objects(proxy):
    q = proxy.q
    out = [q.Matrix3f_identity(), q.Matrix3d_uniform(2.0), proxy.cls("Matrix4f")(), q.Matrix4d_identity(),
           proxy.cls("TransformMatrix3Factory")(), proxy.cls("TransformMatrix4Factory")()]
    for s in ("u8", "i8", "u16", "i16", "u32", "i32", "u64", "i64", "f", "d"):
        out.append(proxy.cls("ArrayX" + s)([2, 3]))
    out += [proxy.cls("ArrayXd")([]), proxy.cls("ArrayXu8")([0, 4]),
            proxy.cls("ArrayXd")(proxy.cls("Indexer")([2, 2], q.DataTypeId_DOUBLE, [16, 64], [0, 1]))]
    gone = q.ArrayXd_from_numpy(np.arange(6.0).reshape(2, 3))
    orphan = gone._to_numpy(None)
    q.delete_ArrayXd(gone)  # its numpy array lives on
    read_only = np.arange(6, dtype=np.uint8)
    read_only.flags.writeable = False
    out += [orphan, np.zeros((4, 4))[:, ::2], np.array(1.5), np.zeros(3, dtype=">f8"), read_only,
            np.array([None, 1], dtype=object), np.zeros((2, 3), dtype=np.int64, order="F"), "xyz", "XYZ"]
    return out
