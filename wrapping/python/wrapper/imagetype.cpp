// ImageType and ImageTypeId: the axes of an image as a set of dimensions.
#include "core_args.h"
#include "quelbo/image_type.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageType;

QW_TYPE(ImageType);
QW_TYPE(quelbo::ImageTypeId);
QW_TYPE(ImageDimension);

// Another image type is taken by value.
struct ImageTypeTr : Traits<ImageType>
{
    static constexpr const char* other_type = native;
};
using ImageTypeIdTr = Traits<quelbo::ImageTypeId>;

constexpr auto kMutable = named<quelbo::ImageType*>;
constexpr auto kDimensions = named<const quelbo::ImageDimension*>;
using Dimension = Arg<ImageDimension>;
using Position = Arg<uint64_t, text::size>;
using Constant = Self<ImageType>;
using Changing = SelfMut<ImageType>;

struct new_empty : Candidate<Params<>, 0>
{
    static constexpr const char* member = ImageTypeTr::constructor;
    static constexpr auto call = [] { return constructed(new ImageType()); };
};
struct new_value : Candidate<Params<Arg<uint64_t, text::u64>>, 2>
{
    static constexpr const char* member = ImageTypeTr::constructor;
    static constexpr auto call = [](uint64_t v) { return constructed(new ImageType(v)); };
};
// a null list with a count is refused by the library
struct new_list : Candidate<Params<Ptr<ImageDimension, kDimensions>, Position>, 1>
{
    static constexpr const char* member = ImageTypeTr::constructor;
    static constexpr auto call = [](ImageDimension* dims, uint64_t count) {
        return constructed(new ImageType(dims, count));
    };
};
struct new_image_type : DeclareOverloads<new_image_type, new_empty, new_value, new_list>
{
    static constexpr const char* name = "new_ImageType";
};

using add = Fn<QW_NAME("ImageType_add"), static_cast<void (ImageType::*)(ImageDimension)>(&ImageType::add), Changing,
               Dimension>;
using has = Fn<QW_NAME("ImageType_has"), &ImageType::has, Constant, Dimension>;

struct remove_dimension : Candidate<Params<Changing, Dimension>>
{
    static constexpr const char* member = member_of<ImageType, QW_NAME("remove")>;
    static constexpr auto call = [](ImageType* obj, ImageDimension d) { obj->remove(d); };
};
struct remove_position : Candidate<Params<Changing, Position>>
{
    static constexpr const char* member = member_of<ImageType, QW_NAME("remove")>;
    static constexpr auto call = [](ImageType* obj, uint64_t position) { obj->remove(size_t(position)); };
};
struct remove : DeclareOverloads<remove, remove_dimension, remove_position>
{
    static constexpr const char* name = "ImageType_remove";
};

using index_dimension =
    Fn<QW_NAME("ImageType_index_dimension"), &ImageType::indexDimension, Self<ImageType, kMutable>, Dimension>;
using dimension_at = Fn<QW_NAME("ImageType__dimension"), &ImageType::dimension, Constant, Position>;

struct or_dimension : Declare<or_dimension, Params<Constant, Dimension>>
{
    static constexpr const char* name = "ImageType___or__";
    static constexpr auto call = [](ImageType* obj, ImageDimension d) { return *obj | d; };
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

void add_imagetype(Methods& m)
{
    m.add<new_image_type>();
    m.add<Delete<ImageTypeTr>>();
    m.add<add>();
    m.add<has>();
    m.add<remove>();
    add_const_getter<ImageTypeTr, QW_NAME("value"), &ImageType::value>(m);
    add_const_getter<ImageTypeTr, QW_NAME("dimension_count"), &ImageType::dimensionCount>(m);
    m.add<index_dimension>();
    m.add<dimension_at>();
    add_const_getter<ImageTypeTr, QW_NAME("to_string"), &ImageType::toString>(m);
    add_object_compare<ImageTypeTr>(m);
    m.add<or_dimension>();
    add_hooks<ImageType>(m, "ImageType");
    add_class<ImageTypeIdTr, NewDefault>(m);
}

QW_FAMILY(add_imagetype);

} // namespace
