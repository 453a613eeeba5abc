#include "cloth.h"

#include <GL/gl.h>

#include "relax.h"

#include <cmath>
#include <cstddef>
#include <vector>

// Threads are drawn from the particle records with 16-bit indices, the kind
// that OpenGL ES and WebGL take from client memory.
static_assert(CLOTH_COLUMNS * CLOTH_ROWS <= 65536, "a cloth's particles are numbered in 16 bits");

namespace {

// Window pixels, y upward. The cloth keeps this size at any grid size.
const float left = 194.0f, pin_y = 380.0f, width = 252.0f, height = 188.0f;
const float gravity = 1000.0f;  // pixels per second squared
const float drag = 1.0f;        // per second: the swinging dies down in a few seconds
const int passes = 6;           // spring passes a step: more is stiffer
const float step_seconds = 1.0f / steps_per_second;

std::vector<TCVerlet> particles;
std::vector<TCSpring> springs;
std::vector<GLushort> lines;  // the threads drawn: pairs of particle numbers
float prev_dt = 0.0f;  // none yet: the cloth starts at rest
int held = -1;         // the particle following the pen, or -1

unsigned at(int column, int row)
{
    return unsigned(row * cloth_columns + column);
}

float pin_x(int column)
{
    return left + column * width / (cloth_columns - 1);
}

void tie(unsigned a, unsigned b, float dx, float dy)
{
    springs.push_back({a, b, clen(0.0f, 0.0f, dx, dy)});
}

// The floor, a little below where the cloth hangs, and a ball lying on it to
// the cloth's right, where a corner of the cloth pulled to the right drapes
// over it. The kernel keeps every particle out of both; only the particle
// the pen holds goes where the pen does.
const TCPlane floor_plane{0.0f, 1.0f, 150.0f};
const TCCircle ball{520.0f, 195.0f, 45.0f};
const float floor_drawn = 6.0f;  // the floor's edge, drawn as a band this high below it

// What the kernel puts back after every pass: the pins in place, at rest
// (laid down with the cloth), then the grabbed particle where it is held (a
// grabbed pin follows the pen), with the speed the pen gives it.
std::vector<TCHold> holds;

void hold_grabbed(float x, float y)
{
    holds.resize(cloth_columns);
    if (held >= 0)
        holds.push_back(TCHold{unsigned(held), x, y, 0});
}

// The step moves the held particles too (gravity): they start the passes where they are held.
void put_held_back()
{
    for (const TCHold& h : holds) {
        TCVerlet& p = particles[h.particle];
        p.x = h.x;
        p.y = h.y;
        if (h.still) {
            p.old_x = h.x;
            p.old_y = h.y;
        }
    }
}

}  // namespace

unsigned make_cloth(unsigned parts)
{
    stop_relaxing();  // the worker reads the springs: none while they change
    prev_dt = 0.0f;
    held = -1;
    const float dx = width / (cloth_columns - 1), dy = height / (cloth_rows - 1);
    particles.assign(std::size_t(cloth_columns) * cloth_rows, TCVerlet{});
    // Each column leans 60 degrees from upright, to the right. With no shear
    // springs that is a shape the cloth can take, and gravity turns it over.
    for (int row = 0; row < cloth_rows; ++row)
        for (int column = 0; column < cloth_columns; ++column) {
            TCVerlet& p = particles[at(column, row)];
            p.x = p.old_x = pin_x(column) + 0.866f * dy * row;
            p.y = p.old_y = pin_y + 0.5f * dy * row;
        }
    holds.clear();
    for (int column = 0; column < cloth_columns; ++column)
        holds.push_back(TCHold{at(column, 0), pin_x(column), pin_y, 1});
    // Neighbours along rows and columns, and every second one, which keeps
    // the cloth from folding into creases it cannot leave. Row by row from the
    // pins down: each pass carries the pins' hold down the cloth.
    springs.clear();
    for (int row = 0; row < cloth_rows; ++row)
        for (int column = 0; column < cloth_columns; ++column)
            for (int reach = 1; reach <= 2; ++reach) {
                if (column + reach < cloth_columns)
                    tie(at(column, row), at(column + reach, row), reach * dx, 0.0f);
                if (row + reach < cloth_rows)
                    tie(at(column, row), at(column, row + reach), 0.0f, reach * dy);
            }
    // The threads between neighbours, drawn from the particles where they lie.
    lines.clear();
    for (int row = 0; row < cloth_rows; ++row)
        for (int column = 0; column < cloth_columns; ++column) {
            if (column + 1 < cloth_columns)
                lines.insert(lines.end(), {GLushort(at(column, row)), GLushort(at(column + 1, row))});
            if (row + 1 < cloth_rows)
                lines.insert(lines.end(), {GLushort(at(column, row)), GLushort(at(column, row + 1))});
        }
    return start_relaxing(particles.data(), springs.data(), unsigned(springs.size()), unsigned(particles.size()),
                          parts);
}

