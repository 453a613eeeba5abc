// A rope hanging from a fixed point, built against the installed kernel as
// any program outside penshell would be. It starts straight out sideways, at
// rest, swings down and settles; the program prints where its free end comes
// to rest. The printed numbers are the same on every build: the arithmetic
// here is additions and lone products, which no compiler can fuse, and the
// kernel gives the same bits everywhere.
#include <penshell/physics.h>

#include <cmath>
#include <cstdio>

int main() {
    const unsigned kLinks = 10;
    const float kLinkLength = 0.5f;
    const float kGravity = 9.81f;
    const float kDt = 1.0f / 60.0f;
    const int kPasses = 8;  // solver passes per step: more give a stiffer rope

    TCVerlet rope[kLinks + 1] = {};  // rope[0] is held at (0, 0)
    for (unsigned i = 0; i <= kLinks; ++i) rope[i].x = rope[i].old_x = kLinkLength * float(i);

    float prev_dt = 0.0f;  // no step before the first one: the rope starts at rest
    unsigned still = 0, step = 0;
    while (still < 60 && step < 100000) {
        ++step;
        for (TCVerlet& p : rope) p.acc_y -= kGravity;
        prev_dt = update_physics(kDt, prev_dt, rope, kLinks + 1);
        for (int pass = 0; pass < kPasses; ++pass) {
            for (unsigned i = 0; i < kLinks; ++i) spring_force(rope[i], rope[i + 1], kLinkLength);
            rope[0] = TCVerlet{};  // the fixed end goes back, with no motion
        }
        const TCVerlet& end = rope[kLinks];
        const bool moved = std::fabs(end.x - end.old_x) > 1e-6f || std::fabs(end.y - end.old_y) > 1e-6f;
        still = moved ? 0 : still + 1;
    }
    const TCVerlet& end = rope[kLinks];
    std::printf("%u links of %g hanging from (0, 0)\n", kLinks, kLinkLength);
    std::printf("free end at rest after %u steps of %g: x = %.6f, y = %.6f\n", step, kDt, end.x, end.y);
    std::printf("exactly: x = %a, y = %a\n", end.x, end.y);
    std::printf("hanging length / rest length = %.6f\n", -end.y / (kLinkLength * float(kLinks)));
    return still >= 60 ? 0 : 1;
}
