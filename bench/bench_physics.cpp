// penshell_bench: the particle kernel beside a plain scalar loop and a
// streaming pass over the same bytes. Ends with the two ratios that matter:
// update_physics vs scalar at 4096 particles (in cache) and vs the streaming
// pass at 4194304 particles (memory bound).
#include "bench.h"
#include <penshell/physics.h>
#include "physics_paths.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
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
    uint32_t s = 12345;
    auto next = [&s] { s = s * 1664525u + 1013904223u; return float(s >> 8) / float(1u << 24); };
    for (TCVerlet& p : v) {
        const float x = next() * 100.0f, y = next() * 100.0f;
        p = TCVerlet{x, y, x - next() * 0.1f, y - next() * 0.1f, 0.0f, -9.81f};
    }
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
    state.SetBytesProcessed(state.iterations() * int64_t(n) * int64_t(sizeof(TCVerlet)));
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
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        benchmark::RegisterBenchmark("update_physics_path", BM_update_path)->Args({path, 4096})->MinTime(kMinTime);
    benchmark::RegisterBenchmark("spring_force_chain", BM_spring_force_chain)->Arg(4096)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("spring_reference_chain", BM_spring_reference_chain)->Arg(4096)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("clen", BM_clen)->Arg(4096)->MinTime(kMinTime);
    benchmark::RegisterBenchmark("clen_reference", BM_clen_reference)->Arg(4096)->MinTime(kMinTime);
}

// How many times faster `a` is than `b` (by time per particle), or 0 if either did not run.
double speedup(const std::string& a, const std::string& b) {
    const auto ia = g_sec_per_item.find(a), ib = g_sec_per_item.find(b);
    if (ia == g_sec_per_item.end() || ib == g_sec_per_item.end() || ia->second <= 0) return 0;
    return ib->second / ia->second;
}

// A target of 0 prints the ratio alone.
void print_ratio(const std::string& what, double r, double target = 0) {
    if (r <= 0)
        std::printf("%-58s not measured in this run\n", what.c_str());
    else if (target <= 0)
        std::printf("%-58s %6.2fx\n", what.c_str(), r);
    else
        std::printf("%-58s %6.2fx  (target >= %.2fx: %s)\n", what.c_str(), r, target, r >= target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
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
    return 0;
}
