// The WebAssembly SIMD128 code for the planes and circles of the rules: four
// particles a register, each lane the bits of kernel.h's plane_move and
// circle_move, as the x86 code (rules_x86.cpp) does it.
// Elsewhere than in WebAssembly this file is empty: it parses no intrinsics there.
#include "kernel.h"

#if PHYSICS_WASM_SIMD

#include "kernel_simd.h"

namespace {

// x - x is 0 for a finite x and NaN otherwise.
inline v128_t both_finite(v128_t x, v128_t y) {
    return wasm_f32x4_eq(wasm_f32x4_add(wasm_f32x4_sub(x, x), wasm_f32x4_sub(y, y)), wasm_f32x4_splat(0.0f));
}

inline v128_t shapes_simd128(v128_t& X, v128_t& Y, const TCRules& r) {
    v128_t moved = wasm_i32x4_splat(0);
    for (unsigned k = 0; k < r.plane_count; ++k) {
        const v128_t nx = wasm_f32x4_splat(r.planes[k].nx), ny = wasm_f32x4_splat(r.planes[k].ny);
        const v128_t d = wasm_f32x4_splat(r.planes[k].d);
        const v128_t t = wasm_f32x4_add(pinned(wasm_f32x4_mul(nx, X)), pinned(wasm_f32x4_mul(ny, Y)));
        const v128_t in = wasm_f32x4_lt(t, d);
        if (!wasm_v128_any_true(in)) continue;
        const v128_t pen = wasm_f32x4_sub(d, t);
        const v128_t mx = wasm_f32x4_add(X, pinned(wasm_f32x4_mul(nx, pen)));
        const v128_t my = wasm_f32x4_add(Y, pinned(wasm_f32x4_mul(ny, pen)));
        const v128_t moves = wasm_v128_and(in, both_finite(mx, my));
        X = wasm_v128_bitselect(mx, X, moves), Y = wasm_v128_bitselect(my, Y, moves);
        moved = wasm_v128_or(moved, moves);
    }
    for (unsigned k = 0; k < r.circle_count; ++k) {
        const v128_t cx = wasm_f32x4_splat(r.circles[k].x), cy = wasm_f32x4_splat(r.circles[k].y);
        const v128_t radius = wasm_f32x4_splat(r.circles[k].radius);
        const v128_t dx = wasm_f32x4_sub(X, cx), dy = wasm_f32x4_sub(Y, cy);
        const v128_t adx = wasm_f32x4_abs(dx), ady = wasm_f32x4_abs(dy);
        // clen is at least its longer side's product: lanes below the radius by that alone, or none.
        if (!wasm_v128_any_true(wasm_f32x4_lt(wasm_f32x4_mul(wasm_f32x4_splat(kClenLong), wasm_f32x4_pmax(adx, ady)),
                                              radius)))
            continue;
        // As in spring_groups_wasm.cpp: pmin(dy, dx) and pmax(dx, dy) pick clen's sides, NaN too.
        const v128_t len = wasm_f32x4_add(pinned(wasm_f32x4_mul(wasm_f32x4_splat(kClenShort), wasm_f32x4_pmin(ady, adx))),
                                          pinned(wasm_f32x4_mul(wasm_f32x4_splat(kClenLong), wasm_f32x4_pmax(adx, ady))));
        const v128_t in = wasm_v128_and(wasm_f32x4_gt(len, wasm_f32x4_splat(0.0f)), wasm_f32x4_lt(len, radius));
        if (!wasm_v128_any_true(in)) continue;
        const v128_t mx = wasm_f32x4_add(cx, pinned(wasm_f32x4_mul(wasm_f32x4_div(dx, len), radius)));
        const v128_t my = wasm_f32x4_add(cy, pinned(wasm_f32x4_mul(wasm_f32x4_div(dy, len), radius)));
        const v128_t moves = wasm_v128_and(in, both_finite(mx, my));
        X = wasm_v128_bitselect(mx, X, moves), Y = wasm_v128_bitselect(my, Y, moves);
        moved = wasm_v128_or(moved, moves);
    }
    return moved;
}


// Planes and circles on `count` particles, the k-th at(k).
template <class At>
void shapes_over_simd128(size_t count, At at, const TCRules& r) {
    size_t k = 0;
    for (; count - k >= 4; k += 4) {
        float *p0 = &at(k)->x, *p1 = &at(k + 1)->x, *p2 = &at(k + 2)->x, *p3 = &at(k + 3)->x;
        const v128_t p01 = wasm_v128_load64_lane(p1, wasm_v128_load64_zero(p0), 1);
        const v128_t p23 = wasm_v128_load64_lane(p3, wasm_v128_load64_zero(p2), 1);
        v128_t X = wasm_i32x4_shuffle(p01, p23, 0, 2, 4, 6), Y = wasm_i32x4_shuffle(p01, p23, 1, 3, 5, 7);
        if (!wasm_v128_any_true(shapes_simd128(X, Y, r))) continue;
        const v128_t q01 = wasm_i32x4_shuffle(X, Y, 0, 4, 1, 5), q23 = wasm_i32x4_shuffle(X, Y, 2, 6, 3, 7);
        wasm_v128_store64_lane(p0, q01, 0);
        wasm_v128_store64_lane(p1, q01, 1);
        wasm_v128_store64_lane(p2, q23, 0);
        wasm_v128_store64_lane(p3, q23, 1);
    }
    for (; k < count; ++k) shapes_move(at(k)->x, at(k)->y, r);
}

}  // namespace

void rule_shapes_simd128(TCVerlet* p, unsigned first, unsigned end, const TCRules& r) {
    shapes_over_simd128(end - first, [base = p + first](size_t k) { return base + k; }, r);
}

void rule_shapes_list_simd128(TCVerlet* p, const unsigned* list, unsigned count, const TCRules& r) {
    shapes_over_simd128(count, [p, list](size_t k) { return p + list[k]; }, r);
}

#endif
