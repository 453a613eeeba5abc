// penshell_bench in WebAssembly, run under node: Google Benchmark does not
// build there, so this times its cases itself. Every case runs once a round,
// the rounds interleave all of them, and each keeps its fastest round, the one
// least disturbed by the rest of the machine. Same scenes and yardsticks as
// the native suite; ends with the ratios that matter there.
//   node --no-experimental-fetch penshell_bench_web.js [--figures_out=FILE] [rounds [only cases whose name has this]]
// FILE gets every case's figure and the ratios as JSON.
#include "bench.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const unsigned kClothSide = 256, kRopeSprings = 300, kPasses = 16;
const unsigned kStepParticles = 4096, kStepRepeats = 200, kRopeRepeats = 50;
const float kDt = 1.0f / 60.0f;

// Results land here so that no computation can be dropped as unused.
volatile float g_sink;

// One thing to time: `run` does the work of one round on `work`, which
// `start` is copied into first (not timed), and counts `items` (springs or
// particles).
struct Case {
    std::string name;
    const std::vector<TCVerlet>* start;
    double items;
    void (*run)(TCVerlet* work, int arg);
    int arg;
    double best;  // seconds an item, fastest round
};

const SpringSet& cloth() {
    static const SpringSet set = make_springs(kClothSide, 0);
    return set;
}
const SpringSet& rope() {
    static const SpringSet set = make_springs(1, kRopeSprings);
    return set;
}
const SpringSet& spring_set(int arg) { return arg / 1000 == 0 ? cloth() : rope(); }
int repeats(int arg) { return arg / 1000 == 0 ? 1 : kRopeRepeats; }

const std::vector<TCVerlet>& step_scene() {
    static std::vector<TCVerlet> v;
    if (v.empty()) {
        v.resize(kStepParticles);
        fill_scene(v);
    }
    return v;
}

// What a caller writes without batches: spring_force on every spring in order.
void loop_passes(TCVerlet* p, int arg) {
    const SpringSet& set = spring_set(arg);
    float largest = 0.0f;
    for (int r = 0; r < repeats(arg); ++r)
        for (unsigned pass = 0; pass < kPasses; ++pass)
            for (const TCSpring& s : set.springs) {
                const float e = std::fabs(spring_force(p[s.a], p[s.b], s.rest_length));
                if (e > largest) largest = e;
            }
    g_sink = largest;
}

// spring_pass itself (arg % 1000 == 999) or one path.
void pass_passes(TCVerlet* p, int arg) {
    const SpringSet& set = spring_set(arg);
    const int path = arg % 1000;
    const unsigned n = unsigned(set.springs.size());
    float e = 0.0f;
    for (int r = 0; r < repeats(arg); ++r)
        for (unsigned pass = 0; pass < kPasses; ++pass)
            e = path == 999 ? spring_pass(p, set.springs.data(), n, set.schedule.data())
                            : spring_pass_path(path, p, set.springs.data(), n, set.schedule.data());
    g_sink = e;
}

// spring_pass_rules with the bench's rules (bench.h) on the cloth.
void rules_passes(TCVerlet* p, int) {
    static RuleScene scene;
    if (scene.holds.empty()) make_rule_scene(cloth().start, kClothSide, scene);
    const unsigned n = unsigned(cloth().springs.size()), count = unsigned(cloth().start.size());
    float e = 0.0f;
    for (unsigned pass = 0; pass < kPasses; ++pass)
        e = spring_pass_rules(p, cloth().springs.data(), n, cloth().schedule.data(), count, &scene.rules);
    g_sink = e;
}

// The same bytes moved in the pass's order, no arithmetic.
void floor_passes(TCVerlet* p, int arg) {
    const SpringSet& set = spring_set(arg);
    for (int r = 0; r < repeats(arg); ++r)
        for (unsigned pass = 0; pass < kPasses; ++pass)
            spring_floor_pass(p, set.springs.data(), set.order.data(), unsigned(set.springs.size()));
}

// update_physics (arg -1), one path, or the plain loop (arg -2), in cache.
void steps(TCVerlet* p, int arg) {
    for (unsigned r = 0; r < kStepRepeats; ++r) {
        if (arg == -1)
            update_physics(kDt, kDt, p, kStepParticles);
        else if (arg == -2)
            update_reference(kDt, kDt, p, kStepParticles);
        else
            update_physics_path(arg, kDt, kDt, p, kStepParticles);
    }
    g_sink = p[kStepParticles / 2].x;
}

