// Argument kinds over the buffer rule (runtime/buffer.h): one Python buffer
// object filling a native (address, size) pair, so two native parameters;
// the transfers that move such a block.
#pragma once

#include <type_traits>
#include <utility>

#include "runtime/buffer.h"
#include "runtime/converters.h"
#include "runtime/declare.h"

namespace qw {

// A transfer's block: the call reads from it (source) or writes into it
// (destination); the call receives the Buffer.
template <auto Text, BufferForm Form>
struct BufferArg : Kind<Text, 2>
{
    using value = Buffer;
    static bool check(PyObject* o) { return is_buffer(o, Form); }
    [[gnu::always_inline]] static bool get(PyObject* o, const ArgId& a, Buffer& v)
    {
        if (!buffer_arg(o, a, Form, v))
            return false;
        v.in_use.enter(o);
        return true;
    }
    // Python code run by a later argument's conversion may have resized or
    // released the buffer: the call takes its memory as it is now.
    static constexpr bool settled_when_last = true;
    static bool verify(Buffer& v, const ArgId& a)
    {
        Buffer now;
        if (!buffer_arg(v.in_use.owner(), a, Form, now))
            return false;
        v.data = now.data;
        v.size = now.size;
        return true;
    }
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

// ------------------------------------------------------------ transfers

// A transfer's block moved by the library: f(address, size); the result is
// f's (None when it gives nothing).
template <class F>
PyObject* move_block(Buffer& b, F f)
{
    if constexpr (std::is_void<std::invoke_result_t<F, uint8_t*, size_t>>::value) {
        f(b.data, b.size);
        return none();
    } else {
        return to_result(f(b.data, b.size));
    }
}

// The library member Op of obj moving a block: its address and size are
// given in the order the member takes them.
template <auto Op, class O, class D, class... W>
decltype(auto) move_with(O* obj, D* data, size_t size, W&... where)
{
    if constexpr (std::is_invocable<decltype(Op), O*, W&..., D*, size_t>::value)
        return (obj->*Op)(where..., data, size);
    else
        return (obj->*Op)(where..., size, data);
}

// What kind K hands to the call.
template <class K>
using Passed = decltype(K::pass(std::declval<typename K::value&>()));

// <Name>(object, where..., block): the library's Op moves the block between
// the object and the caller's memory; Op checks where and the size before
// an element moves. The block kind's move_block gives the address and size
// and makes the result.
template <const char* Name, auto Op, class Obj, class Block, class... Where>
struct BlockTransfer : Declare<BlockTransfer<Name, Op, Obj, Block, Where...>, Params<Obj, Where..., Block>>
{
    static constexpr const char* name = Name;
    static constexpr auto call = [](auto* obj, Passed<Where>... where, typename Block::value& block) {
        return move_block(block, [&](auto* data, size_t size) { return move_with<Op>(obj, data, size, where...); });
    };
};

} // namespace qw
