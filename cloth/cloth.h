#pragma once
// The cloth: a grid of kernel particles tied by springs, pinned along its top
// edge, kept above a floor and out of a ball, moved in fixed steps and drawn
// as lines.

// The size is fixed when the program is built.
#ifndef CLOTH_COLUMNS
#define CLOTH_COLUMNS 64
#endif
#ifndef CLOTH_ROWS
#define CLOTH_ROWS 48
#endif
const int cloth_columns = CLOTH_COLUMNS;
const int cloth_rows = CLOTH_ROWS;

const int steps_per_second = 120;

#include <penshell/physics.h>

#include <vector>

// Lays the cloth out, leaning up over its pins so that it falls at once, and
// arranges its springs to be relaxed in `parts` parts (relax.h). Returns the
// parts in use. end_cloth ends the relaxation's worker.
unsigned make_cloth(unsigned parts);
void end_cloth();

// The particle nearest to (x, y) follows the points given to step_cloth
// until let_go, which leaves it the motion it had.
void grab_nearest(float x, float y);
void let_go();

// One step of 1/steps_per_second s; a grabbed particle is held at (x, y).
void step_cloth(float x, float y);

// The threads between neighbours along rows and columns as lines, in the
// cloth's colour.
void draw_cloth();

// The floor and the ball the cloth cannot enter, drawn under the cloth.
void draw_floor_and_ball();
float floor_height();
TCCircle ball_shape();

// Where the particles are, row by row from the pins.
const std::vector<TCVerlet>& cloth_particles();
