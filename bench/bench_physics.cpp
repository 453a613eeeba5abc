// penshell_bench: the particle kernel beside a plain scalar loop and a
// streaming pass over the same bytes. Ends with the ratios that matter:
// update_physics vs scalar at 4096 particles (in cache) and vs the streaming
// pass at 4194304 particles (memory bound); spring_pass vs spring_force calls
// in a loop and vs a pass that only moves the same bytes, on a 256x256 cloth
// and a 300-spring rope; a whole cloth frame; the springs on two threads.
#include "bench.h"
#include <penshell/physics.h>
#include "physics_paths.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// Seconds per particle of the best run of each benchmark, for the closing
// ratios: the best run is the one least disturbed by whatever else the
// machine was doing.
std::map<std::string, double> g_sec_per_item;

// One buffer per size, shared by the kernel and its yardsticks so they touch
// exactly the same bytes.
std::vector<TCVerlet>& scene(unsigned n) {
    static std::map<unsigned, std::vector<TCVerlet>> buffers;
    std::vector<TCVerlet>& v = buffers[n];
    v.resize(n);
    fill_scene(v);
    return v;
}

template <typename Body>
void timed(benchmark::State& state, const std::string& key, unsigned n, Body body) {
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) body();
    const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
    if (state.iterations() > 0) {
        const double per_item = t.count() / (double(state.iterations()) * n);
        const auto it = g_sec_per_item.find(key);
        if (it == g_sec_per_item.end() || per_item < it->second) g_sec_per_item[key] = per_item;
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
    if (state.iterations() > 0) state.counters["ns_per_item"] = t.count() * 1e9 / (double(state.iterations()) * n);
    state.SetBytesProcessed(state.iterations() * int64_t(n) * int64_t(sizeof(TCVerlet)));
}

// For bodies of tens of microseconds or more: each iteration timed on its own
// and the fastest kept. On a shared machine most 40 ms iterations are
// interrupted somewhere; the fastest is the least disturbed.
template <typename Body>
void timed_each(benchmark::State& state, const std::string& key, unsigned n, Body body) {
    double best = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
        if (best == 0 || t.count() < best) best = t.count();
    }
    if (best > 0) {
        const auto it = g_sec_per_item.find(key);
        if (it == g_sec_per_item.end() || best / n < it->second) g_sec_per_item[key] = best / n;
        state.counters["ns_per_item"] = best * 1e9 / n;  // the fastest iteration, as the closing figures take it
    }
    state.SetItemsProcessed(state.iterations() * int64_t(n));
}

std::string key(const char* what, unsigned n) { return std::string(what) + "/" + std::to_string(n); }

const float kDt = 1.0f / 60.0f;

// One in-place pass over the particle array, timed under `name`.
template <void (*Pass)(TCVerlet*, unsigned)>
void array_pass(benchmark::State& state, const char* name) {
    const unsigned n = unsigned(state.range(0));
    TCVerlet* p = scene(n).data();
    timed(state, key(name, n), n, [&] {
        Pass(p, n);
        benchmark::ClobberMemory();
    });
}
void kernel_step(TCVerlet* p, unsigned n) { update_physics(kDt, kDt, p, n); }
void reference_step(TCVerlet* p, unsigned n) { update_reference(kDt, kDt, p, n); }
void BM_update_physics(benchmark::State& s) { array_pass<kernel_step>(s, "update"); }
void BM_update_scalar_reference(benchmark::State& s) { array_pass<reference_step>(s, "scalar"); }
void BM_stream_pass(benchmark::State& s) { array_pass<stream_pass>(s, "stream"); }

// Each processor path on its own, in cache.
void BM_update_path(benchmark::State& state) {
    const int path = int(state.range(0));
    const unsigned n = unsigned(state.range(1));
    if (!physics_path_available(path)) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    state.SetLabel(physics_path_name(path));
    TCVerlet* p = scene(n).data();
    timed(state, key((std::string("path_") + physics_path_name(path)).c_str(), n), n, [&] {
        update_physics_path(path, kDt, kDt, p, n);
        benchmark::ClobberMemory();
    });
}

