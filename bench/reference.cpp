// Straightforward scalar kernel, compiled without vectorisation (see CMakeLists.txt).
#include "bench.h"

#include <algorithm>
#include <cmath>

float update_reference(float dt, float prev_dt, TCVerlet* p, unsigned count) {
    const float dt2 = dt * dt;
    const float ratio = prev_dt > 0.0f ? dt / prev_dt : 0.0f;
    for (unsigned i = 0; i < count; ++i) {
        TCVerlet& q = p[i];
        const float nx = ((q.x - q.old_x) * ratio + q.x) + q.acc_x * dt2;
        const float ny = ((q.y - q.old_y) * ratio + q.y) + q.acc_y * dt2;
        q.old_x = q.x;
        q.old_y = q.y;
        q.acc_x = 0.0f;
        q.acc_y = 0.0f;
        q.x = nx;
        q.y = ny;
    }
    return dt;
}

// Not inlined, so a loop over it pays a call per pair as the library does.
__attribute__((noinline)) float clen_reference(float x1, float y1, float x2, float y2) {
    const float dx = std::fabs(x2 - x1), dy = std::fabs(y2 - y1);
    return dy > dx ? 0.41f * dx + 0.941246f * dy : 0.41f * dy + 0.941246f * dx;
}

__attribute__((noinline)) float spring_reference(TCVerlet& a, TCVerlet& b, float rest) {
    const float ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const float len = clen_reference(ax, ay, bx, by);
    const float err = rest - len;
    if (len == 0.0f) return err;
    const float ux = (bx - ax) / len, uy = (by - ay) / len;
    a.x = ax - (ux * err) / 2;
    a.y = ay - (uy * err) / 2;
    b.x = bx + (ux * err) / 2;
    b.y = by + (uy * err) / 2;
    return err;
}

// The usual uniform grid, over the extent of the particles that may collide:
// cells of 2.125 times the largest radius, not the usual twice, since clen
// along an axis is 0.941246 times the distance, so a pair in reach may lie
// up to 1.0625 times its reach apart (1 / 0.941246 = 1.06242), and cells of
// twice the radius would miss such a pair and give other bits. Widened until
// the grid takes at most four cells a particle. A counting sort by cell
// (each cell in increasing index), then each particle's candidates gathered
// from its 3x3 cells, sorted by index, and its contacts summed in that order,
// as the header's reference does.
float collide_yardstick(TCVerlet* p, unsigned n, const float* radii, CollideYardstickWork& w) {
    auto live = [&](unsigned i) {
        return std::isfinite(radii[i]) && radii[i] > 0.0f && std::isfinite(p[i].x) && std::isfinite(p[i].y);
    };
    float largest_radius = 0.0f, min_x = INFINITY, max_x = -INFINITY, min_y = INFINITY, max_y = -INFINITY;
    unsigned colliding = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (!live(i)) continue;
        ++colliding;
        largest_radius = std::max(largest_radius, radii[i]);
        min_x = std::min(min_x, p[i].x), max_x = std::max(max_x, p[i].x);
        min_y = std::min(min_y, p[i].y), max_y = std::max(max_y, p[i].y);
    }
    if (colliding < 2) return 0.0f;
    double cell = 2.125 * double(largest_radius), cols, rows;
    for (;; cell *= 2) {
        cols = std::floor((double(max_x) - min_x) / cell) + 1, rows = std::floor((double(max_y) - min_y) / cell) + 1;
        if (cols * rows <= 4.0 * n + 64) break;
    }
    const unsigned width = unsigned(cols), height = unsigned(rows), cells = width * height;
    w.cell_of.resize(n), w.sorted.resize(n), w.candidates.resize(n), w.moved.resize(2 * size_t(n));
    w.starts.assign(cells + 1, 0);
    for (unsigned i = 0; i < n; ++i) {
        w.cell_of[i] = live(i) ? int(unsigned(std::floor((double(p[i].y) - min_y) / cell)) * width +
                                     unsigned(std::floor((double(p[i].x) - min_x) / cell)))
                               : -1;
        if (w.cell_of[i] >= 0) ++w.starts[unsigned(w.cell_of[i]) + 1];
    }
    for (unsigned c = 0; c < cells; ++c) w.starts[c + 1] += w.starts[c];
    for (unsigned i = 0; i < n; ++i)
        if (w.cell_of[i] >= 0) w.sorted[w.starts[unsigned(w.cell_of[i])]++] = i;
    for (unsigned c = cells; c > 0; --c) w.starts[c] = w.starts[c - 1];
    w.starts[0] = 0;
    float largest = 0.0f;
    for (unsigned i = 0; i < n; ++i) {
        w.moved[2 * i] = p[i].x, w.moved[2 * i + 1] = p[i].y;
        if (w.cell_of[i] < 0) continue;
        const unsigned row = unsigned(w.cell_of[i]) / width, col = unsigned(w.cell_of[i]) % width;
        unsigned found = 0;
        for (unsigned r = row > 0 ? row - 1 : 0; r <= row + 1 && r < height; ++r)
            for (unsigned c = col > 0 ? col - 1 : 0; c <= col + 1 && c < width; ++c)
                for (unsigned k = w.starts[r * width + c]; k < w.starts[r * width + c + 1]; ++k)
                    w.candidates[found++] = w.sorted[k];
        std::sort(w.candidates.begin(), w.candidates.begin() + found);
        float sx = 0.0f, sy = 0.0f;
        unsigned contacts = 0;
        for (unsigned k = 0; k < found; ++k) {
            const unsigned j = w.candidates[k];
            if (j == i) continue;
            const unsigned a = std::min(i, j), b = std::max(i, j);
            const float reach = radii[a] + radii[b];
            const float dx = std::fabs(p[b].x - p[a].x), dy = std::fabs(p[b].y - p[a].y);
            const float len = dy > dx ? 0.41f * dx + 0.941246f * dy : 0.41f * dy + 0.941246f * dx;
            if (!(0.0f < len && len < reach)) continue;
            const float half = (reach - len) / 2;
            const float mx = ((p[b].x - p[a].x) / len) * half, my = ((p[b].y - p[a].y) / len) * half;
            if (i == a) {
                sx -= mx, sy -= my;
            } else {
                sx += mx, sy += my;
            }
            ++contacts;
            largest = std::max(largest, reach - len);
        }
        if (contacts == 0) continue;
        const float x = p[i].x + sx / float(contacts), y = p[i].y + sy / float(contacts);
        if (std::isfinite(x) && std::isfinite(y)) w.moved[2 * i] = x, w.moved[2 * i + 1] = y;
    }
    for (unsigned i = 0; i < n; ++i) p[i].x = w.moved[2 * i], p[i].y = w.moved[2 * i + 1];
    return largest;
}
