// The scenes every benchmark of the kernel runs on, natively and in WebAssembly.
#include "bench.h"

#include <cstdint>
#include <cstdlib>

void fill_scene(std::vector<TCVerlet>& v) {
    uint32_t s = 12345;
    auto next = [&s] { s = s * 1664525u + 1013904223u; return float(s >> 8) / float(1u << 24); };
    for (TCVerlet& p : v) {
        const float x = next() * 100.0f, y = next() * 100.0f;
        p = TCVerlet{x, y, x - next() * 0.1f, y - next() * 0.1f, 0.0f, -9.81f};
    }
}

void lay_out_springs(unsigned side, unsigned rope, std::vector<TCVerlet>& start, std::vector<TCSpring>& springs) {
    const unsigned n = side > 1 ? side * side : rope + 1, w = side > 1 ? side : n;
    uint32_t seed = 777;
    auto jitter = [&seed] { seed = seed * 1664525u + 1013904223u; return float(seed >> 8) / float(1u << 24) - 0.5f; };
    for (unsigned i = 0; i < n; ++i) {
        const float x = float(i % w) + 0.2f * jitter(), y = float(i / w) + 0.2f * jitter();
        start.push_back(TCVerlet{x, y, x, y, 0.0f, -9.81f});
    }
    const float side_len = clen(0, 0, 1, 0), diagonal = clen(0, 0, 1, 1);
    for (unsigned i = 0; i < n; ++i) {
        const unsigned r = i / w, c = i % w;
        if (c + 1 < w) springs.push_back(TCSpring{i, i + 1, side_len});
        if (r + 1 < n / w) {
            springs.push_back(TCSpring{i, i + w, side_len});
            if (c + 1 < w) springs.push_back(TCSpring{i, i + w + 1, diagonal});
            if (c > 0) springs.push_back(TCSpring{i, i + w - 1, diagonal});
        }
    }
}

SpringSet make_springs(unsigned side, unsigned rope) {
    SpringSet set;
    lay_out_springs(side, rope, set.start, set.springs);
    const unsigned n = unsigned(set.start.size());
    const unsigned count = unsigned(set.springs.size());
    set.schedule.resize(spring_schedule_words(count, n));
    if (!spring_schedule(set.springs.data(), count, n, set.schedule.data())) std::abort();
    set.order.resize(count);
    spring_schedule_order(set.schedule.data(), count, set.order.data());
    return set;
}

void make_rule_scene(const std::vector<TCVerlet>& start, unsigned side, RuleScene& scene) {
    scene.holds.clear();
    for (unsigned c = 0; c < side; ++c) scene.holds.push_back(TCHold{c, start[c].x, start[c].y, 1});
    scene.plane = TCPlane{0.0f, -1.0f, -float(side) * 2 / 3};  // y <= two thirds of the side
    scene.circle = TCCircle{float(side) / 2, float(side) * 0.4f, float(side) * 0.16f};
    scene.rules = TCRules{scene.holds.data(), unsigned(scene.holds.size()), &scene.plane, 1, &scene.circle, 1};
}

CollideScene make_collide_scene(int which) {
    uint32_t seed = 4242;
    auto next = [&seed] { seed = seed * 1664525u + 1013904223u; return float(seed >> 8) / float(1u << 24); };
    CollideScene s;
    auto put = [&s](float x, float y, float radius) {
        s.start.push_back(TCVerlet{x, y, x, y, 0.0f, -9.81f});
        s.radii.push_back(radius);
    };
    if (which == 0) {
        s.name = "pile";
        for (unsigned i = 0; i < 316 * 316; ++i)
            put(float(i % 316) * 0.95f + (next() - 0.5f) * 0.1f, float(i / 316) * 0.95f + (next() - 0.5f) * 0.1f, 0.5f);
    } else if (which == 1) {
        s.name = "cloth";
        for (unsigned i = 0; i < 256 * 256; ++i) put(float(i % 256), float(i / 256), 0.4f);
    } else {
        s.name = "sparse";
        for (unsigned i = 0; i < 100000; ++i) put(next() * 1000.0f, next() * 1000.0f, 0.5f);
    }
    return s;
}
