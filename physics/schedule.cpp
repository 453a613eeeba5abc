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
// breadth first there finds the width the groups need soonest. As springs
// are placed, the schedule also learns where each particle's last spring
// ends: the rules of spring_pass_rules are applied there, a block of
// particles at a time (kernel.h).
#include "kernel.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr unsigned kNone = kNoSpring;

}  // namespace

size_t LowestFirst::words(size_t size) {
    size_t total = 0;
    do {
        size = (size + 63) / 64;
        total += size;
    } while (size > 1);
    return total;
}

void LowestFirst::init(uint64_t* zeroed, size_t size) {
    bits = zeroed;
    levels = 0;
    low = 0;
    size_t at = 0;
    do {
        size = (size + 63) / 64;
        level_at[levels++] = at;
        at += size;
    } while (size > 1);
}

bool allocate_graph(SpringGraph& g, unsigned spring_count, unsigned particle_count, unsigned pools) {
    const size_t n = spring_count ? spring_count : 1;
    g.next = static_cast<unsigned*>(std::malloc(2 * n * sizeof(unsigned)));
    g.waiting = static_cast<uint16_t*>(std::malloc(n * sizeof(uint16_t)));
    g.queue = static_cast<unsigned*>(std::malloc(n * sizeof(unsigned)));
    g.due = static_cast<unsigned*>(std::malloc(n * sizeof(unsigned)));
    g.ready = static_cast<uint64_t*>(std::calloc(size_t(pools) * LowestFirst::words(n), sizeof(uint64_t)));
    g.last = static_cast<unsigned*>(std::malloc((particle_count ? particle_count : 1) * sizeof(unsigned)));
    return g.next && g.waiting && g.queue && g.due && g.ready && g.last;
}

void free_graph(SpringGraph& g) {
    std::free(g.next);
    std::free(g.waiting);
    std::free(g.queue);
    std::free(g.due);
    std::free(g.ready);
    std::free(g.last);
}

namespace {

// `to` waits for the spring `from` names: while linking, a spring and which of
// its two slots for the springs that wait for it this particle's takes. Each
// spring's followers are kept in the order of the particles they share,
// lower first.
inline void link(unsigned from, unsigned to, SpringGraph& g) { g.next[2 * size_t(from >> 1) + (from & 1)] = to; }

}  // namespace

