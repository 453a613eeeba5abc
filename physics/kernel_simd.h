// Included first, instead of kernel.h, by the files with vector paths: the
// guards of kernel.h come before the intrinsics so that they cover them too.
#ifndef PENSHELL_PHYSICS_KERNEL_SIMD_H
#define PENSHELL_PHYSICS_KERNEL_SIMD_H

#include "kernel.h"

#if PHYSICS_X86
#include <immintrin.h>
#endif
#if PHYSICS_WASM_SIMD
#include <wasm_simd128.h>
#endif

// pinned() for vectors: see kernel.h. They carry their callers' targets: with
// a lesser one Clang would call, not inline, them.
#if PHYSICS_X86
inline __m128 pinned(__m128 p) { PHYSICS_PIN("+x", p); return p; }
__attribute__((target("avx2"))) inline __m256 pinned(__m256 p) { PHYSICS_PIN("+x", p); return p; }
__attribute__((target("avx512f"))) inline __m512 pinned(__m512 p) { PHYSICS_PIN("+v", p); return p; }
#endif
#if PHYSICS_WASM_SIMD
inline v128_t pinned(v128_t p) { PHYSICS_PIN("+r", p); return p; }
#endif

#endif
