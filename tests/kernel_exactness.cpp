// The kernel's exactness, needing only a compiler so that it builds with any flags for
// any processor: two fixed scenes' hashes, random data against the plain float arithmetic
// and a table of spring topologies against spring_force in the given order, on every path;
// exits 1 on a mismatch. Change the hashes only with the arithmetic, saying why.
// The reference arithmetic must stay as exact as the kernel's under the flags tried.
#if defined(__clang__) && defined(__wasm__)
#pragma clang fp reassociate(off) contract(off)
#elif defined(__clang__)
#pragma float_control(precise, on)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off", "no-associative-math", "no-reciprocal-math", "signed-zeros")
#endif
#include <penshell/physics.h>
#include "physics_paths.h"
#include "rules_reference.h"
#include "collide_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

static const uint64_t kSceneHash = 0x3e9efe66eca03fb5ull;
static const uint64_t kClothHash = 0xf0da463a21677323ull;
static const uint64_t kRulesHash = 0x8c9793831cd67bd1ull;
static const uint64_t kOneHoldHash = 0xa73f2f89e168f99aull;
static const uint64_t kBallsHash = 0x949b6ac4f5798a17ull;
static const uint64_t kCollideHash = 0xfc1c7e98db151acbull;
static const uint64_t kTornHash = 0x105543b949bb4041ull;
static const int kUpdatePhysics = -1;  // whichever path update_physics and spring_pass pick

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
        const float s = i % 4 ? 1.0f : 1e-39f;  // tiny: halved products round (see tiny_distances)
        TCVerlet a{u(rng) * s, u(rng) * s, 1, 2, 3, 4}, b{u(rng) * s, u(rng) * s, 5, 6, 7, 8};
        const float dx = std::fabs(b.x - a.x), dy = std::fabs(b.y - a.y), rest = u(rng) * s;
        const float len = mul(0.41f, dy > dx ? dx : dy) + mul(0.941246f, dy > dx ? dy : dx), err = rest - len;
        const float mx = mul(mul((b.x - a.x) / len, err), 0.5f), my = mul(mul((b.y - a.y) / len, err), 0.5f);
        const TCVerlet a1{a.x - mx, a.y - my, 1, 2, 3, 4}, b1{b.x + mx, b.y + my, 5, 6, 7, 8};
        if (clen(a.x, a.y, b.x, b.y) != len || clen(b.y, b.x, a.y, a.x) != len ||
            spring_force(a, b, rest) != err || memcmp(&a, &a1, sizeof a) || memcmp(&b, &b1, sizeof b))
            return false;
    }
    return true;
}

// ---- springs in batches ----

static float spring_pass_on(int path, TCVerlet* ps, const std::vector<TCSpring>& ss, const unsigned* schedule) {
    return path == kUpdatePhysics ? spring_pass(ps, ss.data(), unsigned(ss.size()), schedule)
                                  : spring_pass_path(path, ps, ss.data(), unsigned(ss.size()), schedule);
}

// What spring_pass promises: spring_force on each spring in the given order;
// the largest |error| with NaN left out, 0 with no springs.
static float pass_reference(TCVerlet* ps, const std::vector<TCSpring>& ss) {
    float largest = 0.0f;
    for (const TCSpring& s : ss) {
        const float e = std::fabs(spring_force(ps[s.a], ps[s.b], s.rest_length));
        if (!std::isnan(e)) largest = std::max(largest, e);
    }
    return largest;
}

static bool same_bits(float a, float b) { return memcmp(&a, &b, sizeof a) == 0; }

// Particles and springs of one topology, made for a given spring count.
struct Topology {
    std::vector<TCVerlet> ps;
    std::vector<TCSpring> ss;
};

