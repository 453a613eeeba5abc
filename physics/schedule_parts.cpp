// The springs divided among parts that run at the same time, each part
// arranged into groups and sequences as spring_schedule arranges a whole set,
// with the few waits a part needs from the others. The layout is in kernel.h.
//
// Division. Each particle goes to a part, and each spring to the part of its
// particle a. The first cut tried is into ranges of particle indices: where
// particles lie in memory as they lie in space (a cloth, a rope), the parts
// meet only at a range's ends, once a pass, and since a part may go on into
// the next pass while the others finish this one, part p runs pass k + 1
// while part p + 1 finishes pass k: their waits point into passes long done,
// and each core keeps to its own range of memory. A pipeline of passes, half
// a pass to fill with two parts. The second cut, tried only when no ranges
// pay, is across the sweep of a set given in sweeps (a cloth given row by row
// whose particles lie in no order): vertical bands, where a part trails its
// neighbour by part of a row. It meets the neighbour at every row, a wait
// near its deadline and a cache line passed between cores each time, which
// is why ranges come first: on the 256x256 cloth bands ran 1.36x faster than
// one thread, ranges 1.59x. For the sweep, particles are numbered in the
// order the springs first touch them; the difference of the numbers most
// common among springs (above 1) is the sweep's period (a cloth's row), and a
// particle's number modulo the period is its place across the sweep. Each
// cut, for each part count from 2 to the one asked for, is tried on a model
// of a few passes (a unit of work a spring, a wait across parts kLatency
// units more) and the fastest is kept; when none beats one part by a
// sixteenth (a few dozen springs) everything goes to part 0.
//
// Placement. The steps of all parts are placed in one sequence, taking the
// parts in turn. A spring is ready only once every spring it waits for has
// been placed, in whichever part, and a step waits (before it starts) for the
// steps of other parts that hold the springs its own wait for. So every wait
// points to a step placed before it, and each part runs its steps in the
// order they were placed: the placing order is one order that every part's
// own order respects and in which every wait points back. The parts therefore
// never wait for one another in a circle, on any number of threads, whatever
// the timing. The first spring on a particle in a pass waits for the last one
// on it in the previous pass, when another part holds that one: a wait that
// points into the previous pass, earlier still. So the parts need no barrier
// between passes.
#include "kernel.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// A wait across parts, in springs' work: the other core's store reaching this
// one, about a hundred nanoseconds.
constexpr uint64_t kLatency = 64;
// Passes modelled: enough for a pipeline of ranges to show, few enough to be quick.
constexpr unsigned kModelPasses = 4;
// Steps: at most this many groups, or springs of a sequence. Small steps
// publish progress sooner; runs with nothing between them become one again.
constexpr unsigned kStepGroups = 1;
constexpr unsigned kStepSprings = 8;
// Spring indices fit below this, so a flag fits above them.
constexpr unsigned kMaxSprings = 1u << 28;

// Every step holds a spring: a run header and a publish, three words a spring
// and at most two waits (two words each) a spring, one an end.
uint64_t stream_bound(uint64_t springs) { return 9 * springs; }

constexpr unsigned kNoSlot = 0xFFFFFFFFu;

// Work memory, freed when scheduling returns.
struct Work {
    SpringGraph g;
    unsigned* prev;        // two per spring: the previous spring on each end, or kWrapFlag | the last one
    unsigned* first_slot;  // per particle: the end that names it first (kNoSlot: no spring touches it)
    unsigned* place;       // per particle: its place in the cut
    unsigned* step;        // per spring: the step of its part that holds it
    unsigned char* part;   // per spring
    unsigned char* part_of;  // per particle, in a cut
    unsigned* sim;         // per spring: when the model's run of it ends
    // Each part's stream before it is copied out, in the schedule's own
    // memory for its streams (the copy only moves words down); before
    // that, work memory for the division.
    unsigned* streams;
};

bool allocate_work(Work& w, unsigned n, unsigned particle_count, unsigned parts, unsigned* schedule) {
    const size_t m = n ? n : 1, particles = particle_count ? particle_count : 1;
    w.prev = static_cast<unsigned*>(std::malloc(2 * m * sizeof(unsigned)));
    w.first_slot = static_cast<unsigned*>(std::malloc(particles * sizeof(unsigned)));
    w.place = static_cast<unsigned*>(std::malloc(particles * sizeof(unsigned)));
    w.step = static_cast<unsigned*>(std::malloc(m * sizeof(unsigned)));
    w.part = static_cast<unsigned char*>(std::malloc(m));
    w.part_of = static_cast<unsigned char*>(std::malloc(particles));
    w.sim = static_cast<unsigned*>(std::malloc((m + kMaxParts) * sizeof(unsigned)));
    w.streams = schedule + parts_header_words(parts);
    return allocate_graph(w.g, n, particle_count, parts) && w.prev && w.first_slot && w.place && w.step && w.part &&
           w.part_of && w.sim;
}

