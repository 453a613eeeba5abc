// Included first by every source file of the kernel: the guards that keep its
// results exact whatever flags a file is compiled with, and what the files share.
//
// No multiply may be fused with the add that follows it (GCC fuses wherever the
// target has FMA, Clang within one expression), and no flag short of
// -ffast-math may reorder or rewrite the float arithmetic: a consumer's
// -funsafe-math-optimizations or its parts (-fassociative-math,
// -freciprocal-math, -fno-signed-zeros). Clang's precise float_control clears
// those but allows fusing within an expression, which the FP_CONTRACT after it
// forbids again. Clang ignores float_control where the target has no strict
// float support (WebAssembly): there the fp pragma clears reassociation and
// contraction, the two that changed the kernel's bits; what
// -freciprocal-math and -fno-signed-zeros still allow changes none of them.
// The pragmas come before every include so that the inline functions of the
// headers, the intrinsics among them, are covered as well.
#if defined(__clang__) && defined(__wasm__)
#pragma clang fp reassociate(off) contract(off)
#elif defined(__clang__)
#pragma float_control(precise, on)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off", "no-associative-math", "no-reciprocal-math", "signed-zeros")
#endif
// The kernel tests isfinite and relies on IEEE rounding of every operation.
#if defined(__FAST_MATH__) || (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "the physics kernel needs IEEE float semantics: build it without -ffast-math or -ffinite-math-only"
#endif
#if __cplusplus < 201703L
#error "the physics kernel is C++17: build it with -std=c++17 or later (clang++ 14 defaults to C++14)"
#endif
// Float expressions must be evaluated in float, never wider, or builds differ.
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#error "the physics kernel needs float arithmetic in float registers (SSE2, not x87)"
#endif

#ifndef PENSHELL_PHYSICS_KERNEL_H
#define PENSHELL_PHYSICS_KERNEL_H

#include <penshell/physics.h>
#include "physics_paths.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

// The vector intrinsics are in kernel_simd.h, for the files with vector paths:
// their headers cost most of a second's compiling a file.
#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
#define PHYSICS_X86 1
#endif
// WebAssembly's 128-bit vectors, when the build allows them (-msimd128): the
// format has no run-time feature check, so the path exists or it does not.
#if defined(__wasm_simd128__)
#define PHYSICS_WASM_SIMD 1
#endif

// Clang 14 given -ffp-contract=fast ignores the pragma above and fuses a
// multiply into the add or subtract that uses it, in scalar code and
// intrinsics alike. An empty asm that claims to change the product hides it
// from that fusion and costs no instruction, so every product (or halved
// product) that feeds an add or subtract goes through pinned(). GCC honours
// its pragma: there pinned() is the value itself. The vector overloads are in
// kernel_simd.h.
// In WebAssembly the asm names a local, which costs the engine nothing.
#if defined(__clang__) && (PHYSICS_X86 || defined(__aarch64__))
#define PHYSICS_PIN(reg, p) __asm__("" : reg(p))
#elif defined(__clang__) && defined(__wasm__)
#define PHYSICS_PIN(reg, p) __asm__("" : "+r"(p))
#elif defined(__clang__)
#define PHYSICS_PIN(reg, p) __asm__("" : "+m"(p))  // no register class known: a store and a load
#else
#define PHYSICS_PIN(reg, p) (void)0
#endif
#if defined(__aarch64__)
inline float pinned(float p) { PHYSICS_PIN("+w", p); return p; }
#else
inline float pinned(float p) { PHYSICS_PIN("+x", p); return p; }
#endif

// A spinning wait's hint to the processor.
inline void spin_pause() {
#if PHYSICS_X86
    __builtin_ia32_pause();
#endif
}

// Particles are handled as runs of six floats; the record has no padding.
static_assert(sizeof(TCVerlet) == 6 * sizeof(float), "TCVerlet is six floats");

// clen's two factors, written as bit patterns so no compiler or parser can round them differently.
constexpr float kClenShort = 0x1.a3d70ap-2f;  // 0.41f, bits 0x3ED1EB85
constexpr float kClenLong = 0x1.e1eafep-1f;   // 0.941246f, bits 0x3F70F57F

