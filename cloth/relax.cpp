#include "relax.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

TCVerlet* particles = nullptr;
const TCSpring* springs = nullptr;
unsigned spring_count = 0;
unsigned particle_count = 0;
unsigned parts = 1;
const float* radii = nullptr;
std::vector<unsigned> schedule;
std::vector<unsigned> sync;  // what the parts of a pass share
std::vector<unsigned> collide_work, collide_sync;
// The parts meet around each collision: it reads every particle, so the
// springs of the pass before must be done in both parts (a part may otherwise
// run ahead), and a part's collisions may still be writing particles the other
// part's springs move. Each part counts in here at every meeting.
std::atomic<unsigned> met{0};
unsigned meetings[2] = {0, 0};  // each part's own, in step with the other's

// The worker runs part 1 of every job the calling thread hands it: a step's
// passes with the rules, the first ones each after a collision. The kernel
// applies each particle's rules in the part whose springs finish it, so the
// passes after the collisions run with nothing between them and a part may
// run ahead into the next pass (where the parts gain most). Jobs come in
// bursts (the steps of a frame) a frame apart, so the worker spins briefly
// for the next one, then sleeps until woken.
std::thread worker;
std::mutex mutex;  // guards stopping, and orders a handed job with a sleeping worker's wait
std::condition_variable wake;
bool stopping = false;
std::atomic<unsigned> jobs_handed{0};
std::atomic<unsigned> jobs_done{0};
// Written before jobs_handed is raised, read after; the error before jobs_done, read after.
unsigned job_passes = 0, job_collisions = 0;
const TCRules* job_rules = nullptr;
float worker_error = 0.0f;

// Longer than the gap between two passes or two steps (the largest cloths'
// update_physics), much shorter than the wait for the next frame.
const auto worker_spin = std::chrono::microseconds(200);

void meet(unsigned part)
{
    meetings[part] += 2;
    met.fetch_add(1, std::memory_order_acq_rel);
    while (met.load(std::memory_order_acquire) < meetings[part])
        std::this_thread::yield();
}

float step_of_part(unsigned part, unsigned passes, unsigned collisions, const TCRules* rules)
{
    float error = 0.0f;
    for (unsigned pass = 0; pass < passes; ++pass) {
        if (pass < collisions) {
            meet(part);
            particle_collide_part(particles, particle_count, radii, collide_work.data(), part, 2,
                                  collide_sync.data());
            meet(part);
        }
        error = spring_pass_part_rules(particles, springs, spring_count, schedule.data(), particle_count, part,
                                       sync.data(), rules);
    }
    return error;
}

void run_worker()
{
    unsigned done = 0;
    for (;;) {
        const auto until = std::chrono::steady_clock::now() + worker_spin;
        while (jobs_handed.load(std::memory_order_acquire) == done && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        if (jobs_handed.load(std::memory_order_acquire) == done) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stopping || jobs_handed.load(std::memory_order_acquire) != done; });
            if (stopping)
                return;
        }
        worker_error = step_of_part(1, job_passes, job_collisions, job_rules);
        jobs_done.store(++done, std::memory_order_release);
    }
}

// Runs passes of both parts, this thread part 0.
float run_both(unsigned passes, unsigned collisions, const TCRules* rules)
{
    job_passes = passes;
    job_collisions = collisions;
    job_rules = rules;
    unsigned handed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        handed = jobs_handed.load(std::memory_order_relaxed) + 1;
        jobs_handed.store(handed, std::memory_order_release);
    }
    wake.notify_one();
    const float error = step_of_part(0, passes, collisions, rules);
    // The worker's part is about as long as this one: it is done soon after.
    while (jobs_done.load(std::memory_order_acquire) != handed)
        std::this_thread::yield();
    return std::max(error, worker_error);
}

}  // namespace

unsigned parts_for_this_machine()
{
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

unsigned start_relaxing(TCVerlet* particles_, const TCSpring* springs_, unsigned spring_count_,
                        unsigned particle_count_, const float* radii_, unsigned parts_)
{
    stop_relaxing();
    radii = radii_;
    collide_work.resize(particle_collide_words(particle_count_));
    particles = particles_;
    springs = springs_;
    spring_count = spring_count_;
    particle_count = particle_count_;
    parts = parts_ >= 2 ? 2 : 1;
    if (parts == 2) {
        schedule.resize(spring_schedule_parts_words(spring_count, particle_count, parts));
        if (!spring_schedule_parts(springs, spring_count, particle_count, parts, schedule.data()))
            parts = 1;
    }
    if (parts == 2) {
        sync.resize(spring_sync_words(parts));
        spring_sync_reset(sync.data(), parts);
        collide_sync.resize(spring_sync_words(parts));
        spring_sync_reset(collide_sync.data(), parts);
        jobs_handed = jobs_done = met = 0;
        meetings[0] = meetings[1] = 0;
        stopping = false;
        // A machine out of threads still relaxes the cloth, on one.
        try {
            worker = std::thread(run_worker);
        } catch (const std::system_error&) {
            parts = 1;
        }
    }
    if (parts == 1) {
        schedule.resize(spring_schedule_words(spring_count, particle_count));
        spring_schedule(springs, spring_count, particle_count, schedule.data());
    }
    return parts;
}

float relax_step(unsigned passes, unsigned collisions, const TCRules& rules)
{
    if (parts == 2)
        return run_both(passes, collisions, &rules);
    float error = 0.0f;
    for (unsigned pass = 0; pass < passes; ++pass) {
        if (pass < collisions)
            particle_collide(particles, particle_count, radii, collide_work.data());
        error = spring_pass_rules(particles, springs, spring_count, schedule.data(), particle_count, &rules);
    }
    return error;
}

void stop_relaxing()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    worker.join();
}
