// spring_pass_part: one part of a pass on the caller's thread, waiting for
// the others only where its schedule says (schedule_parts.cpp says why that
// cannot hang), and spring_pass's way through a parts schedule on one thread.
//
// Each part owns a cache line of the sync memory: its progress, the steps it
// has published counted over every pass (modulo 2^32), which only it writes,
// with release, and the others read with acquire; and its own pass count.
// Part q's progress in pass n is n * (q's steps a pass) + the steps done, so
// no part needs a reset between passes.
#include "kernel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <thread>

namespace {

constexpr unsigned kLineWords = 64 / sizeof(unsigned);

static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned) &&
                  alignof(std::atomic<unsigned>) <= alignof(unsigned),
              "progress counters live in the caller's unsigned words");

// Part p's line: its progress, then its pass count. The caller's memory is
// rounded up to a line, for which spring_sync_words leaves room.
unsigned* line_of(unsigned* sync, unsigned p) {
    const uintptr_t at = (reinterpret_cast<uintptr_t>(sync) + 63) & ~uintptr_t(63);
    return reinterpret_cast<unsigned*>(at) + size_t(p) * kLineWords;
}

std::atomic<unsigned>& progress_of(unsigned* sync, unsigned p) {
    return *std::launder(reinterpret_cast<std::atomic<unsigned>*>(line_of(sync, p)));
}

// a is at or past b, counted modulo 2^32.
inline bool reached(unsigned a, unsigned b) { return int32_t(a - b) >= 0; }

#ifdef PENSHELL_PHYSICS_JITTER
// A test build stalls a part for a random while at every wait and publish,
// so that every interleaving the waits allow gets its chance.
void jitter() {
    thread_local uint32_t state = 0;
    if (state == 0) state = uint32_t(reinterpret_cast<uintptr_t>(&state)) | 1;
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    const uint32_t r = state % 64;
    if (r == 0) {
        std::this_thread::yield();
    } else if (r < 16) {
        for (uint32_t k = 0; k < r * 50; ++k) spin_pause();
    }
}
#else
inline void jitter() {}
#endif

// Spins on another part's progress this long before giving the core away:
// a neighbour on another core is usually a fraction of a row behind, but on
// a machine with fewer cores than parts it may not be running at all.
constexpr unsigned kSpins = 256;

// How a part waits and publishes when it has a thread of its own.
struct Threaded {
    unsigned* sync;
    const unsigned* steps;  // each part's steps a pass
    unsigned part, pass;
    unsigned seen[kMaxParts];  // progress already read of each part

    unsigned target(unsigned q, bool previous_pass, unsigned v) const {
        return (pass - (previous_pass ? 1 : 0)) * steps[q] + v;
    }
    bool wait(unsigned q, bool previous_pass, unsigned v) {
        const unsigned t = target(q, previous_pass, v);
        if (reached(seen[q], t)) return true;  // an earlier acquire already covers it
        jitter();
        const std::atomic<unsigned>& progress = progress_of(sync, q);
        unsigned now;
        for (unsigned spins = 0; !reached(now = progress.load(std::memory_order_acquire), t);)
            if (++spins < kSpins) {
                spin_pause();
            } else {
                std::this_thread::yield();
                spins = 0;
            }
        seen[q] = now;
        return true;
    }
    void publish(unsigned v) {
        progress_of(sync, part).store(pass * steps[part] + v, std::memory_order_release);
        jitter();
    }
};

// All parts on one thread: a part runs until it meets a wait not yet met.
struct OneThread {
    unsigned* done;  // steps each part has published this pass
    unsigned part;
    bool wait(unsigned q, bool previous_pass, unsigned v) { return previous_pass || done[q] >= v; }
    void publish(unsigned v) { done[part] = v; }
};

// Runs a part's stream from `at` until its end or a wait `sync` cannot meet;
// returns where it stopped.
template <class Sync, class Rules>
const unsigned* run_stream(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, const unsigned* at,
                           const unsigned* end, Sync& sync, float& largest, Rules& rules) {
    for (;; ) {
        rules.reach(at);
        if (at >= end) break;
        const unsigned header = at[0], value = header >> 2;
        switch (header & 3) {
        case kPartGroups: {
            const float e = groups(particles, springs, at + 1, value);
            if (e > largest) largest = e;
            at += 1 + size_t(value) * kGroupWords;
            break;
        }
        case kPartSequence: {
            const float e = apply_sequence(particles, springs, at + 1, value);
            if (e > largest) largest = e;
            at += 1 + size_t(value) * 3;
            break;
        }
        case kPartWait:
            if (!sync.wait(value >> 1, value & 1, at[1])) return at;
            at += 2;
            break;
        default:
            sync.publish(value);
            at += 1;
        }
    }
    return at;
}

bool followed(const unsigned* schedule, unsigned spring_count) {
    return schedule[0] == kPartsSchedule && schedule[1] == spring_count;
}

const unsigned kRefused = kScheduleUnusable;  // spring_pass then applies the springs in order

