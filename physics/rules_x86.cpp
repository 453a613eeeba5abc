// The x86 code for the planes and circles of the rules: four particles a
// register with SSE2, eight with AVX2, each lane the bits of the scalar code
// (kernel.h's plane_move and circle_move). A register holds one coordinate of
// several particles; x and y come in as one 8-byte load a particle and are
// split with shuffles. Most particles touch no plane or circle: a rule that
// moves no lane costs its test only, and a register nothing moved is not
// stored back.
#include "kernel_simd.h"

#if PHYSICS_X86

namespace {

inline __m128 particle_pair(const TCVerlet* p) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&p->x)));
}

// Lanes where `take` is set get `if_true`.
inline __m128 choose(__m128 take, __m128 if_false, __m128 if_true) {
    return _mm_or_ps(_mm_and_ps(take, if_true), _mm_andnot_ps(take, if_false));
}

// x - x is 0 for a finite x and NaN otherwise.
inline __m128 both_finite(__m128 x, __m128 y) {
    return _mm_cmpeq_ps(_mm_add_ps(_mm_sub_ps(x, x), _mm_sub_ps(y, y)), _mm_setzero_ps());
}

// Planes and circles on four particles; returns the lanes any of them moved.
inline __m128 shapes_sse2(__m128& X, __m128& Y, const TCRules& r) {
    __m128 moved = _mm_setzero_ps();
    for (unsigned k = 0; k < r.plane_count; ++k) {
        const __m128 nx = _mm_set1_ps(r.planes[k].nx), ny = _mm_set1_ps(r.planes[k].ny), d = _mm_set1_ps(r.planes[k].d);
        const __m128 t = _mm_add_ps(pinned(_mm_mul_ps(nx, X)), pinned(_mm_mul_ps(ny, Y)));
        const __m128 in = _mm_cmplt_ps(t, d);
        if (_mm_movemask_ps(in) == 0) continue;
        const __m128 pen = _mm_sub_ps(d, t);
        const __m128 mx = _mm_add_ps(X, pinned(_mm_mul_ps(nx, pen))), my = _mm_add_ps(Y, pinned(_mm_mul_ps(ny, pen)));
        const __m128 moves = _mm_and_ps(in, both_finite(mx, my));
        X = choose(moves, X, mx), Y = choose(moves, Y, my), moved = _mm_or_ps(moved, moves);
    }
    const __m128 sign = _mm_set1_ps(-0.0f);
    for (unsigned k = 0; k < r.circle_count; ++k) {
        const __m128 cx = _mm_set1_ps(r.circles[k].x), cy = _mm_set1_ps(r.circles[k].y);
        const __m128 radius = _mm_set1_ps(r.circles[k].radius);
        const __m128 dx = _mm_sub_ps(X, cx), dy = _mm_sub_ps(Y, cy);
        const __m128 adx = _mm_andnot_ps(sign, dx), ady = _mm_andnot_ps(sign, dy);
        // clen is at least its longer side's product: lanes below the radius by that alone, or none.
        if (_mm_movemask_ps(_mm_cmplt_ps(_mm_mul_ps(_mm_set1_ps(kClenLong), _mm_max_ps(adx, ady)), radius)) == 0)
            continue;
        const __m128 dy_longer = _mm_cmpgt_ps(ady, adx);  // false also when either is NaN
        const __m128 len = _mm_add_ps(pinned(_mm_mul_ps(_mm_set1_ps(kClenShort), choose(dy_longer, ady, adx))),
                                      pinned(_mm_mul_ps(_mm_set1_ps(kClenLong), choose(dy_longer, adx, ady))));
        const __m128 in = _mm_and_ps(_mm_cmpgt_ps(len, _mm_setzero_ps()), _mm_cmplt_ps(len, radius));
        if (_mm_movemask_ps(in) == 0) continue;
        const __m128 mx = _mm_add_ps(cx, pinned(_mm_mul_ps(_mm_div_ps(dx, len), radius)));
        const __m128 my = _mm_add_ps(cy, pinned(_mm_mul_ps(_mm_div_ps(dy, len), radius)));
        const __m128 moves = _mm_and_ps(in, both_finite(mx, my));
        X = choose(moves, X, mx), Y = choose(moves, Y, my), moved = _mm_or_ps(moved, moves);
    }
    return moved;
}

