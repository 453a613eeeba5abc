// The cloth of cloth.cpp relaxed on two threads: the springs are scheduled
// once in two parts, and every pass runs part 0 on the main thread and part 1
// on a worker started once with std::thread. The kernel starts no threads and
// keeps no state; the caller brings the threads and meets them between passes,
// when the pinned edge goes back. The cloth moves exactly as on one thread,
// whatever the timing: the program prints what cloth.cpp prints, bit for bit.
#include <penshell/physics.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

const unsigned kCols = 20, kRows = 15;
const float kSpacing = 0.5f;
const float kGravity = 9.81f;
const float kDt = 1.0f / 60.0f;
const int kPasses = 16;  // per step: more give a stiffer cloth
const unsigned kParts = 2;

unsigned at(unsigned c, unsigned r) { return r * kCols + c; }

TCVerlet start(unsigned c, unsigned r) {
    const float half = kSpacing / 2;
    const float x = half * float(2 * c + r), y = -kSpacing * float(r);
    return TCVerlet{x, y, x, y, 0.0f, 0.0f};
}

// Two threads meet here: neither goes on until both have come. The mutex also
// makes what each wrote before it visible to the other after it.
struct Meeting {
    std::mutex mutex;
    std::condition_variable all_here;
    unsigned here = 0, meetings = 0;
};

void meet(Meeting& m) {
    std::unique_lock<std::mutex> lock(m.mutex);
    const unsigned meeting = m.meetings;
    if (++m.here == kParts) {
        m.here = 0;
        ++m.meetings;
        m.all_here.notify_all();
    } else {
        m.all_here.wait(lock, [&] { return m.meetings != meeting; });
    }
}

int main() {
    std::vector<TCVerlet> cloth;
    for (unsigned r = 0; r < kRows; ++r)
        for (unsigned c = 0; c < kCols; ++c) cloth.push_back(start(c, r));

    const float side = clen(0, 0, kSpacing, 0), diagonal = clen(0, 0, kSpacing, kSpacing);
    std::vector<TCSpring> springs;
    for (unsigned r = 0; r < kRows; ++r)
        for (unsigned c = 0; c < kCols; ++c) {
            if (c + 1 < kCols) springs.push_back(TCSpring{at(c, r), at(c + 1, r), side});
            if (r + 1 == kRows) continue;
            springs.push_back(TCSpring{at(c, r), at(c, r + 1), side});
            if (c + 1 < kCols) springs.push_back(TCSpring{at(c, r), at(c + 1, r + 1), diagonal});
            if (c > 0) springs.push_back(TCSpring{at(c, r), at(c - 1, r + 1), diagonal});
        }

    // The schedule of the parts, and the memory they share during a pass.
    const unsigned count = unsigned(springs.size()), particles = unsigned(cloth.size());
    std::vector<unsigned> schedule(spring_schedule_parts_words(count, particles, kParts));
    if (!spring_schedule_parts(springs.data(), count, particles, kParts, schedule.data())) {
        std::fprintf(stderr, "cloth_threads: a spring names a particle that does not exist\n");
        return 1;
    }
    std::vector<unsigned> sync(spring_sync_words(kParts));
    spring_sync_reset(sync.data(), kParts);

    // The worker runs part 1 of each pass between two meetings: the first
    // starts the pass, the second ends it. A pass with `finished` set ends it.
    Meeting meeting;
    bool finished = false;
    float worker_error = 0.0f;
    std::thread worker([&] {
        for (;;) {
            meet(meeting);
            if (finished) return;
            worker_error = spring_pass_part(cloth.data(), springs.data(), count, schedule.data(), 1, sync.data());
            meet(meeting);
        }
    });

    float prev_dt = 0.0f;
    unsigned still = 0, step = 0;
    float error = 0.0f, first = 0.0f;
    while (still < 60 && step < 100000) {
        ++step;
        for (TCVerlet& p : cloth) p.acc_y -= kGravity;
        prev_dt = update_physics(kDt, prev_dt, cloth.data(), particles);
        const float before = error;
        for (int pass = 0; pass < kPasses; ++pass) {
            meet(meeting);
            error = spring_pass_part(cloth.data(), springs.data(), count, schedule.data(), 0, sync.data());
            meet(meeting);
            error = std::max(error, worker_error);  // the pass's largest error
            for (unsigned c = 0; c < kCols; ++c) cloth[at(c, 0)] = start(c, 0);
            if (step == 1 && pass == 0) first = error;
        }
        still = std::fabs(error - before) < 1e-5f ? still + 1 : 0;
    }
    finished = true;
    meet(meeting);
    worker.join();

    std::printf("%ux%u cloth, %u springs of %g, pinned along its top edge\n", kCols, kRows, count, kSpacing);
    std::printf("at rest after %u steps of %g, %d passes each: largest spring error %.6f (first pass %.6f)\n",
                step, kDt, kPasses, error, first);
    const struct { const char* name; unsigned c; } points[] = {
        {"bottom left", 0}, {"bottom middle", kCols / 2}, {"bottom right", kCols - 1}};
    for (const auto& point : points) {
        const TCVerlet& p = cloth[at(point.c, kRows - 1)];
        std::printf("%-13s x = %.6f, y = %.6f   exactly: x = %a, y = %a\n", point.name, p.x, p.y, p.x, p.y);
    }
    return still >= 60 ? 0 : 1;
}
