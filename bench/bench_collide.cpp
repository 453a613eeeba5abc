// The collisions beside their yardstick (reference.cpp: the usual uniform
// grid in plain scalar code, the same bits), on three scenes (sets.cpp): a
// pile with about four contacts a ball, a cloth at rest with none (the search
// alone) and balls scattered sparsely. One call each from the same start,
// every case once a round, the fastest round of each kept: particle_collide
// on the path it picks and on each path alone, and two parts on two threads
// beside it. Every case's particles are checked against the yardstick's.
// One-thread cases are timed by the thread's CPU clock as well as the wall
// clock: on a machine shared with other work, time spent preempted is not
// the code's. Two threads against one are compared by the wall clock.
#include "bench.h"
#include <penshell/physics.h>
#include "physics_paths.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

namespace {

const unsigned kRounds = 25;
const int kYardstick = -3, kSelected = -2, kTwoParts = -1;  // then the paths by number

struct Work {
    CollideYardstickWork yardstick;
    std::vector<unsigned> kernel, sync;
};

std::string case_name(int how) {
    if (how == kYardstick) return "yardstick";
    if (how == kSelected) return "particle_collide";
    if (how == kTwoParts) return "2 threads";
    return physics_path_name(how);
}

float collide(int how, std::vector<TCVerlet>& p, const CollideScene& s, Work& w) {
    const unsigned n = unsigned(p.size());
    switch (how) {
    case kYardstick: return collide_yardstick(p.data(), n, s.radii.data(), w.yardstick);
    case kSelected: return particle_collide(p.data(), n, s.radii.data(), w.kernel.data());
    case kTwoParts: {
        float largest[2];
        run_on_both([&](unsigned part) {
            largest[part] = particle_collide_part(p.data(), n, s.radii.data(), w.kernel.data(), part, 2, w.sync.data());
        });
        return std::max(largest[0], largest[1]);
    }
    default: return particle_collide_path(how, p.data(), n, s.radii.data(), w.kernel.data());
    }
}

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void print_ratio(const std::string& what, double r, double target) {
    record_figure("ratio: " + what, r);
    std::printf("%-58s %6.2fx", (what + ":").c_str(), r);
    if (target > 0) std::printf("  (target >= %.2fx: %s)", target, r >= target ? "met" : "MISSED");
    std::printf("\n");
}

}  // namespace

void print_collide() {
    std::vector<int> hows = {kYardstick, kSelected, kTwoParts};
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        if (physics_path_available(path)) hows.push_back(path);
    std::printf("\ncollisions, one call from the same start; ns a particle, fastest of %u rounds (one thread: its CPU"
                " time; 2 threads: wall clock); particle_collide on path %s\n%-10s", kRounds,
                physics_path_name(physics_selected_path()), "");
    for (int how : hows) std::printf(" %16s", case_name(how).c_str());
    std::printf("\n");
    double ns[kCollideScenes][PHYSICS_PATH_COUNT + 3], wall[kCollideScenes][PHYSICS_PATH_COUNT + 3];
    for (int k = 0; k < kCollideScenes; ++k) {
        const CollideScene s = make_collide_scene(k);
        const unsigned n = unsigned(s.start.size());
        Work w;
        w.kernel.resize(particle_collide_words(n));
        w.sync.resize(spring_sync_words(2));
        spring_sync_reset(w.sync.data(), 2);
        std::vector<TCVerlet> want = s.start, got;
        collide(kYardstick, want, s, w);
        bool same = true;
        std::fill(ns[k], ns[k] + PHYSICS_PATH_COUNT + 3, 1e30);
        std::fill(wall[k], wall[k] + PHYSICS_PATH_COUNT + 3, 1e30);
        for (unsigned round = 0; round <= kRounds; ++round)
            for (int how : hows) {
                // The helper spins a while after a job and would take the
                // second core from a one-thread case: a pause first. A
                // two-thread case wakes it first, untimed.
                if (how != kTwoParts) std::this_thread::sleep_for(std::chrono::milliseconds(3));
                got = s.start;
                if (how == kTwoParts) run_on_both([](unsigned) {});
                const double c0 = thread_seconds();
                const auto t0 = std::chrono::steady_clock::now();
                benchmark::DoNotOptimize(collide(how, got, s, w));
                benchmark::ClobberMemory();
                const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                const double c = how == kTwoParts ? t : thread_seconds() - c0;
                if (round > 0) ns[k][how + 3] = std::min(ns[k][how + 3], c * 1e9 / n);
                if (round > 0) wall[k][how + 3] = std::min(wall[k][how + 3], t * 1e9 / n);
                if (round == 0) same = same && std::memcmp(got.data(), want.data(), n * sizeof(TCVerlet)) == 0;
            }
        std::printf("%-10s", s.name);
        for (int how : hows) {
            std::printf(" %16.2f", ns[k][how + 3]);
            record_figure(std::string("collide, ns a particle: ") + s.name + ", " + case_name(how), ns[k][how + 3]);
        }
        std::printf("%s\n", same ? "" : "  (MISMATCH: a case's particles differ from the yardstick's)");
    }
    const double targets[] = {2.5, 2.0, 2.0};
    for (int k = 0; k < kCollideScenes; ++k) {
        const std::string scene = make_collide_scene(k).name;
        print_ratio("particle_collide vs yardstick, " + scene, ns[k][kYardstick + 3] / ns[k][kSelected + 3], targets[k]);
    }
    for (int k = 0; k < kCollideScenes; ++k) {
        const std::string scene = make_collide_scene(k).name;
        print_ratio("2 parts on 2 threads vs particle_collide, " + scene,
                    wall[k][kSelected + 3] / wall[k][kTwoParts + 3], k == 0 ? 1.6 : 0);
    }
}
