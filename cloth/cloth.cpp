#include "cloth.h"

#include <GL/gl.h>

#include "relax.h"

#include <algorithm>
#include <cmath>
#include <limits>
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
// Collisions a step, each before one of the first passes: with one, a heap of
// 2,000 balls sinks to a third of its height; with two it keeps it. (A build
// may set the count and the tear ratio to measure them.)
#ifndef CLOTH_COLLISIONS
#define CLOTH_COLLISIONS 2
#endif
const int collisions = CLOTH_COLLISIONS;
const float step_seconds = 1.0f / steps_per_second;
const float most_move = 20.0f;  // pixels a step

// A thread tears when stretched past this many times its rest length (as clen
// measures both). Hanging, the most stretched thread reaches 1.9 (in the
// first fall); the pen's patch dragged 50 to 100 pixels at up to 8 pixels a
// step (960 a second) stretches threads 3 to 7.4 times; yanked 200 pixels or
// more across the window, past 17 at any speed (measured, docs/cloth.md).
#ifndef CLOTH_TEAR_RATIO
#define CLOTH_TEAR_RATIO 10.0f
#endif
const float tear_ratio = CLOTH_TEAR_RATIO;

// The cloth's particles collide with each other and with the balls, with a
// radius under half a thread's rest length (3.76 as clen measures it): a
// thread's two ends are never in reach, and a ball does not slip between them.
const float cloth_radius = 1.5f;
const float ball_radius = 2.0f;

std::vector<TCVerlet> particles;  // the cloth's, row by row from the pins, then the balls
std::vector<float> radii;
std::vector<TCSpring> springs;
std::vector<GLushort> lines;      // the threads drawn: pairs of particle numbers
std::vector<unsigned> threads;    // the spring each drawn line is, a line a pair
// Each spring to the second neighbour, with the two threads it spans: it
// breaks with either, so that the cloth holds only by threads that are drawn.
struct Span {
    unsigned spring, first, second;
};
std::vector<Span> spans;
unsigned torn = 0;                // springs torn since the cloth was made
float prev_dt = 0.0f;  // none yet: the cloth starts at rest
int held = -1;         // the particle nearest the pen when grabbed, or -1
// The pen holds a patch of particles, the one grabbed and its neighbours (3x3
// where the cloth has them), each at its offset from the pen: pulled hard,
// the threads around the patch tear and it comes away as a piece of cloth.
struct Held {
    unsigned particle;
    float dx, dy;
};
std::vector<Held> patch;

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

// A spring to the next particle is a thread drawn, the one from a to b in
// `along`; one to the second next spans two threads (filled in later).
void tie_along(unsigned a, unsigned b, int reach, float dx, float dy, std::vector<unsigned>& along)
{
    if (reach == 1) {
        along[a] = unsigned(springs.size());
        threads.push_back(unsigned(springs.size()));
    } else {
        spans.push_back({unsigned(springs.size()), 0, 0});
    }
    tie(a, b, dx, dy);
}

// The floor, a little below where the cloth hangs, and a ball lying on it to
// the cloth's right, where a corner of the cloth pulled to the right drapes
// over it. The kernel keeps every particle out of both; only the particle
// the pen holds goes where the pen does.
// Walls at the window's sides keep the balls in sight.
const TCPlane floor_plane{0.0f, 1.0f, 80.0f};
const TCPlane planes[] = {floor_plane, {1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, -640.0f}};
const TCCircle ball{520.0f, 125.0f, 45.0f};
const float floor_drawn = 6.0f;  // the floor's edge, drawn as a band this high below it

// What the kernel puts back after every pass: the pins in place, at rest
// (laid down with the cloth), then the grabbed patch where it is held (a
// grabbed pin follows the pen), with the speed the pen gives it.
std::vector<TCHold> holds;

void hold_grabbed(float x, float y)
{
    holds.resize(cloth_columns);
    for (const Held& h : patch)
        holds.push_back(TCHold{h.particle, x + h.dx, y + h.dy, 0});
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

// The lines drawn: the threads not torn, each drawn from the particles where they lie.
void draw_whole_threads()
{
    lines.clear();
    for (unsigned spring : threads)
        if (springs[spring].rest_length == springs[spring].rest_length)
            lines.insert(lines.end(), {GLushort(springs[spring].a), GLushort(springs[spring].b)});
}

// The balls, at rest in rows on the floor from wall to wall on both sides of
// the ball, each row over the gaps of the one below, as close as clen lets
// them lie without touching; the heap settles from there. Lone products and
// sums keep every position the same bits on every build.
void lay_balls()
{
    const float across = 2.0f * ball_radius / 0.941246f + 0.01f;  // clen along a row: just over two radii
    const float up = across * 0.8f;  // the diagonal's clen: still over two radii
    int laid = 0;
    for (int row = 0; laid < ball_count; ++row)
        for (int column = 0; laid < ball_count; ++column) {
            const float x = ball_radius + float(column) * across + float(row % 2) * (across / 2);
            const float y = floor_plane.d + ball_radius + float(row) * up;
            if (x > 640.0f - ball_radius)
                break;
            if (clen(ball.x, ball.y, x, y) < ball.radius + ball_radius)
                continue;
            TCVerlet p{};
            p.x = p.old_x = x;
            p.y = p.old_y = y;
            particles.push_back(p);
            radii.push_back(ball_radius);
            ++laid;
        }
}

}  // namespace