// A chain of springs, relaxed end to end, as a rope would be each frame.
template <float (*Spring)(TCVerlet&, TCVerlet&, float)>
void spring_chain(benchmark::State& state, const char* name) {
    const unsigned n = unsigned(state.range(0));
    std::vector<TCVerlet>& v = scene(n);
    timed(state, key(name, n), n - 1, [&] {
        float e = 0;
        for (unsigned i = 0; i + 1 < n; ++i) e += Spring(v[i], v[i + 1], 0.5f);
        benchmark::DoNotOptimize(e);
    });
}
void BM_spring_force_chain(benchmark::State& s) { spring_chain<spring_force>(s, "spring"); }
void BM_spring_reference_chain(benchmark::State& s) { spring_chain<spring_reference>(s, "spring_ref"); }

// One output buffer for both clen loops: a fresh one per run landed where
// some runs went several times slower than others.
std::vector<float> g_clen_out;

template <float (*Len)(float, float, float, float)>
void clen_loop(benchmark::State& state, const char* name) {
    const unsigned n = unsigned(state.range(0));
    const std::vector<TCVerlet>& v = scene(n);
    std::vector<float>& out = g_clen_out;
    out.resize(n);
    timed(state, key(name, n), n, [&] {
        for (unsigned i = 0; i < n; ++i) out[i] = Len(v[i].x, v[i].y, v[i].old_x, v[i].old_y);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
}
void BM_clen(benchmark::State& s) { clen_loop<clen>(s, "clen"); }
void BM_clen_reference(benchmark::State& s) { clen_loop<clen_reference>(s, "clen_ref"); }

const double kMinTime = 0.3;

// ---- springs ----

const unsigned kClothSide = 256, kRopeSprings = 300, kPasses = 16;

SpringSet& cloth_set() {
    static SpringSet set = make_springs(kClothSide, 0);
    return set;
}
SpringSet& rope_set() {
    static SpringSet set = make_springs(1, kRopeSprings);
    return set;
}

// The particles a run works on: every run starts from the same positions.
std::vector<TCVerlet>& fresh_particles(const SpringSet& set) {
    static std::vector<TCVerlet> work;
    work = set.start;
    return work;
}

// What a caller writes without batches: spring_force on every spring in
// order, keeping the largest error as spring_pass reports it.
float spring_loop(TCVerlet* p, const std::vector<TCSpring>& springs) {
    float largest = 0.0f;
    for (const TCSpring& s : springs) {
        const float e = std::fabs(spring_force(p[s.a], p[s.b], s.rest_length));
        if (e > largest) largest = e;
    }
    return largest;
}

const int kSelected = -1;  // spring_pass itself, on the path it picks

float spring_passes(int how, TCVerlet* p, const SpringSet& set) {
    const unsigned n = unsigned(set.springs.size());
    float e = 0.0f;
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        if (how == kSelected)
            e = spring_pass(p, set.springs.data(), n, set.schedule.data());
        else
            e = spring_pass_path(how, p, set.springs.data(), n, set.schedule.data());
    }
    return e;
}

float loop_passes(TCVerlet* p, const SpringSet& set) {
    float e = 0.0f;
    for (unsigned pass = 0; pass < kPasses; ++pass) e = spring_loop(p, set.springs);
    return e;
}

void floor_passes(TCVerlet* p, const SpringSet& set) {
    for (unsigned pass = 0; pass < kPasses; ++pass)
        spring_floor_pass(p, set.springs.data(), set.order.data(), unsigned(set.springs.size()));
}

// Sixteen passes over a set: 0 the spring_force loop, 1 spring_pass, 2 one
// path (range 2), 3 the floor. Timed per spring.
void BM_springs(benchmark::State& state) {
    const bool cloth = state.range(0) != 0;
    const int what = int(state.range(1)), path = int(state.range(2));
    const SpringSet& set = cloth ? cloth_set() : rope_set();
    if (what == 2 && !physics_path_available(path)) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    const char* names[] = {"loop", "pass", physics_path_name(path), "floor"};
    state.SetLabel(names[what]);
    TCVerlet* p = fresh_particles(set).data();
    const unsigned n = kPasses * unsigned(set.springs.size());
    timed_each(state, key((std::string(cloth ? "cloth_" : "rope_") + names[what]).c_str(), n), n, [&] {
        if (what == 0) benchmark::DoNotOptimize(loop_passes(p, set));
        if (what == 1) benchmark::DoNotOptimize(spring_passes(kSelected, p, set));
        if (what == 2) benchmark::DoNotOptimize(spring_passes(path, p, set));
        if (what == 3) floor_passes(p, set);
        benchmark::ClobberMemory();
    });
}

// One cloth frame: the step, then sixteen passes with or without batches
// (range 0); timed per frame. Range 0 of 2 times the step alone, per particle.
void BM_cloth_frame(benchmark::State& state) {
    const int how = int(state.range(0));
    const SpringSet& set = cloth_set();
    std::vector<TCVerlet>& v = fresh_particles(set);
    const unsigned count = unsigned(v.size());
    float prev_dt = 0.0f;
    const char* names[] = {"frame_loop", "frame_pass", "step"};
    state.SetLabel(names[how]);
    timed_each(state, key(names[how], how == 2 ? count : 1), how == 2 ? count : 1, [&] {
        prev_dt = update_physics(kDt, prev_dt, v.data(), count);
        if (how == 0) benchmark::DoNotOptimize(loop_passes(v.data(), set));
        if (how == 1) benchmark::DoNotOptimize(spring_passes(kSelected, v.data(), set));
        benchmark::ClobberMemory();
    });
}

void register_springs() {
    const char* what_names[] = {"loop", "pass", "path", "floor"};
    auto add = [&](long cloth, long what, long path, double t) {
        const std::string name = std::string(cloth ? "cloth" : "rope") + "_springs_" + what_names[what];
        benchmark::RegisterBenchmark(name.c_str(), BM_springs)->Args({cloth, what, path})->MinTime(t);
    };
    // Loop, pass, the paths and the floor side by side, three times over.
    for (int r = 0; r < 3; ++r) {
        add(1, 0, 0, 0.5), add(1, 1, 0, 0.5);
        for (long path = 0; path < PHYSICS_PATH_COUNT; ++path)
            if (physics_path_available(int(path))) add(1, 2, path, 0.5);
        add(1, 3, 0, 0.5);
        for (long what : {0L, 1L, 2L, 3L}) add(0, what, PHYSICS_PATH_AVX2, kMinTime);
    }
    const char* frame_names[] = {"cloth_frame_loop", "cloth_frame_pass", "cloth_step"};
    for (int r = 0; r < 3; ++r)
        for (long how : {0L, 1L, 2L})
            benchmark::RegisterBenchmark(frame_names[how], BM_cloth_frame)->Arg(how)->MinTime(0.5);
}

void register_all() {
    for (long n : {1024L, 4096L, 65536L, 4194304L}) {
        // The two sizes with targets run three times each, interleaved.
        const int reps = (n == 4096 || n == 4194304) ? 3 : 1;
        const double t = n > 100000 ? 0.5 : kMinTime;
        for (int r = 0; r < reps; ++r) {
            benchmark::RegisterBenchmark("update_physics", BM_update_physics)->Arg(n)->MinTime(t);
            benchmark::RegisterBenchmark("update_scalar_reference", BM_update_scalar_reference)->Arg(n)->MinTime(t);
            benchmark::RegisterBenchmark("stream_pass", BM_stream_pass)->Arg(n)->MinTime(t);
        }
    }
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)  // only the paths this build and processor have
        if (physics_path_available(path))
            benchmark::RegisterBenchmark("update_physics_path", BM_update_path)->Args({path, 4096})->MinTime(kMinTime);
    benchmark::RegisterBenchmark("spring_force_chain", BM_spring_force_chain)->Arg(4096)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("spring_reference_chain", BM_spring_reference_chain)->Arg(4096)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("clen", BM_clen)->Arg(4096)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("clen_reference", BM_clen_reference)->Arg(4096)->MinTime(kMinTime);
    register_springs();
}

