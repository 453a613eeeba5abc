// The kernel's API over one compiled WebAssembly module. Each world is an
// instance of that module with a memory of its own, made at the size the
// world's capacity needs and never grown: a WebAssembly memory that grows
// detaches every view over it, so the views handed out stay valid for the
// world's life. Every argument is checked here before the module sees it,
// so bad input throws and leaves the world as it was.

export const PARTICLE_STRIDE = 6; // x, y, old_x, old_y, acc_x, acc_y
export const SPRING_STRIDE = 3; // a, b (Uint32), rest_length (Float32)
export const HOLD_STRIDE = 4; // particle (Uint32), x, y (Float32), still (Uint32)
export const PLANE_STRIDE = 3; // nx, ny, d
export const CIRCLE_STRIDE = 3; // x, y, radius

const PAGE = 65536;
const MAX_PAGES = 65536; // 4 GiB: the most a 32-bit WebAssembly memory can address
const BASE_PAGES = 2; // the module's own data and stack (INITIAL_MEMORY in npm/CMakeLists.txt)
const SIMD128_PATH = 4; // the kernel's number for its SIMD128 path
const MAX_INDEX = 0xffffffff;

// Heap bytes a world needs: its arrays, the schedule (at most 4 words a
// spring and 4 more), the schedule's work memory while it is made (37 bytes a
// spring and 8 more, for the kernel's six work arrays), with collisions the
// radii and particle_collide's work memory (10 words a particle and 1024),
// and room for the allocator's own records and for its rounding of what it
// asks the memory for (64 KiB at a time).
function heapBytes({ particles, springs, holds, planes, circles, collide }) {
  const n = Math.max(springs, 1);
  return particles * 24 + springs * 12 + (4 * n + 4) * 4 + 37 * n + 8 + holds * 16 + (planes + circles) * 12 +
    (collide ? particles * 44 + 4096 : 0) + 2 * PAGE;
}

function checkSize(value, what) {
  if (typeof value !== 'number') throw new TypeError(`${what} must be a number, not ${typeof value}`);
  if (!Number.isInteger(value) || value < 0 || value > MAX_INDEX)
    throw new RangeError(`${what} must be a whole number from 0 to ${MAX_INDEX}, not ${value}`);
  return value;
}

function checkCount(value, what, capacity) {
  checkSize(value, what);
  if (value > capacity) throw new RangeError(`${what} ${value} is past the capacity of ${capacity}`);
  return value;
}

function checkNumber(value, what) {
  if (typeof value !== 'number') throw new TypeError(`${what} must be a number, not ${typeof value}`);
  return value;
}

export class Kernel {
  #module;

  constructor(module, simd) {
    this.#module = module;
    /** true when this kernel runs its SIMD128 build */
    this.simd = simd;
    Object.freeze(this);
  }

  // Capacities: particles, and springs, holds, planes and circles (default
  // 0); collide: true reserves the radii and the collisions' work memory.
  createWorld(options) {
    const { particles, springs = 0, holds = 0, planes = 0, circles = 0, collide = false } = options ?? {};
    const capacity = { particles, springs, holds, planes, circles };
    for (const [what, size] of Object.entries(capacity)) checkSize(size, what);
    if (typeof collide !== 'boolean') throw new TypeError(`collide must be true or false, not ${String(collide)}`);
    capacity.collide = collide;
    const world = `a world of ${particles} particles and ${springs} springs`;
    const pages = BASE_PAGES + Math.ceil(heapBytes(capacity) / PAGE);
    if (pages > MAX_PAGES)
      throw new RangeError(`${world} needs ${(pages * PAGE / 2 ** 30).toFixed(1)} GiB; ` +
        'WebAssembly memory holds at most 4 GiB');
    let memory;
    try {
      memory = new WebAssembly.Memory({ initial: pages, maximum: pages });
    } catch (error) {
      throw new RangeError(`${world}: no ${pages * PAGE} bytes of WebAssembly memory to be had (${error.message})`);
    }
    const exports = instantiate(this.#module, memory);
    if (!exports.world_reserve(particles, springs, holds, planes, circles, collide ? 1 : 0))
      throw new RangeError(`${world} does not fit its memory`);
    return new World(exports, memory, capacity);
  }
}

// The module's imports: its memory, and a call it makes only after growing
// the memory, which cannot happen (its maximum is its size).
function instantiate(module, memory) {
  const grew = () => { throw new Error('penshell-physics: a world\'s memory grew'); };
  const instance = new WebAssembly.Instance(module, { env: { memory, emscripten_notify_memory_growth: grew } });
  instance.exports._initialize();
  return instance.exports;
}

// Which build a module holds, asked of an instance with the smallest memory.
export function kernelPath(module) {
  const memory = new WebAssembly.Memory({ initial: BASE_PAGES, maximum: BASE_PAGES });
  return instantiate(module, memory).kernel_path();
}

// A kernel over a module (or its bytes): `simd` says which build it must be,
// true or false, or undefined for either.
export async function kernelFromModule(moduleOrBytes, simd) {
  const module = moduleOrBytes instanceof WebAssembly.Module ? moduleOrBytes
    : await WebAssembly.compile(moduleOrBytes);
  const isSimd = kernelPath(module) === SIMD128_PATH;
  if (simd !== undefined && isSimd !== simd)
    throw new Error(`penshell-physics: asked for the ${simd ? 'SIMD128' : 'portable'} build, ` +
      `given the ${isSimd ? 'SIMD128' : 'portable'} one`);
  return new Kernel(module, isSimd);
}

const empty = { f32: new Float32Array(0), u32: new Uint32Array(0) };
const views = ['particles', 'springEnds', 'springRest', 'holdParticles', 'holdPositions', 'planes', 'circles',
  'radii'];

export class World {
  #exports;
  #memory;
  // How many of each kind the step and the passes see (particleCount, ...).
  #count = { particle: 0, spring: 0, hold: 0, plane: 0, circle: 0 };
  // The counts the schedule was made for; null when there is none.
  #scheduled = null;
  // Whether the world was made with collide: true.
  #collides;