void free_work(Work& w) {
    free_graph(w.g);
    std::free(w.prev);
    std::free(w.first_slot);
    std::free(w.place);
    std::free(w.step);
    std::free(w.part);
    std::free(w.part_of);
    std::free(w.sim);
}

// Whether an end is the first that names its particle.
inline bool names_particle(const Work& w, size_t slot) { return (w.prev[slot] & kWrapFlag) != 0; }

// Places across the sweep: each particle's number, in the order the springs
// first touch it, modulo the sweep's period. Returns the period (1: none).
// `tally`: work memory, a word for each end.
unsigned place_across_sweep(const TCSpring* springs, const Work& w, unsigned n, unsigned* tally) {
    unsigned number = 0;
    for (size_t slot = 0; slot < 2 * size_t(n); ++slot)
        if (names_particle(w, slot)) w.place[slot & 1 ? springs[slot >> 1].b : springs[slot >> 1].a] = number++;
    // The most common difference above 1, the smallest of equals.
    std::fill(tally, tally + number, 0u);
    for (unsigned i = 0; i < n; ++i) {
        const unsigned a = w.place[springs[i].a], b = w.place[springs[i].b];
        const unsigned d = a > b ? a - b : b - a;
        if (d > 1) ++tally[d];
    }
    unsigned period = 1, most = 0;
    for (unsigned d = 2; d < number; ++d)
        if (tally[d] > most) most = tally[d], period = d;
    for (size_t slot = 0; slot < 2 * size_t(n); ++slot)
        if (names_particle(w, slot)) w.place[slot & 1 ? springs[slot >> 1].b : springs[slot >> 1].a] %= period;
    return period;
}

// Places by particle index: its rank among the particles. Returns how many there are.
unsigned place_by_index(const Work& w, unsigned particle_count) {
    unsigned count = 0;
    for (unsigned p = 0; p < particle_count; ++p)
        if (w.first_slot[p] != kNoSlot) w.place[p] = count++;
    return count;
}

// Places 0 to `places` cut into `parts` equal ranges (place x in part
// x * parts / places); a spring goes to the part of its particle a, found
// once a particle, without a division.
void cut(const TCSpring* springs, Work& w, unsigned n, unsigned particle_count, unsigned places, unsigned parts) {
    unsigned first[kMaxParts + 1];  // each range's first place
    for (unsigned q = 0; q <= parts; ++q) first[q] = unsigned((uint64_t(q) * places + parts - 1) / parts);
    for (unsigned i = 0; i < particle_count; ++i)
        if (w.first_slot[i] != kNoSlot)
            w.part_of[i] = (unsigned char)(std::upper_bound(first + 1, first + parts, w.place[i]) - (first + 1));
    for (unsigned i = 0; i < n; ++i) w.part[i] = w.part_of[springs[i].a];
}

// The model. A spring starts when its part's spring before it ends, or when
// a spring it waits for ends, kLatency later if another part holds that one.
// A spring of the same part always ended before the part's spring before (in
// this pass, or in the previous one for the first spring on a particle), so
// only the waits across parts can hold a spring back: they are marked, once
// a division, and only they are looked at in each of the kModelPasses passes.

// Whether spring i's wait at end k crosses parts.
inline bool waits_across(const Work& w, const unsigned char* part, unsigned i, int k) {
    const unsigned s = w.prev[2 * size_t(i) + k] & ~kWrapFlag;
    return s != i && part[s] != part[i];
}

// When spring i's wait at end k lets it start, if it crosses parts; in the
// first pass there is no previous one to wait for.
template <bool kFirstPass>
uint64_t wait_ends(const Work& w, const unsigned char* part, const unsigned* end_at, unsigned i, int k) {
    const unsigned j = w.prev[2 * size_t(i) + k];
    if (!waits_across(w, part, i, k) || (kFirstPass && (j & kWrapFlag))) return 0;
    return end_at[j & ~kWrapFlag] + kLatency;
}