// How many times faster `a` is than `b` (by time per particle), or 0 if either did not run.
double speedup(const std::string& a, const std::string& b) {
    const auto ia = g_sec_per_item.find(a), ib = g_sec_per_item.find(b);
    if (ia == g_sec_per_item.end() || ib == g_sec_per_item.end() || ia->second <= 0) return 0;
    return ib->second / ia->second;
}

// A target of 0 prints the ratio alone. Kept for the JSON by its words.
void print_ratio(const std::string& what, double r, double target = 0) {
    if (r > 0) record_figure("ratio: " + what.substr(0, what.find_last_not_of(':') + 1), r);
    if (r <= 0)
        std::printf("%-58s not measured in this run\n", what.c_str());
    else if (target <= 0)
        std::printf("%-58s %6.2fx\n", what.c_str(), r);
    else
        std::printf("%-58s %6.2fx  (target >= %.2fx: %s)\n", what.c_str(), r, target, r >= target ? "met" : "MISSED");
}

double ns(const std::string& k) {
    const auto it = g_sec_per_item.find(k);
    return it == g_sec_per_item.end() ? 0 : it->second * 1e9;
}

// Springs in all of a square cloth of side n.
double cloth_springs(double n) { return 4 * n * n - 6 * n + 2; }

// The largest square cloth whose step and 16 passes fit in `budget` seconds,
// from the cost a particle and a spring had in the 256 x 256 frame.
unsigned largest_cloth(double frame, double step_per_particle, double budget) {
    const double side = kClothSide;
    const double per_spring = (frame - step_per_particle * side * side) / (kPasses * cloth_springs(side));
    unsigned n = 2;
    while (step_per_particle * (n + 1.0) * (n + 1.0) + per_spring * kPasses * cloth_springs(n + 1.0) <= budget) ++n;
    return n;
}

