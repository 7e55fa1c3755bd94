// Test-only helpers for the GPU views: image views over host memory, and the
// transfer of whole images between Python bytes and any image view (GPU
// views included), so that samples can be written from Python and compared.
// The image view entry is the shared table's (_quelbo_cuda joins it).
#include "../../gpu/check/host_view.h"
#include "core_args.h"
#include "runtime/item_parser.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;
using ImagePtr = std::shared_ptr<quelbo::ImageView>;

swig_type_info* image_type()
{
    return type_query("_p_std__shared_ptrT_quelbo__ImageView_t");
}

bool image_arg(PyObject* o, const ArgId& a, ImagePtr& out)
{
    void* p = nullptr;
    swig_type_info* ty = image_type();
    int r = ty ? convert_ptr(o, &p, ty, CV_NO_NULL) : ERR_TYPE;
    if (r != OK || !p) {
        fail_arg(r == OK ? ERR_NULL : r, a);
        return false;
    }
    out = *static_cast<ImagePtr*>(p);
    return out != nullptr;
}

PyObject* wrap(ImagePtr view)
{
    return new_pointer_obj(new ImagePtr(std::move(view)), image_type(), RES_OWN);
}

// cuda_host_view(shape, dtype, memory_access)
PyObject* cuda_host_view(PyObject*, PyObject* args)
{
    static const char* fn = "cuda_host_view";
    PyObject* a[3];
    quelbo::VectorXu64 shape;
    quelbo::DataType dtype;
    bool memory = false;
    if (!unpack(fn, args, 3, 3, a) || !sequence_to_vector(a[0], shape) ||
        !dtype_arg(a[1], {fn, 2, "DataType"}, dtype) || !arg(a[2], {fn, 3, "bool"}, memory))
        return nullptr;
    return call([&] { return wrap(std::make_shared<quelbo_cuda::check::HostView>(shape, dtype, memory)); });
}

// cuda_view_write(view, data): the whole image from bytes.
PyObject* cuda_view_write(PyObject*, PyObject* args)
{
    static const char* fn = "cuda_view_write";
    PyObject* a[2];
    ImagePtr view;
    char* data = nullptr;
    Py_ssize_t n = 0;
    if (!unpack(fn, args, 2, 2, a) || !image_arg(a[0], {fn, 1, "ImageView"}, view))
        return nullptr;
    if (PyBytes_AsStringAndSize(a[1], &data, &n) < 0)
        return nullptr;
    return call([&] {
        view->writeRegionChecked(quelbo::RegionXu64::createFullRegion(view->shape()), data, size_t(n));
        return none();
    });
}

// cuda_view_read(view): the whole image as bytes.
PyObject* cuda_view_read(PyObject*, PyObject* o)
{
    ImagePtr view;
    if (!image_arg(o, {"cuda_view_read", 1, "ImageView"}, view))
        return nullptr;
    return call([&]() -> PyObject* {
        auto region = quelbo::RegionXu64::createFullRegion(view->shape());
        std::vector<char> out(view->regionByteCount(region));
        view->readRegion(region, out.data());
        return PyBytes_FromStringAndSize(out.data(), Py_ssize_t(out.size()));
    });
}

// cuda_view_info(view): (capabilities, data origin, number of origin parents)
PyObject* cuda_view_info(PyObject*, PyObject* o)
{
    ImagePtr view;
    if (!image_arg(o, {"cuda_view_info", 1, "ImageView"}, view))
        return nullptr;
    return call([&] {
        auto origin = view->viewOrigin();
        return Py_BuildValue("(KiK)", (unsigned long long)view->capabilities().value(), int(origin->dataOrigin()),
                             (unsigned long long)origin->parentCount());
    });
}

// cuda_view_release(view): gives up the handle's share of the view.
PyObject* cuda_view_release(PyObject*, PyObject* o)
{
    swig_type_info* ty = image_type();
    if (!ty)
        return PyErr_Format(PyExc_RuntimeError, "no image view type");
    void* p = nullptr;
    if (!disown_for_delete(o, ty, {"cuda_view_release", 1, "ImageView"}, p))
        return nullptr;
    dispose(static_cast<ImagePtr*>(p));
    return none();
}

// cuda_type_tables(): every module of the shared table's ring, as a list of
// (mangled name, record address, names of the record's converter entries).
PyObject* cuda_type_tables(PyObject*, PyObject*)
{
    auto* first = static_cast<swig_module_info*>(PyCapsule_Import("swig_runtime_data4.type_pointer_capsule", 0));
    if (!first)
        return nullptr;
    PyObject* modules = PyList_New(0);
    swig_module_info* m = first;
    do {
        PyObject* types = PyList_New(0);
        for (size_t i = 0; types && i < m->size; ++i) {
            swig_type_info* t = m->types[i];
            PyObject* casts = PyList_New(0);
            for (swig_cast_info* c = t ? t->cast : nullptr; casts && c; c = c->next) {
                PyObject* n = PyUnicode_FromString(c->type->name);
                PyList_Append(casts, n);
                Py_XDECREF(n);
            }
            PyObject* row = Py_BuildValue("(sKN)", t ? t->name : "", (unsigned long long)(uintptr_t)t, casts);
            PyList_Append(types, row);
            Py_XDECREF(row);
        }
        PyList_Append(modules, types);
        Py_XDECREF(types);
        m = m->next;
    } while (m && m != first);
    return modules;
}

void add_cuda(Methods& m)
{
    m.add<&cuda_type_tables>("cuda_type_tables", METH_NOARGS);
    m.add<&cuda_host_view>("cuda_host_view", METH_VARARGS);
    m.add<&cuda_view_write>("cuda_view_write", METH_VARARGS);
    m.add<&cuda_view_read>("cuda_view_read", METH_O);
    m.add<&cuda_view_info>("cuda_view_info", METH_O);
    m.add<&cuda_view_release>("cuda_view_release", METH_O);
}
QW_FAMILY(add_cuda);

} // namespace
