// ImageViewFactory: the views derived from other views or from the frames of
// a multi-image view.
#include "common/dimension_list.h"
#include "common/item_parser.h"
#include "core_args.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/multi_image_view.h"
#include "readonly/readonly_args.h"
#include "runtime/shared.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageView;
using quelbo::ImageViewFactory;
using quelbo::MultiImageView;
using ViewPtr = std::shared_ptr<ImageView>;
using MultiPtr = std::shared_ptr<MultiImageView>;

constexpr const char* kImage = "std::shared_ptr< quelbo::ImageView >";
constexpr const char* kMulti = "std::shared_ptr< quelbo::MultiImageView >";

// Unpacks exactly n arguments and converts the source view (argument 1).
bool source_args(const char* fn, PyObject* args, Py_ssize_t n, PyObject** a, ViewPtr& view)
{
    return unpack(fn, args, n, n, a) && shared_arg(a[0], {fn, 1, kImage}, view);
}

// <fn>(image): one-argument derivations.
template <ViewPtr (*Derive)(ViewPtr)>
PyObject* derive_one(const char* fn, PyObject* o)
{
    ViewPtr view;
    if (!shared_arg(o, {fn, 1, kImage}, view))
        return nullptr;
    return call([&] { return shared(Derive(view)); });
}

// <fn>(image, value): derivations with one scalar argument of declared type `ty`.
template <class T, ViewPtr (*Derive)(ViewPtr, T)>
PyObject* derive_scalar(const char* fn, const char* ty, PyObject* args)
{
    PyObject* a[2];
    ViewPtr view;
    T value;
    if (!source_args(fn, args, 2, a, view) || !arg(a[1], {fn, 2, ty}, value))
        return nullptr;
    return call([&] { return shared(Derive(view, value)); });
}

PyObject* make_thread_safe(PyObject*, PyObject* o)
{
    return derive_one<&ImageViewFactory::makeThreadSafe>("ImageViewFactory_make_thread_safe", o);
}

PyObject* flip_dimension_index(PyObject*, PyObject* args)
{
    return derive_scalar<size_t, &ImageViewFactory::flip>("ImageViewFactory_flip_dimension_index", "size_t", args);
}

PyObject* flip_dimension(PyObject*, PyObject* args)
{
    return derive_scalar<ImageDimension, &ImageViewFactory::flip>("ImageViewFactory_flip_dimension",
                                                                  "quelbo::ImageDimension", args);
}

PyObject* sub_sample(PyObject*, PyObject* args)
{
    return derive_scalar<size_t, &ImageViewFactory::subSample>("ImageViewFactory_sub_sample", "size_t", args);
}

PyObject* reinterpret_axes(PyObject*, PyObject* args)
{
    const char* fn = "ImageViewFactory_reinterpret_axes";
    PyObject* a[2];
    ViewPtr view;
    std::vector<ImageDimension> dimensions;
    if (!source_args(fn, args, 2, a, view) || !dimension_list(a[1], dimensions))
        return nullptr;
    return call([&] { return shared(ImageViewFactory::reinterpretAxes(view, dimensions.data(), dimensions.size())); });
}

// <fn>(image, object): derivations with an object taken by reference or value.
template <class T, class P, ViewPtr (*Derive)(ViewPtr, P)>
PyObject* derive_object(const char* fn, const char* ty, PyObject* args)
{
    PyObject* a[2];
    ViewPtr view;
    T* object;
    if (!source_args(fn, args, 2, a, view) || !ref(a[1], {fn, 2, ty}, object))
        return nullptr;
    return call([&] { return shared(Derive(view, *object)); });
}

PyObject* reinterpret(PyObject*, PyObject* args)
{
    return derive_object<quelbo::ImageType, quelbo::ImageType, &ImageViewFactory::reinterpret>(
        "ImageViewFactory_reinterpret", "quelbo::ImageType", args);
}

PyObject* disassemble_channels(PyObject*, PyObject* o)
{
    return derive_one<&ImageViewFactory::disassembleChannels>("ImageViewFactory_disassemble_channels", o);
}

PyObject* assemble_channels(PyObject*, PyObject* o)
{
    return derive_one<&ImageViewFactory::assembleChannels>("ImageViewFactory_assemble_channels", o);
}

template <ViewPtr (*Derive)(ViewPtr, quelbo::RegionXu64 const&)>
PyObject* derive_region(const char* fn, PyObject* args)
{
    return derive_object<quelbo::RegionXu64, quelbo::RegionXu64 const&, Derive>(fn, "quelbo::RegionXu64 const &", args);
}

PyObject* extract_adjusted_region(PyObject*, PyObject* args)
{
    return derive_region<&ImageViewFactory::extractAdjustedRegion>("ImageViewFactory_extract_adjusted_region", args);
}

PyObject* extract_region(PyObject*, PyObject* args)
{
    return derive_region<&ImageViewFactory::extractRegion>("ImageViewFactory_extract_region", args);
}

