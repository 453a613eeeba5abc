#pragma once
// Relaxing the cloth's springs a pass at a time, on the calling thread alone
// or split in two parts with a worker thread beside it. Every pass gives the
// bits of one spring_pass whatever the parts, so the cloth moves the same on
// any machine. Two files implement this: relax.cpp (std::thread) and
// relax_one_thread.cpp, for builds without threads, which always uses one part.
#include <penshell/physics.h>

// The parts this machine gets: 2 where it has at least two cores, else 1.
unsigned parts_for_this_machine();

// Arranges the springs for `parts` parts (1 or 2) and starts the worker a
// second part runs on, after ending any earlier relaxation. The particles and
// springs stay the caller's and must stay where they are until
// stop_relaxing. Returns the parts in use: 1 where no worker could be started.
unsigned start_relaxing(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                        unsigned particle_count, unsigned parts);

// `passes` passes over every spring, each with the rules (pins, the pen's
// particle, the floor and the ball: kernel rules, applied inside the pass);
// returns the last pass's largest error. The bits are those of one
// spring_pass_rules a pass. When it returns the worker is idle, so the
// caller may read and change the particles and the rules.
float relax_passes(unsigned passes, const TCRules& rules);

// Ends the worker, if any, and waits until it has.
void stop_relaxing();
