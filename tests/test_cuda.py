"""GPU images through _quelbo_cuda, in child processes over the test driver
(its device memory faults on any CPU access) and with no driver at all."""
import pytest

import textwrap

from cuda_child import lines

SETUP = """
import proxy, _quelbo_twin as t
c = proxy.cuda()
q = proxy.q
def release(*views):
    for v in views:
        t.cuda_view_release(v)
def error(f, *args):
    try:
        r = f(*args)
        if r is not None and not isinstance(r, bool):
            release(r)
    except Exception as e:
        return type(e).__name__ + ": " + str(e)
    return "no error"
"""



def child(code, **kw):
    return lines(SETUP + textwrap.dedent(code), **kw)


NUMERIC = [
    "UINT8", "UINT16", "UINT32", "UINT64", "INT8", "INT16", "INT32", "INT64", "FLOAT", "DOUBLE",
    "VEC2_UINT8", "VEC3_INT16", "VEC4_FLOAT", "VEC3_DOUBLE", "COMPLEX_DOUBLE", "MATRIX3_FLOAT",
]


def test_samples_of_every_type_go_to_the_gpu_and_back_unchanged():
    out = child(
        """
        import random
        rng = random.Random(5)
        for name in %r:
            dt = getattr(q, "DataTypeId_" + name)
            size = proxy.cls("DataType")(dt).byte_count() if hasattr(q, "DataType_byte_count") else None
            for memory in (True, False):
                host = t.cuda_host_view([7, 5, 3], dt, memory)
                n = len(t.cuda_view_read(host))
                data = bytes(rng.randrange(256) for _ in range(n))
                t.cuda_view_write(host, data)
                gpu = c.CudaImageFactory_copy_in_cuda_memory(host)
                ok = t.cuda_view_read(gpu) == data and c.CudaExtensionProvider_is_cuda_image(gpu)
                fresh = c.CudaImageFactory_allocate([7, 5, 3], dt)
                t.cuda_view_write(fresh, data)
                ok = ok and t.cuda_view_read(fresh) == data
                print(name, memory, ok)
                release(host, gpu, fresh)
        print("live", live())
        """
        % NUMERIC
    )
    assert out[-1] == "live 0"
    assert all(line.endswith("True") for line in out[:-1]), out
    assert len(out) == 2 * len(NUMERIC) + 1


def test_a_staged_copy_larger_than_its_stage_arrives_whole():
    """An image without memory access goes to the GPU through one host stage
    of 64 MiB, a piece of the image at a time: here two pieces, the second
    shorter, of whole slices, and of samples for one dimension."""
    out = child(
        """
        for shape in ([1024, 1024, 70], [(70 << 20) + 3]):
            host = t.cuda_host_view(shape, q.DataTypeId_UINT8, False)
            data = os.urandom(len(t.cuda_view_read(host)))
            t.cuda_view_write(host, data)
            gpu = c.CudaImageFactory_copy_in_cuda_memory(host)
            print(t.cuda_view_read(gpu) == data)
            release(host, gpu)
        print("live", live())
        """
    )
    assert out == ["True", "True", "live 0"]


def test_samples_of_part_bytes_take_whole_bytes_as_on_the_host_and_unknown_types_are_refused():
    out = child(
        """
        import random
        rng = random.Random(3)
        # 12 bits, 1 bit, 4 bits, three 12-bit components: 2, 1, 1 and 5 bytes a sample
        for dt in (0x0001010c, 0x00010101, 0x00010104, 0x0001030c):
            host = q.ImageViewFactory_allocate([5, 3], dt)
            n = len(t.cuda_view_read(host))
            data = bytes(rng.randrange(256) for _ in range(n))
            t.cuda_view_write(host, data)
            made = [c.CudaImageFactory_copy_in_cuda_memory(host)]
            for f in (c.CudaImageFactory_allocate, c.CudaImageFactory_allocate_coalesced):
                made.append(f([5, 3], dt))
                t.cuda_view_write(made[-1], data)
            print(n // 15, all(t.cuda_view_read(v) == data for v in made))
            release(*made)
        for dt in (0x00090108, (7 << 32) | q.DataTypeId_UINT8, 0x00010100):
            props = q.ImageProperties_from_data_type(q.DataTypeId_UINT8)
            print(error(c.CudaImageFactory_allocate, [2, 2], dt), error(c.CudaImageFactory_allocate_coalesced,
                  [2, 2], dt, props, None).split(" is ")[-1])
        print("live", live())
        """
    )
    assert out[:4] == ["2 True", "1 True", "1 True", "5 True"]
    assert out[4].startswith("QuelboError: the data type DataType(bitDepth=8, elementCount=1, primitiveType=9")
    assert all(line.endswith("is not a known type not a known type") for line in out[4:7]), out
    assert out[-1] == "live 0"


