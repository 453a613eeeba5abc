// particle_collide: every two overlapping particles pushed apart at once (a
// Jacobi step). A grid finds the candidates; each particle then sums its
// contacts in increasing index, as the header's reference does, and the new
// positions are written only once every particle has read the old ones.
//
// The grid's cells are wider than any two particles can reach: clen is at
// least 0.941246 times the larger of |dx| and |dy|, so a pair in reach lies
// in the same or neighbouring cells. Cells are hashed into buckets (two
// cells may share one, which only adds candidates), and a counting sort
// keeps each bucket's particles in increasing index, so that merging the
// nine neighbouring buckets visits the candidates in the reference's order.
#include "kernel.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr unsigned kNone = 0xFFFFFFFFu;

// Cell coordinates are clamped here: well inside 64 bits, and small enough
// that a double's rounding of x / cell cannot put two particles within a
// cell's width two cells apart.
constexpr double kCellLimit = 17592186044416.0;  // 2^44
// A pair in reach is at most 1 / 0.941246 (about 1.0625) times its reach
// apart along either axis; cells are wider still.
constexpr double kCellPerReach = 1.125;

inline bool collides(float radius) { return std::isfinite(radius) && radius > 0.0f; }

inline int64_t cell_of(float v, double cell) {
    const double u = std::floor(double(v) / cell);
    return int64_t(std::min(std::max(u, -kCellLimit), kCellLimit));
}

inline unsigned bucket_of(int64_t cx, int64_t cy, unsigned bits) {
    const uint64_t h = uint64_t(cx) * 0x9E3779B97F4A7C15ull ^ uint64_t(cy) * 0xC2B2AE3D27D4EB4Full;
    return unsigned((h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull >> (64 - bits));
}

// The work memory: bucket starts, the particles sorted by bucket, each
// particle's bucket, and the new positions.
struct Grid {
    unsigned bits;
    unsigned* starts;  // (1 << bits) + 1
    unsigned* sorted;  // the particles that may collide, by bucket, each bucket in increasing index
    unsigned* bucket;  // per particle: its bucket, or kNone
    float* moved;      // per particle: its new x, y
    double cell;
};

unsigned bucket_bits(unsigned particle_count) {
    unsigned bits = 1;
    while ((uint64_t(1) << bits) < particle_count) ++bits;
    return bits;
}

Grid grid_in(unsigned* work, unsigned n) {
    Grid g;
    g.bits = bucket_bits(n);
    const size_t buckets = size_t(1) << g.bits;
    g.starts = work;
    g.sorted = g.starts + buckets + 1;
    g.bucket = g.sorted + n;
    g.moved = reinterpret_cast<float*>(g.bucket + n);
    g.cell = 0;
    return g;
}

// Fills the grid; returns how many particles may collide.
unsigned build_grid(Grid& g, const TCVerlet* p, unsigned n, const float* radii) {
    float largest = 0.0f;
    for (unsigned i = 0; i < n; ++i)
        if (collides(radii[i]) && std::isfinite(p[i].x) && std::isfinite(p[i].y)) largest = std::max(largest, radii[i]);
    if (largest == 0.0f) return 0;
    g.cell = 2.0 * double(largest) * kCellPerReach;
    const size_t buckets = size_t(1) << g.bits;
    std::fill(g.starts, g.starts + buckets + 1, 0u);
    unsigned m = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (!(collides(radii[i]) && std::isfinite(p[i].x) && std::isfinite(p[i].y))) {
            g.bucket[i] = kNone;
            continue;
        }
        g.bucket[i] = bucket_of(cell_of(p[i].x, g.cell), cell_of(p[i].y, g.cell), g.bits);
        ++g.starts[g.bucket[i] + 1];
        ++m;
    }
    for (size_t k = 0; k < buckets; ++k) g.starts[k + 1] += g.starts[k];
    // starts[k] walks to the end of bucket k as it fills, then is put back.
    for (unsigned i = 0; i < n; ++i)
        if (g.bucket[i] != kNone) g.sorted[g.starts[g.bucket[i]]++] = i;
    for (size_t k = buckets; k > 0; --k) g.starts[k] = g.starts[k - 1];
    g.starts[0] = 0;
    return m;
}

