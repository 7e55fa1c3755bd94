// Kernels bound by how many elements a vector moves: on x86-64 they are built
// twice, for AVX2 and for the baseline, and the loader picks one (what such a
// kernel calls is inlined into each build). Kernels that compute on every
// element (the vector operators: a division takes as long as the memory it
// reads) are built for AVX-512 too (x86-64-v4), which runs twice the
// elements an instruction. That build could fuse a multiplication and an
// addition: files of such kernels are compiled without contraction
// (-ffp-contract=off, CMakeLists.txt), so that every build rounds alike.
#pragma once

#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define QUELBO_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#define QUELBO_WIDEST_VECTORS __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#define QUELBO_INLINED __attribute__((always_inline))
#endif
#endif
#ifndef QUELBO_WIDE_VECTORS
#define QUELBO_WIDE_VECTORS
#define QUELBO_WIDEST_VECTORS
#define QUELBO_INLINED
#endif
