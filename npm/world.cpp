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
    unsigned particle_capacity, spring_capacity;
};

World g_world;

}  // namespace

// The arrays, all at once: a schedule never needs more than the words for
// the capacity. Returns 0 when the memory given was too small.
EXPORT(world_reserve) int world_reserve(unsigned particle_capacity, unsigned spring_capacity) {
    const unsigned words = spring_schedule_words(spring_capacity, particle_capacity);
    if (words == 0) return 0;
    g_world.particles = static_cast<TCVerlet*>(std::calloc(particle_capacity ? particle_capacity : 1, sizeof(TCVerlet)));
    g_world.springs = static_cast<TCSpring*>(std::calloc(spring_capacity ? spring_capacity : 1, sizeof(TCSpring)));
    g_world.schedule = static_cast<unsigned*>(std::calloc(words, sizeof(unsigned)));
    g_world.particle_capacity = particle_capacity;
    g_world.spring_capacity = spring_capacity;
    return g_world.particles && g_world.springs && g_world.schedule;
}

EXPORT(world_particles) TCVerlet* world_particles() { return g_world.particles; }
EXPORT(world_springs) TCSpring* world_springs() { return g_world.springs; }

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

// `passes` spring passes through the schedule; the largest error of the last.
EXPORT(world_spring_passes) float world_spring_passes(unsigned spring_count, unsigned passes) {
    if (spring_count > g_world.spring_capacity) return 0.0f;
    float largest = 0.0f;
    for (unsigned k = 0; k < passes; ++k)
        largest = spring_pass(g_world.particles, g_world.springs, spring_count, g_world.schedule);
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

// Which build this is: the path update_physics and spring_pass take.
EXPORT(kernel_path) int kernel_path() { return physics_selected_path(); }
