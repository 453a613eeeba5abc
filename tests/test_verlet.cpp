// update_physics: worked examples, exact operation order, random-data properties.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>
#include "physics.h"

static uint32_t bits(float v) { uint32_t u; std::memcpy(&u, &v, sizeof u); return u; }

TEST(Verlet, WorkedExamples) {
    TCVerlet p{1, 2, 3, 4, 5, 6};
    const TCVerlet p0 = p;
    EXPECT_EQ(update_physics(0.25f, 0.5f, &p, 0), 0.25f);  // count 0 touches nothing
    EXPECT_EQ(std::memcmp(&p, &p0, sizeof p), 0);
    for (float prev : {0.0f, -0.5f, NAN}) {  // no previous step: ratio 0, starts at rest
        TCVerlet q{0, 0, -1, 0, 0, 0};
        update_physics(0.5f, prev, &q, 1);
        EXPECT_EQ(q.x, 0.0f) << "prev_dt " << prev;
    }
    TCVerlet q{2, 0, 1, 0, 4, 0}, r{2, 0, 1, 0, 0, 0};
    update_physics(0.5f, 0.5f, &q, 1);   // velocity 1 per step, plus acc * dt^2 = 1
    update_physics(0.5f, 0.25f, &r, 1);  // twice as long as the step before: ratio 2
    EXPECT_TRUE(q.x == 4.0f && r.x == 4.0f) << q.x << " " << r.x;
}

TEST(Verlet, OperationOrderIsExact) {
    // Either multiply-add fused, or the sum regrouped, changes the last bits of both
    // axes here; expected bits worked out by rounding to float after every operation.
    TCVerlet p{-17.4f, -16.7f, -30.0f, -29.4f, -3.9f, -7.8f};
    update_physics(0.1f, 0.07f, &p, 1);
    EXPECT_EQ(bits(p.x), 0x3f0f9dd8u);
    EXPECT_EQ(bits(p.y), 0x3faeb398u);
}

TEST(Verlet, RandomStepProperties) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    for (int round = 0; round < 50; ++round) {
        std::vector<TCVerlet> ps(40);
        for (TCVerlet& p : ps) p = TCVerlet{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        const std::vector<TCVerlet> before = ps;
        const unsigned count = rng() % 41;
        update_physics(0.02f, 0.015f, ps.data(), count);
        for (unsigned i = 0; i < count; ++i)  // accelerations consumed, position becomes old
            EXPECT_TRUE(ps[i].acc_x == 0.0f && ps[i].acc_y == 0.0f && bits(ps[i].old_x) ==
                        bits(before[i].x) && bits(ps[i].old_y) == bits(before[i].y)) << i;
        EXPECT_EQ(std::memcmp(&ps[count], &before[count], (40 - count) * sizeof(TCVerlet)), 0)
            << "records past count " << count << " changed";
    }
}