def test_adapted_views_count_in_the_depth_of_a_chain():
    # an adapted view passes its host transfers to its source: a chain of
    # conversions and adaptations is refused past 256 views in turn
    out = child(
        """
        R = proxy.cls("RegionXu64")
        v = q.ImageViewFactory_allocate([4, 3], q.DataTypeId_UINT16)
        q.ImageView___write_region(v, R([0, 0], [4, 3]), bytes(range(24)))
        steps = 0
        try:
            while True:
                v = q.ImageViewFactory_adapt_data_type(c.CudaImageFactory_adapt_to_cuda(v), q.DataTypeId_UINT16)
                steps += 1
        except Exception as e:
            print(steps, str(e))
        out = bytearray(24)
        q.ImageView___read_region(v, R([0, 0], [4, 3]), out)
        print(bytes(out) == bytes(range(24)))
        del v
        print("live", live())
        """
    )
    assert out == ["128 ImageView: the CudaAdaptedImageView view would pass its transfers through more than 256 views "
                   "in turn", "True", "live 0"]


def test_views_report_gpu_memory_and_no_memory_access():
    out = child(
        """
        host = t.cuda_host_view([4, 4], q.DataTypeId_UINT8, True)
        gpu = c.CudaImageFactory_allocate([4, 4], q.DataTypeId_UINT8)
        copy = c.CudaImageFactory_copy_in_cuda_memory(host)
        adapted = c.CudaImageFactory_adapt_to_cuda(host)
        for v in (gpu, copy, adapted, host):
            print(t.cuda_view_info(v), c.CudaExtensionProvider_is_cuda_image(v))
        same = c.CudaImageFactory_copy_in_cuda_memory(gpu)
        again = c.CudaImageFactory_adapt_to_cuda(adapted)
        print(t.cuda_view_info(same) == t.cuda_view_info(gpu), t.cuda_view_info(again) == t.cuda_view_info(adapted))
        release(host, gpu, copy, adapted, same, again)
        print("live", live())
        """
    )
    assert out == [
        "(3, 3, 0) True",  # READ | WRITE, GPU_MEMORY, made from nothing
        "(3, 3, 1) True",  # the copy names its source
        "(3, 1, 1) True",  # adapted: the source's origin, READ | WRITE only
        "(11, 1, 0) False",
        "True True",
        "live 0",
    ]


def test_coalesced_rows_are_padded_to_the_driver_pitch():
    out = child(
        """
        lib = ctypes.CDLL("libcuda.so.1")
        for f in (c.CudaImageFactory_allocate, c.CudaImageFactory_allocate_coalesced):
            v = f([100, 50], q.DataTypeId_UINT8)
            data = bytes(i % 251 for i in range(5000))
            t.cuda_view_write(v, data)
            print(lib.fakecuda_live_bytes() >= 512 * 50, t.cuda_view_read(v) == data)
            release(v)
        """
    )
    assert out == ["False True", "True True"]


def test_failing_driver_calls_raise_and_leave_no_device_memory():
    out = child(
        """
        host = t.cuda_host_view([64, 64], q.DataTypeId_UINT16, False)
        for step in (1, 2, 3):
            for f, a in ((c.CudaImageFactory_allocate, ([8, 8], q.DataTypeId_UINT8)),
                         (c.CudaImageFactory_allocate_coalesced, ([8, 8], q.DataTypeId_UINT8)),
                         (c.CudaImageFactory_copy_in_cuda_memory, (host,))):
                fail_after(step)
                try:
                    v = f(*a)
                    release(v)
                    print("made")
                except proxy.QuelboError as e:
                    print("CUDA driver" in str(e))
                fail_after(0)
        release(host)
        print("live", live())
        """
    )
    assert out[-1] == "live 0"
    assert out[:4] == ["True"] * 4  # the allocation itself fails
    assert set(out[:-1]) <= {"True", "made"}