static float uniform(std::mt19937& rng, float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

// Old positions and accelerations are random too: a pass must leave them alone.
static void scatter(Topology& t, unsigned count, std::mt19937& rng, float spread) {
    for (unsigned i = 0; i < count; ++i)
        t.ps.push_back(TCVerlet{uniform(rng, -spread, spread), uniform(rng, -spread, spread), uniform(rng, -9, 9),
                                uniform(rng, -9, 9), uniform(rng, -9, 9), uniform(rng, -9, 9)});
}

static void add(Topology& t, unsigned a, unsigned b, float rest) { t.ss.push_back(TCSpring{a, b, rest}); }

static void random_pairs(Topology& t, unsigned n, std::mt19937& rng, unsigned particles) {
    scatter(t, particles, rng, 10);
    for (unsigned i = 0; i < n; ++i) add(t, rng() % particles, rng() % particles, uniform(rng, 0.5f, 4));
}

// Few particles: repeated springs and long runs through one particle.
static void dense_pairs(Topology& t, unsigned n, std::mt19937& rng) { random_pairs(t, n, rng, n / 4 + 2); }
// Many particles: few shared, so nearly all springs could go at once.
static void sparse_pairs(Topology& t, unsigned n, std::mt19937& rng) { random_pairs(t, n, rng, 3 * n + 2); }

static void self_springs(Topology& t, unsigned n, std::mt19937& rng) {
    random_pairs(t, n, rng, n / 2 + 2);
    for (TCSpring& s : t.ss)
        if (rng() % 3 == 0) s.b = s.a;
}

// Every spring waits for the one before it.
static void chain_forward(Topology& t, unsigned n, std::mt19937& rng) {
    scatter(t, n + 1, rng, 3);
    for (unsigned i = 0; i < n; ++i) add(t, i, i + 1, 0.5f);
}

static void chain_backward(Topology& t, unsigned n, std::mt19937& rng) {
    scatter(t, n + 1, rng, 3);
    for (unsigned i = n; i-- > 0;) add(t, i + 1, i, 0.5f);
}

// Every spring shares particle 0 with every other, on either end.
static void star(Topology& t, unsigned n, std::mt19937& rng) {
    scatter(t, n / 2 + 2, rng, 5);
    for (unsigned i = 0; i < n; ++i)
        i % 2 ? add(t, 1 + i % (n / 2 + 1), 0, 2) : add(t, 0, 1 + i % (n / 2 + 1), 1);
}

// The structural and shear springs of a cols x rows cloth (particle r * cols + c),
// given particle by particle, row by row or column by column.
static void cloth_springs(Topology& t, unsigned cols, unsigned rows, float cell, bool by_row) {
    const float side = clen(0, 0, cell, 0), diagonal = clen(0, 0, cell, cell);
    for (unsigned j = 0; j < (by_row ? rows : cols); ++j)
        for (unsigned k = 0; k < (by_row ? cols : rows); ++k) {
            const unsigned r = by_row ? j : k, c = by_row ? k : j, i = r * cols + c;
            if (c + 1 < cols) add(t, i, i + 1, side);
            if (r + 1 < rows) add(t, i, i + cols, side);
            if (c + 1 < cols && r + 1 < rows) add(t, i, i + cols + 1, diagonal);
            if (c > 0 && r + 1 < rows) add(t, i, i + cols - 1, diagonal);
        }
}

// A jittered square cloth, by row or by column, cut to n springs.
static void grid(Topology& t, unsigned n, std::mt19937& rng, bool by_row) {
    unsigned w = 2;
    while (4 * w * w < n + 6 * w) ++w;
    for (unsigned i = 0; i < w * w; ++i)
        t.ps.push_back(TCVerlet{float(i % w) + uniform(rng, -0.3f, 0.3f), float(i / w) + uniform(rng, -0.3f, 0.3f),
                                float(i % w), float(i / w), 0, -9.81f});
    cloth_springs(t, w, w, 1, by_row);
    t.ss.resize(n);
}

static void grid_by_row(Topology& t, unsigned n, std::mt19937& rng) { grid(t, n, rng, true); }
static void grid_by_column(Topology& t, unsigned n, std::mt19937& rng) { grid(t, n, rng, false); }
static void grid_shuffled(Topology& t, unsigned n, std::mt19937& rng) {
    grid(t, n, rng, true);
    std::shuffle(t.ss.begin(), t.ss.end(), rng);
}

// Particles on four places only: many pairs have no direction.
static void coincident(Topology& t, unsigned n, std::mt19937& rng) {
    random_pairs(t, n, rng, n / 3 + 2);
    for (TCVerlet& p : t.ps) p.x = float(rng() % 2), p.y = float(rng() % 2);
}

static void odd_rest_lengths(Topology& t, unsigned n, std::mt19937& rng) {
    const float odd[] = {-3, -0.0f, 0, 1e-30f, 1e30f, 3e38f, -3e38f, INFINITY, -INFINITY, NAN, 2};
    random_pairs(t, n, rng, n / 2 + 2);
    for (TCSpring& s : t.ss) s.rest_length = odd[rng() % 11];
}

static void non_finite_positions(Topology& t, unsigned n, std::mt19937& rng) {
    const float odd[] = {INFINITY, -INFINITY, NAN, 3e38f, -3e38f, 1e-40f};
    random_pairs(t, n, rng, n / 2 + 2);
    for (TCVerlet& p : t.ps)
        if (rng() % 4 == 0) (rng() % 2 ? p.x : p.y) = odd[rng() % 6];
}

// One coordinate NaN and the other far out, nothing else odd: a NaN length
// leaves its spring out of the largest error, whichever side is NaN; taking
// the other side's length instead would report the largest error of all.
static void nan_coordinates(Topology& t, unsigned n, std::mt19937& rng) {
    random_pairs(t, n, rng, n / 2 + 2);
    for (TCVerlet& p : t.ps)
        if (rng() % 4 == 0) rng() % 2 ? (p.x = NAN, p.y *= 1000) : (p.y = NAN, p.x *= 1000);
}

// Distances near the smallest normal float: a halved product there is
// subnormal and rounds, so a halving fused into the move changes the bits.
static void tiny_distances(Topology& t, unsigned n, std::mt19937& rng) {
    random_pairs(t, n, rng, n / 2 + 2);
    for (TCVerlet& p : t.ps) p.x *= 1e-39f, p.y *= 1e-39f;
    for (TCSpring& s : t.ss) s.rest_length *= 1e-39f;
}

static const struct {
    const char* name;
    void (*make)(Topology&, unsigned, std::mt19937&);
} kTopologies[] = {
    {"random pairs with repeats", dense_pairs}, {"random pairs, few shared", sparse_pairs},
    {"self-springs", self_springs},             {"chain forward", chain_forward},
    {"chain backward", chain_backward},         {"star", star},
    {"grid by row", grid_by_row},               {"grid by column", grid_by_column},
    {"grid shuffled", grid_shuffled},           {"coincident particles", coincident},
    {"odd rest lengths", odd_rest_lengths},     {"non-finite positions", non_finite_positions},
    {"NaN coordinates", nan_coordinates},       {"tiny distances", tiny_distances},
};
// Partial vectors of every width at the end, and sets past 16-bit indices.
static const unsigned kSpringCounts[] = {0,  1,  2,  3,  4,  5,   7,   8,    9,    15,   16,   17,
                                         31, 32, 33, 63, 64, 65, 127, 129, 1000, 4099, 70001};

static const unsigned kCanary = 0xdeadbeefu, kCanaryWords = 16;

// A schedule with canary words after the words it may use; false if it was
// refused or wrote past them.
static bool make_schedule(const Topology& t, std::vector<unsigned>& schedule) {
    const unsigned words = spring_schedule_words(unsigned(t.ss.size()), unsigned(t.ps.size()));
    schedule.assign(words + kCanaryWords, kCanary);
    const bool made = spring_schedule(t.ss.data(), unsigned(t.ss.size()), unsigned(t.ps.size()), schedule.data());
    return made && std::count(schedule.begin() + words, schedule.end(), kCanary) == kCanaryWords;
}

// The order the pass reports is a permutation that keeps any two springs that
// share a particle in the order given.
static bool order_keeps_shared_order(const Topology& t, const std::vector<unsigned>& schedule) {
    const unsigned n = unsigned(t.ss.size());
    std::vector<unsigned> order(n), position(n, n), last(t.ps.size(), n);
    spring_schedule_order(schedule.data(), n, order.data());
    for (unsigned k = 0; k < n; ++k) {
        if (order[k] >= n || position[order[k]] != n) return false;
        position[order[k]] = k;
    }
    for (unsigned i = 0; i < n; ++i)
        for (unsigned p : {t.ss[i].a, t.ss[i].b}) {
            if (last[p] != n && position[last[p]] > position[i]) return false;
            last[p] = i;
        }
    return true;
}

// Every topology and size: two passes on the path against spring_force in the
// given order, particles (and guard records past them) and results bit for bit;
// the rest lengths change between the passes, the schedule does not.
static bool springs_match_in_order(int path) {
    for (unsigned k = 0; k < sizeof kTopologies / sizeof kTopologies[0]; ++k)
        for (unsigned n : kSpringCounts) {
            std::mt19937 rng(1000 * k + n);
            Topology t;
            kTopologies[k].make(t, n, rng);
            std::vector<unsigned> schedule;
            bool ok = make_schedule(t, schedule) && order_keeps_shared_order(t, schedule);
            std::vector<TCVerlet> want = t.ps;
            want.push_back(TCVerlet{1, 2, 3, 4, 5, 6}), want.push_back(TCVerlet{7, 8, 9, 10, 11, 12});
            std::vector<TCVerlet> got = want;
            for (int pass = 0; pass < 2 && ok; ++pass) {
                ok = same_bits(pass_reference(want.data(), t.ss),
                               spring_pass_on(path, got.data(), t.ss, schedule.data()));
                for (TCSpring& s : t.ss) s.rest_length = 1.5f - s.rest_length;  // free to change between passes
            }
            if (!ok || memcmp(want.data(), got.data(), want.size() * sizeof(TCVerlet)) != 0) {
                std::printf("     %s, %u springs: differs from spring_force in order\n", kTopologies[k].name, n);
                return false;
            }
        }
    return true;
}

// Any index at or past the particle count, wherever it stands, refuses the set,
// without writing past the schedule's words; the last index is accepted. With
// no particles, no springs is a valid set and any spring is not.
static bool schedule_refuses_bad_indices() {
    Topology t, none;
    std::vector<unsigned> schedule;
    if (!make_schedule(none, schedule)) return false;
    none.ss.push_back(TCSpring{0, 0, 1});
    if (make_schedule(none, schedule)) return false;
    std::mt19937 rng(7);
    random_pairs(t, 33, rng, 10);
    t.ss[5] = TCSpring{9, 9, 1};
    if (!make_schedule(t, schedule)) return false;
    const unsigned bad[] = {10, 11, 0x80000000u, 0xffffffffu};
    for (unsigned where : {0u, 16u, 32u})
        for (unsigned index : bad)
            for (int end = 0; end < 2; ++end) {
                Topology u = t;
                (end ? u.ss[where].b : u.ss[where].a) = index;
                if (make_schedule(u, schedule) ||
                    std::count(schedule.end() - kCanaryWords, schedule.end(), kCanary) != kCanaryWords)
                    return false;
            }
    return true;
}

// A 24 x 16 cloth of structural and shear springs given row by row, pinned at
// its top corners, in gravity and a gusting wind for 500 steps of four passes
// each; hashes every result of spring_pass and the particles at the end.
static void place_in_cloth(std::vector<TCVerlet>& ps, unsigned i, unsigned cols) {
    ps[i].x = ps[i].old_x = mul(float(i % cols), 1.5f) + mul(float(i / cols), 0.05f);
    ps[i].y = ps[i].old_y = mul(float(i / cols), -1.5f);
}

static void lay_out_cloth(Topology& t, unsigned cols, unsigned rows) {
    t.ps.resize(cols * rows);
    for (unsigned i = 0; i < cols * rows; ++i) place_in_cloth(t.ps, i, cols);
    cloth_springs(t, cols, rows, 1.5f, true);
}

static uint64_t cloth_hash(int path) {
    const unsigned cols = 24, rows = 16, n = cols * rows;
    Topology t;
    lay_out_cloth(t, cols, rows);
    std::vector<TCVerlet>& ps = t.ps;
    auto place = [&](unsigned i) { place_in_cloth(ps, i, cols); };
    const std::vector<TCSpring>& ss = t.ss;
    std::vector<unsigned> schedule;
    if (!make_schedule(t, schedule)) return 0;
    uint64_t h = fnv1a(nullptr, 0);
    float prev_dt = 0.0f;
    for (unsigned s = 0; s < 500; ++s) {
        for (TCVerlet& p : ps) p.acc_y -= 9.81f, p.acc_x += (s % 150 < 75) ? 2.5f : -1.5f;
        prev_dt = step(path, 1.0f / 60.0f + mul(float(s % 5), 0.002f), prev_dt, &ps[0].x, n);
        for (int pass = 0; pass < 4; ++pass) {
            const float e = spring_pass_on(path, ps.data(), ss, schedule.data());
            h = fnv1a(&e, sizeof e, h);
            place(0), place(cols - 1);
        }
    }
    return fnv1a(ps.data(), n * sizeof(TCVerlet), h);
}

// ---- rules: holds, planes and circles after the springs ----

static float rules_pass_on(int path, TCVerlet* ps, unsigned count, const std::vector<TCSpring>& ss,
                           const unsigned* schedule, const TCRules& rules) {
    return path == kUpdatePhysics
               ? spring_pass_rules(ps, ss.data(), unsigned(ss.size()), schedule, count, &rules)
               : spring_pass_rules_path(path, ps, ss.data(), unsigned(ss.size()), schedule, count, &rules);
}

// Planes and circles alone (no springs) on every count of particles up to a
// few registers' worth, each placed where some rule moves it, or on a rule's
// edge, or at an odd value; every rule's fields ordinary, non-finite or huge.
static bool shapes_match_reference(int path) {
    std::mt19937 rng(4242);
    const float odd[] = {NAN, INFINITY, -INFINITY, 3e38f, -3e38f, -0.0f, 0.0f, 1e-40f, 2, -2};
    auto pick = [&](float lo, float hi) { return rng() % 5 ? uniform(rng, lo, hi) : odd[rng() % 10]; };
    for (unsigned count = 0; count < 40; ++count)
        for (int round = 0; round < 20; ++round) {
            std::vector<TCPlane> planes;
            std::vector<TCCircle> circles;
            for (unsigned k = rng() % 4; k > 0; --k) planes.push_back({pick(-1, 1), pick(-1, 1), pick(-5, 5)});
            for (unsigned k = rng() % 4; k > 0; --k) circles.push_back({pick(-5, 5), pick(-5, 5), pick(0, 8)});
            std::vector<TCVerlet> want(count + 2);
            for (TCVerlet& p : want) p = TCVerlet{pick(-9, 9), pick(-9, 9), 1, 2, 3, 4};
            if (count > 0 && !planes.empty()) want[0].x = planes[0].d, want[0].y = 0;  // on a plane's edge
            std::vector<TCVerlet> got = want;
            const TCRules rules{nullptr, 0, planes.data(), unsigned(planes.size()), circles.data(), unsigned(circles.size())};
            rules_reference(want.data(), count, rules);
            const std::vector<TCSpring> none;
            if (rules_pass_on(path, got.data(), count, none, nullptr, rules) != 0.0f ||
                memcmp(want.data(), got.data(), want.size() * sizeof(TCVerlet)) != 0)
                return false;
        }
    return true;
}

// The cloth of cloth_hash, 300 steps of four passes with rules; hashes every
// result and the particles at the end. Rule set 0: its top row held still,
// one corner held moving as a pointer would drag it, a floor, a wall and a
// ball. 1: that corner's hold alone. 2: two balls alone.
static uint64_t rules_hash(int path, int set) {
    const unsigned cols = 24, rows = 16, n = cols * rows;
    Topology t;
    lay_out_cloth(t, cols, rows);
    std::vector<unsigned> schedule;
    if (!make_schedule(t, schedule)) return 0;
    std::vector<TCHold> holds;
    for (unsigned c = 0; set == 0 && c < cols; ++c) holds.push_back({c, t.ps[c].x, t.ps[c].y, 1});
    if (set != 2) holds.push_back({n - 1, 0, 0, 0});
    const TCPlane planes[] = {{0, 1, -20}, {-0.8f, -0.6f, -24}};
    const TCCircle circles[] = {{17, -12, 6}, {6, -30, 5}};
    const TCRules rules{holds.data(), unsigned(holds.size()), planes, set == 0 ? 2u : 0u,
                        circles, set == 0 ? 1u : set == 2 ? 2u : 0u};
    uint64_t h = fnv1a(nullptr, 0);
    float prev_dt = 0.0f;
    for (unsigned s = 0; s < 300; ++s) {
        if (set != 2) holds.back().x = 30 - mul(float(s), 0.1f), holds.back().y = -30 + mul(float(s % 100), 0.05f);
        for (TCVerlet& p : t.ps) p.acc_y -= 9.81f;
        prev_dt = step(path, 1.0f / 60.0f, prev_dt, &t.ps[0].x, n);
        for (int pass = 0; pass < 4; ++pass) {
            const float e = rules_pass_on(path, t.ps.data(), n, t.ss, schedule.data(), rules);
            h = fnv1a(&e, sizeof e, h);
        }
    }
    return fnv1a(t.ps.data(), n * sizeof(TCVerlet), h);
}

// ---- particles that collide ----

static float collide_on(int path, TCVerlet* ps, unsigned n, const float* radii, unsigned* work) {
    return path == kUpdatePhysics ? particle_collide(ps, n, radii, work) : particle_collide_path(path, ps, n, radii, work);
}

// Balls of four sizes poured from a lattice into a box (a floor and two
// walls, the rules of a pass with no springs) in gravity, 240 steps, each
// collided once then pushed back into the box; hashes every result and the
// particles at the end.
static uint64_t collide_hash(int path) {
    const unsigned cols = 20, rows = 15, n = cols * rows;
    std::vector<TCVerlet> ps(n);
    std::vector<float> radii(n);
    for (unsigned i = 0; i < n; ++i) {
        ps[i].x = ps[i].old_x = mul(float(i % cols), 1.3f) + mul(float(i / cols), 0.05f) + 1.0f;
        ps[i].y = ps[i].old_y = mul(float(i / cols), 1.3f) + 2.0f;
        radii[i] = mul(float(i % 4), 0.1f) + 0.3f;
    }
    std::vector<unsigned> work(particle_collide_words(n));
    const TCPlane box[] = {{0, 1, 0}, {1, 0, 0}, {-1, 0, -27}};
    const TCRules rules{nullptr, 0, box, 3, nullptr, 0};
    const std::vector<TCSpring> none;
    uint64_t h = fnv1a(nullptr, 0);
    float prev_dt = 0.0f;
    for (unsigned s = 0; s < 240; ++s) {
        for (TCVerlet& p : ps) p.acc_y -= 9.81f;
        prev_dt = step(path, 1.0f / 60.0f, prev_dt, &ps[0].x, n);
        const float overlap = collide_on(path, ps.data(), n, radii.data(), work.data());
        const float e = rules_pass_on(path, ps.data(), n, none, nullptr, rules);
        h = fnv1a(&overlap, sizeof overlap, h);
        h = fnv1a(&e, sizeof e, h);
    }
    return fnv1a(ps.data(), n * sizeof(TCVerlet), h);
}

// ---- a cloth that tears onto balls ----

// The cloth of cloth_hash, its top row held still and half its bottom row
// dragged away for 150 steps then let go, over a heap of 60 balls on a floor
// between two walls; the cloth's particles collide too. A frame as the guide
// orders it: step, collide, four passes with the rules, then spring_tear at
// 1.5. 240 steps; hashes every result, then the particles and the springs
// (the torn ones' NaN rest lengths among them) at the end. `torn`: how many
// springs tore.
static uint64_t torn_hash(int path, unsigned& torn) {
    const unsigned cols = 24, rows = 16, n = cols * rows, balls = 60;
    Topology t;
    lay_out_cloth(t, cols, rows);
    std::vector<float> radii(n, 0.5f);
    for (unsigned i = 0; i < balls; ++i) {
        t.ps.push_back(TCVerlet{mul(float(i % 12), 2.5f) + 2.0f, mul(float(i / 12), 1.6f) - 27.0f, 0, 0, 0, 0});
        t.ps.back().old_x = t.ps.back().x, t.ps.back().old_y = t.ps.back().y;
        radii.push_back(mul(float(i % 3), 0.1f) + 0.6f);
    }
    const unsigned count = unsigned(t.ps.size());
    std::vector<unsigned> schedule, work(particle_collide_words(count));
    if (!make_schedule(t, schedule)) return 0;
    std::vector<TCHold> holds;
    for (unsigned c = 0; c < cols; ++c) holds.push_back({c, t.ps[c].x, t.ps[c].y, 1});
    for (unsigned c = cols / 2; c < cols; ++c) holds.push_back({n - cols + c, 0, 0, 0});
    const TCPlane box[] = {{0, 1, -28}, {1, 0, -5}, {-1, 0, -70}};
    TCRules rules{holds.data(), unsigned(holds.size()), box, 3, nullptr, 0};
    uint64_t h = fnv1a(nullptr, 0);
    float prev_dt = 0.0f;
    torn = 0;
    for (unsigned s = 0; s < 240; ++s) {
        for (unsigned c = cols / 2; c < cols; ++c) {
            const TCVerlet& at = t.ps[n - cols + c];
            holds[cols + c - cols / 2] = {n - cols + c, at.x + 0.1f, at.y - 0.05f, 0};
        }
        rules.hold_count = s < 150 ? unsigned(holds.size()) : cols;
        for (TCVerlet& p : t.ps) p.acc_y -= 9.81f;
        prev_dt = step(path, 1.0f / 60.0f, prev_dt, &t.ps[0].x, count);
        const float overlap = collide_on(path, t.ps.data(), count, radii.data(), work.data());
        h = fnv1a(&overlap, sizeof overlap, h);
        for (int pass = 0; pass < 4; ++pass) {
            const float e = rules_pass_on(path, t.ps.data(), count, t.ss, schedule.data(), rules);
            h = fnv1a(&e, sizeof e, h);
        }
        const unsigned k = spring_tear(t.ps.data(), t.ss.data(), unsigned(t.ss.size()), 1.5f);
        h = fnv1a(&k, sizeof k, h);
        torn += k;
    }
    h = fnv1a(t.ss.data(), t.ss.size() * sizeof(TCSpring), h);
    return fnv1a(t.ps.data(), count * sizeof(TCVerlet), h);
}

// A pile, odd values among ordinary ones, and clusters at huge coordinates,
// against the quadratic reference.
static bool collisions_match_reference(int path) {
    std::mt19937 rng(321);
    const float odd[] = {NAN, INFINITY, -INFINITY, 0.0f, -1.0f, 1e-40f, 3e38f, 1e30f, 1e-30f};
    for (int scene = 0; scene < 3; ++scene) {
        const unsigned n = 400;
        std::vector<TCVerlet> want(n);
        std::vector<float> radii(n);
        for (unsigned i = 0; i < n; ++i) {
            const float far = scene == 2 ? float(i % 3) * 1e20f - 1e20f : 0.0f;
            want[i] = TCVerlet{far + mul(float(i % 20), 0.95f) + uniform(rng, -0.1f, 0.1f),
                               -far + mul(float(i / 20), 0.95f) + uniform(rng, -0.1f, 0.1f), 1, 2, 3, 4};
            radii[i] = uniform(rng, 0.3f, 0.7f);
            if (scene == 1 && rng() % 9 == 0) radii[i] = odd[rng() % 9];
            if (scene == 1 && rng() % 9 == 0) want[i].x = odd[rng() % 3];
        }
        std::vector<TCVerlet> got = want;
        std::vector<unsigned> work(particle_collide_words(n));
        for (int call = 0; call < 2; ++call)
            if (!same_bits(collide_reference(want.data(), n, radii.data()),
                           collide_on(path, got.data(), n, radii.data(), work.data())))
                return false;
        if (memcmp(want.data(), got.data(), n * sizeof(TCVerlet)) != 0) return false;
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
        const uint64_t c = cloth_hash(path);
        const bool springs_ok = springs_match_in_order(path) && c == kClothHash;
        std::printf("%s %s: cloth hash %016llx, spring passes vs spring_force in order\n", springs_ok ? "ok  " : "FAIL",
                    path == kUpdatePhysics ? "spring_pass" : name, (unsigned long long)c);
        const uint64_t r = rules_hash(path, 0), one = rules_hash(path, 1), balls = rules_hash(path, 2);
        const bool rules_ok = r == kRulesHash && one == kOneHoldHash && balls == kBallsHash && shapes_match_reference(path);
        std::printf("%s %s: rules hash %016llx, one hold %016llx, balls alone %016llx, planes and circles vs "
                    "plain arithmetic\n", rules_ok ? "ok  " : "FAIL", path == kUpdatePhysics ? "spring_pass_rules" : name,
                    (unsigned long long)r, (unsigned long long)one, (unsigned long long)balls);
        const uint64_t k = collide_hash(path);
        const bool collide_ok = k == kCollideHash && collisions_match_reference(path);
        std::printf("%s %s: collide hash %016llx, collisions vs the quadratic reference\n", collide_ok ? "ok  " : "FAIL",
                    path == kUpdatePhysics ? "particle_collide" : name, (unsigned long long)k);
        unsigned torn = 0;
        const uint64_t w = torn_hash(path, torn);
        const bool torn_ok = w == kTornHash;
        std::printf("%s %s: torn hash %016llx, a cloth torn onto balls (%u springs torn)\n", torn_ok ? "ok  " : "FAIL",
                    path == kUpdatePhysics ? "spring_tear" : name, (unsigned long long)w, torn);
        all = all && ok && springs_ok && rules_ok && collide_ok && torn_ok;
    }
    const bool refused = schedule_refuses_bad_indices();
    std::printf("%s spring_schedule refuses indices past the particles\n", refused ? "ok  " : "FAIL");
    all = all && refused;
    return all ? 0 : 1;
}
