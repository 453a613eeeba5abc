// A cloth on pins over a floor and a ball, moved by the penshell-physics npm
// package (copied into the site by scripts/web.sh) and drawn on a Canvas 2D.
// The pointer pulls the particle nearest to it; let go, the cloth keeps the
// speed of the pull. The pins and the pulled particle are the kernel's holds,
// the floor a plane and the ball a circle, applied inside every pass.
import { createKernel, PARTICLE_STRIDE as S, HOLD_STRIDE as H } from './penshell-physics/index.js';

const COLS = 40, ROWS = 26, CELL = 8, LEFT = 320 - (COLS - 1) * CELL / 2, TOP = 40;
const PASSES = 8, DT = 1 / 60, GRAVITY = 600, GRAB = 20, FLOOR = 470, BALL = [330, 282, 40];
const canvas = document.getElementById('canvas'), status = document.getElementById('status');
const draw2d = canvas.getContext('2d');

function report(error) {
  document.getElementById('stderr').textContent += `${error.stack || error}\n`;
}

const kernel = await createKernel();
const n = COLS * ROWS;
const world = kernel.createWorld({ particles: n, springs: 4 * n, holds: COLS, planes: 1, circles: 1 });
const p = world.particles;
world.particleCount = n;

// Particles in rows from the top; structural and shear springs.
for (let i = 0; i < n; ++i) {
  const x = LEFT + (i % COLS) * CELL, y = TOP + Math.floor(i / COLS) * CELL;
  p.set([x, y, x, y, 0, 0], i * S);
}
let springs = 0;
function add(a, b) {
  world.springEnds[3 * springs] = a, world.springEnds[3 * springs + 1] = b;
  world.springRest[3 * springs + 2] = world.clen(a, b);
  ++springs;
}
for (let i = 0; i < n; ++i) {
  const c = i % COLS, r = Math.floor(i / COLS);
  if (c + 1 < COLS) add(i, i + 1);
  if (r + 1 < ROWS) add(i, i + COLS);
  if (c + 1 < COLS && r + 1 < ROWS) add(i, i + COLS + 1);
  if (c > 0 && r + 1 < ROWS) add(i, i + COLS - 1);
}
world.springCount = springs;
world.schedule();

// Pins, still holds: every fifth particle of the top row, and its last.
let pins = 0;
function hold(k, particle, x, y, still) {
  world.holdParticles[k * H] = particle, world.holdParticles[k * H + 3] = still;
  world.holdPositions[k * H + 1] = x, world.holdPositions[k * H + 2] = y;
}
for (let c = 0; c < COLS; c += 5) hold(pins++, c, p[c * S], p[c * S + 1], 1);
hold(pins++, COLS - 1, p[(COLS - 1) * S], p[(COLS - 1) * S + 1], 1);
world.holdCount = pins;
// The floor keeps y <= FLOOR (0 x - 1 y >= -FLOOR); the ball keeps its radius.
world.planes.set([0, -1, -FLOOR]);
world.circles.set(BALL);
world.planeCount = world.circleCount = 1;
// The pulled particle: one more hold, not still, so that it can be flung.
let held = -1;

function frame() {
  try {
    for (let i = 0; i < n; ++i) p[i * S + 5] += GRAVITY;
    world.step(DT);
    world.springPasses(PASSES);
    draw();
    requestAnimationFrame(frame);
  } catch (error) {
    report(error);
  }
}

// The threads in the colour of penshell-cloth's, each particle a 2x2 square.
function draw() {
  draw2d.fillStyle = 'black';
  draw2d.fillRect(0, 0, canvas.width, canvas.height);
  draw2d.strokeStyle = 'rgb(96, 96, 112)';
  draw2d.lineWidth = 2;
  draw2d.beginPath();
  draw2d.moveTo(0, FLOOR + 1), draw2d.lineTo(canvas.width, FLOOR + 1);
  draw2d.moveTo(BALL[0] + BALL[2], BALL[1]), draw2d.arc(BALL[0], BALL[1], BALL[2], 0, 2 * Math.PI);
  draw2d.stroke();
  draw2d.strokeStyle = draw2d.fillStyle = 'rgb(255, 204, 102)';
  draw2d.lineWidth = 1;
  draw2d.beginPath();
  for (let i = 0; i < n; ++i) {
    const x = p[i * S], y = p[i * S + 1];
    if (i % COLS + 1 < COLS) draw2d.moveTo(x, y), draw2d.lineTo(p[(i + 1) * S], p[(i + 1) * S + 1]);
    if (i + COLS < n) draw2d.moveTo(x, y), draw2d.lineTo(p[(i + COLS) * S], p[(i + COLS) * S + 1]);
  }
  draw2d.stroke();
  for (let i = 0; i < n; ++i) draw2d.fillRect(Math.round(p[i * S]) - 1, Math.round(p[i * S + 1]) - 1, 2, 2);
}

function at(event) {
  const box = canvas.getBoundingClientRect();
  return [(event.clientX - box.left) * canvas.width / box.width, (event.clientY - box.top) * canvas.height / box.height];
}

canvas.addEventListener('pointerdown', (event) => {
  const [x, y] = at(event);
  let best = GRAB;
  for (let i = 0; i < n; ++i) {
    const d = Math.hypot(p[i * S] - x, p[i * S + 1] - y);
    if (d < best) best = d, held = i;
  }
  if (held < 0) return;
  hold(pins, held, x, y, 0);
  world.holdCount = pins + 1;
  canvas.setPointerCapture(event.pointerId), canvas.style.cursor = 'grabbing';
});
canvas.addEventListener('pointermove', (event) => {
  if (held >= 0) world.holdPositions.set(at(event), pins * H + 1);
});
canvas.addEventListener('pointerup', () => {
  held = -1, world.holdCount = pins, canvas.style.cursor = '';
});

status.textContent = `running: ${n} particles, ${springs} springs, ${PASSES} passes a frame, ` +
  `the kernel's ${kernel.simd ? 'SIMD128' : 'portable'} build`;
requestAnimationFrame(frame);
