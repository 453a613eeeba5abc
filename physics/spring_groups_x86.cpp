// The x86 group code of spring_pass: SSE2, AVX2 and AVX-512 versions of one
// computation, each the bits of spring_force.
//
// Layout trick shared by all three: a particle's x and y are the first two
// floats of its record, so one 8-byte load fetches both. A register holds
// springs as (x, y) pairs, two springs to 128 bits: A = ax0 ay0 ax1 ay1, B the
// same for the b ends. Both axes then take the same operations; the length,
// the error and the decision to move are worked out in the x lane of each
// pair and copied into its y lane. The springs of a group share no particle,
// so their stores and loads are independent; a spring whose ends are one
// particle never moves (its length is 0 or NaN) and stores what it loaded.
#include "kernel_simd.h"

#if PHYSICS_X86

// GCC 12's AVX-512 intrinsics pass an uninitialised register as the unused
// merge source of their masked builtins, and -Wall then warns inside its own
// header about code that is correct.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// ---- SSE2: two springs at a time ----

// The (x, y) pair at a group's particle offset, in the low half.
inline __m128 load_pair(const TCVerlet* p, unsigned offset) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pair_at(p, offset))));
}

inline void store_low_pair(TCVerlet* p, unsigned offset, __m128 v) {
    _mm_storel_pi(reinterpret_cast<__m64*>(pair_at(p, offset)), v);
}

inline void store_high_pair(TCVerlet* p, unsigned offset, __m128 v) {
    _mm_storeh_pi(reinterpret_cast<__m64*>(pair_at(p, offset)), v);
}

inline __m128 blend_sse2(__m128 mask, __m128 if_false, __m128 if_true) {
    return _mm_or_ps(_mm_and_ps(mask, if_true), _mm_andnot_ps(mask, if_false));
}

