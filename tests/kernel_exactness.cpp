// The kernel's exactness, needing only a compiler so that it builds with any flags for
// any processor: a fixed scene's hash and random data against the plain float arithmetic
// on every path; exits 1 on a mismatch. Change kSceneHash only with the arithmetic, saying why.
#include <penshell/physics.h>
#include "physics_paths.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

static const uint64_t kSceneHash = 0x3e9efe66eca03fb5ull;
static const int kUpdatePhysics = -1;  // whichever path update_physics picks

// A product stored before it is added: no compiler may fuse the two, whatever the flags.
static float mul(float a, float b) { volatile float p = a * b; return p; }

static float step(int path, float dt, float prev_dt, float* f, unsigned n) {
    return path == kUpdatePhysics ? update_physics(dt, prev_dt, (TCVerlet*)f, n)
                                  : update_physics_path(path, dt, prev_dt, (TCVerlet*)f, n);
}

static void step_reference(float dt, float prev_dt, float* f, unsigned n) {
    const float dt2 = mul(dt, dt), ratio = prev_dt > 0 ? dt / prev_dt : 0.0f;
    for (float* p = f; p < f + 6 * n; p += 6)
        for (int k = 0; k < 2; ++k) {
            const float cur = p[k];
            p[k] = (mul(cur - p[k + 2], ratio) + cur) + mul(p[k + 4], dt2);
            p[k + 2] = cur, p[k + 4] = 0.0f;
        }
}

static uint64_t fnv1a(const void* data, size_t size, uint64_t h = 1469598103934665603ull) {
    for (size_t i = 0; i < size; ++i) h = (h ^ ((const unsigned char*)data)[i]) * 1099511628211ull;
    return h;
}

// A 24 x 16 cloth pinned at three points in gravity and a gusting wind for 1000
// steps; hashes every error the springs return and the particles at the end.
static uint64_t scene_hash(int path) {
    const unsigned cols = 24, rows = 16, n = cols * rows;
    std::vector<TCVerlet> ps(n);
    auto place = [&](unsigned i) {
        ps[i].x = ps[i].old_x = mul(float(i % cols), 1.5f) + mul(float(i / cols), 0.05f);
        ps[i].y = ps[i].old_y = mul(float(i / cols), 1.5f);
    };
    for (unsigned i = 0; i < n; ++i) place(i);
    const float rest = clen(0, 0, 1.5f, 0);
    uint64_t h = fnv1a(nullptr, 0);
    float prev_dt = 0.0f;
    for (unsigned s = 0; s < 1000; ++s) {
        for (TCVerlet& p : ps) p.acc_y -= 9.81f, p.acc_x += (s % 200 < 100) ? 0.7f : -0.4f;
        prev_dt = step(path, 1.0f / 60.0f + mul(float(s % 7), 0.0015f), prev_dt, &ps[0].x, n);
        for (int pass = 0; pass < 3; ++pass)
            for (unsigned i = 0; i < n; ++i) {
                float e = 0;
                if (i % cols + 1 < cols) e += spring_force(ps[i], ps[i + 1], rest);
                if (i + cols < n) e += spring_force(ps[i], ps[i + cols], rest);
                h = fnv1a(&e, sizeof e, h);
            }
        for (unsigned c : {0u, cols / 2, cols - 1}) place(n - cols + c);
    }
    return fnv1a(ps.data(), n * sizeof(TCVerlet), h);
}

// Random records (signed zeros, subnormals, huge and ordinary values) of every
// length from 0 and every start address, guard floats after them and for odd
// starts a record past count, stepped after every kind of previous step.
static bool steps_match_reference(int path) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    const float scale[] = {0.0f, 1e-40f, 1e35f, 1, 1, 1, 1, 1};
    const float steps[][2] = {{0.5f, 0.5f}, {1.0f / 60, 1.0f / 30}, {0.02f, 0}, {3, 0.001f}, {1, -1}, {1, NAN}};
    for (unsigned n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 16, 17, 31, 64, 257, 1001})
        for (unsigned offset = 0; offset < 8; ++offset) {
            std::vector<float> ref(offset + n * 6 + 8);
            for (float& f : ref) f = u(rng) * scale[rng() % 8];
            std::vector<float> got = ref;
            const unsigned count = (n > 2 && offset % 2) ? n - 1 : n;
            for (const auto& s : steps) {
                step_reference(s[0], s[1], &ref[offset], count);
                if (step(path, s[0], s[1], &got[offset], count) != s[0]) return false;
            }
            if (memcmp(ref.data(), got.data(), ref.size() * sizeof(float)) != 0) return false;
        }
    return true;
}

// clen (both points and both axes swapped too) and spring_force on random pairs.
static bool springs_match_reference() {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    for (int i = 0; i < 20000; ++i) {
        TCVerlet a{u(rng), u(rng), 1, 2, 3, 4}, b{u(rng), u(rng), 5, 6, 7, 8};
        const float dx = std::fabs(b.x - a.x), dy = std::fabs(b.y - a.y), rest = u(rng);
        const float len = mul(0.41f, dy > dx ? dx : dy) + mul(0.941246f, dy > dx ? dy : dx), err = rest - len;
        const float mx = mul(mul((b.x - a.x) / len, err), 0.5f), my = mul(mul((b.y - a.y) / len, err), 0.5f);
        const TCVerlet a1{a.x - mx, a.y - my, 1, 2, 3, 4}, b1{b.x + mx, b.y + my, 5, 6, 7, 8};
        if (clen(a.x, a.y, b.x, b.y) != len || clen(b.y, b.x, a.y, a.x) != len ||
            spring_force(a, b, rest) != err || memcmp(&a, &a1, sizeof a) || memcmp(&b, &b1, sizeof b))
            return false;
    }
    return true;
}

int main() {
    bool all = springs_match_reference();
    std::printf("%s clen and spring_force match the plain arithmetic\n", all ? "ok  " : "FAIL");
    for (int path = kUpdatePhysics; path < PHYSICS_PATH_COUNT; ++path) {
        const char* name = path == kUpdatePhysics ? "update_physics" : physics_path_name(path);
        if (path != kUpdatePhysics && !physics_path_available(path)) {
            std::printf("skip %s: not in this build or not on this processor\n", name);
            continue;
        }
        const uint64_t h = scene_hash(path);
        const bool ok = h == kSceneHash && steps_match_reference(path);
        std::printf("%s %s: scene hash %016llx, steps vs plain arithmetic\n", ok ? "ok  " : "FAIL", name,
                    (unsigned long long)h);
        all = all && ok;
    }
    return all ? 0 : 1;
}
