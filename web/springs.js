// A cloth on pins over a heap of balls, moved by the penshell-physics npm
// package (copied into the site by scripts/web.sh) and drawn on a Canvas 2D.
// The pointer takes hold of the patch of cloth under it; let go, the patch
// keeps the speed of the pull. Pulled too hard the cloth tears: a spring
// stretched past TEAR times its rest length breaks and is no longer drawn,
// and loose pieces fall onto the balls. The pins and the held patch are the
// kernel's holds, the floor and walls planes, the big ball a circle, applied
// inside every pass; the small balls, and the cloth's own particles, collide.
import { createKernel, PARTICLE_STRIDE as S, HOLD_STRIDE as H } from './penshell-physics/index.js';

const COLS = 40, ROWS = 26, CELL = 8, LEFT = 320 - (COLS - 1) * CELL / 2, TOP = 40;
const PASSES = 8, DT = 1 / 60, GRAVITY = 600, GRAB = 20, FLOOR = 470, BALL = [560, 400, 40];
// The cloth's weight and a slow pull, by its edge too, stretch a spring to
// about 3.2 times its rest length at most (eight passes leave a cloth this
// size that soft); a pull faster than the passes can spread stretches the
// springs round the held patch past 4 within a frame or two.
const TEAR = 4;
// The heap: balls of radius 4 to 6 from wall to wall; the cloth's particles
// have radius 3, under half its spacing, so that they never push their own
// neighbours.
const BALLS = 700, CLOTH_RADIUS = 3;
const canvas = document.getElementById('canvas'), status = document.getElementById('status');
const draw2d = canvas.getContext('2d');

function report(error) {
  document.getElementById('stderr').textContent += `${error.stack || error}\n`;
}

const kernel = await createKernel();
const n = COLS * ROWS, count = n + BALLS;
const world = kernel.createWorld({ particles: count, springs: 4 * n, holds: COLS + 32, planes: 3, circles: 1,
  collide: true });
const p = world.particles;
world.particleCount = count;

// Particles in rows from the top; structural and shear springs.
for (let i = 0; i < n; ++i) {
  const x = LEFT + (i % COLS) * CELL, y = TOP + Math.floor(i / COLS) * CELL;
  p.set([x, y, x, y, 0, 0], i * S);
  world.radii[i] = CLOTH_RADIUS;
}
// The balls from a loose lattice above the floor, none inside the big ball.
for (let k = 0, spot = 0; k < BALLS; ++spot) {
  const row = Math.floor(spot / 60), x = 12 + (spot % 60) * 10.3 + (row % 2) * 5, y = FLOOR - 7 - row * 10;
  if (Math.hypot(x - BALL[0], y - BALL[1]) < BALL[2] + 8) continue;
  p.set([x, y, x, y, 0, 0], (n + k) * S);
  world.radii[n + k] = 4 + k % 3;
  ++k;
}
let springs = 0;
const drawn = [];  // the structural springs, the threads drawn
function add(a, b, thread) {
  world.springEnds[3 * springs] = a, world.springEnds[3 * springs + 1] = b;
  world.springRest[3 * springs + 2] = world.clen(a, b);
  if (thread) drawn.push(springs);
  ++springs;
}
for (let i = 0; i < n; ++i) {
  const c = i % COLS, r = Math.floor(i / COLS);
  if (c + 1 < COLS) add(i, i + 1, true);
  if (r + 1 < ROWS) add(i, i + COLS, true);
  if (c + 1 < COLS && r + 1 < ROWS) add(i, i + COLS + 1, false);
  if (c > 0 && r + 1 < ROWS) add(i, i + COLS - 1, false);
}
world.springCount = springs;
world.schedule();

// Pins, still holds: the whole top row.
let pins = 0;
function hold(k, particle, x, y, still) {
  world.holdParticles[k * H] = particle, world.holdParticles[k * H + 3] = still;
  world.holdPositions[k * H + 1] = x, world.holdPositions[k * H + 2] = y;
}
for (let c = 0; c < COLS; ++c) hold(pins++, c, p[c * S], p[c * S + 1], 1);
world.holdCount = pins;
// The floor keeps y <= FLOOR (0 x - 1 y >= -FLOOR), the walls 0 <= x <= 640;
// the big ball keeps its radius.
world.planes.set([0, -1, -FLOOR, 1, 0, 0, -1, 0, -canvas.width]);
world.circles.set(BALL);
world.planeCount = 3, world.circleCount = 1;
// The held patch: holds after the pins, not still, so that it can be flung;
// each particle keeps its offset from the pointer.
let held = [];

