"""Memory stays flat over repeated GPU calls, failing ones included: host
memory (resident size) and device memory (the test driver's count)."""
import os

import pytest

from cuda_child import lines

pytestmark = pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="resident size is not meaningful under ASan")


def test_memory_stays_flat_over_repeated_gpu_calls():
    out = lines(
        """
        import proxy
        c = proxy.cuda()
        q = proxy.q
        import numpy as np
        from views_util import from_numpy
        from helpers import attempt, rss as resident
        a = np.arange(64, dtype=np.uint16).reshape(8, 8)
        view = from_numpy(a, "ROW", "COLUMN")
        props = proxy.cls("ReadonlyImageProperties")(q.ImageView___get_properties(view))
        def batch():
            g = c.CudaImageFactory_copy_in_cuda_memory(view)
            c.CudaImageFactory_copy_in_cuda_memory(g)
            c.CudaImageFactory_adapt_to_cuda(view)
            c.CudaImageFactory_allocate_coalesced([8, 8], q.DataTypeId_UINT16, props, None)
            c.CudaExtensionProvider_is_cuda_image(g)
            attempt(c.CudaImageFactory_allocate, [8, 0], q.DataTypeId_UINT16)
            attempt(c.CudaImageFactory_allocate, [8, "x"], q.DataTypeId_UINT16)
            attempt(c.CudaImageFactory_allocate, [8, 8], q.DataTypeId_UINT16, None, None)
            attempt(c.CudaImageFactory_allocate, [8, 8], 1.5)
            attempt(c.CudaImageFactory_copy_in_cuda_memory, None)
            fail_after(2)
            attempt(c.CudaImageFactory_copy_in_cuda_memory, view)
            fail_after(0)
        for _ in range(300):
            batch()
        before, devices = resident(), live()
        for _ in range(3000):
            batch()
        print(resident() - before < 2 * 1024 * 1024, live() == devices == 0)
        """
    )
    assert out == ["True True"]
