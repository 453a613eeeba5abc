// spring_tear: springs stretched too far are broken by a NaN rest length,
// which every pass already leaves alone, so the schedule stays as it is.
#include "kernel.h"

#include <limits>

unsigned spring_tear(const TCVerlet* particles, TCSpring* springs, unsigned spring_count, float ratio) {
    if (!(std::isfinite(ratio) && ratio > 0.0f)) return kSpringTearRefused;
    unsigned broken = 0;
    for (unsigned i = 0; i < spring_count; ++i) {
        TCSpring& s = springs[i];
        const TCVerlet& a = particles[s.a];
        const TCVerlet& b = particles[s.b];
        // A broken spring's limit is NaN: it compares false and is not counted again.
        if (approx_len(a.x, a.y, b.x, b.y) > ratio * s.rest_length) {
            s.rest_length = std::numeric_limits<float>::quiet_NaN();
            ++broken;
        }
    }
    return broken;
}
