#pragma once
// Colliding the particles and relaxing the cloth's springs a pass at a time,
// on the calling thread alone or split in two parts with a worker thread
// beside it. Every step gives the bits of one particle_collide and one
// spring_pass_rules a pass whatever the parts, so the cloth moves the same on
// any machine. Two files implement this: relax.cpp (std::thread) and
// relax_one_thread.cpp, for builds without threads, which always uses one part.
#include <penshell/physics.h>

// The parts this machine gets: 2 where it has at least two cores, else 1.
unsigned parts_for_this_machine();

// Arranges the springs for `parts` parts (1 or 2) and starts the worker a
// second part runs on, after ending any earlier relaxation. The particles,
// springs and radii (one a particle: what particle_collide takes) stay the
// caller's and must stay where they are until stop_relaxing; the caller may
// tear springs (NaN rest lengths) between steps, with no new schedule.
// Returns the parts in use: 1 where no worker could be started.
unsigned start_relaxing(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                        unsigned particle_count, const float* radii, unsigned parts);

// `passes` passes over every spring, each with the rules (pins, the pen's
// particle, the floor, walls and the ball: kernel rules, applied inside the
// pass), the first `collisions` of them each after one particle_collide over
// every particle; returns the last pass's largest error. When it returns the
// worker is idle, so the caller may read and change the particles, springs
// and rules.
float relax_step(unsigned passes, unsigned collisions, const TCRules& rules);

// Ends the worker, if any, and waits until it has.
void stop_relaxing();
