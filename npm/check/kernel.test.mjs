// penshell-physics as installed from its tarball: one table of scenarios, one
// harness. A scenario names the kernel it loads and a world, then either the
// scene hash it must give (the native build's, from tests/kernel_exactness.cpp),
// the error it must throw (with the world's bytes and counts unchanged after),
// or what it must see. Run by run.sh with node --test; needs
// PENSHELL_SCENE_HASH, PENSHELL_CLOTH_HASH, PENSHELL_RULES_HASH, PENSHELL_ONE_HOLD_HASH,
// PENSHELL_BALLS_HASH, PENSHELL_COLLIDE_HASH, PENSHELL_TORN_HASH and PENSHELL_ROOT.
import test from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { createKernel, simdSupported, PARTICLE_STRIDE, SPRING_STRIDE, HOLD_STRIDE, PLANE_STRIDE, CIRCLE_STRIDE }
  from 'penshell-physics';
import * as bare from 'penshell-physics/bare';
import ts from 'typescript';
import * as pkg from 'penshell-physics';
import { clothHash, sceneHash, rulesHash, oneHoldHash, ballsHash, collideHash, tornHash } from './scenes.mjs';

const { springPassJs, collideJs } = await import(`${process.env.PENSHELL_ROOT}/bench/bench_npm.mjs`);
const want = { scene: process.env.PENSHELL_SCENE_HASH, cloth: process.env.PENSHELL_CLOTH_HASH,
  rules: process.env.PENSHELL_RULES_HASH, oneHold: process.env.PENSHELL_ONE_HOLD_HASH,
  balls: process.env.PENSHELL_BALLS_HASH, collide: process.env.PENSHELL_COLLIDE_HASH,
  torn: process.env.PENSHELL_TORN_HASH };
const scenes = { scene: sceneHash, cloth: clothHash, rules: rulesHash, oneHold: oneHoldHash, balls: ballsHash,
  collide: collideHash, torn: tornHash };
const require = createRequire(import.meta.url);
const wasmFile = (name) => fs.readFileSync(require.resolve(`penshell-physics/${name}.wasm`));
const packageFile = (name) => path.join(path.dirname(require.resolve('penshell-physics/package.json')), name);

const loaders = {
  simd: () => createKernel({ simd: true }),
  portable: () => createKernel({ simd: false }),
  auto: () => createKernel({ simd: 'auto' }),
  default: () => createKernel(),
  'bare simd': () => bare.createKernel({ wasm: wasmFile('simd') }),
  'bare portable': () => bare.createKernel({ wasm: wasmFile('portable') }),
};
// Which build each loader must give.
const isSimd = { simd: true, portable: false, auto: simdSupported(), default: simdSupported(), 'bare simd': true,
  'bare portable': false };

// A world of 8 particles in a row and 6 springs between them, scheduled,
// with room for two holds, a plane and a circle.
function smallWorld(kernel, capacity = { particles: 8, springs: 6, holds: 2, planes: 1, circles: 1 }) {
  const w = kernel.createWorld(capacity);
  w.particleCount = 8;
  for (let i = 0; i < 8; ++i) w.particles.set([i * 1.1, (i % 3) * 0.4, i * 1.1, 0, 0, -9.81], i * PARTICLE_STRIDE);
  const ends = [[0, 1], [1, 2], [2, 3], [3, 4], [4, 7], [7, 0]];
  ends.forEach(([a, b], i) => {
    w.springEnds[3 * i] = a, w.springEnds[3 * i + 1] = b, w.springRest[3 * i + 2] = 1;
  });
  w.springCount = 6;
  w.schedule();
  return w;
}

// Random springs over random particles, for comparing bits with a plain loop.
function randomSet(n, springs, seed) {
  let s = seed;
  const next = () => (s = (Math.imul(s, 1664525) + 1013904223) >>> 0) / 2 ** 32;
  const particles = new Float32Array(n * 6).map(() => (next() - 0.5) * 20);
  const ends = new Uint32Array(springs * 3), rest = new Float32Array(ends.buffer);
  for (let i = 0; i < springs; ++i)
    ends[3 * i] = Math.floor(next() * n), ends[3 * i + 1] = Math.floor(next() * n), rest[3 * i + 2] = next() * 3;
  return { particles, ends, rest };
}

