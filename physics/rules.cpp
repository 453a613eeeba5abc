// Rules in a pass: each particle's planes, circles and holds (the reference
// in the header) applied by the entries of the schedule, right after the
// particle's last spring, on one thread and on parts alike. The planes and
// circles go to the path's code, several particles at a time; the portable
// code is here.
#include "kernel.h"

void rule_shapes_scalar(TCVerlet* particles, unsigned first, unsigned end, const TCRules& rules) {
    for (unsigned i = first; i < end; ++i) shapes_move(particles[i].x, particles[i].y, rules);
}

void rule_shapes_list_scalar(TCVerlet* particles, const unsigned* list, unsigned count, const TCRules& rules) {
    for (unsigned k = 0; k < count; ++k) shapes_move(particles[list[k]].x, particles[list[k]].y, rules);
}

RuleShapes rule_shapes_for(int path) {
    if (!physics_path_available(path)) return {rule_shapes_scalar, rule_shapes_list_scalar};
    switch (path) {
#if PHYSICS_X86
    case PHYSICS_PATH_SSE2: return {rule_shapes_sse2, rule_shapes_list_sse2};
    // Eight particles a register are as many as the loads keep up with:
    // AVX-512 would gain nothing over AVX2 here.
    case PHYSICS_PATH_AVX2:
    case PHYSICS_PATH_AVX512: return {rule_shapes_avx2, rule_shapes_list_avx2};
#endif
#if PHYSICS_WASM_SIMD
    case PHYSICS_PATH_SIMD128: return {rule_shapes_simd128, rule_shapes_list_simd128};
#endif
    default: return {rule_shapes_scalar, rule_shapes_list_scalar};
    }
}

namespace {

// Every hold in its order: each particle's holds come after its shapes and in
// the holds' order, whichever particles come between.
void put_holds(TCVerlet* particles, const TCRules& rules) {
    for (unsigned k = 0; k < rules.hold_count; ++k) hold_put(particles[rules.holds[k].particle], rules.holds[k]);
}

}  // namespace

bool holds_within(const TCRules& rules, unsigned particle_count) {
    for (unsigned k = 0; k < rules.hold_count; ++k)
        if (rules.holds[k].particle >= particle_count) return false;
    return true;
}

unsigned schedule_particle_count(const unsigned* schedule, unsigned spring_count, unsigned otherwise) {
    if (!schedule || spring_count == kScheduleUnusable) return otherwise;
    if (schedule[0] == kPartsSchedule) return schedule[1] == spring_count ? schedule[parts_particle_word(schedule[2])] : otherwise;
    return schedule[0] == spring_count ? schedule[plain_schedule_runs_words(spring_count)] : otherwise;
}

bool sort_holds(const TCRules& rules, uint64_t* sorted) {
    const unsigned n = rules.hold_count;
    if (n > kSortedHolds) return false;
    // Holds usually come in order, a pen's last: a few steps of insertion put that right.
    unsigned descents = 0;
    for (unsigned k = 0; k < n; ++k) {
        sorted[k] = uint64_t(rules.holds[k].particle) << 32 | k;
        descents += k > 0 && sorted[k] < sorted[k - 1];
    }
    if (descents > 4) {
        std::sort(sorted, sorted + n);
        return true;
    }
    for (unsigned k = 1; k < n; ++k)
        for (unsigned j = k; j > 0 && sorted[j] < sorted[j - 1]; --j) std::swap(sorted[j], sorted[j - 1]);
    return true;
}

RuleEntries rule_entries(const unsigned* schedule, unsigned spring_count, unsigned part, RuleShapes shapes,
                         const TCRules& rules, TCVerlet* particles, const uint64_t* sorted, bool holds) {
    const unsigned *at, *end;
    if (part == kMaxParts) {
        at = schedule + plain_schedule_runs_words(spring_count) + 2;
        end = at + at[-1];
    } else {
        const unsigned parts = schedule[2];
        at = schedule + schedule[parts_rules_word(parts, part)];
        end = schedule + schedule[parts_rules_word(parts, part + 1)];
    }
    return RuleEntries{schedule, at, end, shapes, rules, particles, sorted, sorted ? rules.hold_count : 0, holds};
}

namespace {

// Whether particle i is among an entry's (sorted) particles or ranges.
bool among(const unsigned* data, unsigned count, bool ranges, unsigned i) {
    if (!ranges) return std::binary_search(data, data + count, i);
    unsigned lo = 0, hi = count;  // the last range that starts at or before i
    while (hi - lo > 1) {
        const unsigned mid = (lo + hi) / 2;
        if (data[2 * mid] <= i) lo = mid; else hi = mid;
    }
    return data[2 * lo] <= i && i < data[2 * lo + 1];
}

}  // namespace

