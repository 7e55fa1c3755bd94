// The extension base and the kinds' casts (one template for every kind), and
// what the view families share: the release of a shared object, the
// adoption of a handed-over holder.
#pragma once

#include "buffer_args.h"
#include "core_args.h"
#include "quelbo/extension.h"
#include "quelbo/hand_over.h"
#include "runtime/members.h"
#include "runtime/shared.h"
#include "native_types.h"

namespace qw {

// <Kind>_cast(extension): the same object as the kind, None when it is not one.
constexpr auto kExtensionRef = named<const std::shared_ptr<quelbo::Extension>&>;
template <class Tr>
using ExtensionCast = Getter<Tr, QW_NAME("cast"), SharedArg<quelbo::Extension, kExtensionRef>, &Tr::T::cast>;

// An argument kept with its identity: K converts it, and the call, which
// finishes the work, names it in its own messages.
template <class K>
struct WithId : K
{
    struct value
    {
        typename K::value v{};
        ArgId id{};
    };
    static bool get(PyObject* o, const ArgId& a, value& v)
    {
        v.id = a;
        return K::get(o, a, v.v);
    }
    static value& pass(value& v) { return v; }
};

// The address of a holder that native code handed over (quelbo::handOver).
using Address = WithId<Arg<uint64_t, QW_NAME("unsigned long long")>>;

// Adopts the holder at the address; any other address raises ValueError with
// the argument message, 0 gives None. An empty holder gives a handle that
// every method refuses.
template <class T>
PyObject* adopt_handed_over(const Address::value& address)
{
    if (address.v == 0)
        return none();
    auto* holder = quelbo::adopt<T>(address.v);
    if (!holder) {
        // an address no native code handed over: never taken for a holder
        fail_arg(ERR_VALUE, address.id);
        return nullptr;
    }
    PyObject* r = new_pointer_obj(holder, type_of<std::shared_ptr<T>>(), RES_OWN);
    if (!r)
        delete holder;
    return r;
}

// <cls>_create_from_pointer(address), Name its name: a T handed over.
template <const char* Name, class T>
using CreateFromPointer = Fn<Name, &adopt_handed_over<T>, Address>;

} // namespace qw
