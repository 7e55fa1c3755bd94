// The GPU module's own classes, named by their rows of the type list (as
// native_types.h names the library's).
#pragma once

#include "native_types.h"
#include "quelbo_cuda/cuda_image_factory.h"

namespace qw {
QW_NATIVE(quelbo_cuda::CudaExtensionProvider);
QW_NATIVE(quelbo_cuda::CudaImageFactory);
} // namespace qw
