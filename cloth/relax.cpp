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
unsigned parts = 1;
std::vector<unsigned> schedule;
std::vector<unsigned> sync;  // what the parts of a pass share

// Which parts' springs touch each particle: bit p for part p. A held
// particle that one part alone touches is put back by that part's thread
// between its own passes, so a step's passes run with no wait between them
// and a part may run ahead into the next pass (where the parts gain most).
std::vector<unsigned char> touched;

// The worker runs part 1 of every job the calling thread hands it: a number
// of passes and the holds it puts back after each. Jobs come in bursts (the
// steps of a frame) a frame apart, so it spins briefly for the next one, then
// sleeps until woken.
std::thread worker;
std::mutex mutex;  // guards stopping, and orders a handed job with a sleeping worker's wait
std::condition_variable wake;
bool stopping = false;
std::atomic<unsigned> jobs_handed{0};
std::atomic<unsigned> jobs_done{0};
// Written before jobs_handed is raised, read after; the error before jobs_done, read after.
unsigned job_passes = 0;
const Hold* job_holds = nullptr;
unsigned job_hold_count = 0;
float worker_error = 0.0f;

// Longer than the gap between two passes or two steps (the largest cloths'
// update_physics), much shorter than the wait for the next frame.
const auto worker_spin = std::chrono::microseconds(200);

// The part that puts a particle back: the one whose springs touch it, part 0 if none do.
unsigned holder(unsigned particle)
{
    return touched[particle] == 2 ? 1 : 0;
}

float passes_of_part(unsigned part, unsigned passes, const Hold* holds, unsigned hold_count)
{
    float error = 0.0f;
    for (unsigned pass = 0; pass < passes; ++pass) {
        error = spring_pass_part(particles, springs, spring_count, schedule.data(), part, sync.data());
        for (unsigned k = 0; k < hold_count; ++k)
            if (holder(holds[k].particle) == part)
                put_back(particles, holds[k]);
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
        worker_error = passes_of_part(1, job_passes, job_holds, job_hold_count);
        jobs_done.store(++done, std::memory_order_release);
    }
}

// Runs passes of both parts, this thread part 0, each part putting back the holds it owns.
float run_both(unsigned passes, const Hold* holds, unsigned hold_count)
{
    job_passes = passes;
    job_holds = holds;
    job_hold_count = hold_count;
    unsigned handed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        handed = jobs_handed.load(std::memory_order_relaxed) + 1;
        jobs_handed.store(handed, std::memory_order_release);
    }
    wake.notify_one();
    const float error = passes_of_part(0, passes, holds, hold_count);
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
                        unsigned particle_count, unsigned parts_)
{
    stop_relaxing();
    particles = particles_;
    springs = springs_;
    spring_count = spring_count_;
    parts = parts_ >= 2 ? 2 : 1;
    if (parts == 2) {
        schedule.resize(spring_schedule_parts_words(spring_count, particle_count, parts));
        if (!spring_schedule_parts(springs, spring_count, particle_count, parts, schedule.data()))
            parts = 1;
    }
    if (parts == 2) {
        sync.resize(spring_sync_words(parts));
        spring_sync_reset(sync.data(), parts);
        jobs_handed = jobs_done = 0;
        touched.assign(particle_count, 0);
        std::vector<unsigned> order(spring_count);
        for (unsigned part = 0; part < 2; ++part) {
            const unsigned count = spring_schedule_parts_order(schedule.data(), part, order.data());
            for (unsigned k = 0; k < count; ++k)
                touched[springs[order[k]].a] |= 1u << part, touched[springs[order[k]].b] |= 1u << part;
        }
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

float relax_passes(unsigned passes, const Hold* holds, unsigned hold_count)
{
    float error = 0.0f;
    if (parts == 1) {
        for (unsigned pass = 0; pass < passes; ++pass) {
            error = spring_pass(particles, springs, spring_count, schedule.data());
            put_back_all(particles, holds, hold_count);
        }
        return error;
    }
    bool shared = false;
    for (unsigned k = 0; k < hold_count; ++k)
        shared = shared || touched[holds[k].particle] == 3;
    if (!shared)
        return run_both(passes, holds, hold_count);
    // A particle both parts touch is put back only when both are done with a pass.
    for (unsigned pass = 0; pass < passes; ++pass) {
        error = run_both(1, nullptr, 0);
        put_back_all(particles, holds, hold_count);
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
