// MultiImageView, MultiImageViewFactory and LodImageView.
#include "core_args.h"
#include "extensions.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/metadata.h"
#include "quelbo/multi_image_view.h"
#include "readonly/readonly_args.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageView;
using quelbo::LodImageView;
using quelbo::MultiImageView;
using quelbo::MultiImageViewFactory;
using ViewPtr = std::shared_ptr<ImageView>;
using MultiPtr = std::shared_ptr<MultiImageView>;

QW_TYPE(std::shared_ptr<MultiImageView>);
QW_SHARED_CAST(quelbo::View, MultiImageView);
QW_TYPE(MultiImageViewFactory);

using MultiTr = Traits<MultiImageView>;
using LodTr = Traits<LodImageView>;
using FactoryTr = Traits<MultiImageViewFactory>;
constexpr auto kCapabilities = named<CapabilitySet<quelbo::MultiImageCapability>>;

using Image = SharedArg<ImageView>;
using Index = Arg<size_t, text::size>;
using Multi = SharedSelf<MultiImageView, &MultiTr::mut_type>;

// ------------------------------------------------------------ MultiImageView

void add_multi(Methods& m)
{
    add_shared_getter<MultiTr, QW_NAME("get_capabilities"), &MultiImageView::capabilities>(
        m, "Return the capabilities of the multi-image view.");
    m.add<Fn<QW_NAME("MultiImageView_support"), &MultiImageView::support, Multi,
             FlagsArg<quelbo::MultiImageCapability, kCapabilities>>>(
        "Checks if the multi-image view supports the given capabilities.");
    add_shared_getter<MultiTr, QW_NAME("to_string"), &MultiImageView::toString>(m, "Return a string representation");
    add_shared_getter<MultiTr, QW_NAME("get_frame_count"), &MultiImageView::frameCount>(
        m, "Return the number of frames.\n:raises: Error");
    m.add<Fn<QW_NAME("MultiImageView_frame"), &MultiImageView::frame, Multi, Index>>("Return the frame at an index.");
    m.add<Fn<QW_NAME("MultiImageView___get_metadata"), &MultiImageView::metadata,
             SharedSelf<MultiImageView, &MultiTr::self_type>>>(
        "Return the root node of the metadata of the multi-image view.");
    m.add<Fn<QW_NAME("MultiImageView_add_frame"), &MultiImageView::addFrame, Multi, Image>>(
        "Append a frame at the end.");
    m.add<Fn<QW_NAME("MultiImageView_set_frame"), &MultiImageView::setFrame, Multi, Index, Image>>(
        "Replace the frame at an index that already exists; nothing is allocated.");
    m.add<Fn<QW_NAME("MultiImageView_remove_frame"), &MultiImageView::removeFrame, Multi, Index>>(
        "Remove the frame at an index.");
    m.add<Fn<QW_NAME("MultiImageView_set_metadata"), &MultiImageView::setMetadata, Multi,
             ProxyShared<quelbo::MetadataNode>>>("Attach a new metadata tree.");
    m.add<CreateFromPointer<QW_NAME("MultiImageView_create_from_pointer"), MultiImageView>>(
        "Create a MultiImageView from a pointer to a MultiImageView shared pointer as an int.");
    m.add<SharedDelete<MultiTr>>();
    add_hooks<MultiPtr>(m, "MultiImageView", false);
}

// ------------------------------------------------------------ LodImageView

void add_lod(Methods& m)
{
    m.add<SharedDelete<LodTr>>(); // the table shows it apart, right after ImageView's functions
    add_shared_getter<LodTr, QW_NAME("get_level_range"), &LodImageView::levelRange, false>(
        m, "Give the range of available levels of resolution: the level of the highest resolution (at most 0), "
           "then the level of the lowest (at least 0).");
    m.add<Fn<QW_NAME("LodImageView_resolution"), &LodImageView::resolution, SharedSelf<LodImageView, &LodTr::mut_type>,
             Arg<int64_t, text::i64>>>(
        "An ImageView of the n-th level of detail.\n:raises: Error if required level is not handled (out of "
        "range)");
    add_shared_getter<LodTr, QW_NAME("to_string"), &LodImageView::toString>(m, "Return a string representation");
    add_hooks<std::shared_ptr<LodImageView>>(m, "LodImageView", false);
}

