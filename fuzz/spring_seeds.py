#!/usr/bin/env python3
# Writes the seeds of fuzz_springs (fuzz/corpus/springs/) in the layout its
# header describes: the values in the order the target reads them, then the
# bytes reversed, since FuzzedDataProvider takes integers from the end.
#   fuzz/spring_seeds.py fuzz/corpus/springs
import os
import random
import struct
import sys


def float_bits(x):
    return struct.unpack('<I', struct.pack('<f', x))[0]


class Stream:
    """Values in reading order; each integer's bytes big end first, as the provider builds them."""

    def __init__(self):
        self.bytes = []

    def put(self, value, size):
        for k in reversed(range(size)):
            self.bytes.append((value >> (8 * k)) & 255)

    def put_index(self, value, count):
        # The provider reads as many bytes as the range 0 .. count - 1 needs.
        size = 0
        while size < 4 and ((count - 1) >> (8 * size)) > 0:
            size += 1
        self.put(value, size)

    def data(self):
        return bytes(reversed(self.bytes))


# A particle is (kind, ...): (0, x, y) raw floats, (1, cell) a grid point,
# (2,) the previous particle's place, (3, i, j) odd values by index.
# A spring is (a, b, rest kind, raw rest length, used for kinds from 224).
def put_value(s, value):
    # Kind 255: a raw float.
    s.put(255, 1)
    s.put(float_bits(value), 4)


# Rules are (holds, planes, circles): a hold is (particle, x, y, still), a
# plane (nx, ny, d), a circle (x, y, radius).
def write_seed(directory, name, parts, particles, springs, bad=0, rules=None):
    s = Stream()
    s.put(parts - 1, 1)
    s.put(len(particles) - 1, 2)
    s.put(len(springs), 2)
    s.put(bad, 2)
    for p in particles:
        s.put(p[0], 1)
        if p[0] == 0:
            s.put(float_bits(p[1]), 4)
            s.put(float_bits(p[2]), 4)
        elif p[0] == 1:
            s.put(p[1], 1)
        elif p[0] == 3:
            s.put(p[1], 1)
            s.put(p[2], 1)
    for a, b, rest_kind, rest in springs:
        s.put_index(a, len(particles))
        s.put_index(b, len(particles))
        s.put(rest_kind, 1)
        if rest_kind >= 224:
            s.put(float_bits(rest), 4)
    holds, planes, circles = rules or ([], [], [])
    s.put(len(holds), 1)
    s.put(len(planes), 1)
    s.put(len(circles), 1)
    for particle, x, y, still in holds:
        s.put(particle, 2)
        put_value(s, x)
        put_value(s, y)
        s.put(still, 1)
    for shape in planes + circles:
        for value in shape:
            put_value(s, value)
    with open(os.path.join(directory, name), 'wb') as f:
        f.write(s.data())


def main(directory):
    rng = random.Random(22)
    # A 20 x 16 cloth on the whole-number grid, row by row: structural springs
    # (length 1) and shear springs; wide enough for many groups.
    cols, rows = 20, 16
    particles = [(1, c + 16 * r) for r in range(rows) for c in range(cols)]
    springs = []
    for r in range(rows):
        for c in range(cols):
            i = r * cols + c
            if c + 1 < cols:
                springs.append((i, i + 1, 8, 0))
            if r + 1 < rows:
                springs.append((i, i + cols, 8, 0))
            if c + 1 < cols and r + 1 < rows:
                springs.append((i, i + cols + 1, 255, 1.351246))
            if c > 0 and r + 1 < rows:
                springs.append((i, i + cols - 1, 255, 1.351246))
    # Its top corners and middle pinned, one particle held moving, a floor and a ball.
    rules = ([(0, 0, 0, 1), (10, 10, 0, 1), (19, 19, 0, 1), (300, 5, 20, 0)],
             [(0, -1, -14)], [(8, 9, 3.5)])
    write_seed(directory, 'cloth_20x16', 2, particles, springs, rules=rules)
    # The same cloth with a single hold, and with balls alone: the sets where a
    # lone hold or the circles without holds and planes were once left out.
    write_seed(directory, 'one_hold', 2, particles, springs, rules=([(150, 4, 7, 0)], [], []))
    write_seed(directory, 'circles_alone', 3, particles, springs,
               rules=([], [], [(8, 9, 3.5), (3, 3, 2), (-7, 0, 1)]))

    # A rope of raw positions, forward, then a few springs back along it: no group at all.
    particles = [(0, i * 0.7 + rng.uniform(-0.1, 0.1), rng.uniform(-0.2, 0.2)) for i in range(41)]
    springs = [(i, i + 1, 255, 0.5) for i in range(40)] + [(i + 1, i, 16, 0) for i in range(0, 40, 7)]
    write_seed(directory, 'rope', 1, particles, springs, 1 | 0 << 1 | 7 << 3)

    # Odd values everywhere: raw NaN, infinities and subnormals, coincident places,
    # odd rest lengths, self-springs and repeated springs.
    odd = [float('nan'), float('inf'), -float('inf'), 1e-40, -0.0, 3e38, 2.5, -7.25]
    particles = []
    for i in range(24):
        kind = i % 4
        if kind == 0:
            particles.append((0, rng.choice(odd), rng.uniform(-20, 20)))
        elif kind == 1:
            particles.append((1, rng.randrange(256)))
        elif kind == 2:
            particles.append((2,))
        else:
            particles.append((3, rng.randrange(12), rng.randrange(12)))
    springs = []
    for j in range(150):
        a = rng.randrange(24)
        b = a if j % 9 == 0 else rng.randrange(24)
        springs.append((a, b, rng.randrange(256), rng.choice(odd + [1.0, 1e30, -3.0])))
        if j % 13 == 0:
            springs.append(springs[-1])
    # Rules with odd values: NaN, infinite and huge fields, moves that overflow.
    rules = ([(3, float('nan'), 1, 1), (5, float('inf'), 0, 0), (5, 2, 3e38, 1)],
             [(float('nan'), 1, 0), (1, 0, float('inf')), (1e30, 1e30, 3e38)],
             [(0, 0, float('inf')), (float('nan'), 0, 2), (1, 1, 3e38)])
    write_seed(directory, 'odd_values', 3, particles, springs, 0 | 2 << 1 | 3 << 3, rules)
    # The same set, a hold past the particles: refused by every part.
    write_seed(directory, 'hold_past', 3, particles, springs, 0, ([(0, 1, 1, 1), (24, 0, 0, 1)], [], []))

    # Few particles, many springs: long runs through one particle.
    particles = [(1, rng.randrange(256)) for _ in range(6)]
    springs = [(rng.randrange(6), rng.randrange(6), rng.randrange(128), 0) for _ in range(60)]
    write_seed(directory, 'dense', 2, particles, springs, 0 | 1 << 1 | 59 << 3)

    # Many particles, few shared: groups from the start, and a tail after the last.
    particles = [(1, rng.randrange(256)) if i % 3 else (0, rng.uniform(-50, 50), rng.uniform(-50, 50))
                 for i in range(300)]
    springs = [(rng.randrange(300), rng.randrange(300), rng.randrange(224), rng.uniform(0, 4)) for _ in range(253)]
    write_seed(directory, 'sparse', 4, particles, springs, 1 | 3 << 1 | 100 << 3)

    write_seed(directory, 'one_particle', 1, [(1, 0)], [])


if __name__ == '__main__':
    main(sys.argv[1])