function load(w, set) {
  w.particleCount = set.particles.length / 6;
  w.particles.set(set.particles);
  w.springEnds.set(set.ends);
  w.springCount = set.ends.length / 3;
  w.schedule();
}

const freed = (w) => { w.free(); return w; };

// What a .d.ts declares: its exported values, and each class's members with
// the number of parameters a call must give.
function declared(file) {
  const source = ts.createSourceFile(file, fs.readFileSync(file, 'utf8'), ts.ScriptTarget.Latest);
  const required = (node) => node.parameters?.filter((p) => !p.questionToken && !p.initializer).length ?? null;
  const values = {}, classes = {};
  for (const s of source.statements) {
    if (ts.isClassDeclaration(s)) {
      values[s.name.text] = null;
      classes[s.name.text] = Object.fromEntries(s.members.filter((m) => m.name && !ts.isConstructorDeclaration(m))
        .map((m) => [m.name.text, ts.isMethodDeclaration(m) ? required(m) : null]));
    } else if (ts.isFunctionDeclaration(s)) values[s.name.text] = required(s);
    else if (ts.isVariableStatement(s)) for (const d of s.declarationList.declarations) values[d.name.text] = null;
  }
  return { values, classes };
}

// The same of the running package: functions by their length, fields as null.
function present(object) {
  const names = new Set([...Object.keys(object), ...Object.getOwnPropertyNames(Object.getPrototypeOf(object))]);
  names.delete('constructor');
  return Object.fromEntries([...names].map((name) => {
    const d = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(object), name);
    return [name, d && typeof d.value === 'function' ? d.value.length : null];
  }));
}

