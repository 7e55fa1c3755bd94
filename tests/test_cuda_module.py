"""_quelbo_cuda: its table, its hooks and the shared type table, whichever
module is imported first."""
import pytest

from cuda_child import lines, run

ORDERS = {
    "quelbo-first": "import proxy\nc = proxy.cuda()",
    "cuda-first": "import _quelbo_cuda\nimport proxy\nc = proxy.cuda()",
}

SHARED = """
q = proxy.q
dt = proxy.cls("DataType")(q.DataTypeId_UINT8)
for f in (c.CudaImageFactory_copy_in_cuda_memory, c.CudaImageFactory_adapt_to_cuda):
    try:
        f(None)
    except proxy.QuelboError as e:
        print(type(e).__name__, "null" in str(e))
try:
    c.CudaImageFactory_allocate([2, 2], dt, None, None)
except proxy.QuelboError as e:
    print("properties", "null" in str(e))
print(c.CudaExtensionProvider_is_cuda_image(None))
print(type(proxy.CLASSES["CudaImageFactory"]).__name__)
gpu = c.CudaImageFactory_allocate([2, 2], dt)
import numpy as np
from views_util import from_numpy
mine = from_numpy(np.zeros((2, 2), np.uint8), "ROW", "COLUMN")
print(type(gpu).__name__, c.CudaExtensionProvider_is_cuda_image(gpu), c.CudaExtensionProvider_is_cuda_image(mine))
"""


@pytest.mark.parametrize("order", sorted(ORDERS))
def test_errors_and_objects_cross_the_shared_table_in_either_order(order):
    out = lines(ORDERS[order] + SHARED)
    assert out == [
        "QuelboError True",
        "QuelboError True",
        "properties True",
        "False",
        "type",
        "ImageView True False",
    ]


def test_table_of_nine_functions_and_nothing_else():
    out = lines(
        """
        import _quelbo_cuda as c
        print([n for n in vars(c) if not n.startswith("__")])
        print(c.CudaExtensionProvider_is_cuda_image.__doc__)
        print(repr(c.CudaImageFactory_adapt_to_cuda.__doc__))
        print(c.delete_CudaImageFactory.__doc__, c.CudaImageFactory_swigregister.__doc__)
        print("|" in c.CudaImageFactory_allocate.__doc__, c.CudaImageFactory_allocate_coalesced.__doc__.count("Overload"))
        """,
        driver=None,
    )
    assert eval(out[0]) == (
        [
            "CudaImageFactory_allocate",
            "CudaImageFactory_allocate_coalesced",
            "CudaImageFactory_copy_in_cuda_memory",
            "CudaImageFactory_adapt_to_cuda",
            "delete_CudaImageFactory",
            "CudaImageFactory_swigregister",
            "CudaExtensionProvider_is_cuda_image",
            "delete_CudaExtensionProvider",
            "CudaExtensionProvider_swigregister",
        ]
    )
    assert out[1] == "Returns if given image is a CUDA image."
    assert eval(out[2]) == (
        "\nAdapt any ImageView to accept CUDA buffers for read and write operations.\nIf given image is already a "
        "CUDA image, it is returned directly.\n\n:type image: :py:class:`ImageView`\n:param image: Image to adapt "
        "for Cuda buffers\n:raises: InvalidArgument If properties of input ImageView are not valid\n"
    )
    assert out[3:] == ["None None", "True 2"]


def test_alone_results_are_bare_and_library_errors_runtime_errors():
    r = run(
        """
        import _quelbo_cuda as c
        try:
            c.CudaImageFactory_copy_in_cuda_memory(None)
        except RuntimeError as e:
            print(type(e.args[0]).__name__)
        print("_quelbo" in sys.modules)
        """,
        driver=None,
        leaks_expected=True,
    )
    assert r.returncode == 0, r.stderr
    out = r.stdout.splitlines()
    assert out[0] == "SwigPyObject" and out[-1] == "False"
    assert "memory leak of type 'quelbo::Error *'" in r.stdout


def test_second_import_after_removal_gives_a_working_module():
    out = lines(
        """
        import proxy
        first = proxy.cuda()
        del sys.modules["_quelbo_cuda"]
        import _quelbo_cuda as again
        print(again is not first)
        try:
            again.CudaImageFactory_copy_in_cuda_memory(None)
        except proxy.QuelboError as e:
            print("registered Error still used")
        print(again.CudaExtensionProvider_is_cuda_image(None))
        """
    )
    assert out == ["True", "registered Error still used", "False"]


def test_hooks_and_destructors():
    out = lines(
        """
        import proxy
        c = proxy.cuda()
        print(c.delete_CudaImageFactory(None), c.delete_CudaExtensionProvider(None))
        for f in (c.delete_CudaImageFactory, c.delete_CudaExtensionProvider):
            try:
                f(proxy.cls("DataType")(1))
            except TypeError as e:
                print(e)
        try:
            c.CudaImageFactory_swigregister()
        except TypeError as e:
            print("hook takes one argument")
        class Again:
            pass
        print(c.CudaExtensionProvider_swigregister(Again))
        """
    )
    assert out == [
        "None None",
        "in method 'delete_CudaImageFactory', argument 1 of type 'quelbo_cuda::CudaImageFactory *'",
        "in method 'delete_CudaExtensionProvider', argument 1 of type 'quelbo_cuda::CudaExtensionProvider *'",
        "hook takes one argument",
        "None",
    ]


TABLES = """
import _quelbo_twin as t
tables = t.cuda_type_tables()
gpu = [m for m in tables if any(n == "_p_quelbo_cuda__CudaImageFactory" for n, _, _ in m)][0]
main = [m for m in tables if any(n == "_p_quelbo__Logger" for n, _, _ in m)][0]
names = [n for n, _, _ in gpu]
print(len(names), names == sorted(names, key=str.encode), names[0], names[-1])
ours = {n: a for n, a, _ in main}
print(all(ours[n] == a for n, a, _ in gpu if n in ours), sum(n in ours for n in names) > 60)
casts = {n: c for n, _, c in gpu}
print(sorted(casts["_p_quelbo__Error"]), sorted(casts["_p_std__shared_ptrT_quelbo__View_t"])[:3])
"""


@pytest.mark.parametrize("order", sorted(ORDERS))
def test_99_records_in_byte_order_one_record_per_shared_name(order):
    out = lines(ORDERS[order] + TABLES)
    assert out == [
        "99 True _p_ConstIterator _p_std__shared_ptrT_quelbo__Writer_t",
        "True True",
        "['_p_quelbo__Error', '_p_quelbo__InvalidArgument', '_p_quelbo__NotImplemented'] "
        "['_p_std__shared_ptrT_quelbo__DataFrameView_t', '_p_std__shared_ptrT_quelbo__ImageView_t', "
        "'_p_std__shared_ptrT_quelbo__LodImageView_t']",
    ]
