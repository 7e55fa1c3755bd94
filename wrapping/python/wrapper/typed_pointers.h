// The typed pointer types of the element types, which only modules sharing
// the type table make (a test module, a user's extension). Expanded once per
// module, in the file that uses them: QW_TYPED_POINTER_TYPES().
#pragma once

#include "quelbo/element_types.h"
#include "runtime/wrap.h"
#include "native_types.h"

#define QW_TYPED_POINTER_TYPE(T, Suffix, Id) QW_TYPE(T);
#define QW_TYPED_POINTER_TYPES() QUELBO_ELEMENT_TYPES(QW_TYPED_POINTER_TYPE)