// Moves the springs of A, B (pairs) towards the rest lengths R (each given in
// both lanes of its pair); returns |error| in both lanes of each pair.
inline __m128 move_pairs_sse2(__m128& A, __m128& B, __m128 R) {
    const __m128 sign = _mm_set1_ps(-0.0f), zero = _mm_setzero_ps();
    const __m128 d = _mm_sub_ps(B, A);
    const __m128 ad = _mm_andnot_ps(sign, d);                              // |dx| |dy|
    const __m128 sw = _mm_shuffle_ps(ad, ad, _MM_SHUFFLE(2, 3, 0, 1));     // |dy| |dx|
    // x lanes: dy > dx takes dx as the short side, otherwise (NaN too) dy.
    const __m128 dy_longer = _mm_cmpgt_ps(sw, ad);
    const __m128 shorter = blend_sse2(dy_longer, sw, ad), longer = blend_sse2(dy_longer, ad, sw);
    const __m128 len_x = _mm_add_ps(pinned(_mm_mul_ps(_mm_set1_ps(kClenShort), shorter)),
                                    pinned(_mm_mul_ps(_mm_set1_ps(kClenLong), longer)));
    const __m128 len = _mm_shuffle_ps(len_x, len_x, _MM_SHUFFLE(2, 2, 0, 0));  // x lane to y lane
    const __m128 err = _mm_sub_ps(R, len);
    const __m128 m = pinned(_mm_mul_ps(_mm_mul_ps(_mm_div_ps(d, len), err), _mm_set1_ps(0.5f)));
    const __m128 na = _mm_sub_ps(A, m), nb = _mm_add_ps(B, m);
    // x - x is 0 for a finite x and NaN otherwise: the sum over both ends and
    // both axes of a spring is 0 exactly when all four are finite.
    __m128 t = _mm_add_ps(_mm_sub_ps(na, na), _mm_sub_ps(nb, nb));
    t = _mm_add_ps(t, _mm_shuffle_ps(t, t, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m128 moves = _mm_and_ps(_mm_cmpeq_ps(t, zero), _mm_cmpgt_ps(len, zero));
    A = blend_sse2(moves, A, na);
    B = blend_sse2(moves, B, nb);
    return _mm_andnot_ps(sign, err);
}

// Pairs of the a ends, b ends and rest lengths of springs l and l + 1 of a group.
inline void load_springs_sse2(const TCVerlet* p, const TCSpring* springs, const unsigned* group, unsigned l,
                              __m128& A, __m128& B, __m128& R) {
    const unsigned* ia = group + kGroupWidth;
    const unsigned* ib = group + 2 * kGroupWidth;
    A = _mm_movelh_ps(load_pair(p, ia[l]), load_pair(p, ia[l + 1]));
    B = _mm_movelh_ps(load_pair(p, ib[l]), load_pair(p, ib[l + 1]));
    const float r0 = rest_at(springs, group[l]), r1 = rest_at(springs, group[l + 1]);
    R = _mm_set_ps(r1, r1, r0, r0);
}

inline void store_springs_sse2(TCVerlet* p, const unsigned* group, unsigned l, __m128 A, __m128 B) {
    const unsigned* ia = group + kGroupWidth;
    const unsigned* ib = group + 2 * kGroupWidth;
    store_low_pair(p, ia[l], A);
    store_high_pair(p, ia[l + 1], A);
    store_low_pair(p, ib[l], B);
    store_high_pair(p, ib[l + 1], B);
}

// Largest lane, with no NaN among them.
inline float max_lane_sse2(__m128 v) {
    v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtss_f32(v);
}

}  // namespace

float spring_groups_sse2(TCVerlet* p, const TCSpring* springs, const unsigned* groups, unsigned count) {
    // max(e, largest) keeps largest where e is NaN.
    __m128 largest = _mm_setzero_ps();
    for (unsigned k = 0; k < count; ++k, groups += kGroupWords)
        for (unsigned l = 0; l < kGroupWidth; l += 2) {
            __m128 A, B, R;
            load_springs_sse2(p, springs, groups, l, A, B, R);
            largest = _mm_max_ps(move_pairs_sse2(A, B, R), largest);
            store_springs_sse2(p, groups, l, A, B);
        }
    return max_lane_sse2(largest);
}

// ---- AVX2: four springs at a time ----

namespace {

__attribute__((target("avx2")))
inline __m256 blend_avx2(__m256 mask, __m256 if_false, __m256 if_true) {
    return _mm256_blendv_ps(if_false, if_true, mask);
}

__attribute__((target("avx2")))
inline __m256 move_pairs_avx2(__m256& A, __m256& B, __m256 R) {
    const __m256 sign = _mm256_set1_ps(-0.0f), zero = _mm256_setzero_ps();
    const __m256 d = _mm256_sub_ps(B, A);
    const __m256 ad = _mm256_andnot_ps(sign, d);
    const __m256 sw = _mm256_permute_ps(ad, _MM_SHUFFLE(2, 3, 0, 1));
    const __m256 dy_longer = _mm256_cmp_ps(sw, ad, _CMP_GT_OQ);
    const __m256 shorter = blend_avx2(dy_longer, sw, ad), longer = blend_avx2(dy_longer, ad, sw);
    const __m256 len = _mm256_moveldup_ps(_mm256_add_ps(pinned(_mm256_mul_ps(_mm256_set1_ps(kClenShort), shorter)),
                                                        pinned(_mm256_mul_ps(_mm256_set1_ps(kClenLong), longer))));
    const __m256 err = _mm256_sub_ps(R, len);
    const __m256 m = pinned(_mm256_mul_ps(_mm256_mul_ps(_mm256_div_ps(d, len), err), _mm256_set1_ps(0.5f)));
    const __m256 na = _mm256_sub_ps(A, m), nb = _mm256_add_ps(B, m);
    __m256 t = _mm256_add_ps(_mm256_sub_ps(na, na), _mm256_sub_ps(nb, nb));  // as in move_pairs_sse2
    t = _mm256_add_ps(t, _mm256_permute_ps(t, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m256 moves = _mm256_and_ps(_mm256_cmp_ps(t, zero, _CMP_EQ_OQ), _mm256_cmp_ps(len, zero, _CMP_GT_OQ));
    A = blend_avx2(moves, A, na);
    B = blend_avx2(moves, B, nb);
    return _mm256_andnot_ps(sign, err);
}

// The (x, y) pairs of four particles, one 8-byte load each: on the processors
// measured, four loads beat a gather of four.
__attribute__((target("avx2")))
inline __m256 load_pairs_avx2(const TCVerlet* p, const unsigned* index) {
    const __m128 lo = _mm_movelh_ps(load_pair(p, index[0]), load_pair(p, index[1]));
    const __m128 hi = _mm_movelh_ps(load_pair(p, index[2]), load_pair(p, index[3]));
    return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
}

// The rest lengths of four springs.
inline __m128 load_rest4(const TCSpring* springs, const unsigned* index) {
    return _mm_setr_ps(rest_at(springs, index[0]), rest_at(springs, index[1]), rest_at(springs, index[2]),
                       rest_at(springs, index[3]));
}

// The rest lengths of four springs, each twice (in both lanes of its pair).
__attribute__((target("avx2")))
inline __m256 load_rest_avx2(const TCSpring* springs, const unsigned* index) {
    const __m128 r = load_rest4(springs, index);
    return _mm256_permutevar8x32_ps(_mm256_castps128_ps256(r), _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
}

__attribute__((target("avx2")))
inline void store_pairs_avx2(TCVerlet* p, const unsigned* index, __m256 v) {
    const __m128 lo = _mm256_castps256_ps128(v), hi = _mm256_extractf128_ps(v, 1);
    store_low_pair(p, index[0], lo);
    store_high_pair(p, index[1], lo);
    store_low_pair(p, index[2], hi);
    store_high_pair(p, index[3], hi);
}

}  // namespace

__attribute__((target("avx2")))
float spring_groups_avx2(TCVerlet* p, const TCSpring* springs, const unsigned* groups, unsigned count) {
    __m256 largest = _mm256_setzero_ps();
    for (unsigned k = 0; k < count; ++k, groups += kGroupWords)
        for (unsigned l = 0; l < kGroupWidth; l += 4) {
            const unsigned* ia = groups + kGroupWidth + l;
            const unsigned* ib = groups + 2 * kGroupWidth + l;
            __m256 A = load_pairs_avx2(p, ia), B = load_pairs_avx2(p, ib);
            largest = _mm256_max_ps(move_pairs_avx2(A, B, load_rest_avx2(springs, groups + l)), largest);
            store_pairs_avx2(p, ia, A);
            store_pairs_avx2(p, ib, B);
        }
    const __m128 m = _mm_max_ps(_mm256_castps256_ps128(largest), _mm256_extractf128_ps(largest, 1));
    _mm256_zeroupper();
    return max_lane_sse2(m);
}

// ---- AVX-512: eight springs at a time ----

namespace {

__attribute__((target("avx512f")))
inline __m512 move_pairs_avx512(__m512& A, __m512& B, __m512 R) {
    const __m512 zero = _mm512_setzero_ps();
    const __m512 d = _mm512_sub_ps(B, A);
    const __m512 ad = _mm512_abs_ps(d);
    const __m512 sw = _mm512_permute_ps(ad, _MM_SHUFFLE(2, 3, 0, 1));
    const __mmask16 dy_longer = _mm512_cmp_ps_mask(sw, ad, _CMP_GT_OQ);
    const __m512 shorter = _mm512_mask_blend_ps(dy_longer, sw, ad);
    const __m512 longer = _mm512_mask_blend_ps(dy_longer, ad, sw);
    const __m512 len = _mm512_moveldup_ps(_mm512_add_ps(pinned(_mm512_mul_ps(_mm512_set1_ps(kClenShort), shorter)),
                                                        pinned(_mm512_mul_ps(_mm512_set1_ps(kClenLong), longer))));
    const __m512 err = _mm512_sub_ps(R, len);
    const __m512 m = pinned(_mm512_mul_ps(_mm512_mul_ps(_mm512_div_ps(d, len), err), _mm512_set1_ps(0.5f)));
    const __m512 na = _mm512_sub_ps(A, m), nb = _mm512_add_ps(B, m);
    __m512 t = _mm512_add_ps(_mm512_sub_ps(na, na), _mm512_sub_ps(nb, nb));  // as in move_pairs_sse2
    t = _mm512_add_ps(t, _mm512_permute_ps(t, _MM_SHUFFLE(2, 3, 0, 1)));
    const __mmask16 moves = _mm512_cmp_ps_mask(t, zero, _CMP_EQ_OQ) & _mm512_cmp_ps_mask(len, zero, _CMP_GT_OQ);
    A = _mm512_mask_blend_ps(moves, A, na);
    B = _mm512_mask_blend_ps(moves, B, nb);
    return _mm512_abs_ps(err);
}

// Eight (x, y) pairs, one 8-byte load each (gathers are slower here too).
__attribute__((target("avx512f")))
inline __m512 load_pairs_avx512(const TCVerlet* p, const unsigned* index) {
    const __m256 lo = load_pairs_avx2(p, index), hi = load_pairs_avx2(p, index + 4);
    return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(lo)), _mm256_castps_pd(hi), 1));
}

// The rest lengths of eight springs, one load each (a gather costs more than
// the rest of the springs' work).
__attribute__((target("avx512f")))
inline __m256 load_rest8(const TCSpring* springs, const unsigned* index) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(load_rest4(springs, index)), load_rest4(springs, index + 4), 1);
}

