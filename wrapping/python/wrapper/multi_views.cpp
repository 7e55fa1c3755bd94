// MultiImageView, MultiImageViewFactory and LodImageView.
#include "core_args.h"
#include "extensions.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/metadata.h"
#include "quelbo/multi_image_view.h"
#include "readonly/readonly_args.h"

namespace {

using namespace qw;
using quelbo::ImageView;
using quelbo::LodImageView;
using quelbo::MultiImageView;
using quelbo::MultiImageViewFactory;
using ViewPtr = std::shared_ptr<ImageView>;
using MultiPtr = std::shared_ptr<MultiImageView>;

QW_TYPE(std::shared_ptr<MultiImageView>, "_p_std__shared_ptrT_quelbo__MultiImageView_t");
QW_SHARED_CAST(quelbo::View, MultiImageView);
QW_TYPE(MultiImageViewFactory, "_p_quelbo__MultiImageViewFactory");

struct MultiTr
{
    using T = MultiImageView;
    static constexpr const char* name = "MultiImageView";
    static constexpr const char* native = "quelbo::MultiImageView";
    static constexpr const char* self_type = "quelbo::MultiImageView const *";
};
struct LodTr
{
    using T = LodImageView;
    static constexpr const char* name = "LodImageView";
    static constexpr const char* native = "quelbo::LodImageView";
    static constexpr const char* self_type = "quelbo::LodImageView const *";
    static constexpr const char* mut_type = "quelbo::LodImageView *";
};
struct FactoryTr
{
    using T = MultiImageViewFactory;
    static constexpr const char* name = "MultiImageViewFactory";
    static constexpr const char* native = "quelbo::MultiImageViewFactory";
};

constexpr const char* kImage = "std::shared_ptr< quelbo::ImageView >";

// Unpacks n arguments and converts the object (argument 1) and an index (argument 2).
template <class Tr>
bool indexed_args(const char* fn, PyObject* args, Py_ssize_t n, PyObject** a, std::shared_ptr<typename Tr::T>& obj,
                  size_t& index)
{
    return unpack(fn, args, n, n, a) && SharedMember<Tr>::self(a[0], fn, false, obj) &&
           arg(a[1], {fn, 2, "size_t"}, index);
}

// ------------------------------------------------------------ MultiImageView

constexpr char kGetCapabilities[] = "get_capabilities";
constexpr char kToString[] = "to_string";
constexpr char kGetFrameCount[] = "get_frame_count";

PyObject* MultiImageView_support(PyObject*, PyObject* args)
{
    const char* fn = "MultiImageView_support";
    PyObject* a[2];
    MultiPtr multi;
    quelbo::MultiImageCapabilitySet flags;
    if (!unpack(fn, args, 2, 2, a) || !SharedMember<MultiTr>::self(a[0], fn, false, multi) ||
        !flags_arg(a[1], {fn, 2, "quelbo::MultiImageCapabilitySet"}, flags))
        return nullptr;
    return call([&] { return to_py(multi->support(flags)); });
}

PyObject* MultiImageView_frame(PyObject*, PyObject* args)
{
    PyObject* a[2];
    MultiPtr multi;
    size_t index;
    if (!indexed_args<MultiTr>("MultiImageView_frame", args, 2, a, multi, index))
        return nullptr;
    return call([&] { return shared(multi->frame(index)); });
}

PyObject* MultiImageView___get_metadata(PyObject*, PyObject* o)
{
    MultiPtr multi;
    if (!SharedMember<MultiTr>::self(o, "MultiImageView___get_metadata", true, multi))
        return nullptr;
    return call([&] { return shared(multi->metadata()); });
}

PyObject* MultiImageView_add_frame(PyObject*, PyObject* args)
{
    const char* fn = "MultiImageView_add_frame";
    PyObject* a[2];
    MultiPtr multi;
    ViewPtr frame;
    if (!unpack(fn, args, 2, 2, a) || !SharedMember<MultiTr>::self(a[0], fn, false, multi) ||
        !shared_arg(a[1], {fn, 2, kImage}, frame))
        return nullptr;
    return call([&] {
        multi->addFrame(frame);
        return none();
    });
}

PyObject* MultiImageView_set_frame(PyObject*, PyObject* args)
{
    const char* fn = "MultiImageView_set_frame";
    PyObject* a[3];
    MultiPtr multi;
    size_t index;
    ViewPtr frame;
    if (!indexed_args<MultiTr>(fn, args, 3, a, multi, index) || !shared_arg(a[2], {fn, 3, kImage}, frame))
        return nullptr;
    return call([&] {
        multi->setFrame(index, frame);
        return none();
    });
}

PyObject* MultiImageView_remove_frame(PyObject*, PyObject* args)
{
    PyObject* a[2];
    MultiPtr multi;
    size_t index;
    if (!indexed_args<MultiTr>("MultiImageView_remove_frame", args, 2, a, multi, index))
        return nullptr;
    return call([&] {
        multi->removeFrame(index);
        return none();
    });
}

PyObject* MultiImageView_set_metadata(PyObject*, PyObject* args)
{
    const char* fn = "MultiImageView_set_metadata";
    PyObject* a[2];
    MultiPtr multi;
    std::shared_ptr<quelbo::MetadataNode> metadata;
    if (!unpack(fn, args, 2, 2, a) || !SharedMember<MultiTr>::self(a[0], fn, false, multi) ||
        !proxy_shared_arg(a[1], {fn, 2, "std::shared_ptr< quelbo::MetadataNode >"}, metadata))
        return nullptr;
    return call([&] {
        multi->setMetadata(metadata);
        return none();
    });
}

PyObject* MultiImageView_create_from_pointer(PyObject*, PyObject* o)
{
    static const ArgId a{"MultiImageView_create_from_pointer", 1, "unsigned long long"};
    return adopt_handed_over<MultiImageView>(o, a);
}

void add_multi(Methods& m)
{
    add_shared_getter<MultiTr, kGetCapabilities, &MultiImageView::capabilities>(
        m, "Return the capabilities of the multi-image view.");
    m.add<&MultiImageView_support>("MultiImageView_support", METH_VARARGS,
                                   "Checks if the multi-image view supports the given capabilities.");
    add_shared_getter<MultiTr, kToString, &MultiImageView::toString>(m, "Return a string representation");
    add_shared_getter<MultiTr, kGetFrameCount, &MultiImageView::frameCount>(
        m, "Return the number of frames.\n:raises: Error");
    m.add<&MultiImageView_frame>("MultiImageView_frame", METH_VARARGS, "Return the frame at an index.");
    m.add<&MultiImageView___get_metadata>("MultiImageView___get_metadata", METH_O,
                                          "Return the root node of the metadata of the multi-image view.");
    m.add<&MultiImageView_add_frame>("MultiImageView_add_frame", METH_VARARGS, "Append a frame at the end.");
    m.add<&MultiImageView_set_frame>("MultiImageView_set_frame", METH_VARARGS,
                                     "Replace the frame at an index that already exists; nothing is allocated.");
    m.add<&MultiImageView_remove_frame>("MultiImageView_remove_frame", METH_VARARGS, "Remove the frame at an index.");
    m.add<&MultiImageView_set_metadata>("MultiImageView_set_metadata", METH_VARARGS, "Attach a new metadata tree.");
    m.add<&MultiImageView_create_from_pointer>(
        "MultiImageView_create_from_pointer", METH_O,
        "Create a MultiImageView from a pointer to a MultiImageView shared pointer as an int.");
    m.add<&shared_release<MultiTr>>("delete_MultiImageView", METH_O);
    add_hooks<MultiPtr>(m, "MultiImageView", false);
}

// ------------------------------------------------------------ LodImageView

constexpr char kGetLevelRange[] = "get_level_range";

PyObject* LodImageView_resolution(PyObject*, PyObject* args)
{
    const char* fn = "LodImageView_resolution";
    PyObject* a[2];
    std::shared_ptr<LodImageView> lod;
    int64_t level;
    if (!unpack(fn, args, 2, 2, a) || !SharedMember<LodTr>::self(a[0], fn, false, lod) ||
        !arg(a[1], {fn, 2, "int64_t"}, level))
        return nullptr;
    return call([&] { return shared(lod->resolution(level)); });
}

void add_lod(Methods& m)
{
    add_shared_getter<LodTr, kGetLevelRange, &LodImageView::levelRange, false>(
        m, "Give the range of available levels of resolution: the level of the highest resolution (at most 0), "
           "then the level of the lowest (at least 0).");
    m.add<&LodImageView_resolution>(
        "LodImageView_resolution", METH_VARARGS,
        "An ImageView of the n-th level of detail.\n:raises: Error if required level is not handled (out of "
        "range)");
    add_shared_getter<LodTr, kToString, &LodImageView::toString>(m, "Return a string representation");
    add_hooks<std::shared_ptr<LodImageView>>(m, "LodImageView", false);
}

// ---------------------------------------------------- MultiImageViewFactory

PyObject* create(PyObject*, PyObject*)
{
    return call([] { return shared(MultiImageViewFactory::create()); });
}

PyObject* create_from_list(PyObject*, PyObject* args)
{
    static const char* fn = "MultiImageViewFactory_create_from_list";
    PyObject* a[1];
    Py_ssize_t n;
    if (!unpack(fn, args, 0, 1, a, &n))
        return nullptr;
    std::vector<ViewPtr> frames;
    if (n == 1) {
        PyObject* list = a[0];
        if (!PyTuple_Check(list) && !PyList_Check(list)) {
            PyErr_SetString(PyExc_ValueError, "Input must be a list of a tuple");
            return nullptr;
        }
        CallGuard user;
        Py_ssize_t const count = PySequence_Size(list);
        if (count < 0)
            return nullptr;
        frames.resize(size_t(count));
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject* item = PySequence_GetItem(list, i);
            if (!item)
                return nullptr;
            bool const ok = shared_arg(item, {fn, 1, kImage}, frames[size_t(i)]);
            Py_DECREF(item);
            if (!ok)
                return nullptr;
        }
    }
    return call([&] { return shared(MultiImageViewFactory::createFromList(frames.data(), frames.size())); });
}

