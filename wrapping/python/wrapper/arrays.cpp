// What the ten value-array classes share: the holder that numpy keeps as the
// base of an array over a value array's elements.
#include "arrays.h"

namespace qw::arrays {

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
