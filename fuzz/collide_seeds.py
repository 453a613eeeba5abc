#!/usr/bin/env python3
# Writes the seeds of fuzz_collide (fuzz/corpus/collide/) in the layout its
# header describes: the values in the order the target reads them, then the
# bytes reversed, since FuzzedDataProvider takes integers from the end.
#   fuzz/collide_seeds.py fuzz/corpus/collide
import os
import random
import sys

from spring_seeds import Stream, float_bits  # the same layout of values and bytes


# A particle is ((kind, ...), radius): kinds (0, x, y) raw floats, (1, cell)
# a point of the grid of quarters, (2,) beside the previous one, (3, i, j) odd
# values by index; a radius is (kind,) below 192, or (255, value) raw.
def write_seed(directory, name, parts, particles):
    s = Stream()
    s.put(parts - 1, 1)
    s.put(len(particles), 2)
    for p, radius in particles:
        s.put(p[0], 1)
        if p[0] == 0:
            s.put(float_bits(p[1]), 4)
            s.put(float_bits(p[2]), 4)
        elif p[0] == 1:
            s.put(p[1], 1)
        elif p[0] == 3:
            s.put(p[1], 1)
            s.put(p[2], 1)
        s.put(radius[0], 1)
        if radius[0] >= 192:
            s.put(float_bits(radius[1]), 4)
    with open(os.path.join(directory, name), 'wb') as f:
        f.write(s.data())


def main(directory):
    os.makedirs(directory, exist_ok=True)
    rng = random.Random(32)
    # A pile on the grid of quarters, radii of an eighth to one: many contacts.
    write_seed(directory, 'pile', 2, [((1, rng.randrange(256)), (rng.randrange(128),)) for _ in range(200)])
    # Balls of radius 0.5 a hair apart along a line, at and under their reach.
    write_seed(directory, 'at_reach', 3, [((0, i * 0.9411, 0.25), (255, 0.5)) if i % 2 else ((2,), (255, 0.5))
                                          for i in range(60)])
    # Odd positions and radii: NaN, infinities, huge and subnormal.
    odd = []
    for i in range(80):
        position = [(0, rng.uniform(-3, 3), rng.uniform(-3, 3)), (1, rng.randrange(256)), (2,),
                    (3, rng.randrange(15), rng.randrange(15))][i % 4]
        radius = (rng.randrange(128, 192),) if i % 3 == 0 else (rng.randrange(128),)
        odd.append((position, radius))
    write_seed(directory, 'odd_values', 4, odd)
    # Clusters at huge coordinates with radii of a few floats' spacing there.
    huge = []
    for centre in (1e12, -3e15, 1e30, -3.4e38):
        r = max(0.5, 4 * abs(centre) * 2 ** -23)
        huge += [((0, centre + rng.uniform(-4, 4) * r, -centre + rng.uniform(-4, 4) * r), (255, r)) for _ in range(30)]
    write_seed(directory, 'huge', 2, huge)
    # Everyone in reach of everyone: radius 1e30.
    write_seed(directory, 'everyone_in_reach', 2, [((0, rng.uniform(-5, 5), rng.uniform(-5, 5)), (255, 1e30))
                                                  for _ in range(40)])
    write_seed(directory, 'one_point', 3, [((1, 17), (64,)) for _ in range(30)])
    write_seed(directory, 'two_particles', 1, [((1, 0), (7,)), ((1, 1), (7,))])


if __name__ == '__main__':
    main(sys.argv[1])
