// A cloth pinned along its top edge, built against the installed kernel as any
// program outside penshell would be. It starts slanted to one side, at rest,
// swings back under gravity and settles; the program prints where its bottom
// corners and the middle of its bottom edge come to rest. The springs are
// scheduled once and applied a pass at a time; the largest error a pass
// returns tells when the cloth has come to rest: it stops changing.
// The printed numbers are the same on every build: the arithmetic here is
// additions and lone products, which no compiler can fuse, and the kernel
// gives the same bits everywhere.
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
unsigned at(unsigned c, unsigned r) { return r * kCols + c; }

// Where a particle starts: rows hang down, each shifted half a spacing
// further to the right than the one above it.
TCVerlet start(unsigned c, unsigned r) {
    const float half = kSpacing / 2;
    const float x = half * float(2 * c + r), y = -kSpacing * float(r);
    return TCVerlet{x, y, x, y, 0.0f, 0.0f};
}

int main() {
    std::vector<TCVerlet> cloth;
    for (unsigned r = 0; r < kRows; ++r)
        for (unsigned c = 0; c < kCols; ++c) cloth.push_back(start(c, r));

    // Structural springs to the right and below, shear springs on both diagonals.
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

    // The schedule depends only on which particles the springs join: made once.
    const unsigned count = unsigned(springs.size()), particles = unsigned(cloth.size());
    std::vector<unsigned> schedule(spring_schedule_words(count, particles));
    if (!spring_schedule(springs.data(), count, particles, schedule.data())) {
        std::fprintf(stderr, "cloth: a spring names a particle that does not exist\n");
        return 1;
    }

    float prev_dt = 0.0f;  // no step before the first one: the cloth starts at rest
    unsigned still = 0, step = 0;
    float error = 0.0f, first = 0.0f;  // the largest errors of the last pass, and of the very first
    while (still < 60 && step < 100000) {
        ++step;
        for (TCVerlet& p : cloth) p.acc_y -= kGravity;
        prev_dt = update_physics(kDt, prev_dt, cloth.data(), particles);
        const float before = error;
        for (int pass = 0; pass < kPasses; ++pass) {
            error = spring_pass(cloth.data(), springs.data(), count, schedule.data());
            for (unsigned c = 0; c < kCols; ++c) cloth[at(c, 0)] = start(c, 0);  // the pinned edge goes back
            if (step == 1 && pass == 0) first = error;
        }
        // Gravity keeps the springs a little long; at rest that error stays put.
        still = std::fabs(error - before) < 1e-5f ? still + 1 : 0;
    }

    std::printf("%ux%u cloth, %u springs of %g, pinned along its top edge\n", kCols, kRows, count, kSpacing);
    std::printf("at rest after %u steps of %g, %d passes each: largest spring error %.6f (first pass %.6f)\n",
                step, kDt, kPasses, error, first);
    const struct { const char* name; unsigned c; } points[] = {
        {"bottom left", 0}, {"bottom middle", kCols / 2}, {"bottom right", kCols - 1}};
    for (const auto& point : points) {
        const TCVerlet& p = cloth[at(point.c, kRows - 1)];
        std::printf("%-13s x = %.6f, y = %.6f   exactly: x = %a, y = %a\n", point.name, p.x, p.y, p.x, p.y);
    }
    return still >= 60 ? 0 : 1;
}
