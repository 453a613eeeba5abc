// Times the cloth's steps (one update_physics and the passes), relaxed in one
// part and in two, side by side: rounds of 60 steps each way, interleaved,
// the best of each kept. Built at the cloth sizes of scripts/cloth-speed.sh.
//   cloth_steps [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "cloth.h"

static double milliseconds_a_step(unsigned parts)
{
    make_cloth(parts);
    for (int i = 0; i < 60; ++i)  // the cloth falls first, as in the program
        step_cloth(0.0f, 0.0f);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 60; ++i)
        step_cloth(0.0f, 0.0f);
    std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    end_cloth();
    return spent.count() / 60;
}

int main(int argc, char* argv[])
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 18;
    double best[3] = {1e9, 1e9, 1e9};
    for (int round = 0; round < rounds; ++round)
        for (unsigned parts = 1; parts <= 2; ++parts)
            best[parts] = std::min(best[parts], milliseconds_a_step(parts));
    std::printf("%dx%d cloth, a step, best of %d rounds of 60: %.3f ms in one part, %.3f ms in two (%.2fx)\n",
                cloth_columns, cloth_rows, rounds, best[1], best[2], best[1] / best[2]);
}
