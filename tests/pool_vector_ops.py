"""Vectors for the hostile sweep: one class of each size, and a moved-from one."""


def objects(proxy):
    moved = proxy.cls("Vector3i16")([1, 2, 3])
    proxy.cls("Vector3i16")(moved)
    return [proxy.cls("Vector2u8")([1, 2]), proxy.cls("Vector4f")([1, 2, 3, 4]), proxy.cls("VectorXd")([0.5] * 5),
            proxy.cls("VectorXi64")([]), moved]
