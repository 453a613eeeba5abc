// The cloth's relaxation for builds without threads: one part, on the
// calling thread, whatever is asked.
#include "relax.h"

#include <vector>

namespace {

TCVerlet* particles = nullptr;
const TCSpring* springs = nullptr;
unsigned spring_count = 0;
unsigned particle_count = 0;
const float* radii = nullptr;
std::vector<unsigned> schedule;
std::vector<unsigned> collide_work;

}  // namespace

unsigned parts_for_this_machine()
{
    return 1;
}

unsigned start_relaxing(TCVerlet* particles_, const TCSpring* springs_, unsigned spring_count_,
                        unsigned particle_count_, const float* radii_, unsigned)
{
    radii = radii_;
    collide_work.resize(particle_collide_words(particle_count_));
    particles = particles_;
    springs = springs_;
    spring_count = spring_count_;
    particle_count = particle_count_;
    schedule.resize(spring_schedule_words(spring_count, particle_count));
    spring_schedule(springs, spring_count, particle_count, schedule.data());
    return 1;
}

float relax_step(unsigned passes, unsigned collisions, const TCRules& rules)
{
    float error = 0.0f;
    for (unsigned pass = 0; pass < passes; ++pass) {
        if (pass < collisions)
            particle_collide(particles, particle_count, radii, collide_work.data());
        error = spring_pass_rules(particles, springs, spring_count, schedule.data(), particle_count, &rules);
    }
    return error;
}

void stop_relaxing() {}
