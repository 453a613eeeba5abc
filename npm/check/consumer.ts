// A TypeScript user of penshell-physics, compiled with tsc --strict --noEmit
// against the installed package's index.d.ts, with no DOM library: what it
// does must type-check, and each line marked as an expected error must not.
import {
  createKernel, simdSupported, PARTICLE_STRIDE, SPRING_STRIDE, HOLD_STRIDE, PLANE_STRIDE, CIRCLE_STRIDE, Kernel, World,
} from 'penshell-physics';
import * as bare from 'penshell-physics/bare';

async function rope(simd: 'auto' | boolean): Promise<number> {
  const kernel: Kernel = await createKernel({ simd });
  const isSimd: boolean = kernel.simd && simdSupported();
  const world: World = kernel.createWorld({ particles: 10, springs: 9 });
  world.particleCount = 10;
  const p: Float32Array = world.particles;
  for (let i = 0; i < 10; ++i) p[i * PARTICLE_STRIDE] = i;
  const ends: Uint32Array = world.springEnds, rest: Float32Array = world.springRest;
  for (let i = 0; i < 9; ++i) {
    ends[i * SPRING_STRIDE] = i, ends[i * SPRING_STRIDE + 1] = i + 1, rest[i * SPRING_STRIDE + 2] = 1;
  }
  world.springCount = 9;
  world.schedule();
  const pins: World = kernel.createWorld({ particles: 10, holds: 1, planes: 1, circles: 1 });
  pins.holdParticles[HOLD_STRIDE - 1] = 1;
  pins.holdPositions.set([0, 0], 1);
  pins.planes.set([0, 1, -5], 0 * PLANE_STRIDE);
  pins.circles.set([0, 0, 2], 0 * CIRCLE_STRIDE);
  pins.holdCount = pins.planeCount = pins.circleCount = 1;
  const rules: number = pins.holdCapacity + pins.planeCapacity + pins.circleCapacity + pins.springPasses();
  const dt: number = world.step(1 / 60);
  world.prevDt = dt;
  const err: number = world.springPasses(4) + world.springPasses() + world.clen(0, 9) + world.springForce(0, 1, 1);
  const balls: World = kernel.createWorld({ particles: 10, collide: true });
  const radii: Float32Array = balls.radii;
  radii.fill(0.5);
  const overlap: number = balls.collide();
  const torn: number = world.tear(1.5);
  balls.free();
  const capacity: number = world.particleCapacity + world.springCapacity;
  const gone: boolean = world.freed;
  world.free();
  return err + capacity + rules + overlap + torn + Number(isSimd) + Number(gone);
}

async function misuse(world: World, bytes: Uint8Array): Promise<void> {
  const k: Kernel = await bare.createKernel({ wasm: bytes });
  k.createWorld({ particles: 1 });
  // @ts-expect-error the simd option is 'auto' or a boolean
  await createKernel({ simd: 'yes' });
  // @ts-expect-error a world needs its particle capacity
  k.createWorld({ springs: 4 });
  // @ts-expect-error the views are the world's own
  world.particles = new Float32Array(6);
  // @ts-expect-error the capacity is fixed
  world.particleCapacity = 4;
  // @ts-expect-error holds are views over the world's memory
  world.holdParticles = [1, 2, 3, 4];
  // @ts-expect-error springPasses returns the error, a number
  const s: string = world.springPasses(1);
  // @ts-expect-error particles are named by index
  world.clen('a', 'b');
  // @ts-expect-error collide is true or false
  k.createWorld({ particles: 1, collide: 1 });
  // @ts-expect-error the radii are a view over the world's memory
  world.radii = new Float32Array(1);
  // @ts-expect-error tear takes a ratio, a number
  world.tear('1.5');
  // @ts-expect-error bare needs the module
  await bare.createKernel();
  void s;
}

export { rope, misuse };