template <class T>
PyObject* unstack(const char* fn, const char* ty, PyObject* args)
{
    PyObject* a[2];
    ViewPtr view;
    T which;
    if (!unpack(fn, args, 2, 2, a) || !shared_arg(a[0], {fn, 1, kImage}, view) || !arg(a[1], {fn, 2, ty}, which))
        return nullptr;
    return call([&] { return shared(MultiImageViewFactory::unstack(view, which)); });
}

PyObject* unstack_dimension(PyObject*, PyObject* args)
{
    return unstack<quelbo::ImageDimension>("MultiImageViewFactory_unstack_dimension", "quelbo::ImageDimension", args);
}

PyObject* unstack_dimension_index(PyObject*, PyObject* args)
{
    return unstack<size_t>("MultiImageViewFactory_unstack_dimension_index", "size_t", args);
}

PyObject* deinterlace(PyObject*, PyObject* o)
{
    ViewPtr view;
    if (!shared_arg(o, {"MultiImageViewFactory_deinterlace", 1, kImage}, view))
        return nullptr;
    return call([&] { return shared(MultiImageViewFactory::deinterlace(view)); });
}

void add_multi_factory(Methods& m)
{
    m.add<&create>("MultiImageViewFactory_create", METH_NOARGS, "Create an empty multi-image view.");
    m.add<&create_from_list>("MultiImageViewFactory_create_from_list", METH_VARARGS,
                             "Create a multi-image view holding all the given image views.");
    m.add<&unstack_dimension>(
        "MultiImageViewFactory_unstack_dimension", METH_VARARGS,
        "Cut an image view along a dimension into as many frames as its size, each over the other dimensions.\n"
        ":raises: InvalidArgument if the image view is null, Error if the view lacks the dimension or has "
        "invalid properties.");
    m.add<&unstack_dimension_index>(
        "MultiImageViewFactory_unstack_dimension_index", METH_VARARGS,
        "Cut an image view along the dimension of an index into as many frames as its size.\n"
        ":raises: InvalidArgument if the image view is null, Error if it has invalid properties.");
    m.add<&deinterlace>("MultiImageViewFactory_deinterlace", METH_O,
                        "One frame per channel of an image view (an RGB view gives red, green and blue).\n"
                        ":raises: InvalidArgument if the image view is null, Error if it has invalid properties.");
    ClassOps<FactoryTr>::add(m);
}

QW_FAMILY(order::views_lod, add_lod);
QW_FAMILY(order::views_multi, add_multi);
QW_FAMILY(order::factories_multi, add_multi_factory);

} // namespace