PyObject* extract_channel(PyObject*, PyObject* args)
{
    return derive_scalar<size_t, &ImageViewFactory::extractChannel>("ImageViewFactory_extract_channel", "size_t", args);
}

PyObject* adapt_data_type(PyObject*, PyObject* args)
{
    const char* fn = "ImageViewFactory_adapt_data_type";
    PyObject* a[2];
    ViewPtr view;
    quelbo::DataType type;
    if (!source_args(fn, args, 2, a, view) || !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return shared(ImageViewFactory::adaptDataType(view, type)); });
}

PyObject* from_image_view(PyObject*, PyObject* args)
{
    const char* fn = "ImageViewFactory_from_image_view";
    PyObject* a[3];
    ViewPtr view;
    std::shared_ptr<const quelbo::ImageProperties> properties;
    std::shared_ptr<const quelbo::MetadataNode> metadata;
    if (!source_args(fn, args, 3, a, view) ||
        !proxy_shared_arg(a[1], {fn, 2, "std::shared_ptr< quelbo::ImageProperties const >"}, properties) ||
        !proxy_shared_arg(a[2], {fn, 3, "std::shared_ptr< quelbo::MetadataNode const >"}, metadata))
        return nullptr;
    return call([&] { return shared(ImageViewFactory::fromImageView(view, properties, metadata)); });
}

bool is_multi(PyObject* o)
{
    return is_shared<MultiImageView>(o);
}

