// Type entries of the native types and the shared-pointer casts between
// them, declared at namespace scope by the family files (the casts that keep
// the address are rows of type_list.h).
#pragma once

#include <memory>

#include "runtime/pyrt.h"
#include "runtime/type_text.h"

namespace qw {

// ============================================================ type entries

// The type-table entry in use for a native type (set when the module joins
// the shared table: the module's own entry, or the one another module
// already entered under the same mangled name).
template <class T>
struct Type
{
    static inline swig_type_info* info = nullptr;
};

template <class T>
inline swig_type_info* type_of()
{
    return Type<T>::info;
}

// The entry of `char *` in the shared table (a text too long for a str is
// handed out as one, a string parameter takes one), found by its row: the
// runtime binds no type of its own.
inline swig_type_info* char_type()
{
    return type_query(Listed<named_row("char")>::row.mangled);
}

// Declares a type entry from its row of type_list.h (QW_TYPE), or, for a
// type that exists only in a test module, from its own texts (QW_TEST_TYPE).
template <class T>
struct TypeDef
{
    swig_type_info entry;
    TypeDef(const TypeRow& row) : TypeDef(row.mangled, row.str) {}
    TypeDef(const char* mangled, const char* str) : entry{mangled, str, nullptr, nullptr, nullptr, 0}
    {
        Type<T>::info = &entry;
        declare_type({&entry, &Type<T>::info});
    }
};

#define QW_CAT2(a, b) a##b
#define QW_CAT(a, b) QW_CAT2(a, b)
// The declaring macros name their variables by __COUNTER__: a macro may
// expand several of them on one line.
// QW_TYPE(T): the entry of a native type, bound to the row of type_list.h its
// printable name names (QW_TYPE(quelbo::Logger), QW_TYPE(std::shared_ptr<quelbo::View>)).
#define QW_TYPE(T) static ::qw::TypeDef<T> QW_CAT(qw_type_, __COUNTER__)(::qw::row_of<T>)
#define QW_TEST_TYPE(T, mangled, str) static ::qw::TypeDef<T> QW_CAT(qw_type_, __COUNTER__)(mangled, str)

// Shared-pointer cast: a new heap shared_ptr<Base> sharing ownership.
template <class Base, class Derived>
struct SharedCastDef
{
    static void* convert(void* p, int* newmem)
    {
        *newmem = NEWMEM;
        return new std::shared_ptr<Base>(*static_cast<std::shared_ptr<Derived>*>(p));
    }
    SharedCastDef()
    {
        declare_cast({&Type<std::shared_ptr<Base>>::info, Type<std::shared_ptr<Derived>>::info, &convert});
    }
};
#define QW_SHARED_CAST(Base, Derived) static ::qw::SharedCastDef<Base, Derived> QW_CAT(qw_scast_, __COUNTER__)

} // namespace qw
