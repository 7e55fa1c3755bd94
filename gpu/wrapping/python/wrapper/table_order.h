// The method table of _quelbo_cuda, in order: every flat function's name,
// once (create_module checks it, as for _quelbo: wrapper/table_order.h).
#pragma once

namespace qw {

// clang-format off
inline constexpr const char* kTableOrder[] = {
    "CudaImageFactory_allocate",
    "CudaImageFactory_allocate_coalesced",
    "CudaImageFactory_copy_in_cuda_memory",
    "CudaImageFactory_adapt_to_cuda",
    "delete_CudaImageFactory",
    "CudaImageFactory_swigregister",
    "CudaExtensionProvider_is_cuda_image",
    "delete_CudaExtensionProvider",
    "CudaExtensionProvider_swigregister",
};
// clang-format on

} // namespace qw
