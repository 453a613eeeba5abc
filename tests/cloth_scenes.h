#pragma once
// Scenes of penshell-cloth's steps shared by the desktop's tests and the
// browser's check, which must give the same bits: a gentle drag, rows cut out
// of the cloth by hard yanks so that its lower part falls on the balls, and a
// hash of where everything lies.
#include <algorithm>
#include <cstdint>

#include "cloth.h"

// The torn cloth lying on the balls: the hash every build and part count gives.
const std::uint64_t kTornClothHash = 0x33ac0cb910c8e2ecull;

// FNV-1a over the particles' records and the springs' rest lengths.
inline std::uint64_t cloth_hash()
{
    std::uint64_t h = 14695981039346656037ull;
    auto add = [&h](const void* data, std::size_t size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i)
            h = (h ^ bytes[i]) * 1099511628211ull;
    };
    add(cloth_particles().data(), cloth_particles().size() * sizeof(TCVerlet));
    for (const TCSpring& s : cloth_springs())
        add(&s.rest_length, sizeof s.rest_length);
    return h;
}

inline void let_it_fall(int steps)
{
    for (int i = 0; i < steps; ++i)
        step_cloth(0.0f, 0.0f);
}

// The particle of (column, row) held and moved by (dx, dy) in `steps` steps,
// then held there for `hold` steps and let go.
inline void drag(int column, int row, float dx, float dy, int steps, int hold)
{
    const TCVerlet& p = cloth_particles()[row * cloth_columns + column];
    const float x = p.x, y = p.y;
    grab_nearest(x, y);
    for (int i = 1; i <= steps + hold; ++i) {
        const int k = i < steps ? i : steps;
        step_cloth(x + dx * float(k) / float(steps), y + dy * float(k) / float(steps));
    }
    let_go();
}

// The foot's middle pulled 50 pixels down, 2 a step, and let go: no tear.
inline void gentle_drag()
{
    drag(cloth_columns / 2, cloth_rows - 1, 0.0f, -50.0f, 25, 30);
    let_it_fall(120);
}

// Three rows yanked 200 pixels down in four steps, by a particle in every
// three of the middle one (the pen holds the 3x3 patch around it): the
// threads on them tear, and the cloth below falls on the balls.
inline void cut_and_drop(int row)
{
    for (int column = 1; column < cloth_columns + 2; column += 3)
        drag(std::min(column, cloth_columns - 1), row + 1, 0.0f, -200.0f, 4, 2);
    let_it_fall(180);
}

// The torn cloth's scene, from a cloth just made: it hangs, is dragged
// gently, then three rows are yanked out and its lower part falls on the
// balls, where its hash is kTornClothHash. Returns the threads the gentle
// drag tore: none.
inline unsigned tear_the_cloth()
{
    let_it_fall(240);
    gentle_drag();
    const unsigned torn_gently = torn_springs();
    cut_and_drop(12);
    return torn_gently;
}
