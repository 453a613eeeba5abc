// A rope held at both ends over a floor, with a ball lying on the floor under
// its middle, built against the installed kernel as any program outside
// penshell would be. The rope is longer than the gap between its ends: it
// falls, drapes over the ball and lies on the floor either side. The kernel
// puts the ends back and keeps every particle above the floor and out of the
// ball inside each pass (spring_pass_rules): the program only steps it. It
// prints where the rope lies after ten seconds. The printed numbers are the same on
// every build: the arithmetic here is additions and lone products, which no
// compiler can fuse, and the kernel gives the same bits everywhere.
#include <penshell/physics.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
    const unsigned kLinks = 40;
    const float kLinkLength = 0.5f;
    const float kGravity = 9.81f;
    const float kDt = 1.0f / 60.0f;
    const int kPasses = 8;  // per step: more give a stiffer rope

    // Straight out sideways at the height of its ends, at rest.
    std::vector<TCVerlet> rope(kLinks + 1);
    for (unsigned i = 0; i <= kLinks; ++i) {
        rope[i].x = rope[i].old_x = kLinkLength * float(i) * 0.5f;
        rope[i].y = rope[i].old_y = 4.0f;
    }
    std::vector<TCSpring> springs;
    for (unsigned i = 0; i < kLinks; ++i) springs.push_back(TCSpring{i, i + 1, kLinkLength});
    const unsigned count = unsigned(springs.size()), particles = unsigned(rope.size());
    std::vector<unsigned> schedule(spring_schedule_words(count, particles));
    if (!spring_schedule(springs.data(), count, particles, schedule.data())) return 1;

    // Both ends held still where they start, the floor at y = 0, a ball on it.
    const TCHold ends[] = {{0, rope[0].x, rope[0].y, 1}, {kLinks, rope[kLinks].x, rope[kLinks].y, 1}};
    const TCPlane floor{0.0f, 1.0f, 0.0f};
    const TCCircle ball{5.0f, 1.5f, 1.5f};
    const TCRules rules{ends, 2, &floor, 1, &ball, 1};

    // Ten seconds: the rope comes to rest but for a slow slide along the floor,
    // which has no friction.
    float prev_dt = 0.0f;  // no step before the first one: the rope starts at rest
    const unsigned kSteps = 600;
    for (unsigned step = 0; step < kSteps; ++step) {
        for (TCVerlet& p : rope) p.acc_y -= kGravity;
        prev_dt = update_physics(kDt, prev_dt, rope.data(), particles);
        for (int pass = 0; pass < kPasses; ++pass)
            if (spring_pass_rules(rope.data(), springs.data(), count, schedule.data(), particles, &rules) < 0) return 1;
    }
    float fastest = 0.0f;  // the largest move of the last step
    for (const TCVerlet& p : rope) fastest = std::fmax(fastest, std::fmax(std::fabs(p.x - p.old_x), std::fabs(p.y - p.old_y)));
    unsigned on_floor = 0, on_ball = 0;
    float lowest = rope[0].y;
    for (const TCVerlet& p : rope) {
        on_floor += p.y < 0.01f;
        on_ball += clen(ball.x, ball.y, p.x, p.y) < ball.radius + 0.01f;
        if (p.y < lowest) lowest = p.y;
    }
    const TCVerlet& middle = rope[kLinks / 2];
    std::printf("%u links of %g held at (%g, %g) and (%g, %g), a floor at y = 0, a ball of %g at (%g, %g)\n", kLinks,
                kLinkLength, ends[0].x, ends[0].y, ends[1].x, ends[1].y, ball.radius, ball.x, ball.y);
    std::printf("after %u steps of %g: %u particles on the floor, %u on the ball, lowest y = %.6f, largest move of"
                " the last step %.6f\n", kSteps, kDt, on_floor, on_ball, lowest, fastest);
    std::printf("middle particle at x = %.6f, y = %.6f (exactly %a, %a)\n", middle.x, middle.y, middle.x, middle.y);
    return 0;
}
