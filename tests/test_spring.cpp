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

TEST(Clen, ConstantsAndExamples) {
    const float k_short = from_bits(0x3ED1EB85), k_long = from_bits(0x3F70F57F);
    EXPECT_EQ(clen(0, 0, 1, 0), k_long);
    EXPECT_EQ(clen(0, 0, 0, 1), k_long);
    EXPECT_EQ(clen(0, 0, 1, 1), k_short + k_long);
    EXPECT_EQ(clen(0, 0, 3, 4), k_short * 3 + k_long * 4);
    EXPECT_EQ(clen(0, 0, 4, 3), k_short * 3 + k_long * 4);
    EXPECT_FLOAT_EQ(clen(0, 0, 1, 1), 1.351246f);
    EXPECT_FLOAT_EQ(clen(0, 0, 3, 4), 4.994984f);
    EXPECT_EQ(clen(2.5f, -7, 2.5f, -7), 0.0f);
    EXPECT_TRUE(std::isnan(clen(0, 0, NAN, 1)));
}

TEST(Clen, SymmetricInPointsAndAxes) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1e3f, 1e3f);
    for (int i = 0; i < 1000; ++i) {
        const float x1 = u(rng), y1 = u(rng), x2 = u(rng), y2 = (i % 10 == 0) ? y1 + (x2 - x1) : u(rng);
        const float c = clen(x1, y1, x2, y2);
        EXPECT_EQ(c, clen(x2, y2, x1, y1));
        EXPECT_EQ(c, clen(y1, x1, y2, x2));
    }
}

TEST(Spring, WorkedExamples) {
    const float d = clen(0, 0, 10, 0);
    EXPECT_FLOAT_EQ(d, 9.412459f);

    TCVerlet a{0, 0, 0, 0, 0, 0}, b{10, 0, 0, 0, 0, 0};
    EXPECT_EQ(spring_force(a, b, d), 0.0f);  // already at rest length
    EXPECT_EQ(a.x, 0.0f);
    EXPECT_EQ(b.x, 10.0f);

    const float rest = d - 2.0f;  // stretched by 2: each end moves 1/0.941246 inwards
    EXPECT_FLOAT_EQ(spring_force(a, b, rest), -2.0f);
    EXPECT_FLOAT_EQ(a.x, 1.062422f);
    EXPECT_FLOAT_EQ(b.x, 8.937578f);
    EXPECT_EQ(a.y, 0.0f);
    EXPECT_EQ(b.y, 0.0f);
    EXPECT_FLOAT_EQ(clen(a.x, a.y, b.x, b.y), rest);

    // A negative rest length makes the pair cross over.
    TCVerlet c{0, 0, 0, 0, 0, 0}, e{10, 0, 0, 0, 0, 0};
    EXPECT_FLOAT_EQ(spring_force(c, e, -1.0f), -10.412459f);
    EXPECT_FLOAT_EQ(c.x, 5.531211f);
    EXPECT_FLOAT_EQ(e.x, 4.468789f);
    EXPECT_FLOAT_EQ(clen(c.x, c.y, e.x, e.y), 1.0f);
}

TEST(Spring, CoincidentOrUnboundedPairsStayPut) {
    // Same record twice, two records at one place, and a distance that overflows:
    // none has a usable direction, and none may receive NaN or infinity.
    TCVerlet s{3, 4, 1, 2, 5, 6};
    const TCVerlet s0 = s;
    EXPECT_EQ(spring_force(s, s, 2.5f), 2.5f);
    EXPECT_TRUE(same_bits(s, s0));

    TCVerlet a{3, 4, 0, 0, 0, 0}, b{3, 4, 9, 9, 9, 9};
    const TCVerlet a0 = a, b0 = b;
    EXPECT_EQ(spring_force(a, b, -1.5f), -1.5f);
    EXPECT_TRUE(same_bits(a, a0));
    EXPECT_TRUE(same_bits(b, b0));

    TCVerlet far_a{-3e38f, 0, 0, 0, 0, 0}, far_b{3e38f, 0, 0, 0, 0, 0};
    const TCVerlet fa0 = far_a, fb0 = far_b;
    spring_force(far_a, far_b, 1.0f);
    EXPECT_TRUE(same_bits(far_a, fa0));
    EXPECT_TRUE(same_bits(far_b, fb0));
}

TEST(Spring, RandomPairProperties) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    for (int i = 0; i < 2000; ++i) {
        TCVerlet a{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        TCVerlet b{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        const TCVerlet a0 = a, b0 = b;
        const float rest = u(rng);
        const float len0 = clen(a.x, a.y, b.x, b.y);
        const float err = spring_force(a, b, rest);
        EXPECT_EQ(err, rest - len0);
        // Old positions and accelerations are not the spring's business.
        EXPECT_EQ(std::memcmp(&a.old_x, &a0.old_x, 4 * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(&b.old_x, &b0.old_x, 4 * sizeof(float)), 0);
        // Equal and opposite moves keep the midpoint.
        const float tol = 1e-4f;
        EXPECT_NEAR(a.x + b.x, a0.x + b0.x, tol);
        EXPECT_NEAR(a.y + b.y, a0.y + b0.y, tol);
        EXPECT_NEAR(clen(a.x, a.y, b.x, b.y), std::fabs(rest), tol);
    }
}

}  // namespace
