// Rules in a pass on one thread: spring_pass, then every particle's planes,
// circles and holds (the reference in the header). The planes and circles go
// to the path's code, several particles at a time; the portable code is here.
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

namespace {

// Every particle's rules, in the order of the header's reference.
void apply_rules_everywhere(RuleShapes shapes, TCVerlet* particles, unsigned particle_count, const TCRules& rules) {
    if (rules.plane_count != 0 || rules.circle_count != 0) shapes.range(particles, 0, particle_count, rules);
    // Each particle's holds come after its shapes and in the holds' order: one pass over them keeps both.
    for (unsigned k = 0; k < rules.hold_count; ++k) hold_put(particles[rules.holds[k].particle], rules.holds[k]);
}

}  // namespace

float pass_rules(SpringGroupsFn groups, RuleShapes shapes, TCVerlet* particles, const TCSpring* springs,
                 unsigned spring_count, const unsigned* schedule, unsigned particle_count, const TCRules* rules) {
    const TCRules r = rules_or_none(rules);
    if (schedule_particle_count(schedule, spring_count, particle_count) != particle_count ||
        !holds_within(r, particle_count))
        return -1.0f;
    const float largest = run_schedule(groups, particles, springs, spring_count, schedule);
    apply_rules_everywhere(shapes, particles, particle_count, r);
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
