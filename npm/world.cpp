// The package's side of the kernel: one world an instance. Each world gets a
// WebAssembly instance and memory of its own, sized for its capacity when it
// is made and never grown, so the JavaScript views over its arrays stay valid
// until the world is freed. JavaScript keeps the counts and checks every
// argument before calling; the checks here only keep a wrong call inside the
// world's own arrays.
#include <penshell/physics.h>
#include "physics_paths.h"

#include <cstdlib>

#define EXPORT(name) extern "C" __attribute__((used, export_name(#name)))

namespace {

struct World {
    TCVerlet* particles;
    TCSpring* springs;
    unsigned* schedule;
    TCHold* holds;
    TCPlane* planes;
    TCCircle* circles;
    float* radii;      // with collisions only
    unsigned* work;    // particle_collide's, with collisions only
    unsigned particle_capacity, spring_capacity, hold_capacity, plane_capacity, circle_capacity;
};

World g_world;

template <typename T>
T* reserve(unsigned count) {
    return static_cast<T*>(std::calloc(count ? count : 1, sizeof(T)));
}

}  // namespace

// The arrays, all at once: a schedule never needs more than the words for
// the capacity, nor collisions more than theirs. Returns 0 when the memory
// given was too small.
EXPORT(world_reserve) int world_reserve(unsigned particles, unsigned springs, unsigned holds, unsigned planes,
                                        unsigned circles, int collide) {
    const unsigned words = spring_schedule_words(springs, particles);
    const unsigned collide_words = collide ? particle_collide_words(particles) : 1;
    if (words == 0 || collide_words == 0) return 0;
    g_world = World{reserve<TCVerlet>(particles), reserve<TCSpring>(springs), reserve<unsigned>(words),
                    reserve<TCHold>(holds), reserve<TCPlane>(planes), reserve<TCCircle>(circles),
                    collide ? reserve<float>(particles) : nullptr, collide ? reserve<unsigned>(collide_words) : nullptr,
                    particles, springs, holds, planes, circles};
    return g_world.particles && g_world.springs && g_world.schedule && g_world.holds && g_world.planes &&
           g_world.circles && (!collide || (g_world.radii && g_world.work));
}

EXPORT(world_particles) TCVerlet* world_particles() { return g_world.particles; }
EXPORT(world_springs) TCSpring* world_springs() { return g_world.springs; }
EXPORT(world_holds) TCHold* world_holds() { return g_world.holds; }
EXPORT(world_planes) TCPlane* world_planes() { return g_world.planes; }
EXPORT(world_circles) TCCircle* world_circles() { return g_world.circles; }
EXPORT(world_radii) float* world_radii() { return g_world.radii; }

// The first of the first spring_count springs with an end at or past
// particle_count, or spring_count when there is none.
EXPORT(world_first_bad_spring) unsigned world_first_bad_spring(unsigned particle_count, unsigned spring_count) {
    for (unsigned i = 0; i < spring_count; ++i)
        if (g_world.springs[i].a >= particle_count || g_world.springs[i].b >= particle_count) return i;
    return spring_count;
}

// 1 when made; 0 when refused (a bad end, or no work memory left).
EXPORT(world_schedule) int world_schedule(unsigned particle_count, unsigned spring_count) {
    if (particle_count > g_world.particle_capacity || spring_count > g_world.spring_capacity) return 0;
    return spring_schedule(g_world.springs, spring_count, particle_count, g_world.schedule);
}

// The first of the first hold_count holds on a particle at or past
// particle_count, or hold_count when there is none.
EXPORT(world_first_bad_hold) unsigned world_first_bad_hold(unsigned particle_count, unsigned hold_count) {
    for (unsigned i = 0; i < hold_count; ++i)
        if (g_world.holds[i].particle >= particle_count) return i;
    return hold_count;
}

// `passes` spring passes through the schedule, each followed by the first
// hold_count holds, plane_count planes and circle_count circles when there
// are any; the largest error of the last pass. -1 when the kernel refused
// the rules (and moved nothing).
EXPORT(world_spring_passes) float world_spring_passes(unsigned particle_count, unsigned spring_count,
                                                      unsigned hold_count, unsigned plane_count,
                                                      unsigned circle_count, unsigned passes) {
    const World& w = g_world;
    if (particle_count > w.particle_capacity || spring_count > w.spring_capacity || hold_count > w.hold_capacity ||
        plane_count > w.plane_capacity || circle_count > w.circle_capacity)
        return -1.0f;
    float largest = 0.0f;
    if (hold_count == 0 && plane_count == 0 && circle_count == 0) {
        for (unsigned k = 0; k < passes; ++k) largest = spring_pass(w.particles, w.springs, spring_count, w.schedule);
        return largest;
    }
    const TCRules rules{w.holds, hold_count, w.planes, plane_count, w.circles, circle_count};
    // No springs, no schedule: the rules alone, on every particle.
    const unsigned* schedule = spring_count ? w.schedule : nullptr;
    for (unsigned k = 0; k < passes && largest >= 0.0f; ++k)
        largest = spring_pass_rules(w.particles, w.springs, spring_count, schedule, particle_count, &rules);
    return largest;
}

EXPORT(world_step) float world_step(float dt, float prev_dt, unsigned count) {
    if (count > g_world.particle_capacity) return prev_dt;
    return update_physics(dt, prev_dt, g_world.particles, count);
}

EXPORT(world_clen) float world_clen(unsigned a, unsigned b) {
    if (a >= g_world.particle_capacity || b >= g_world.particle_capacity) return 0.0f;
    const TCVerlet &pa = g_world.particles[a], &pb = g_world.particles[b];
    return clen(pa.x, pa.y, pb.x, pb.y);
}

EXPORT(world_spring_force) float world_spring_force(unsigned a, unsigned b, float rest_length) {
    if (a >= g_world.particle_capacity || b >= g_world.particle_capacity) return 0.0f;
    return spring_force(g_world.particles[a], g_world.particles[b], rest_length);
}

// One particle_collide over the first `count` particles: the largest overlap,
// or -1 for a world made without collisions.
EXPORT(world_collide) float world_collide(unsigned count) {
    if (!g_world.work || count > g_world.particle_capacity) return -1.0f;
    return particle_collide(g_world.particles, count, g_world.radii, g_world.work);
}

// spring_tear over the first spring_count springs, whose ends the caller has
// checked (world_first_bad_spring); how many it broke, or kSpringTearRefused.
EXPORT(world_tear) unsigned world_tear(unsigned spring_count, float ratio) {
    if (spring_count > g_world.spring_capacity) return kSpringTearRefused;
    return spring_tear(g_world.particles, g_world.springs, spring_count, ratio);
}

// Which build this is: the path update_physics and spring_pass take.
EXPORT(kernel_path) int kernel_path() { return physics_selected_path(); }