// clen, inlined into the spring code of every file.
inline float approx_len(float x1, float y1, float x2, float y2) {
    const float dx = std::fabs(x2 - x1);
    const float dy = std::fabs(y2 - y1);
    if (dy > dx) return pinned(kClenShort * dx) + pinned(kClenLong * dy);
    return pinned(kClenShort * dy) + pinned(kClenLong * dx);  // also when either is NaN
}

// c ? a : b, by its bits: compilers keep it free of branches.
inline float select_bits(bool c, float a, float b) {
    uint32_t ua, ub;
    std::memcpy(&ua, &a, sizeof ua);
    std::memcpy(&ub, &b, sizeof ub);
    const uint32_t mask = 0u - uint32_t(c), r = (ua & mask) | (ub & ~mask);
    float f;
    std::memcpy(&f, &r, sizeof f);
    return f;
}

// approx_len's bits with no branch: for springs whose directions follow no
// pattern (the groups of a pass), a branch on dy > dx is a coin toss.
inline float approx_len_unbranched(float x1, float y1, float x2, float y2) {
    const float dx = std::fabs(x2 - x1);
    const float dy = std::fabs(y2 - y1);
    const bool dy_longer = dy > dx;  // false also when either is NaN
    return pinned(kClenShort * select_bits(dy_longer, dx, dy)) + pinned(kClenLong * select_bits(dy_longer, dy, dx));
}

// The spring arithmetic, shared by spring_force and every path of spring_pass.
// Returns the error; moves (ax, ay) and (bx, by) only when it may. `Len` is
// approx_len or approx_len_unbranched.
template <float (*Len)(float, float, float, float) = approx_len>
inline float spring_move(float& ax, float& ay, float& bx, float& by, float rest_length) {
    const float x1 = ax, y1 = ay, x2 = bx, y2 = by;
    const float len = Len(x1, y1, x2, y2);
    const float err = rest_length - len;
    // Coincident particles have no direction to move along; dividing by a zero
    // length would write NaN or infinity into both records.
    if (!(len > 0.0f)) return err;
    const float ux = (x2 - x1) / len;
    const float uy = (y2 - y1) / len;
    const float mx = pinned((ux * err) / 2);
    const float my = pinned((uy * err) / 2);
    const float nax = x1 - mx, nay = y1 - my, nbx = x2 + mx, nby = y2 + my;
    // An infinite distance or error would give non-finite positions: keep the old ones.
    if (!(std::isfinite(nax) && std::isfinite(nay) && std::isfinite(nbx) && std::isfinite(nby)))
        return err;
    ax = nax;
    ay = nay;
    bx = nbx;
    by = nby;
    return err;
}

