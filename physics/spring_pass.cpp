// spring_pass: one pass over the springs through their schedule. Sequences
// run as plain code on every path; groups go to the path's group code.
#include "kernel.h"

namespace {

inline float apply(TCVerlet* particles, unsigned a, unsigned b, float rest_length) {
    TCVerlet& pa = particles[a];
    TCVerlet& pb = particles[b];
    return spring_move(pa.x, pa.y, pb.x, pb.y, rest_length);
}

// One end of the spring applied last: its particle and where it left it.
struct Carried {
    unsigned index;
    float x, y;
};

// The position of particle i: from the registers when the spring before
// moved it, else from memory. In a chain (a rope) every spring starts where
// the one before ended; taking that position from the registers keeps the
// wait for a store to reach the next load off the chain's critical path.
inline void fetch(const TCVerlet* particles, unsigned i, const Carried& c0, const Carried& c1, float& x, float& y) {
    if (i == c1.index) {
        x = c1.x, y = c1.y;
    } else if (i == c0.index) {
        x = c0.x, y = c0.y;
    } else {
        x = particles[i].x, y = particles[i].y;
    }
}

}  // namespace

// Each sequence entry is (spring, a, b).
float apply_sequence(TCVerlet* particles, const TCSpring* springs, const unsigned* run, unsigned count) {
    constexpr unsigned kNobody = 0xFFFFFFFFu;  // would need 2^32 particles, more than a count can say
    Carried last_a{kNobody, 0, 0}, last_b{kNobody, 0, 0};
    float largest = 0.0f;
    for (unsigned k = 0; k < count; ++k, run += 3) {
        const unsigned a = run[1], b = run[2];
        float ax, ay, bx, by;
        fetch(particles, a, last_a, last_b, ax, ay);
        fetch(particles, b, last_a, last_b, bx, by);
        keep_largest(largest, spring_move(ax, ay, bx, by, springs[run[0]].rest_length));
        particles[a].x = ax, particles[a].y = ay;
        particles[b].x = bx, particles[b].y = by;
        // b is written last: when a == b, b's values are the ones in memory.
        last_a = Carried{a, ax, ay};
        last_b = Carried{b, bx, by};
    }
    return largest;
}

namespace {

// The portable group code: one spring after another. The springs of a group
// share no particle, so the processor may overlap them.
float spring_groups_scalar(TCVerlet* particles, const TCSpring* springs, const unsigned* groups,
                           unsigned count) {
    float largest = 0.0f;
    for (unsigned k = 0; k < count; ++k, groups += kGroupWords)
        for (unsigned l = 0; l < kGroupWidth; ++l) {
            float* a = pair_at(particles, groups[kGroupWidth + l]);
            float* b = pair_at(particles, groups[2 * kGroupWidth + l]);
            keep_largest(largest, spring_move<approx_len_unbranched>(a[0], a[1], b[0], b[1],
                                                                     rest_at(springs, groups[l])));
        }
    return largest;
}

// A schedule made for another spring count, or refused, is not followed:
// the springs are applied in the given order, which is always right.
float apply_in_order(TCVerlet* particles, const TCSpring* springs, unsigned spring_count) {
    float largest = 0.0f;
    for (unsigned i = 0; i < spring_count; ++i)
        keep_largest(largest, apply(particles, springs[i].a, springs[i].b, springs[i].rest_length));
    return largest;
}

}  // namespace

namespace {

// The runs of a plain schedule it follows, the rules' entries applied where
// they fall: a run is cut there, between two groups or two springs.
template <class Rules>
float run_runs(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
               const unsigned* schedule, Rules& rules) {
    float largest = 0.0f;
    const unsigned* run = schedule + 1;
    rules.reach(run);
    for (unsigned done = 0; done < spring_count;) {
        const unsigned kind = run[0] & 1, count = run[0] >> 1;
        const size_t width = kind == kRunGroups ? kGroupWords : 3;
        const unsigned* item = run + 1;
        const unsigned* const end = item + count * width;
        while (item < end) {
            const unsigned* const stop = rules.until(end);
            const unsigned items = unsigned(size_t(stop - item) / width);
            const float e = kind == kRunGroups ? groups(particles, springs, item, items)
                                               : apply_sequence(particles, springs, item, items);
            if (e > largest) largest = e;
            item = stop;
            rules.reach(item);
        }
        done += kind == kRunGroups ? count * kGroupWidth : count;
        run = end;
    }
    return largest;
}

}  // namespace

float run_schedule(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                   const unsigned* schedule) {
    if (spring_count == 0) return 0.0f;  // the schedule need not be read
    if (schedule[0] == kPartsSchedule) return run_parts_schedule(groups, particles, springs, spring_count, schedule);
    if (schedule[0] != spring_count) return apply_in_order(particles, springs, spring_count);
    NoRules none;
    return run_runs(groups, particles, springs, spring_count, schedule, none);
}

float run_schedule_rules(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                         const unsigned* schedule, RuleEntries& rules) {
    return run_runs(groups, particles, springs, spring_count, schedule, rules);
}

namespace {

SpringGroupsFn groups_fn(int path) {
    switch (path) {
#if PHYSICS_X86
    case PHYSICS_PATH_SSE2: return spring_groups_sse2;
    case PHYSICS_PATH_AVX2: return spring_groups_avx2;
    case PHYSICS_PATH_AVX512: return spring_groups_avx512;
#endif
#if PHYSICS_WASM_SIMD
    case PHYSICS_PATH_SIMD128: return spring_groups_simd128;
#endif
    default: return spring_groups_scalar;
    }
}

}  // namespace

float spring_pass_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                       const unsigned* schedule) {
    const SpringGroupsFn fn = physics_path_available(path) ? groups_fn(path) : spring_groups_scalar;
    return run_schedule(fn, particles, springs, spring_count, schedule);
}

float spring_pass(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                  const unsigned* schedule) {
    // Chosen once; function-local statics are initialised thread-safely.
    static const SpringGroupsFn selected = groups_fn(physics_selected_path());
    return run_schedule(selected, particles, springs, spring_count, schedule);
}

SpringGroupsFn spring_groups_for(int path) {
    return physics_path_available(path) ? groups_fn(path) : spring_groups_scalar;
}
