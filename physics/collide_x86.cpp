// The collisions' SSE2, AVX2 and AVX-512 contact finders: a run of sorted
// candidates tested a register at a time against one particle, the contacts
// packed into its list in the order found (collide_finish sums them in
// increasing index). The arithmetic is the portable finder's, lane by lane:
// clen's longer and shorter side taken by max and min (the positions are
// finite, so no NaN reaches them), and half the overlap as a product by 0.5,
// which gives the bits of dividing by 2.
#include "kernel.h"
#include "collide.h"

#if PHYSICS_X86

#include <cstdint>

// GCC 12's AVX-512 intrinsics pass an uninitialised register as the unused
// merge source of their masked builtins, and -Wall then warns inside its own
// header about code that is correct.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// For each mask of eight lanes: its set lanes in order, a byte each, and how many.
struct PackTable {
    uint64_t lanes[256];
    uint8_t count[256];
    constexpr PackTable() : lanes(), count() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned k = 0;
            for (unsigned lane = 0; lane < 8; ++lane)
                if (m >> lane & 1) lanes[m] |= uint64_t(lane) << (8 * k++);
            count[m] = uint8_t(k);
        }
    }
};
constexpr PackTable kPack;

struct FindSse2 {
    unsigned operator()(const CollideGrid& g, unsigned begin, unsigned stop, float x, float y, float r, Contacts& c,
                        unsigned count) const {
        const __m128 vx = _mm_set1_ps(x), vy = _mm_set1_ps(y), vr = _mm_set1_ps(r), zero = _mm_setzero_ps();
        const __m128 sign = _mm_set1_ps(-0.0f), short_side = _mm_set1_ps(kClenShort), long_side = _mm_set1_ps(kClenLong);
        const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
        for (unsigned k = begin; k < stop; k += 4) {
            const __m128 to_x = _mm_sub_ps(_mm_loadu_ps(g.xs + k), vx), to_y = _mm_sub_ps(_mm_loadu_ps(g.ys + k), vy);
            const __m128 ax = _mm_andnot_ps(sign, to_x), ay = _mm_andnot_ps(sign, to_y);
            const __m128 len = _mm_add_ps(pinned(_mm_mul_ps(short_side, _mm_min_ps(ax, ay))),
                                          pinned(_mm_mul_ps(long_side, _mm_max_ps(ax, ay))));
            const __m128 reach = _mm_add_ps(_mm_loadu_ps(g.rs + k), vr);
            const __m128 live = _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_set1_epi32(int(stop - k)), lanes));
            const __m128 hit = _mm_and_ps(live, _mm_and_ps(_mm_cmpgt_ps(len, zero), _mm_cmplt_ps(len, reach)));
            unsigned mask = unsigned(_mm_movemask_ps(hit));
            if (mask == 0) continue;
            const __m128 overlap = _mm_sub_ps(reach, len), half = _mm_mul_ps(overlap, _mm_set1_ps(0.5f));
            alignas(16) float dx[4], dy[4], over[4];
            _mm_store_ps(dx, pinned(_mm_mul_ps(_mm_div_ps(to_x, len), half)));
            _mm_store_ps(dy, pinned(_mm_mul_ps(_mm_div_ps(to_y, len), half)));
            _mm_store_ps(over, overlap);
            for (; mask != 0; mask &= mask - 1, ++count) {
                const unsigned lane = unsigned(__builtin_ctz(mask));
                c.j[count] = g.ids[k + lane], c.dx[count] = dx[lane], c.dy[count] = dy[lane], c.overlap[count] = over[lane];
            }
            if (count > kContactCapacity) break;
        }
        return count;
    }
};

