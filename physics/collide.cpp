// particle_collide: every two overlapping particles pushed apart at once (a
// Jacobi step). A grid finds the candidates (collide.h says how); each
// particle then sums its contacts in increasing index, as the header's
// reference does, and the new positions are written only once every particle
// has been copied into the grid. This file: the grid's phases, the parts of a
// contact every path shares, the portable path and the one-thread call.
#include "kernel.h"
#include "collide.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Cells a particle at most, for a dense grid; past that the cells widen (up
// to kMostWidening times) or the grid is hashed.
constexpr double kCellsPerParticle = 4.0;
constexpr double kMostWidening = 8.0;
// Cells 1.0625 times twice the largest radius: see collide.h.
constexpr double kCellPerRadius = 2.125;
// Hashed cell coordinates are clamped here, inside 64 bits with room for the
// neighbours. Past 2^24 cells floats are more than a cell apart, so only
// equal coordinates can be in reach there, and they land in the same cell.
constexpr double kCellLimit = 4611686018427387904.0;  // 2^62

unsigned words_aligned(size_t words) { return unsigned((words + 15) & ~size_t(15)); }

// The sorted arrays start on a cache line of the work memory.
unsigned* aligned(unsigned* p) {
    return reinterpret_cast<unsigned*>((reinterpret_cast<uintptr_t>(p) + 63) & ~uintptr_t(63));
}

unsigned bucket_bits(unsigned n) {
    unsigned bits = 1;
    while ((uint64_t(1) << bits) < n) ++bits;
    return bits;
}

unsigned starts_words(unsigned n) { return unsigned(kCellsPerParticle) * n + 64 + 1; }

int64_t hashed_coordinate(float v, double inverse) {
    const double u = std::floor(double(v) * inverse);
    return int64_t(std::min(std::max(u, -kCellLimit), kCellLimit));
}

unsigned bucket_of(int64_t cx, int64_t cy, unsigned bits) {
    const uint64_t h = uint64_t(cx) * 0x9E3779B97F4A7C15ull ^ uint64_t(cy) * 0xC2B2AE3D27D4EB4Full;
    return unsigned((h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull >> (64 - bits));
}

// A dense grid's column or row of a coordinate, past the border: v is at
// least min, so the product is at least 0 and truncation is its floor.
unsigned dense_coordinate(float v, double min, double inverse, unsigned size) {
    const double u = (double(v) - min) * inverse;
    return 1 + (u < double(size - 3) ? unsigned(u) : size - 3);
}

unsigned cell_of(const CollideGrid& g, float x, float y) {
    if (g.dense)
        return dense_coordinate(y, g.min_y, g.inverse, g.rows) * g.cols + dense_coordinate(x, g.min_x, g.inverse, g.cols);
    return bucket_of(hashed_coordinate(x, g.inverse), hashed_coordinate(y, g.inverse), g.bits);
}

// Columns or rows over a span at this width, as a double (it may be huge).
double dense_size(double span, double inverse) { return std::floor(span * inverse) + 1.0; }

}  // namespace

CollideStats collide_stats(const TCVerlet* p, const float* radii, unsigned first, unsigned end) {
    CollideStats s{0.0f, INFINITY, -INFINITY, INFINITY, -INFINITY, 0};
    for (unsigned i = first; i < end; ++i) {
        if (!may_collide(p[i], radii[i])) continue;
        s.largest_radius = std::max(s.largest_radius, radii[i]);
        s.min_x = std::min(s.min_x, p[i].x), s.max_x = std::max(s.max_x, p[i].x);
        s.min_y = std::min(s.min_y, p[i].y), s.max_y = std::max(s.max_y, p[i].y);
        ++s.count;
    }
    return s;
}

CollideStats collide_merge(const CollideStats& a, const CollideStats& b) {
    return CollideStats{std::max(a.largest_radius, b.largest_radius), std::min(a.min_x, b.min_x),
                        std::max(a.max_x, b.max_x),                   std::min(a.min_y, b.min_y),
                        std::max(a.max_y, b.max_y),                   a.count + b.count};
}

