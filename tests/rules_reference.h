#pragma once
// The header's reference for the rules of spring_pass_rules, written out
// plainly for the tests and the fuzzer to hold the kernel to: after the
// springs, each particle's planes in order, its circles in order, its holds
// in order. Every product is stored before it is added, so that no compiler
// may fuse the two whatever the flags the reference is built with.
#include <penshell/physics.h>

#include <cmath>

inline float rules_product(float a, float b) {
    volatile float p = a * b;
    return p;
}

inline void rules_reference(TCVerlet* particles, unsigned count, const TCRules& r) {
    for (unsigned i = 0; i < count; ++i) {
        TCVerlet& p = particles[i];
        for (unsigned k = 0; k < r.plane_count; ++k) {
            const TCPlane& pl = r.planes[k];
            const float t = rules_product(pl.nx, p.x) + rules_product(pl.ny, p.y);
            if (!(t < pl.d)) continue;
            const float pen = pl.d - t, x = p.x + rules_product(pl.nx, pen), y = p.y + rules_product(pl.ny, pen);
            if (std::isfinite(x) && std::isfinite(y)) p.x = x, p.y = y;
        }
        for (unsigned k = 0; k < r.circle_count; ++k) {
            const TCCircle& c = r.circles[k];
            const float len = clen(c.x, c.y, p.x, p.y);
            if (!(0 < len && len < c.radius)) continue;
            const float x = c.x + rules_product((p.x - c.x) / len, c.radius);
            const float y = c.y + rules_product((p.y - c.y) / len, c.radius);
            if (std::isfinite(x) && std::isfinite(y)) p.x = x, p.y = y;
        }
        for (unsigned k = 0; k < r.hold_count; ++k) {
            const TCHold& h = r.holds[k];
            if (h.particle != i || !std::isfinite(h.x) || !std::isfinite(h.y)) continue;
            p.x = h.x, p.y = h.y;
            if (h.still) p.old_x = h.x, p.old_y = h.y;
        }
    }
}