SHAPES = """
dt = q.DataTypeId_UINT8
class Broken:
    def __len__(self):
        return 2
    def __getitem__(self, i):
        raise KeyError("no item")
for shape in ([], [4, 0], [-1, 2], [2**62, 2**62], [2**64, 1], [-2**63 - 1], Broken(), "ab", [True, 2], [1.0]):
    print(error(c.CudaImageFactory_allocate, shape, dt))
print(error(c.CudaImageFactory_allocate, 5, dt).split(".")[0])
print(error(c.CudaImageFactory_allocate, (4, 3), 1.5).split(".")[0])
print(error(c.CudaImageFactory_allocate, [4, 3], dt, None).split(".")[0])
print(error(c.CudaImageFactory_allocate, [4, 3], dt, None, None))
print(error(c.CudaImageFactory_allocate, [4, 3], dt, None, 5).split(".")[0])
print(error(c.CudaImageFactory_allocate_coalesced, 1, 2, 3, 4, 5).splitlines()[:3])
print(error(c.CudaImageFactory_copy_in_cuda_memory, None))
print(error(c.CudaImageFactory_adapt_to_cuda, 3))
print(c.CudaExtensionProvider_is_cuda_image(None))
print("live", live())
"""


def test_shapes_arguments_and_their_errors():
    out = child(SHAPES)
    overload = "TypeError: Wrong number or type of arguments for overloaded function 'CudaImageFactory_allocate'"
    assert out == [
        "QuelboError: GPU image: the image [] is empty",
        "QuelboError: GPU image: the image [4, 0] is empty",
        "QuelboError: GPU image size: size overflows 64 bits",
        "QuelboError: GPU image size: size overflows 64 bits",
        "OverflowError: shape item out of the 64-bit range",
        "OverflowError: shape item out of the 64-bit range",
        "KeyError: 'no item'",
        "TypeError: invalid item",
        "no error",
        "TypeError: invalid item",
        overload,
        overload,
        overload,
        "QuelboError: CudaImageFactory: the properties are null",
        overload,
        "['TypeError: CudaImageFactory_allocate_coalesced expected at most 4 arguments, got 5', 'Additional "
        "information:', \"Wrong number or type of arguments for overloaded function "
        "'CudaImageFactory_allocate_coalesced'.\"]",
        "QuelboError: CudaImageFactory::copyInCudaMemory: the image is null",
        "TypeError: in method 'CudaImageFactory_adapt_to_cuda', argument 1 of type 'std::shared_ptr< quelbo::ImageView >'",
        "False",
        "live 0",
    ]


@pytest.mark.parametrize("driver,devices,cause", [(None, None, "libcuda.so.1"), ("fake", 0, "no CUDA device")])
def test_without_driver_or_device_allocation_copy_and_adaptation_raise_error(driver, devices, cause):
    out = child(
        """
        host = t.cuda_host_view([4, 4], q.DataTypeId_UINT8, True)
        for f, a in ((c.CudaImageFactory_allocate, ([4, 4], q.DataTypeId_UINT8)),
                     (c.CudaImageFactory_allocate_coalesced, ([4, 4], q.DataTypeId_UINT8)),
                     (c.CudaImageFactory_copy_in_cuda_memory, (host,)),
                     (c.CudaImageFactory_adapt_to_cuda, (host,))):
            print(error(f, *a))
        print(c.CudaExtensionProvider_is_cuda_image(host), c.CudaExtensionProvider_is_cuda_image(None))
        release(host)
        """,
        driver=driver,
        devices=devices,
    )
    assert len(out) == 5
    for line in out[:4]:
        assert line.startswith("QuelboError: CUDA driver: ") and cause in line, line
    assert out[4] == "False False"


