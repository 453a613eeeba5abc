// The approximate distance and the spring constraint between two particles.
// Their arithmetic lives in kernel.h, shared with the batched springs.
#include "kernel.h"

float clen(float x1, float y1, float x2, float y2) { return approx_len(x1, y1, x2, y2); }

float spring_force(TCVerlet& a, TCVerlet& b, float rest_length) {
    // a and b may be the same record: spring_move reads every input before writing.
    float ax = a.x, ay = a.y, bx = b.x, by = b.y;
    const float err = spring_move(ax, ay, bx, by, rest_length);
    a.x = ax;
    a.y = ay;
    b.x = bx;
    b.y = by;
    return err;
}
