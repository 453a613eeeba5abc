// The spring schedule: the caller's springs arranged into groups that share no
// particle, so a pass may apply a group at once and still give the bits of the
// caller's order. The layout is described in kernel.h.
//
// Two springs that share a particle must keep their order; springs that share
// none may be swapped freely. Each spring therefore waits for at most two
// others, the previous springs on its particles a and b. The schedule is a
// list schedule over that graph. A spring is ready once both are placed, and
// any ready springs share no particle, so kGroupWidth of them make a group.
// Groups take the lowest-numbered ready springs: the caller's order usually
// follows the particles' layout (a cloth row by row), and keeping close to it
// keeps the pass in few rows, few cache lines and few pages at a time. A
// spring released by a group waits kMinDistance groups before it may join
// one (unless too few others are ready), so the pass's loads do not chase its
// own recent stores. While too few
// are ready (a rope, the first corner of a cloth) springs go one at a time
// into a sequence, applied one after another as plain code; taking them
// breadth first there finds the width the groups need soonest.
#include "kernel.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr unsigned kNone = kNoSpring;

}  // namespace

bool allocate_graph(SpringGraph& g, unsigned spring_count) {
    const size_t n = spring_count ? spring_count : 1;
    g.next = static_cast<unsigned*>(std::malloc(2 * n * sizeof(unsigned)));
    g.waiting = static_cast<unsigned char*>(std::malloc(n));
    g.queue = static_cast<unsigned*>(std::malloc(n * sizeof(unsigned)));
    g.due = static_cast<unsigned*>(std::malloc(n * sizeof(unsigned)));
    g.ready = static_cast<unsigned*>(std::malloc(n * sizeof(unsigned)));
    return g.next && g.waiting && g.queue && g.due && g.ready;
}

void free_graph(SpringGraph& g) {
    std::free(g.next);
    std::free(g.waiting);
    std::free(g.queue);
    std::free(g.due);
    std::free(g.ready);
}

// Links every spring to the next spring on each of its particles. Sorting
// (particle, spring) pairs finds them without memory for every particle.
bool link_springs(const TCSpring* springs, unsigned spring_count, SpringGraph& g) {
    uint64_t* ends = static_cast<uint64_t*>(std::malloc((2 * size_t(spring_count) + 1) * sizeof(uint64_t)));
    if (!ends) return false;
    size_t n = 0;
    for (unsigned i = 0; i < spring_count; ++i) {
        ends[n++] = uint64_t(springs[i].a) << 32 | i;
        if (springs[i].b != springs[i].a) ends[n++] = uint64_t(springs[i].b) << 32 | i;
    }
    std::sort(ends, ends + n);
    std::fill(g.next, g.next + 2 * size_t(spring_count), kNoSpring);
    std::fill(g.waiting, g.waiting + spring_count, 0);
    for (size_t k = 0; k + 1 < n; ++k) {
        if (ends[k] >> 32 != ends[k + 1] >> 32) continue;
        const unsigned from = unsigned(ends[k]), to = unsigned(ends[k + 1]);
        // The same two particles twice in a row are one wait, not two.
        unsigned* slot = g.next + 2 * size_t(from);
        if (slot[0] == to) continue;
        slot[slot[0] == kNoSpring ? 0 : 1] = to;
        ++g.waiting[to];
    }
    std::free(ends);
    return true;
}

void ReadyPool::make_ready(unsigned i) {
    ready[ready_count++] = i;
    std::push_heap(ready, ready + ready_count, later);
}

unsigned ReadyPool::take_lowest() {
    std::pop_heap(ready, ready + ready_count, later);
    return ready[--ready_count];
}

void ReadyPool::make_due_ready(unsigned group, unsigned wanted) {
    while (head < tail && (due[head] <= group || ready_count < wanted)) make_ready(queue[head++]);
}

void ReadyPool::release_next(const SpringGraph& g, unsigned placed, unsigned when) {
    for (int k = 0; k < 2; ++k) {
        const unsigned j = g.next[2 * size_t(placed) + k];
        if (j != kNoSpring && --g.waiting[j] == 0) queue[tail] = j, due[tail++] = when;
    }
}

namespace {

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

// A group of the kGroupWidth lowest ready springs.
void place_group(const TCSpring* springs, const SpringGraph& g, ReadyPool& pool, unsigned number, Writer& w) {
    pool.make_due_ready(number, kGroupWidth);
    unsigned members[kGroupWidth];
    open_run(w, kRunGroups);
    unsigned* group = w.out + w.pos;
    for (unsigned l = 0; l < kGroupWidth; ++l) {
        const unsigned i = members[l] = pool.take_lowest();
        group[l] = record_offset(i);
        group[kGroupWidth + l] = record_offset(springs[i].a);
        group[2 * kGroupWidth + l] = record_offset(springs[i].b);
    }
    // Released only now: no spring joins the group of one it waits for.
    for (unsigned i : members) pool.release_next(g, i, number + kMinDistance);
    w.pos += kGroupWords;
    ++w.run_count;
}

// A sequence, breadth first from every ready spring, until `wanted` are
// ready or none are left; what it releases may follow at once.
unsigned place_sequence(const TCSpring* springs, const SpringGraph& g, ReadyPool& pool, unsigned wanted, Writer& w) {
    pool.make_due_ready(kNone, kNone);
    pool.head = pool.tail = 0;  // the queue now holds the sequence's springs
    while (pool.ready_count > 0) pool.queue[pool.tail] = pool.take_lowest(), pool.due[pool.tail++] = 0;
    open_run(w, kRunSequence);
    unsigned placed = 0;
    while (pool.head < pool.tail && pool.tail - pool.head < wanted) {
        const unsigned i = pool.queue[pool.head++];
        w.out[w.pos++] = i;
        w.out[w.pos++] = springs[i].a;
        w.out[w.pos++] = springs[i].b;
        ++w.run_count;
        pool.release_next(g, i, 0);
        ++placed;
    }
    return placed;
}

// Returns how many springs it placed: all of them, unless the graph is wrong.
unsigned place(const TCSpring* springs, unsigned spring_count, bool vectors, SpringGraph& g, unsigned* schedule) {
    ReadyPool pool{g.ready, g.queue, g.due, 0, 0, 0};
    for (unsigned i = 0; i < spring_count; ++i)
        if (g.waiting[i] == 0) pool.make_ready(i);
    Writer w{schedule, 1, 0, kRunSequence, 0};
    unsigned groups = 0, placed = 0;
    while (pool.size() > 0) {
        if (vectors && pool.size() >= kGroupWidth) {
            place_group(springs, g, pool, groups++, w);
            placed += kGroupWidth;
        } else {
            placed += place_sequence(springs, g, pool, vectors ? kGroupWidth : kNone, w);
        }
    }
    close_run(w);
    return placed;
}

}  // namespace

unsigned spring_schedule_words(unsigned spring_count, unsigned) {
    const uint64_t words = plain_schedule_runs_words(spring_count) + 1;
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
    SpringGraph g{};
    const bool vectors = particle_count <= kMaxVectorIndex && spring_count <= kMaxVectorIndex;
    // Every spring is placed, as the graph has no cycle; were one left out,
    // the schedule would be refused rather than used.
    const bool ok = allocate_graph(g, spring_count) && link_springs(springs, spring_count, g) &&
                    place(springs, spring_count, vectors, g, schedule) == spring_count;
    if (ok) schedule[0] = spring_count, schedule[plain_schedule_runs_words(spring_count)] = particle_count;
    free_graph(g);
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