unsigned make_cloth(unsigned parts)
{
    stop_relaxing();  // the worker reads the springs: none while they change
    prev_dt = 0.0f;
    held = -1;
    patch.clear();
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
    // The threads drawn are the springs between neighbours.
    springs.clear();
    threads.clear();
    spans.clear();
    // The threads from each particle: along its row, along its column.
    std::vector<unsigned> along_row(particles.size(), ~0u), along_column(particles.size(), ~0u);
    for (int row = 0; row < cloth_rows; ++row)
        for (int column = 0; column < cloth_columns; ++column)
            for (int reach = 1; reach <= 2; ++reach) {
                if (column + reach < cloth_columns)
                    tie_along(at(column, row), at(column + reach, row), reach, reach * dx, 0.0f, along_row);
                if (row + reach < cloth_rows)
                    tie_along(at(column, row), at(column, row + reach), reach, 0.0f, reach * dy, along_column);
            }
    for (Span& span : spans) {
        const TCSpring& s = springs[span.spring];
        const std::vector<unsigned>& along = s.b == s.a + 2 ? along_row : along_column;
        span.first = along[s.a];
        span.second = along[(s.a + s.b) / 2];
    }
    torn = 0;
    draw_whole_threads();
    radii.assign(particles.size(), cloth_radius);
    lay_balls();
    return start_relaxing(particles.data(), springs.data(), unsigned(springs.size()), unsigned(particles.size()),
                          radii.data(), parts);
}

void end_cloth()
{
    stop_relaxing();
}

const std::vector<TCVerlet>& cloth_particles()
{
    return particles;
}

// Only the cloth's particles: the pen pulls the cloth, not the balls.
void grab_nearest(float x, float y)
{
    float best = -1.0f;
    for (int i = 0; i < cloth_count; ++i) {
        float ex = particles[i].x - x, ey = particles[i].y - y, d = ex * ex + ey * ey;
        if (best < 0.0f || d < best) {
            best = d;
            held = i;
        }
    }
    patch.clear();
    const int row = held / cloth_columns, column = held % cloth_columns;
    for (int r = row - 1; r <= row + 1; ++r)
        for (int c = column - 1; c <= column + 1; ++c)
            if (r >= 0 && r < cloth_rows && c >= 0 && c < cloth_columns) {
                const unsigned i = at(c, r);
                patch.push_back({i, particles[i].x - particles[held].x, particles[i].y - particles[held].y});
            }
}

void let_go()
{
    held = -1;
    patch.clear();
}

// The kernel's order: the step, the holds put back, the collisions, the
// spring passes with the rules (so pins, the pen, floor, walls and ball have
// the last word), then the threads stretched too far tear.
unsigned step_cloth(float x, float y)
{
    for (TCVerlet& p : particles) {
        // A thread that tears lets the threads beside it snap back, which
        // would fling particles far out of the window: no particle moves
        // more than most_move a step (2,400 pixels a second).
        p.old_x = std::min(std::max(p.old_x, p.x - most_move), p.x + most_move);
        p.old_y = std::min(std::max(p.old_y, p.y - most_move), p.y + most_move);
        p.acc_x = -drag * (p.x - p.old_x) / step_seconds;
        p.acc_y = -gravity - drag * (p.y - p.old_y) / step_seconds;
    }
    prev_dt = update_physics(step_seconds, prev_dt, particles.data(), unsigned(particles.size()));
    hold_grabbed(x, y);
    put_held_back();
    const TCRules rules{holds.data(), unsigned(holds.size()), planes, 3, &ball, 1};
    relax_step(passes, collisions, rules);
    const unsigned now_torn = spring_tear(particles.data(), springs.data(), unsigned(springs.size()), tear_ratio);
    if (now_torn == 0)
        return 0;
    unsigned broken = now_torn;
    for (const Span& span : spans) {
        TCSpring& s = springs[span.spring];
        const bool thread_torn = springs[span.first].rest_length != springs[span.first].rest_length ||
                                 springs[span.second].rest_length != springs[span.second].rest_length;
        if (thread_torn && s.rest_length == s.rest_length) {
            s.rest_length = std::numeric_limits<float>::quiet_NaN();
            ++broken;
        }
    }
    torn += broken;
    draw_whole_threads();
    return broken;
}

unsigned torn_springs()
{
    return torn;
}

const std::vector<TCSpring>& cloth_springs()
{
    return springs;
}

const std::vector<float>& particle_radii()
{
    return radii;
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

// Each ball a point 3 pixels across, read straight from the particle
// records, all in one call: 2,000 vertices a frame, where octagons of
// triangles took 36,000 and a quarter of a frame in a browser's software
// WebGL. Points of a size draw the same in OpenGL 1.1 and over WebGL.
void draw_balls()
{
    glColor3f(0.55f, 0.7f, 0.95f);
    glPointSize(3.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, sizeof(TCVerlet), &particles[0].x);
    glDrawArrays(GL_POINTS, cloth_count, GLsizei(ball_count));
    glDisableClientState(GL_VERTEX_ARRAY);
    glPointSize(1.0f);
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
