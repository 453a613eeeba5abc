// The springs divided among parts that run at the same time.
#include "kernel.h"

#include <climits>
#include <cstdint>

unsigned spring_schedule_parts_words(unsigned spring_count, unsigned particle_count, unsigned parts) {
    if (parts == 0 || parts > 64) return 0;
    const unsigned whole = spring_schedule_words(spring_count, particle_count);
    const uint64_t words = whole == 0 ? 0 : uint64_t(whole) + 4 + parts;
    return words > UINT_MAX ? 0 : unsigned(words);
}

// For now part 0 holds the whole schedule and the others are empty.
bool spring_schedule_parts(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                           unsigned parts, unsigned* schedule) {
    if (spring_schedule_parts_words(spring_count, particle_count, parts) == 0) return false;
    schedule[0] = kScheduleUnusable;
    const unsigned start = 4 + parts;
    if (!spring_schedule(springs, spring_count, particle_count, schedule + start)) return false;
    schedule[1] = spring_count;
    schedule[2] = parts;
    for (unsigned p = 0; p <= parts; ++p) schedule[3 + p] = start;
    schedule[0] = kPartsSchedule;
    return true;
}
