// The collisions' WebAssembly SIMD128 contact finder: a run of sorted
// candidates tested four at a time against one particle, as the x86 finders
// do (collide_x86.cpp says why the arithmetic is the portable finder's).
// pmin and pmax pick clen's sides: with no NaN among the positions they are
// min and max, in one instruction each under V8 where min and max take three.
// The hit lanes are packed to the front with a byte shuffle from a table.
#include "kernel.h"
#include "collide.h"

#if PHYSICS_WASM_SIMD

#include <cstdint>

namespace {

// For each mask of four lanes: the byte shuffle that packs its set lanes in
// order, and how many there are.
struct PackTable {
    uint8_t bytes[16][16];
    uint8_t count[16];
    constexpr PackTable() : bytes(), count() {
        for (unsigned m = 0; m < 16; ++m) {
            unsigned k = 0;
            for (unsigned lane = 0; lane < 4; ++lane)
                if (m >> lane & 1) {
                    for (unsigned b = 0; b < 4; ++b) bytes[m][4 * k + b] = uint8_t(4 * lane + b);
                    ++k;
                }
            count[m] = uint8_t(k);
        }
    }
};
constexpr PackTable kPack;

struct FindSimd128 {
    v128_t vx, vy, vr;
    void particle(float x, float y, float r) { vx = wasm_f32x4_splat(x), vy = wasm_f32x4_splat(y), vr = wasm_f32x4_splat(r); }
    unsigned find(const CollideGrid& g, unsigned begin, unsigned stop, Contacts& c, unsigned count) const {
        const v128_t short_side = wasm_f32x4_splat(kClenShort), long_side = wasm_f32x4_splat(kClenLong);
        const v128_t zero = wasm_f32x4_splat(0.0f), lanes = wasm_i32x4_make(0, 1, 2, 3);
        for (unsigned k = begin; k < stop; k += 4) {
            const v128_t to_x = wasm_f32x4_sub(wasm_v128_load(g.xs + k), vx);
            const v128_t to_y = wasm_f32x4_sub(wasm_v128_load(g.ys + k), vy);
            const v128_t ax = wasm_f32x4_abs(to_x), ay = wasm_f32x4_abs(to_y);
            const v128_t len = wasm_f32x4_add(pinned(wasm_f32x4_mul(short_side, wasm_f32x4_pmin(ax, ay))),
                                              pinned(wasm_f32x4_mul(long_side, wasm_f32x4_pmax(ax, ay))));
            const v128_t reach = wasm_f32x4_add(wasm_v128_load(g.rs + k), vr);
            const v128_t live = wasm_i32x4_gt(wasm_i32x4_splat(int(stop - k)), lanes);
            const v128_t hit = wasm_v128_and(live, wasm_v128_and(wasm_f32x4_gt(len, zero), wasm_f32x4_lt(len, reach)));
            const unsigned mask = unsigned(wasm_i32x4_bitmask(hit));
            if (mask == 0) continue;
            const v128_t pack = wasm_v128_load(kPack.bytes[mask]);
            wasm_v128_store(c.j + count, wasm_i8x16_swizzle(wasm_v128_load(g.ids + k), pack));
            wasm_v128_store(c.to_x + count, wasm_i8x16_swizzle(to_x, pack));
            wasm_v128_store(c.to_y + count, wasm_i8x16_swizzle(to_y, pack));
            wasm_v128_store(c.len + count, wasm_i8x16_swizzle(len, pack));
            wasm_v128_store(c.overlap + count, wasm_i8x16_swizzle(wasm_f32x4_sub(reach, len), pack));
            count += kPack.count[mask];
            if (count > kContactCapacity) break;
        }
        return count;
    }
    void moves(Contacts& c, unsigned count) const {
        for (unsigned k = 0; k < count; k += 4) {
            const v128_t len = wasm_v128_load(c.len + k);
            const v128_t half = wasm_f32x4_mul(wasm_v128_load(c.overlap + k), wasm_f32x4_splat(0.5f));
            wasm_v128_store(c.to_x + k, pinned(wasm_f32x4_mul(wasm_f32x4_div(wasm_v128_load(c.to_x + k), len), half)));
            wasm_v128_store(c.to_y + k, pinned(wasm_f32x4_mul(wasm_f32x4_div(wasm_v128_load(c.to_y + k), len), half)));
        }
    }
};

}  // namespace

float collide_range_simd128(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindSimd128{});
}

#endif
