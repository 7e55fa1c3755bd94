/* The calling forms of the flat functions with nothing behind them: what a
   call of the module costs before any conversion, and what a result instance
   of a Python class costs to make and to let go. Built by bench_calls.py. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

/* Two arguments in a tuple, a float back: the form of Vector3d_at. */
static PyObject* two(PyObject* self, PyObject* args)
{
    PyObject *a, *b;
    if (!PyArg_UnpackTuple(args, "two", 2, 2, &a, &b))
        return NULL;
    return PyFloat_FromDouble(1.0);
}

/* An instance of the class given, made without its initialiser, holding an
   attribute `this`: the part of every object result that is Python's. */
static PyObject* instance(PyObject* self, PyObject* cls)
{
    PyTypeObject* tp = (PyTypeObject*)cls;
    PyObject* empty = PyTuple_New(0);
    PyObject* inst = empty ? tp->tp_new(tp, empty, NULL) : NULL;
    Py_XDECREF(empty);
    if (inst && PyObject_SetAttrString(inst, "this", Py_None) < 0)
        Py_CLEAR(inst);
    return inst;
}

static PyMethodDef methods[] = {
    {"two", two, METH_VARARGS, NULL},
    {"instance", instance, METH_O, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "quelbo_floor", NULL, -1, methods};

PyMODINIT_FUNC PyInit_quelbo_floor(void)
{
    return PyModule_Create(&module);
}