// The schedule, as spring_schedule writes it and spring_pass reads it:
//   word 0: the spring count it was made for (kScheduleUnusable after a refusal)
//   then runs until every spring is covered, each a header word and its data:
//     header kind | count << 1
//     kRunGroups: count groups of kGroupWidth springs that share no particle,
//       each kGroupWords words: the springs, then their a ends, then their b
//       ends, all as record offsets (see rest_at and pair_at)
//     kRunSequence: count springs to apply one after another, each three
//       words: its index, its a, its b
//   then, at plain_schedule_runs_words(spring_count): the particle count; the
//   number of words of rules entries after it; the entries, each a range of
//   particles as a part's entries are written (below), in the order the pass
//   reaches them. An entry's offset is where a group or a sequence's spring
//   ends (1: before the first), so a pass applies the rules between groups.
// The particle indices are copied so a pass never reads a particle that the
// schedule did not check against particle_count.
// Eight springs: one AVX-512 register of (x, y) pairs, two AVX2 steps, four
// SSE2 steps. Sixteen ran a 256x256 cloth as fast but left a 32x32 one half
// in sequences, where fewer than a group's width are ready.
constexpr unsigned kGroupWidth = 8;
constexpr unsigned kGroupWords = 3 * kGroupWidth;
constexpr unsigned kRunGroups = 0;
constexpr unsigned kRunSequence = 1;
constexpr unsigned kScheduleUnusable = 0xFFFFFFFFu;
// The runs take at most this many words, word 0 included; the word after
// them keeps the particle count, for the rules.
inline uint64_t plain_schedule_runs_words(uint64_t spring_count) {
    // Runs alternate between groups and sequences and a group run holds at
    // least one group: at most 2 * (spring_count / kGroupWidth) + 1 runs.
    return 1 + 3 * spring_count + 2 * (spring_count / kGroupWidth) + 1;
}
// The rules of a pass go through the particles in blocks of this many, few
// enough to be in the cache still when the block's last spring is done.
constexpr unsigned kRulesBlock = 512;
// Words of the plain schedule's rules entries at most: four an entry (one
// range), an entry a block or several side by side that finish at one place;
// blocks no spring touches join their like neighbours.
inline uint64_t plain_rules_words(uint64_t spring_count, uint64_t particle_count) {
    const uint64_t touched_blocks = std::min<uint64_t>(2 * spring_count, (particle_count + kRulesBlock - 1) / kRulesBlock);
    return 4 * (2 * touched_blocks + 1);
}

// Groups name records by offset, not index, so the group code adds them to a
// base address with no multiply: spring i is 3i, counted in floats (a spring
// is three floats), particle i is 3i, counted in (x, y) pairs of 8 bytes (a
// particle is three such pairs, the first of them its position).
inline unsigned record_offset(unsigned index) { return 3 * index; }
inline float rest_at(const TCSpring* springs, unsigned offset) { return (&springs->rest_length)[offset]; }
inline float* pair_at(TCVerlet* particles, unsigned offset) { return &particles->x + 2 * size_t(offset); }
inline const float* pair_at(const TCVerlet* particles, unsigned offset) { return &particles->x + 2 * size_t(offset); }

// Applies `count` groups of a group run (kGroupWords words each, from `groups`)
// and returns the largest absolute error among them, NaN errors left out.
typedef float (*SpringGroupsFn)(TCVerlet* particles, const TCSpring* springs, const unsigned* groups,
                                unsigned count);
#if PHYSICS_X86
float spring_groups_sse2(TCVerlet* particles, const TCSpring* springs, const unsigned* groups, unsigned count);
float spring_groups_avx2(TCVerlet* particles, const TCSpring* springs, const unsigned* groups, unsigned count);
float spring_groups_avx512(TCVerlet* particles, const TCSpring* springs, const unsigned* groups, unsigned count);
#endif
#if PHYSICS_WASM_SIMD
float spring_groups_simd128(TCVerlet* particles, const TCSpring* springs, const unsigned* groups, unsigned count);
#endif

// ---- The scheduler's parts, shared with the one for threads ----

constexpr unsigned kNoSpring = 0xFFFFFFFFu;

// Groups between a spring and the group that released it, when there are
// enough ready springs. On the machine measured, 0 to 16 ran the 256x256 to
// 368x368 cloths alike; 8 keeps a group's loads clear of stores still in
// flight on processors that mind, and the pass within a few dozen rows.
constexpr unsigned kMinDistance = 8;

// Groups hold record offsets, three times the index, in 32 bits.
constexpr uint64_t kMaxVectorIndex = uint64_t(UINT32_MAX) / 3;

// A set of indices below a size fixed when it is made, that gives up its
// lowest first: a bit an index, and above those a bit for each word that
// holds any, and so on up to a single word. Adding and taking cost a few
// words' reads each, where a heap of ready springs took a dozen steps of
// branches nobody could predict.
struct LowestFirst {
    static constexpr unsigned kMaxLevels = 6;  // 64^6 indices: more than 32 bits
    uint64_t* bits;
    size_t level_at[kMaxLevels];  // where each level's words start, the indices' own first
    unsigned levels;
    size_t low;  // no index lies in a word of the first level below this one

