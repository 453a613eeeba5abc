// The spring schedule: the caller's springs arranged into groups that share no
// particle, so a pass may apply a group at once and still give the bits of the
// caller's order. The layout is described in kernel.h.
//
// Two springs that share a particle must keep their order; springs that share
// none may be swapped freely. Each spring therefore waits for at most two
// others, the previous springs on its particles a and b. The schedule is a
// list schedule over that graph: springs become ready when both are placed,
// wait in a first-in first-out queue, and leave it kGroupWidth at a time. The
// queue keeps the order of readiness, so a spring is placed many groups after
// the ones it waits for when the queue is long (a wide cloth), and the pass's
// loads do not chase its own recent stores. While fewer than kGroupWidth are
// ready (a rope, the ends of a cloth) springs go one at a time into a
// sequence, applied one after another as plain code.
#include "kernel.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr unsigned kNone = 0xFFFFFFFFu;

// Groups hold record offsets, three times the index, in 32 bits.
constexpr uint64_t kMaxVectorIndex = uint64_t(UINT32_MAX) / 3;

// Runs alternate between groups and sequences and a group run holds at least
// one group: at most 2 * (spring_count / kGroupWidth) + 1 runs.
uint64_t words_needed(uint64_t spring_count) {
    return 1 + 3 * spring_count + 2 * (spring_count / kGroupWidth) + 1;
}

// Work memory of the scheduler, freed when it returns.
struct Graph {
    unsigned* next;          // two per spring: the springs that wait for it (kNone: none)
    unsigned char* waiting;  // per spring: how many placed springs it still waits for
    unsigned* queue;         // ready springs, in the order they became ready
};

bool allocate(Graph& g, unsigned spring_count) {
    const size_t n = spring_count ? spring_count : 1;
    g.next = static_cast<unsigned*>(std::malloc(2 * n * sizeof(unsigned)));
    g.waiting = static_cast<unsigned char*>(std::malloc(n));
    g.queue = static_cast<unsigned*>(std::malloc(n * sizeof(unsigned)));
    return g.next && g.waiting && g.queue;
}

void release(Graph& g) {
    std::free(g.next);
    std::free(g.waiting);
    std::free(g.queue);
}

// Links every spring to the next spring on each of its particles. Sorting
// (particle, spring) pairs finds them without memory for every particle.
bool link_springs(const TCSpring* springs, unsigned spring_count, Graph& g) {
    uint64_t* ends = static_cast<uint64_t*>(std::malloc((2 * size_t(spring_count) + 1) * sizeof(uint64_t)));
    if (!ends) return false;
    size_t n = 0;
    for (unsigned i = 0; i < spring_count; ++i) {
        ends[n++] = uint64_t(springs[i].a) << 32 | i;
        if (springs[i].b != springs[i].a) ends[n++] = uint64_t(springs[i].b) << 32 | i;
    }
    std::sort(ends, ends + n);
    std::fill(g.next, g.next + 2 * size_t(spring_count), kNone);
    std::fill(g.waiting, g.waiting + spring_count, 0);
    for (size_t k = 0; k + 1 < n; ++k) {
        if (ends[k] >> 32 != ends[k + 1] >> 32) continue;
        const unsigned from = unsigned(ends[k]), to = unsigned(ends[k + 1]);
        // The same two particles twice in a row are one wait, not two.
        unsigned* slot = g.next + 2 * size_t(from);
        if (slot[0] == to) continue;
        slot[slot[0] == kNone ? 0 : 1] = to;
        ++g.waiting[to];
    }
    std::free(ends);
    return true;
}

// Writes the schedule's runs, placing every spring once.
struct Writer {
    unsigned* out;
    size_t pos;
    size_t run_header;  // where the open run's header is
    unsigned run_kind, run_count;
};

void open_run(Writer& w, unsigned kind) {
    if (w.run_count != 0 && w.run_kind == kind) return;
    if (w.run_count != 0) w.out[w.run_header] = w.run_kind | w.run_count << 1;
    w.run_header = w.pos++;
    w.run_kind = kind;
    w.run_count = 0;
}

