// The fixed scenes of tests/kernel_exactness.cpp, run through the package:
// each returns the FNV-1a hash the native build prints, as 16 hex digits. Shared
// by the node tests and the browser page; they take a loaded kernel.
const f = Math.fround;
const mul = (a, b) => f(f(a) * f(b));

const bytes = new Uint8Array(4), bits = new Float32Array(bytes.buffer), word = new Uint32Array(bytes.buffer);
const PRIME = 1099511628211n, MASK = (1n << 64n) - 1n;

export function fnv1a(data, h = 1469598103934665603n) {
  for (const byte of data) h = ((h ^ BigInt(byte)) * PRIME) & MASK;
  return h;
}

function hashFloat(value, h) {
  bits[0] = value;
  return fnv1a(bytes, h);
}

function particleBytes(world, n) {
  return new Uint8Array(world.particles.buffer, world.particles.byteOffset, n * 24);
}

const hex = (h) => h.toString(16).padStart(16, '0');

const COLS = 24, ROWS = 16, N = COLS * ROWS;

// The cloth both spring scenes start from, scheduled: particles in rows, at
// rest (place(i) puts particle i back where it started), its structural and
// shear springs given row by row. `rules`: the capacities of the rules.
function clothWorld(kernel, rules = {}) {
  const world = kernel.createWorld({ particles: N, springs: 4 * N, ...rules });
  const p = world.particles;
  world.particleCount = N;
  p.set([0, 0, 0, 0, 0, 0, 1.5, 0, 0, 0, 0, 0, 1.5, 1.5]);
  const side = world.clen(0, 1), diagonal = world.clen(0, 2);
  const place = (i) => {
    p[6 * i] = p[6 * i + 2] = f(mul(i % COLS, 1.5) + mul(Math.floor(i / COLS), 0.05));
    p[6 * i + 1] = p[6 * i + 3] = mul(Math.floor(i / COLS), -1.5);
  };
  for (let i = 0; i < N; ++i) place(i), p[6 * i + 4] = p[6 * i + 5] = 0;
  let count = 0;
  const add = (a, b, rest) => {
    world.springEnds[3 * count] = a, world.springEnds[3 * count + 1] = b, world.springRest[3 * count + 2] = rest;
    ++count;
  };
  for (let r = 0; r < ROWS; ++r)
    for (let c = 0; c < COLS; ++c) {
      const i = r * COLS + c;
      if (c + 1 < COLS) add(i, i + 1, side);
      if (r + 1 < ROWS) add(i, i + COLS, side);
      if (c + 1 < COLS && r + 1 < ROWS) add(i, i + COLS + 1, diagonal);
      if (c > 0 && r + 1 < ROWS) add(i, i + COLS - 1, diagonal);
    }
  world.springCount = count;
  world.schedule();
  return { world, place };
}

// kernel_exactness's cloth_hash: the cloth, its top corners pinned after every
// pass, 500 steps of four spring passes in gravity and a gusting wind; hashes
// every pass's error and the particles at the end.
export function clothHash(kernel) {
  const { world, place } = clothWorld(kernel);
  try {
    const p = world.particles;
    let h = fnv1a([]), prevDt = 0;
    for (let s = 0; s < 500; ++s) {
      for (let i = 0; i < N; ++i) {
        p[6 * i + 5] -= f(9.81);
        p[6 * i + 4] += s % 150 < 75 ? 2.5 : -1.5;
      }
      prevDt = world.step(f(f(1 / 60) + mul(s % 5, 0.002)), prevDt);
      for (let pass = 0; pass < 4; ++pass) {
        h = hashFloat(world.springPasses(1), h);
        place(0), place(COLS - 1);
      }
    }
    return hex(fnv1a(particleBytes(world, N), h));
  } finally {
    world.free();
  }
}

