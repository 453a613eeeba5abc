// Every processor path of update_physics must give the scalar path's bits for
// any length and start address, and write nothing outside the records.
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <vector>
#include "physics.h"
#include "physics_paths.h"

TEST(StepPaths, EveryPathMatchesScalarBits) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    auto value = [&] {  // signed zeros, subnormals, huge and ordinary magnitudes
        const unsigned kind = rng() % 10;
        const float v = u(rng);
        return kind == 0 ? (v < 0 ? -0.0f : 0.0f) : kind == 1 ? v * 1e-40f : kind == 2 ? v * 1e35f : v;
    };
    const unsigned lengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 16, 17, 31, 64, 257, 1001};
    const float steps[][2] = {{0.5f, 0.5f}, {1.0f / 60, 1.0f / 30}, {0.02f, 0.0f}, {3.0f, 0.001f}};
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path) {
        if (!physics_path_available(path)) continue;
        for (unsigned n : lengths)
            for (unsigned offset = 0; offset < 8; ++offset) {
                // Records start `offset` floats into the buffer; 8 guard floats follow,
                // and with odd offsets the last record is past count.
                std::vector<float> ref(offset + n * 6 + 8);
                for (float& f : ref) f = value();
                std::vector<float> got = ref;
                const unsigned count = (n > 2 && offset % 2) ? n - 1 : n;
                for (const auto& s : steps) {
                    update_physics_path(PHYSICS_PATH_SCALAR, s[0], s[1], (TCVerlet*)&ref[offset], count);
                    update_physics_path(path, s[0], s[1], (TCVerlet*)&got[offset], count);
                }
                ASSERT_EQ(std::memcmp(ref.data(), got.data(), ref.size() * sizeof(float)), 0)
                    << physics_path_name(path) << " differs: n " << n << " count " << count
                    << " offset " << offset;
            }
    }
#if defined(__x86_64__)
    EXPECT_TRUE(physics_path_available(PHYSICS_PATH_SSE2));  // else nothing here is compared
#endif
}