    // Words for `size` indices, and the set over that many zeroed words.
    static size_t words(size_t size);
    void init(uint64_t* zeroed, size_t size);
    void insert(unsigned i) {
        if ((i >> 6) < low) low = i >> 6;
        for (unsigned l = 0; l < levels; ++l, i >>= 6) {
            uint64_t& w = bits[level_at[l] + (i >> 6)];
            const bool had = w != 0;
            w |= uint64_t(1) << (i & 63);
            if (had) return;  // the levels above know of this word already
        }
    }
    // The set must not be empty. Ready springs gather at the low end, so the
    // word of the last one taken usually holds the next too.
    unsigned take_lowest() {
        unsigned i;
        if (bits[low] != 0) {
            i = unsigned(low << 6) | unsigned(__builtin_ctzll(bits[low]));
        } else {
            i = 0;
            for (unsigned l = levels; l-- > 0;) i = i << 6 | unsigned(__builtin_ctzll(bits[level_at[l] + i]));
            low = i >> 6;
        }
        // Each bit on the way up is its word's lowest: clear them until a
        // word keeps another.
        for (unsigned l = 0, j = i; l < levels; ++l, j >>= 6) {
            uint64_t& w = bits[level_at[l] + (j >> 6)];
            w &= w - 1;
            if (w != 0) break;
        }
        return i;
    }
};

// Work memory of a scheduler, freed when it returns.
struct SpringGraph {
    unsigned* next;          // two per spring: the springs that wait for it (kNoSpring: none)
    // Per spring: how many unplaced springs it still waits for. Not a char:
    // a store through a char may alias anything, and every pointer and count
    // of the placing would be read again after each.
    uint16_t* waiting;
    unsigned* queue;         // released springs in order (and their due group), or a sequence's
    unsigned* due;
    uint64_t* ready;         // the bits of the pools' LowestFirst sets, one after another
    unsigned* last;          // per particle: the last spring on it (kNoSpring: none)
    const TCSpring* springs;  // the springs linked
};

// Every array of n entries (one at least), the particles' of particle_count;
// false, with whatever was had still to be freed by free_graph, when the
// memory cannot be had. `pools`: how many ready sets the springs are shared
// among, each over all of them (its words are only touched where its
// springs are: cheap, as long as nobody zeroes them by hand).
bool allocate_graph(SpringGraph& g, unsigned spring_count, unsigned particle_count, unsigned pools = 1);
void free_graph(SpringGraph& g);
// Each end of each spring (slot 2 * spring + end) and the spring before it
// on that particle (for the particle's first end, kWrapFlag and the last
// spring on it: the one before in the pass before), and the end that names
// each particle first (kNoSpring: none): what the parts' scheduler needs.
constexpr unsigned kWrapFlag = 1u << 31;
struct SpringEnds {
    unsigned* prev;   // two a spring
    unsigned* first;  // one a particle
    // Spring i from a to b, the springs before it on them as link_springs keeps them.
    void note(unsigned i, unsigned a, unsigned b, unsigned from_a, unsigned from_b) {
        if (from_a == kNoSpring) first[a] = 2 * i; else prev[2 * size_t(i)] = from_a >> 1;
        if (b == a) prev[2 * size_t(i) + 1] = i;
        else if (from_b == kNoSpring) first[b] = 2 * i + 1;
        else prev[2 * size_t(i) + 1] = from_b >> 1;
    }
};

// Fills next and waiting: each spring waits for the previous spring on each
// of its particles; and last; and `ends`, if given. False when a spring names
// a particle at or past particle_count. There are fewer than 2^31 springs.
bool link_springs(const TCSpring* springs, unsigned spring_count, unsigned particle_count, SpringGraph& g,
                  SpringEnds* ends = nullptr);