// kernel_exactness's scene_hash: a 24 x 16 cloth pinned at three points in
// gravity and a gusting wind for 1000 steps, its springs applied one by one
// with springForce; hashes every particle's summed error and the particles.
export function sceneHash(kernel) {
  const cols = COLS, n = N;
  const world = kernel.createWorld({ particles: n });
  try {
    const p = world.particles;
    world.particleCount = n;
    p.set([0, 0, 0, 0, 0, 0, 1.5, 0]);
    const rest = world.clen(0, 1);
    const place = (i) => {
      p[6 * i] = p[6 * i + 2] = f(mul(i % cols, 1.5) + mul(Math.floor(i / cols), 0.05));
      p[6 * i + 1] = p[6 * i + 3] = mul(Math.floor(i / cols), 1.5);
    };
    for (let i = 0; i < n; ++i) place(i), p[6 * i + 4] = p[6 * i + 5] = 0;
    let h = fnv1a([]), prevDt = 0;
    for (let s = 0; s < 1000; ++s) {
      for (let i = 0; i < n; ++i) {
        p[6 * i + 5] -= f(9.81);
        p[6 * i + 4] += s % 200 < 100 ? f(0.7) : f(-0.4);
      }
      prevDt = world.step(f(f(1 / 60) + mul(s % 7, 0.0015)), prevDt);
      for (let pass = 0; pass < 3; ++pass)
        for (let i = 0; i < n; ++i) {
          let e = 0;
          if (i % cols + 1 < cols) e = f(e + world.springForce(i, i + 1, rest));
          if (i + cols < n) e = f(e + world.springForce(i, i + cols, rest));
          h = hashFloat(e, h);
        }
      for (const c of [0, cols / 2, cols - 1]) place(n - cols + c);
    }
    return hex(fnv1a(particleBytes(world, n), h));
  } finally {
    world.free();
  }
}

// kernel_exactness's rules_hash: the cloth, 300 steps of four passes with
// rules; hashes every pass's error and the particles at the end. Rule set 0:
// its top row held still and its last particle held moving, as a pointer
// drags it, a floor, a wall and a ball. 1: that moving hold alone. 2: two
// balls alone.
export function rulesHash(kernel, set = 0) {
  const rows = set === 0 ? COLS : 0, balls = [[17, -12, 6], [6, -30, 5]].slice(0, [1, 0, 2][set]);
  const { world } = clothWorld(kernel, { holds: rows + 1, planes: 2, circles: 2 });
  try {
    const p = world.particles;
    const hold = (k, particle, x, y, still) => {
      world.holdParticles[4 * k] = particle, world.holdParticles[4 * k + 3] = still;
      world.holdPositions[4 * k + 1] = x, world.holdPositions[4 * k + 2] = y;
    };
    for (let c = 0; c < rows; ++c) hold(c, c, p[6 * c], p[6 * c + 1], 1);
    world.holdCount = set === 2 ? 0 : rows + 1;
    world.planes.set([0, 1, -20, -0.8, -0.6, -24]);
    world.planeCount = set === 0 ? 2 : 0;
    world.circles.set(balls.flat());
    world.circleCount = balls.length;
    let h = fnv1a([]), prevDt = 0;
    for (let s = 0; s < 300; ++s) {
      if (set !== 2) hold(rows, N - 1, f(30 - mul(s, 0.1)), f(-30 + mul(s % 100, 0.05)), 0);
      for (let i = 0; i < N; ++i) p[6 * i + 5] -= f(9.81);
      prevDt = world.step(f(1 / 60), prevDt);
      for (let pass = 0; pass < 4; ++pass) h = hashFloat(world.springPasses(1), h);
    }
    return hex(fnv1a(particleBytes(world, N), h));
  } finally {
    world.free();
  }
}

// The rules' scenes: all of them, one hold alone, balls alone.
export const oneHoldHash = (kernel) => rulesHash(kernel, 1);
export const ballsHash = (kernel) => rulesHash(kernel, 2);