// The fastest of a few frames (the step and 16 passes, with spring_pass or
// spring_force calls) of a side x side cloth, in seconds.
double measured_frame(unsigned side, bool batches) {
    const SpringSet set = make_springs(side, 0);
    std::vector<TCVerlet> v = set.start;
    const unsigned count = unsigned(v.size());
    float prev_dt = 0.0f;
    double best = 1e9;
    for (int frame = 0; frame < 5; ++frame) {
        const auto t0 = std::chrono::steady_clock::now();
        prev_dt = update_physics(kDt, prev_dt, v.data(), count);
        benchmark::DoNotOptimize(batches ? spring_passes(kSelected, v.data(), set) : loop_passes(v.data(), set));
        benchmark::ClobberMemory();
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
        best = std::min(best, t.count());
    }
    return best;
}

// The largest side whose measured frame fits `budget`, searched from `guess`:
// a cloth that outgrows a cache costs more a spring than a smaller one, so an
// extrapolation is only where to start.
unsigned largest_measured(bool batches, unsigned guess, double budget) {
    const unsigned step = 16;
    auto smaller = [](unsigned side) { return side > step + 2 ? side - step : 2u; };
    unsigned fits = std::max(guess, 2u), fails;  // the search keeps fits < fails; side 2 always fits
    if (measured_frame(fits, batches) <= budget) {
        fails = fits + step;
        while (measured_frame(fails, batches) <= budget) fits = fails, fails += step;
    } else {
        fails = fits;
        fits = smaller(fails);
        while (fits > 2 && measured_frame(fits, batches) > budget) fails = fits, fits = smaller(fits);
    }
    while (fails - fits > 1) {
        const unsigned mid = (fits + fails) / 2;
        (measured_frame(mid, batches) <= budget ? fits : fails) = mid;
    }
    return fits;
}