// One pass of the model, from the parts' times in `end`.
template <bool kFirstPass>
void model_pass(const Work& w, const unsigned char* part, const unsigned char* across, unsigned n, unsigned* end_at,
                uint64_t* end) {
    // The part of the spring before and when it ends, kept while the part stays.
    unsigned p = part[0];
    uint64_t now = end[p];
    for (unsigned i = 0; i < n; ++i) {
        if (part[i] != p) end[p] = now, p = part[i], now = end[p];
        ++now;
        if (across[i])
            now = std::max(now, std::max(wait_ends<kFirstPass>(w, part, end_at, i, 0),
                                         wait_ends<kFirstPass>(w, part, end_at, i, 1)) + 1);
        // A time past 32 bits is far slower than one part: it only needs to stay so.
        end_at[i] = unsigned(std::min<uint64_t>(now, UINT_MAX));
    }
    end[p] = now;
}

// The model's time for kModelPasses passes so divided, with nothing between
// them: each part applies its springs in the given order, one unit each.
// `across`: n bytes of work memory.
uint64_t model_time(const Work& w, const unsigned char* part, unsigned n, unsigned* end_at, unsigned char* across) {
    for (unsigned i = 0; i < n; ++i) across[i] = waits_across(w, part, i, 0) || waits_across(w, part, i, 1);
    uint64_t end[kMaxParts] = {};
    model_pass<true>(w, part, across, n, end_at, end);
    for (unsigned pass = 1; pass < kModelPasses; ++pass) model_pass<false>(w, part, across, n, end_at, end);
    return *std::max_element(end, end + kMaxParts);
}

// Places 0 to `places` by the way `how` (0: ranges of indices, 1: across the sweep).
unsigned place_by(unsigned how, const TCSpring* springs, const Work& w, unsigned n, unsigned particle_count,
                  unsigned* work) {
    return how == 0 ? place_by_index(w, particle_count) : place_across_sweep(springs, w, n, work);
}

// Chooses the division the model finds fastest; returns the parts it uses.
unsigned divide(const TCSpring* springs, unsigned n, unsigned particle_count, unsigned parts, Work& w) {
    std::fill(w.part, w.part + n, (unsigned char)0);
    if (parts < 2 || n < 2) return 1;
    unsigned* work = w.streams;  // memory not yet in use
    const uint64_t one_part = uint64_t(kModelPasses) * n;
    uint64_t best = one_part;
    unsigned best_parts = 1, best_cut = 0, cut_parts = 0, cut_how = 0;  // and the division in w.part
    for (unsigned how = 0; how < 2 && best_parts == 1; ++how) {
        const unsigned places = place_by(how, springs, w, n, particle_count, work);
        // Fewer parts first: more must gain a sixteenth to be worth their waits.
        for (unsigned p = 2; p <= parts && p <= places; p = p * 2 > parts && p < parts ? parts : p * 2) {
            cut(springs, w, n, particle_count, places, p);
            cut_parts = p, cut_how = how;
            const uint64_t t = model_time(w, w.part, n, w.sim, reinterpret_cast<unsigned char*>(work));
            if (t + t / 16 < best) best = t, best_parts = p, best_cut = how;
        }
    }
    if (best_parts == 1) {
        std::fill(w.part, w.part + n, (unsigned char)0);
        return 1;
    }
    if (cut_parts != best_parts || cut_how != best_cut)
        cut(springs, w, n, particle_count, place_by(best_cut, springs, w, n, particle_count, work), best_parts);
    return best_parts;
}

// One part while it is placed.
struct Part {
    ReadyPool pool;
    unsigned groups;  // groups placed, for when released springs are due
    unsigned steps;   // steps placed
    unsigned* out;    // its stream in work memory
    size_t pos;
    unsigned waited[kMaxParts];  // steps of each part already waited for this pass
};

// The waits of the step being placed.
struct StepWaits {
    unsigned need[kMaxParts];
    // Springs of the previous pass, and their parts: two ends a spring.
    unsigned wraps[2 * kStepSprings + 2 * kGroupWidth * kStepGroups];
    unsigned wrap_parts[2 * kStepSprings + 2 * kGroupWidth * kStepGroups];
    unsigned wrap_count;
};

