// The Verlet step: its processor paths and update_physics.
#include "kernel_simd.h"

#include <array>
#include <cstdint>

namespace {

// One particle, one axis: the order of the operations is part of the result.
inline float verlet_axis(float cur, float old, float acc, float ratio, float dt2) {
    return (pinned((cur - old) * ratio) + cur) + pinned(acc * dt2);
}

void step_scalar(float* f, unsigned n, float ratio, float dt2) {
    for (unsigned i = 0; i < n; ++i, f += 6) {
        const float nx = verlet_axis(f[0], f[2], f[4], ratio, dt2);
        const float ny = verlet_axis(f[1], f[3], f[5], ratio, dt2);
        f[2] = f[0];
        f[3] = f[1];
        f[4] = 0.0f;
        f[5] = 0.0f;
        f[0] = nx;
        f[1] = ny;
    }
}

#if PHYSICS_X86
// Two particles are twelve floats, three SSE registers:
//   c0 = x0 y0 ox0 oy0   c1 = ax0 ay0 x1 y1   c2 = ox1 oy1 ax1 ay1
// Gathering the current, old and acceleration pairs into one register each
// lets one set of four operations move both particles.
void step_sse2(float* f, unsigned n, float ratio, float dt2) {
    const __m128 r = _mm_set1_ps(ratio), d = _mm_set1_ps(dt2), z = _mm_setzero_ps();
    unsigned i = 0;
    for (; i + 2 <= n; i += 2, f += 12) {
        const __m128 c0 = _mm_loadu_ps(f), c1 = _mm_loadu_ps(f + 4), c2 = _mm_loadu_ps(f + 8);
        const __m128 cur = _mm_shuffle_ps(c0, c1, _MM_SHUFFLE(3, 2, 1, 0));
        const __m128 old = _mm_shuffle_ps(c0, c2, _MM_SHUFFLE(1, 0, 3, 2));
        const __m128 acc = _mm_shuffle_ps(c1, c2, _MM_SHUFFLE(3, 2, 1, 0));
        const __m128 np = _mm_add_ps(_mm_add_ps(pinned(_mm_mul_ps(_mm_sub_ps(cur, old), r)), cur),
                                     pinned(_mm_mul_ps(acc, d)));
        _mm_storeu_ps(f, _mm_movelh_ps(np, c0));                              // x0' y0' x0 y0
        _mm_storeu_ps(f + 4, _mm_shuffle_ps(z, np, _MM_SHUFFLE(3, 2, 1, 0)));  // 0 0 x1' y1'
        _mm_storeu_ps(f + 8, _mm_shuffle_ps(c1, z, _MM_SHUFFLE(1, 0, 3, 2)));  // x1 y1 0 0
    }
    step_scalar(f, n - i, ratio, dt2);
}

// At memory speed the wide paths run out of loads in flight before the
// hardware prefetcher gets far enough ahead: asking for the lines 6 KiB
// ahead keeps the step level with a pass that only copies the bytes. A
// prefetch past the end of the array is harmless; it never faults.
constexpr unsigned kPrefetchFloats = 1536;

inline void prefetch_lines(const float* f, unsigned floats) {
    for (unsigned k = 0; k < floats; k += 16)
        _mm_prefetch(reinterpret_cast<const char*>(f + kPrefetchFloats + k), _MM_HINT_T0);
}

// Steps single particles until f + 6 * lead is `align`-byte aligned, if any
// lead gets there (starts aligned to 8 bytes do); returns the count stepped.
// Wide accesses that straddle cache lines cost more; aligned blocks never do.
unsigned step_lead_in(float* f, unsigned n, float ratio, float dt2, unsigned align) {
    const uintptr_t addr = reinterpret_cast<uintptr_t>(f);
    if (addr % 8 != 0) return 0;
    unsigned lead = 0;
    while (lead < n && (addr + sizeof(TCVerlet) * lead) % align != 0) ++lead;
    step_scalar(f, lead, ratio, dt2);
    return lead;
}

// Four particles are 24 floats, three AVX registers. They are regrouped so
// each 128-bit half holds two whole particles laid out as in the SSE2 path,
// moved with the same steps, and put back. Blends stand in for shuffles where
// the lanes already line up: they are cheaper on most processors.
__attribute__((target("avx2")))
void step_avx2(float* f, unsigned n, float ratio, float dt2) {
    const unsigned lead = step_lead_in(f, n, ratio, dt2, 32);
    f += 6 * lead;
    n -= lead;
    const __m256 r = _mm256_set1_ps(ratio), d = _mm256_set1_ps(dt2);
    const __m256 z = _mm256_setzero_ps();
    unsigned i = 0;
    for (; i + 4 <= n; i += 4, f += 24) {
        if (i % 8 == 0)
            prefetch_lines(f, 48);
        const __m256 a = _mm256_loadu_ps(f);
        const __m256 b = _mm256_loadu_ps(f + 8);
        const __m256 c = _mm256_loadu_ps(f + 16);
        const __m256 c0 = _mm256_blend_ps(a, b, 0xF0);           // floats 0-3 | 12-15
        const __m256 c1 = _mm256_permute2f128_ps(a, c, 0x21);    // floats 4-7 | 16-19
        const __m256 c2 = _mm256_blend_ps(b, c, 0xF0);           // floats 8-11 | 20-23
        const __m256 cur = _mm256_blend_ps(c0, c1, 0xCC);
        const __m256 old = _mm256_shuffle_ps(c0, c2, _MM_SHUFFLE(1, 0, 3, 2));
        const __m256 acc = _mm256_blend_ps(c1, c2, 0xCC);
        const __m256 np = _mm256_add_ps(
            _mm256_add_ps(pinned(_mm256_mul_ps(_mm256_sub_ps(cur, old), r)), cur),
            pinned(_mm256_mul_ps(acc, d)));
        const __m256 o0 = _mm256_shuffle_ps(np, c0, _MM_SHUFFLE(1, 0, 1, 0));  // x0' y0' x0 y0
        const __m256 o1 = _mm256_blend_ps(np, z, 0x33);                        // 0 0 x1' y1'
        const __m256 o2 = _mm256_castpd_ps(                                    // x1 y1 0 0
            _mm256_unpackhi_pd(_mm256_castps_pd(cur), _mm256_setzero_pd()));
        _mm256_storeu_ps(f, _mm256_permute2f128_ps(o0, o1, 0x20));
        _mm256_storeu_ps(f + 8, _mm256_blend_ps(o2, o0, 0xF0));
        _mm256_storeu_ps(f + 16, _mm256_permute2f128_ps(o1, o2, 0x31));
    }
    // Leave no dirty upper halves for the SSE code that follows (the tail
    // here, the caller after): mixing them slows that code several times over.
    _mm256_zeroupper();
    step_sse2(f, n - i, ratio, dt2);
}

// Eight particles are 48 floats, three AVX-512 registers A B C. Two-source
// permutes gather the current, old and acceleration pairs of all eight into
// one register each, and one zero-masking permute per register writes each
// particle back as (new position, position, 0 0).
//
// Gathering: lane j takes float 6 * (j / 2) + j % 2 + field of the block
// (field 0 position, 2 old, 4 acceleration). The permutes read only the low
// bits of an index: five pick from A:B, four from C, so one table serves both.
constexpr std::array<int, 48> kGatherIndex = [] {
    std::array<int, 48> t{};
    for (int field = 0; field < 3; ++field)
        for (int j = 0; j < 16; ++j) t[16 * field + j] = 6 * (j / 2) + j % 2 + 2 * field;
    return t;
}();

// Writing back: block float g (particle g / 6, field g % 6) takes the new
// position from lane 2p + k of the new positions (indices 0-15), the position
// from the same lane of the current ones (16-31), or is an acceleration: 0.
constexpr std::array<int, 48> kScatterIndex = [] {
    std::array<int, 48> t{};
    for (int g = 0; g < 48; ++g) {
        const int p = g / 6, k = g % 6;
        t[g] = k < 2 ? 2 * p + k : k < 4 ? 16 + 2 * p + (k - 2) : 0;
    }
    return t;
}();

// Lanes of the 16 floats from `first` on that are not accelerations.
constexpr __mmask16 keep_mask(int first) {
    unsigned m = 0;
    for (int l = 0; l < 16; ++l)
        if ((first + l) % 6 < 4) m |= 1u << l;
    return __mmask16(m);
}

__attribute__((target("avx512f")))
inline __m512 gather8(int field, __m512 a, __m512 b, __m512 c) {
    const __m512i idx = _mm512_loadu_si512(&kGatherIndex[16 * field]);
    const __mmask16 from_c = _mm512_cmpge_epi32_mask(idx, _mm512_set1_epi32(32));
    return _mm512_mask_permutexvar_ps(_mm512_permutex2var_ps(a, idx, b), from_c, idx, c);
}

__attribute__((target("avx512f")))
void step_avx512(float* f, unsigned n, float ratio, float dt2) {
    // 64-byte accesses that straddle cache lines cost about twice as much.
    // Starts that cannot reach a 64-byte boundary go the AVX2 way.
    const unsigned lead = step_lead_in(f, n, ratio, dt2, 64);
    f += 6 * lead;
    n -= lead;
    if (reinterpret_cast<uintptr_t>(f) % 64 != 0) {
        step_avx2(f, n, ratio, dt2);
        return;
    }

    const __m512 r = _mm512_set1_ps(ratio), d = _mm512_set1_ps(dt2);
    const __m512i s0 = _mm512_loadu_si512(&kScatterIndex[0]);
    const __m512i s1 = _mm512_loadu_si512(&kScatterIndex[16]);
    const __m512i s2 = _mm512_loadu_si512(&kScatterIndex[32]);
    const __mmask16 keep0 = keep_mask(0), keep1 = keep_mask(16), keep2 = keep_mask(32);
    unsigned i = 0;
    for (; i + 8 <= n; i += 8, f += 48) {
        prefetch_lines(f, 48);
        const __m512 a = _mm512_load_ps(f);
        const __m512 b = _mm512_load_ps(f + 16);
        const __m512 c = _mm512_load_ps(f + 32);
        const __m512 cur = gather8(0, a, b, c);
        const __m512 old = gather8(1, a, b, c);
        const __m512 acc = gather8(2, a, b, c);
        const __m512 np = _mm512_add_ps(
            _mm512_add_ps(pinned(_mm512_mul_ps(_mm512_sub_ps(cur, old), r)), cur),
            pinned(_mm512_mul_ps(acc, d)));
        _mm512_store_ps(f, _mm512_maskz_permutex2var_ps(keep0, np, s0, cur));
        _mm512_store_ps(f + 16, _mm512_maskz_permutex2var_ps(keep1, np, s1, cur));
        _mm512_store_ps(f + 32, _mm512_maskz_permutex2var_ps(keep2, np, s2, cur));
    }
    _mm256_zeroupper();
    step_avx2(f, n - i, ratio, dt2);
}
#endif

#if PHYSICS_WASM_SIMD
// Two particles are twelve floats, three registers, laid out as in the SSE2
// path but taken as 64-bit (x, y) pairs:
//   c0 = p0 o0   c1 = a0 p1   c2 = o1 a1   (p position, o old, a acceleration)
// so every regrouping moves whole pairs: a shuffle of two 64-bit lanes,
// which the engines compile to one instruction.
inline void step2_simd128(float* f, v128_t r, v128_t d) {
    const v128_t c0 = wasm_v128_load(f), c1 = wasm_v128_load(f + 4), c2 = wasm_v128_load(f + 8);
    const v128_t cur = wasm_i64x2_shuffle(c0, c1, 0, 3);
    const v128_t old = wasm_i64x2_shuffle(c0, c2, 1, 2);
    const v128_t acc = wasm_i64x2_shuffle(c1, c2, 0, 3);
    const v128_t np = wasm_f32x4_add(wasm_f32x4_add(pinned(wasm_f32x4_mul(wasm_f32x4_sub(cur, old), r)), cur),
                                     pinned(wasm_f32x4_mul(acc, d)));
    const v128_t z = wasm_f32x4_splat(0.0f);
    wasm_v128_store(f, wasm_i64x2_shuffle(np, c0, 0, 2));      // p0' p0
    wasm_v128_store(f + 4, wasm_i64x2_shuffle(z, np, 0, 3));   // 0 0 p1'
    wasm_v128_store(f + 8, wasm_i64x2_shuffle(c1, z, 1, 2));   // p1 0 0
}

// Four particles an iteration: the engines do not unroll loops.
void step_simd128(float* f, unsigned n, float ratio, float dt2) {
    const v128_t r = wasm_f32x4_splat(ratio), d = wasm_f32x4_splat(dt2);
    unsigned i = 0;
    for (; i + 4 <= n; i += 4, f += 24) {
        step2_simd128(f, r, d);
        step2_simd128(f + 12, r, d);
    }
    if (i + 2 <= n) {
        step2_simd128(f, r, d);
        i += 2, f += 12;
    }
    step_scalar(f, n - i, ratio, dt2);
}
#endif

typedef void (*StepFn)(float*, unsigned, float, float);

StepFn step_fn(int path) {
    switch (path) {
#if PHYSICS_X86
    case PHYSICS_PATH_SSE2: return step_sse2;
    case PHYSICS_PATH_AVX2: return step_avx2;
    case PHYSICS_PATH_AVX512: return step_avx512;
#endif
#if PHYSICS_WASM_SIMD
    case PHYSICS_PATH_SIMD128: return step_simd128;
#endif
    default: return step_scalar;
    }
}

float run_step(StepFn fn, float dt, float prev_dt, TCVerlet* particles, unsigned count) {
    const float dt2 = dt * dt;
    // prev_dt of 0, below 0 or NaN means no previous step: start at rest.
    const float ratio = prev_dt > 0.0f ? dt / prev_dt : 0.0f;
    if (count != 0) fn(&particles->x, count, ratio, dt2);
    return dt;
}

}  // namespace

float update_physics_path(int path, float dt, float prev_dt, TCVerlet* particles,
                          unsigned count) {
    const StepFn fn = physics_path_available(path) ? step_fn(path) : step_scalar;
    return run_step(fn, dt, prev_dt, particles, count);
}

float update_physics(float dt, float prev_dt, TCVerlet* particles, unsigned count) {
    // Chosen once; function-local statics are initialised thread-safely.
    static const StepFn selected = step_fn(physics_selected_path());
    return run_step(selected, dt, prev_dt, particles, count);
}
