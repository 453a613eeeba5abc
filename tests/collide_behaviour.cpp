// Particles that collide, as a scene uses them: each step moves the
// particles, pushes them apart, then keeps them in a box with the rules (and
// runs a cloth's springs), as the kernel guide orders a frame. A pile poured
// into a box settles, with no explosion and no jitter; a cloth folded over
// itself comes to rest in two layers instead of passing through itself.
#include <gtest/gtest.h>
#include <penshell/physics.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const float kGravity = 9.81f;

// The largest overlap among the particles, every pair tried: measured apart
// from what particle_collide reports.
float largest_overlap(const std::vector<TCVerlet>& ps, const std::vector<float>& radii) {
    float largest = 0.0f;
    for (size_t i = 0; i < ps.size(); ++i)
        for (size_t j = i + 1; j < ps.size(); ++j)
            largest = std::max(largest, radii[i] + radii[j] - clen(ps[i].x, ps[i].y, ps[j].x, ps[j].y));
    return largest;
}

// 2,000 balls of radius 0.3 to 0.5 poured from a loose lattice 28 high into a
// box 100 wide. A frame is four steps; each step adds gravity and a little air
// drag (on the old positions: the kernel has no friction, and a frictionless
// pile would slosh for long), then pushes the balls apart and back into the
// box twice. After six seconds the pile lies at rest, 12 or 13 high. A flipped
// push, none, or one that moves the old positions too (no speed from it)
// leaves it exploding, jittering or interpenetrating.
TEST(CollideBehaviour, PileInABoxSettles) {
    const unsigned n = 2000, across = 83;
    std::vector<TCVerlet> ps;
    std::vector<float> radii;
    for (unsigned i = 0; i < n; ++i) {
        const float x = 0.6f + float(i % across) * 1.15f + float((i / across) % 2) * 0.3f, y = 0.6f + float(i / across) * 1.15f;
        ps.push_back(TCVerlet{x, y, x, y, 0, 0});
        radii.push_back(0.3f + float(i % 5) * 0.05f);
    }
    std::vector<unsigned> work(particle_collide_words(n));
    const TCPlane box[] = {{0, 1, 0}, {1, 0, 0}, {-1, 0, -100}};
    const TCRules rules{nullptr, 0, box, 3, nullptr, 0};
    const float dt = 1.0f / 240.0f;
    float prev_dt = 0.0f;
    for (int step = 0; step < 6 * 240; ++step) {
        for (TCVerlet& p : ps) {
            p.acc_y -= kGravity;
            p.old_x += (p.x - p.old_x) * 0.01f, p.old_y += (p.y - p.old_y) * 0.01f;
        }
        prev_dt = update_physics(dt, prev_dt, ps.data(), n);
        for (int k = 0; k < 2; ++k) {
            ASSERT_GE(particle_collide(ps.data(), n, radii.data(), work.data()), 0.0f);
            ASSERT_GE(spring_pass_rules(ps.data(), nullptr, 0, nullptr, n, &rules), 0.0f);
        }
    }
    std::vector<float> speeds;
    float highest = 0.0f;
    for (const TCVerlet& p : ps) {
        speeds.push_back(std::hypot(p.x - p.old_x, p.y - p.old_y) / dt);
        highest = std::max(highest, p.y);
        ASSERT_TRUE(p.y >= -0.01f && p.x >= -0.01f && p.x <= 100.01f) << "a ball left the box";
    }
    std::sort(speeds.begin(), speeds.end());
    EXPECT_LT(highest, 16.0f) << "balls were thrown up: the pile exploded";
    // At rest: a fraction of a diameter a second for most, a little more for the top layer.
    EXPECT_LT(speeds[n / 2], 0.3f) << "the pile jitters";
    EXPECT_LT(speeds[n * 95 / 100], 1.5f) << "the pile jitters";
    EXPECT_LT(largest_overlap(ps, radii), 0.06f) << "balls sink into each other";
}

