// particle_collide_part: one part of a collision call on the caller's thread.
// The parts split every phase of the grid (collide.h) into ranges and meet
// between phases: after the stats, after the keys (each part then counts
// and fills its own cells, having counted, in the same pass, the particles
// of the cells before its own: where its cells start), after the scatter,
// and last after every part has written its positions, so that a part that
// returns and enters the next call cannot overwrite the work memory another
// still reads. Every meeting is a chance, on a machine busy with other work,
// that a part waits for another that has lost its core: they are kept few.
//
// Each part owns a cache line of the sync memory: the meetings it has
// arrived at, counted over every call (modulo 2^32), which only it writes,
// with release, and the others read with acquire; then its stats of the
// particles, which the others read after the first meeting.
#include "kernel.h"
#include "collide.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>

namespace {

constexpr unsigned kLineWords = 64 / sizeof(unsigned);
constexpr unsigned kMeetings = 4;
constexpr unsigned kStatsWord = 2;  // after the meeting count and spring_sync_reset's second word

static_assert(sizeof(CollideStats) <= (kLineWords - kStatsWord) * sizeof(unsigned), "the stats fit a part's line");

// Part p's line; the caller's memory is rounded up to a line, as for spring parts.
unsigned* line_of(unsigned* sync, unsigned p) {
    const uintptr_t at = (reinterpret_cast<uintptr_t>(sync) + 63) & ~uintptr_t(63);
    return reinterpret_cast<unsigned*>(at) + size_t(p) * kLineWords;
}

std::atomic<unsigned>& arrivals_of(unsigned* sync, unsigned p) {
    return *std::launder(reinterpret_cast<std::atomic<unsigned>*>(line_of(sync, p)));
}

// a is at or past b, counted modulo 2^32.
bool reached(unsigned a, unsigned b) { return int32_t(a - b) >= 0; }

#ifdef PENSHELL_PHYSICS_JITTER
// A test build stalls a part for a random while before and after every
// meeting, so that a phase a meeting fails to close is seen overlapping.
void stall() {
    thread_local uint32_t state = 0;
    if (state == 0) state = uint32_t(reinterpret_cast<uintptr_t>(&state)) | 1;
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    const uint32_t r = state % 32;
    if (r == 0) {
        std::this_thread::yield();
    } else if (r < 16) {
        for (uint32_t k = 0; k < r * 200; ++k) spin_pause();
    }
}
#else
inline void stall() {}
#endif

// Spins this long on another part before giving the core away: on a machine
// with fewer cores than parts the one awaited may not be running at all. A
// phase lasts a fraction of a millisecond, and on a machine busy with other
// work a yield gives the core away for a timeslice of milliseconds: seen
// often with 256 spins (a part finished its scatter at 0.5 ms and saw the
// other's arrival at 0.7 ms only at 2.0 ms), so short waits stay on the core.
constexpr unsigned kSpins = 4096;

struct Meetings {
    unsigned* sync;
    unsigned part, parts;
    unsigned held;  // meetings arrived at, this part's count

    // Arrives at meeting `target` (skipping any before it) and waits for every part there.
    void meet(unsigned target) {
        stall();
        held = target;
        arrivals_of(sync, part).store(held, std::memory_order_release);
        for (unsigned q = 0; q < parts; ++q) {
            if (q == part) continue;
            const std::atomic<unsigned>& other = arrivals_of(sync, q);
            for (unsigned spins = 0; !reached(other.load(std::memory_order_acquire), held);)
                if (++spins < kSpins) {
                    spin_pause();
                } else {
                    std::this_thread::yield();
                    spins = 0;
                }
        }
        stall();
    }
    void next() { meet(held + 1); }
};

unsigned share(unsigned count, unsigned part, unsigned parts) { return unsigned(uint64_t(count) * part / parts); }

void tell_stats(unsigned* sync, unsigned part, const CollideStats& s) { std::memcpy(line_of(sync, part) + kStatsWord, &s, sizeof s); }

CollideStats stats_told(unsigned* sync, unsigned part) {
    CollideStats s;
    std::memcpy(&s, line_of(sync, part) + kStatsWord, sizeof s);
    return s;
}

float collide_part(CollideRangeFn range, TCVerlet* particles, unsigned n, const float* radii, unsigned* work,
                   unsigned part, unsigned parts, unsigned* sync) {
    if (parts == 0 || parts > kMaxParts || !sync) return -1.0f;
    if (n < 2) return 0.0f;
    if (!radii || !work || particle_collide_words(n) == 0) return -1.0f;
    if (part >= parts) return 0.0f;
    Meetings m{sync, part, parts, arrivals_of(sync, part).load(std::memory_order_relaxed)};
    const unsigned last = m.held + kMeetings;
    tell_stats(sync, part, collide_stats(particles, radii, share(n, part, parts), share(n, part + 1, parts)));
    m.next();
    CollideStats all = stats_told(sync, 0);
    for (unsigned q = 1; q < parts; ++q) all = collide_merge(all, stats_told(sync, q));
    if (all.count < 2) {
        m.meet(last);
        return 0.0f;
    }
    CollideGrid g = collide_plan(work, n, all);
    collide_keys(g, particles, radii, share(n, part, parts), share(n, part + 1, parts));
    m.next();
    const unsigned first_cell = share(g.cells, part, parts), end_cell = share(g.cells, part + 1, parts);
    const unsigned offset = collide_count(g, n, first_cell, end_cell);
    collide_scatter(g, particles, radii, n, first_cell, end_cell, offset);
    // Every particle copied: from here positions may change.
    m.next();
    const float largest = range(g, particles, share(g.count, part, parts), share(g.count, part + 1, parts));
    m.meet(last);
    return largest;
}

}  // namespace

float particle_collide_part(TCVerlet* particles, unsigned particle_count, const float* radii, unsigned* work,
                            unsigned part, unsigned parts, unsigned* sync) {
    static const CollideRangeFn selected = collide_range_for(physics_selected_path());
    return collide_part(selected, particles, particle_count, radii, work, part, parts, sync);
}

float particle_collide_part_path(int path, TCVerlet* particles, unsigned particle_count, const float* radii,
                                 unsigned* work, unsigned part, unsigned parts, unsigned* sync) {
    return collide_part(collide_range_for(path), particles, particle_count, radii, work, part, parts, sync);
}
