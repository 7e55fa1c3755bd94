"""Functions declared once: the calling form, the argument numbers and texts,
the overload prototype lines and the results come from one declaration."""
import numpy as np
import pytest

from derived_util import D, exact, shape, view
from proxy import q

F = "ImageViewFactory_"


def arg_message(fn, number, text):
    return exact(f"in method '{fn}', argument {number} of type '{text}'")


def test_forms_follow_the_argument_count():
    v = view(np.zeros((2, 3)), "ROW", "COLUMN")
    # one argument: taken directly, a second one is Python's own refusal
    with pytest.raises(TypeError):
        q.ImageViewFactory_make_thread_safe(v, 1)
    # two or more: unpacked with the count message
    with pytest.raises(TypeError, match=exact(f"{F}sub_sample expected 2 arguments, got 1")):
        q.ImageViewFactory_sub_sample(v)
    with pytest.raises(TypeError, match=exact(f"{F}adapt_dynamic_range expected 4 arguments, got 5")):
        q.ImageViewFactory_adapt_dynamic_range(v, 0, [0, 1], [0, 1], 0)


def test_argument_messages_name_number_and_declared_type():
    a = np.zeros((2, 3))
    v = view(a, "ROW", "COLUMN")
    cases = [
        (OverflowError, F + "flip_dimension", 2, "quelbo::ImageDimension", (v, 2**31)),
        (OverflowError, F + "sub_sample", 2, "size_t", (v, -1)),
        (TypeError, F + "extract_channel", 2, "size_t", (v, 1.0)),
        (TypeError, F + "make_thread_safe", 1, "std::shared_ptr< quelbo::ImageView >", (5,)),
        (TypeError, F + "from_image_view", 3, "std::shared_ptr< quelbo::MetadataNode const >", (v, None, 5)),
        # the dimension list fills two native parameters: the ones after it shift by one
        (OverflowError, "NumpyInterop__order_from_numpy_array", 4, "quelbo::ImageInterpretation",
         (a, [0, 1], 2**31, False)),
        (TypeError, "NumpyInterop__from_numpy_array", 4, "bool", (a, q.new_ImageType(), 0, 1)),
    ]
    for error, fn, number, text, args in cases:
        with pytest.raises(error, match=arg_message(fn, number, text)):
            getattr(q, fn)(*args)
    with pytest.raises(ValueError, match=exact(f"invalid null reference in method '{F}reinterpret', argument 2 of "
                                               "type 'quelbo::ImageType'")):
        q.ImageViewFactory_reinterpret(v, None)


def test_overload_prototypes_in_declaration_order():
    message = ("Wrong number or type of arguments for overloaded function 'ImageViewFactory_stack'.\n"
               "  Possible C/C++ prototypes are:\n"
               "    quelbo::ImageViewFactory::stack(std::shared_ptr< quelbo::MultiImageView >,"
               "quelbo::ImageDimension)\n"
               "    quelbo::ImageViewFactory::stack(std::shared_ptr< quelbo::MultiImageView >)\n"
               "    quelbo::ImageViewFactory::stack(std::shared_ptr< quelbo::MultiImageView >,"
               "quelbo::ImageDimension,size_t)\n")
    multi = q.MultiImageViewFactory_create()
    for args in ((), (multi, "x"), (multi, 0, -1), (5,)):
        with pytest.raises(TypeError, match=exact(message)):
            q.ImageViewFactory_stack(*args)


def test_getter_results_by_the_member_type():
    v = view(np.zeros((2, 3), np.uint16), "ROW", "COLUMN")
    assert q.ImageView_get_dimension_count(v) == 2                  # a size as int
    assert isinstance(q.ImageView_to_string(v), str)               # a string
    assert shape(v) == [3, 2]                                      # a value class as an owned copy
    assert q.ImageView_tiling_info(v) is None                      # an empty shared pointer
    props = q.ImageView___get_properties(v)                         # a shared constant object
    assert q.ImageView___get_properties(v) is not None and props is not None
    with pytest.raises(TypeError, match=arg_message("ImageView_get_shape", 1, "quelbo::ImageView *")):
        q.ImageView_get_shape(5)


def test_method_object_none_passes_the_check_and_fails_its_conversion():
    null = exact("invalid null reference in method 'ImageType_remove', argument 1 of type 'quelbo::ImageType *'")
    for position in (0, 2**40):                     # the ImageDimension row, then the size_t row
        with pytest.raises(ValueError, match=null):
            q.ImageType_remove(None, position)
    with pytest.raises(TypeError, match=exact(
            "Wrong number or type of arguments for overloaded function 'ImageType_remove'.\n"
            "  Possible C/C++ prototypes are:\n"
            "    quelbo::ImageType::remove(quelbo::ImageDimension)\n"
            "    quelbo::ImageType::remove(size_t)\n")):
        q.ImageType_remove(None, "x")
    # an operator: a TypeError becomes NotImplemented, other errors raise
    assert q.ImageType___or__(q.new_ImageType(), "x") is NotImplemented
    with pytest.raises(ValueError):
        q.ImageType___or__(None, 0)