// throws: [error class, message pattern]; act(world, kernel) must throw it,
// after setup(world) if given, and leave the world as it was before act.
// hash: which scene. see(world, kernel): asserts of its own.
const scenarios = [
  ...Object.keys(loaders).flatMap((loader) => [
    { name: `${loader}: the springs' cloth scene gives the native hash`, loader, hash: 'cloth' },
    { name: `${loader}: the one-by-one scene gives the native hash`, loader, hash: 'scene' },
    { name: `${loader}: the rules' scene gives the native hash`, loader, hash: 'rules' },
    { name: `${loader}: the rules' scene with one hold alone gives the native hash`, loader, hash: 'oneHold' },
    { name: `${loader}: the rules' scene with balls alone gives the native hash`, loader, hash: 'balls' },
    { name: `${loader}: the collisions' scene gives the native hash`, loader, hash: 'collide' },
    { name: `${loader}: the cloth torn onto balls gives the native hash`, loader, hash: 'torn' },
  ]),
  { name: "'auto' takes SIMD128 where the engine validates it", loader: 'auto',
    see: (w, k) => assert.equal(k.simd, simdSupported()) },

  { name: 'index.d.ts declares what the package has, with the arguments it needs', see: (w, k) => {
    const d = declared(packageFile('index.d.ts'));
    const functions = (module) => Object.fromEntries(Object.entries(module)
      .map(([name, value]) => [name, typeof value === 'function' && !/^class /.test(String(value)) ? value.length : null]));
    assert.deepEqual(d.values, functions(pkg));
    assert.deepEqual(d.classes.World, present(w));
    assert.deepEqual(d.classes.Kernel, present(k));
    assert.deepEqual(declared(packageFile('bare.d.ts')).values, { createKernel: 1 });
    assert.equal(bare.createKernel.length, 1);
  } },

  // The package's README and the project's front page show the same program.
  ...[['the package', packageFile('README.md')], ['the project', `${process.env.PENSHELL_ROOT}/README.md`]]
    .map(([whose, file], n) => ({ name: `${whose} README's example runs as written`, see: async () => {
      const example = path.resolve(`readme-example-${n}.mjs`);
      fs.writeFileSync(example, fs.readFileSync(file, 'utf8').match(/```js\n([^]*?)```/)[1]);
      await import(example);
    } })),

  // Bad sizes and counts.
  ...[[-1, RangeError, /particles must be a whole number .* not -1/], [1.5, RangeError, /not 1.5/],
    [NaN, RangeError, /not NaN/], [2 ** 32, RangeError, /not 4294967296/], ['8', TypeError, /not string/],
    [undefined, TypeError, /not undefined/]].map(([size, error, message]) => (
    { name: `createWorld({particles: ${String(size)}}) is refused`, throws: [error, message],
      act: (w, k) => k.createWorld({ particles: size }) })),
  { name: 'a world past 4 GiB is refused, naming its size', throws: [RangeError, /needs 6\.\d GiB; .* at most 4 GiB/],
    act: (w, k) => k.createWorld({ particles: 2 ** 28 }) },
  { name: 'springs past 4 GiB too', throws: [RangeError, /at most 4 GiB/],
    act: (w, k) => k.createWorld({ particles: 1, springs: 2 ** 26 }) },
  { name: 'particleCount past the capacity', throws: [RangeError, /particleCount 9 is past the capacity of 8/],
    act: (w) => { w.particleCount = 9; } },
  { name: 'springCount past the capacity', throws: [RangeError, /springCount 7 is past the capacity of 6/],
    act: (w) => { w.springCount = 7; } },
  { name: 'a negative springCount', throws: [RangeError, /springCount must be a whole number .* not -1/],
    act: (w) => { w.springCount = -1; } },
  { name: 'a fractional number of passes', throws: [RangeError, /passes must be a whole number .* not 2.5/],
    act: (w) => w.springPasses(2.5) },
  { name: 'an unknown simd option', throws: [TypeError, /simd must be 'auto', true or false, not yes/],
    act: () => createKernel({ simd: 'yes' }) },
  { name: 'bare without a module', throws: [TypeError, /wasm must be a WebAssembly.Module/],
    act: () => bare.createKernel({}) },

  // Springs naming particles at or past the count: refused, the schedule kept.
  { name: 'a spring at the particle count refuses the schedule', throws: [RangeError,
    /spring 4 joins particles 4 and 7: particle 7 is at or past particleCount 7/],
  setup: (w) => { w.particleCount = 7; }, act: (w) => w.schedule() },
  { name: 'a spring far past the count, on its first end', throws: [RangeError, /spring 2 joins particles 4294967295 and 3/],
    setup: (w) => { w.springEnds[6] = 0xffffffff; }, act: (w) => w.schedule() },
  { name: 'after a refused schedule the one before still serves, bit for bit', see: (w, k) => {
    const twin = smallWorld(k);
    w.springEnds[6] = 99;
    assert.throws(() => w.schedule(), RangeError);
    w.springEnds[6] = 2;  // the pass follows the schedule's ends, as before
    assert.equal(w.springPasses(3), twin.springPasses(3));
    assert.deepEqual(w.particles, twin.particles);
  } },
  { name: 'springs changed and not scheduled again: the pass refuses', throws: [TypeError, /call schedule\(\)/],
    setup: (w) => { w.springCount = 5; }, act: (w) => w.springPasses() },
  { name: 'particles dropped from under the schedule: the pass refuses', throws: [TypeError, /no schedule/],
    setup: (w) => { w.particleCount = 6; }, act: (w) => w.springPasses() },
  { name: 'clen past the particle count', throws: [RangeError, /particle b 8 is at or past particleCount 8/],
    act: (w) => w.clen(0, 8) },
  { name: 'springForce past the particle count', throws: [RangeError, /particle a 8 is at or past particleCount 8/],
    act: (w) => w.springForce(8, 0, 1) },
  { name: 'holdCount past the capacity', throws: [RangeError, /holdCount 3 is past the capacity of 2/],
    act: (w) => { w.holdCount = 3; } },
  { name: 'a hold at the particle count refuses the pass, nothing moved', throws: [RangeError,
    /hold 1 names particle 8, at or past particleCount 8: nothing moved/],
  setup: (w) => { w.holdParticles.set([2, 0, 0, 1, 8, 0, 0, 0]); w.holdCount = 2; w.planeCount = 1; },
  act: (w) => w.springPasses(3) },
  { name: 'the kernel refuses a hold even with no springs', throws: [RangeError, /hold 0 names particle 9/],
    setup: (w) => { w.springCount = 0; w.holdParticles[0] = 9; w.holdCount = 1; }, act: (w) => w.springPasses() },
  { name: 'a step of no number', throws: [TypeError, /dt must be a number, not string/], act: (w) => w.step('1') },

  // Collisions and torn springs: refusals change nothing.
  { name: 'collide() in a world made without collide: true', throws: [TypeError, /made without collide: true/],
    act: (w) => w.collide() },
  { name: 'a collide option that is not a boolean', throws: [TypeError, /collide must be true or false, not yes/],
    act: (w, k) => k.createWorld({ particles: 4, collide: 'yes' }) },
  { name: 'collisions past 4 GiB are refused', throws: [RangeError, /at most 4 GiB/],
    act: (w, k) => k.createWorld({ particles: 2 ** 26, collide: true }) },
  // NaN, infinite, 0, negative, and numbers that are 0 or infinite as float32.
  ...[NaN, Infinity, -Infinity, 0, -1, 1e-50, 1e39].map((ratio) => (
    { name: `tear(${ratio}) is refused, nothing torn`, throws: [RangeError, /ratio must be above 0 and finite/],
      act: (w) => w.tear(ratio) })),
  { name: 'tear() of no number', throws: [TypeError, /ratio must be a number, not string/], act: (w) => w.tear('2') },
  { name: 'tear() with a spring at the particle count', throws: [RangeError,
    /spring 4 joins particles 4 and 7: particle 7 is at or past particleCount 7/],
  setup: (w) => { w.particleCount = 7; }, act: (w) => w.tear(1.01) },

  // A freed world: every use throws; views taken before are detached.
  ...[['step', (w) => w.step(0.1)], ['springPasses', (w) => w.springPasses()], ['schedule', (w) => w.schedule()],
    ['clen', (w) => w.clen(0, 1)], ['springForce', (w) => w.springForce(0, 1, 1)],
    ['collide', (w) => w.collide()], ['tear', (w) => w.tear(2)],
    ['particleCount', (w) => { w.particleCount = 1; }]].map(([what, act]) => (
    { name: `${what} on a freed world`, throws: [TypeError, /on a freed world/], act: (w) => act(freed(w)),
      unchanged: false })),
  { name: 'views taken before free() are empty after it', see: (w) => {
    const views = [w.particles, w.springEnds, w.springRest, w.holdParticles, w.holdPositions, w.planes, w.circles,
      w.radii];
    w.free();
    w.free();  // again: nothing more to give back
    assert.equal(w.freed, true);
    for (const v of views) assert.equal(v.length, 0);
    for (const v of [w.particles, w.springEnds, w.springRest, w.holdParticles, w.holdPositions, w.planes, w.circles,
      w.radii])
      assert.equal(v.length, 0);
    views[0][0] = 5;
    assert.equal(views[0][0], undefined);
  } },

  // The views: strides, capacity, one record each; NaN is data.
  { name: 'the views cover the capacity with the documented strides', see: (w) => {
    assert.equal(PARTICLE_STRIDE, 6), assert.equal(SPRING_STRIDE, 3);
    assert.equal(w.particles.length, 8 * 6), assert.equal(w.springEnds.length, 6 * 3);
    assert.equal(w.springRest.buffer, w.springEnds.buffer), assert.equal(w.springRest.byteOffset, w.springEnds.byteOffset);
    // The last particle, written through the view, is the kernel's particle 7.
    w.particles.set([3, 4], 7 * 6), w.particles.set([0, 0], 0);
    assert.equal(w.clen(0, 7), Math.fround(Math.fround(Math.fround(0.41) * 3) + Math.fround(Math.fround(0.941246) * 4)));
    // Holds, planes and circles: 16-byte holds read as words and floats, 12-byte shapes.
    assert.deepEqual([HOLD_STRIDE, PLANE_STRIDE, CIRCLE_STRIDE], [4, 3, 3]);
    assert.deepEqual([w.holdParticles.length, w.holdPositions.length, w.planes.length, w.circles.length], [8, 8, 3, 3]);
    assert.equal(w.holdPositions.byteOffset, w.holdParticles.byteOffset);
    // The step moves x by its velocity and consumes the acceleration.
    w.particles.set([1, 2, 0.5, 2, 4, 0], 3 * 6);
    w.step(0.5, 0.5);
    assert.deepEqual([...w.particles.subarray(18, 24)], [2.5, 2, 1, 2, 0, 0]);
  } },
  { name: 'passes give the bits of springForce in order, and of the plain JavaScript loop', world: { particles: 300, springs: 900 },
    see: (w, k) => {
      const set = randomSet(300, 900, 7);
      load(w, set);
      const one = k.createWorld({ particles: 300 });
      one.particleCount = 300, one.particles.set(set.particles);
      const plain = set.particles.slice();
      for (let pass = 0; pass < 3; ++pass) {
        let largest = 0;
        for (let i = 0; i < 900; ++i) {
          const e = Math.abs(one.springForce(set.ends[3 * i], set.ends[3 * i + 1], set.rest[3 * i + 2]));
          if (e > largest) largest = e;
        }
        assert.equal(w.springPasses(1), largest);
        assert.equal(springPassJs(plain, set.ends, set.rest, 900), largest);
      }
      assert.deepEqual(w.particles, one.particles);
      assert.deepEqual(w.particles, plain);
    } },
  { name: 'rules after every pass: a still hold pins, a moving one keeps speed, a floor and a ball push out',
    see: (w) => {
      w.springCount = 0;  // the rules alone need no schedule
      w.particles.set([0, -3, 0, -3, 0, 0], 4 * 6), w.particles.set([5, 0.5, 5, 0.5, 0, 0], 5 * 6);
      w.holdParticles.set([0, 0, 0, 1, 1, 0, 0, 0]), w.holdPositions.set([7, 8], 1), w.holdPositions.set([9, 10], 5);
      w.planes.set([0, 1, -1]), w.circles.set([5, 0, 2]);  // keep y >= -1; keep 2 away from (5, 0)
      w.holdCount = 2, w.planeCount = 1, w.circleCount = 1;
      assert.equal(w.springPasses(1), 0);
      const at = (i) => [...w.particles.subarray(i * 6, i * 6 + 4)];
      assert.deepEqual(at(0), [7, 8, 7, 8]);
      assert.deepEqual(at(1), [9, 10, 1.100000023841858, 0]);
      assert.deepEqual(at(4), [0, -1, 0, -3]);
      const len = Math.fround(Math.fround(0.941246) * 0.5);  // clen measures the ball's radius
      assert.deepEqual(at(5), [5, Math.fround(Math.fround(0.5 / len) * 2), 5, 0.5]);
    } },
  { name: 'collide() gives the bits of the plain JavaScript grid, odd values and all, twice over',
    world: { particles: 3000, collide: true }, see: (w) => {
      let s = 99;
      const next = () => (s = (Math.imul(s, 1664525) + 1013904223) >>> 0) / 2 ** 32;
      const odd = [NaN, Infinity, -Infinity, 0, -1, 1e-40, 1e30];
      w.particleCount = 3000;
      for (let i = 0; i < 3000; ++i) {
        w.particles.set([(i % 50) * 0.95 + next() * 0.2, Math.floor(i / 50) * 0.95 + next() * 0.2, i, -i, 1, 2], 6 * i);
        w.radii[i] = next() < 0.03 ? odd[Math.floor(next() * 7)] : 0.3 + next() * 0.4;
        if (next() < 0.02) w.particles[6 * i + Math.floor(next() * 2)] = odd[Math.floor(next() * 3)];
      }
      const plain = w.particles.slice(0, 6 * 3000), before = plain.slice();
      for (let call = 0; call < 2; ++call) assert.equal(w.collide(), collideJs(plain, w.radii, 3000));
      assert.deepEqual(w.particles, plain);
      for (let i = 0; i < 3000; ++i)  // old positions and accelerations stay
        assert.deepEqual([...plain.subarray(6 * i + 2, 6 * i + 6)], [...before.subarray(6 * i + 2, 6 * i + 6)]);
      assert.ok(plain.some((v, k) => k % 6 < 2 && v !== before[k]), 'some particles moved');
    } },
  { name: 'radii: one float a particle, only with collide: true; two balls pushed apart along x', see: (w, k) => {
    assert.equal(w.radii.length, 0);
    const c = k.createWorld({ particles: 3, collide: true });
    assert.equal(c.radii.length, 3);
    c.particleCount = 3;
    c.particles.set([0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 9, 9, 9, 9, 0, 0]);
    c.radii.set([1, 1, 1]);
    const len = Math.fround(0.941246), overlap = Math.fround(2 - len);  // clen of (1, 0), and reach 2 minus it
    assert.equal(c.collide(), overlap);
    const half = Math.fround(overlap / 2), move = Math.fround(Math.fround(1 / len) * half);
    assert.deepEqual([...c.particles.subarray(0, 14)], [-move, 0, 0, 0, 0, 0, Math.fround(1 + move), 0, 1, 0, 0, 0, 9, 9]);
    assert.ok(c.collide() < 1e-6, 'apart now, to a rounding');
    c.free();
  } },
  { name: 'tear(ratio) breaks the springs stretched past it, once, and the passes leave them alone', see: (w) => {
    const stretched = [];
    for (let i = 0; i < 6; ++i) {
      const a = w.springEnds[3 * i], b = w.springEnds[3 * i + 1];
      if (w.clen(a, b) > Math.fround(Math.fround(1.5) * w.springRest[3 * i + 2])) stretched.push(i);
    }
    assert.ok(stretched.length > 0 && stretched.length < 6);
    assert.equal(w.tear(1.5), stretched.length);
    for (let i = 0; i < 6; ++i) assert.equal(Number.isNaN(w.springRest[3 * i + 2]), stretched.includes(i));
    assert.equal(w.tear(1.5), 0);  // broken springs are not counted again
    const ends = stretched.map((i) => [w.springEnds[3 * i], w.springEnds[3 * i + 1]]);
    assert.ok(!Number.isNaN(w.springPasses(2)), 'torn springs are left out of the error');
    for (const [a, b] of ends) assert.ok(Number.isFinite(w.clen(a, b)));
  } },
  { name: 'NaN and infinite positions are data, not errors', see: (w) => {
    w.particles[6] = NaN, w.particles[13] = Infinity;
    assert.ok(!Number.isNaN(w.springPasses(2)), 'NaN errors are left out');
    assert.ok(Number.isNaN(w.clen(0, 1)));
    w.step(0.1);
  } },
  { name: 'the memory never grows: a full world scheduled again and again', world: { particles: 20000, springs: 120000 },
    see: (w) => {
      const buffer = w.particles.buffer;
      for (const [n, seed] of [[20000, 1], [50, 2], [20000, 3]]) {
        load(w, randomSet(n, 120000, seed));
        w.springPasses(2);
      }
      assert.equal(w.particles.buffer, buffer);
      assert.equal(w.particles.length, 20000 * 6);
    } },
];

