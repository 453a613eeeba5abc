#pragma once
// Internal interface: the processor-specific versions of update_physics, so
// tests and benchmarks can run each one the machine has. Every path gives the
// same bits as the scalar one. Callers use <penshell/physics.h>; this one is not installed.
#include <penshell/physics.h>

enum PhysicsPath {
    PHYSICS_PATH_SCALAR = 0,  // portable C++, every processor
    PHYSICS_PATH_SSE2,        // x86-64 baseline
    PHYSICS_PATH_AVX2,        // x86-64 with AVX2, chosen at run time
    PHYSICS_PATH_AVX512,      // x86-64 with AVX-512F, chosen at run time
    PHYSICS_PATH_SIMD128,     // WebAssembly built with -msimd128
    PHYSICS_PATH_COUNT
};

const char* physics_path_name(int path);
// True when this build has the path and the processor can run it.
bool physics_path_available(int path);
// The path update_physics uses on this machine (the fastest available).
int physics_selected_path();
// update_physics on the given path; an unavailable path runs the scalar code.
float update_physics_path(int path, float dt, float prev_dt, TCVerlet* particles,
                          unsigned count);

// spring_pass on the given path; an unavailable path runs the scalar code.
float spring_pass_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                       const unsigned* schedule);
// Writes the indices of the springs in the order spring_pass applies them.
void spring_schedule_order(const unsigned* schedule, unsigned spring_count, unsigned* order);
// spring_pass_part on the given path; an unavailable path runs the scalar code.
float spring_pass_part_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                            const unsigned* schedule, unsigned part, unsigned* sync);
// How many parts of a schedule made by spring_schedule_parts hold springs
// (0 for any other schedule): the division the schedule chose.
unsigned spring_schedule_parts_used(const unsigned* schedule);
// spring_pass_rules and spring_pass_part_rules on the given path; an unavailable path runs the scalar code.
float spring_pass_rules_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                             const unsigned* schedule, unsigned particle_count, const TCRules* rules);
float spring_pass_part_rules_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                                  const unsigned* schedule, unsigned particle_count, unsigned part, unsigned* sync,
                                  const TCRules* rules);
// particle_collide and particle_collide_part on the given path; an unavailable path runs the scalar code.
float particle_collide_path(int path, TCVerlet* particles, unsigned particle_count, const float* radii,
                            unsigned* work);
float particle_collide_part_path(int path, TCVerlet* particles, unsigned particle_count, const float* radii,
                                 unsigned* work, unsigned part, unsigned parts, unsigned* sync);
