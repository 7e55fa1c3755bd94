"""A small generic proxy layer over the flat functions of _quelbo.

Classes are built from the module's registration hooks: one Python class per
``<Name>_swigregister``, whose initialiser calls ``new_<Name>`` and attaches
the handle with ``<Name>_swiginit``, whose methods are the flat functions
``<Name>_<method>`` with the instance first, and whose ``__swig_destroy__`` is
``delete_<Name>``. The class registered for ``Error`` is an exception class.
"""
import os
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_DIR = os.environ.get("QUELBO_BUILD_DIR") or os.path.join(os.path.dirname(_HERE), "build", "quelbo")
if BUILD_DIR not in sys.path:
    sys.path.insert(0, BUILD_DIR)

import _quelbo as q  # noqa: E402

HOOK = "_swigregister"


def _method(fn):
    def call(self, *args):
        return fn(self, *args)

    call.__name__ = fn.__name__
    call.__doc__ = fn.__doc__
    return call


def _members(name, mod=q):
    prefix = name + "_"
    members = {}
    for attr in dir(mod):
        if not attr.startswith(prefix) or attr.endswith(HOOK) or attr.endswith("_swiginit"):
            continue
        fn = getattr(mod, attr)
        if callable(fn):
            members[attr[len(prefix):]] = _method(fn)
    return members


def _init_for(name, mod=q):
    new = getattr(mod, "new_" + name, None)
    attach = getattr(mod, name + "_swiginit", None)

    def __init__(self, *args):
        if new is None:
            raise AttributeError("No constructor defined for " + name)
        attach(self, new(*args))

    return __init__


class QuelboError(Exception):
    """Raised for errors of the library; its text comes from Error___str__."""

    __swig_destroy__ = q.delete_Error

    def __init__(self, *args):
        Exception.__init__(self, *args)
        q.Error_swiginit(self, q.new_Error(*args))

    def __str__(self):
        return q.Error___str__(self)


def _vector_protocol(ns):
    """Vectors are sequences (from size and at), and a scalar on the left of
    ``*`` reaches the module's free ``__mul__``."""
    size, at = ns["size"], ns["at"]

    def __len__(self):
        return size(self)

    def __getitem__(self, i):
        n = size(self)
        if i < 0:
            i += n
        if not 0 <= i < n:
            raise IndexError("vector index out of range")
        return at(self, i)

    def __rmul__(self, other):
        return q.__mul__(other, self)

    ns.update(__len__=__len__, __getitem__=__getitem__, __rmul__=__rmul__)


def _build(mod=q):
    classes = {}
    for attr in sorted(dir(mod)):
        if not attr.endswith(HOOK):
            continue
        name = attr[: -len(HOOK)]
        if name == "Error":
            klass = QuelboError
        else:
            ns = _members(name, mod)
            ns["__init__"] = _init_for(name, mod)
            if name.startswith("Vector"):
                _vector_protocol(ns)
            ns["__module__"] = __name__
            destroy = getattr(mod, "delete_" + name, None)
            if destroy is not None:
                ns["__swig_destroy__"] = destroy
            klass = type(name, (object,), ns)
        getattr(mod, attr)(klass)
        classes[name] = klass
    return classes


CLASSES = _build()


def cls(name):
    return CLASSES[name]


def cuda():
    """The GPU module, its classes (CudaImageFactory, CudaExtensionProvider) registered."""
    import _quelbo_cuda

    if "CudaImageFactory" not in CLASSES:
        CLASSES.update(_build(_quelbo_cuda))
    return _quelbo_cuda


def handle(obj):
    """The handle an instance carries (a bare handle is its own)."""
    return obj if type(obj).__name__ == "SwigPyObject" else obj.this