void stream_steps(TCVerlet* p, int) {
    for (unsigned r = 0; r < kStepRepeats; ++r) stream_pass(p, kStepParticles);
}

// The collisions' scenes (sets.cpp), their radii and work memory.
struct Collisions {
    CollideScene scene;
    std::vector<unsigned> work;
    CollideYardstickWork yardstick;
};
Collisions& collisions(int which) {
    static Collisions c[kCollideScenes];
    if (c[which].work.empty()) {
        c[which].scene = make_collide_scene(which);
        c[which].work.resize(particle_collide_words(unsigned(c[which].scene.start.size())));
    }
    return c[which];
}

// One collision call on scene arg / 100: the yardstick (arg % 100 == 99),
// particle_collide (98) or one path.
void collide_once(TCVerlet* p, int arg) {
    Collisions& c = collisions(arg / 100);
    const unsigned n = unsigned(c.scene.start.size());
    const int how = arg % 100;
    g_sink = how == 99   ? collide_yardstick(p, n, c.scene.radii.data(), c.yardstick)
             : how == 98 ? particle_collide(p, n, c.scene.radii.data(), c.work.data())
                         : particle_collide_path(how, p, n, c.scene.radii.data(), c.work.data());
}

std::vector<Case> make_cases() {
    std::vector<Case> cases;
    const double cloth_items = double(kPasses) * cloth().springs.size();
    const double rope_items = double(kPasses) * kRopeRepeats * rope().springs.size();
    auto add = [&](const std::string& name, const std::vector<TCVerlet>* start, double items,
                   void (*run)(TCVerlet*, int), int arg) { cases.push_back(Case{name, start, items, run, arg, 0}); };
    add("cloth loop", &cloth().start, cloth_items, loop_passes, 0);
    add("cloth pass", &cloth().start, cloth_items, pass_passes, 999);
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        if (physics_path_available(path))
            add(std::string("cloth ") + physics_path_name(path), &cloth().start, cloth_items, pass_passes, path);
    add("cloth floor", &cloth().start, cloth_items, floor_passes, 0);
    add("cloth rules", &cloth().start, cloth_items, rules_passes, 0);
    add("rope loop", &rope().start, rope_items, loop_passes, 1000);
    add("rope pass", &rope().start, rope_items, pass_passes, 1999);
    add("rope floor", &rope().start, rope_items, floor_passes, 1000);
    const double step_items = double(kStepRepeats) * kStepParticles;
    add("step update_physics", &step_scene(), step_items, steps, -1);
    add("step plain loop", &step_scene(), step_items, steps, -2);
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        if (physics_path_available(path))
            add(std::string("step ") + physics_path_name(path), &step_scene(), step_items, steps, path);
    add("step stream", &step_scene(), step_items, stream_steps, 0);
    for (int k = 0; k < kCollideScenes; ++k) {
        const Collisions& c = collisions(k);
        const std::string name = std::string("collide ") + c.scene.name + " ";
        const double items = double(c.scene.start.size());
        add(name + "yardstick", &c.scene.start, items, collide_once, 100 * k + 99);
        add(name + "particle_collide", &c.scene.start, items, collide_once, 100 * k + 98);
        for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
            if (physics_path_available(path))
                add(name + physics_path_name(path), &c.scene.start, items, collide_once, 100 * k + path);
    }
    return cases;
}

void run_rounds(std::vector<Case>& cases, int rounds) {
    std::vector<TCVerlet> work;
    // Round 0 is not counted: the engine first runs code compiled in haste
    // and swaps in its optimised code once a function has been busy.
    for (int round = 0; round <= rounds; ++round)
        for (Case& c : cases) {
            work = *c.start;
            const auto t0 = std::chrono::steady_clock::now();
            c.run(work.data(), c.arg);
            const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
            const double per_item = t.count() / c.items;
            if (round > 0 && (c.best == 0 || per_item < c.best)) c.best = per_item;
        }
}

double ns(const std::vector<Case>& cases, const std::string& name) {
    for (const Case& c : cases)
        if (c.name == name) return c.best * 1e9;
    return 0;
}

