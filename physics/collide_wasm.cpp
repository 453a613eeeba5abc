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
    unsigned operator()(const CollideGrid& g, unsigned begin, unsigned stop, float x, float y, float r, Contacts& c,
                        unsigned count) const {
        const v128_t vx = wasm_f32x4_splat(x), vy = wasm_f32x4_splat(y), vr = wasm_f32x4_splat(r);
        const v128_t short_side = wasm_f32x4_splat(kClenShort), long_side = wasm_f32x4_splat(kClenLong);
        const v128_t zero = wasm_f32x4_splat(0.0f), halves = wasm_f32x4_splat(0.5f);
        const v128_t lanes = wasm_i32x4_make(0, 1, 2, 3);
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
            const v128_t overlap = wasm_f32x4_sub(reach, len), half = wasm_f32x4_mul(overlap, halves);
            const v128_t dx = pinned(wasm_f32x4_mul(wasm_f32x4_div(to_x, len), half));
            const v128_t dy = pinned(wasm_f32x4_mul(wasm_f32x4_div(to_y, len), half));
            const v128_t pack = wasm_v128_load(kPack.bytes[mask]);
            wasm_v128_store(c.j + count, wasm_i8x16_swizzle(wasm_v128_load(g.ids + k), pack));
            wasm_v128_store(c.dx + count, wasm_i8x16_swizzle(dx, pack));
            wasm_v128_store(c.dy + count, wasm_i8x16_swizzle(dy, pack));
            wasm_v128_store(c.overlap + count, wasm_i8x16_swizzle(overlap, pack));
            count += kPack.count[mask];
            if (count > kContactCapacity) break;
        }
        return count;
    }
};

}  // namespace

float collide_range_simd128(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindSimd128{});
}

#endif