def test_library_checks_over_the_test_driver():
    """The C++ checks, through the counting driver: device buffers given to
    GPU and adapted views, coalesced layout, copies from memory and staged,
    driver copies per transfer, device memory given back."""
    out = lines(
        """
        import subprocess
        exe = os.path.join(os.environ["QUELBO_BUILD_DIR"], "quelbo_cuda_check")
        r = subprocess.run([exe], capture_output=True, text=True)
        print(r.stdout)
        print("rc", r.returncode)
        """,
        driver="counted",
    )
    assert out[-1] == "rc 0", "\n".join(out)
    assert not [line for line in out if line.startswith("FAIL")]
    assert "pass adapted view: a region read into a device buffer" in out
    assert out[0] == "device: quelbo stand-in driver (host memory); driver 12.0; largest copy pitch 2147483647 bytes"
    assert len([line for line in out if line.startswith("pass copies per transfer")]) == 33


def test_numpy_data_through_the_gpu_and_the_bridge_refuses_gpu_views():
    out = child(
        """
        import numpy as np
        from views_util import TYPES, from_numpy, read_region, region
        for npt, dt in TYPES:
            a = (np.arange(60) * 37 % 120).astype(npt).reshape(3, 4, 5)
            view = from_numpy(a, "SLICE", "ROW", "COLUMN")
            gpu = c.CudaImageFactory_copy_in_cuda_memory(view)
            adapted = c.CudaImageFactory_adapt_to_cuda(view)
            fresh = c.CudaImageFactory_allocate_coalesced([5, 4, 3], dt)
            q.ImageView___write_region(fresh, region((0, 0, 0), (5, 4, 3)), a.tobytes())
            print(type(gpu).__name__, type(fresh).__name__, all(
                np.array_equal(read_region(v, (0, 0, 0), (5, 4, 3), npt), a) for v in (gpu, adapted, fresh)))
        props = proxy.cls("ReadonlyImageProperties")(q.ImageView___get_properties(view))
        made = c.CudaImageFactory_allocate([5, 4, 3], dt, props, None)
        print(type(props).__name__, q.ImageView_to_string(made) == q.ImageView_to_string(fresh))
        print(error(q.NumpyInterop_to_numpy_array, gpu))
        print(q.ImageView_support(gpu, q.ImageCapability_MEMORY_ACCESS),
              q.ImageView_support(gpu, q.ImageCapability_READ_WRITE))
        del view, gpu, adapted, fresh, a, made
        print("live", live())
        """
    )
    assert out[:-4] == ["ImageView ImageView True"] * 10
    assert out[-4:] == [
        "ReadonlyImageProperties True",
        "ValueError: Input ImageView must support MEMORY_ACCESS capability",
        "False True",
        "live 0",
    ]


def test_properties_and_metadata_plain_or_read_only_reach_the_new_image():
    out = child(
        """
        props = q.ImageProperties_from_data_type(q.DataTypeId_UINT8)
        root = proxy.cls("MetadataNode")("root", q.VariantDataValueFactory_create(["a", "b"]))
        for p, m in ((props, root), (proxy.cls("ReadonlyImageProperties")(props), proxy.cls("ReadonlyMetadataNode")(root)),
                     (props, None)):
            v = c.CudaImageFactory_allocate_coalesced([3, 2], q.DataTypeId_UINT8, p, m)
            meta = q.ImageView___get_metadata(v)
            print(meta is not None and q.MetadataNode_to_string(meta) == q.MetadataNode_to_string(root))
        print(error(c.CudaImageFactory_allocate, [3, 2], q.DataTypeId_UINT8, root, None))
        q.ImageInfoProperty_set_axes_interpretation(q.ImageProperties_get_image_info(props), q.cvar.ImageTypeId_IMAGE)
        print(error(c.CudaImageFactory_allocate, [3, 2, 4], q.DataTypeId_UINT8, props, None))
        """
    )
    assert out[:3] == ["True", "True", "False"]
    assert out[3] == "TypeError: Wrong number or type of arguments for overloaded function 'CudaImageFactory_allocate'."
    assert out[-1].startswith("QuelboError: CudaImageFactory: the properties do not fit"), out[-1]