// What the page has done, for its checks: frames stepped, springs torn.
const state = { steps: 0, torn: 0 };
window.springs = state;

// A frame in the kernel's order: step, collide, the passes with the rules
// (the holds last: they win), then tear what the passes left stretched.
function frame() {
  try {
    for (let i = 0; i < count; ++i) p[i * S + 5] += GRAVITY;
    world.step(DT);
    world.collide();
    world.springPasses(PASSES);
    state.torn += world.tear(TEAR);
    ++state.steps;
    draw();
    requestAnimationFrame(frame);
  } catch (error) {
    report(error);
  }
}

// The threads in the colour of penshell-cloth's, each particle a 2x2 square;
// only the threads not torn. The balls in blue-grey.
function draw() {
  draw2d.fillStyle = 'black';
  draw2d.fillRect(0, 0, canvas.width, canvas.height);
  draw2d.strokeStyle = 'rgb(96, 96, 112)';
  draw2d.lineWidth = 2;
  draw2d.beginPath();
  draw2d.moveTo(0, FLOOR + 1), draw2d.lineTo(canvas.width, FLOOR + 1);
  draw2d.moveTo(BALL[0] + BALL[2], BALL[1]), draw2d.arc(BALL[0], BALL[1], BALL[2], 0, 2 * Math.PI);
  draw2d.stroke();
  draw2d.fillStyle = 'rgb(112, 144, 192)';
  draw2d.beginPath();
  for (let i = n; i < count; ++i) {
    const x = p[i * S], y = p[i * S + 1], r = world.radii[i] - 0.5;
    draw2d.moveTo(x + r, y), draw2d.arc(x, y, r, 0, 2 * Math.PI);
  }
  draw2d.fill();
  draw2d.strokeStyle = draw2d.fillStyle = 'rgb(255, 204, 102)';
  draw2d.lineWidth = 1;
  draw2d.beginPath();
  for (const s of drawn) {
    if (Number.isNaN(world.springRest[3 * s + 2])) continue;
    const a = world.springEnds[3 * s] * S, b = world.springEnds[3 * s + 1] * S;
    draw2d.moveTo(p[a], p[a + 1]), draw2d.lineTo(p[b], p[b + 1]);
  }
  draw2d.stroke();
  for (let i = 0; i < n; ++i) draw2d.fillRect(Math.round(p[i * S]) - 1, Math.round(p[i * S + 1]) - 1, 2, 2);
}

function at(event) {
  const box = canvas.getBoundingClientRect();
  return [(event.clientX - box.left) * canvas.width / box.width, (event.clientY - box.top) * canvas.height / box.height];
}

function holdPatch(x, y) {
  held.forEach(([i, dx, dy], k) => hold(pins + k, i, x + dx, y + dy, 0));
}

canvas.addEventListener('pointerdown', (event) => {
  const [x, y] = at(event);
  held = [];
  for (let i = 0; i < n && held.length < world.holdCapacity - pins; ++i) {
    const dx = p[i * S] - x, dy = p[i * S + 1] - y;
    if (Math.hypot(dx, dy) < GRAB) held.push([i, dx, dy]);
  }
  if (!held.length) return;
  holdPatch(x, y);
  world.holdCount = pins + held.length;
  canvas.setPointerCapture(event.pointerId), canvas.style.cursor = 'grabbing';
});
canvas.addEventListener('pointermove', (event) => {
  if (held.length) holdPatch(...at(event));
});
canvas.addEventListener('pointerup', () => {
  held = [], world.holdCount = pins, canvas.style.cursor = '';
});

status.textContent = `running: ${n} particles of cloth, ${springs} springs, ${BALLS} balls, ${PASSES} passes a frame, ` +
  `the kernel's ${kernel.simd ? 'SIMD128' : 'portable'} build`;
requestAnimationFrame(frame);
