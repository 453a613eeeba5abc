// Straightforward scalar kernel, compiled without vectorisation (see CMakeLists.txt).
#include "bench.h"

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
