// spring_force's worked examples and pairs with no direction (bits: kernel_exactness).
#include <gtest/gtest.h>
#include <cstring>
#include <penshell/physics.h>

TEST(Spring, WorkedExamples) {
    EXPECT_FLOAT_EQ(clen(0, 0, 3, 4), 4.994984f);  // 0.41 * 3 + 0.941246 * 4
    TCVerlet a{0, 0, 0, 0, 0, 0}, b{10, 0, 0, 0, 0, 0};  // 2 longer than the rest length
    EXPECT_FLOAT_EQ(spring_force(a, b, clen(0, 0, 10, 0) - 2.0f), -2.0f);
    EXPECT_FLOAT_EQ(a.x, 1.062422f);
    EXPECT_FLOAT_EQ(b.x, 8.937578f);
}

TEST(Spring, PairsWithNoDirectionStayPut) {
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