// One frame of the cloth: gravity, a step, two pushes, then eight spring
// passes with the rules.
void cloth_frame(std::vector<TCVerlet>& ps, const std::vector<float>& radii, std::vector<unsigned>& work,
                 const std::vector<TCSpring>& springs, const std::vector<unsigned>& schedule, const TCRules& rules,
                 float& prev_dt) {
    const unsigned n = unsigned(ps.size());
    for (TCVerlet& p : ps) p.acc_y -= kGravity;
    prev_dt = update_physics(1.0f / 60.0f, prev_dt, ps.data(), n);
    for (int k = 0; k < 2; ++k) particle_collide(ps.data(), n, radii.data(), work.data());
    for (int k = 0; k < 8; ++k)
        spring_pass_rules(ps.data(), springs.data(), unsigned(springs.size()), schedule.data(), n, &rules);
}

// A cloth of 40 x 5 particles 1 apart (structural and shear springs), radius
// 0.45, under half its rest length, lying on a floor with its right half
// folded over its left: the right half falls onto the left and stays on it.
TEST(CollideBehaviour, FoldedClothDoesNotPassThroughItself) {
    const unsigned cols = 40, rows = 5, half = cols / 2;
    std::vector<TCVerlet> ps(cols * rows);
    for (unsigned i = 0; i < ps.size(); ++i) {
        const unsigned c = i % cols, r = i / cols;
        // The left half on the floor; the right half turned over above it.
        const float x = c < half ? float(c) : float(cols - 1 - c) + 0.3f;
        const float y = c < half ? 0.5f + float(r) : 0.5f + float(2 * rows) - float(r);
        ps[i] = TCVerlet{x, y, x, y, 0, 0};
    }
    std::vector<TCSpring> springs;
    const float side = clen(0, 0, 1, 0), diagonal = clen(0, 0, 1, 1);
    for (unsigned i = 0; i < ps.size(); ++i) {
        const unsigned c = i % cols, r = i / cols;
        if (c + 1 < cols && c + 1 != half) springs.push_back({i, i + 1, side});
        if (r + 1 < rows) springs.push_back({i, i + cols, side});
        if (c + 1 < cols && c + 1 != half && r + 1 < rows) springs.push_back({i, i + cols + 1, diagonal});
    }
    // The fold: the last column of the left half holds the first of the right
    // half at the height between them.
    for (unsigned r = 0; r < rows; ++r)
        springs.push_back({r * cols + half - 1, (rows - 1 - r) * cols + half, clen(0, 0, 0, float(2 * rows - 2 * r) - 1)});
    std::vector<unsigned> schedule(spring_schedule_words(unsigned(springs.size()), unsigned(ps.size())));
    ASSERT_TRUE(spring_schedule(springs.data(), unsigned(springs.size()), unsigned(ps.size()), schedule.data()));
    const std::vector<float> radii(ps.size(), 0.45f);
    std::vector<unsigned> work(particle_collide_words(unsigned(ps.size())));
    const TCPlane floor{0, 1, 0};
    const TCRules rules{nullptr, 0, &floor, 1, nullptr, 0};
    float prev_dt = 0.0f;
    for (int s = 0; s < 240; ++s) cloth_frame(ps, radii, work, springs, schedule, rules, prev_dt);
    // Every particle of the right half lies above the left half's, column by
    // column: none has come through to the floor or between its rows.
    float left_top = 0.0f, right_bottom = 1e9f, closest = 1e9f;
    for (unsigned i = 0; i < ps.size(); ++i) {
        if (i % cols < half) left_top = std::max(left_top, ps[i].y);
        else right_bottom = std::min(right_bottom, ps[i].y);
    }
    for (unsigned i = 0; i < ps.size(); ++i)
        for (unsigned j = 0; j < ps.size(); ++j)
            if (i % cols < half && j % cols >= half) closest = std::min(closest, clen(ps[i].x, ps[i].y, ps[j].x, ps[j].y));
    EXPECT_GT(right_bottom, left_top - 0.2f) << "the upper layer came through the lower one";
    EXPECT_GT(closest, 0.6f) << "the layers pass through each other (reach 0.9)";
}

}  // namespace
