// What the ten value-array classes share: numpy's type numbers and the holder
// that numpy keeps as the base of an array over a value array's elements.
#include "arrays.h"

namespace qw::arrays {

quelbo::DataType dtype_of_numpy(int type_num)
{
    using quelbo::DataTypeId;
    switch (type_num) {
    case np::BYTE:
        return DataTypeId::INT8;
    case np::UBYTE:
        return DataTypeId::UINT8;
    case np::SHORT:
        return DataTypeId::INT16;
    case np::USHORT:
        return DataTypeId::UINT16;
    case np::INT:
        return DataTypeId::INT32;
    case np::UINT:
        return DataTypeId::UINT32;
    case np::LONG:
        return DataTypeId::INT64;
    case np::ULONG:
        return DataTypeId::UINT64;
    case np::FLOAT:
        return DataTypeId::FLOAT;
    case np::DOUBLE:
        return DataTypeId::DOUBLE;
    default:
        return quelbo::DataType();
    }
}

namespace {

struct Holder
{
    PyObject* obj;
    std::shared_ptr<void> elements;
};

constexpr const char* kHolderName = "quelbo.ArrayXElements";

void release_holder(PyObject* capsule)
{
    auto* h = static_cast<Holder*>(PyCapsule_GetPointer(capsule, kHolderName));
    if (!h)
        return;
    Py_XDECREF(h->obj);
    delete h;
}

} // namespace

PyObject* element_holder(PyObject* obj, std::shared_ptr<void> elements)
{
    std::unique_ptr<Holder> h(new Holder{obj, std::move(elements)});
    PyObject* capsule = PyCapsule_New(h.get(), kHolderName, &release_holder);
    if (!capsule)
        return nullptr;
    Py_XINCREF(obj);
    h.release();
    return capsule;
}

} // namespace qw::arrays
