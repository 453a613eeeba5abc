// The cloth's relaxation for builds without threads: one part, on the
// calling thread, whatever is asked.
#include "relax.h"

#include <vector>

namespace {

TCVerlet* particles = nullptr;
const TCSpring* springs = nullptr;
unsigned spring_count = 0;
unsigned particle_count = 0;
std::vector<unsigned> schedule;

}  // namespace

unsigned parts_for_this_machine()
{
    return 1;
}

unsigned start_relaxing(TCVerlet* particles_, const TCSpring* springs_, unsigned spring_count_,
                        unsigned particle_count_, unsigned)
{
    particles = particles_;
    springs = springs_;
    spring_count = spring_count_;
    particle_count = particle_count_;
    schedule.resize(spring_schedule_words(spring_count, particle_count));
    spring_schedule(springs, spring_count, particle_count, schedule.data());
    return 1;
}

float relax_passes(unsigned passes, const TCRules& rules)
{
    float error = 0.0f;
    for (unsigned pass = 0; pass < passes; ++pass)
        error = spring_pass_rules(particles, springs, spring_count, schedule.data(), particle_count, &rules);
    return error;
}

void stop_relaxing() {}