// kernel_exactness's collide_hash: balls of four sizes poured from a lattice
// into a box (a floor and two walls: the rules of a pass with no springs) in
// gravity, 240 steps, each collided once then pushed back into the box;
// hashes every result and the particles at the end.
export function collideHash(kernel) {
  const cols = 20, rows = 15, n = cols * rows;
  const world = kernel.createWorld({ particles: n, planes: 3, collide: true });
  try {
    const p = world.particles;
    world.particleCount = n;
    for (let i = 0; i < n; ++i) {
      const r = Math.floor(i / cols);
      p[6 * i] = p[6 * i + 2] = f(f(mul(i % cols, 1.3) + mul(r, 0.05)) + 1);
      p[6 * i + 1] = p[6 * i + 3] = f(mul(r, 1.3) + 2);
      p[6 * i + 4] = p[6 * i + 5] = 0;
      world.radii[i] = f(mul(i % 4, 0.1) + f(0.3));
    }
    world.planes.set([0, 1, 0, 1, 0, 0, -1, 0, -27]);
    world.planeCount = 3;
    let h = fnv1a([]), prevDt = 0;
    for (let s = 0; s < 240; ++s) {
      for (let i = 0; i < n; ++i) p[6 * i + 5] -= f(9.81);
      prevDt = world.step(f(1 / 60), prevDt);
      h = hashFloat(world.collide(), h);
      h = hashFloat(world.springPasses(1), h);
    }
    return hex(fnv1a(particleBytes(world, n), h));
  } finally {
    world.free();
  }
}

// kernel_exactness's torn_hash: the cloth, its top row held still and half
// its bottom row dragged away for 150 steps then let go, over a heap of 60
// balls on a floor between two walls, the cloth's particles colliding too.
// Each step: collide, four passes with the rules, tear(1.5). 240 steps;
// hashes every result, then the particles and the springs at the end.
export function tornHash(kernel) {
  const balls = 60, n = N + balls, half = COLS / 2;
  const { world } = clothWorld(kernel, { holds: COLS + half, planes: 3, collide: true, particles: n });
  try {
    const p = world.particles;
    world.particleCount = n;
    for (let i = 0; i < N; ++i) world.radii[i] = 0.5;
    for (let i = 0; i < balls; ++i) {
      const k = 6 * (N + i);
      p[k] = p[k + 2] = f(mul(i % 12, 2.5) + 2);
      p[k + 1] = p[k + 3] = f(mul(Math.floor(i / 12), 1.6) - 27);
      p[k + 4] = p[k + 5] = 0;
      world.radii[N + i] = f(mul(i % 3, 0.1) + f(0.6));
    }
    world.schedule();
    const hold = (k, particle, x, y, still) => {
      world.holdParticles[4 * k] = particle, world.holdParticles[4 * k + 3] = still;
      world.holdPositions[4 * k + 1] = x, world.holdPositions[4 * k + 2] = y;
    };
    for (let c = 0; c < COLS; ++c) hold(c, c, p[6 * c], p[6 * c + 1], 1);
    world.planes.set([0, 1, -28, 1, 0, -5, -1, 0, -70]);
    world.planeCount = 3;
    let h = fnv1a([]), prevDt = 0;
    for (let s = 0; s < 240; ++s) {
      for (let c = half; c < COLS; ++c) {
        const i = N - COLS + c;
        hold(COLS + c - half, i, f(p[6 * i] + f(0.1)), f(p[6 * i + 1] - f(0.05)), 0);
      }
      world.holdCount = s < 150 ? COLS + half : COLS;
      for (let i = 0; i < n; ++i) p[6 * i + 5] -= f(9.81);
      prevDt = world.step(f(1 / 60), prevDt);
      h = hashFloat(world.collide(), h);
      for (let pass = 0; pass < 4; ++pass) h = hashFloat(world.springPasses(1), h);
      word[0] = world.tear(1.5);
      h = fnv1a(bytes, h);
    }
    h = fnv1a(new Uint8Array(world.springEnds.buffer, world.springEnds.byteOffset, world.springCount * 12), h);
    return hex(fnv1a(particleBytes(world, n), h));
  } finally {
    world.free();
  }
}