// Particle i's contacts, summed in increasing j; its new position into moved.
// Returns the largest overlap among them.
float push_one(const Grid& g, const TCVerlet* p, const float* radii, unsigned i) {
    const float xi = p[i].x, yi = p[i].y;
    g.moved[2 * size_t(i)] = xi, g.moved[2 * size_t(i) + 1] = yi;
    if (g.bucket[i] == kNone) return 0.0f;
    const int64_t cx = cell_of(xi, g.cell), cy = cell_of(yi, g.cell);
    // The nine neighbouring cells' buckets, each once: [at, end) of each.
    unsigned at[9], end[9], lists = 0, seen[9];
    for (int64_t dy = -1; dy <= 1; ++dy)
        for (int64_t dx = -1; dx <= 1; ++dx) {
            const unsigned b = bucket_of(cx + dx, cy + dy, g.bits);
            if (std::find(seen, seen + lists, b) != seen + lists) continue;
            seen[lists] = b, at[lists] = g.starts[b], end[lists] = g.starts[b + 1];
            ++lists;
        }
    float sx = 0.0f, sy = 0.0f, largest = 0.0f;
    unsigned contacts = 0;
    for (;;) {
        unsigned j = kNone, from = 0;
        for (unsigned l = 0; l < lists; ++l)
            if (at[l] < end[l] && g.sorted[at[l]] < j) j = g.sorted[at[l]], from = l;
        if (j == kNone) break;
        ++at[from];
        if (j == i) continue;
        const unsigned a = std::min(i, j), b = std::max(i, j);
        const float reach = radii[a] + radii[b];
        const float len = approx_len(p[a].x, p[a].y, p[b].x, p[b].y);
        if (!(0.0f < len && len < reach)) continue;
        const float half = (reach - len) / 2;
        const float mx = pinned(((p[b].x - p[a].x) / len) * half);
        const float my = pinned(((p[b].y - p[a].y) / len) * half);
        if (i == a) {
            sx = sx - mx, sy = sy - my;
        } else {
            sx = sx + mx, sy = sy + my;
        }
        ++contacts;
        keep_largest(largest, reach - len);
    }
    if (contacts == 0) return largest;
    const float x = xi + sx / float(contacts), y = yi + sy / float(contacts);
    if (std::isfinite(x) && std::isfinite(y)) g.moved[2 * size_t(i)] = x, g.moved[2 * size_t(i) + 1] = y;
    return largest;
}

}  // namespace

unsigned particle_collide_words(unsigned particle_count) {
    // Buckets (at most twice the count, and one), the sorted particles,
    // their buckets, their new positions, and room to spare for the parts.
    const uint64_t words = 10 * uint64_t(particle_count) + 1024;
    return words > UINT32_MAX ? 0 : unsigned(words);
}

float particle_collide(TCVerlet* particles, unsigned particle_count, const float* radii, unsigned* work) {
    if (particle_count < 2) return 0.0f;
    if (!radii || !work || particle_collide_words(particle_count) == 0) return -1.0f;
    Grid g = grid_in(work, particle_count);
    if (build_grid(g, particles, particle_count, radii) < 2) return 0.0f;
    float largest = 0.0f;
    for (unsigned i = 0; i < particle_count; ++i) {
        const float e = push_one(g, particles, radii, i);
        if (e > largest) largest = e;
    }
    for (unsigned i = 0; i < particle_count; ++i)
        particles[i].x = g.moved[2 * size_t(i)], particles[i].y = g.moved[2 * size_t(i) + 1];
    return largest;
}

float particle_collide_part(TCVerlet* particles, unsigned particle_count, const float* radii, unsigned* work,
                            unsigned part, unsigned parts, unsigned* sync) {
    if (parts == 0 || parts > kMaxParts || !sync) return -1.0f;
    if (particle_count >= 2 && (!radii || !work || particle_collide_words(particle_count) == 0)) return -1.0f;
    // For now part 0 does the whole call and the others return at once.
    if (part != 0) return 0.0f;
    return particle_collide(particles, particle_count, radii, work);
}