// One part's stream on its thread, with `rules` (NoRules or RuleEntries).
template <class Rules>
float run_part(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, const unsigned* schedule,
               unsigned part, unsigned* sync, Rules& rules) {
    const unsigned parts = schedule[2];
    unsigned& pass = line_of(sync, part)[1];
    Threaded t{sync, schedule + 3, part, pass, {}};
    for (unsigned q = 0; q < parts; ++q) t.seen[q] = t.target(q, true, 0);  // meets no wait
    const unsigned* start = schedule + schedule[3 + parts + part];
    const unsigned* end = schedule + schedule[3 + parts + part + 1];
    float largest = 0.0f;
    run_stream(groups, particles, springs, start, end, t, largest, rules);
    pass = t.pass + 1;
    return largest;
}

float pass_part(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                const unsigned* schedule, unsigned part, unsigned* sync) {
    if (spring_count == 0) return 0.0f;
    if (!followed(schedule, spring_count))
        return part == 0 ? spring_pass(particles, springs, spring_count, &kRefused) : 0.0f;
    if (part >= schedule[2]) return 0.0f;
    NoRules none;
    return run_part(groups, particles, springs, schedule, part, sync, none);
}

// Refused alike by every part before any reads or writes the particles or the sync memory.
float pass_part_rules(SpringGroupsFn groups, RuleShapes shapes, TCVerlet* particles, const TCSpring* springs,
                      unsigned spring_count, const unsigned* schedule, unsigned particle_count, unsigned part,
                      unsigned* sync, const TCRules* rules) {
    const TCRules r = rules_or_none(rules);
    if (schedule_particle_count(schedule, spring_count, particle_count) != particle_count ||
        !holds_within(r, particle_count))
        return -1.0f;
    if (!followed(schedule, spring_count))
        return part == 0 ? pass_rules(groups, shapes, particles, springs, spring_count, &kRefused, particle_count, rules)
                         : 0.0f;
    const unsigned parts = schedule[2];
    if (part >= parts) return 0.0f;
    uint64_t sorted[kSortedHolds];
    const bool fits = sort_holds(r, sorted);
    RuleEntries entries = rule_entries(schedule, spring_count, part, shapes, r, particles, fits ? sorted : nullptr, true);
    return run_part(groups, particles, springs, schedule, part, sync, entries);
}

}  // namespace

unsigned spring_sync_words(unsigned parts) {
    return parts == 0 || parts > kMaxParts ? 0 : (parts + 1) * kLineWords;
}

void spring_sync_reset(unsigned* sync, unsigned parts) {
    for (unsigned p = 0; p < parts && p < kMaxParts; ++p) {
        new (line_of(sync, p)) std::atomic<unsigned>(0u);
        line_of(sync, p)[1] = 0;
    }
}

float run_parts_schedule(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs,
                         unsigned spring_count, const unsigned* schedule, RuleEntries* rules) {
    if (!followed(schedule, spring_count)) return spring_pass(particles, springs, spring_count, &kRefused);
    const unsigned parts = schedule[2];
    unsigned done[kMaxParts] = {};
    const unsigned* at[kMaxParts];
    for (unsigned p = 0; p < parts; ++p) at[p] = schedule + schedule[3 + parts + p];
    float largest = 0.0f;
    NoRules none;
    // Each round every part runs as far as it can; the placing order
    // guarantees one of them gets further each round until all are done.
    for (bool moved = true; moved;) {
        moved = false;
        for (unsigned p = 0; p < parts; ++p) {
            OneThread one{done, p};
            const unsigned* end = schedule + schedule[3 + parts + p + 1];
            const unsigned* stop = rules ? run_stream(groups, particles, springs, at[p], end, one, largest, rules[p])
                                         : run_stream(groups, particles, springs, at[p], end, one, largest, none);
            moved = moved || stop != at[p];
            at[p] = stop;
        }
    }
    return largest;
}

float spring_pass_part_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                            const unsigned* schedule, unsigned part, unsigned* sync) {
    return pass_part(spring_groups_for(path), particles, springs, spring_count, schedule, part, sync);
}

float spring_pass_part(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                       const unsigned* schedule, unsigned part, unsigned* sync) {
    static const SpringGroupsFn selected = spring_groups_for(physics_selected_path());
    return pass_part(selected, particles, springs, spring_count, schedule, part, sync);
}

float spring_pass_part_rules_path(int path, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                                  const unsigned* schedule, unsigned particle_count, unsigned part, unsigned* sync,
                                  const TCRules* rules) {
    return pass_part_rules(spring_groups_for(path), rule_shapes_for(path), particles, springs, spring_count, schedule,
                           particle_count, part, sync, rules);
}

float spring_pass_part_rules(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                             const unsigned* schedule, unsigned particle_count, unsigned part, unsigned* sync,
                             const TCRules* rules) {
    static const SpringGroupsFn groups = spring_groups_for(physics_selected_path());
    static const RuleShapes shapes = rule_shapes_for(physics_selected_path());
    return pass_part_rules(groups, shapes, particles, springs, spring_count, schedule, particle_count, part, sync,
                           rules);
}
