// Types of penshell-physics/bare: the API without the embedded modules.
export { Kernel, World, WorldOptions, PARTICLE_STRIDE, SPRING_STRIDE } from './index.js';
import type { Kernel } from './index.js';

/** Loads the kernel from simd.wasm or portable.wasm, compiled or as bytes. */
export declare function createKernel(options: { wasm: WebAssembly.Module | BufferSource }): Promise<Kernel>;
