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

constexpr auto kConst = named<const quelbo::ImageType*>;
constexpr auto kMutable = named<quelbo::ImageType*>;
constexpr auto kDimension = named<quelbo::ImageDimension>;
constexpr auto kDimensions = named<const quelbo::ImageDimension*>;
constexpr char kUint64[] = "uint64_t";
using Dimension = Arg<ImageDimension, kDimension>;
using Position = Arg<uint64_t, text::size>;
using Constant = Self<ImageType, kConst>;
using Changing = SelfMut<ImageType, kMutable>;

struct new_empty : Candidate<Params<>, 0>
{
    static constexpr const char* member = ImageTypeTr::constructor;
    static constexpr auto call = [] { return constructed(new ImageType()); };
};
struct new_value : Candidate<Params<Arg<uint64_t, kUint64>>, 2>
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

constexpr char kAdd[] = "ImageType_add";
using add = Fn<kAdd, static_cast<void (ImageType::*)(ImageDimension)>(&ImageType::add), Changing, Dimension>;
constexpr char kHas[] = "ImageType_has";
using has = Fn<kHas, &ImageType::has, Constant, Dimension>;

constexpr char kRemoveMember[] = "remove";
struct remove_dimension : Candidate<Params<Changing, Dimension>>
{
    static constexpr const char* member = member_of<ImageType, kRemoveMember>;
    static constexpr auto call = [](ImageType* obj, ImageDimension d) { obj->remove(d); };
};
struct remove_position : Candidate<Params<Changing, Position>>
{
    static constexpr const char* member = member_of<ImageType, kRemoveMember>;
    static constexpr auto call = [](ImageType* obj, uint64_t position) { obj->remove(size_t(position)); };
};
struct remove : DeclareOverloads<remove, remove_dimension, remove_position>
{
    static constexpr const char* name = "ImageType_remove";
};

constexpr char kIndexDimension[] = "ImageType_index_dimension";
using index_dimension = Fn<kIndexDimension, &ImageType::indexDimension, Self<ImageType, kMutable>, Dimension>;
constexpr char kDimensionAt[] = "ImageType__dimension";
using dimension_at = Fn<kDimensionAt, &ImageType::dimension, Constant, Position>;

struct or_dimension : Declare<or_dimension, Params<Constant, Dimension>>
{
    static constexpr const char* name = "ImageType___or__";
    static constexpr auto call = [](ImageType* obj, ImageDimension d) { return *obj | d; };
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

constexpr char kValue[] = "value";
constexpr char kDimensionCount[] = "dimension_count";
constexpr char kToString[] = "to_string";

void add_imagetype(Methods& m)
{
    m.add<new_image_type>();
    m.add<Delete<ImageTypeTr>>();
    m.add<add>();
    m.add<has>();
    m.add<remove>();
    add_const_getter<ImageTypeTr, kValue, &ImageType::value>(m);
    add_const_getter<ImageTypeTr, kDimensionCount, &ImageType::dimensionCount>(m);
    m.add<index_dimension>();
    m.add<dimension_at>();
    add_const_getter<ImageTypeTr, kToString, &ImageType::toString>(m);
    add_object_compare<ImageTypeTr>(m);
    m.add<or_dimension>();
    add_hooks<ImageType>(m, "ImageType");
    add_class<ImageTypeIdTr, NewDefault>(m);
}

QW_FAMILY(add_imagetype);

} // namespace
