// Every processor path of update_physics must give the scalar path's bits, for
// any length and any start address, and write nothing outside the records.
#include "physics.h"
#include "physics_paths.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Finite values of every kind the arithmetic meets: signed zeros, subnormals,
// tiny and huge magnitudes, ordinary ones.
float random_value(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    switch (rng() % 10) {
    case 0: return (rng() & 1) ? 0.0f : -0.0f;
    case 1: return u(rng) * 1e-40f;
    case 2: return u(rng) * 1e35f;
    default: return u(rng);
    }
}

TEST(StepPaths, EveryPathMatchesScalarBits) {
    std::mt19937 rng(2024);
    const unsigned lengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 16, 17, 31, 64, 257, 1001};
    const float steps[][2] = {{0.5f, 0.5f}, {1.0f / 60, 1.0f / 30}, {0.02f, 0.0f}, {3.0f, 0.001f}};
    int checked_paths = 0;
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path) {
        if (!physics_path_available(path)) continue;
        ++checked_paths;
        for (unsigned n : lengths)
            for (unsigned offset = 0; offset < 8; ++offset) {
                // Records start `offset` floats into the buffer, 8 guard floats follow.
                const size_t floats = offset + n * 6 + 8;
                std::vector<float> ref(floats), got(floats);
                for (float& f : ref) f = random_value(rng);
                got = ref;
                TCVerlet* r = reinterpret_cast<TCVerlet*>(ref.data() + offset);
                TCVerlet* g = reinterpret_cast<TCVerlet*>(got.data() + offset);
                // Not every record: the ones past count must stay as they were.
                const unsigned count = (n > 2 && offset % 2) ? n - 1 : n;
                for (const auto& s : steps) {
                    update_physics_path(PHYSICS_PATH_SCALAR, s[0], s[1], r, count);
                    update_physics_path(path, s[0], s[1], g, count);
                }
                ASSERT_EQ(std::memcmp(ref.data(), got.data(), floats * sizeof(float)), 0)
                    << physics_path_name(path) << " differs: n " << n << " count " << count
                    << " offset " << offset;
            }
    }
#if defined(__x86_64__)
    EXPECT_GE(checked_paths, 2);  // SSE2 is always there
#endif
    EXPECT_TRUE(physics_path_available(physics_selected_path()));
}

}  // namespace
