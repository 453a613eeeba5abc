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

#include "cloth_scene.h"

int main() {
    std::vector<TCVerlet> cloth = cloth_at_start();
    std::vector<TCSpring> springs = cloth_springs();

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
            pin_top_edge(cloth);
            if (step == 1 && pass == 0) first = error;
        }
        // Gravity keeps the springs a little long; at rest that error stays put.
        still = std::fabs(error - before) < 1e-5f ? still + 1 : 0;
    }

    print_rest(cloth, count, step, error, first);
    return still >= 60 ? 0 : 1;
}
