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

// A particle put back after every pass: at (x, y), with no speed if `still`.
struct Hold {
    unsigned particle;
    float x, y;
    bool still;
};

inline void put_back(TCVerlet* particles, const Hold& hold)
{
    TCVerlet& p = particles[hold.particle];
    p.x = hold.x;
    p.y = hold.y;
    if (hold.still) {
        p.old_x = hold.x;
        p.old_y = hold.y;
    }
}

inline void put_back_all(TCVerlet* particles, const Hold* holds, unsigned hold_count)
{
    for (unsigned k = 0; k < hold_count; ++k)
        put_back(particles, holds[k]);
}

// `passes` passes over every spring, each followed by the holds; returns the
// last pass's largest error. The bits are those of one spring_pass a pass
// with the holds between them. When it returns the worker is idle, so the
// caller may read and change the particles.
float relax_passes(unsigned passes, const Hold* holds, unsigned hold_count);

// Ends the worker, if any, and waits until it has.
void stop_relaxing();
