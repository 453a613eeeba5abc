// The springs on two threads beside spring_pass on one, measured side by side
// in rounds (the fastest round of each kept): 256x256 and 512x512 cloths,
// a 32x32 cloth and a rope, one part beside spring_pass, the floor of two
// threads (the same loads and stores split the same way, with no arithmetic
// and no waits), and the largest square cloth whose frame (the step and 16
// passes) fits 60 Hz on two cores and on one. The helper thread is started
// once and kept, as a caller's would be.
#include "bench.h"
#include <penshell/physics.h>
#include "physics_paths.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const unsigned kPasses = 16;
const float kDt = 1.0f / 60.0f;

// ---- the helper thread: runs part 1 of whatever job the main thread posts ----
std::mutex g_mutex;
std::condition_variable g_wake;
std::atomic<unsigned> g_posted{0}, g_finished{0};
std::function<void(unsigned)> g_job;
std::atomic<bool> g_quit{false};
std::thread g_helper;

void helper_loop() {
    unsigned seen = 0;
    for (;;) {
        // Spins while jobs come quickly, sleeps between measurements.
        const auto t0 = std::chrono::steady_clock::now();
        for (unsigned spins = 0; g_posted.load(std::memory_order_acquire) == seen; ++spins) {
            if (spins < 4096) continue;
            if (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(2)) {
                std::this_thread::yield();
                continue;
            }
            std::unique_lock<std::mutex> lock(g_mutex);
            g_wake.wait(lock, [&] { return g_quit || g_posted.load(std::memory_order_acquire) != seen; });
            break;
        }
        if (g_quit) return;
        seen = g_posted.load(std::memory_order_acquire);
        g_job(1);
        g_finished.store(seen, std::memory_order_release);
    }
}

}  // namespace

// Runs job(0) here and job(1) on the helper, and returns when both are done.
void run_on_both(const std::function<void(unsigned)>& job) {
    if (!g_helper.joinable()) g_helper = std::thread(helper_loop);
    g_job = job;
    unsigned posted;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        posted = g_posted.load() + 1;
        g_posted.store(posted, std::memory_order_release);
    }
    g_wake.notify_one();
    job(0);
    while (g_finished.load(std::memory_order_acquire) != posted) std::this_thread::yield();
}

void stop_helper() {
    if (!g_helper.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_quit = true;
    }
    g_wake.notify_one();
    g_helper.join();
}

