"""GPU images for the hostile sweeps, when a driver is at hand (the GPU
sweep runs over the test driver; without one there are none)."""


def objects(proxy):
    c = proxy.cuda()
    q = proxy.q
    try:
        return [
            c.CudaImageFactory_allocate([3, 2], q.DataTypeId_UINT8),
            c.CudaImageFactory_allocate_coalesced([3, 2, 2], q.DataTypeId_FLOAT),
        ]
    except proxy.QuelboError:
        return []