// ---------------------------------------------------- MultiImageViewFactory

// A list or tuple of shared objects, each converted as a Text argument; a
// missing list is empty. ValueError for any other object.
template <class T, auto Text = named<std::shared_ptr<T>>>
struct SharedList : Kind<Text, 2>
{
    using value = std::vector<std::shared_ptr<T>>;
    static bool check(PyObject* o) { return !o || PyTuple_Check(o) || PyList_Check(o); }
    static bool get(PyObject* o, const ArgId& a, value& v)
    {
        if (!o)
            return true;
        if (!check(o)) {
            PyErr_SetString(PyExc_ValueError, "Input must be a list of a tuple");
            return false;
        }
        const Py_ssize_t count = PySequence_Size(o);
        if (count < 0)
            return false;
        v.resize(size_t(count));
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject* item = PySequence_GetItem(o, i);
            if (!item)
                return false;
            const bool ok = shared_arg(item, a, v[size_t(i)]);
            Py_DECREF(item);
            if (!ok)
                return false;
        }
        return true;
    }
    static value& pass(value& v) { return v; }
};

struct create_from_list : DeclareDefaults<create_from_list, Params<SharedList<ImageView>>, 0>
{
    static constexpr const char* name = "MultiImageViewFactory_create_from_list";
    static constexpr const char* doc = "Create a multi-image view holding all the given image views.";
    static constexpr auto call = [](std::vector<ViewPtr>& frames) {
        return MultiImageViewFactory::createFromList(frames.data(), frames.size());
    };
};

using MultiFrom = std::shared_ptr<MultiImageView> (*)(ViewPtr, quelbo::ImageDimension);
using MultiFromIndex = std::shared_ptr<MultiImageView> (*)(ViewPtr, size_t);

struct unstack_dimension : Declare<unstack_dimension, Params<Image, Arg<quelbo::ImageDimension>>>
{
    static constexpr const char* name = "MultiImageViewFactory_unstack_dimension";
    static constexpr const char* doc =
        "Cut an image view along a dimension into as many frames as its size, each over the other dimensions.\n"
        ":raises: InvalidArgument if the image view is null, Error if the view lacks the dimension or has "
        "invalid properties.";
    static constexpr MultiFrom call = &MultiImageViewFactory::unstack;
};

struct unstack_dimension_index : Declare<unstack_dimension_index, Params<Image, Index>>
{
    static constexpr const char* name = "MultiImageViewFactory_unstack_dimension_index";
    static constexpr const char* doc =
        "Cut an image view along the dimension of an index into as many frames as its size.\n"
        ":raises: InvalidArgument if the image view is null, Error if it has invalid properties.";
    static constexpr MultiFromIndex call = &MultiImageViewFactory::unstack;
};

void add_multi_factory(Methods& m)
{
    m.add<Fn<QW_NAME("MultiImageViewFactory_create"), &MultiImageViewFactory::create>>(
        "Create an empty multi-image view.");
    m.add<create_from_list>();
    m.add<unstack_dimension>();
    m.add<unstack_dimension_index>();
    m.add<Fn<QW_NAME("MultiImageViewFactory_deinterlace"), &MultiImageViewFactory::deinterlace, Image>>(
        "One frame per channel of an image view (an RGB view gives red, green and blue).\n"
        ":raises: InvalidArgument if the image view is null, Error if it has invalid properties.");
    add_class<FactoryTr>(m);
}

QW_FAMILY(add_lod);
QW_FAMILY(add_multi);
QW_FAMILY(add_multi_factory);

} // namespace
