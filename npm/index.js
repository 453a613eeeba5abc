// penshell-physics: the penshell particle kernel in WebAssembly, both builds
// embedded, so that the package loads under node and in any bundler or
// browser with no configuration. See README.md.
import { kernelFromModule } from './core.js';
import simdBase64 from './simd-wasm.js';
import portableBase64 from './portable-wasm.js';

export {
  Kernel, World, PARTICLE_STRIDE, SPRING_STRIDE, HOLD_STRIDE, PLANE_STRIDE, CIRCLE_STRIDE,
} from './core.js';

function decode(base64) {
  const text = atob(base64), bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  return bytes;
}

// Whether this engine takes the SIMD128 build: it validates it or not.
let simdValid;
export function simdSupported() {
  simdValid ??= WebAssembly.validate(decode(simdBase64));
  return simdValid;
}

// Each build is compiled once, by the first kernel that asks for it.
const compiled = {};
const compile = (simd) => (compiled[simd] ??= WebAssembly.compile(decode(simd ? simdBase64 : portableBase64)));

// simd: 'auto' (the default) takes SIMD128 where the engine has it; true
// insists on it, false takes the portable build. Both give the same bits.
export async function createKernel({ simd = 'auto' } = {}) {
  if (simd !== 'auto' && simd !== true && simd !== false)
    throw new TypeError(`simd must be 'auto', true or false, not ${String(simd)}`);
  if (simd === true && !simdSupported())
    throw new Error('penshell-physics: this engine has no WebAssembly SIMD128; use simd: \'auto\' or false');
  const useSimd = simd === true || (simd === 'auto' && simdSupported());
  return kernelFromModule(await compile(useSimd), useSimd);
}
