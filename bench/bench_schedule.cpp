// How long schedules take to make, beside the pass they serve: the 256x256
// cloth, spring_schedule and spring_schedule_parts with 2 parts, each made
// afresh in every round, and between them a few spring_pass in a row (after
// one untimed), as a frame runs them; the fastest of the rounds kept. A caller who adds springs makes the schedule
// again, so it should cost a few passes, not a few frames.
#include "bench.h"
#include <penshell/physics.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const unsigned kSide = 256, kPasses = 16;  // as the other benches run them

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void print_passes(const char* what, double passes, double target) {
    const std::string words(what);
    record_figure("ratio: " + words.substr(0, words.find_last_not_of(':') + 1), passes);
    std::printf("%-62s %6.1f passes  (target <= %.0f: %s)\n", what, passes, target,
                passes <= target ? "met" : "MISSED");
}

}  // namespace

void print_schedules() {
    std::vector<TCVerlet> start;
    std::vector<TCSpring> springs;
    lay_out_springs(kSide, 0, start, springs);
    const unsigned n = unsigned(start.size()), count = unsigned(springs.size());
    std::vector<unsigned> plain(spring_schedule_words(count, n)), parts(spring_schedule_parts_words(count, n, 2));
    double pass = 1e30, one = 1e30, two = 1e30;
    std::vector<TCVerlet> v;
    for (unsigned round = 0; round < 30; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        if (!spring_schedule(springs.data(), count, n, plain.data())) std::abort();
        one = std::min(one, seconds_since(t0));
        t0 = std::chrono::steady_clock::now();
        if (!spring_schedule_parts(springs.data(), count, n, 2, parts.data())) std::abort();
        two = std::min(two, seconds_since(t0));
        // A pass as a frame runs them, one after another in the cache they
        // warm, from the same start each round as the other benches.
        v = start;
        benchmark::DoNotOptimize(spring_pass(v.data(), springs.data(), count, plain.data()));
        t0 = std::chrono::steady_clock::now();
        for (unsigned k = 0; k < kPasses; ++k)
            benchmark::DoNotOptimize(spring_pass(v.data(), springs.data(), count, plain.data()));
        benchmark::ClobberMemory();
        pass = std::min(pass, seconds_since(t0) / kPasses);
    }
    const double per = 1e9 / count;
    std::printf("\nschedules, cloth %ux%u, %u springs; ns a spring, fastest of the rounds\n", kSide, kSide, count);
    std::printf(" %16s %16s %22s\n", "one pass", "spring_schedule", "schedule_parts, 2");
    std::printf(" %16.3f %16.3f %22.3f\n", pass * per, one * per, two * per);
    record_figure("schedules, ns a spring: spring_pass", pass * per);
    record_figure("schedules, ns a spring: spring_schedule", one * per);
    record_figure("schedules, ns a spring: spring_schedule_parts, 2 parts", two * per);
    print_passes("spring_schedule in passes' time, cloth 256x256:", one / pass, 10);
    print_passes("spring_schedule_parts, 2 parts, in passes' time, cloth 256x256:", two / pass, 20);
}
