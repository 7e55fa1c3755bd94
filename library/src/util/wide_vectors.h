// Kernels bound by how many elements a vector moves: on x86-64 they are built
// twice, for AVX2 and for the baseline, and the loader picks one (what such a
// kernel calls is inlined into each build).
#pragma once

#if defined(__x86_64__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define QUELBO_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#define QUELBO_INLINED __attribute__((always_inline))
#endif
#endif
#ifndef QUELBO_WIDE_VECTORS
#define QUELBO_WIDE_VECTORS
#define QUELBO_INLINED
#endif