struct FindAvx2 {
    __attribute__((target("avx2"))) unsigned operator()(const CollideGrid& g, unsigned begin, unsigned stop, float x,
                                                         float y, float r, Contacts& c, unsigned count) const {
        const __m256 vx = _mm256_set1_ps(x), vy = _mm256_set1_ps(y), vr = _mm256_set1_ps(r);
        const __m256 sign = _mm256_set1_ps(-0.0f), short_side = _mm256_set1_ps(kClenShort);
        const __m256 long_side = _mm256_set1_ps(kClenLong), zero = _mm256_setzero_ps();
        const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        for (unsigned k = begin; k < stop; k += 8) {
            const __m256 to_x = _mm256_sub_ps(_mm256_loadu_ps(g.xs + k), vx);
            const __m256 to_y = _mm256_sub_ps(_mm256_loadu_ps(g.ys + k), vy);
            const __m256 ax = _mm256_andnot_ps(sign, to_x), ay = _mm256_andnot_ps(sign, to_y);
            const __m256 len = _mm256_add_ps(pinned(_mm256_mul_ps(short_side, _mm256_min_ps(ax, ay))),
                                             pinned(_mm256_mul_ps(long_side, _mm256_max_ps(ax, ay))));
            const __m256 reach = _mm256_add_ps(_mm256_loadu_ps(g.rs + k), vr);
            const __m256 live = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(int(stop - k)), lanes));
            const __m256 hit = _mm256_and_ps(
                live, _mm256_and_ps(_mm256_cmp_ps(len, zero, _CMP_GT_OQ), _mm256_cmp_ps(len, reach, _CMP_LT_OQ)));
            const unsigned mask = unsigned(_mm256_movemask_ps(hit));
            if (mask == 0) continue;
            const __m256 overlap = _mm256_sub_ps(reach, len), half = _mm256_mul_ps(overlap, _mm256_set1_ps(0.5f));
            const __m256 dx = pinned(_mm256_mul_ps(_mm256_div_ps(to_x, len), half));
            const __m256 dy = pinned(_mm256_mul_ps(_mm256_div_ps(to_y, len), half));
            // The hit lanes packed to the front, in order.
            const __m256i pack = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.lanes + mask)));
            const __m256i ids = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g.ids + k));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.j + count), _mm256_permutevar8x32_epi32(ids, pack));
            _mm256_storeu_ps(c.dx + count, _mm256_permutevar8x32_ps(dx, pack));
            _mm256_storeu_ps(c.dy + count, _mm256_permutevar8x32_ps(dy, pack));
            _mm256_storeu_ps(c.overlap + count, _mm256_permutevar8x32_ps(overlap, pack));
            count += kPack.count[mask];
            if (count > kContactCapacity) break;
        }
        return count;
    }
};

struct FindAvx512 {
    __attribute__((target("avx512f"))) unsigned operator()(const CollideGrid& g, unsigned begin, unsigned stop, float x,
                                                            float y, float r, Contacts& c, unsigned count) const {
        const __m512 vx = _mm512_set1_ps(x), vy = _mm512_set1_ps(y), vr = _mm512_set1_ps(r);
        const __m512 short_side = _mm512_set1_ps(kClenShort), long_side = _mm512_set1_ps(kClenLong);
        const __m512 zero = _mm512_setzero_ps(), halves = _mm512_set1_ps(0.5f);
        for (unsigned k = begin; k < stop; k += 16) {
            const unsigned left = stop - k;
            const __mmask16 live = __mmask16(left >= 16 ? 0xFFFFu : (1u << left) - 1);
            const __m512 to_x = _mm512_sub_ps(_mm512_loadu_ps(g.xs + k), vx);
            const __m512 to_y = _mm512_sub_ps(_mm512_loadu_ps(g.ys + k), vy);
            const __m512 ax = _mm512_abs_ps(to_x), ay = _mm512_abs_ps(to_y);
            const __m512 len = _mm512_add_ps(pinned(_mm512_mul_ps(short_side, _mm512_min_ps(ax, ay))),
                                             pinned(_mm512_mul_ps(long_side, _mm512_max_ps(ax, ay))));
            const __m512 reach = _mm512_add_ps(_mm512_loadu_ps(g.rs + k), vr);
            const __mmask16 hit =
                _mm512_mask_cmp_ps_mask(_mm512_mask_cmp_ps_mask(live, len, zero, _CMP_GT_OQ), len, reach, _CMP_LT_OQ);
            if (hit == 0) continue;
            const __m512 overlap = _mm512_sub_ps(reach, len), half = _mm512_mul_ps(overlap, halves);
            const __m512 dx = pinned(_mm512_mul_ps(_mm512_div_ps(to_x, len), half));
            const __m512 dy = pinned(_mm512_mul_ps(_mm512_div_ps(to_y, len), half));
            _mm512_mask_compressstoreu_epi32(c.j + count, hit, _mm512_loadu_si512(g.ids + k));
            _mm512_mask_compressstoreu_ps(c.dx + count, hit, dx);
            _mm512_mask_compressstoreu_ps(c.dy + count, hit, dy);
            _mm512_mask_compressstoreu_ps(c.overlap + count, hit, overlap);
            count += kPack.count[hit & 255u] + kPack.count[hit >> 8];
            if (count > kContactCapacity) break;
        }
        return count;
    }
};

}  // namespace

float collide_range_sse2(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindSse2{});
}

__attribute__((target("avx2"))) float collide_range_avx2(const CollideGrid& g, TCVerlet* particles, unsigned first,
                                                          unsigned end) {
    return collide_range(g, particles, first, end, FindAvx2{});
}

__attribute__((target("avx512f"))) float collide_range_avx512(const CollideGrid& g, TCVerlet* particles,
                                                               unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindAvx512{});
}

#endif
