// clen and spring_force: worked examples, coincident particles, random properties.
#include "physics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

float from_bits(uint32_t u) {
    float v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

bool same_bits(const TCVerlet& a, const TCVerlet& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Clen, ConstantsExamplesAndSymmetry) {
    const float k_short = from_bits(0x3ED1EB85), k_long = from_bits(0x3F70F57F);
    EXPECT_EQ(clen(0, 0, 1, 0), k_long);
    EXPECT_EQ(clen(0, 0, 1, 1), k_short + k_long);
    EXPECT_EQ(clen(0, 0, 3, 4), k_short * 3 + k_long * 4);
    EXPECT_FLOAT_EQ(clen(0, 0, 1, 1), 1.351246f);
    EXPECT_FLOAT_EQ(clen(0, 0, 3, 4), 4.994984f);
    EXPECT_EQ(clen(2.5f, -7, 2.5f, -7), 0.0f);
    EXPECT_TRUE(std::isnan(clen(0, 0, NAN, 1)));

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1e3f, 1e3f);
    for (int i = 0; i < 1000; ++i) {  // every tenth pair on a diagonal, where dx == dy
        const float x1 = u(rng), y1 = u(rng), x2 = u(rng), y2 = i % 10 ? u(rng) : y1 + (x2 - x1);
        const float c = clen(x1, y1, x2, y2);
        EXPECT_EQ(c, clen(x2, y2, x1, y1));
        EXPECT_EQ(c, clen(y1, x1, y2, x2));
    }
}

TEST(Spring, WorkedExamples) {
    const float d = clen(0, 0, 10, 0);
    EXPECT_FLOAT_EQ(d, 9.412459f);
    TCVerlet a{0, 0, 0, 0, 0, 0}, b{10, 0, 0, 0, 0, 0};
    EXPECT_EQ(spring_force(a, b, d), 0.0f);  // at rest length: nothing moves
    EXPECT_EQ(a.x, 0.0f);
    EXPECT_EQ(b.x, 10.0f);

    EXPECT_FLOAT_EQ(spring_force(a, b, d - 2.0f), -2.0f);  // stretched by 2
    EXPECT_FLOAT_EQ(a.x, 1.062422f);
    EXPECT_FLOAT_EQ(b.x, 8.937578f);
    EXPECT_EQ(a.y, 0.0f);
    EXPECT_FLOAT_EQ(clen(a.x, a.y, b.x, b.y), d - 2.0f);

    TCVerlet c{0, 0, 0, 0, 0, 0}, e{10, 0, 0, 0, 0, 0};  // negative rest length: they cross
    EXPECT_FLOAT_EQ(spring_force(c, e, -1.0f), -10.412459f);
    EXPECT_FLOAT_EQ(c.x, 5.531211f);
    EXPECT_FLOAT_EQ(e.x, 4.468789f);
}

TEST(Spring, CoincidentOrUnboundedPairsStayPut) {
    // Same record twice, two records at one place, a distance that overflows:
    // none has a usable direction, and none may receive NaN or infinity.
    TCVerlet s{3, 4, 1, 2, 5, 6}, a{3, 4, 0, 0, 0, 0}, b{3, 4, 9, 9, 9, 9};
    TCVerlet fa{-3e38f, 0, 0, 0, 0, 0}, fb{3e38f, 0, 0, 0, 0, 0};
    const TCVerlet s0 = s, a0 = a, b0 = b, fa0 = fa, fb0 = fb;
    EXPECT_EQ(spring_force(s, s, 2.5f), 2.5f);
    EXPECT_EQ(spring_force(a, b, -1.5f), -1.5f);
    spring_force(fa, fb, 1.0f);
    EXPECT_TRUE(same_bits(s, s0) && same_bits(a, a0) && same_bits(b, b0));
    EXPECT_TRUE(same_bits(fa, fa0) && same_bits(fb, fb0));
}

TEST(Spring, RandomPairProperties) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    const float tol = 1e-4f;
    for (int i = 0; i < 2000; ++i) {
        TCVerlet a{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        TCVerlet b{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        const TCVerlet a0 = a, b0 = b;
        const float rest = u(rng);
        EXPECT_EQ(spring_force(a, b, rest), rest - clen(a0.x, a0.y, b0.x, b0.y));
        // Old positions and accelerations are left alone; equal and opposite
        // moves keep the midpoint; the pair ends |rest| apart.
        EXPECT_EQ(std::memcmp(&a.old_x, &a0.old_x, 4 * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(&b.old_x, &b0.old_x, 4 * sizeof(float)), 0);
        EXPECT_NEAR(a.x + b.x, a0.x + b0.x, tol);
        EXPECT_NEAR(a.y + b.y, a0.y + b0.y, tol);
        EXPECT_NEAR(clen(a.x, a.y, b.x, b.y), std::fabs(rest), tol);
    }
}

}  // namespace
