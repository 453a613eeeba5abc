// The C++ side of the npm package's bench (bench_npm.mjs): spring_pass looped
// in C++ over the bench's cloth, in a module built with the package's flags,
// so that the package's JavaScript API is measured against no API at all; and
// the collisions' scenes, laid out once for the package and the JavaScript.
#include "bench.h"

#define EXPORT(name) extern "C" __attribute__((used, export_name(#name)))

namespace {

SpringSet g_set;
std::vector<TCVerlet> g_work;
volatile float g_sink;

}  // namespace


// Lays out a side x side cloth and its schedule; returns its spring count.
EXPORT(bench_make_cloth) unsigned bench_make_cloth(unsigned side) {
    g_set = make_springs(side, 0);
    g_work = g_set.start;
    return unsigned(g_set.springs.size());
}

EXPORT(bench_start) const TCVerlet* bench_start() { return g_set.start.data(); }
EXPORT(bench_springs) const TCSpring* bench_springs() { return g_set.springs.data(); }
EXPORT(bench_reset) void bench_reset() { g_work = g_set.start; }

// The collisions' scene `which` (sets.cpp); returns its particle count.
static CollideScene g_collide;
EXPORT(bench_make_collide) unsigned bench_make_collide(int which) {
    g_collide = make_collide_scene(which);
    return unsigned(g_collide.start.size());
}
EXPORT(bench_collide_start) const TCVerlet* bench_collide_start() { return g_collide.start.data(); }
EXPORT(bench_collide_radii) const float* bench_collide_radii() { return g_collide.radii.data(); }

EXPORT(bench_passes) void bench_passes(unsigned passes) {
    const unsigned n = unsigned(g_set.springs.size());
    float e = 0.0f;
    for (unsigned k = 0; k < passes; ++k) e = spring_pass(g_work.data(), g_set.springs.data(), n, g_set.schedule.data());
    g_sink = e;
}
