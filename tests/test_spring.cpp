// spring_force's worked examples and pairs with no direction (bits: kernel_exactness).
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
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

// A schedule is tied to the set it was made for. Used with another spring
// count, or after a refusal, it is not followed: the pass falls back to the
// given order, so the result is still spring_force's, bit for bit.
TEST(SpringSchedule, MisusedScheduleFallsBackToTheGivenOrder) {
    std::vector<TCVerlet> ps;
    for (int i = 0; i < 40; ++i) ps.push_back(TCVerlet{float(i % 7) * 1.3f, float(i / 7) * 0.7f, 0, 0, 0, 0});
    std::vector<TCSpring> ss;
    for (unsigned i = 0; i < 200; ++i) ss.push_back(TCSpring{(i * 7) % 40, (i * 13 + 1) % 40, 0.5f + float(i % 5)});
    std::vector<unsigned> schedule(spring_schedule_words(200, 40));
    ASSERT_TRUE(spring_schedule(ss.data(), 200, 40, schedule.data()));
    for (unsigned count : {199u, 200u}) {
        std::vector<TCVerlet> want = ps, got = ps;
        for (unsigned i = 0; i < count; ++i) spring_force(want[ss[i].a], want[ss[i].b], ss[i].rest_length);
        spring_pass(got.data(), ss.data(), count, schedule.data());
        EXPECT_EQ(std::memcmp(want.data(), got.data(), ps.size() * sizeof(TCVerlet)), 0) << count << " springs";
    }
    ss[3].b = 40;  // past the particles: refused
    EXPECT_FALSE(spring_schedule(ss.data(), 200, 40, schedule.data()));
    ss[3].b = 39;
    std::vector<TCVerlet> want = ps, got = ps;
    for (const TCSpring& s : ss) spring_force(want[s.a], want[s.b], s.rest_length);
    spring_pass(got.data(), ss.data(), 200, schedule.data());
    EXPECT_EQ(std::memcmp(want.data(), got.data(), ps.size() * sizeof(TCVerlet)), 0);
}

// Word counts that do not fit an unsigned are refused, not wrapped around.
TEST(SpringSchedule, TooManySpringsAreRefused) {
    EXPECT_GT(spring_schedule_words(1u << 30, 10), 3u << 30);
    EXPECT_EQ(spring_schedule_words(0xFFFFFFFFu, 10), 0u);
    EXPECT_EQ(spring_schedule_words(1500000000u, 10), 0u);
    unsigned word = 12345;
    EXPECT_FALSE(spring_schedule(nullptr, 0xFFFFFFFFu, 10, &word));  // reads no spring, writes nothing
    EXPECT_EQ(word, 12345u);
}
