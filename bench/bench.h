#pragma once
// Yardsticks the kernel is measured against.
#include <penshell/physics.h>
#include "physics_paths.h"

#include <functional>
#include <string>
#include <vector>

// Plain scalar versions of the kernel (reference.cpp, built without vector code).
float update_reference(float dt, float prev_dt, TCVerlet* particles, unsigned count);
float clen_reference(float x1, float y1, float x2, float y2);
float spring_reference(TCVerlet& a, TCVerlet& b, float rest_length);

// Reads and writes back every byte of the records once, with the widest vector
// loads and stores the processor has (SSE2, AVX2 or AVX-512): the memory
// traffic of a step and no arithmetic.
void stream_pass(TCVerlet* particles, unsigned count);

// The memory traffic of a spring pass in the order `order` gives (the schedule's
// order): each spring's record read, both particles' positions read and written
// back, and no arithmetic.
void spring_floor_pass(TCVerlet* particles, const TCSpring* springs, const unsigned* order, unsigned count);

// ---- the scenes (sets.cpp) ----

// Particles scattered over a 100 x 100 square, moving slowly, in gravity:
// the same values for any vector of the same size.
void fill_scene(std::vector<TCVerlet>& particles);

// A set of springs with its schedule, the order the pass applies them in, and
// the particles every run starts from.
struct SpringSet {
    std::vector<TCVerlet> start;
    std::vector<TCSpring> springs;
    std::vector<unsigned> schedule, order;
};

// A side x side cloth, structural and shear springs given row by row, or a
// rope (side 1): a chain where every spring waits for the one before.
SpringSet make_springs(unsigned side, unsigned rope);
// The particles and springs alone, appended to start and springs.
void lay_out_springs(unsigned side, unsigned rope, std::vector<TCVerlet>& start, std::vector<TCSpring>& springs);

// Rules for a side x side cloth laid out by lay_out_springs: its top row
// held still, a plane the last third of its rows lie beyond and a ball in
// its middle. The record points into the scene, which must stay where it is.
struct RuleScene {
    std::vector<TCHold> holds;
    TCPlane plane;
    TCCircle circle;
    TCRules rules;
};
void make_rule_scene(const std::vector<TCVerlet>& start, unsigned side, RuleScene& scene);

// ---- particles that collide ----

// The collisions' scenes (sets.cpp): 0, a pile of 100,000 balls of radius 0.5
// on a jittered lattice of spacing 0.95 (about four contacts each); 1, a
// 256x256 cloth at rest, spacing 1 and radius 0.4 (no contacts: the search
// alone); 2, 100,000 balls of radius 0.5 scattered over a 1000 x 1000 square.
struct CollideScene {
    const char* name;
    std::vector<TCVerlet> start;
    std::vector<float> radii;
};
constexpr int kCollideScenes = 3;
CollideScene make_collide_scene(int which);

// particle_collide with the usual uniform grid, in plain scalar code and with
// the same bits (reference.cpp); its arrays are kept between calls, as a
// caller would keep them.
struct CollideYardstickWork {
    std::vector<int> cell_of;
    std::vector<unsigned> starts, sorted, candidates;
    std::vector<float> moved;
};
float collide_yardstick(TCVerlet* particles, unsigned count, const float* radii, CollideYardstickWork& work);

// The collisions beside the yardstick, on each path and on two threads (bench_collide.cpp): measures and prints.
void print_collide();

// The springs on two threads beside one (bench_threads.cpp): measures and prints.
void print_threads();
// Runs job(0) on the calling thread and job(1) on a helper thread kept
// between calls, and returns when both are done; stop_helper ends the helper.
void run_on_both(const std::function<void(unsigned)>& job);
void stop_helper();
// The rules inside the pass beside the caller's ways (bench_rules.cpp): measures and prints.
void print_rules();
// How long the schedules take to make, in passes (bench_schedule.cpp): measures and prints.
void print_schedules();

// The closing figures by name (ns a spring, ratios, sides), written as JSON
// with the machine, the build and the path taken (figures.cpp).
void record_figure(const std::string& name, double value);
bool write_figures(const char* path, const std::string& build, const std::string& path_taken);
