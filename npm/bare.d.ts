// Types of penshell-physics/bare: the API without the embedded modules.
export {
  Kernel, World, WorldOptions, PARTICLE_STRIDE, SPRING_STRIDE, HOLD_STRIDE, PLANE_STRIDE, CIRCLE_STRIDE,
} from './index.js';
import type { Kernel } from './index.js';

/**
 * Loads the kernel from simd.wasm or portable.wasm: their bytes, or a
 * WebAssembly.Module compiled from them (typed as object, so that these types
 * need no DOM library).
 */
export declare function createKernel(options: { wasm: ArrayBuffer | ArrayBufferView | object }): Promise<Kernel>;