// Springs ready to join a group, the lowest index first, and the springs
// released by groups, waiting in order until they are due. Its arrays hold as
// many springs as may pass through it.
//
// The ready are few at a time while a set is swept in its order (a cloth's
// a dozen): they are kept in a short array, those made ready since the last
// take sorted in then. Past its length (a set in no order, a sequence
// drained) they all go to a LowestFirst set until it is empty again.
struct ReadyPool {
    static constexpr unsigned kFew = 32;
    unsigned few[kFew];
    unsigned first, sorted, end;  // few[first, end) ready, increasing up to `sorted`
    bool many;                    // the ready are in `ready` instead
    LowestFirst ready;
    unsigned *queue, *due;
    unsigned ready_count, head, tail;

    // A pool of springs below `size`, its LowestFirst set in `bits` (zeroed).
    void init(uint64_t* bits, size_t size, unsigned* pool_queue, unsigned* pool_due) {
        first = sorted = end = 0, many = false;
        ready.init(bits, size);
        queue = pool_queue, due = pool_due;
        ready_count = head = tail = 0;
    }
    void make_ready(unsigned i) {
        ++ready_count;
        if (!many && end == kFew) room();
        if (many) return ready.insert(i);
        few[end++] = i;
    }
    unsigned take_lowest() {
        --ready_count;
        if (many) {
            many = ready_count != 0;
            return ready.take_lowest();
        }
        if (sorted == first && sorted < end) ++sorted;
        for (; sorted < end; ++sorted) {  // insertion: the new are mostly above the rest
            const unsigned i = few[sorted];
            unsigned k = sorted;
            if (i < few[first]) {  // below them all: no need to look for where to stop
                for (; k > first; --k) few[k] = few[k - 1];
            } else {
                for (; few[k - 1] > i; --k) few[k] = few[k - 1];
            }
            few[k] = i;
        }
        const unsigned i = few[first++];
        if (first == end) first = sorted = end = 0;
        return i;
    }
    // The array is full to its end: moved down, or all of it into the set.
    void room() {
        if (first == 0) {
            for (unsigned k = 0; k < kFew; ++k) ready.insert(few[k]);
            many = true, sorted = end = 0;
            return;
        }
        std::memmove(few, few + first, (end - first) * sizeof(unsigned));
        sorted -= first, end -= first, first = 0;
    }
    // Those due by `group` become ready; so do earlier ones when the ready
    // are fewer than `wanted`. The few still waiting then move to the
    // queue's start now and then, so that it keeps to a few pages of memory
    // (pages never touched cost nothing) while every spring passes through it.
    void make_due_ready(unsigned group, unsigned wanted) {
        while (head < tail && (due[head] <= group || ready_count < wanted)) make_ready(queue[head++]);
        if (head < 1024 || tail - head > head) return;
        std::memmove(queue, queue + head, (tail - head) * sizeof(unsigned));
        std::memmove(due, due + head, (tail - head) * sizeof(unsigned));
        tail -= head, head = 0;
    }
    unsigned size() const { return ready_count + (tail - head); }
    // Springs that waited only for `placed` are released, due `when`.
    void release_next(const SpringGraph& g, unsigned placed, unsigned when) {
        for (int k = 0; k < 2; ++k) {
            const unsigned j = g.next[2 * size_t(placed) + k];
            if (j == kNoSpring || --g.waiting[j] != 0) continue;
            queue[tail] = j, due[tail++] = when;
            prefetch_spring(g, j);
        }
    }
    // A spring just released is placed a few groups later: its words are
    // fetched meanwhile, scattered as a sweep's ready springs are over many rows.
    static void prefetch_spring(const SpringGraph& g, unsigned j) {
        __builtin_prefetch(g.springs + j);
        __builtin_prefetch(g.next + 2 * size_t(j));
    }
};

// Shared with the parts of a pass (spring_parts.cpp): the group code of a
// path, sequences, and the largest error kept the same way everywhere.
SpringGroupsFn spring_groups_for(int path);
float apply_sequence(TCVerlet* particles, const TCSpring* springs, const unsigned* run, unsigned count);
// spring_pass with the given group code.
float run_schedule(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                   const unsigned* schedule);
inline void keep_largest(float& largest, float err) {
    const float e = std::fabs(err);
    if (e > largest) largest = e;  // a NaN error is left out
}

