// The streaming yardstick: one in-place vector pass over the records' bytes.
#include "bench.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Read at run time so the compiler cannot prove the pass changes nothing.
volatile uint32_t g_flip = 0;

}  // namespace

void spring_floor_pass(TCVerlet* particles, const TCSpring* springs, const unsigned* order, unsigned count) {
    // g_flip is 0, but the compiler cannot know: every load and store stays.
    const uint64_t k = g_flip;
    for (unsigned i = 0; i < count; ++i) {
        const TCSpring s = springs[order[i]];
        uint32_t rest;
        std::memcpy(&rest, &s.rest_length, sizeof rest);
        const uint64_t flip = k & rest;
        uint64_t a, b;  // x and y of each particle, one load apiece
        std::memcpy(&a, &particles[s.a].x, sizeof a);
        std::memcpy(&b, &particles[s.b].x, sizeof b);
        a ^= flip, b ^= flip;
        std::memcpy(&particles[s.a].x, &a, sizeof a);
        std::memcpy(&particles[s.b].x, &b, sizeof b);
    }
}

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

void stream_sse2(float* f, size_t n) {
    const __m128 k = _mm_castsi128_ps(_mm_set1_epi32(int(g_flip)));
    size_t i = 0;
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(f + i, _mm_xor_ps(_mm_loadu_ps(f + i), k));
    for (; i < n; ++i) _mm_store_ss(f + i, _mm_xor_ps(_mm_load_ss(f + i), k));
}

__attribute__((target("avx2"))) void stream_avx2(float* f, size_t n) {
    const __m256 k = _mm256_castsi256_ps(_mm256_set1_epi32(int(g_flip)));
    size_t i = 0;
    for (; i + 8 <= n; i += 8) _mm256_storeu_ps(f + i, _mm256_xor_ps(_mm256_loadu_ps(f + i), k));
    _mm256_zeroupper();  // the SSE tail and the caller must not pay for dirty upper halves
    stream_sse2(f + i, n - i);
}

// 64-byte aligned after a short lead-in, as the kernel's AVX-512 path is.
__attribute__((target("avx512f"))) void stream_avx512(float* f, size_t n) {
    const __m512i k = _mm512_set1_epi32(int(g_flip));
    size_t i = 0;
    while (i < n && reinterpret_cast<uintptr_t>(f + i) % 64 != 0) ++i;
    stream_sse2(f, i);
    for (; i + 16 <= n; i += 16) _mm512_store_si512(f + i, _mm512_xor_si512(_mm512_load_si512(f + i), k));
    _mm256_zeroupper();
    stream_sse2(f + i, n - i);
}

}  // namespace

void stream_pass(TCVerlet* particles, unsigned count) {
    // The widest vectors the processor has, like update_physics.
    static const int width = __builtin_cpu_supports("avx512f") ? 512 : __builtin_cpu_supports("avx2") ? 256 : 128;
    float* f = &particles->x;
    const size_t n = size_t(count) * 6;
    if (width == 512)
        stream_avx512(f, n);
    else if (width == 256)
        stream_avx2(f, n);
    else
        stream_sse2(f, n);
}

#else

void stream_pass(TCVerlet* particles, unsigned count) {
    // Left to the compiler's vectoriser on other processors; without one
    // (portable WebAssembly) 8-byte words, the widest a scalar moves.
    uint64_t* u = reinterpret_cast<uint64_t*>(particles);
    const uint64_t k = g_flip;
    for (size_t i = 0; i < size_t(count) * 3; ++i) u[i] ^= k;
}

#endif
