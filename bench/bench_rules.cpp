// The rules inside the pass beside the ways a caller would do without them:
// a 256x256 cloth with its top row held still, a floor-like plane that about
// a third of it lies beyond and a ball in its middle, 16 passes from the same
// start each round, the fastest of the rounds kept. One thread: the rules vs
// spring_pass and the caller's own loop after it, and vs spring_pass alone;
// and a second scene, no holds, a slanted floor across one corner and a ball
// in the other, which a third of the cloth touches between them. Two
// threads: two parts with the rules vs one thread with them, and the caller's
// way without rules in the pass (the parts met after every pass, the rules
// applied between).
#include "bench.h"
#include <penshell/physics.h>
#include "physics_paths.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const unsigned kPasses = 16, kSide = 256;

struct Scene {
    std::vector<TCVerlet> start;
    std::vector<TCSpring> springs;
    std::vector<unsigned> schedule, two, sync;
    RuleScene r;
    TCPlane corner_floor;  // the second scene
    TCCircle corner_ball;
    TCRules corners;
};

// The share of the particles a rules record moves at the start.
double share_touching(const std::vector<TCVerlet>& start, const TCRules& rules) {
    std::vector<TCVerlet> v = start;
    const unsigned n = unsigned(v.size());
    if (spring_pass_rules(v.data(), nullptr, 0, nullptr, n, &rules) < 0) std::abort();
    unsigned moved = 0;
    for (unsigned i = 0; i < n; ++i) moved += v[i].x != start[i].x || v[i].y != start[i].y;
    return double(moved) / n;
}

void make_scene(Scene& s) {
    lay_out_springs(kSide, 0, s.start, s.springs);
    const unsigned n = unsigned(s.start.size()), count = unsigned(s.springs.size());
    s.schedule.resize(spring_schedule_words(count, n));
    s.two.resize(spring_schedule_parts_words(count, n, 2));
    if (!spring_schedule(s.springs.data(), count, n, s.schedule.data()) ||
        !spring_schedule_parts(s.springs.data(), count, n, 2, s.two.data()))
        std::abort();
    s.sync.resize(spring_sync_words(2));
    spring_sync_reset(s.sync.data(), 2);
    make_rule_scene(s.start, kSide, s.r);
    // A sixth of the square below the slanted floor (0.6 x + 0.8 y < d is a
    // triangle of d^2 / 0.96), about a sixth within the ball.
    const float side = float(kSide), d = std::sqrt(side * side * 0.96f / 6);
    s.corner_floor = TCPlane{0.6f, 0.8f, d};
    s.corner_ball = TCCircle{side * 0.78f, side * 0.74f, side * 0.24f};
    s.corners = TCRules{nullptr, 0, &s.corner_floor, 1, &s.corner_ball, 1};
}

// The rules as a caller writes them after spring_pass: every particle, then the holds.
void callers_rules(const Scene& scene, TCVerlet* p, unsigned n) {
    const RuleScene& s = scene.r;
    for (unsigned i = 0; i < n; ++i) {
        const float t = s.plane.nx * p[i].x + s.plane.ny * p[i].y;
        if (t < s.plane.d) {
            const float pen = s.plane.d - t;
            p[i].x += s.plane.nx * pen, p[i].y += s.plane.ny * pen;
        }
        const float len = clen(s.circle.x, s.circle.y, p[i].x, p[i].y);
        if (len > 0 && len < s.circle.radius) {
            p[i].x = s.circle.x + (p[i].x - s.circle.x) / len * s.circle.radius;
            p[i].y = s.circle.y + (p[i].y - s.circle.y) / len * s.circle.radius;
        }
    }
    for (const TCHold& h : s.holds) {
        p[h.particle].x = p[h.particle].old_x = h.x;
        p[h.particle].y = p[h.particle].old_y = h.y;
    }
}

enum How { kRules, kPassThenLoop, kPlain, kCorners, kTwoRules, kTwoMet, kTwoPlain, kHows, kWarm };
const char* const kHowNames[] = {"rules", "pass+loop", "no rules", "corners", "2 rules", "2 met", "2 no rules"};