inline void store_pair_low(TCVerlet* p, __m128 v) { _mm_storel_pi(reinterpret_cast<__m64*>(&p->x), v); }
inline void store_pair_high(TCVerlet* p, __m128 v) { _mm_storeh_pi(reinterpret_cast<__m64*>(&p->x), v); }

// Planes and circles on `count` particles, the k-th at(k). Counted in
// size_t so that the addresses of a range fold into one base and offsets.
template <class At>
void shapes_over_sse2(size_t count, At at, const TCRules& r) {
    size_t k = 0;
    for (; count - k >= 4; k += 4) {
        TCVerlet *p0 = at(k), *p1 = at(k + 1), *p2 = at(k + 2), *p3 = at(k + 3);
        const __m128 lo = _mm_movelh_ps(particle_pair(p0), particle_pair(p1));
        const __m128 hi = _mm_movelh_ps(particle_pair(p2), particle_pair(p3));
        __m128 X = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)), Y = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
        if (_mm_movemask_ps(shapes_sse2(X, Y, r)) == 0) continue;
        const __m128 l = _mm_unpacklo_ps(X, Y), h = _mm_unpackhi_ps(X, Y);
        store_pair_low(p0, l), store_pair_high(p1, l), store_pair_low(p2, h), store_pair_high(p3, h);
    }
    for (; k < count; ++k) shapes_move(at(k)->x, at(k)->y, r);
}

}  // namespace

void rule_shapes_sse2(TCVerlet* p, unsigned first, unsigned end, const TCRules& r) {
    shapes_over_sse2(end - first, [base = p + first](size_t k) { return base + k; }, r);
}

void rule_shapes_list_sse2(TCVerlet* p, const unsigned* list, unsigned count, const TCRules& r) {
    shapes_over_sse2(count, [p, list](size_t k) { return p + list[k]; }, r);
}