inline void note_waits(const Work& w, Part* parts, unsigned p, unsigned i, StepWaits& sw) {
    for (int k = 0; k < 2; ++k) {
        const unsigned j = w.prev[2 * size_t(i) + k];
        const unsigned spring = j & ~kWrapFlag, q = w.part[spring];
        if (q == p) continue;
        if (j & kWrapFlag) {
            if (std::find(sw.wraps, sw.wraps + sw.wrap_count, spring) == sw.wraps + sw.wrap_count)
                sw.wrap_parts[sw.wrap_count] = q, sw.wraps[sw.wrap_count++] = spring;
        } else {
            const unsigned v = w.step[spring] + 1;
            if (v > parts[p].waited[q]) sw.need[q] = std::max(sw.need[q], v);
        }
    }
}

// Springs released by `placed` go to their own part's pool, due `due` in
// the same part and at once in another.
inline void release_into(Work& w, Part* parts, unsigned p, unsigned placed, unsigned due_here) {
    for (int k = 0; k < 2; ++k) {
        const unsigned j = w.g.next[2 * size_t(placed) + k];
        if (j == kNoSpring || --w.g.waiting[j] != 0) continue;
        Part& to = parts[w.part[j]];
        const unsigned due = w.part[j] == p ? due_here : to.groups;
        to.pool.queue[to.pool.tail] = j, to.pool.due[to.pool.tail++] = due;
    }
}

// Places one step of part p into `body`; returns how many springs it holds.
unsigned place_step(const TCSpring* springs, Work& w, Part* parts, unsigned p, bool vectors, unsigned* body,
                    size_t& body_size, StepWaits& sw) {
    Part& part = parts[p];
    ReadyPool& pool = part.pool;
    unsigned placed = 0;
    body_size = 1;
    if (vectors && pool.size() >= kGroupWidth) {
        unsigned count = 0;
        for (; count < kStepGroups && pool.size() >= kGroupWidth; ++count) {
            pool.make_due_ready(part.groups, kGroupWidth);
            unsigned* group = body + body_size;
            unsigned members[kGroupWidth];
            for (unsigned l = 0; l < kGroupWidth; ++l) {
                const unsigned i = members[l] = pool.take_lowest();
                group[l] = record_offset(i);
                group[kGroupWidth + l] = record_offset(springs[i].a);
                group[2 * kGroupWidth + l] = record_offset(springs[i].b);
                note_waits(w, parts, p, i, sw);
            }
            body_size += kGroupWords;
            // Released only now: no spring joins the group of one it waits for.
            for (unsigned i : members) w.step[i] = part.steps, release_into(w, parts, p, i, part.groups + kMinDistance);
            ++part.groups;
            placed += kGroupWidth;
        }
        body[0] = kPartGroups | count << 2;
        return placed;
    }
    // A sequence, breadth first from every ready spring, as spring_schedule's.
    pool.make_due_ready(kNoSpring, kNoSpring);
    pool.head = pool.tail = 0;
    while (pool.ready_count > 0) pool.queue[pool.tail] = pool.take_lowest(), pool.due[pool.tail++] = 0;
    const unsigned wanted = vectors ? kGroupWidth : kNoSpring;
    while (pool.head < pool.tail && pool.tail - pool.head < wanted && placed < kStepSprings) {
        const unsigned i = pool.queue[pool.head++];
        body[body_size++] = i;
        body[body_size++] = springs[i].a;
        body[body_size++] = springs[i].b;
        note_waits(w, parts, p, i, sw);
        w.step[i] = part.steps;
        release_into(w, parts, p, i, 0);
        ++placed;
    }
    body[0] = kPartSequence | placed << 2;
    return placed;
}

// Writes a placed step into its part's stream: its waits, its run, a publish.
void write_step(Part* parts, unsigned p, unsigned part_count, const unsigned* body, size_t body_size,
                StepWaits& sw) {
    Part& part = parts[p];
    for (unsigned q = 0; q < part_count; ++q) {
        if (sw.need[q] == 0) continue;
        part.out[part.pos++] = kPartWait | q << 3;
        part.out[part.pos++] = sw.need[q];
        part.waited[q] = sw.need[q];
        sw.need[q] = 0;
    }
    // The previous pass's springs, by index until every step is known.
    for (unsigned k = 0; k < sw.wrap_count; ++k) {
        part.out[part.pos++] = kPartWait | 1u << 2 | sw.wrap_parts[k] << 3;
        part.out[part.pos++] = sw.wraps[k];
    }
    sw.wrap_count = 0;
    std::memcpy(part.out + part.pos, body, body_size * sizeof(unsigned));
    part.pos += body_size;
    part.out[part.pos++] = kPartPublish | ++part.steps << 2;
}