CollideGrid collide_plan(unsigned* work, unsigned n, const CollideStats& all) {
    CollideGrid g{};
    g.starts = work;
    g.keys = g.starts + starts_words(n);
    const unsigned sorted_words = words_aligned(size_t(n) + kCollidePad);
    g.xs = reinterpret_cast<float*>(aligned(g.keys + n));
    g.ys = g.xs + sorted_words;
    g.rs = g.ys + sorted_words;
    g.ids = reinterpret_cast<unsigned*>(g.rs + sorted_words);
    g.count = all.count;
    if (all.count == 0) return g;
    double cell = kCellPerRadius * double(all.largest_radius);
    const double span_x = double(all.max_x) - double(all.min_x), span_y = double(all.max_y) - double(all.min_y);
    const double budget = kCellsPerParticle * double(n) + 64.0;
    // A border of empty cells around the grid: every cell has eight neighbours.
    double cols = dense_size(span_x, 1.0 / cell) + 2, rows = dense_size(span_y, 1.0 / cell) + 2;
    if (cols * rows > budget) {
        // Wider cells, when a little widening fits the extent into the budget.
        const double widen = std::sqrt(cols * rows / budget);
        if (widen <= kMostWidening) {
            for (cell *= widen; (cols = dense_size(span_x, 1.0 / cell) + 2) * (rows = dense_size(span_y, 1.0 / cell) + 2) > budget;)
                cell *= 1.0625;
        }
    }
    g.inverse = 1.0 / cell;
    if (cols * rows <= budget) {
        g.dense = true;
        g.min_x = all.min_x, g.min_y = all.min_y;
        g.cols = unsigned(cols), g.rows = unsigned(rows);
        g.cells = g.cols * g.rows;
    } else {
        g.bits = bucket_bits(n);
        g.cells = 1u << g.bits;
    }
    return g;
}

void collide_keys(CollideGrid& g, const TCVerlet* p, const float* radii, unsigned first, unsigned end) {
    for (unsigned i = first; i < end; ++i) g.keys[i] = may_collide(p[i], radii[i]) ? cell_of(g, p[i].x, p[i].y) : kCollideNone;
}

// Each cell's start is left at its end (an inclusive sum): the scatter fills
// cells from their ends, backwards, and leaves each at its start.
unsigned collide_count(CollideGrid& g, unsigned n, unsigned first, unsigned end) {
    std::fill(g.starts + first, g.starts + end, 0u);
    unsigned before = 0;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned k = g.keys[i];
        before += k < first;
        if (k - first < end - first) ++g.starts[k];
    }
    unsigned total = 0;
    for (unsigned c = first; c < end; ++c) g.starts[c] = total += g.starts[c];
    return before;
}

void collide_scatter(CollideGrid& g, const TCVerlet* p, const float* radii, unsigned n, unsigned first, unsigned end,
                     unsigned offset) {
    if (offset != 0)
        for (unsigned c = first; c < end; ++c) g.starts[c] += offset;
    // Backwards, so that each cell holds its particles in increasing index.
    for (unsigned i = n; i-- > 0;) {
        const unsigned k = g.keys[i];
        if (k - first >= end - first) continue;
        const unsigned s = --g.starts[k];
        g.xs[s] = p[i].x, g.ys[s] = p[i].y, g.rs[s] = radii[i], g.ids[s] = i;
    }
    if (end == g.cells) {
        g.starts[g.cells] = g.count;
        for (unsigned k = g.count; k < g.count + kCollidePad; ++k) g.xs[k] = g.ys[k] = g.rs[k] = 0.0f, g.ids[k] = 0;
    }
}

unsigned collide_hashed_runs(const CollideGrid& g, float x, float y, unsigned* begin, unsigned* end) {
    const int64_t cx = hashed_coordinate(x, g.inverse), cy = hashed_coordinate(y, g.inverse);
    unsigned seen[9], buckets = 0, runs = 0;
    for (int64_t dy = -1; dy <= 1; ++dy)
        for (int64_t dx = -1; dx <= 1; ++dx) {
            const unsigned b = bucket_of(cx + dx, cy + dy, g.bits);
            if (std::find(seen, seen + buckets, b) != seen + buckets) continue;
            seen[buckets++] = b;
            begin[runs] = g.starts[b], end[runs] = g.starts[b + 1], runs += begin[runs] < end[runs];
        }
    return runs;
}

unsigned collide_cell_of(const CollideGrid& g, unsigned s) {
    // The last cell whose start is at or before s.
    return unsigned(std::upper_bound(g.starts, g.starts + g.cells + 1, s) - g.starts) - 1;
}