__attribute__((target("avx512f")))
inline void store_pairs_avx512(TCVerlet* p, const unsigned* index, __m512 v) {
    store_pairs_avx2(p, index, _mm512_castps512_ps256(v));
    store_pairs_avx2(p, index + 4, _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
}

}  // namespace

__attribute__((target("avx512f")))
float spring_groups_avx512(TCVerlet* p, const TCSpring* springs, const unsigned* groups, unsigned count) {
    static_assert(kGroupWidth % 8 == 0, "a group is registers of eight springs");
    // Rest length of spring j into both lanes of pair j.
    const __m512i rest_pairs = _mm512_set_epi32(7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
    __m512 largest = _mm512_setzero_ps();
    for (unsigned k = 0; k < count; ++k, groups += kGroupWords)
        for (unsigned l = 0; l < kGroupWidth; l += 8) {
            const unsigned* ia = groups + kGroupWidth + l;
            const unsigned* ib = groups + 2 * kGroupWidth + l;
            __m512 A = load_pairs_avx512(p, ia), B = load_pairs_avx512(p, ib);
            const __m512 rest = _mm512_castps256_ps512(load_rest8(springs, groups + l));
            largest = _mm512_max_ps(move_pairs_avx512(A, B, _mm512_permutexvar_ps(rest_pairs, rest)), largest);
            store_pairs_avx512(p, ia, A);
            store_pairs_avx512(p, ib, B);
        }
    const __m256 m = _mm256_max_ps(_mm512_castps512_ps256(largest),
                                   _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(largest), 1)));
    const __m128 m4 = _mm_max_ps(_mm256_castps256_ps128(m), _mm256_extractf128_ps(m, 1));
    _mm256_zeroupper();
    return max_lane_sse2(m4);
}

#endif
