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

    return relax_until_still(cloth, count, [&] {
        return spring_pass(cloth.data(), springs.data(), count, schedule.data());
    });
}
