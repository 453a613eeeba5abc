// penshell-physics/bare: the API without the embedded modules, for callers
// that load simd.wasm or portable.wasm themselves (fetch, a bundler's asset
// URL, a file read). See README.md.
import { kernelFromModule } from './core.js';

export {
  Kernel, World, PARTICLE_STRIDE, SPRING_STRIDE, HOLD_STRIDE, PLANE_STRIDE, CIRCLE_STRIDE,
} from './core.js';

// wasm: a WebAssembly.Module or the bytes of simd.wasm or portable.wasm.
export async function createKernel(options) {
  const wasm = options?.wasm;
  if (!(wasm instanceof WebAssembly.Module || ArrayBuffer.isView(wasm) || wasm instanceof ArrayBuffer))
    throw new TypeError('wasm must be a WebAssembly.Module, or the bytes of simd.wasm or portable.wasm');
  return kernelFromModule(wasm, undefined);
}