void RuleEntries::apply(const unsigned* position) {
    const unsigned offset = unsigned(position - schedule);
    while (at < end && at[0] == offset) {
        const bool ranges = (at[1] & kRulesRanges) != 0;
        const unsigned count = at[1] & ~kRulesRanges;
        const unsigned* data = at + 2;
        if (rules.plane_count != 0 || rules.circle_count != 0) {
            if (!ranges) shapes.list(particles, data, count, rules);
            for (unsigned k = 0; ranges && k < count; ++k) shapes.range(particles, data[2 * k], data[2 * k + 1], rules);
        }
        if (holds && rules.hold_count != 0) hold_in(data, count, ranges);
        at += 2 + (ranges ? 2 : 1) * size_t(count);
    }
}

// The holds on the entry's particles: for each particle, its holds in their order.
void RuleEntries::hold_in(const unsigned* data, unsigned count, bool ranges) {
    const unsigned first = data[0], last = ranges ? data[2 * count - 1] - 1 : data[count - 1];
    if (!sorted) {
        for (unsigned k = 0; k < rules.hold_count; ++k) {
            const unsigned i = rules.holds[k].particle;
            if (i - first <= last - first && among(data, count, ranges, i)) hold_put(particles[i], rules.holds[k]);
        }
        return;
    }
    for (const uint64_t* h = std::lower_bound(sorted, sorted + sorted_count, uint64_t(first) << 32);
         h < sorted + sorted_count && unsigned(*h >> 32) <= last; ++h) {
        const unsigned i = unsigned(*h >> 32);
        if (among(data, count, ranges, i)) hold_put(particles[i], rules.holds[unsigned(*h)]);
    }
}

namespace {

// Every particle's rules, in the order of the header's reference.
void apply_rules_everywhere(RuleShapes shapes, TCVerlet* particles, unsigned particle_count, const TCRules& rules) {
    if (rules.plane_count != 0 || rules.circle_count != 0) shapes.range(particles, 0, particle_count, rules);
    put_holds(particles, rules);
}

}  // namespace

float pass_rules(SpringGroupsFn groups, RuleShapes shapes, TCVerlet* particles, const TCSpring* springs,
                 unsigned spring_count, const unsigned* schedule, unsigned particle_count, const TCRules* rules) {
    const TCRules r = rules_or_none(rules);
    if (schedule_particle_count(schedule, spring_count, particle_count) != particle_count ||
        !holds_within(r, particle_count))
        return -1.0f;
    const bool plain = spring_count != 0 && schedule[0] == spring_count;
    const bool parts = spring_count != 0 && schedule[0] == kPartsSchedule && schedule[1] == spring_count;
    if (!plain && !parts) {  // no springs, or a schedule not followed: the rules after them
        const float largest = run_schedule(groups, particles, springs, spring_count, schedule);
        apply_rules_everywhere(shapes, particles, particle_count, r);
        return largest;
    }
    // Each particle's rules right after its last spring, while it is in the
    // cache still. On one thread holds that cannot be sorted are put after
    // the pass, at once, rather than looked for at every entry.
    uint64_t sorted[kSortedHolds];
    const bool fits = sort_holds(r, sorted);
    float largest;
    if (plain) {
        RuleEntries entries = rule_entries(schedule, spring_count, kMaxParts, shapes, r, particles,
                                           fits ? sorted : nullptr, fits);
        largest = run_schedule_rules(groups, particles, springs, spring_count, schedule, entries);
    } else {
        RuleEntries entries[kMaxParts];
        for (unsigned p = 0; p < schedule[2]; ++p)
            entries[p] = rule_entries(schedule, spring_count, p, shapes, r, particles, fits ? sorted : nullptr, fits);
        largest = run_parts_schedule(groups, particles, springs, spring_count, schedule, entries);
    }
    if (!fits) put_holds(particles, r);
    return largest;
}

float spring_pass_rules_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                             const unsigned* schedule, unsigned particle_count, const TCRules* rules) {
    return pass_rules(spring_groups_for(path), rule_shapes_for(path), particles, springs, spring_count, schedule,
                      particle_count, rules);
}

float spring_pass_rules(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                        const unsigned* schedule, unsigned particle_count, const TCRules* rules) {
    static const SpringGroupsFn groups = spring_groups_for(physics_selected_path());
    static const RuleShapes shapes = rule_shapes_for(physics_selected_path());
    return pass_rules(groups, shapes, particles, springs, spring_count, schedule, particle_count, rules);
}