size_t entry_words(const unsigned* e) {
    switch (e[0] & 3) {
    case kPartGroups: return 1 + size_t(e[0] >> 2) * kGroupWords;
    case kPartSequence: return 1 + size_t(e[0] >> 2) * 3;
    case kPartWait: return 2;
    default: return 1;
    }
}

// Places every spring; returns how many it placed (all, unless the graph is wrong).
unsigned place_parts(const TCSpring* springs, unsigned n, unsigned part_count, bool vectors, Work& w, Part* parts) {
    unsigned counts[kMaxParts] = {};
    for (unsigned i = 0; i < n; ++i) {
        if (w.part[i] >= part_count) return 0;  // a division that lost a spring is refused, not run
        ++counts[w.part[i]];
    }
    size_t base = 0, stream = 0;
    for (unsigned p = 0; p < part_count; ++p) {
        Part& part = parts[p];
        part.pool.init(w.g.ready + p * LowestFirst::words(n), n, w.g.queue + base, w.g.due + base);
        part.groups = part.steps = 0;
        part.out = w.streams + stream;
        part.pos = 0;
        std::fill(part.waited, part.waited + kMaxParts, 0u);
        base += counts[p];
        stream += size_t(stream_bound(counts[p]));
    }
    for (unsigned i = 0; i < n; ++i)
        if (w.g.waiting[i] == 0) parts[w.part[i]].pool.make_ready(i);
    unsigned body[1 + kGroupWords * kStepGroups + 3 * kStepSprings];
    StepWaits sw{};
    unsigned placed = 0;
    // Each round, every part that can fill a group places one; only when none
    // can do the parts place sequences, as spring_schedule does for the whole.
    for (bool any = true; any;) {
        any = false;
        for (bool sequences : {false, true}) {
            for (unsigned p = 0; p < part_count; ++p) {
                const unsigned ready = parts[p].pool.size();
                if (ready == 0 || (vectors && (ready >= kGroupWidth) == sequences)) continue;
                size_t body_size;
                const unsigned got = place_step(springs, w, parts, p, vectors, body, body_size, sw);
                write_step(parts, p, part_count, body, body_size, sw);
                placed += got;
                any = true;
            }
            if (any) break;
        }
    }
    return placed;
}

// Particles whose last spring in a pass one part applies, for each part from
// part_first[p]: by the step that holds it (then by index), and by index.
struct Finished {
    unsigned* by_step;
    unsigned* by_index;
    unsigned* step;         // per particle: the step of its part that finishes it
    unsigned char* done;    // per particle: its rules written
    unsigned char* shared;  // per particle: another part has its first spring, in the next pass
    size_t part_first[kMaxParts + 1];
};

// How many particles a part's rules may gather before it applies them, when
// no publish asks for them sooner: few enough to be in the cache still.
constexpr unsigned kRulesBatch = kRulesBlock;

// Both orders by counting, the particles taken in increasing order.
bool find_finished(const Work& w, const Part* parts, unsigned n, unsigned particle_count, unsigned part_count,
                   Finished& f) {
    const size_t m = std::min<size_t>(2 * size_t(n), particle_count) + 1;
    size_t steps = 1;
    for (unsigned p = 0; p < part_count; ++p) steps += parts[p].steps;
    f.by_step = static_cast<unsigned*>(std::malloc(m * sizeof(unsigned)));
    f.by_index = static_cast<unsigned*>(std::malloc(m * sizeof(unsigned)));
    f.step = static_cast<unsigned*>(std::malloc((particle_count ? particle_count : 1) * sizeof(unsigned)));
    f.done = static_cast<unsigned char*>(std::calloc(particle_count ? particle_count : 1, 1));
    f.shared = static_cast<unsigned char*>(std::malloc(particle_count ? particle_count : 1));
    size_t* at_step = static_cast<size_t*>(std::calloc(steps, sizeof(size_t)));  // each part's steps in turn
    if (!f.by_step || !f.by_index || !f.step || !f.done || !f.shared || !at_step) return std::free(at_step), false;
    size_t step_first[kMaxParts + 1] = {}, count[kMaxParts] = {};
    for (unsigned p = 0; p < part_count; ++p) step_first[p + 1] = step_first[p] + parts[p].steps;
    for (unsigned i = 0; i < particle_count; ++i) {
        if (w.first_slot[i] == kNoSlot) continue;
        const unsigned last = w.prev[w.first_slot[i]] & ~kWrapFlag, p = w.part[last];
        f.step[i] = w.step[last];
        f.shared[i] = w.part[w.first_slot[i] >> 1] != p;
        ++count[p], ++at_step[step_first[p] + f.step[i]];
    }
    f.part_first[0] = 0;
    for (unsigned p = 0; p < part_count; ++p) f.part_first[p + 1] = f.part_first[p] + count[p];
    size_t sum = 0;  // the steps in turn are also the parts in turn: one running sum places both
    for (size_t k = 0; k < step_first[part_count]; ++k) sum += at_step[k], at_step[k] = sum - at_step[k];
    size_t at[kMaxParts];
    std::copy(f.part_first, f.part_first + part_count, at);
    for (unsigned i = 0; i < particle_count; ++i) {
        if (w.first_slot[i] == kNoSlot) continue;
        const unsigned p = w.part[w.prev[w.first_slot[i]] & ~kWrapFlag];
        f.by_index[at[p]++] = i;
        f.by_step[at_step[step_first[p] + f.step[i]]++] = i;
    }
    std::free(at_step);
    return true;
}