PyObject* interlace(PyObject*, PyObject* args)
{
    static const char* fn = "ImageViewFactory_interlace";
    static const Overloads rows(
        fn, {{"quelbo::ImageViewFactory::interlace(std::shared_ptr< quelbo::MultiImageView >)", 1, 1,
              [](Args a, Py_ssize_t) { return is_multi(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  MultiPtr multi;
                  if (!shared_arg(a[0], {fn, 1, kMulti}, multi))
                      return nullptr;
                  return call([&] { return shared(ImageViewFactory::interlace(multi)); });
              },
              1},
             {"quelbo::ImageViewFactory::interlace(std::shared_ptr< quelbo::MultiImageView >,quelbo::"
              "ImageInterpretation,bool)",
              3, 3, [](Args a, Py_ssize_t) { return is_multi(a[0]) && is<int32_t>(a[1]) && is<bool>(a[2]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  MultiPtr multi;
                  quelbo::ImageInterpretation interpretation;
                  bool alpha;
                  if (!shared_arg(a[0], {fn, 1, kMulti}, multi) ||
                      !arg(a[1], {fn, 2, "quelbo::ImageInterpretation"}, interpretation) ||
                      !arg(a[2], {fn, 3, "bool"}, alpha))
                      return nullptr;
                  return call([&] { return shared(ImageViewFactory::interlace(multi, interpretation, alpha)); });
              },
              0}});
    return rows(args);
}

PyObject* stack_call(Args a, Py_ssize_t n)
{
    static const char* fn = "ImageViewFactory_stack";
    MultiPtr multi;
    ImageDimension dimension = ImageDimension::COLUMN;
    size_t threads = 0;
    if (!shared_arg(a[0], {fn, 1, kMulti}, multi) ||
        (n > 1 && !arg(a[1], {fn, 2, "quelbo::ImageDimension"}, dimension)) ||
        (n > 2 && !arg(a[2], {fn, 3, "size_t"}, threads)))
        return nullptr;
    return call([&] {
        if (n == 1)
            return shared(ImageViewFactory::stack(multi));
        if (n == 2)
            return shared(ImageViewFactory::stack(multi, dimension));
        return shared(ImageViewFactory::stack(multi, dimension, threads));
    });
}

PyObject* stack(PyObject*, PyObject* args)
{
    static const Overloads rows(
        "ImageViewFactory_stack",
        {{"quelbo::ImageViewFactory::stack(std::shared_ptr< quelbo::MultiImageView >)", 1, 1,
          [](Args a, Py_ssize_t) { return is_multi(a[0]); }, &stack_call, 1},
         {"quelbo::ImageViewFactory::stack(std::shared_ptr< quelbo::MultiImageView >,quelbo::ImageDimension)", 2, 2,
          [](Args a, Py_ssize_t) { return is_multi(a[0]) && is<int32_t>(a[1]); }, &stack_call, 0},
         {"quelbo::ImageViewFactory::stack(std::shared_ptr< quelbo::MultiImageView >,quelbo::ImageDimension,size_t)", 3,
          3, [](Args a, Py_ssize_t) { return is_multi(a[0]) && is<int32_t>(a[1]) && is<uint64_t>(a[2]); }, &stack_call,
          2}});
    return rows(args);
}

PyObject* adapt_dynamic_range(PyObject*, PyObject* args)
{
    const char* fn = "ImageViewFactory_adapt_dynamic_range";
    PyObject* a[4];
    ViewPtr view;
    quelbo::DataType type;
    quelbo::Vector2d in, out;
    if (!source_args(fn, args, 4, a, view) || !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, type) ||
        !sequence_to_vector(a[2], in) || !sequence_to_vector(a[3], out))
        return nullptr;
    return call([&] { return shared(ImageViewFactory::adaptDynamicRange(view, type, in, out)); });
}

void add_derived(Methods& m)
{
    m.add("ImageViewFactory_make_thread_safe", &make_thread_safe, METH_O,
          "Make an image view whose operations are protected for access from several threads.\n"
          "Nothing is allocated; the result has the capabilities of the source.\n"
          ":raises: InvalidArgument if the image view is empty.");
    m.add("ImageViewFactory_flip_dimension_index", &flip_dimension_index, METH_VARARGS,
          "Flip an image view along the dimension of the given index. Nothing is allocated; the result can only be "
          "read.\n:raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
          "InvalidArgument if the index is not below the dimension count.");
    m.add("ImageViewFactory_flip_dimension", &flip_dimension, METH_VARARGS,
          "Flip an image view along the given dimension. Nothing is allocated; the result can only be read.\n"
          ":raises: InvalidArgument if the image view is empty, Error if the source cannot be read, "
          "InvalidArgument if the image type is unknown or lacks the dimension.");
    m.add("ImageViewFactory_sub_sample", &sub_sample, METH_VARARGS,
          "Keep one sample of every step along each dimension but CHANNEL; a step of 1 gives the same image.\n"
          "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is "
          "empty, if step is 0 or larger than a dimension.");
    m.add("ImageViewFactory_reinterpret_axes", &reinterpret_axes, METH_VARARGS,
          "Name the dimensions of an image view; they are reordered to the canonical order with a new image type.\n"
          "Nothing is allocated; the result reads and writes as the source does.\n:raises: InvalidArgument if the "
          "image view is empty, Error if the list's size does not match the dimension count.");
    m.add("ImageViewFactory_reinterpret", &reinterpret, METH_VARARGS,
          "Change the image type of an image view: only the properties change, UNKNOWN fits any view.\n"
          ":raises: InvalidArgument if the image view is empty, Error if the image type's dimension count does not "
          "match.");
    m.add("ImageViewFactory_disassemble_channels", &disassemble_channels, METH_O,
          "Turn an N-dimensional view of vector samples into an N+1-dimensional scalar view with a CHANNEL "
          "dimension of the component count. Nothing is allocated; the result can only be read.\n"
          ":raises: InvalidArgument if the image view is empty or already has a CHANNEL dimension.");
    m.add("ImageViewFactory_assemble_channels", &assemble_channels, METH_O,
          "Pack the CHANNEL dimension, or the last dimension when there is none, into one vector sample.\n"
          "Nothing is allocated; the result can only be read.\n:raises: InvalidArgument if the image view is empty.");
    m.add("ImageViewFactory_extract_adjusted_region", &extract_adjusted_region, METH_VARARGS,
          "A region of an image view whose dimensions of size 1 are dropped. Nothing is allocated.\n"
          ":raises: InvalidArgument if the image view is empty or for an empty region.");
    m.add("ImageViewFactory_extract_region", &extract_region, METH_VARARGS,
          "A region of an image view. Nothing is allocated.\n:raises: InvalidArgument if the image view is empty "
          "or for an empty region.");
    m.add("ImageViewFactory_extract_channel", &extract_channel, METH_VARARGS,
          "One component (0 to the component count minus 1) of an image view of vector samples.\n"
          "Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.");
    m.add("ImageViewFactory_adapt_data_type", &adapt_data_type, METH_VARARGS,
          "Map the source's value range onto the standard range of a data type. Nothing is allocated.\n"
          ":raises: InvalidArgument if the image view is empty, if the component count differs or the type is not "
          "numeric.");
    m.add("ImageViewFactory_from_image_view", &from_image_view, METH_VARARGS,
          "The same image view with other properties (a clone of the source's when empty) and metadata.\n"
          ":raises: InvalidArgument if the image view is empty, Error if the properties do not fit the shape and "
          "type.");
    m.add("ImageViewFactory_interlace", &interlace, METH_VARARGS,
          "Make the frames of a multi-image view the components of one vector sample (interpretation UNKNOWN and "
          "no alpha by default). Nothing is allocated.\n:raises: InvalidArgument if the multi-image view is empty, "
          "for frames of different shape or type, with a CHANNEL dimension, or not scalar.");
    m.add("ImageViewFactory_stack", &stack, METH_VARARGS,
          "Stack the frames of a multi-image view along a new dimension (the last one, with the image type "
          "UNKNOWN, when none is given). threadCount 0 chooses the thread count, 1 turns multithreading off.\n"
          "Nothing is allocated.\n:raises: InvalidArgument if the multi-image view is empty or for frames of "
          "different shape or type.");
    m.add("ImageViewFactory_adapt_dynamic_range", &adapt_dynamic_range, METH_VARARGS,
          "Map inputRange linearly onto outputRange, in a data type; values outside map outside, without "
          "clamping. Nothing is allocated.\n:raises: InvalidArgument if the image view is empty.");
}
QW_FAMILY(order::factories_derived, add_derived);

} // namespace
