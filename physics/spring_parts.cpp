// spring_pass_part: one part of a pass, waiting for the others where it must.
#include "kernel.h"

unsigned spring_sync_words(unsigned parts) { return parts == 0 ? 0 : 16 * (parts + 1); }

void spring_sync_reset(unsigned* sync, unsigned parts) {
    for (unsigned i = 0; i < spring_sync_words(parts); ++i) sync[i] = 0;
}

namespace {

bool followed(const unsigned* schedule, unsigned spring_count) {
    return schedule[0] == kPartsSchedule && schedule[1] == spring_count;
}

const unsigned kRefused = kScheduleUnusable;  // spring_pass then applies the springs in order

}  // namespace

float run_parts_schedule(SpringGroupsFn, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                         const unsigned* schedule) {
    if (!followed(schedule, spring_count)) return spring_pass(particles, springs, spring_count, &kRefused);
    return spring_pass(particles, springs, spring_count, schedule + schedule[3]);
}

float spring_pass_part(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                       const unsigned* schedule, unsigned part, unsigned*) {
    if (part != 0 || spring_count == 0) return 0.0f;
    if (!followed(schedule, spring_count)) return spring_pass(particles, springs, spring_count, &kRefused);
    return spring_pass(particles, springs, spring_count, schedule + schedule[3]);
}
