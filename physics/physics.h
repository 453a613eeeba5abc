#pragma once
// The particle kernel: Verlet integration, a cheap distance estimate and a
// distance constraint between two particles.
//
// Units are the caller's: lengths in any unit, time in the unit the
// accelerations are given in. Particles belong to the caller; the kernel keeps
// no state and allocates nothing. Each step consumes the accelerations (sets
// them to 0), so add whatever acts during the next step before calling it.
// Results are bit-identical in every build and on every processor path.

struct TCVerlet {
    float x, y;          // position now
    float old_x, old_y;  // position one step ago
    float acc_x, acc_y;  // acceleration acting during the next step
};
static_assert(sizeof(TCVerlet) == 24, "TCVerlet is six packed floats");

// Moves the first `count` particles one step of length dt; prev_dt is the
// length of the step before (0 or less: the particles start at rest).
// Returns dt, to be passed as prev_dt next time.
float update_physics(float dt, float prev_dt, TCVerlet* particles, unsigned count);

// Approximate distance between two points (within about 6% of the true one),
// without a square root.
float clen(float x1, float y1, float x2, float y2);

// Moves a and b along the line between them, each by half the error, so their
// clen distance becomes |rest_length|. Returns the error (rest_length minus
// the distance before the move). Coincident particles have no direction: they
// are left where they are and rest_length is returned.
float spring_force(TCVerlet& a, TCVerlet& b, float rest_length);
