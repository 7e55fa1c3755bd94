// Argument kinds over the buffer rule (runtime/buffer.h): one Python buffer
// object filling a native (address, size) pair, so two native parameters.
#pragma once

#include <type_traits>
#include <utility>

#include "runtime/buffer.h"
#include "runtime/converters.h"

namespace qw {

// A transfer's block: the call reads from it (source) or writes into it
// (destination); the call receives the Buffer.
template <auto Text, BufferForm Form>
struct BufferArg : Kind<Text, 2>
{
    using value = Buffer;
    static bool check(PyObject* o) { return is_buffer(o, Form); }
    static bool get(PyObject* o, const ArgId& a, Buffer& v) { return buffer_arg(o, a, Form, v); }
    static Buffer& pass(Buffer& v) { return v; }
};
template <auto Text = &kSrc>
using Source = BufferArg<Text, BufferForm::source>;
template <auto Text = &kDst>
using Destination = BufferArg<Text, BufferForm::destination>;
// The block of a read (destination) or of a write (source).
template <bool Read>
using Block = std::conditional_t<Read, Destination<>, Source<>>;

// Memory an object is created over: the call receives the keeper, which
// keeps the buffer exported as long as the library holds it.
template <auto Text>
struct Kept : Kind<Text, 2>
{
    using value = quelbo::BorrowedMemory;
    static bool check(PyObject* o) { return is_buffer(o, BufferForm::memory_source); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return buffer_keep(o, a, v); }
    static value&& pass(value& v) { return std::move(v); }
};

} // namespace qw
