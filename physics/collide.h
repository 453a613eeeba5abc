// What the collision code shares (collide.cpp, collide_parts.cpp and the
// processor paths): the grid, its phases, and the arithmetic of a contact.
// Included after kernel.h.
//
// A call runs in phases, which the parts of particle_collide_part split
// among themselves, meeting between them:
//   stats    over ranges of particles: the largest radius and the extent of
//            those that may collide (finite position, finite radius above 0)
//   plan     the same grid worked out by every part from the merged stats
//   keys     over ranges of particles: each one's cell
//   count and scatter, over ranges of cells: how many particles each holds
//            (and the cells before the range, which tells where it starts),
//            then the particles copied into the sorted arrays, each cell's
//            in increasing index (a counting sort)
//   contacts over ranges of the sorted particles: each particle's contacts,
//            summed in increasing index, its new position written
// Contacts read only the sorted copies, so a part writes positions as soon as
// every part has scattered: no particle's result depends on another's move.
//
// The grid's cells are wider than any two particles can reach: clen is at
// least 0.941246 times the larger of |dx| and |dy| (each product rounded, so
// a little less), so a pair in reach lies at most 1.0625 times its reach
// apart along either axis (1 / 0.941246 = 1.06242), and cells of 1.0625 times
// twice the largest radius put it in the same or neighbouring cells. Cell
// coordinates are worked out in double: their rounding is far below a cell.
//   dense:  a cols x rows grid over the particles' extent with a border of
//           empty cells, when it takes at most four cells a particle (cells
//           are widened up to eightfold to fit); a row's three neighbouring
//           cells are one run of the sorted arrays, so a particle reads three
//           runs, each at a fixed offset from its cell.
//   hashed: cells far apart (huge coordinates, a few outliers) hashed into
//           buckets; two cells may share one, which only adds candidates.
#ifndef PENSHELL_PHYSICS_COLLIDE_H
#define PENSHELL_PHYSICS_COLLIDE_H

#include <algorithm>
#include <cstdint>

constexpr unsigned kCollideNone = 0xFFFFFFFFu;

// A particle may collide when its radius is finite and above 0 and its
// position finite: the reference's pairs with any other never pass its test.
inline bool may_collide(const TCVerlet& p, float radius) {
    return std::isfinite(radius) && radius > 0.0f && std::isfinite(p.x) && std::isfinite(p.y);
}

struct CollideStats {
    float largest_radius;
    float min_x, max_x, min_y, max_y;
    unsigned count;  // how many may collide
};

struct CollideGrid {
    bool dense;
    double inverse;       // 1 / the cell's width
    double min_x, min_y;  // dense: the grid's corner
    unsigned cols, rows;  // dense, with a border of empty cells all around
    unsigned bits;        // hashed: 2^bits buckets
    unsigned cells;       // cols * rows, or 2^bits
    unsigned* starts;     // cells + 1: where each cell's particles start in the sorted arrays
    unsigned* keys;       // per particle: its cell, or kCollideNone
    // The particles that may collide, by cell, each cell's in increasing
    // index; padded past the end for whole vector loads.
    float *xs, *ys, *rs;
    unsigned* ids;
    unsigned count;
};

// Vector loads may read this many entries past the sorted particles.
constexpr unsigned kCollidePad = 16;

// Phases (collide.cpp). `work` holds particle_collide_words(n) words.
CollideStats collide_stats(const TCVerlet* particles, const float* radii, unsigned first, unsigned end);
CollideStats collide_merge(const CollideStats& a, const CollideStats& b);
CollideGrid collide_plan(unsigned* work, unsigned n, const CollideStats& all);
void collide_keys(CollideGrid& g, const TCVerlet* particles, const float* radii, unsigned first, unsigned end);
// Counts cells [first, end) into starts, each its end counted from the
// range's first; returns how many particles the cells before the range hold,
// where the range starts in the sorted arrays.
unsigned collide_count(CollideGrid& g, unsigned n, unsigned first, unsigned end);
// Copies the particles of cells [first, end) into the sorted arrays from
// `offset` (where the range starts) and leaves starts[c] at each cell's start;
// the range ending the grid also writes starts[cells] and the padding.
void collide_scatter(CollideGrid& g, const TCVerlet* particles, const float* radii, unsigned n, unsigned first,
                     unsigned end, unsigned offset);

// ---- One particle's contacts ----

// Contacts found but not yet summed, in the order found: the other
// particle, the way to it (p[j] - p[i]), clen and the overlap (reach - len);
// then `moves` turns the way into the move in place. Vector code stores whole
// registers: room past the capacity for one more.
constexpr unsigned kContactCapacity = 64;
struct Contacts {
    unsigned j[kContactCapacity + 16];
    float to_x[kContactCapacity + 16], to_y[kContactCapacity + 16];
    float len[kContactCapacity + 16], overlap[kContactCapacity + 16];
};

// The reference's move of particle i by particle j, as i sums it: the
// reference subtracts ((p[b] - p[a]) / len) * half when i is a and adds it
// when i is b; (p[a] - p[b]) is exactly -(p[b] - p[a]), so both are
// sx - ((p[j] - p[i]) / len) * half, to the bit (a zero's sign aside, which no
// sum starting from +0 can see). Half the overlap is taken as a product by
// 0.5, which gives the bits of dividing by 2 for every float.
inline float contact_move(float to_j, float len, float overlap) { return pinned((to_j / len) * (overlap * 0.5f)); }