// One walk through the springs, the last on each particle kept as it goes.
bool link_springs(const TCSpring* springs, unsigned spring_count, unsigned particle_count, SpringGraph& g,
                  SpringEnds* ends) {
    std::fill(g.last, g.last + particle_count, kNoSpring);
    if (ends) std::fill(ends->first, ends->first + particle_count, kNoSpring);
    g.springs = springs;
    for (unsigned i = 0; i < spring_count; ++i) {
        const unsigned a = springs[i].a, b = springs[i].b;
        if (a >= particle_count || b >= particle_count) return false;
        const unsigned from_a = g.last[a], from_b = g.last[b];
        g.next[2 * size_t(i)] = g.next[2 * size_t(i) + 1] = kNoSpring;
        uint16_t waits = 0;
        if (from_a != kNoSpring) link(from_a, i, g), ++waits;
        // The same spring before on both particles is one wait (kNoSpring
        // >> 1 names no spring: there are fewer than 2^31 - 1).
        if (from_b != kNoSpring && b != a && from_b >> 1 != from_a >> 1) link(from_b, i, g), ++waits;
        g.waiting[i] = waits;
        g.last[a] = i << 1 | (a > b);
        g.last[b] = i << 1 | (b > a);
        if (ends) ends->note(i, a, b, from_a, from_b);
    }
    for (unsigned p = 0; p < particle_count; ++p) {
        if (g.last[p] == kNoSpring) continue;
        g.last[p] >>= 1;
        if (ends) ends->prev[ends->first[p]] = kWrapFlag | g.last[p];
    }
    return true;
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

// ---- where particles finish, for the rules entries ----

// Spring i, just placed, ends at `end` in the schedule: for the particles it
// is the last spring of, `last` keeps that place from now on. No spring on
// them is placed after it: it waits for every other on them.
void note_finished(const TCSpring& s, unsigned i, unsigned end, SpringGraph& g) {
    if (g.last[s.a] == i) g.last[s.a] = end;
    if (g.last[s.b] == i) g.last[s.b] = end;
}

struct RuleRange {
    unsigned at, first, end;  // where the pass applies it, and its particles
};

// Blocks of kRulesBlock particles, each where the last of its particles
// finishes (1, before the first run, when none does), blocks side by side
// that finish at one place as one range; in index order. Returns how many.
size_t block_ranges(const unsigned* finish, unsigned particle_count, RuleRange* ranges) {
    size_t count = 0;
    for (unsigned first = 0; first < particle_count;) {
        const unsigned end = particle_count - first > kRulesBlock ? first + kRulesBlock : particle_count;
        unsigned at = 1;
        for (unsigned i = first; i < end; ++i)
            if (finish[i] != kNoSpring && finish[i] > at) at = finish[i];
        if (count > 0 && ranges[count - 1].at == at)
            ranges[count - 1].end = end;
        else
            ranges[count++] = RuleRange{at, first, end};
        first = end;
    }
    return count;
}

// The rules entries after the particle count: their words, then the entries
// in the order the pass reaches them. False when the memory cannot be had.
bool write_rule_entries(const unsigned* finish, unsigned particle_count, unsigned* out) {
    const size_t blocks = (size_t(particle_count) + kRulesBlock - 1) / kRulesBlock;
    RuleRange* ranges = static_cast<RuleRange*>(std::malloc((blocks ? blocks : 1) * sizeof(RuleRange)));
    if (!ranges) return false;
    const size_t count = block_ranges(finish, particle_count, ranges);
    std::sort(ranges, ranges + count,
              [](const RuleRange& x, const RuleRange& y) { return x.at < y.at || (x.at == y.at && x.first < y.first); });
    out[0] = unsigned(4 * count);
    for (size_t k = 0; k < count; ++k) {
        unsigned* e = out + 1 + 4 * k;
        e[0] = ranges[k].at, e[1] = 1 | kRulesRanges, e[2] = ranges[k].first, e[3] = ranges[k].end;
    }
    std::free(ranges);
    return true;
}

// ---- placing ----

// A group of the kGroupWidth lowest ready springs.
void place_group(const TCSpring* springs, SpringGraph& g, ReadyPool& pool, unsigned number, Writer& w) {
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
    w.pos += kGroupWords;
    ++w.run_count;
    // Released only now: no spring joins the group of one it waits for.
    for (unsigned i : members) {
        pool.release_next(g, i, number + kMinDistance);
        note_finished(springs[i], i, unsigned(w.pos), g);
    }
}

// A sequence, breadth first from every ready spring, until `wanted` are
// ready or none are left; what it releases may follow at once.
unsigned place_sequence(const TCSpring* springs, SpringGraph& g, ReadyPool& pool, unsigned wanted, Writer& w) {
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
        note_finished(springs[i], i, unsigned(w.pos), g);
        ++placed;
    }
    return placed;
}

// Returns how many springs it placed: all of them, unless the graph is wrong.
unsigned place(const TCSpring* springs, unsigned spring_count, bool vectors, SpringGraph& g, unsigned* schedule) {
    ReadyPool pool;
    pool.init(g.ready, spring_count, g.queue, g.due);
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

unsigned spring_schedule_words(unsigned spring_count, unsigned particle_count) {
    const uint64_t words =
        plain_schedule_runs_words(spring_count) + 2 + plain_rules_words(spring_count, particle_count);
    return words > UINT_MAX ? 0 : unsigned(words);  // 0: too many springs for one schedule
}

bool spring_schedule(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                     unsigned* schedule) {
    if (spring_schedule_words(spring_count, particle_count) == 0) return false;
    // A refused schedule says so, in case it is used anyway: passes then apply
    // the springs in the given order.
    schedule[0] = kScheduleUnusable;
    SpringGraph g{};
    const bool vectors = particle_count <= kMaxVectorIndex && spring_count <= kMaxVectorIndex;
    // Every spring is placed, as the graph has no cycle; were one left out,
    // the schedule would be refused rather than used.
    const size_t rules = plain_schedule_runs_words(spring_count);
    const bool ok = allocate_graph(g, spring_count, particle_count) &&
                    link_springs(springs, spring_count, particle_count, g) &&
                    place(springs, spring_count, vectors, g, schedule) == spring_count &&
                    write_rule_entries(g.last, particle_count, schedule + rules + 1);
    if (ok) schedule[0] = spring_count, schedule[rules] = particle_count;
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