// How many times faster `a` ran than `b`; a target of 0 prints the ratio alone.
void print_ratio(const std::vector<Case>& cases, const std::string& what, const std::string& a, const std::string& b,
                 double target = 0) {
    const double r = ns(cases, a) > 0 ? ns(cases, b) / ns(cases, a) : 0;
    if (r > 0) record_figure("ratio: " + what.substr(0, what.find_last_not_of(':') + 1), r);
    if (target <= 0)
        std::printf("%-58s %6.2fx\n", what.c_str(), r);
    else
        std::printf("%-58s %6.2fx  (target >= %.2fx: %s)\n", what.c_str(), r, target, r >= target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string flag = "--figures_out=";
    const char* figures_out = nullptr;
    if (argc > 1 && std::string(argv[1]).compare(0, flag.size(), flag) == 0) {
        figures_out = argv[1] + flag.size();
        --argc, ++argv;
    }
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    std::vector<Case> cases = make_cases();
    if (argc > 2)  // for profiling one case
        for (size_t i = cases.size(); i-- > 0;)
            if (cases[i].name.find(argv[2]) == std::string::npos) cases.erase(cases.begin() + long(i));
#if defined(__wasm_simd128__)
    const char* build = "WebAssembly with SIMD128";
#else
    const char* build = "portable WebAssembly (no SIMD128)";
#endif
    std::printf("kernel in %s; update_physics and spring_pass take path %s\n", build,
                physics_path_name(physics_selected_path()));
    std::printf("%d rounds, every case once a round, fastest round of each\n", rounds);
    run_rounds(cases, rounds);
    for (const Case& c : cases) {
        const char* item = c.name.compare(0, 5, "step ") == 0 || c.name.compare(0, 8, "collide ") == 0 ? "particle" : "spring";
        std::printf("  %-24s %8.3f ns a %s\n", c.name.c_str(), c.best * 1e9, item);
        record_figure(std::string("ns a ") + item + ": " + c.name, c.best * 1e9);
    }

    std::printf("\nsprings, %u passes, ns a spring:\n", kPasses);
    std::printf("  cloth %ux%u, %zu springs: loop %.2f, spring_pass %.2f, floor %.2f\n", kClothSide, kClothSide,
                cloth().springs.size(), ns(cases, "cloth loop"), ns(cases, "cloth pass"), ns(cases, "cloth floor"));
    std::printf("  rope, %u springs in a chain: loop %.2f, spring_pass %.2f, floor %.2f\n", kRopeSprings,
                ns(cases, "rope loop"), ns(cases, "rope pass"), ns(cases, "rope floor"));
#if defined(__wasm_simd128__)
    const double spring_target = 3.0, step_target = 2.0;
#else
    const double spring_target = 0, step_target = 0;  // the portable build has no vector path to meet them with
#endif
    print_ratio(cases, "spring_pass vs spring_force loop, cloth 256x256:", "cloth pass", "cloth loop", spring_target);
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        if (physics_path_available(path)) {
            const std::string name = physics_path_name(path);
            print_ratio(cases, name + " path vs spring_force loop, cloth 256x256:", "cloth " + name, "cloth loop");
        }
    print_ratio(cases, "spring_pass vs spring_force loop, rope of 300:", "rope pass", "rope loop");
    print_ratio(cases, "spring_pass vs floor (at most 1x), cloth 256x256:", "cloth pass", "cloth floor");
    const double rules_cost = ns(cases, "cloth pass") > 0 ? ns(cases, "cloth rules") / ns(cases, "cloth pass") : 0;
    record_figure("ratio: spring_pass_rules' time over spring_pass, cloth 256x256", rules_cost);
    std::printf("%-58s %6.2fx  (target <= 1.20x: %s)\n", "spring_pass_rules' time over spring_pass, cloth 256x256:",
                rules_cost, rules_cost <= 1.2 ? "met" : "MISSED");
    print_ratio(cases, "update_physics vs plain loop, 4096 particles:", "step update_physics", "step plain loop",
                step_target);
    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path)
        if (physics_path_available(path)) {
            const std::string name = physics_path_name(path);
            print_ratio(cases, name + " path vs plain loop, 4096 particles:", "step " + name, "step plain loop");
        }
    print_ratio(cases, "update_physics vs streaming pass (at most 1x), 4096:", "step update_physics", "step stream");
    for (int k = 0; k < kCollideScenes; ++k) {
        const std::string scene = collisions(k).scene.name;
        print_ratio(cases, "particle_collide vs yardstick, " + scene + ":", "collide " + scene + " particle_collide",
                    "collide " + scene + " yardstick");
    }
    if (figures_out && !write_figures(figures_out, build, physics_path_name(physics_selected_path()))) return 1;
    return 0;
}