// The cell holding sorted position s.
unsigned collide_cell_of(const CollideGrid& g, unsigned s);
// Where a hashed grid's candidates of (x, y) lie: the distinct buckets of the
// nine neighbouring cells, each a run [begin, end) of the sorted arrays.
unsigned collide_hashed_runs(const CollideGrid& g, float x, float y, unsigned* begin, unsigned* end);
// Sums `count` contacts (their moves made) in increasing index and moves
// particle p by them when the result is finite; returns their largest overlap.
__attribute__((always_inline)) inline float collide_sum(const Contacts& c, unsigned count, float x, float y,
                                                        TCVerlet& p) {
    // The contacts mostly come in order (the runs' cells are in order, each
    // cell's particles too): then they are summed as they are, and otherwise
    // through an insertion sort of their places.
    float largest = c.overlap[0];
    bool in_order = true;
    for (unsigned k = 1; k < count; ++k) in_order &= c.j[k - 1] < c.j[k], largest = std::max(largest, c.overlap[k]);
    float sx = 0.0f, sy = 0.0f;
    if (in_order) {
        for (unsigned k = 0; k < count; ++k) sx = sx - c.to_x[k], sy = sy - c.to_y[k];
    } else {
        unsigned order[kContactCapacity];
        for (unsigned k = 0; k < count; ++k) {
            unsigned at = k;
            for (; at > 0 && c.j[order[at - 1]] > c.j[k]; --at) order[at] = order[at - 1];
            order[at] = k;
        }
        for (unsigned k = 0; k < count; ++k) sx = sx - c.to_x[order[k]], sy = sy - c.to_y[order[k]];
    }
    const float nx = x + sx / float(count), ny = y + sy / float(count);
    if (std::isfinite(nx) && std::isfinite(ny)) p.x = nx, p.y = ny;
    return largest;
}
// A particle with more contacts than a Contacts holds: its cells merged in
// increasing index, each contact summed as it comes.
float collide_merged(const CollideGrid& g, unsigned cell, unsigned s, TCVerlet& p);

// The contact code of sorted particles [first, end) on one path; returns the
// largest overlap. Each path is collide_range with a finder of its own.
typedef float (*CollideRangeFn)(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end);
float collide_range_scalar(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end);
#if PHYSICS_X86
float collide_range_sse2(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end);
float collide_range_avx2(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end);
float collide_range_avx512(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end);
#endif
#if PHYSICS_WASM_SIMD
float collide_range_simd128(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end);
#endif
CollideRangeFn collide_range_for(int path);

// The loop of every path. A finder has
//   void particle(x, y, r): the particle whose contacts are found next;
//   unsigned find(g, begin, end, c, count): appends its contacts among
//     sorted particles [begin, end) to c from `count` and returns the new
//     count (past kContactCapacity: stopped there);
//   void moves(c, count): each contact's move from its way, length and
//     overlap, and ready for the next particle.
// A dense grid's three row runs of a cell are at fixed offsets in starts
// (the border spares every test); a particle with more contacts than a
// Contacts holds is merged instead. Inlined always, so that the finder
// inlines into the path's own function, which carries its target (a finder
// cannot inline into code compiled for less).
template <class Find>
__attribute__((always_inline)) inline float collide_range(const CollideGrid& g, TCVerlet* particles, unsigned first,
                                                          unsigned end, Find find) {
    float largest = 0.0f;
    if (first >= end) return largest;
    Contacts c;
    unsigned cell = collide_cell_of(g, first), begin[9], stop[9];
    const unsigned* row[3] = {};
    for (unsigned s = first; s < end; ++s) {
        const float x = g.xs[s], y = g.ys[s], r = g.rs[s];
        unsigned count = 0;
        find.particle(x, y, r);
        if (g.dense) {
            if (g.starts[cell + 1] <= s) {
                while (g.starts[cell + 1] <= s) ++cell;
                row[0] = g.starts + (cell - g.cols), row[1] = g.starts + cell, row[2] = g.starts + (cell + g.cols);
            } else if (!row[1]) {
                row[0] = g.starts + (cell - g.cols), row[1] = g.starts + cell, row[2] = g.starts + (cell + g.cols);
            }
            // Past the capacity the contacts are merged instead: a finder
            // given more would store past the room a Contacts has.
            count = find.find(g, row[0][-1], row[0][2], c, count);
            if (count <= kContactCapacity) count = find.find(g, row[1][-1], row[1][2], c, count);
            if (count <= kContactCapacity) count = find.find(g, row[2][-1], row[2][2], c, count);
        } else {
            while (g.starts[cell + 1] <= s) ++cell;
            // By particle: two cells may share a bucket.
            const unsigned runs = collide_hashed_runs(g, x, y, begin, stop);
            for (unsigned k = 0; k < runs && count <= kContactCapacity; ++k)
                count = find.find(g, begin[k], stop[k], c, count);
        }
        if (count == 0) continue;
        find.moves(c, count);
        TCVerlet& p = particles[g.ids[s]];
        const float e = count <= kContactCapacity ? collide_sum(c, count, x, y, p) : collide_merged(g, cell, s, p);
        if (e > largest) largest = e;
    }
    return largest;
}

#endif
