// The texts that name native types in messages and prototypes, computed at
// compile time from the one type list (type_list.h), the way a type entry
// carries its name:
//
//   Named<quelbo::Indexer>                                 "quelbo::Indexer"
//   Named<const quelbo::VectorXu64&>                       "quelbo::VectorXu64 const &"
//   Named<std::shared_ptr<const quelbo::MetadataNode>>     "std::shared_ptr< quelbo::MetadataNode const >"
//
// A type names itself through Native<T> (native_types.h): its row of the list,
// or, for an enumeration or a standard type the list does not hold, its text.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "type_list.h"

namespace qw {

// A text given as a `constexpr char[]` constant, or as the address of a text
// member (`&Named<T>::text`, `&Tr::self_type`).
constexpr const char* text_of(const char* text)
{
    return text;
}
constexpr const char* text_of(const char* const* text)
{
    return *text;
}

constexpr size_t text_length(const char* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

// A text joined at compile time from texts of either form:
// JoinedText<&Tr::native, kPointer>::text.
template <auto... Parts>
struct JoinedText
{
    static constexpr size_t size = (text_length(text_of(Parts)) + ... + 0);
    static constexpr std::array<char, size + 1> chars = [] {
        std::array<char, size + 1> c{};
        size_t n = 0;
        for (const char* part : {text_of(Parts)...})
            for (; *part; ++part)
                c[n++] = *part;
        return c;
    }();
    static constexpr const char* text = chars.data();
};

// The forms of a row: its declared name, the last printable form written
// without template arguments (the alias, where the list gives one), or its
// only form; its template form, the last one written with template
// arguments (or the declared name). Both less the pointer's " *".
struct NameSpan
{
    size_t begin, size;
};
constexpr NameSpan row_form(const char* str, bool template_form)
{
    NameSpan found{0, 0};
    bool chosen = false;
    size_t begin = 0;
    for (size_t i = 0;; ++i) {
        if (str[i] != '|' && str[i] != '\0')
            continue;
        bool template_args = false;
        for (size_t k = begin; k < i; ++k)
            template_args = template_args || str[k] == '<';
        if (template_args == template_form || !chosen) {
            found = {begin, i - begin - 2}; // " *"
            chosen = chosen || template_args == template_form;
        }
        if (str[i] == '\0')
            return found;
        begin = i + 1;
    }
}

// The part `Part::span` of the text `Part::source`, as a text of its own.
template <class Part>
struct PartText
{
    static constexpr std::array<char, Part::span.size + 1> chars = [] {
        std::array<char, Part::span.size + 1> c{};
        for (size_t i = 0; i < Part::span.size; ++i)
            c[i] = Part::source[Part::span.begin + i];
        return c;
    }();
    static constexpr const char* text = chars.data();
};

template <int Row, bool TemplateForm>
struct RowForm
{
    static_assert(Row >= 0, "every native type named by a text is a row of type_list.h");
    static constexpr const char* source = kTypeList[Row].str;
    static constexpr NameSpan span = row_form(source, TemplateForm);
};
template <int Row, bool TemplateForm = false>
struct RowName : PartText<RowForm<Row, TemplateForm>>
{
    static constexpr int row = Row;
};

// Native<T>::text: declared once for each type (native_types.h). A type of
// the list is bound to its row by its name as C++ writes it, one of the row's
// printable forms: QW_NATIVE(quelbo::Vector2d).
template <class T>
struct Native;
#define QW_NATIVE(T)                                                                                                   \
    template <>                                                                                                        \
    struct Native<T> : RowName<named_row(#T)>                                                                          \
    {                                                                                                                  \
    }
#define QW_NATIVE_TEXT(T, written)                                                                                     \
    template <>                                                                                                        \
    struct Native<T>                                                                                                   \
    {                                                                                                                  \
        static constexpr const char* text = written;                                                                   \
    }

// A class of the list named by its template form: Named<AsTemplate<quelbo::Vector2d>>
// is "quelbo::Vector< double,2 >" where Named<quelbo::Vector2d> is "quelbo::Vector2d".
template <class C>
struct AsTemplate;
template <class C>
struct Native<AsTemplate<C>> : RowName<Native<C>::row, true>
{
};

// The type a row names, for a second row of one native type:
// Named<RowType<named_row("quelbo::FlagSet< ImageCapability >")>> is that
// row's "quelbo::FlagSet< ImageCapability >", where Named<quelbo::ImageCapabilitySet>
// is "quelbo::FlagSet< quelbo::ImageCapability >".
template <int Row>
struct RowType;
template <int Row>
struct Native<RowType<Row>> : RowName<Row>
{
};

namespace spelling {
inline constexpr char const_[] = " const";
inline constexpr char pointer[] = " *";
inline constexpr char lvalue[] = " &";
inline constexpr char rvalue[] = " &&";
inline constexpr char shared_open[] = "std::shared_ptr< ";
inline constexpr char arguments_close[] = " >";
inline constexpr char vector_open[] = "std::vector< ";
inline constexpr char scope[] = "::";
inline constexpr char times[] = "operator *"; // the product operator, as a member
} // namespace spelling

// The text of a type built from a native type as C++ declares it.
template <class T>
struct Named
{
    static constexpr const char* text = Native<T>::text;
};
template <class T>
struct Named<const T> : JoinedText<&Named<T>::text, spelling::const_>
{
};
template <class T>
struct Named<T*> : JoinedText<&Named<T>::text, spelling::pointer>
{
};
template <class T>
struct Named<T&> : JoinedText<&Named<T>::text, spelling::lvalue>
{
};
template <class T>
struct Named<T&&> : JoinedText<&Named<T>::text, spelling::rvalue>
{
};
template <class T>
struct Named<std::shared_ptr<T>> : JoinedText<spelling::shared_open, &Named<T>::text, spelling::arguments_close>
{
};

template <class T>
struct Named<std::vector<T>> : JoinedText<spelling::vector_open, &Named<T>::text, spelling::arguments_close>
{
};

// The row of a native type, found by its printable name: its type entry's row.
template <class T>
inline constexpr const TypeRow& row_of = Listed<named_row(Named<T>::text)>::row;

// The address form a kind takes: Ref<T, named<const T&>>.
template <class T>
inline constexpr auto named = &Named<T>::text;

// The name Python gives a class: its native name less the namespace, a
// nested class joined to its outer one by '_' (quelbo::HTTPHeaders::Entry is
// HTTPHeaders_Entry).
template <class C>
struct ClassName
{
    static constexpr const char* native = Named<C>::text;
    static constexpr size_t begin = [] {
        size_t i = 0;
        while (!(native[i] == ':' && native[i + 1] == ':'))
            ++i;
        return i + 2;
    }();
    static constexpr size_t size = [] {
        size_t n = 0;
        for (size_t i = begin; native[i]; ++i)
            n += native[i] != ':' || native[i + 1] != ':';
        return n;
    }();
    static constexpr std::array<char, size + 1> chars = [] {
        std::array<char, size + 1> c{};
        size_t n = 0;
        for (size_t i = begin; native[i]; ++i) {
            if (native[i] == ':' && native[i + 1] == ':') {
                c[n++] = '_';
                ++i;
            } else
                c[n++] = native[i];
        }
        return c;
    }();
    static constexpr const char* text = chars.data();
};

// A class's own name, the native name's last part less its template
// arguments: its constructor's name ("quelbo::Vector< double,2 >" gives
// "Vector").
template <class C>
struct OwnNamePart
{
    static constexpr const char* source = Named<C>::text;
    static constexpr NameSpan span = [] {
        const char* native = source;
        size_t b = 0, i = 0;
        for (; native[i] && native[i] != '<'; ++i)
            if (native[i] == ':' && native[i + 1] == ':')
                b = i + 2;
        while (i > b && native[i - 1] == ' ')
            --i;
        return NameSpan{b, i - b};
    }();
};
template <class C>
struct OwnName : PartText<OwnNamePart<C>>
{
};

// The first template argument of a type's text: FirstArgument<AsTemplate<quelbo::Matrix3d>>
// is "double" ("quelbo::Matrix< double,3 >").
template <class C>
struct FirstArgumentPart
{
    static constexpr const char* source = Named<C>::text;
    static constexpr NameSpan span = [] {
        const char* native = source;
        size_t b = 0;
        while (native[b] != '<')
            ++b;
        b += 2; // "< "
        size_t e = b;
        while (native[e] != ',' && native[e] != ' ')
            ++e;
        return NameSpan{b, e - b};
    }();
};
template <class C>
struct FirstArgument : PartText<FirstArgumentPart<C>>
{
};

// The native name of a member of a class: member_of<quelbo::HTTPHeaders, kAdd>
// is "quelbo::HTTPHeaders::add" (kAdd a `constexpr char[]` "add").
template <class C, auto Name>
struct MemberText : JoinedText<&Named<C>::text, spelling::scope, Name>
{
};
template <class C, auto Name>
inline constexpr const char* member_of = MemberText<C, Name>::text;

// A type declared in a class: Named<Nested<AsTemplate<quelbo::Region2u64>, kVectorType>>
// is "quelbo::Region< uint64_t,2 >::VectorType".
template <class C, auto Name>
struct Nested;
template <class C, auto Name>
struct Native<Nested<C, Name>> : MemberText<C, Name>
{
};

// The traits of a class of the type list: what a family's members, hooks
// and delete_ function read of it, all derived from the class's row. The
// texts name the class as N does: itself, or AsTemplate<C> (TemplateTraits).
template <class C, class N = C>
struct Traits
{
    using T = C;
    static constexpr const char* name = ClassName<C>::text;
    static constexpr const char* native = Named<N>::text;
    static constexpr const char* self_type = Named<const N*>::text;
    static constexpr const char* mut_type = Named<N*>::text;
    static constexpr const char* other_type = Named<const N&>::text;
    static constexpr const char* moved_type = Named<N&&>::text;
    static constexpr const char* constructor = member_of<N, &OwnName<N>::text>;
};
template <class C>
using TemplateTraits = Traits<C, AsTemplate<C>>;

// A class whose handles hold shared pointers: its traits, T the shared pointer.
template <class C>
struct SharedTraits : Traits<C>
{
    using T = std::shared_ptr<C>;
};

} // namespace qw