  constructor(exports, memory, capacity) {
    this.#exports = exports;
    this.#memory = memory;
    this.particleCapacity = capacity.particles;
    this.springCapacity = capacity.springs;
    this.holdCapacity = capacity.holds;
    this.planeCapacity = capacity.planes;
    this.circleCapacity = capacity.circles;
    /** prev_dt for the next step: the length of the step before, 0 for none */
    this.prevDt = 0;
    const buffer = memory.buffer;
    // Each kind over its whole capacity; the records of two-typed kinds seen
    // twice over the same bytes, once as words and once as floats.
    this.particles = new Float32Array(buffer, exports.world_particles(), capacity.particles * PARTICLE_STRIDE);
    const springs = exports.world_springs(), holds = exports.world_holds();
    this.springEnds = new Uint32Array(buffer, springs, capacity.springs * SPRING_STRIDE);  // a, b
    this.springRest = new Float32Array(buffer, springs, capacity.springs * SPRING_STRIDE);  // rest_length
    this.holdParticles = new Uint32Array(buffer, holds, capacity.holds * HOLD_STRIDE);  // particle, still
    this.holdPositions = new Float32Array(buffer, holds, capacity.holds * HOLD_STRIDE);  // x, y
    this.planes = new Float32Array(buffer, exports.world_planes(), capacity.planes * PLANE_STRIDE);
    this.circles = new Float32Array(buffer, exports.world_circles(), capacity.circles * CIRCLE_STRIDE);
    this.#collides = capacity.collide;
    // One radius a particle; empty unless the world was made with collide: true.
    this.radii = capacity.collide ? new Float32Array(buffer, exports.world_radii(), capacity.particles) : empty.f32;
  }

  #live(what) {
    if (!this.#exports) throw new TypeError(`penshell-physics: ${what} on a freed world`);
    return this.#exports;
  }

