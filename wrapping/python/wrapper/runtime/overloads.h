// Overloaded functions: candidate rows, dispatch and the overload message.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/pyrt.h"

namespace qw {

// ============================================================ overloads

// An overloaded function is a list of rows, one per candidate. Dispatch tries
// the rows in the order they are listed (the function's fixed candidate
// order); when none fits, the overload message lists the same rows' prototypes
// in declaration order. The check face converts nothing and sets no error; the
// call face converts (reporting its own argument messages) and calls the
// library. A row is picked by its argument count first, then by its check.
using Args = PyObject* const*;
struct Overload
{
    const char* proto;                       // prototype text, as the message shows it
    Py_ssize_t min, max;                     // argument counts the candidate takes
    bool (*check)(Args a, Py_ssize_t n);     // null: the count alone decides
    PyObject* (*call)(Args a, Py_ssize_t n); // converts, calls, returns the result
    int decl = -1;                           // place in the message; -1: the row's own place
};

// The check of a row that is listed in the message but never taken (a move
// candidate that the copy before it always takes first): `{proto, 1, 1,
// listed_only, nullptr, place}`.
inline bool listed_only(Args, Py_ssize_t)
{
    return false;
}

class Overloads
{
public:
    Overloads(const char* fn, std::initializer_list<Overload> rows);
    // Unpacks, dispatches to the first fitting row, or raises the overload
    // TypeError (merged into a pending count TypeError).
    PyObject* operator()(PyObject* args) const;
    // Dispatches arguments the caller has unpacked already (n of them).
    PyObject* operator()(Args a, Py_ssize_t n) const;
    const char* name() const { return fn_; }
    // The i-th row in candidate order.
    const Overload& row(size_t i) const { return rows_[i]; }

private:
    const char* fn_;
    std::vector<Overload> rows_;
    Py_ssize_t max_ = 0;
    std::string message_; // the overload message, built once
};

} // namespace qw