// The entry of the particles no spring touches, as ranges.
size_t write_untouched_entry(unsigned* out, unsigned trigger, const Work& w, unsigned particle_count) {
    out[0] = trigger;
    size_t pos = 2;
    for (unsigned i = 0; i < particle_count; ++i) {
        if (w.first_slot[i] != kNoSlot) continue;
        if (pos > 2 && out[pos - 1] == i) {
            ++out[pos - 1];
        } else {
            out[pos++] = i, out[pos++] = i + 1;
        }
    }
    out[1] = unsigned((pos - 2) / 2) | kRulesRanges;
    return pos > 2 ? pos : 0;
}

// A part's rules entries, written as its stream is copied out. A particle's
// rules come after its last spring. Those of a particle whose first spring
// in the next pass another part has come before the publish that lets that
// part go on: a list, as they finish. The others need only come before the
// part's own next pass: they go in blocks of the part's particles in index
// order, each as ranges once its last particle is finished, long where
// particles lie in index order as a cloth's do, and the planes and circles
// go through them in vector registers without gathering.
struct RulesWriter {
    Finished& f;
    const unsigned* schedule;
    unsigned* rules;  // every part's entries so far
    size_t& size;     // their words
    const unsigned *next, *last;  // by step: the next particle the part finishes
    const unsigned* mine;         // by index: the part's particles
    size_t count;
    unsigned* shared;  // finished, rules not written, another part's next
    size_t shared_count;
    uint64_t* blocks;  // (the step that finishes it << 32 | its first particle in `mine`), by step
    size_t block_count, blocks_done;

    // The blocks, by the step that finishes each (room: count / kRulesBatch + 1).
    void make_blocks(uint64_t* room) {
        blocks = room, block_count = blocks_done = 0;
        for (size_t first = 0; first < count; first += kRulesBatch) {
            unsigned step = 0;
            for (size_t k = first; k < count && k < first + kRulesBatch; ++k) step = std::max(step, f.step[mine[k]]);
            blocks[block_count++] = uint64_t(step) << 32 | first;
        }
        std::sort(blocks, blocks + block_count);
    }
    // The particles finished once `steps` steps are done.
    void finish(uint64_t steps) {
        for (; next < last && f.step[*next] < steps; ++next)
            if (f.shared[*next]) shared[shared_count++] = *next;
    }
    // Before a publish: those another part may need once it is out, sorted,
    // as a list. Whether it wrote an entry.
    bool before_publish(const unsigned* at) {
        size_t kept = 0;
        for (size_t k = 0; k < shared_count; ++k)
            if (!f.done[shared[k]]) f.done[shared[k]] = 1, shared[kept++] = shared[k];
        shared_count = 0;
        if (kept == 0) return false;
        std::sort(shared, shared + kept);
        unsigned* entry = rules + size;
        entry[0] = unsigned(at - schedule), entry[1] = unsigned(kept);
        std::memcpy(entry + 2, shared, kept * sizeof(unsigned));
        size += 2 + kept;
        return true;
    }
    // The blocks finished once `steps` steps are done, as one entry of
    // ranges of those not yet written. Whether it wrote an entry.
    bool write_blocks(const unsigned* at, uint64_t steps) {
        unsigned* entry = rules + size;
        size_t pos = 2;
        for (; blocks_done < block_count && blocks[blocks_done] >> 32 < steps; ++blocks_done) {
            const size_t first = blocks[blocks_done] & 0xFFFFFFFFu;
            for (size_t k = first; k < count && k < first + kRulesBatch; ++k) {
                const unsigned particle = mine[k];
                if (f.done[particle]) continue;
                f.done[particle] = 1;
                if (pos > 2 && entry[pos - 1] == particle) {
                    ++entry[pos - 1];
                } else {
                    entry[pos++] = particle, entry[pos++] = particle + 1;
                }
            }
        }
        if (pos == 2) return false;
        entry[0] = unsigned(at - schedule), entry[1] = unsigned((pos - 2) / 2) | kRulesRanges;
        size += pos;
        return true;
    }
};