void passes(How how, Scene& s, TCVerlet* p) {
    const unsigned count = unsigned(s.springs.size()), n = unsigned(s.start.size());
    switch (how) {
    case kWarm:  // one untimed pass, to bring the caches and the clock up
        benchmark::DoNotOptimize(spring_pass(p, s.springs.data(), count, s.schedule.data()));
        break;
    case kRules:
        for (unsigned k = 0; k < kPasses; ++k)
            benchmark::DoNotOptimize(spring_pass_rules(p, s.springs.data(), count, s.schedule.data(), n, &s.r.rules));
        break;
    case kPassThenLoop:
        for (unsigned k = 0; k < kPasses; ++k) {
            benchmark::DoNotOptimize(spring_pass(p, s.springs.data(), count, s.schedule.data()));
            callers_rules(s, p, n);
        }
        break;
    case kPlain:
        for (unsigned k = 0; k < kPasses; ++k)
            benchmark::DoNotOptimize(spring_pass(p, s.springs.data(), count, s.schedule.data()));
        break;
    case kCorners:
        for (unsigned k = 0; k < kPasses; ++k)
            benchmark::DoNotOptimize(spring_pass_rules(p, s.springs.data(), count, s.schedule.data(), n, &s.corners));
        break;
    case kTwoRules:
        run_on_both([&](unsigned part) {
            for (unsigned k = 0; k < kPasses; ++k)
                benchmark::DoNotOptimize(spring_pass_part_rules(p, s.springs.data(), count, s.two.data(), n, part,
                                                                s.sync.data(), &s.r.rules));
        });
        break;
    case kTwoPlain:
        run_on_both([&](unsigned part) {
            for (unsigned k = 0; k < kPasses; ++k)
                benchmark::DoNotOptimize(spring_pass_part(p, s.springs.data(), count, s.two.data(), part, s.sync.data()));
        });
        break;
    default:
        for (unsigned k = 0; k < kPasses; ++k) {
            run_on_both([&](unsigned part) {
                benchmark::DoNotOptimize(spring_pass_part(p, s.springs.data(), count, s.two.data(), part, s.sync.data()));
            });
            callers_rules(s, p, n);
        }
    }
    benchmark::ClobberMemory();
}

void print_ratio(const char* what, double r, double target, bool at_least) {
    const std::string words(what);
    record_figure("ratio: " + words.substr(0, words.find_last_not_of(':') + 1), r);
    const bool met = at_least ? r >= target : r <= target;
    std::printf("%-62s %6.2fx  (target %s %.2fx: %s)\n", what, r, at_least ? ">=" : "<=", target, met ? "met" : "MISSED");
}

void print_plain_ratio(const char* what, double r) {
    const std::string words(what);
    record_figure("ratio: " + words.substr(0, words.find_last_not_of(':') + 1), r);
    std::printf("%-62s %6.2fx\n", what, r);
}

}  // namespace

void print_rules() {
    Scene s;
    make_scene(s);
    double ns[kHows];
    std::fill(ns, ns + kHows, 1e30);
    std::vector<TCVerlet> v;
    for (unsigned round = 0; round < 40; ++round)
        for (int how = 0; how < kHows; ++how) {
            // The helper spins a while after a job: on two cores it would take
            // time from a one-thread case timed right after a two-thread one.
            // Copying the start after the pause brings the caches back.
            // A two-thread case wakes the helper first: after a pause it sleeps,
            // and waking it would be timed too.
            if (how < kTwoRules) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            v = s.start;
            passes(kWarm, s, v.data());
            v = s.start;
            if (how >= kTwoRules) run_on_both([](unsigned) {});
            const auto t0 = std::chrono::steady_clock::now();
            passes(How(how), s, v.data());
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            ns[how] = std::min(ns[how], t * 1e9 / (double(kPasses) * s.springs.size()));
        }
    std::printf("\nrules in the pass, cloth %ux%u, top row held, a plane and a ball, %u passes; ns a spring, fastest"
                " of the rounds\n", kSide, kSide, kPasses);
    for (int how = 0; how < kHows; ++how) std::printf(" %10s", kHowNames[how]);
    std::printf("\n");
    for (int how = 0; how < kHows; ++how) {
        std::printf(" %10.3f", ns[how]);
        record_figure(std::string("rules, ns a spring: ") + kHowNames[how], ns[how]);
    }
    std::printf("\n");
    print_ratio("rules vs spring_pass + the caller's loop, one thread:", ns[kPassThenLoop] / ns[kRules], 1.0, true);
    print_ratio("rules' time over spring_pass without rules, one thread:", ns[kRules] / ns[kPlain], 1.05, false);
    const std::string corners = "the same, " + std::to_string(int(share_touching(s.start, s.corners) * 100 + 0.5)) +
                                "% touching a corner floor and a ball:";
    print_ratio(corners.c_str(), ns[kCorners] / ns[kPlain], 1.05, false);
    print_ratio("2 parts with rules vs one thread with rules:", ns[kRules] / ns[kTwoRules], 1.6, true);
    print_plain_ratio("2 parts met after every pass, caller's rules, vs one thread:", ns[kRules] / ns[kTwoMet]);
    print_plain_ratio("2 parts without rules vs spring_pass without rules:", ns[kPlain] / ns[kTwoPlain]);
}