namespace {

__attribute__((target("avx2"))) inline __m256 choose_avx2(__m256 take, __m256 if_false, __m256 if_true) {
    return _mm256_blendv_ps(if_false, if_true, take);
}

__attribute__((target("avx2"))) inline __m256 both_finite_avx2(__m256 x, __m256 y) {
    return _mm256_cmp_ps(_mm256_add_ps(_mm256_sub_ps(x, x), _mm256_sub_ps(y, y)), _mm256_setzero_ps(), _CMP_EQ_OQ);
}

// shapes_sse2 on eight particles.
__attribute__((target("avx2"))) inline __m256 shapes_avx2(__m256& X, __m256& Y, const TCRules& r) {
    __m256 moved = _mm256_setzero_ps();
    for (unsigned k = 0; k < r.plane_count; ++k) {
        const __m256 nx = _mm256_set1_ps(r.planes[k].nx), ny = _mm256_set1_ps(r.planes[k].ny);
        const __m256 d = _mm256_set1_ps(r.planes[k].d);
        const __m256 t = _mm256_add_ps(pinned(_mm256_mul_ps(nx, X)), pinned(_mm256_mul_ps(ny, Y)));
        const __m256 in = _mm256_cmp_ps(t, d, _CMP_LT_OQ);
        if (_mm256_movemask_ps(in) == 0) continue;
        const __m256 pen = _mm256_sub_ps(d, t);
        const __m256 mx = _mm256_add_ps(X, pinned(_mm256_mul_ps(nx, pen)));
        const __m256 my = _mm256_add_ps(Y, pinned(_mm256_mul_ps(ny, pen)));
        const __m256 moves = _mm256_and_ps(in, both_finite_avx2(mx, my));
        X = choose_avx2(moves, X, mx), Y = choose_avx2(moves, Y, my), moved = _mm256_or_ps(moved, moves);
    }
    const __m256 sign = _mm256_set1_ps(-0.0f), zero = _mm256_setzero_ps();
    for (unsigned k = 0; k < r.circle_count; ++k) {
        const __m256 cx = _mm256_set1_ps(r.circles[k].x), cy = _mm256_set1_ps(r.circles[k].y);
        const __m256 radius = _mm256_set1_ps(r.circles[k].radius);
        const __m256 dx = _mm256_sub_ps(X, cx), dy = _mm256_sub_ps(Y, cy);
        const __m256 adx = _mm256_andnot_ps(sign, dx), ady = _mm256_andnot_ps(sign, dy);
        // clen is at least its longer side's product: lanes below the radius by that alone, or none.
        const __m256 near = _mm256_mul_ps(_mm256_set1_ps(kClenLong), _mm256_max_ps(adx, ady));
        if (_mm256_movemask_ps(_mm256_cmp_ps(near, radius, _CMP_LT_OQ)) == 0) continue;
        const __m256 dy_longer = _mm256_cmp_ps(ady, adx, _CMP_GT_OQ);
        const __m256 len =
            _mm256_add_ps(pinned(_mm256_mul_ps(_mm256_set1_ps(kClenShort), choose_avx2(dy_longer, ady, adx))),
                          pinned(_mm256_mul_ps(_mm256_set1_ps(kClenLong), choose_avx2(dy_longer, adx, ady))));
        const __m256 in = _mm256_and_ps(_mm256_cmp_ps(len, zero, _CMP_GT_OQ), _mm256_cmp_ps(len, radius, _CMP_LT_OQ));
        if (_mm256_movemask_ps(in) == 0) continue;
        const __m256 mx = _mm256_add_ps(cx, pinned(_mm256_mul_ps(_mm256_div_ps(dx, len), radius)));
        const __m256 my = _mm256_add_ps(cy, pinned(_mm256_mul_ps(_mm256_div_ps(dy, len), radius)));
        const __m256 moves = _mm256_and_ps(in, both_finite_avx2(mx, my));
        X = choose_avx2(moves, X, mx), Y = choose_avx2(moves, Y, my), moved = _mm256_or_ps(moved, moves);
    }
    return moved;
}

// Four particles' pairs: x0 y0 x1 y1 | x2 y2 x3 y3.
__attribute__((target("avx2"))) inline __m256 four_pairs(const TCVerlet* const* q) {
    const __m128 lo = _mm_movelh_ps(particle_pair(q[0]), particle_pair(q[1]));
    const __m128 hi = _mm_movelh_ps(particle_pair(q[2]), particle_pair(q[3]));
    return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
}

__attribute__((target("avx2"))) inline void store_four_pairs(TCVerlet* const* q, __m256 v) {
    const __m128 lo = _mm256_castps256_ps128(v), hi = _mm256_extractf128_ps(v, 1);
    store_pair_low(q[0], lo), store_pair_high(q[1], lo), store_pair_low(q[2], hi), store_pair_high(q[3], hi);
}

template <class At>
__attribute__((target("avx2"))) void shapes_over_avx2(size_t count, At at, const TCRules& r) {
    size_t k = 0;
    for (; count - k >= 8; k += 8) {
        TCVerlet* q[8];
        for (unsigned l = 0; l < 8; ++l) q[l] = at(k + l);
        // Lanes x0 x1 x4 x5 | x2 x3 x6 x7: any order does, as long as the stores undo it.
        const __m256 lo = four_pairs(q), hi = four_pairs(q + 4);
        __m256 X = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
        __m256 Y = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
        if (_mm256_movemask_ps(shapes_avx2(X, Y, r)) != 0) {
            store_four_pairs(q, _mm256_unpacklo_ps(X, Y));
            store_four_pairs(q + 4, _mm256_unpackhi_ps(X, Y));
        }
    }
    _mm256_zeroupper();
    shapes_over_sse2(count - k, [&at, k](size_t j) { return at(k + j); }, r);
}

}  // namespace

__attribute__((target("avx2"))) void rule_shapes_avx2(TCVerlet* p, unsigned first, unsigned end, const TCRules& r) {
    shapes_over_avx2(end - first, [base = p + first](size_t k) { return base + k; }, r);
}

__attribute__((target("avx2"))) void rule_shapes_list_avx2(TCVerlet* p, const unsigned* list, unsigned count,
                                                           const TCRules& r) {
    shapes_over_avx2(count, [p, list](size_t k) { return p + list[k]; }, r);
}

#endif
