// The collisions' SSE2, AVX2 and AVX-512 contact finders: a run of sorted
// candidates tested a register at a time against one particle, the contacts
// packed into its list in the order found (collide_sum adds them up in
// increasing index); then each contact's move, a register of contacts at a
// time, so that a particle pays for its divisions once, not once a run. The
// arithmetic is the portable finder's, lane by lane: clen's longer and
// shorter side taken by max and min (the positions are finite, so no NaN
// reaches them).
#include "kernel_simd.h"
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
    __m128 vx, vy, vr;
    void particle(float x, float y, float r) { vx = _mm_set1_ps(x), vy = _mm_set1_ps(y), vr = _mm_set1_ps(r); }
    unsigned find(const CollideGrid& g, unsigned begin, unsigned stop, Contacts& c, unsigned count) const {
        const __m128 zero = _mm_setzero_ps(), sign = _mm_set1_ps(-0.0f);
        const __m128 short_side = _mm_set1_ps(kClenShort), long_side = _mm_set1_ps(kClenLong);
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
            alignas(16) float tx[4], ty[4], l[4], over[4];
            _mm_store_ps(tx, to_x), _mm_store_ps(ty, to_y), _mm_store_ps(l, len), _mm_store_ps(over, _mm_sub_ps(reach, len));
            for (; mask != 0; mask &= mask - 1, ++count) {
                const unsigned lane = unsigned(__builtin_ctz(mask));
                c.j[count] = g.ids[k + lane], c.to_x[count] = tx[lane], c.to_y[count] = ty[lane];
                c.len[count] = l[lane], c.overlap[count] = over[lane];
            }
            if (count > kContactCapacity) break;
        }
        return count;
    }
    // One at a time: a register loaded over the lanes stored one by one above
    // would wait for all of those stores.
    void moves(Contacts& c, unsigned count) const {
        for (unsigned k = 0; k < count; ++k)
            c.to_x[k] = contact_move(c.to_x[k], c.len[k], c.overlap[k]), c.to_y[k] = contact_move(c.to_y[k], c.len[k], c.overlap[k]);
    }
};

// The registers start at 0 (FindAvx2{}) and keep defined values: a lane
// held never comes from a register read before it was set.
struct FindAvx2 {
    __m256 tx, ty, len, overlap;
    __m256i j;
    unsigned held, stored;  // contacts in the registers, and in c before them; both 0 between particles
    __m256 vx, vy, vr;      // the particle

    __attribute__((target("avx2"))) void particle(float x, float y, float r) {
        vx = _mm256_set1_ps(x), vy = _mm256_set1_ps(y), vr = _mm256_set1_ps(r);
    }

    // The moves of the contacts held, stored after those stored before.
    __attribute__((target("avx2"))) void spill(Contacts& c) {
        const __m256 half = _mm256_mul_ps(overlap, _mm256_set1_ps(0.5f));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.j + stored), j);
        _mm256_storeu_ps(c.to_x + stored, pinned(_mm256_mul_ps(_mm256_div_ps(tx, len), half)));
        _mm256_storeu_ps(c.to_y + stored, pinned(_mm256_mul_ps(_mm256_div_ps(ty, len), half)));
        _mm256_storeu_ps(c.overlap + stored, overlap);
        stored += held, held = 0;
    }
    __attribute__((target("avx2"))) unsigned find(const CollideGrid& g, unsigned begin, unsigned stop, Contacts& c,
                                                   unsigned count) {
        const __m256 sign = _mm256_set1_ps(-0.0f), short_side = _mm256_set1_ps(kClenShort);
        const __m256 long_side = _mm256_set1_ps(kClenLong), zero = _mm256_setzero_ps();
        const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        for (unsigned k = begin; k < stop; k += 8) {
            const __m256 to_x = _mm256_sub_ps(_mm256_loadu_ps(g.xs + k), vx);
            const __m256 to_y = _mm256_sub_ps(_mm256_loadu_ps(g.ys + k), vy);
            const __m256 ax = _mm256_andnot_ps(sign, to_x), ay = _mm256_andnot_ps(sign, to_y);
            const __m256 l = _mm256_add_ps(pinned(_mm256_mul_ps(short_side, _mm256_min_ps(ax, ay))),
                                           pinned(_mm256_mul_ps(long_side, _mm256_max_ps(ax, ay))));
            const __m256 reach = _mm256_add_ps(_mm256_loadu_ps(g.rs + k), vr);
            const __m256 live = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(int(stop - k)), lanes));
            const __m256 hit = _mm256_and_ps(
                live, _mm256_and_ps(_mm256_cmp_ps(l, zero, _CMP_GT_OQ), _mm256_cmp_ps(l, reach, _CMP_LT_OQ)));
            const unsigned mask = unsigned(_mm256_movemask_ps(hit));
            if (mask == 0) continue;
            const unsigned found = kPack.count[mask];
            if (held + found > 8) spill(c);
            // The hit lanes packed in order and moved up past those held.
            const __m256i packed = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.lanes + mask)));
            const __m256i after = _mm256_sub_epi32(lanes, _mm256_set1_epi32(int(held)));
            const __m256i at = _mm256_permutevar8x32_epi32(packed, _mm256_and_si256(after, _mm256_set1_epi32(7)));
            const __m256 keep = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(int(held)), lanes));
            const __m256i ids = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g.ids + k));
            j = _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(ids, at)),
                                                     _mm256_castsi256_ps(j), keep));
            tx = _mm256_blendv_ps(_mm256_permutevar8x32_ps(to_x, at), tx, keep);
            ty = _mm256_blendv_ps(_mm256_permutevar8x32_ps(to_y, at), ty, keep);
            len = _mm256_blendv_ps(_mm256_permutevar8x32_ps(l, at), len, keep);
            overlap = _mm256_blendv_ps(_mm256_permutevar8x32_ps(_mm256_sub_ps(reach, l), at), overlap, keep);
            held += found, count += found;
            if (count > kContactCapacity) break;
        }
        return count;
    }
    __attribute__((target("avx2"))) void moves(Contacts& c, unsigned) {
        if (held > 0) spill(c);
        stored = 0;
    }
};