namespace {

// ---- the sets ----
struct Set {
    std::vector<TCVerlet> start;
    std::vector<TCSpring> springs;
    std::vector<unsigned> schedule;              // spring_schedule
    std::vector<unsigned> one, two;              // spring_schedule_parts, 1 and 2 parts
    std::vector<unsigned> order, order0, order1;  // what the floors touch, in order
    std::vector<unsigned> sync, sync1;  // one for each parts schedule: its parts count passes in it
};

// A side x side cloth given row by row, as bench_physics.cpp's, or a rope
// (side 1); `what` 0 makes every schedule, 1 only spring_schedule's, 2 only
// the two parts'.
Set make_set(unsigned side, unsigned rope, int what = 0) {
    Set s;
    lay_out_springs(side, rope, s.start, s.springs);
    const unsigned n = unsigned(s.start.size());
    const unsigned count = unsigned(s.springs.size());
    s.sync.resize(spring_sync_words(2));
    spring_sync_reset(s.sync.data(), 2);
    s.sync1.resize(spring_sync_words(1));
    spring_sync_reset(s.sync1.data(), 1);
    if (what != 2) {
        s.schedule.resize(spring_schedule_words(count, n));
        if (!spring_schedule(s.springs.data(), count, n, s.schedule.data())) std::abort();
    }
    if (what != 1) {
        s.two.resize(spring_schedule_parts_words(count, n, 2));
        if (!spring_schedule_parts(s.springs.data(), count, n, 2, s.two.data())) std::abort();
    }
    if (what != 0) return s;
    s.one.resize(spring_schedule_parts_words(count, n, 1));
    if (!spring_schedule_parts(s.springs.data(), count, n, 1, s.one.data())) std::abort();
    s.order.resize(count), s.order0.resize(count), s.order1.resize(count);
    spring_schedule_order(s.schedule.data(), count, s.order.data());
    s.order0.resize(spring_schedule_parts_order(s.two.data(), 0, s.order0.data()));
    s.order1.resize(spring_schedule_parts_order(s.two.data(), 1, s.order1.data()));
    return s;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The ways 16 passes are run.
enum How { kOneThread, kOnePart, kTwoThreads, kFloorOne, kFloorTwo, kHows };
const char* const kHowNames[] = {"spring_pass", "1 part", "2 threads", "floor 1", "floor 2"};

void passes(How how, Set& s, TCVerlet* p) {
    const unsigned n = unsigned(s.springs.size());
    switch (how) {
    case kOneThread:
        for (unsigned k = 0; k < kPasses; ++k) benchmark::DoNotOptimize(spring_pass(p, s.springs.data(), n, s.schedule.data()));
        break;
    case kOnePart:
        for (unsigned k = 0; k < kPasses; ++k)
            benchmark::DoNotOptimize(spring_pass_part(p, s.springs.data(), n, s.one.data(), 0, s.sync1.data()));
        break;
    case kTwoThreads:
        // No barrier between passes: each part waits only for what it needs.
        run_on_both([&](unsigned part) {
            for (unsigned k = 0; k < kPasses; ++k)
                benchmark::DoNotOptimize(spring_pass_part(p, s.springs.data(), n, s.two.data(), part, s.sync.data()));
        });
        break;
    case kFloorOne:
        for (unsigned k = 0; k < kPasses; ++k) spring_floor_pass(p, s.springs.data(), s.order.data(), n);
        break;
    default:
        run_on_both([&](unsigned part) {
            const std::vector<unsigned>& order = part ? s.order1 : s.order0;
            for (unsigned k = 0; k < kPasses; ++k)
                spring_floor_pass(p, s.springs.data(), order.data(), unsigned(order.size()));
        });
    }
    benchmark::ClobberMemory();
}

// The fastest of `rounds` rounds of each way, interleaved, in ns a spring.
void measure(Set& s, unsigned rounds, double* ns) {
    std::vector<TCVerlet> v;
    std::fill(ns, ns + kHows, 1e30);
    for (unsigned r = 0; r < rounds; ++r)
        for (int how = 0; how < kHows; ++how) {
            v = s.start;
            const auto t0 = std::chrono::steady_clock::now();
            passes(How(how), s, v.data());
            ns[how] = std::min(ns[how], seconds_since(t0) * 1e9 / (double(kPasses) * s.springs.size()));
        }
}

// The fastest of a few frames of a side x side cloth: the step (split between
// the threads) and 16 passes, on one thread or two, in seconds.
double frame_time(unsigned side, bool two) {
    Set s = make_set(side, 0, two ? 2 : 1);
    std::vector<TCVerlet> v = s.start;
    const unsigned count = unsigned(v.size()), half = count / 2;
    float prev_dt = 0.0f;
    double best = 1e9;
    for (int frame = 0; frame < 8; ++frame) {
        const auto t0 = std::chrono::steady_clock::now();
        if (two) {
            const float dt_before = prev_dt;
            run_on_both([&](unsigned part) {
                update_physics(kDt, dt_before, v.data() + (part ? half : 0), part ? count - half : half);
            });
            prev_dt = kDt;
            passes(kTwoThreads, s, v.data());
        } else {
            prev_dt = update_physics(kDt, prev_dt, v.data(), count);
            passes(kOneThread, s, v.data());
        }
        best = std::min(best, seconds_since(t0));
    }
    return best;
}

// The largest side whose frame fits `budget`, searched from `guess` (from
// the 512x512 figures) in steps of 32, then halving to within 4.
unsigned largest_side(bool two, unsigned guess, double budget) {
    unsigned fits, fails;
    unsigned side = std::max(guess, 48u);
    if (frame_time(side, two) <= budget) {
        for (fits = side, side += 32; frame_time(side, two) <= budget; side += 32) fits = side;
        fails = side;
    } else {
        for (fails = side, side -= 32; side > 16 && frame_time(side, two) > budget; side -= 32) fails = side;
        fits = std::max(side, 16u);
    }
    while (fails - fits > 4) {
        const unsigned mid = (fits + fails) / 2;
        (frame_time(mid, two) <= budget ? fits : fails) = mid;
    }
    return fits;
}

// The side whose 16 passes take `budget` at `ns` a spring (4 springs a particle).
unsigned side_for(double ns, double budget) {
    return unsigned(std::sqrt(budget * 1e9 / (ns * kPasses * 4)));
}

void print_ratio(const char* what, double r, double target) {
    const std::string words(what);
    record_figure("ratio: " + words.substr(0, words.find_last_not_of(':') + 1), r);
    if (target > 0)
        std::printf("%-56s %6.2fx  (target >= %.2fx: %s)\n", what, r, target, r >= target ? "met" : "MISSED");
    else
        std::printf("%-56s %6.2fx\n", what, r);
}

}  // namespace

void print_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    std::printf("\nsprings on two threads, %u passes, no barrier between passes; %u cores; "
                "ns a spring, fastest of the rounds\n", kPasses, cores);
    std::printf("%-22s %8s %8s %8s %8s %8s %7s\n", "", kHowNames[0], kHowNames[1], kHowNames[2], kHowNames[3],
                kHowNames[4], "parts");
    struct Row {
        const char* name;
        unsigned side, rope, rounds;
        double target;
    } rows[] = {{"cloth 256x256", 256, 0, 15, 1.6}, {"cloth 512x512", 512, 0, 7, 1.6},
                {"cloth 32x32", 32, 0, 200, 1.0}, {"rope of 300", 1, 300, 400, 1.0}};
    double ns[4][kHows];
    for (unsigned k = 0; k < 4; ++k) {
        Set s = make_set(rows[k].side, rows[k].rope);
        measure(s, rows[k].rounds, ns[k]);
        std::printf("%-22s", rows[k].name);
        for (int how = 0; how < kHows; ++how) {
            std::printf(" %8.3f", ns[k][how]);
            record_figure(std::string("threads, ns a spring: ") + rows[k].name + ", " + kHowNames[how], ns[k][how]);
        }
        std::printf(" %7u\n", spring_schedule_parts_used(s.two.data()));
    }
    for (unsigned k = 0; k < 4; ++k) {
        const std::string what = std::string("2 threads vs spring_pass, ") + rows[k].name + ":";
        print_ratio(what.c_str(), ns[k][kOneThread] / ns[k][kTwoThreads], rows[k].target);
    }
    print_ratio("1 part vs spring_pass, cloth 256x256:", ns[0][kOneThread] / ns[0][kOnePart], 1.0);
    print_ratio("2 threads vs their floor (at most 1x), cloth 256x256:", ns[0][kFloorTwo] / ns[0][kTwoThreads], 0);
    print_ratio("floor of 2 threads vs floor of 1, cloth 256x256:", ns[0][kFloorOne] / ns[0][kFloorTwo], 0);

    const double budget = 1.0 / 60;
    const unsigned one = largest_side(false, side_for(ns[1][kOneThread], budget), budget);
    const unsigned two = largest_side(true, side_for(ns[1][kTwoThreads], budget), budget);
    record_figure("largest cloth at 60 Hz, side: spring_pass_part, 2 cores", two);
    record_figure("largest cloth at 60 Hz, side: spring_pass, 1 core, beside 2 cores", one);
    std::printf("largest square cloth in a 60 Hz frame (step + %u passes), frames measured: %ux%u on 2 cores, "
                "%ux%u on 1\n", kPasses, two, two, one, one);
}