const kernels = {};
const kernelFor = async (name) => (kernels[name] ??= await loaders[name]());

// What the world holds, to see that a refusal changed nothing: every view's
// bytes (not the module's own stack and statics) and the counts.
const views = ['particles', 'springEnds', 'holdParticles', 'planes', 'circles', 'radii'];
function snapshot(w) {
  if (w.freed) return null;
  return { bytes: views.map((v) => new Uint8Array(w[v].buffer, w[v].byteOffset, w[v].byteLength).slice()),
    counts: [w.particleCount, w.springCount, w.holdCount, w.planeCount, w.circleCount, w.prevDt] };
}

for (const s of scenarios)
  test(s.name, async () => {
    const kernel = await kernelFor(s.loader || 'auto');
    if (s.hash) {
      assert.equal(kernel.simd, isSimd[s.loader], 'the build loaded');
      assert.equal(scenes[s.hash](kernel), want[s.hash]);
      return;
    }
    const w = s.world ? kernel.createWorld(s.world) : smallWorld(kernel);
    try {
      if (s.throws) {
        s.setup?.(w);
        const before = snapshot(w);
        await assert.rejects(async () => s.act(w, kernel), (error) => {
          assert.ok(error instanceof s.throws[0], `${error.constructor.name}: ${error.message}`);
          assert.match(error.message, s.throws[1]);
          return true;
        });
        if (s.unchanged !== false) assert.deepEqual(snapshot(w), before, 'the world changed');
      } else {
        await s.see(w, kernel);
      }
    } finally {
      w.free();
    }
  });
