"""Data frames, their column units and the providers for the hostile sweep."""


def objects(proxy):
    q = proxy.q
    frame = q.DataFrameViewFactory__allocate([3, 2], ["n", "s", "h"],
                                             [q.DataTypeId_INT32, q.DataTypeId_UTF8_STRING, 3 << 16 | 1 << 8 | 16])
    image = q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8)
    return [frame, q.DataFrameViewFactory__allocate_empty(),
            q.ColumnUnitExtension_cast(q.View__extension(frame, 4)),
            q.ImageViewProvider_to_read_only(image), q.ImageViewProvider_to_write_only(image),
            proxy.cls("DataFrameViewFactory")(), proxy.cls("ImageViewProvider")(), proxy.cls("ExtensionProvider")(),
            ["", "a"], ("n",), [q.DataTypeId_UINT8]]
