// A fixed cloth-like scene must end in the same bits in every build (Debug, Release,
// sanitizers, -march=native) and on every processor path. When the arithmetic is
// changed on purpose, run this test, copy the hash it prints on failure into
// kExpectedHash, check it is the same at -O0 and in Release, and say why in the commit.
#include <gtest/gtest.h>
#include <cstdint>
#include <vector>
#include "physics.h"
#include "physics_paths.h"

static const uint64_t kExpectedHash = 0x3e9efe66eca03fb5ull;
static const unsigned kCols = 24, kRows = 16;

static uint64_t fnv1a(const void* data, size_t size, uint64_t h = 1469598103934665603ull) {
    for (size_t i = 0; i < size; ++i) h = (h ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    return h;
}

// Runs the scene on `path` (-1: update_physics); hashes every error the
// springs return and the particles at the end.
static uint64_t run_scene(int path) {
    std::vector<TCVerlet> ps(kCols * kRows);
    for (unsigned r = 0; r < kRows; ++r)
        for (unsigned c = 0; c < kCols; ++c) {
            const float x = c * 1.5f + r * 0.05f, y = r * 1.5f;
            ps[r * kCols + c] = TCVerlet{x, y, x, y, 0, 0};
        }
    const float rest = clen(0, 0, 1.5f, 0);
    uint64_t h = fnv1a(nullptr, 0);
    float prev_dt = 0.0f;
    for (unsigned s = 0; s < 1000; ++s) {
        const float dt = 1.0f / 60.0f + (s % 7) * 0.0015f;
        for (TCVerlet& p : ps) {
            p.acc_y -= 9.81f;
            p.acc_x += (s % 200 < 100) ? 0.7f : -0.4f;  // a gusting wind
        }
        prev_dt = path < 0 ? update_physics(dt, prev_dt, ps.data(), unsigned(ps.size()))
                           : update_physics_path(path, dt, prev_dt, ps.data(), unsigned(ps.size()));
        for (int pass = 0; pass < 3; ++pass)
            for (unsigned r = 0; r < kRows; ++r)
                for (unsigned c = 0; c < kCols; ++c) {
                    TCVerlet& p = ps[r * kCols + c];
                    float e = 0;
                    if (c + 1 < kCols) e += spring_force(p, ps[r * kCols + c + 1], rest);
                    if (r + 1 < kRows) e += spring_force(p, ps[(r + 1) * kCols + c], rest);
                    h = fnv1a(&e, sizeof e, h);
                }
        for (unsigned c : {0u, kCols / 2, kCols - 1}) {  // top corners and middle pinned
            TCVerlet& p = ps[(kRows - 1) * kCols + c];
            p.x = p.old_x = c * 1.5f + (kRows - 1) * 0.05f;
            p.y = p.old_y = (kRows - 1) * 1.5f;
        }
    }
    return fnv1a(ps.data(), ps.size() * sizeof(TCVerlet), h);
}

TEST(Determinism, FixedSceneHashOnEveryPath) {
    const uint64_t got = run_scene(-1);
    EXPECT_EQ(got, kExpectedHash) << "scene hash 0x" << std::hex << got << " (selected path "
                                  << physics_path_name(physics_selected_path()) << ")";
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        if (physics_path_available(path))
            EXPECT_EQ(run_scene(path), got) << "path " << physics_path_name(path) << " differs";
}
