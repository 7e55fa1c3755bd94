// ImageType and ImageTypeId: the axes of an image as a set of dimensions.
#include "core_args.h"
#include "quelbo/image_type.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageType;

QW_TYPE(ImageType, "_p_quelbo__ImageType");
QW_TYPE(quelbo::ImageTypeId, "_p_quelbo__ImageTypeId");
QW_TYPE(ImageDimension, "_p_quelbo__ImageDimension");

struct ImageTypeTr
{
    using T = ImageType;
    static constexpr const char* name = "ImageType";
    static constexpr const char* native = "quelbo::ImageType";
    static constexpr const char* self_type = "quelbo::ImageType const *";
    static constexpr const char* other_type = "quelbo::ImageType";
};
struct ImageTypeIdTr
{
    using T = quelbo::ImageTypeId;
    static constexpr const char* name = "ImageTypeId";
    static constexpr const char* native = "quelbo::ImageTypeId";
};

constexpr const char* kConst = ImageTypeTr::self_type;
constexpr const char* kMutable = "quelbo::ImageType *";

PyObject* new_ImageType(PyObject*, PyObject* args)
{
    static const char* fn = "new_ImageType";
    static const Overloads rows(
        fn,
        {{"quelbo::ImageType::ImageType()", 0, 0, nullptr,
          [](Args, Py_ssize_t) { return call([] { return constructed(new ImageType()); }); }, 0},
         {"quelbo::ImageType::ImageType(uint64_t)", 1, 1, [](Args a, Py_ssize_t) { return is<uint64_t>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              uint64_t v;
              if (!arg(a[0], {fn, 1, "uint64_t"}, v))
                  return nullptr;
              return call([&] { return constructed(new ImageType(v)); });
          },
          2},
         {"quelbo::ImageType::ImageType(quelbo::ImageDimension const *,size_t)", 2, 2,
          [](Args a, Py_ssize_t) { return is_obj<ImageDimension>(a[0], true) && is<uint64_t>(a[1]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              ImageDimension* dims;
              uint64_t count;
              if (!ptr(a[0], {fn, 1, "quelbo::ImageDimension const *"}, dims) || !arg(a[1], {fn, 2, "size_t"}, count))
                  return nullptr;
              // a null list with a count is refused by the library
              return call([&] { return constructed(new ImageType(dims, count)); });
          },
          1}});
    return rows(args);
}

// obj and a dimension; the object is taken mutable for the changing methods.
template <bool Mutable>
bool self_and_dimension(PyObject* args, const char* fn, const char* selfType, ImageType*& obj, ImageDimension& d)
{
    PyObject* a[2];
    if (!unpack(fn, args, 2, 2, a))
        return false;
    if (!(Mutable ? self_mut(a[0], {fn, 1, selfType}, obj) : self(a[0], {fn, 1, selfType}, obj)))
        return false;
    return arg(a[1], {fn, 2, "quelbo::ImageDimension"}, d);
}

PyObject* ImageType_add(PyObject*, PyObject* args)
{
    ImageType* obj;
    ImageDimension d;
    if (!self_and_dimension<true>(args, "ImageType_add", kMutable, obj, d))
        return nullptr;
    return call([&] {
        obj->add(d);
        return none();
    });
}

PyObject* ImageType_has(PyObject*, PyObject* args)
{
    ImageType* obj;
    ImageDimension d;
    if (!self_and_dimension<false>(args, "ImageType_has", kConst, obj, d))
        return nullptr;
    return call([&] { return to_py(obj->has(d)); });
}

PyObject* ImageType_remove(PyObject*, PyObject* args)
{
    static const char* fn = "ImageType_remove";
    static const Overloads rows(
        fn, {{"quelbo::ImageType::remove(quelbo::ImageDimension)", 2, 2,
              [](Args a, Py_ssize_t) { return is_obj<ImageType>(a[0], true) && is<int32_t>(a[1]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  ImageType* obj;
                  ImageDimension d;
                  if (!self_mut(a[0], {fn, 1, kMutable}, obj) || !arg(a[1], {fn, 2, "quelbo::ImageDimension"}, d))
                      return nullptr;
                  return call([&] {
                      obj->remove(d);
                      return none();
                  });
              }},
             {"quelbo::ImageType::remove(size_t)", 2, 2,
              [](Args a, Py_ssize_t) { return is_obj<ImageType>(a[0], true) && is<uint64_t>(a[1]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  ImageType* obj;
                  uint64_t position;
                  if (!self_mut(a[0], {fn, 1, kMutable}, obj) || !arg(a[1], {fn, 2, "size_t"}, position))
                      return nullptr;
                  return call([&] {
                      obj->remove(size_t(position));
                      return none();
                  });
              }}});
    return rows(args);
}

PyObject* ImageType_index_dimension(PyObject*, PyObject* args)
{
    ImageType* obj;
    ImageDimension d;
    if (!self_and_dimension<false>(args, "ImageType_index_dimension", kMutable, obj, d))
        return nullptr;
    return call([&] { return to_py(uint64_t(obj->indexDimension(d))); });
}

PyObject* ImageType__dimension(PyObject*, PyObject* args)
{
    const char* fn = "ImageType__dimension";
    PyObject* a[2];
    ImageType* obj;
    uint64_t position;
    if (!unpack(fn, args, 2, 2, a) || !self(a[0], {fn, 1, kConst}, obj) || !arg(a[1], {fn, 2, "size_t"}, position))
        return nullptr;
    return call([&] { return to_py(obj->dimension(size_t(position))); });
}

PyObject* ImageType___or__(PyObject*, PyObject* args)
{
    ImageType* obj;
    ImageDimension d;
    if (!self_and_dimension<false>(args, "ImageType___or__", kConst, obj, d))
        return not_implemented(nullptr);
    return not_implemented(call([&] { return value(*obj | d); }));
}

constexpr char kValue[] = "value";
constexpr char kDimensionCount[] = "dimension_count";
constexpr char kToString[] = "to_string";

void add_imagetype(Methods& m)
{
    m.add<&new_ImageType>("new_ImageType", METH_VARARGS);
    m.add<&ClassOps<ImageTypeTr>::del>("delete_ImageType", METH_O);
    m.add<&ImageType_add>("ImageType_add", METH_VARARGS);
    m.add<&ImageType_has>("ImageType_has", METH_VARARGS);
    m.add<&ImageType_remove>("ImageType_remove", METH_VARARGS);
    add_const_getter<ImageTypeTr, kValue, &ImageType::value>(m);
    add_const_getter<ImageTypeTr, kDimensionCount, &ImageType::dimensionCount>(m);
    m.add<&ImageType_index_dimension>("ImageType_index_dimension", METH_VARARGS);
    m.add<&ImageType__dimension>("ImageType__dimension", METH_VARARGS);
    add_const_getter<ImageTypeTr, kToString, &ImageType::toString>(m);
    add_object_compare<ImageTypeTr>(m);
    m.add<&ImageType___or__>("ImageType___or__", METH_VARARGS);
    add_hooks<ImageType>(m, "ImageType");
    ClassOps<ImageTypeIdTr>::add<&ClassOps<ImageTypeIdTr>::new_default>(m);
}

QW_FAMILY(order::imagetype, add_imagetype);

} // namespace
