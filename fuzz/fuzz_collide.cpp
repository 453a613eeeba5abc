// Particles that collide against their own definition: particle_collide on
// every processor path this machine has, and its parts on threads of their
// own (on the path the kernel picks), must leave the particles bit for bit as
// the quadratic reference (collide_reference.h) and return its largest
// overlap, for two calls in a row; no call may write past its work memory;
// a refused call (no radii, no work memory) must touch nothing.
//
// The bytes are read from their end (FuzzedDataProvider's integers), one after
// another; whatever is missing reads as 0:
//   parts - 1 (1 byte, modulo 4), particle count (2 bytes, modulo 257),
//   each particle: a position kind byte and its bytes (see read_position),
//   then a radius kind byte and its bytes (see read_radius).
// fuzz/collide_seeds.py writes the seeds in fuzz/corpus/collide/ in this layout.
#include <fuzzer/FuzzedDataProvider.h>
#include <penshell/physics.h>
#include "physics_paths.h"
#include "collide_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

const unsigned kMaxParticles = 256, kPartsAtMost = 4, kCalls = 2;
const unsigned kGuard = 0xdeadbeefu, kGuardWords = 16;
// Values that have broken float code before: signed zeros, the smallest
// normal and a subnormal, the largest, infinities and NaN, and huge ones.
const float kOddFloats[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1.17549435e-38f, 1e-40f, 3.4028235e38f,
                            -3.4028235e38f, INFINITY, -INFINITY, NAN, 1e30f, -3e38f, 6.4e9f};
const unsigned kOddCount = sizeof kOddFloats / sizeof kOddFloats[0];

[[noreturn]] void fail(const char* what, const char* where) {
    std::fprintf(stderr, "fuzz_collide: %s (%s)\n", what, where);
    __builtin_trap();
}

float raw_float(FuzzedDataProvider& in) {
    const uint32_t bits = in.ConsumeIntegral<uint32_t>();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Kind 0: two raw floats. 1: a point of a 16 x 16 grid of quarters, so that
// particles touch, coincide and sit on cell boundaries. 2: the previous
// particle's place nudged by a float. 3: each coordinate from kOddFloats.
void read_position(FuzzedDataProvider& in, std::vector<TCVerlet>& ps, unsigned i) {
    float& x = ps[i].x;
    float& y = ps[i].y;
    switch (in.ConsumeIntegral<uint8_t>() % 4) {
    case 0: x = raw_float(in), y = raw_float(in); break;
    case 1: {
        const uint8_t cell = in.ConsumeIntegral<uint8_t>();
        x = float(cell % 16) * 0.25f, y = float(cell / 16) * 0.25f;
        break;
    }
    case 2:
        x = i ? std::nextafter(ps[i - 1].x, INFINITY) : 0.0f, y = i ? ps[i - 1].y : 0.0f;
        break;
    default:
        x = kOddFloats[in.ConsumeIntegral<uint8_t>() % kOddCount];
        y = kOddFloats[in.ConsumeIntegral<uint8_t>() % kOddCount];
    }
    // The rest of the record is the call's to leave alone.
    ps[i].old_x = float(i), ps[i].old_y = -float(i), ps[i].acc_x = 0.25f, ps[i].acc_y = -9.81f;
}

// Kind below 128: an eighth to one; up to 191: from kOddFloats; else a raw float.
float read_radius(FuzzedDataProvider& in) {
    const uint8_t kind = in.ConsumeIntegral<uint8_t>();
    if (kind < 128) return float(kind % 8 + 1) * 0.125f;
    if (kind < 192) return kOddFloats[kind % kOddCount];
    return raw_float(in);
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool guard_intact(const std::vector<unsigned>& work) {
    return std::count(work.end() - kGuardWords, work.end(), kGuard) == kGuardWords;
}

void check(const std::vector<TCVerlet>& got, const std::vector<TCVerlet>& want, const float* largest,
           const float* wanted, const std::vector<unsigned>& work, const char* where) {
    for (unsigned c = 0; c < kCalls; ++c)
        if (!same_bits(largest[c], wanted[c])) fail("the largest overlap differs from the reference's", where);
    if (!want.empty() && std::memcmp(got.data(), want.data(), want.size() * sizeof(TCVerlet)) != 0)
        fail("particles differ from the reference", where);
    if (!guard_intact(work)) fail("wrote past its work memory", where);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned parts = 1 + in.ConsumeIntegral<uint8_t>() % kPartsAtMost;
    const unsigned n = in.ConsumeIntegral<uint16_t>() % (kMaxParticles + 1);
    std::vector<TCVerlet> start(n);
    std::vector<float> radii(n);
    for (unsigned i = 0; i < n; ++i) read_position(in, start, i), radii[i] = read_radius(in);

    std::vector<TCVerlet> want = start;
    float wanted[kCalls];
    for (unsigned c = 0; c < kCalls; ++c) wanted[c] = n < 2 ? 0.0f : collide_reference(want.data(), n, radii.data());
    const unsigned words = particle_collide_words(n);

    for (int path = 0; path < PHYSICS_PATH_COUNT; ++path) {
        if (!physics_path_available(path)) continue;
        std::vector<TCVerlet> got = start;
        std::vector<unsigned> work(words + kGuardWords, kGuard);
        float largest[kCalls];
        for (unsigned c = 0; c < kCalls; ++c)
            largest[c] = particle_collide_path(path, got.data(), n, radii.data(), work.data());
        check(got, want, largest, wanted, work, physics_path_name(path));
    }

    // The parts on threads of their own, nothing between the calls.
    std::vector<TCVerlet> got = start;
    std::vector<unsigned> work(words + kGuardWords, kGuard), sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    float each[kPartsAtMost][kCalls];
    auto part = [&](unsigned p) {
        for (unsigned c = 0; c < kCalls; ++c)
            each[p][c] = particle_collide_part(got.data(), n, radii.data(), work.data(), p, parts, sync.data());
    };
    std::vector<std::thread> threads;
    for (unsigned p = 1; p < parts; ++p) threads.emplace_back(part, p);
    part(0);
    for (std::thread& t : threads) t.join();
    float largest[kCalls];
    for (unsigned c = 0; c < kCalls; ++c) {
        largest[c] = each[0][c];
        for (unsigned p = 1; p < parts; ++p) largest[c] = std::max(largest[c], each[p][c]);
    }
    check(got, want, largest, wanted, work, "parts");

    // Refused: no radii or no work memory; nothing touched.
    if (n >= 2) {
        std::vector<TCVerlet> same = start;
        std::vector<unsigned> untouched(words + kGuardWords, kGuard);
        if (particle_collide(same.data(), n, nullptr, untouched.data()) != -1.0f ||
            particle_collide(same.data(), n, radii.data(), nullptr) != -1.0f ||
            particle_collide_part(same.data(), n, nullptr, untouched.data(), 0, parts, sync.data()) != -1.0f ||
            std::memcmp(same.data(), start.data(), n * sizeof(TCVerlet)) != 0 ||
            std::count(untouched.begin(), untouched.end(), kGuard) != long(untouched.size()))
            fail("a refused call was not refused, or touched something", "refusal");
    }
    return 0;
}