def test_gpu_views_refuse_outside_regions_and_missing_capabilities_as_other_views():
    out = child(
        """
        from views_util import region
        gpu = c.CudaImageFactory_allocate([4, 3], q.DataTypeId_UINT8)
        uniform = q.ImageViewFactory__uniform([4, 3], q.DataTypeId_UINT8, b"\\1", None, None)
        adapted = [c.CudaImageFactory_adapt_to_cuda(v) for v in
                   (uniform, q.ImageViewFactory_flip_dimension_index(uniform, 0))]
        print(error(q.ImageView___read_region, gpu, region([3, 0], [2, 1]), bytearray(2)))
        print(error(t.entry_transfer, gpu, [3, 0], [2, 1], None), error(t.entry_transfer, gpu, [0, 3], None, b"x"))
        for v in adapted:
            print(error(q.ImageView___write, v, [0, 0], b"x"), "|", error(t.entry_transfer, v, [0, 0], [1, 1], b"x"))
        release(gpu, *adapted)
        """
    )
    assert out == [
        "QuelboError: ImageView: the region {origin: [3, 0], size: [2, 1]} is not inside the image of shape [4, 3]",
        "QuelboError: ImageView: the region {origin: [3, 0], size: [2, 1]} is not inside the image of shape [4, 3] "
        "QuelboError: ImageView: the index [0, 3] is not inside the image of shape [4, 3]",
        # an adapted view refuses in its source's words
        "QuelboError: ImageView: writeRegion is not supported by this view | "
        "QuelboError: ImageView: writeRegion is not supported by this view",
        "QuelboError: ImageView: writeRegion needs the WRITE capability | "
        "QuelboError: ImageView: writeRegion needs the WRITE capability",
    ]


@pytest.mark.parametrize("direction", ["read into", "written from"])
def test_an_adapted_view_stages_a_device_buffer_through_one_bounded_stage(direction):
    """A region of 3.5 stages (64 MiB each), read into or written from a
    device buffer (the test driver's, handed over as a buffer object at its
    address): it arrives whole, and the peak resident size grows by about
    one stage, not by the region (the source and the device memory are
    resident before)."""
    out = child(
        """
        import ctypes, resource
        import numpy as np
        from views_util import from_numpy, region
        STAGE, ROWS, COLS = 64 << 20, 28672, 4096  # uint16: 3.5 stages
        n = ROWS * COLS * 2
        drv = ctypes.CDLL("libcuda.so.1")

        def filled(seed):
            a = np.empty((ROWS + 3, COLS + 8), np.uint16)
            rng = np.random.default_rng(seed)
            for r in range(0, a.shape[0], 1024):
                a[r:r + 1024] = rng.integers(0, 1 << 16, (min(1024, a.shape[0] - r), a.shape[1]), dtype=np.uint16)
            return a

        source = filled(1)
        adapted = c.CudaImageFactory_adapt_to_cuda(from_numpy(source, "ROW", "COLUMN"))
        dev = ctypes.c_uint64()
        assert drv.cuMemAlloc_v2(ctypes.byref(dev), ctypes.c_size_t(n)) == 0
        device = (ctypes.c_char * n).from_address(dev.value)
        box = region((3, 1), (COLS, ROWS))
        if %r == "read into":
            assert drv.cuMemsetD8_v2(dev, ctypes.c_ubyte(0), ctypes.c_size_t(n)) == 0  # resident
            expected = source[1:ROWS + 1, 3:COLS + 3].copy()
            peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            q.ImageView___read_region(adapted, box, device)
        else:
            expected = filled(2)[:ROWS, :COLS].copy()
            assert drv.cuMemcpyHtoD_v2(dev, expected.ctypes.data_as(ctypes.c_void_p), ctypes.c_size_t(n)) == 0
            peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            q.ImageView___write_region(adapted, box, device)
        grown = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak) * 1024
        if %r == "read into":
            got = np.empty_like(expected)
            assert drv.cuMemcpyDtoH_v2(got.ctypes.data_as(ctypes.c_void_p), dev, ctypes.c_size_t(n)) == 0
        else:
            got = source[1:ROWS + 1, 3:COLS + 3]
        print(np.array_equal(got, expected), "ASAN_OPTIONS" in os.environ or grown < 1.5 * STAGE, grown >> 20)
        drv.cuMemFree_v2(dev)
        release(adapted)
        """ % (direction, direction)
    )
    assert out[0].startswith("True True"), out
