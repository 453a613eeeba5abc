#pragma once
// penshell physics: a 2-D particle kernel. Verlet integration of caller-owned
// particles, a distance estimate without a square root and a spring (distance)
// constraint between two particles.
//
// Units are the caller's: lengths in any unit, time in the unit the
// accelerations are given in. Nothing is allocated and no state is kept, so
// calls on separate particle arrays may run on separate threads. Results are
// the same bits on every processor and with every compiler and optimisation
// level (-ffast-math, which changes float semantics on purpose, is refused).
//
// One frame, typically:
//   add this step's accelerations to acc_x, acc_y (gravity: p.acc_y -= 9.81f);
//   prev_dt = update_physics(dt, prev_dt, particles, count);
//   repeat a few times: spring_force(a, b, rest_length) for every spring;
//   put fixed particles back (x, y and old_x, old_y).

struct TCVerlet {
    float x, y;          // position now
    float old_x, old_y;  // position one step ago
    float acc_x, acc_y;  // acceleration acting during the next step
};
static_assert(sizeof(TCVerlet) == 24, "TCVerlet is six packed floats");

// Moves the first `count` particles one step of length dt. For each particle,
// x then y, rounded to float after each operation in this order:
//   new = ((x - old_x) * ratio + x) + acc_x * dt2,  dt2 = dt * dt, ratio = dt / prev_dt
//   old_x = x; x = new; acc_x = 0
// Each step consumes the accelerations: add whatever acts during the next step
// before calling it. prev_dt is the length of the step before; 0, negative or
// NaN means there was none (ratio 0: the particles start at rest). To start a
// particle with velocity v, set old = position - v * prev_dt and pass that
// prev_dt to the first call. Returns dt, to be passed as prev_dt next time.
float update_physics(float dt, float prev_dt, TCVerlet* particles, unsigned count);

// Approximate distance between two points, without a square root:
// 0.941246 * the larger of |dx|, |dy| + 0.41 * the smaller. It lies between
// 0.941 (along an axis) and 1.027 (about 23.5 degrees off an axis) times the
// true distance.
float clen(float x1, float y1, float x2, float y2);

// Moves a and b along the line between them by equal and opposite amounts, so
// that their clen distance becomes |rest_length| (a negative one swaps their
// order). Returns the error: rest_length minus the clen distance before the
// move. Old positions and accelerations are untouched: the next step turns
// the move into motion. Since clen is the measure, a spring settles between
// about 3% shorter and 6% longer than rest_length depending on its direction,
// longest along an axis. Springs are applied in the order they are called;
// each call undoes part of its neighbours' work, so repeat the passes for a
// stiffer result. Coincident particles (a and b the same record included)
// have no direction: they are left where they are and rest_length is returned.
float spring_force(TCVerlet& a, TCVerlet& b, float rest_length);

// A spring between particles a and b of the caller's array.
struct TCSpring {
    unsigned a, b;
    float rest_length;
};

// How many unsigned words a schedule for these springs and particles needs.
unsigned spring_schedule_words(unsigned spring_count, unsigned particle_count);

// Arranges the springs for spring_pass, once for a set of springs. Writes at
// most spring_schedule_words(spring_count, particle_count) words. Returns false
// (and the schedule must not be used) when a spring names a particle at or past
// particle_count.
bool spring_schedule(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                     unsigned* schedule);

// Applies every spring once: the particles end up exactly as after calling
// spring_force on each spring in the given order. Returns the largest absolute
// error of the pass (NaN errors left out; 0 with no springs).
float spring_pass(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                  const unsigned* schedule);