void end_cloth()
{
    stop_relaxing();
}

const std::vector<TCVerlet>& cloth_particles()
{
    return particles;
}

void grab_nearest(float x, float y)
{
    float best = -1.0f;
    for (std::size_t i = 0; i < particles.size(); ++i) {
        float ex = particles[i].x - x, ey = particles[i].y - y, d = ex * ex + ey * ey;
        if (best < 0.0f || d < best) {
            best = d;
            held = int(i);
        }
    }
}

void let_go()
{
    held = -1;
}

void step_cloth(float x, float y)
{
    for (TCVerlet& p : particles) {
        p.acc_x = -drag * (p.x - p.old_x) / step_seconds;
        p.acc_y = -gravity - drag * (p.y - p.old_y) / step_seconds;
    }
    prev_dt = update_physics(step_seconds, prev_dt, particles.data(), unsigned(particles.size()));
    hold_grabbed(x, y);
    put_held_back();
    const TCRules rules{holds.data(), unsigned(holds.size()), &floor_plane, 1, &ball, 1};
    relax_passes(passes, rules);
}

// One call: the positions are read straight from the particle records.
void draw_cloth()
{
    glColor3f(1.0f, 0.8f, 0.4f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, sizeof(TCVerlet), &particles[0].x);
    glDrawElements(GL_LINES, GLsizei(lines.size()), GL_UNSIGNED_SHORT, lines.data());
    glDisableClientState(GL_VERTEX_ARRAY);
}

// The floor's edge as a band across the window (the pen may go below it,
// and is drawn there over the background alone), and the ball as the kernel
// sees it: the points whose clen from the centre is the radius, a slightly
// octagonal outline (a round one would show the cloth sinking into it where
// it lies along a diagonal).
void draw_floor_and_ball()
{
    glColor3f(0.35f, 0.35f, 0.4f);
    glBegin(GL_QUADS);
    glVertex2f(0.0f, floor_plane.d - floor_drawn);
    glVertex2f(640.0f, floor_plane.d - floor_drawn);
    glVertex2f(640.0f, floor_plane.d);
    glVertex2f(0.0f, floor_plane.d);
    glEnd();
    glColor3f(0.3f, 0.5f, 0.75f);
    glBegin(GL_TRIANGLE_FAN);
    glVertex2f(ball.x, ball.y);
    const int sides = 96;
    for (int k = 0; k <= sides; ++k) {
        const float angle = 6.2831853f * k / sides, dx = std::cos(angle), dy = std::sin(angle);
        const float reach = ball.radius / clen(0.0f, 0.0f, dx, dy);
        glVertex2f(ball.x + dx * reach, ball.y + dy * reach);
    }
    glEnd();
}

float floor_height()
{
    return floor_plane.d;
}

TCCircle ball_shape()
{
    return ball;
}
