// clen and spring_force: worked examples, degenerate pairs, random-data properties.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include "physics.h"

static uint32_t bits(float v) { uint32_t u; std::memcpy(&u, &v, sizeof u); return u; }

TEST(Clen, WorkedExamples) {
    // k_short 0x3ED1EB85 (0.41) and k_long 0x3F70F57F (0.941246) are part of every
    // result: these bits change if either is off by even one unit in the last place.
    EXPECT_EQ(bits(clen(0, 0, 1, 0)), 0x3F70F57Fu);  // 0.941246
    EXPECT_EQ(bits(clen(0, 0, 1, 1)), 0x3FACF5A1u);  // 1.351246
    EXPECT_EQ(bits(clen(0, 0, 3, 4)), 0x409FD6E8u);  // 4.994984
    EXPECT_EQ(bits(clen(0, 0, 5, 6)), 0x40F651B8u);  // 7.697475
}

TEST(Spring, WorkedExamples) {
    const float d = clen(0, 0, 10, 0);
    // {rest length, error returned, a.x, b.x}: stretched by 2; negative, so they cross.
    const float cases[][4] = {{d - 2.0f, -2.0f, 1.062422f, 8.937578f},
                              {-1.0f, -10.412459f, 5.531211f, 4.468789f}};
    for (const auto& k : cases) {
        TCVerlet a{0, 0, 0, 0, 0, 0}, b{10, 0, 0, 0, 0, 0};
        EXPECT_FLOAT_EQ(spring_force(a, b, k[0]), k[1]);
        EXPECT_FLOAT_EQ(a.x, k[2]);
        EXPECT_FLOAT_EQ(b.x, k[3]);
    }
}

TEST(Spring, DegeneratePairsStayPut) {
    // The same record twice, two records at one place, a distance that overflows:
    // none has a usable direction, and none may receive NaN or infinity.
    TCVerlet r[5] = {{3, 4, 1, 2, 5, 6}, {3, 4, 0, 0, 0, 0}, {3, 4, 9, 9, 9, 9},
                     {-3e38f, 0, 0, 0, 0, 0}, {3e38f, 0, 0, 0, 0, 0}};
    TCVerlet before[5];
    std::memcpy(before, r, sizeof r);
    EXPECT_EQ(spring_force(r[0], r[0], 2.5f), 2.5f);
    EXPECT_EQ(spring_force(r[1], r[2], -1.5f), -1.5f);
    spring_force(r[3], r[4], 1.0f);
    EXPECT_EQ(std::memcmp(before, r, sizeof r), 0);
}

TEST(ClenSpring, RandomPairProperties) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    for (int i = 0; i < 2000; ++i) {
        TCVerlet a{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        TCVerlet b{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        const TCVerlet a0 = a, b0 = b;
        const float rest = u(rng), d = clen(a.x, a.y, b.x, b.y);
        // clen is symmetric in the two points and in the two axes.
        EXPECT_TRUE(d == clen(b.x, b.y, a.x, a.y) && d == clen(a.y, a.x, b.y, b.x)) << i;
        spring_force(a, b, rest);
        // Old positions and accelerations untouched; equal and opposite moves
        // keep the midpoint; the pair ends |rest| apart, up to rounding.
        EXPECT_TRUE(!std::memcmp(&a.old_x, &a0.old_x, 16) && !std::memcmp(&b.old_x, &b0.old_x, 16));
        EXPECT_NEAR(a.x + b.x, a0.x + b0.x, 1e-4f);
        EXPECT_NEAR(a.y + b.y, a0.y + b0.y, 1e-4f);
        EXPECT_NEAR(clen(a.x, a.y, b.x, b.y), std::fabs(rest), 1e-4f);
    }
}
