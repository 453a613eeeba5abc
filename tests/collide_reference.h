#pragma once
// The header's reference for particle_collide, written out plainly for the
// tests and the fuzzer to hold the kernel to: every particle against every
// other in increasing index, quadratic. Every product is stored before it is
// added, so that no compiler may fuse the two whatever the flags the
// reference is built with.
#include <penshell/physics.h>

#include <algorithm>
#include <cmath>
#include <vector>

inline float collide_product(float a, float b) {
    volatile float p = a * b;
    return p;
}

// Particle i's new position from the positions in p (only when it moves:
// x and y are left alone otherwise); returns its largest overlap.
inline float collide_reference_one(const TCVerlet* p, unsigned count, const float* radii, unsigned i, float& x,
                                   float& y) {
    float sx = 0.0f, sy = 0.0f, largest = 0.0f;
    unsigned n = 0;
    for (unsigned j = 0; j < count; ++j) {
        if (j == i) continue;
        const unsigned a = std::min(i, j), b = std::max(i, j);
        const float reach = radii[a] + radii[b];
        const float len = clen(p[a].x, p[a].y, p[b].x, p[b].y);
        const bool radii_collide = std::isfinite(radii[a]) && radii[a] > 0 && std::isfinite(radii[b]) && radii[b] > 0;
        if (!(radii_collide && 0 < len && len < reach)) continue;
        const float half = (reach - len) / 2;
        const float mx = collide_product((p[b].x - p[a].x) / len, half);
        const float my = collide_product((p[b].y - p[a].y) / len, half);
        if (i == a) {
            sx = sx - mx, sy = sy - my;
        } else {
            sx = sx + mx, sy = sy + my;
        }
        ++n;
        largest = std::max(largest, reach - len);
    }
    if (n == 0) return largest;
    const float nx = p[i].x + sx / float(n), ny = p[i].y + sy / float(n);
    if (std::isfinite(nx) && std::isfinite(ny)) x = nx, y = ny;
    return largest;
}

// One particle_collide: returns the largest overlap (0 for none).
inline float collide_reference(TCVerlet* p, unsigned count, const float* radii) {
    std::vector<TCVerlet> before(p, p + count);
    float largest = 0.0f;
    for (unsigned i = 0; i < count; ++i)
        largest = std::max(largest, collide_reference_one(before.data(), count, radii, i, p[i].x, p[i].y));
    return largest;
}
