// update_physics: worked examples, exact operation order, random-data properties.
#include "physics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

TEST(Verlet, WorkedExamples) {
    TCVerlet p{1, 2, 3, 4, 5, 6};
    const TCVerlet before = p;
    EXPECT_EQ(update_physics(0.25f, 0.5f, &p, 0), 0.25f);  // count 0 touches nothing
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);

    // prev_dt of 0, negative or NaN: no previous step, the particle starts at rest.
    for (float prev : {0.0f, -0.5f, NAN}) {
        TCVerlet q{0, 0, -1, 0, 0, 0};
        EXPECT_EQ(update_physics(0.5f, prev, &q, 1), 0.5f);
        EXPECT_EQ(q.x, 0.0f);
        EXPECT_EQ(q.old_x, 0.0f);
    }

    TCVerlet q{2, 0, 1, 0, 4, 0};  // velocity 1 per step, plus acc * dt^2 = 1
    update_physics(0.5f, 0.5f, &q, 1);
    EXPECT_EQ(q.x, 4.0f);
    EXPECT_EQ(q.old_x, 2.0f);
    EXPECT_EQ(q.acc_x, 0.0f);

    TCVerlet r{2, 0, 1, 0, 0, 0};  // a step twice as long as the one before
    update_physics(0.5f, 0.25f, &r, 1);
    EXPECT_EQ(r.x, 4.0f);
}

TEST(Verlet, OperationOrderIsExact) {
    // Values where reassociating or fusing a multiply-add changes the last bit;
    // expected bits worked out independently, rounding to float after each step.
    TCVerlet p{-50.5f, -1.1f, -49.8f, -2.0f, -6.18f, -3.14f};
    update_physics(0.1f, 0.1f, &p, 1);
    EXPECT_EQ(bits(p.x), 0xc24d0c16u);
    EXPECT_EQ(bits(p.y), 0xbe6cf422u);
}

TEST(Verlet, RandomStepProperties) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    for (int round = 0; round < 50; ++round) {
        std::vector<TCVerlet> ps(40);
        for (TCVerlet& p : ps) p = TCVerlet{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        const std::vector<TCVerlet> before = ps;
        const unsigned count = rng() % 41;
        ASSERT_EQ(update_physics(0.02f, 0.015f, ps.data(), count), 0.02f);
        for (unsigned i = 0; i < count; ++i) {
            EXPECT_EQ(ps[i].acc_x, 0.0f);
            EXPECT_EQ(ps[i].acc_y, 0.0f);
            EXPECT_EQ(bits(ps[i].old_x), bits(before[i].x));
            EXPECT_EQ(bits(ps[i].old_y), bits(before[i].y));
        }
        EXPECT_EQ(std::memcmp(&ps[count], &before[count], (40 - count) * sizeof(TCVerlet)), 0)
            << "records past count " << count << " changed";
    }
}

}  // namespace