  get freed() { return !this.#exports; }

  static {
    for (const kind of ['particle', 'spring', 'hold', 'plane', 'circle'])
      Object.defineProperty(World.prototype, `${kind}Count`, {
        get() { return this.#count[kind]; },
        set(n) {
          this.#live(`${kind}Count`);
          this.#count[kind] = checkCount(n, `${kind}Count`, this[`${kind}Capacity`]);
        },
      });
  }

  // Throws a RangeError naming the first of the first springCount springs
  // with an end at or past particleCount, if there is one.
  #checkEnds(x) {
    const particles = this.#count.particle, springs = this.#count.spring;
    const bad = x.world_first_bad_spring(particles, springs);
    if (bad === springs) return;
    const a = this.springEnds[3 * bad], b = this.springEnds[3 * bad + 1];
    throw new RangeError(`spring ${bad} joins particles ${a} and ${b}: ` +
      `particle ${a >= particles ? a : b} is at or past particleCount ${particles}`);
  }

  // Arranges the first springCount springs for the passes. Throws a
  // RangeError naming the first spring with an end at or past particleCount,
  // and then the schedule made before, if any, is kept.
  schedule() {
    const x = this.#live('schedule()');
    const particles = this.#count.particle, springs = this.#count.spring;
    this.#checkEnds(x);
    if (!x.world_schedule(particles, springs)) {
      this.#scheduled = null;
      throw new RangeError(`no memory left to schedule ${springs} springs`);
    }
    this.#scheduled = { particles, springs };
  }

  // `passes` passes over the springs (default 1), each followed by the
  // rules: planes, circles, then holds. Returns the largest
  // |rest_length - clen| of the last pass, NaN errors left out. A hold on a
  // particle at or past particleCount refuses the passes: RangeError, and
  // nothing moved.
  springPasses(passes = 1) {
    const x = this.#live('springPasses()');
    checkSize(passes, 'passes');
    const particles = this.#count.particle, springs = this.#count.spring, holds = this.#count.hold;
    const s = this.#scheduled;
    if (springs !== 0 && (!s || s.springs !== springs || s.particles !== particles))
      throw new TypeError(`springPasses(): no schedule for these ${springs} springs and ` +
        `${particles} particles: call schedule() after changing springCount or particleCount`);
    const largest = x.world_spring_passes(particles, springs, holds, this.#count.plane, this.#count.circle, passes);
    if (largest < 0) {
      const bad = x.world_first_bad_hold(particles, holds);
      throw new RangeError(`hold ${bad} names particle ${this.holdParticles[HOLD_STRIDE * bad]}, ` +
        `at or past particleCount ${particles}: nothing moved`);
    }
    return largest;
  }

  // One Verlet step of length dt over the first particleCount particles;
  // remembers dt as prevDt for the next one and returns it.
  step(dt, prevDt = this.prevDt) {
    const x = this.#live('step()');
    checkNumber(dt, 'dt');
    checkNumber(prevDt, 'prevDt');
    this.prevDt = x.world_step(dt, prevDt, this.#count.particle);
    return this.prevDt;
  }

  #index(i, what) {
    checkSize(i, what);
    if (i >= this.#count.particle) throw new RangeError(`${what} ${i} is at or past particleCount ${this.#count.particle}`);
    return i;
  }

  // The kernel's distance estimate between particles a and b.
  clen(a, b) {
    const x = this.#live('clen()');
    return x.world_clen(this.#index(a, 'particle a'), this.#index(b, 'particle b'));
  }

  // One spring between particles a and b; returns its error.
  springForce(a, b, restLength) {
    const x = this.#live('springForce()');
    this.#index(a, 'particle a');
    this.#index(b, 'particle b');
    return x.world_spring_force(a, b, checkNumber(restLength, 'restLength'));
  }

  // Pushes every two overlapping particles among the first particleCount
  // apart once, all at the same time; returns the largest overlap found
  // before the move (0 for none). A radius that is not finite or not above 0
  // never collides. Needs a world made with collide: true (TypeError).
  collide() {
    const x = this.#live('collide()');
    if (!this.#collides)
      throw new TypeError('collide(): this world was made without collide: true, which reserves its radii and work memory');
    return x.world_collide(this.#count.particle);
  }

  // Breaks every one of the first springCount springs stretched past `ratio`
  // times its rest length (its rest length becomes NaN, which the passes
  // leave alone); returns how many it broke. The ratio must be above 0 and
  // finite as a float32 (RangeError), and every spring's ends within
  // particleCount (RangeError naming the spring); then nothing changes.
  tear(ratio) {
    const x = this.#live('tear()');
    checkNumber(ratio, 'ratio');
    const r = Math.fround(ratio);
    if (!(Number.isFinite(r) && r > 0))
      throw new RangeError(`ratio must be above 0 and finite as a float32, not ${ratio}`);
    this.#checkEnds(x);
    return x.world_tear(this.#count.spring, r);
  }

  // Gives the world's memory back. Views taken before are detached (length
  // 0) by growing the memory by nothing, which replaces its buffer; the
  // world's own views become empty arrays; any further use throws.
  free() {
    if (!this.#exports) return;
    this.#exports = null;
    this.#memory.grow(0);
    this.#memory = null;
    this.#count = { particle: 0, spring: 0, hold: 0, plane: 0, circle: 0 };
    this.#scheduled = null;
    for (const view of views) this[view] = this[view] instanceof Uint32Array ? empty.u32 : empty.f32;
  }
}