// ---- Schedules for parts on several threads ----
// As spring_schedule_parts writes it:
//   word 0: kPartsSchedule (kScheduleUnusable after a refusal), 1: the spring
//   count, 2: the part count P; then P words, each part's steps a pass; then
//   P + 1 words, where each part's stream starts (the last: where it ends);
//   then the particle count; then P + 1 words, where each part's rules start
//   (the last: where they end)
// A part's stream is a list of entries, header kind | value << 2:
//   kPartGroups, kPartSequence: a run as in a schedule (kernel.h above),
//     value its count, its data after it
//   kPartWait: wait until part q has published v steps of this pass (or of
//     the previous one), value wrap | q << 1, v in the word after it
//   kPartPublish: tell the others that value steps of this pass are done
// A part's steps are what it places at a time; only the steps some part
// waits for are published, and runs with no entry between them are one.
// spring_pass, given such a schedule, runs all the parts on its thread.
constexpr unsigned kPartsSchedule = 0xFFFFFFFEu;
constexpr unsigned kPartGroups = 0, kPartSequence = 1, kPartWait = 2, kPartPublish = 3;
constexpr unsigned kMaxParts = 64;
// A part's rules (spring_pass_part_rules) are entries, each where the part
// applies the rules to some particles: the stream offset it reaches first
// (before the entry there, or at the stream's end), a count, and that many
// particle indices in increasing order, or (count | kRulesRanges) that many
// [first, end) pairs of them, in increasing order. The
// particles are those whose last spring in the pass the part applies before
// that point, since the previous entry; part 0 also has those no spring
// touches, at its end. Every entry comes before the publish that releases
// its particles to other parts.
constexpr unsigned kRulesRanges = 1u << 31;
inline unsigned parts_header_words(unsigned parts) { return 6 + 3 * parts; }
inline unsigned parts_particle_word(unsigned parts) { return 4 + 2 * parts; }
inline unsigned parts_rules_word(unsigned parts, unsigned part) { return 5 + 2 * parts + part; }


// ---- Rules (rules.cpp) ----
// One plane, circle or hold on one particle, as the header's reference says.
inline void plane_move(float& x, float& y, const TCPlane& pl) {
    const float t = pinned(pl.nx * x) + pinned(pl.ny * y);
    if (!(t < pl.d)) return;  // NaN too
    const float pen = pl.d - t;
    const float nx = x + pinned(pl.nx * pen), ny = y + pinned(pl.ny * pen);
    if (!(std::isfinite(nx) && std::isfinite(ny))) return;
    x = nx, y = ny;
}

inline void circle_move(float& x, float& y, const TCCircle& c) {
    const float len = approx_len(c.x, c.y, x, y);
    if (!(len > 0.0f && len < c.radius)) return;
    const float nx = c.x + pinned(((x - c.x) / len) * c.radius);
    const float ny = c.y + pinned(((y - c.y) / len) * c.radius);
    if (!(std::isfinite(nx) && std::isfinite(ny))) return;
    x = nx, y = ny;
}

inline void shapes_move(float& x, float& y, const TCRules& r) {
    for (unsigned k = 0; k < r.plane_count; ++k) plane_move(x, y, r.planes[k]);
    for (unsigned k = 0; k < r.circle_count; ++k) circle_move(x, y, r.circles[k]);
}

inline void hold_put(TCVerlet& p, const TCHold& h) {
    if (!(std::isfinite(h.x) && std::isfinite(h.y))) return;
    p.x = h.x, p.y = h.y;
    if (h.still) p.old_x = h.x, p.old_y = h.y;
}

