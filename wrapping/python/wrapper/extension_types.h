// The extension classes, each held by a shared pointer that converts to a
// shared pointer of the base class. Both modules carry these entries and
// casts: each declares them once with QW_EXTENSION_TYPES.
#pragma once

#include <memory>

#include "quelbo/extension.h"
#include "runtime/types.h"
#include "native_types.h"

#define QW_EXTENSION_TYPE(E) QW_TYPE(std::shared_ptr<quelbo::E>)
#define QW_EXTENSION_CAST(E) QW_SHARED_CAST(quelbo::Extension, quelbo::E)

#define QW_EXTENSION_TYPES                                                                                             \
    QW_EXTENSION_TYPE(Extension);                                                                                      \
    QW_EXTENSION_TYPE(ParallelAccessExtension);                                                                        \
    QW_EXTENSION_TYPE(TilingInfoExtension);                                                                            \
    QW_EXTENSION_TYPE(ViewOriginExtension);                                                                            \
    QW_EXTENSION_CAST(ParallelAccessExtension);                                                                        \
    QW_EXTENSION_CAST(TilingInfoExtension);                                                                            \
    QW_EXTENSION_CAST(ViewOriginExtension)