float collide_merged(const CollideGrid& g, unsigned cell, unsigned s, TCVerlet& p) {
    // The runs of single cells, each in increasing index.
    unsigned at[9], end[9], lists = 0;
    const float x = g.xs[s], y = g.ys[s], r = g.rs[s];
    if (g.dense) {
        for (const unsigned row : {cell - g.cols, cell, cell + g.cols})
            for (unsigned c = row - 1; c <= row + 1; ++c) at[lists] = g.starts[c], end[lists] = g.starts[c + 1], ++lists;
    } else {
        lists = collide_hashed_runs(g, x, y, at, end);
    }
    float sx = 0.0f, sy = 0.0f, largest = 0.0f;
    unsigned contacts = 0;
    for (;;) {
        unsigned next = kCollideNone, from = 0;
        for (unsigned l = 0; l < lists; ++l)
            if (at[l] < end[l] && g.ids[at[l]] < next) next = g.ids[at[l]], from = l;
        if (next == kCollideNone) break;
        const unsigned k = at[from]++;
        const float len = approx_len(x, y, g.xs[k], g.ys[k]), reach = g.rs[k] + r;
        if (!(0.0f < len && len < reach)) continue;  // itself too: len 0
        const float overlap = reach - len;
        sx = sx - contact_move(g.xs[k] - x, len, overlap), sy = sy - contact_move(g.ys[k] - y, len, overlap);
        largest = std::max(largest, overlap);
        ++contacts;
    }
    const float nx = x + sx / float(contacts), ny = y + sy / float(contacts);
    if (contacts > 0 && std::isfinite(nx) && std::isfinite(ny)) p.x = nx, p.y = ny;
    return largest;
}

namespace {

// The portable path: candidates one at a time.
struct FindScalar {
    float x, y, r;
    void particle(float px, float py, float pr) { x = px, y = py, r = pr; }
    unsigned find(const CollideGrid& g, unsigned begin, unsigned stop, Contacts& c, unsigned count) const {
        for (unsigned k = begin; k < stop; ++k) {
            const float len = approx_len(x, y, g.xs[k], g.ys[k]), reach = g.rs[k] + r;
            if (!(0.0f < len && len < reach)) continue;
            c.j[count] = g.ids[k], c.to_x[count] = g.xs[k] - x, c.to_y[count] = g.ys[k] - y;
            c.len[count] = len, c.overlap[count] = reach - len;
            if (++count > kContactCapacity) break;
        }
        return count;
    }
    void moves(Contacts& c, unsigned count) const {
        for (unsigned k = 0; k < count; ++k)
            c.to_x[k] = contact_move(c.to_x[k], c.len[k], c.overlap[k]), c.to_y[k] = contact_move(c.to_y[k], c.len[k], c.overlap[k]);
    }
};

}  // namespace

float collide_range_scalar(const CollideGrid& g, TCVerlet* particles, unsigned first, unsigned end) {
    return collide_range(g, particles, first, end, FindScalar{});
}

CollideRangeFn collide_range_for(int path) {
    switch (path) {
#if PHYSICS_X86
    case PHYSICS_PATH_SSE2: return collide_range_sse2;
    case PHYSICS_PATH_AVX2: if (physics_path_available(path)) return collide_range_avx2; break;
    case PHYSICS_PATH_AVX512: if (physics_path_available(path)) return collide_range_avx512; break;
#endif
#if PHYSICS_WASM_SIMD
    case PHYSICS_PATH_SIMD128: return collide_range_simd128;
#endif
    default: break;
    }
    return collide_range_scalar;
}

// ---- One thread ----

namespace {

bool refused(unsigned particle_count, const float* radii, const unsigned* work) {
    return !radii || !work || particle_collide_words(particle_count) == 0;
}

float collide_all(CollideRangeFn range, TCVerlet* particles, unsigned n, const float* radii, unsigned* work) {
    if (n < 2) return 0.0f;
    if (refused(n, radii, work)) return -1.0f;
    const CollideStats all = collide_stats(particles, radii, 0, n);
    if (all.count < 2) return 0.0f;
    CollideGrid g = collide_plan(work, n, all);
    // Every cell is this thread's: each particle's cell counted as it is found.
    std::fill(g.starts, g.starts + g.cells, 0u);
    for (unsigned i = 0; i < n; ++i) {
        const unsigned k = may_collide(particles[i], radii[i]) ? cell_of(g, particles[i].x, particles[i].y) : kCollideNone;
        g.keys[i] = k;
        if (k != kCollideNone) ++g.starts[k];
    }
    for (unsigned c = 1; c < g.cells; ++c) g.starts[c] += g.starts[c - 1];
    collide_scatter(g, particles, radii, n, 0, g.cells, 0);
    return range(g, particles, 0, g.count);
}

}  // namespace

unsigned particle_collide_words(unsigned particle_count) {
    // The cells' starts (four cells a particle), each particle's cell, and
    // its sorted copy (x, y, radius, index), with room to align and pad.
    const uint64_t words = 10 * uint64_t(particle_count) + 1024;
    return words > UINT32_MAX ? 0 : unsigned(words);
}

float particle_collide(TCVerlet* particles, unsigned particle_count, const float* radii, unsigned* work) {
    static const CollideRangeFn selected = collide_range_for(physics_selected_path());
    return collide_all(selected, particles, particle_count, radii, work);
}

float particle_collide_path(int path, TCVerlet* particles, unsigned particle_count, const float* radii,
                            unsigned* work) {
    return collide_all(collide_range_for(path), particles, particle_count, radii, work);
}