// Copies the streams out: waits on the previous pass get their steps, only
// the steps waited for are published, and runs left side by side are joined.
// The streams lie where they go, part after part, so entries only move down.
// Parts past part_count (the division left them out) have no steps and an empty stream.
// Each part's rules are gathered in `rules` (`pending`: work memory, a word
// for each particle a spring touches; `blocks`, one for each kRulesBatch of
// them, and one more) and copied after the streams.
void write_streams(Work& w, Part* parts, unsigned part_count, unsigned parts_asked, unsigned* schedule,
                   Finished& f, unsigned particle_count, unsigned* rules, unsigned* pending, uint64_t* blocks) {
    // Which steps are waited for: a bit each, in the memory sim no longer needs.
    uint64_t offsets[kMaxParts + 1] = {};
    for (unsigned p = 0; p < part_count; ++p) offsets[p + 1] = offsets[p] + parts[p].steps + 1;
    unsigned char* wanted = reinterpret_cast<unsigned char*>(w.sim);
    std::fill(wanted, wanted + offsets[part_count], (unsigned char)0);
    for (unsigned p = 0; p < part_count; ++p)
        for (unsigned* e = parts[p].out; e < parts[p].out + parts[p].pos; e += entry_words(e)) {
            if ((e[0] & 3) != kPartWait) continue;
            if (e[0] >> 2 & 1) e[1] = w.step[e[1]] + 1;  // the step that holds it
            wanted[offsets[(e[0] >> 3)] + e[1]] = 1;
        }
    unsigned* out = schedule + parts_header_words(parts_asked);
    size_t rules_size = 0, rules_first[kMaxParts + 1] = {};
    for (unsigned p = 0; p < part_count; ++p) {
        schedule[3 + p] = parts[p].steps;
        schedule[3 + parts_asked + p] = unsigned(out - schedule);
        rules_first[p] = rules_size;
        RulesWriter rw{f, schedule, rules, rules_size, f.by_step + f.part_first[p], f.by_step + f.part_first[p + 1],
                       f.by_index + f.part_first[p], f.part_first[p + 1] - f.part_first[p], pending, 0, nullptr, 0, 0};
        rw.make_blocks(blocks);
        unsigned* run = nullptr;  // the last run written, while nothing follows it
        // Each entry is read before anything is written over it.
        for (unsigned *e = parts[p].out, *after; e < parts[p].out + parts[p].pos; e = after) {
            const size_t words = entry_words(e);
            after = e + words;
            const unsigned kind = e[0] & 3;
            if (kind == kPartPublish) {
                rw.finish(e[0] >> 2);
                const bool published = wanted[offsets[p] + (e[0] >> 2)];
                if ((published && rw.before_publish(out)) | rw.write_blocks(out, e[0] >> 2)) run = nullptr;
                if (!published) continue;
            }
            if (kind <= kPartSequence && run && (run[0] & 3) == kind) {
                run[0] += e[0] & ~3u;  // counts add
                std::memmove(out, e + 1, (words - 1) * sizeof(unsigned));
                out += words - 1;
                continue;
            }
            run = kind <= kPartSequence ? out : nullptr;
            std::memmove(out, e, words * sizeof(unsigned));
            out += words;
        }
        rw.write_blocks(out, UINT64_MAX);
        if (p == 0) rules_size += write_untouched_entry(rules + rules_size, unsigned(out - schedule), w, particle_count);
    }
    for (unsigned p = part_count; p < parts_asked; ++p) {
        schedule[3 + p] = 0, schedule[3 + parts_asked + p] = unsigned(out - schedule);
        rules_first[p] = rules_size;
    }
    schedule[3 + 2 * parts_asked] = unsigned(out - schedule);
    schedule[parts_particle_word(parts_asked)] = particle_count;
    rules_first[parts_asked] = rules_size;
    for (unsigned p = 0; p <= parts_asked; ++p)
        schedule[parts_rules_word(parts_asked, p)] = unsigned(out - schedule + rules_first[p]);
    std::memcpy(out, rules, rules_size * sizeof(unsigned));
}

