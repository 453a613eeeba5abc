// A cloth torn onto a heap of balls, built against the installed kernel as
// any program outside penshell would be. A 20 x 12 cloth hangs from its top
// row over 120 balls lying on a floor; the middle of its bottom row is
// grabbed and yanked down and sideways, faster than the passes can spread
// the pull, then let go. Springs stretched past three times their rest
// length break (spring_tear gives them a NaN rest length, which every pass
// leaves alone: the schedule made at the start serves to the end), the torn
// piece falls onto the balls, and the cloth's particles and the balls
// collide. It prints how many springs broke and where the piece lies. The
// printed numbers are the same on every build: the arithmetic here is
// additions and lone products, which no compiler can fuse, and the kernel
// gives the same bits everywhere.
#include <penshell/physics.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
    const unsigned kCols = 20, kRows = 12, kCloth = kCols * kRows, kBalls = 120;
    const float kGravity = 9.81f;
    const float kDt = 1.0f / 60.0f;
    const int kPasses = 8;
    const float kTear = 3.0f;  // a spring breaks past three times its rest length

    // The cloth from y = 10 down, 0.5 apart, at rest; then the balls in a
    // loose lattice on the floor at y = 0.
    std::vector<TCVerlet> ps(kCloth + kBalls);
    std::vector<float> radii(ps.size());
    for (unsigned i = 0; i < kCloth; ++i) {
        ps[i].x = ps[i].old_x = float(i % kCols) * 0.5f;
        ps[i].y = ps[i].old_y = 10.0f - float(i / kCols) * 0.5f;
        radii[i] = 0.2f;  // under half the spacing: the cloth never fights its own springs
    }
    for (unsigned k = 0; k < kBalls; ++k) {
        TCVerlet& b = ps[kCloth + k];
        b.x = b.old_x = float(k % 30) * 0.5f - 2.0f;
        b.y = b.old_y = float(k / 30) * 0.5f + 0.25f;
        radii[kCloth + k] = k % 2 ? 0.22f : 0.2f;
    }
    const unsigned count = unsigned(ps.size());
    std::vector<TCSpring> springs;
    for (unsigned i = 0; i < kCloth; ++i) {
        const unsigned c = i % kCols, r = i / kCols;
        if (c + 1 < kCols) springs.push_back({i, i + 1, 0.5f});
        if (r + 1 < kRows) springs.push_back({i, i + kCols, 0.5f});
    }
    const unsigned spring_count = unsigned(springs.size());
    std::vector<unsigned> schedule(spring_schedule_words(spring_count, count));
    if (!spring_schedule(springs.data(), spring_count, count, schedule.data())) return 1;
    std::vector<unsigned> work(particle_collide_words(count));

    // The top row pinned; four particles of the bottom row held as a pointer
    // drags them; the floor and two walls.
    std::vector<TCHold> holds;
    for (unsigned c = 0; c < kCols; ++c) holds.push_back({c, ps[c].x, ps[c].y, 1});
    const unsigned grabbed = kCloth - kCols + kCols / 2 - 2;
    for (unsigned k = 0; k < 4; ++k) holds.push_back({grabbed + k, ps[grabbed + k].x, ps[grabbed + k].y, 0});
    const TCPlane box[] = {{0, 1, 0}, {1, 0, -2.5f}, {-1, 0, -12.0f}};
    TCRules rules{holds.data(), unsigned(holds.size()), box, 3, nullptr, 0};

    float prev_dt = 0.0f;
    unsigned torn = 0, torn_while_held = 0;
    for (unsigned step = 0; step < 600; ++step) {
        if (step >= 60 && step < 68)  // the yank: 0.8 sideways and 0.5 down a step
            for (unsigned k = 0; k < 4; ++k) holds[kCols + k].x += 0.8f, holds[kCols + k].y -= 0.5f;
        if (step == 90) rules.hold_count = kCols;  // let go
        for (TCVerlet& p : ps) p.acc_y -= kGravity;
        // A frame in order: step, collide, the springs with the rules (the
        // holds last: they win), then tear what the passes left stretched.
        prev_dt = update_physics(kDt, prev_dt, ps.data(), count);
        if (particle_collide(ps.data(), count, radii.data(), work.data()) < 0) return 1;
        for (int pass = 0; pass < kPasses; ++pass)
            if (spring_pass_rules(ps.data(), springs.data(), spring_count, schedule.data(), count, &rules) < 0) return 1;
        const unsigned broke = spring_tear(ps.data(), springs.data(), spring_count, kTear);
        if (broke == kSpringTearRefused) return 1;
        torn += broke;
        if (step < 90) torn_while_held = torn;
    }
    unsigned low = 0;  // cloth particles down among the balls
    for (unsigned i = 0; i < kCloth; ++i) low += ps[i].y < 2.0f;
    float largest = 0.0f;  // how far the springs left are from their rest lengths, torn ones left out
    for (const TCSpring& s : springs)
        if (!std::isnan(s.rest_length))
            largest = std::fmax(largest, std::fabs(s.rest_length - clen(ps[s.a].x, ps[s.a].y, ps[s.b].x, ps[s.b].y)));
    const TCVerlet& p = ps[grabbed];
    std::printf("%u springs, %u torn (%u while the cloth was held), %u cloth particles below y = 2\n", spring_count,
                torn, torn_while_held, low);
    std::printf("grabbed particle at x = %.6f, y = %.6f (exactly %a, %a); largest error %.6f\n", p.x, p.y, p.x, p.y,
                largest);
    return 0;
}
