// Shared-pointer parameters and readonlyProxyArgument: where a function takes
// a calibration, an image information, shared image properties or a shared
// metadata node, the matching read-only wrapper is accepted in its place.
//
// A module other than _quelbo expands QW_PROPERTY_TYPES() (readonly/property_types.h) once.
// Use (check face for overload rows, conversion face in the call):
//   std::shared_ptr<const quelbo::ImageProperties> p;
//                             proxy_shared_arg(o, {fn, n, "std::shared_ptr< quelbo::ImageProperties const >"}, p)
//                             (also MetadataNode; const or not) and is_proxy_shared<T>(o) to test;
//   const quelbo::SpatialCalibrationProperty* c;
//                             proxy_value_arg(o, {fn, n, "quelbo::SpatialCalibrationProperty const &"}, c)
//                             (also ImageInfoProperty) and is_proxy_value<V>(o) to test.
// The wrapper's object itself reaches the callee: nothing is copied.
#pragma once

#include <memory>
#include <type_traits>

#include "quelbo/image_properties.h"
#include "quelbo/metadata.h"
#include "readonly/ReadonlyImageProperties.h"
#include "readonly/ReadonlyMetadataNode.h"
#include "runtime/converters.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"

namespace qw {

// --------------------------------------------- readonlyProxyArgument

template <class T>
struct ReadonlyOf;
template <>
struct ReadonlyOf<quelbo::SpatialCalibrationProperty>
{
    using type = quelbo::ReadonlySpatialCalibrationProperty;
};
template <>
struct ReadonlyOf<quelbo::ImageInfoProperty>
{
    using type = quelbo::ReadonlyImageInfoProperty;
};
template <>
struct ReadonlyOf<quelbo::ImageProperties>
{
    using type = quelbo::ReadonlyImageProperties;
};
template <>
struct ReadonlyOf<quelbo::MetadataNode>
{
    using type = quelbo::ReadonlyMetadataNode;
};
template <class T>
using readonly_t = typename ReadonlyOf<std::remove_const_t<T>>::type;

// Value side, check face: the plain class or its read-only wrapper, None refused.
template <class V>
bool is_proxy_value(PyObject* o)
{
    return o && o != Py_None && (is_obj<V>(o) || is_obj<readonly_t<V>>(o));
}

// Value side: the object a plain handle or a wrapper denotes. None and other
// kinds: TypeError with the argument message; an object that no longer
// exists (a deleted handle, a wrapper whose source was deleted): the
// null-reference ValueError.
template <class V>
bool proxy_value_arg(PyObject* o, const ArgId& a, const V*& out)
{
    if (!is_proxy_value<V>(o)) {
        fail_arg(ERR_TYPE_ARG, a);
        return false;
    }
    if (is_obj<V>(o)) {
        V* p;
        if (!ref(o, a, p))
            return false;
        out = p;
        return true;
    }
    readonly_t<V>* w;
    if (!ref(o, a, w))
        return false;
    out = w->pointer();
    if (!out) {
        fail_null(a);
        return false;
    }
    return true;
}

// Shared side, check face: a shared handle, None, or the read-only wrapper.
template <class T>
bool is_proxy_shared(PyObject* o)
{
    return is_shared<std::remove_const_t<T>>(o) || is_obj<readonly_t<T>>(o);
}

// Shared side: a shared handle (None: empty), or the wrapper's own pointer
// (const removed for a non-const parameter): the same object, not a copy.
template <class T>
bool proxy_shared_arg(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    using U = std::remove_const_t<T>;
    if (o && o != Py_None && !is_shared<U>(o) && is_obj<readonly_t<T>>(o)) {
        readonly_t<T>* w;
        if (!ref(o, a, w))
            return false;
        out = std::const_pointer_cast<U>(w->m_private);
        return true;
    }
    std::shared_ptr<U> plain;
    if (!shared_arg(o, a, plain))
        return false;
    out = std::move(plain);
    return true;
}

// The argument kind of a shared properties or metadata parameter.
template <class T, auto Text = named<std::shared_ptr<T>>>
struct ProxyShared : Kind<Text>
{
    using value = std::shared_ptr<T>;
    static bool check(PyObject* o) { return is_proxy_shared<T>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return proxy_shared_arg(o, a, v); }
    static value& pass(value& v) { return v; }
};

// The argument kind of a calibration or image information parameter (plain
// or read-only); the library receives the object itself.
template <class V, auto Text>
struct ProxyValue : Kind<Text>
{
    using value = const V*;
    static bool check(PyObject* o) { return is_proxy_value<V>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return proxy_value_arg(o, a, v); }
    static const V& pass(value v) { return *v; }
};

} // namespace qw
