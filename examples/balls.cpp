// Balls poured into a box, built against the installed kernel as any program
// outside penshell would be: 400 balls of two sizes fall from a loose lattice
// onto a floor between two walls, collide with each other and come to rest
// in a heap. Each step the kernel pushes overlapping balls apart
// (particle_collide), then the rules of a pass with no springs put them back
// into the box, so that the box has the last word. It prints how the pile
// lies after six seconds. The printed numbers are the same on every build:
// the arithmetic here is additions and lone products, which no compiler can
// fuse, and the kernel gives the same bits everywhere.
#include <penshell/physics.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
    const unsigned kBalls = 400, kAcross = 20;
    const float kGravity = 9.81f;
    const float kDt = 1.0f / 120.0f;  // two steps a frame at 60 Hz

    // A loose lattice, every other ball a little larger, at rest.
    std::vector<TCVerlet> balls(kBalls);
    std::vector<float> radii(kBalls);
    for (unsigned i = 0; i < kBalls; ++i) {
        balls[i].x = balls[i].old_x = float(i % kAcross) * 1.2f;
        balls[i].y = balls[i].old_y = float(i / kAcross) * 1.2f;
        radii[i] = i % 2 ? 0.5f : 0.4f;
    }
    std::vector<unsigned> work(particle_collide_words(kBalls));

    // The floor at y = -0.5 and walls at x = -0.5 and x = 23.5.
    const TCPlane box[] = {{0, 1, -0.5f}, {1, 0, -0.5f}, {-1, 0, -23.5f}};
    const TCRules rules{nullptr, 0, box, 3, nullptr, 0};

    float prev_dt = 0.0f;  // no step before the first one: the balls start at rest
    float overlap = 0.0f;
    for (unsigned step = 0; step < 720; ++step) {
        for (TCVerlet& b : balls) b.acc_y -= kGravity;
        prev_dt = update_physics(kDt, prev_dt, balls.data(), kBalls);
        for (int k = 0; k < 2; ++k) {  // pushed apart, then back into the box, twice a step
            overlap = particle_collide(balls.data(), kBalls, radii.data(), work.data());
            if (overlap < 0 || spring_pass_rules(balls.data(), nullptr, 0, nullptr, kBalls, &rules) < 0) return 1;
        }
    }
    float top = balls[0].y, fastest = 0.0f;
    for (const TCVerlet& b : balls) {
        top = std::fmax(top, b.y);
        fastest = std::fmax(fastest, std::fmax(std::fabs(b.x - b.old_x), std::fabs(b.y - b.old_y)));
    }
    std::printf("the pile's top: %.4f\n", top);
    std::printf("the largest overlap of the last push: %.6f\n", overlap);
    std::printf("the largest move of the last step: %.6f\n", fastest);
    return 0;
}