struct FindAvx512 {
    __m512 tx, ty, len, overlap;
    __m512i j;
    unsigned held, stored;
    __m512 vx, vy, vr;

    __attribute__((target("avx512f"))) void particle(float x, float y, float r) {
        vx = _mm512_set1_ps(x), vy = _mm512_set1_ps(y), vr = _mm512_set1_ps(r);
    }

    __attribute__((target("avx512f"))) void spill(Contacts& c) {
        const __m512 half = _mm512_mul_ps(overlap, _mm512_set1_ps(0.5f));
        _mm512_storeu_si512(c.j + stored, j);
        _mm512_storeu_ps(c.to_x + stored, pinned(_mm512_mul_ps(_mm512_div_ps(tx, len), half)));
        _mm512_storeu_ps(c.to_y + stored, pinned(_mm512_mul_ps(_mm512_div_ps(ty, len), half)));
        _mm512_storeu_ps(c.overlap + stored, overlap);
        stored += held, held = 0;
    }
    __attribute__((target("avx512f"))) unsigned find(const CollideGrid& g, unsigned begin, unsigned stop, Contacts& c,
                                                      unsigned count) {
        const __m512 short_side = _mm512_set1_ps(kClenShort), long_side = _mm512_set1_ps(kClenLong);
        const __m512 zero = _mm512_setzero_ps();
        for (unsigned k = begin; k < stop; k += 16) {
            const unsigned left = stop - k;
            const __mmask16 live = __mmask16(left >= 16 ? 0xFFFFu : (1u << left) - 1);
            const __m512 to_x = _mm512_sub_ps(_mm512_loadu_ps(g.xs + k), vx);
            const __m512 to_y = _mm512_sub_ps(_mm512_loadu_ps(g.ys + k), vy);
            const __m512 ax = _mm512_abs_ps(to_x), ay = _mm512_abs_ps(to_y);
            const __m512 l = _mm512_add_ps(pinned(_mm512_mul_ps(short_side, _mm512_min_ps(ax, ay))),
                                           pinned(_mm512_mul_ps(long_side, _mm512_max_ps(ax, ay))));
            const __m512 reach = _mm512_add_ps(_mm512_loadu_ps(g.rs + k), vr);
            const __mmask16 hit =
                _mm512_mask_cmp_ps_mask(_mm512_mask_cmp_ps_mask(live, l, zero, _CMP_GT_OQ), l, reach, _CMP_LT_OQ);
            if (hit == 0) continue;
            const unsigned found = kPack.count[hit & 255u] + kPack.count[hit >> 8];
            if (held + found > 16) spill(c);
            // The hit lanes expanded into the lanes after those held, in order.
            const __mmask16 into = __mmask16(((1u << found) - 1) << held);
            j = _mm512_mask_expand_epi32(j, into, _mm512_maskz_compress_epi32(hit, _mm512_loadu_si512(g.ids + k)));
            tx = _mm512_mask_expand_ps(tx, into, _mm512_maskz_compress_ps(hit, to_x));
            ty = _mm512_mask_expand_ps(ty, into, _mm512_maskz_compress_ps(hit, to_y));
            len = _mm512_mask_expand_ps(len, into, _mm512_maskz_compress_ps(hit, l));
            overlap = _mm512_mask_expand_ps(overlap, into, _mm512_maskz_compress_ps(hit, _mm512_sub_ps(reach, l)));
            held += found, count += found;
            if (count > kContactCapacity) break;
        }
        return count;
    }
    __attribute__((target("avx512f"))) void moves(Contacts& c, unsigned) {
        if (held > 0) spill(c);
        stored = 0;
    }
};

}  // namespace

float collide_range_sse2(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindSse2{});
}

__attribute__((target("avx2"), flatten)) float collide_range_avx2(const CollideGrid& g, TCVerlet* particles, unsigned first,
                                                          unsigned end) {
    return collide_range(g, particles, first, end, FindAvx2{});
}

__attribute__((target("avx512f"), flatten)) float collide_range_avx512(const CollideGrid& g, TCVerlet* particles,
                                                               unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindAvx512{});
}

#endif
