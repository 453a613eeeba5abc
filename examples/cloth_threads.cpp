// The cloth of cloth.cpp relaxed on two threads: the springs are scheduled
// once in two parts, and every pass runs part 0 on the main thread and part 1
// on a worker started once with std::thread. The kernel starts no threads and
// keeps no state; the caller brings the threads and meets them between passes,
// when the pinned edge goes back. The cloth moves exactly as on one thread,
// whatever the timing: the program prints what cloth.cpp prints, bit for bit.
#include <penshell/physics.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "cloth_scene.h"

const unsigned kParts = 2;

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
    std::vector<TCVerlet> cloth = cloth_at_start();
    std::vector<TCSpring> springs = cloth_springs();

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

    const int status = relax_until_still(cloth, count, [&] {
        meet(meeting);
        const float error = spring_pass_part(cloth.data(), springs.data(), count, schedule.data(), 0, sync.data());
        meet(meeting);
        return std::max(error, worker_error);  // the pass's largest error
    });
    finished = true;
    meet(meeting);
    worker.join();
    return status;
}
