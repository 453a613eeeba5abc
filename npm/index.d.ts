// Types of penshell-physics, written by hand: the kernel's API in JavaScript.

/** Floats a particle in `World.particles`: x, y, old_x, old_y, acc_x, acc_y. */
export declare const PARTICLE_STRIDE: 6;
/** 32-bit words a spring in `World.springEnds` and `World.springRest`: a, b, rest_length. */
export declare const SPRING_STRIDE: 3;
/** 32-bit words a hold in `World.holdParticles` and `World.holdPositions`: particle, x, y, still. */
export declare const HOLD_STRIDE: 4;
/** Floats a plane in `World.planes`: nx, ny, d. */
export declare const PLANE_STRIDE: 3;
/** Floats a circle in `World.circles`: x, y, radius. */
export declare const CIRCLE_STRIDE: 3;

export interface KernelOptions {
  /**
   * 'auto' (default): the SIMD128 build where `WebAssembly.validate` accepts it,
   * the portable build otherwise. true: SIMD128 or a thrown Error. false: portable.
   * Both builds give the same bits.
   */
  simd?: 'auto' | boolean;
}

export interface WorldOptions {
  /** Particle capacity, fixed for the world's life. */
  particles: number;
  /** Spring capacity, fixed for the world's life (default 0). */
  springs?: number;
  /** Hold capacity (default 0). */
  holds?: number;
  /** Plane capacity (default 0). */
  planes?: number;
  /** Circle capacity (default 0). */
  circles?: number;
  /**
   * true: reserve one radius a particle (`World.radii`) and the work memory of
   * `World.collide()`, about 44 bytes a particle (default false).
   */
  collide?: boolean;
}

/** The loaded kernel: makes worlds, synchronously. */
export declare class Kernel {
  private constructor();
  /** true when this kernel runs its SIMD128 build. */
  readonly simd: boolean;
  /**
   * A world of fixed capacity in a WebAssembly memory of its own, never grown.
   * Throws TypeError or RangeError for a size that is not a whole number from 0
   * to 2^32 - 1, or that needs more than 4 GiB.
   */
  createWorld(options: WorldOptions): World;
}

/**
 * Particles and springs in WebAssembly memory, seen through typed-array views
 * over the whole capacity. The views stay valid until `free()`.
 */
export declare class World {
  private constructor();
  readonly particleCapacity: number;
  readonly springCapacity: number;
  readonly holdCapacity: number;
  readonly planeCapacity: number;
  readonly circleCapacity: number;
  /** How many particles the step and the springs see (0 to particleCapacity). */
  particleCount: number;
  /** How many springs the passes apply (0 to springCapacity). */
  springCount: number;
  /** How many holds, planes and circles each pass applies after its springs. */
  holdCount: number;
  planeCount: number;
  circleCount: number;
  /** prev_dt of the next `step`: the length of the step before, 0 for none. */
  prevDt: number;
  /** PARTICLE_STRIDE floats a particle: x, y, old_x, old_y, acc_x, acc_y. */
  readonly particles: Float32Array;
  /** The springs as words: particle a at [3i], particle b at [3i + 1]. */
  readonly springEnds: Uint32Array;
  /** The same springs as floats: rest_length at [3i + 2]. */
  readonly springRest: Float32Array;
  /**
   * The holds as words: the particle held at [4i], still at [4i + 3] (not 0:
   * old_x, old_y are put there too, so the particle keeps no speed, a pin).
   */
  readonly holdParticles: Uint32Array;
  /** The same holds as floats: where the particle is put, x at [4i + 1], y at [4i + 2]. */
  readonly holdPositions: Float32Array;
  /** PLANE_STRIDE floats a plane: particles are kept where nx * x + ny * y >= d. */
  readonly planes: Float32Array;
  /** CIRCLE_STRIDE floats a circle: particles are kept at least radius (as clen measures) from x, y. */
  readonly circles: Float32Array;
  /**
   * One radius a particle, for `collide()`: a radius that is NaN, infinite, 0
   * or negative never collides. Empty unless the world was made with collide: true.
   */
  readonly radii: Float32Array;
  /** true once `free()` was called. */
  readonly freed: boolean;
  /**
   * Arranges the first springCount springs for `springPasses`. Call it again
   * after changing springCount, particleCount or a spring's ends (the passes
   * follow the ends the schedule was made with; rest lengths are read every pass).
   * Throws RangeError naming a spring with an end at or past particleCount.
   */
  schedule(): void;
  /**
   * Applies every spring `passes` times (default 1), the same bits as
   * `springForce` on each in order, each pass followed by the planes, circles
   * and holds; returns the largest |error| of the last pass. Throws RangeError,
   * with nothing moved, for a hold on a particle at or past particleCount.
   */
  springPasses(passes?: number): number;
  /**
   * Pushes every two overlapping particles (closer, as clen measures, than
   * the sum of their radii) apart once, all at the same time; returns the
   * largest overlap before the move, 0 for none. The push becomes speed at
   * the next step. Throws TypeError for a world made without collide: true.
   */
  collide(): number;
  /**
   * Breaks every spring stretched past `ratio` times its rest length (its
   * rest length becomes NaN: the passes leave it alone, no new schedule is
   * needed); returns how many it broke. Throws RangeError, changing nothing,
   * for a ratio that is not above 0 and finite as a float32, or a spring with
   * an end at or past particleCount.
   */
  tear(ratio: number): number;
  /** One Verlet step of length dt; stores dt in prevDt and returns it. */
  step(dt: number, prevDt?: number): number;
  /** The kernel's distance estimate between particles a and b. */
  clen(a: number, b: number): number;
  /** One spring between particles a and b; returns rest_length minus their clen before. */
  springForce(a: number, b: number, restLength: number): number;
  /** Gives the memory back; views taken before become empty; any further use throws. */
  free(): void;
}

/** Loads the kernel (both builds are embedded in the package). */
export declare function createKernel(options?: KernelOptions): Promise<Kernel>;
/** Whether this engine validates the SIMD128 build. */
export declare function simdSupported(): boolean;
