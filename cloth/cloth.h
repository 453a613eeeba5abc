#pragma once
// The cloth: a grid of kernel particles tied by springs, pinned along its top
// edge, moved in fixed steps and drawn as lines.

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

// Lays the cloth out, leaning up over its pins so that it falls at once, and
// arranges its springs for the kernel.
void make_cloth();

// The particle nearest to (x, y) follows the points given to step_cloth
// until let_go, which leaves it the motion it had.
void grab_nearest(float x, float y);
void let_go();

// One step of 1/steps_per_second s; a grabbed particle is held at (x, y).
void step_cloth(float x, float y);

// Every spring as a line, in the cloth's colour.
void draw_cloth();