// Words for the rules: an entry (two words) for at most every particle a
// spring touches and one more a part, two words (a range or less) for each
// touched particle, and a range (two words) for each gap between them.
uint64_t rules_bound(uint64_t springs, uint64_t particle_count, unsigned parts) {
    const uint64_t touched = std::min<uint64_t>(2 * springs, particle_count);
    return 2 * (touched + parts) + 2 * touched + 2 * (touched + 1);
}

}  // namespace

unsigned spring_schedule_parts_words(unsigned spring_count, unsigned particle_count, unsigned parts) {
    if (parts == 0 || parts > kMaxParts || spring_count >= kMaxSprings) return 0;
    const uint64_t words =
        parts_header_words(parts) + stream_bound(spring_count) + rules_bound(spring_count, particle_count, parts);
    return words > UINT_MAX ? 0 : unsigned(words);
}

bool spring_schedule_parts(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                           unsigned parts, unsigned* schedule) {
    if (spring_schedule_parts_words(spring_count, particle_count, parts) == 0) return false;
    schedule[0] = kScheduleUnusable;  // in case a refused schedule is used anyway
    const bool vectors = particle_count <= kMaxVectorIndex;
    Work w{};
    Finished f{};
    Part* state = static_cast<Part*>(std::malloc(parts * sizeof(Part)));
    const size_t rules_words = size_t(rules_bound(spring_count, particle_count, parts));
    unsigned* rules = static_cast<unsigned*>(std::malloc(rules_words * sizeof(unsigned)));
    const size_t touched = std::min<size_t>(2 * size_t(spring_count), particle_count);
    unsigned* pending = static_cast<unsigned*>(std::malloc((touched + 1) * sizeof(unsigned)));
    uint64_t* blocks = static_cast<uint64_t*>(std::malloc((touched / kRulesBatch + 2) * sizeof(uint64_t)));
    bool ok = state && rules && pending && blocks && allocate_work(w, spring_count, particle_count, parts, schedule);
    SpringEnds ends{w.prev, w.first_slot};
    ok = ok && link_springs(springs, spring_count, particle_count, w.g, &ends);
    if (ok) {
        const unsigned used = divide(springs, spring_count, particle_count, parts, w);
        ok = place_parts(springs, spring_count, used, vectors, w, state) == spring_count &&
             find_finished(w, state, spring_count, particle_count, used, f);
        if (ok) write_streams(w, state, used, parts, schedule, f, particle_count, rules, pending, blocks);
    }
    std::free(state);
    std::free(rules);
    std::free(pending);
    std::free(blocks);
    std::free(f.by_step);
    std::free(f.by_index);
    std::free(f.step);
    std::free(f.done);
    std::free(f.shared);
    free_work(w);
    if (!ok) return false;
    schedule[1] = spring_count;
    schedule[2] = parts;
    schedule[0] = kPartsSchedule;
    return true;
}

unsigned spring_schedule_parts_used(const unsigned* schedule) {
    if (schedule[0] != kPartsSchedule) return 0;
    const unsigned parts = schedule[2];
    unsigned used = 0;
    for (unsigned p = 0; p < parts; ++p) used += schedule[3 + parts + p + 1] != schedule[3 + parts + p];
    return used;
}

unsigned spring_schedule_parts_order(const unsigned* schedule, unsigned part, unsigned* order) {
    if (schedule[0] != kPartsSchedule || part >= schedule[2]) return 0;
    const unsigned parts = schedule[2];
    unsigned count = 0;
    for (const unsigned *e = schedule + schedule[3 + parts + part], *end = schedule + schedule[3 + parts + part + 1];
         e < end; e += entry_words(e)) {
        const unsigned kind = e[0] & 3, n = e[0] >> 2;
        if (kind == kPartGroups)
            for (unsigned k = 0; k < n; ++k)
                for (unsigned l = 0; l < kGroupWidth; ++l) order[count++] = e[1 + k * kGroupWords + l] / 3;
        if (kind == kPartSequence)
            for (unsigned k = 0; k < n; ++k) order[count++] = e[1 + 3 * k];
    }
    return count;
}
