"""Valid objects of the derived, stored and multi-image view families for the hostile sweep."""
import numpy as np


def objects(proxy):
    q = proxy.q
    a = np.arange(12, dtype=np.uint8).reshape(3, 4)
    base = q.NumpyInterop__order_from_numpy_array(a, [q.ImageDimension_ROW, q.ImageDimension_COLUMN], 0, False)
    disk = q.ImageViewFactory_create_on_disk([4, 3], q.DataTypeId_UINT8)
    store = q.RandomAccessFactory_allocate(12)
    stored = q.ImageViewFactory_from_random_access(store, [4, 3], q.DataTypeId_UINT8)
    multi = q.MultiImageViewFactory_create_from_list([base, disk])
    return [
        multi,
        q.ImageViewFactory_flip_dimension_index(base, 0),
        q.ImageViewFactory_make_thread_safe(disk),
        stored,
        proxy.cls("Extension")(),
        q.ImageView_tiling_info(disk),
        q.ImageView_parallel_access(disk),
        q.View_view_origin(stored),
        q.View__extension(disk, 1),
    ]
