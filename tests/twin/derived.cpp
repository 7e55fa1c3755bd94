// Test-only native code for derived and multi-image views: level-of-detail
// views (no module function makes one) and multi-image views handed over by
// address.
#include <memory>
#include <vector>

#include "quelbo/hand_over.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/multi_image_view.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;
using LodPtr = std::shared_ptr<quelbo::LodImageView>;
using MultiPtr = std::shared_ptr<quelbo::MultiImageView>;

QW_TEST_TYPE(LodPtr, "_p_std__shared_ptrT_quelbo__LodImageView_t", "std::shared_ptr< quelbo::LodImageView > *");
QW_TEST_TYPE(MultiPtr, "_p_std__shared_ptrT_quelbo__MultiImageView_t", "std::shared_ptr< quelbo::MultiImageView > *");

// lod_view(first_level, count): a level-of-detail view of `count` levels from
// `first_level`; level L is an 8-bit image of 2^(4 - L) x 2^(3 - L) samples
// (at least 1) whose every sample holds L + 100.
PyObject* lod_view(PyObject*, PyObject* args)
{
    PyObject* a[2];
    int64_t first;
    uint64_t count;
    if (!unpack("lod_view", args, 2, 2, a) || !arg(a[0], {"lod_view", 1, "int64_t"}, first) ||
        !arg(a[1], {"lod_view", 2, "size_t"}, count))
        return nullptr;
    return call([&] {
        std::vector<std::shared_ptr<quelbo::ImageView>> levels;
        for (uint64_t i = 0; i < count; ++i) {
            int64_t const level = first + int64_t(i);
            auto side = [&](int64_t bits) { return bits - level > 0 ? uint64_t(1) << (bits - level) : uint64_t(1); };
            quelbo::VectorXu64 shape(2);
            shape.data()[0] = side(4);
            shape.data()[1] = side(3);
            uint8_t value = uint8_t(level + 100);
            levels.push_back(quelbo::ImageViewFactory::uniform(shape, quelbo::DataType(quelbo::DataTypeId::UINT8),
                                                               &value, nullptr, nullptr));
        }
        LodPtr lod = std::make_shared<quelbo::LevelsImageView>(std::move(levels), first);
        return new_pointer_obj(new LodPtr(std::move(lod)), type_of<LodPtr>(), RES_OWN);
    });
}

// hand_over_multi(multi or None): the address of a new recorded holder.
PyObject* hand_over_multi(PyObject*, PyObject* o)
{
    void* p = nullptr;
    if (convert_ptr(o, &p, type_of<MultiPtr>(), 0) != OK) {
        fail_arg(ERR_TYPE, {"hand_over_multi", 1, "std::shared_ptr< quelbo::MultiImageView >"});
        return nullptr;
    }
    MultiPtr multi = p ? *static_cast<MultiPtr*>(p) : MultiPtr();
    return call([&] { return to_py(quelbo::handOver(multi)); });
}

void add_derived_twin(Methods& m)
{
    m.add<&lod_view>("lod_view", METH_VARARGS);
    m.add<&hand_over_multi>("hand_over_multi", METH_O);
}
QW_FAMILY(add_derived_twin);

} // namespace