// Planes and circles on particles [first, end), and on a list of particles
// (no particle twice), a path's code for them.
typedef void (*RuleShapesFn)(TCVerlet* particles, unsigned first, unsigned end, const TCRules& rules);
typedef void (*RuleShapesListFn)(TCVerlet* particles, const unsigned* list, unsigned count, const TCRules& rules);
void rule_shapes_scalar(TCVerlet* particles, unsigned first, unsigned end, const TCRules& rules);
void rule_shapes_list_scalar(TCVerlet* particles, const unsigned* list, unsigned count, const TCRules& rules);
#if PHYSICS_X86
void rule_shapes_sse2(TCVerlet* particles, unsigned first, unsigned end, const TCRules& rules);
void rule_shapes_avx2(TCVerlet* particles, unsigned first, unsigned end, const TCRules& rules);
void rule_shapes_list_sse2(TCVerlet* particles, const unsigned* list, unsigned count, const TCRules& rules);
void rule_shapes_list_avx2(TCVerlet* particles, const unsigned* list, unsigned count, const TCRules& rules);
#endif
#if PHYSICS_WASM_SIMD
void rule_shapes_simd128(TCVerlet* particles, unsigned first, unsigned end, const TCRules& rules);
void rule_shapes_list_simd128(TCVerlet* particles, const unsigned* list, unsigned count, const TCRules& rules);
#endif
struct RuleShapes {
    RuleShapesFn range;
    RuleShapesListFn list;
};
RuleShapes rule_shapes_for(int path);
// A null rules record as no rules.
inline TCRules rules_or_none(const TCRules* rules) { return rules ? *rules : TCRules{}; }

// A pass's rules entries (a part's, or the plain schedule's: the layouts
// above), applied as the pass reaches the places they name.
struct RuleEntries {
    const unsigned* schedule;
    const unsigned* at;  // the next entry
    const unsigned* end;
    RuleShapes shapes;
    TCRules rules;
    TCVerlet* particles;
    const uint64_t* sorted;  // (particle << 32 | hold), increasing; null: too many holds to sort
    unsigned sorted_count;
    bool holds;  // false: the holds are put after the pass instead

    // Where the next entry is to be applied, or `limit` if that is not before it.
    const unsigned* until(const unsigned* limit) const {
        return at < end && schedule + at[0] < limit ? schedule + at[0] : limit;
    }
    // The entries at `position`, if any.
    void reach(const unsigned* position) {
        if (at < end && schedule + at[0] == position) apply(position);
    }
    void apply(const unsigned* position);
    void hold_in(const unsigned* data, unsigned count, bool ranges);
};
// No rules: a pass's runs go whole.
struct NoRules {
    const unsigned* until(const unsigned* limit) const { return limit; }
    void reach(const unsigned*) {}
};

// Holds sorted by particle before a pass, for RuleEntries: at most this
// many, into `sorted`, each particle's in their order; false when there are
// more (they are then looked through at every entry, or put after the pass).
constexpr unsigned kSortedHolds = 512;
bool sort_holds(const TCRules& rules, uint64_t* sorted);
// The entries of part `part` of a parts schedule, or (part kMaxParts) the
// plain schedule's, for the rules `rules` on `particles`.
RuleEntries rule_entries(const unsigned* schedule, unsigned spring_count, unsigned part, RuleShapes shapes,
                         const TCRules& rules, TCVerlet* particles, const uint64_t* sorted, bool holds);

// spring_pass through a plain schedule it follows, the rules applied as it
// reaches their entries; and through a parts schedule on one thread, each
// part's own rules (kMaxParts of them) as its stream reaches them.
float run_schedule_rules(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                         const unsigned* schedule, RuleEntries& rules);
float run_parts_schedule(SpringGroupsFn groups, TCVerlet* particles, const TCSpring* springs,
                         unsigned spring_count, const unsigned* schedule, RuleEntries* rules = nullptr);
// False when a hold names a particle at or past particle_count.
bool holds_within(const TCRules& rules, unsigned particle_count);
// The particle count the schedule was made with, or `otherwise` for a schedule that is not followed.
unsigned schedule_particle_count(const unsigned* schedule, unsigned spring_count, unsigned otherwise);
// spring_pass_rules with the given group and shape code.
float pass_rules(SpringGroupsFn groups, RuleShapes shapes, TCVerlet* particles, const TCSpring* springs,
                 unsigned spring_count, const unsigned* schedule, unsigned particle_count, const TCRules* rules);

#endif