void print_springs() {
    const std::string cloth = std::to_string(kPasses * cloth_set().springs.size());
    const std::string rope = std::to_string(kPasses * kRopeSprings);
    std::printf("\nsprings, %u passes: spring_pass on path %s; ns a spring, fastest iterations\n", kPasses,
                physics_path_name(physics_selected_path()));
    std::printf("%-34s %8s %8s %8s %8s\n", "", "loop", "pass", "avx2", "floor");
    const std::pair<const char*, std::string> sets[] = {{"cloth", cloth}, {"rope", rope}};
    for (const auto& set : sets) {
        const std::string label = std::string(set.first) == "cloth"
            ? "cloth 256x256, " + std::to_string(cloth_set().springs.size()) + " springs:"
            : "rope, " + std::to_string(kRopeSprings) + " springs in a chain:";
        std::printf("%-34s", label.c_str());
        for (const char* what : {"loop", "pass", "avx2", "floor"})
            std::printf(" %8.2f", ns(std::string(set.first) + "_" + what + "/" + set.second));
        std::printf("\n");
    }
    print_ratio("spring_pass vs spring_force loop, cloth 256x256:", speedup("cloth_pass/" + cloth, "cloth_loop/" + cloth), 3.0);
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path) {
        if (!physics_path_available(path)) continue;
        const std::string name = physics_path_name(path);
        print_ratio(name + " path vs spring_force loop, cloth 256x256:",
                    speedup("cloth_" + name + "/" + cloth, "cloth_loop/" + cloth), path == PHYSICS_PATH_AVX2 ? 2.0 : 0);
    }
    print_ratio("spring_pass vs spring_force loop, rope of 300:", speedup("rope_pass/" + rope, "rope_loop/" + rope), 1.0);
    print_ratio("spring_pass vs floor (at most 1x), cloth 256x256:", speedup("cloth_pass/" + cloth, "cloth_floor/" + cloth));
    print_ratio("spring_pass vs floor (at most 1x), rope of 300:", speedup("rope_pass/" + rope, "rope_floor/" + rope));

    const double pass = ns("frame_pass/1") * 1e-9, loop = ns("frame_loop/1") * 1e-9, step = ns("step/65536") * 1e-9;
    if (pass <= 0 || loop <= 0 || step <= 0) return;
    std::printf("\ncloth frame 256x256 (update_physics + %u passes): %.2f ms with spring_pass, %.2f ms with spring_force"
                " calls (%.2fx); the step alone %.3f ms\n", kPasses, pass * 1e3, loop * 1e3, loop / pass, step * 65536e3);
    const unsigned with = largest_cloth(pass, step, 1.0 / 60), without = largest_cloth(loop, step, 1.0 / 60);
    const unsigned with_measured = largest_measured(true, with, 1.0 / 60);
    const unsigned without_measured = largest_measured(false, without, 1.0 / 60);
    record_figure("largest cloth at 60 Hz, side: spring_force loop, 1 core", without_measured);
    record_figure("largest cloth at 60 Hz, side: spring_pass, 1 core", with_measured);
    std::printf("largest square cloth in a 60 Hz frame (16.7 ms) on one core, frames measured: %ux%u with batches,"
                " %ux%u without\n  (extrapolated linearly from the 256x256 frame: %ux%u and %ux%u)\n",
                with_measured, with_measured, without_measured, without_measured, with, with, without, without);
}

}  // namespace

// Takes --figures_out=FILE (the closing figures as JSON) out of the arguments
// before Google Benchmark reads them.
const char* take_figures_out(int& argc, char** argv) {
    const std::string flag = "--figures_out=";
    const char* path = nullptr;
    int kept = 1;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).compare(0, flag.size(), flag) == 0)
            path = argv[i] + flag.size();
        else
            argv[kept++] = argv[i];
    argc = kept;
    return path;
}

int main(int argc, char** argv) {
    const char* figures_out = take_figures_out(argc, argv);
    // --rules, --schedules, --collide: those figures alone, for a quick look.
    if (argc > 1 && std::string(argv[1]) == "--rules") {
        print_rules();
        stop_helper();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--schedules") {
        print_schedules();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--collide") {
        print_collide();
        stop_helper();
        return 0;
    }
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nupdate_physics path: %s; ratios of the best runs, by time per particle\n",
                physics_path_name(physics_selected_path()));
    print_ratio("update_physics vs plain scalar loop, 4096 particles:", speedup("update/4096", "scalar/4096"), 3.0);
    print_ratio("update_physics vs streaming pass, 4194304 particles:", speedup("update/4194304", "stream/4194304"),
                0.9);
    print_ratio("update_physics vs plain scalar loop, 4194304 particles:", speedup("update/4194304", "scalar/4194304"));
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path) {
        if (!physics_path_available(path)) continue;
        const std::string name = physics_path_name(path);
        print_ratio(name + " path vs plain scalar loop, 4096 particles:", speedup("path_" + name + "/4096", "scalar/4096"));
    }
    print_ratio("spring_force vs plain scalar, chain of 4096:", speedup("spring/4096", "spring_ref/4096"));
    print_ratio("clen vs plain scalar, 4096 pairs:", speedup("clen/4096", "clen_ref/4096"));
    print_springs();
    print_threads();
    print_rules();
    print_collide();
    stop_helper();
    print_schedules();
    if (figures_out && !write_figures(figures_out, "native", physics_path_name(physics_selected_path()))) return 1;
    return 0;
}
