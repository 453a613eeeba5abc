// The collisions' WebAssembly SIMD128 contact finder: a run of sorted
// candidates tested four at a time against one particle, as the x86 finders
// do (collide_x86.cpp says why the arithmetic is the portable finder's).
// pmin and pmax pick clen's sides: with no NaN among the positions they are
// min and max, in one instruction each under V8 where min and max take three.
// The hit lanes are packed behind those held with a byte shuffle from a table.
// Elsewhere than in WebAssembly this file is empty: it parses no intrinsics there.
#include "kernel.h"

#if PHYSICS_WASM_SIMD

#include "kernel_simd.h"
#include "collide.h"

#include <cstdint>

namespace {

// For each mask of four lanes and each count of lanes already held: the byte
// shuffle that packs the mask's lanes in order into the lanes after those
// held, and how many the mask has.
struct PackTable {
    uint8_t bytes[16][4][16];
    uint8_t count[16];
    constexpr PackTable() : bytes(), count() {
        for (unsigned m = 0; m < 16; ++m) {
            unsigned k = 0;
            for (unsigned lane = 0; lane < 4; ++lane)
                if (m >> lane & 1) {
                    for (unsigned held = 0; held + k < 4; ++held)
                        for (unsigned b = 0; b < 4; ++b) bytes[m][held][4 * (held + k) + b] = uint8_t(4 * lane + b);
                    ++k;
                }
            count[m] = uint8_t(k);
        }
    }
};
constexpr PackTable kPack;

// A particle's contacts are kept in registers, packed, until four are held,
// as the AVX2 finder does (collide_x86.cpp says why). The registers start at
// 0 and keep defined values.
struct FindSimd128 {
    v128_t tx, ty, len, overlap, j;
    unsigned held, stored;  // contacts in the registers, and in c before them; both 0 between particles
    v128_t vx, vy, vr;      // the particle

    void particle(float x, float y, float r) { vx = wasm_f32x4_splat(x), vy = wasm_f32x4_splat(y), vr = wasm_f32x4_splat(r); }
    void spill(Contacts& c) {
        const v128_t half = wasm_f32x4_mul(overlap, wasm_f32x4_splat(0.5f));
        wasm_v128_store(c.j + stored, j);
        wasm_v128_store(c.to_x + stored, pinned(wasm_f32x4_mul(wasm_f32x4_div(tx, len), half)));
        wasm_v128_store(c.to_y + stored, pinned(wasm_f32x4_mul(wasm_f32x4_div(ty, len), half)));
        wasm_v128_store(c.overlap + stored, overlap);
        stored += held, held = 0;
    }
    unsigned find(const CollideGrid& g, unsigned begin, unsigned stop, Contacts& c, unsigned count) {
        const v128_t short_side = wasm_f32x4_splat(kClenShort), long_side = wasm_f32x4_splat(kClenLong);
        const v128_t zero = wasm_f32x4_splat(0.0f), lanes = wasm_i32x4_make(0, 1, 2, 3);
        for (unsigned k = begin; k < stop; k += 4) {
            const v128_t to_x = wasm_f32x4_sub(wasm_v128_load(g.xs + k), vx);
            const v128_t to_y = wasm_f32x4_sub(wasm_v128_load(g.ys + k), vy);
            const v128_t ax = wasm_f32x4_abs(to_x), ay = wasm_f32x4_abs(to_y);
            const v128_t l = wasm_f32x4_add(pinned(wasm_f32x4_mul(short_side, wasm_f32x4_pmin(ax, ay))),
                                            pinned(wasm_f32x4_mul(long_side, wasm_f32x4_pmax(ax, ay))));
            const v128_t reach = wasm_f32x4_add(wasm_v128_load(g.rs + k), vr);
            const v128_t live = wasm_i32x4_gt(wasm_i32x4_splat(int(stop - k)), lanes);
            const v128_t hit = wasm_v128_and(live, wasm_v128_and(wasm_f32x4_gt(l, zero), wasm_f32x4_lt(l, reach)));
            const unsigned mask = unsigned(wasm_i32x4_bitmask(hit));
            if (mask == 0) continue;
            const unsigned found = kPack.count[mask];
            if (held + found > 4) spill(c);
            const v128_t pack = wasm_v128_load(kPack.bytes[mask][held]);
            const v128_t keep = wasm_i32x4_gt(wasm_i32x4_splat(int(held)), lanes);
            j = wasm_v128_bitselect(j, wasm_i8x16_swizzle(wasm_v128_load(g.ids + k), pack), keep);
            tx = wasm_v128_bitselect(tx, wasm_i8x16_swizzle(to_x, pack), keep);
            ty = wasm_v128_bitselect(ty, wasm_i8x16_swizzle(to_y, pack), keep);
            len = wasm_v128_bitselect(len, wasm_i8x16_swizzle(l, pack), keep);
            overlap = wasm_v128_bitselect(overlap, wasm_i8x16_swizzle(wasm_f32x4_sub(reach, l), pack), keep);
            held += found, count += found;
            if (count > kContactCapacity) break;
        }
        return count;
    }
    void moves(Contacts& c, unsigned) {
        if (held > 0) spill(c);
        stored = 0;
    }
};

}  // namespace

float collide_range_simd128(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindSimd128{});
}

#endif