void close_run(Writer& w) {
    if (w.run_count != 0) w.out[w.run_header] = w.run_kind | w.run_count << 1;
}

// Queues the springs that waited only for `placed`.
void release_next(Graph& g, unsigned placed, unsigned& tail) {
    for (int k = 0; k < 2; ++k) {
        const unsigned j = g.next[2 * size_t(placed) + k];
        if (j != kNone && --g.waiting[j] == 0) g.queue[tail++] = j;
    }
}

void place(const TCSpring* springs, unsigned spring_count, bool vectors, Graph& g, unsigned* schedule) {
    unsigned head = 0, tail = 0;
    for (unsigned i = 0; i < spring_count; ++i)
        if (g.waiting[i] == 0) g.queue[tail++] = i;
    Writer w{schedule, 1, 0, kRunSequence, 0};
    while (head < tail) {
        if (vectors && tail - head >= kGroupWidth) {
            // A group: its springs are all ready, so none shares a particle with
            // another (the later of two would wait for the earlier). The springs
            // they release wait for the next group at the earliest.
            open_run(w, kRunGroups);
            unsigned* group = w.out + w.pos;
            for (unsigned l = 0; l < kGroupWidth; ++l) {
                const unsigned i = g.queue[head + l];
                group[l] = record_offset(i);
                group[kGroupWidth + l] = record_offset(springs[i].a);
                group[2 * kGroupWidth + l] = record_offset(springs[i].b);
            }
            for (unsigned l = 0; l < kGroupWidth; ++l) release_next(g, g.queue[head + l], tail);
            head += kGroupWidth;
            w.pos += kGroupWords;
        } else {
            // One spring of a sequence: what it releases may follow it at once.
            open_run(w, kRunSequence);
            const unsigned i = g.queue[head++];
            w.out[w.pos++] = i;
            w.out[w.pos++] = springs[i].a;
            w.out[w.pos++] = springs[i].b;
            release_next(g, i, tail);
        }
        ++w.run_count;
    }
    close_run(w);
}

}  // namespace

unsigned spring_schedule_words(unsigned spring_count, unsigned) {
    const uint64_t words = words_needed(spring_count);
    return words > UINT_MAX ? 0 : unsigned(words);  // 0: too many springs for one schedule
}

bool spring_schedule(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                     unsigned* schedule) {
    if (spring_schedule_words(spring_count, particle_count) == 0) return false;
    // A refused schedule says so, in case it is used anyway: passes then apply
    // the springs in the given order.
    schedule[0] = kScheduleUnusable;
    for (unsigned i = 0; i < spring_count; ++i)
        if (springs[i].a >= particle_count || springs[i].b >= particle_count) return false;
    Graph g{};
    const bool ok = allocate(g, spring_count) && link_springs(springs, spring_count, g);
    if (ok) {
        const bool vectors = particle_count <= kMaxVectorIndex && spring_count <= kMaxVectorIndex;
        place(springs, spring_count, vectors, g, schedule);
        schedule[0] = spring_count;
    }
    release(g);
    return ok;
}

void spring_schedule_order(const unsigned* schedule, unsigned spring_count, unsigned* order) {
    if (schedule[0] != spring_count) {
        for (unsigned i = 0; i < spring_count; ++i) order[i] = i;
        return;
    }
    const unsigned* run = schedule + 1;
    for (unsigned done = 0; done < spring_count;) {
        const unsigned kind = run[0] & 1, count = run[0] >> 1;
        ++run;
        if (kind == kRunGroups) {
            for (unsigned k = 0; k < count; ++k, run += kGroupWords)
                for (unsigned l = 0; l < kGroupWidth; ++l) order[done++] = run[l] / 3;
        } else {
            for (unsigned k = 0; k < count; ++k, run += 3) order[done++] = run[0];
        }
    }
}
