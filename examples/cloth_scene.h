#pragma once
// The cloth that cloth.cpp relaxes on one thread and cloth_threads.cpp on two:
// 20x15 particles pinned along the top edge, structural and shear springs, and
// how both step it until it comes to rest, and what they print of it then.
#include <penshell/physics.h>

#include <cmath>
#include <cstdio>
#include <vector>

const unsigned kCols = 20, kRows = 15;
const float kSpacing = 0.5f;
const float kGravity = 9.81f;
const float kDt = 1.0f / 60.0f;
const int kPasses = 16;  // per step: more give a stiffer cloth

// Column c of row r (row 0 is the pinned top edge).
inline unsigned at(unsigned c, unsigned r) { return r * kCols + c; }

// Where a particle starts: rows hang down, each shifted half a spacing
// further to the right than the one above it.
inline TCVerlet start(unsigned c, unsigned r) {
    const float half = kSpacing / 2;
    const float x = half * float(2 * c + r), y = -kSpacing * float(r);
    return TCVerlet{x, y, x, y, 0.0f, 0.0f};
}

inline std::vector<TCVerlet> cloth_at_start() {
    std::vector<TCVerlet> cloth;
    for (unsigned r = 0; r < kRows; ++r)
        for (unsigned c = 0; c < kCols; ++c) cloth.push_back(start(c, r));
    return cloth;
}

// Structural springs to the right and below, shear springs on both diagonals.
inline std::vector<TCSpring> cloth_springs() {
    const float side = clen(0, 0, kSpacing, 0), diagonal = clen(0, 0, kSpacing, kSpacing);
    std::vector<TCSpring> springs;
    for (unsigned r = 0; r < kRows; ++r)
        for (unsigned c = 0; c < kCols; ++c) {
            if (c + 1 < kCols) springs.push_back(TCSpring{at(c, r), at(c + 1, r), side});
            if (r + 1 == kRows) continue;
            springs.push_back(TCSpring{at(c, r), at(c, r + 1), side});
            if (c + 1 < kCols) springs.push_back(TCSpring{at(c, r), at(c + 1, r + 1), diagonal});
            if (c > 0) springs.push_back(TCSpring{at(c, r), at(c - 1, r + 1), diagonal});
        }
    return springs;
}

// The pinned edge goes back after every pass.
inline void pin_top_edge(std::vector<TCVerlet>& cloth) {
    for (unsigned c = 0; c < kCols; ++c) cloth[at(c, 0)] = start(c, 0);
}

inline void print_rest(const std::vector<TCVerlet>& cloth, unsigned springs, unsigned step, float error,
                       float first) {
    std::printf("%ux%u cloth, %u springs of %g, pinned along its top edge\n", kCols, kRows, springs, kSpacing);
    std::printf("at rest after %u steps of %g, %d passes each: largest spring error %.6f (first pass %.6f)\n",
                step, kDt, kPasses, error, first);
    const struct { const char* name; unsigned c; } points[] = {
        {"bottom left", 0}, {"bottom middle", kCols / 2}, {"bottom right", kCols - 1}};
    for (const auto& point : points) {
        const TCVerlet& p = cloth[at(point.c, kRows - 1)];
        std::printf("%-13s x = %.6f, y = %.6f   exactly: x = %a, y = %a\n", point.name, p.x, p.y, p.x, p.y);
    }
}

// Steps the cloth under gravity, each step followed by kPasses calls of
// `pass` (one pass over the springs, returning its largest error) with the
// top edge pinned after each, until that error stops changing: gravity keeps
// the springs a little long, and at rest the error stays put. Prints the
// cloth at rest; returns the exit status, 0 once it came to rest.
template <class Pass>
int relax_until_still(std::vector<TCVerlet>& cloth, unsigned springs, Pass pass) {
    float prev_dt = 0.0f;  // no step before the first one: the cloth starts at rest
    unsigned still = 0, step = 0;
    float error = 0.0f, first = 0.0f;  // the largest errors of the last pass, and of the very first
    while (still < 60 && step < 100000) {
        ++step;
        for (TCVerlet& p : cloth) p.acc_y -= kGravity;
        prev_dt = update_physics(kDt, prev_dt, cloth.data(), unsigned(cloth.size()));
        const float before = error;
        for (int k = 0; k < kPasses; ++k) {
            error = pass();
            pin_top_edge(cloth);
            if (step == 1 && k == 0) first = error;
        }
        still = std::fabs(error - before) < 1e-5f ? still + 1 : 0;
    }
    print_rest(cloth, springs, step, error, first);
    return still >= 60 ? 0 : 1;
}
