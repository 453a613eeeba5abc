// The WebAssembly SIMD128 group code of spring_pass, the bits of spring_force.
//
// Unlike the x86 code, which keeps each spring as an (x, y) pair and works out
// its length in both lanes, a register here holds one coordinate of four
// springs: X = ax0 ax1 ax2 ax3, and so on. Every lane then does useful work
// and no lane needs copying into another, which counts where an engine
// compiles each operation about as it comes. Each particle's x and y still
// come in as one 8-byte load (they lie side by side) and are split and
// rejoined with shuffles that engines compile to one unpack or shuffle each.
// The springs of a group share no particle, so their stores and loads are
// independent; a spring whose ends are one particle never moves (its length
// is 0 or NaN) and stores what it loaded.
// Elsewhere than in WebAssembly this file is empty: it parses no intrinsics there.
#include "kernel.h"

#if PHYSICS_WASM_SIMD

#include "kernel_simd.h"

namespace {

// Four particles' positions as x and y registers.
struct Ends {
    v128_t x, y;
};

// Index k of four, kept a scalar: the compiler would load all four as one
// vector and take its lanes apart, which costs the engine more than four loads.
inline unsigned scalar_index(const unsigned* index, int k) {
    unsigned i = index[k];
    __asm__("" : "+r"(i));
    return i;
}

inline Ends load_ends(const TCVerlet* p, const unsigned* index) {
    const v128_t p01 = wasm_v128_load64_lane(pair_at(p, scalar_index(index, 1)),
                                             wasm_v128_load64_zero(pair_at(p, scalar_index(index, 0))), 1);
    const v128_t p23 = wasm_v128_load64_lane(pair_at(p, scalar_index(index, 3)),
                                             wasm_v128_load64_zero(pair_at(p, scalar_index(index, 2))), 1);
    return Ends{wasm_i32x4_shuffle(p01, p23, 0, 2, 4, 6), wasm_i32x4_shuffle(p01, p23, 1, 3, 5, 7)};
}

inline void store_ends(TCVerlet* p, const unsigned* index, Ends e) {
    const v128_t p01 = wasm_i32x4_shuffle(e.x, e.y, 0, 4, 1, 5);
    const v128_t p23 = wasm_i32x4_shuffle(e.x, e.y, 2, 6, 3, 7);
    wasm_v128_store64_lane(pair_at(p, index[0]), p01, 0);
    wasm_v128_store64_lane(pair_at(p, index[1]), p01, 1);
    wasm_v128_store64_lane(pair_at(p, index[2]), p23, 0);
    wasm_v128_store64_lane(pair_at(p, index[3]), p23, 1);
}

inline v128_t load_rest(const TCSpring* springs, const unsigned* index) {
    return wasm_f32x4_make(rest_at(springs, index[0]), rest_at(springs, index[1]), rest_at(springs, index[2]),
                           rest_at(springs, index[3]));
}

// x - x is 0 for a finite x and NaN otherwise.
inline v128_t finite_probe(v128_t v) { return wasm_f32x4_sub(v, v); }

// Moves four springs towards their rest lengths R; returns their |error|.
inline v128_t move_springs(Ends& a, Ends& b, v128_t R) {
    const v128_t dx = wasm_f32x4_sub(b.x, a.x), dy = wasm_f32x4_sub(b.y, a.y);
    const v128_t adx = wasm_f32x4_abs(dx), ady = wasm_f32x4_abs(dy);
    // dy > dx takes dx as the short side, otherwise (NaN too) dy: exactly
    // what pmin(dy, dx) = dx < dy ? dx : dy and pmax(dx, dy) pick, one
    // instruction each where a select is three.
    const v128_t shorter = wasm_f32x4_pmin(ady, adx);
    const v128_t longer = wasm_f32x4_pmax(adx, ady);
    const v128_t len = wasm_f32x4_add(pinned(wasm_f32x4_mul(wasm_f32x4_splat(kClenShort), shorter)),
                                      pinned(wasm_f32x4_mul(wasm_f32x4_splat(kClenLong), longer)));
    const v128_t err = wasm_f32x4_sub(R, len);
    const v128_t half = wasm_f32x4_splat(0.5f);
    const v128_t mx = pinned(wasm_f32x4_mul(wasm_f32x4_mul(wasm_f32x4_div(dx, len), err), half));
    const v128_t my = pinned(wasm_f32x4_mul(wasm_f32x4_mul(wasm_f32x4_div(dy, len), err), half));
    const Ends na{wasm_f32x4_sub(a.x, mx), wasm_f32x4_sub(a.y, my)};
    const Ends nb{wasm_f32x4_add(b.x, mx), wasm_f32x4_add(b.y, my)};
    // The sum of the four probes is 0 exactly when all four are finite.
    const v128_t t = wasm_f32x4_add(wasm_f32x4_add(finite_probe(na.x), finite_probe(na.y)),
                                    wasm_f32x4_add(finite_probe(nb.x), finite_probe(nb.y)));
    const v128_t moves = wasm_v128_and(wasm_f32x4_eq(t, wasm_f32x4_splat(0.0f)),
                                       wasm_f32x4_gt(len, wasm_f32x4_splat(0.0f)));
    a.x = wasm_v128_bitselect(na.x, a.x, moves);
    a.y = wasm_v128_bitselect(na.y, a.y, moves);
    b.x = wasm_v128_bitselect(nb.x, b.x, moves);
    b.y = wasm_v128_bitselect(nb.y, b.y, moves);
    return wasm_f32x4_abs(err);
}

}  // namespace

float spring_groups_simd128(TCVerlet* p, const TCSpring* springs, const unsigned* groups, unsigned count) {
    static_assert(kGroupWidth % 4 == 0, "a group is registers of four springs");
    // pmax(largest, e) is largest < e ? e : largest: a NaN error is left out.
    v128_t largest = wasm_f32x4_splat(0.0f);
    for (unsigned k = 0; k < count; ++k, groups += kGroupWords)
        for (unsigned l = 0; l < kGroupWidth; l += 4) {
            const unsigned* ia = groups + kGroupWidth + l;
            const unsigned* ib = groups + 2 * kGroupWidth + l;
            Ends a = load_ends(p, ia), b = load_ends(p, ib);
            largest = wasm_f32x4_pmax(largest, move_springs(a, b, load_rest(springs, groups + l)));
            store_ends(p, ia, a);
            store_ends(p, ib, b);
        }
    largest = wasm_f32x4_pmax(largest, wasm_i32x4_shuffle(largest, largest, 2, 3, 0, 1));
    largest = wasm_f32x4_pmax(largest, wasm_i32x4_shuffle(largest, largest, 1, 0, 3, 2));
    return wasm_f32x4_extract_lane(largest, 0);
}

#endif
