#pragma once
// The cloth: a grid of kernel particles tied by springs, pinned along its top
// edge, kept above a floor and out of a ball, moved in fixed steps and drawn
// as lines. Its threads tear when pulled too hard. A heap of balls lies on the
// floor; balls and cloth collide with each other and the cloth with itself.

// The size is fixed when the program is built.
#ifndef CLOTH_COLUMNS
#define CLOTH_COLUMNS 64
#endif
#ifndef CLOTH_ROWS
#define CLOTH_ROWS 48
#endif
const int cloth_columns = CLOTH_COLUMNS;
const int cloth_rows = CLOTH_ROWS;
const int cloth_count = CLOTH_COLUMNS * CLOTH_ROWS;
#ifndef CLOTH_BALLS
#define CLOTH_BALLS 2000
#endif
const int ball_count = CLOTH_BALLS;

const int steps_per_second = 120;

#include <penshell/physics.h>

#include <vector>

// Lays the cloth out, leaning up over its pins so that it falls at once, and
// the balls in a heap, and arranges its springs to be relaxed in `parts` parts
// (relax.h). Returns the parts in use. Called again, it starts over: a whole
// cloth, the balls laid again. end_cloth ends the relaxation's worker.
unsigned make_cloth(unsigned parts);
void end_cloth();

// The cloth's particle nearest to (x, y) follows the points given to step_cloth
// until let_go, which leaves it the motion it had.
void grab_nearest(float x, float y);
void let_go();

// One step of 1/steps_per_second s; a grabbed particle is held at (x, y).
// Returns how many springs tore in it.
unsigned step_cloth(float x, float y);

// Springs torn since the cloth was made (a torn one's rest_length is NaN).
unsigned torn_springs();
const std::vector<TCSpring>& cloth_springs();

// The threads between neighbours along rows and columns not torn, as lines,
// in the cloth's colour.
void draw_cloth();

// The balls as dots 3 pixels across, in their colour.
void draw_balls();

// The floor and the ball the cloth cannot enter, drawn under the cloth.
void draw_floor_and_ball();
float floor_height();
TCCircle ball_shape();

// Where the particles are: the cloth's (cloth_count), row by row from the
// pins, then the balls (ball_count); and the radius each collides with.
const std::vector<TCVerlet>& cloth_particles();
const std::vector<float>& particle_radii();
