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

// The worker runs part 1 of every pass the calling thread hands it. Passes
// come in bursts (a step's passes, the steps of a frame) a frame apart, so it
// spins briefly for the next one, then sleeps until woken.
std::thread worker;
std::mutex mutex;  // guards stopping, and orders a handed pass with a sleeping worker's wait
std::condition_variable wake;
bool stopping = false;
std::atomic<unsigned> passes_handed{0};
std::atomic<unsigned> passes_done{0};
float worker_error = 0.0f;  // written before passes_done, read after it

// Longer than the gap between two passes or two steps (the largest cloths'
// update_physics), much shorter than the wait for the next frame.
const auto worker_spin = std::chrono::microseconds(200);

void run_worker()
{
    unsigned done = 0;
    for (;;) {
        const auto until = std::chrono::steady_clock::now() + worker_spin;
        while (passes_handed.load(std::memory_order_acquire) == done && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        if (passes_handed.load(std::memory_order_acquire) == done) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stopping || passes_handed.load(std::memory_order_acquire) != done; });
            if (stopping)
                return;
        }
        worker_error = spring_pass_part(particles, springs, spring_count, schedule.data(), 1, sync.data());
        passes_done.store(++done, std::memory_order_release);
    }
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
        passes_handed = passes_done = 0;
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

float relax_pass()
{
    if (parts == 1)
        return spring_pass(particles, springs, spring_count, schedule.data());
    unsigned handed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        handed = passes_handed.load(std::memory_order_relaxed) + 1;
        passes_handed.store(handed, std::memory_order_release);
    }
    wake.notify_one();
    float error = spring_pass_part(particles, springs, spring_count, schedule.data(), 0, sync.data());
    // The worker's part is about as long as this one: it is done soon after.
    while (passes_done.load(std::memory_order_acquire) != handed)
        std::this_thread::yield();
    return std::max(error, worker_error);
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
