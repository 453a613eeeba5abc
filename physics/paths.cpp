// Which processor paths this build and this processor have, and the one chosen.
#include "kernel.h"

namespace {

int pick_path() {
    for (int p = PHYSICS_PATH_COUNT - 1; p > PHYSICS_PATH_SCALAR; --p)
        if (physics_path_available(p)) return p;
    return PHYSICS_PATH_SCALAR;
}

}  // namespace

const char* physics_path_name(int path) {
    switch (path) {
    case PHYSICS_PATH_SCALAR: return "scalar";
    case PHYSICS_PATH_SSE2: return "sse2";
    case PHYSICS_PATH_AVX2: return "avx2";
    case PHYSICS_PATH_AVX512: return "avx512";
    case PHYSICS_PATH_SIMD128: return "simd128";
    default: return "unknown";
    }
}

bool physics_path_available(int path) {
    switch (path) {
    case PHYSICS_PATH_SCALAR: return true;
#if PHYSICS_X86
    case PHYSICS_PATH_SSE2: return true;
    case PHYSICS_PATH_AVX2: return __builtin_cpu_supports("avx2") != 0;
    case PHYSICS_PATH_AVX512: return __builtin_cpu_supports("avx512f") != 0;
#endif
#if PHYSICS_WASM_SIMD
    case PHYSICS_PATH_SIMD128: return true;
#endif
    default: return false;
    }
}

int physics_selected_path() {
    static const int path = pick_path();
    return path;
}
