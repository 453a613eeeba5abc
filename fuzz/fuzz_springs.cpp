// The springs against their own definition: spring_schedule and two spring_pass
// calls, on every processor path this machine has, must leave the particles bit
// for bit as spring_force applied in the given order, and return each pass's
// largest |error| with NaN left out. A schedule made by spring_schedule_parts
// must serve spring_pass the same way. A spring naming a particle at or past
// the count must be refused, and no schedule may write past its words.
//
// The bytes are read from their end (FuzzedDataProvider's integers), one after
// another; whatever is missing reads as 0:
//   parts - 1 (1 byte), particle count - 1 (2 bytes, big end first), spring count (2 bytes),
//   the spring made bad for the refusal (2 bytes: see check_refused),
//   each particle: a kind byte (see read_position) and its bytes,
//   each spring: a, b (no byte for one particle, 1 up to 256, else 2), a rest kind byte (see read_rest).
// fuzz/spring_seeds.py writes the seeds in fuzz/corpus/springs/ in this layout.
#include <fuzzer/FuzzedDataProvider.h>
#include <penshell/physics.h>
#include "physics_paths.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const unsigned kMaxParticles = 1024, kMaxSprings = 4096, kPartsAtMost = 4;
const unsigned kGuard = 0xdeadbeefu, kGuardWords = 16;
const TCVerlet kGuardRecord{1, 2, 3, 4, 5, 6};
// Values that have broken float code before: signed zeros, the smallest
// normal and a subnormal, the largest, infinities and NaN.
const float kOddFloats[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1.17549435e-38f, 1e-40f,
                            3.4028235e38f, -3.4028235e38f, INFINITY, -INFINITY, NAN};
const unsigned kOddCount = sizeof kOddFloats / sizeof kOddFloats[0];

[[noreturn]] void fail(const char* what, const char* where, const char* path = "") {
    std::fprintf(stderr, "fuzz_springs: %s (%s%s%s)\n", what, where, *path ? ", path " : "", path);
    __builtin_trap();
}

float raw_float(FuzzedDataProvider& in) {
    const uint32_t bits = in.ConsumeIntegral<uint32_t>();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Kind 0: two raw floats (NaN, infinities, subnormals). 1: a point of a 16 x 16
// grid of whole numbers, so that particles coincide. 2: the previous particle's
// place. 3: each coordinate from kOddFloats.
void read_position(FuzzedDataProvider& in, std::vector<TCVerlet>& ps, unsigned i) {
    float& x = ps[i].x;
    float& y = ps[i].y;
    switch (in.ConsumeIntegral<uint8_t>() % 4) {
    case 0: x = raw_float(in), y = raw_float(in); break;
    case 1: {
        const uint8_t cell = in.ConsumeIntegral<uint8_t>();
        x = float(cell % 16), y = float(cell / 16);
        break;
    }
    case 2: x = i ? ps[i - 1].x : 0.0f, y = i ? ps[i - 1].y : 0.0f; break;
    default:
        x = kOddFloats[in.ConsumeIntegral<uint8_t>() % kOddCount];
        y = kOddFloats[in.ConsumeIntegral<uint8_t>() % kOddCount];
    }
    // The rest of the record is the pass's to leave alone.
    ps[i].old_x = float(i), ps[i].old_y = -float(i), ps[i].acc_x = 0.25f, ps[i].acc_y = -9.81f;
}

// Kind below 128: a whole length, kind / 8 (0 to 15). Up to 191: from kOddFloats.
// Up to 223: the negative of the length it would have from 0 to 31. Else a raw float.
float read_rest(FuzzedDataProvider& in) {
    const uint8_t kind = in.ConsumeIntegral<uint8_t>();
    if (kind < 128) return float(kind / 8);
    if (kind < 192) return kOddFloats[kind % kOddCount];
    if (kind < 224) return -float((kind - 192) / 2);
    return raw_float(in);
}

// What spring_pass promises for one pass.
float pass_reference(std::vector<TCVerlet>& ps, const std::vector<TCSpring>& ss) {
    float largest = 0.0f;
    for (const TCSpring& s : ss) {
        const float e = std::fabs(spring_force(ps[s.a], ps[s.b], s.rest_length));
        if (!std::isnan(e)) largest = std::max(largest, e);
    }
    return largest;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The rest lengths may change between passes; the schedule stays.
void change_rest_lengths(std::vector<TCSpring>& ss) {
    for (TCSpring& s : ss) s.rest_length = 1.5f - s.rest_length;
}

bool guard_intact(const std::vector<unsigned>& schedule) {
    return std::count(schedule.end() - kGuardWords, schedule.end(), kGuard) == kGuardWords;
}

// Two passes of the schedule on the path against the reference's particles
// and results (guard records after the particles included).
void check_passes(int path, const std::vector<TCVerlet>& start, std::vector<TCSpring> ss,
                  const std::vector<unsigned>& schedule, const std::vector<TCVerlet>& want, const float* errors,
                  const char* schedule_kind) {
    std::vector<TCVerlet> got = start;
    const unsigned n = unsigned(ss.size());
    for (int pass = 0; pass < 2; ++pass) {
        const float e = spring_pass_path(path, got.data(), ss.data(), n, schedule.data());
        if (!same_bits(e, errors[pass]))
            fail(pass ? "the second pass's error differs" : "the first pass's error differs", schedule_kind,
                 physics_path_name(path));
        change_rest_lengths(ss);
    }
    if (std::memcmp(got.data(), want.data(), want.size() * sizeof(TCVerlet)) != 0)
        fail("particles differ from spring_force in order", schedule_kind, physics_path_name(path));
}

// One spring pointed at or past the particle count: refused, guard words kept.
// `bad`: bit 0 the end, bits 1 and 2 the index, the rest which spring.
void check_refused(std::vector<TCSpring> ss, unsigned count, unsigned parts, unsigned bad) {
    if (ss.empty()) return;
    const unsigned past[] = {count, count + 1, 0x80000000u, 0xffffffffu};
    TCSpring& s = ss[(bad >> 3) % ss.size()];
    (bad & 1 ? s.a : s.b) = past[bad >> 1 & 3];
    const unsigned n = unsigned(ss.size());
    std::vector<unsigned> schedule(spring_schedule_words(n, count) + kGuardWords, kGuard);
    if (spring_schedule(ss.data(), n, count, schedule.data())) fail("a spring past the particles accepted", "schedule");
    if (!guard_intact(schedule)) fail("wrote past its words while refusing", "schedule");
    schedule.assign(spring_schedule_parts_words(n, count, parts) + kGuardWords, kGuard);
    if (spring_schedule_parts(ss.data(), n, count, parts, schedule.data()))
        fail("a spring past the particles accepted", "parts schedule");
    if (!guard_intact(schedule)) fail("wrote past its words while refusing", "parts schedule");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned parts = in.ConsumeIntegralInRange<unsigned>(1, kPartsAtMost);
    const unsigned count = in.ConsumeIntegralInRange<unsigned>(1, kMaxParticles);
    const unsigned wanted = in.ConsumeIntegralInRange<unsigned>(0, kMaxSprings);
    const unsigned bad = in.ConsumeIntegral<uint16_t>();
    std::vector<TCVerlet> start(count);
    for (unsigned i = 0; i < count; ++i) read_position(in, start, i);
    std::vector<TCSpring> ss;
    while (ss.size() < wanted && in.remaining_bytes() > 0) {
        const unsigned a = in.ConsumeIntegralInRange<unsigned>(0, count - 1);
        const unsigned b = in.ConsumeIntegralInRange<unsigned>(0, count - 1);
        ss.push_back(TCSpring{a, b, read_rest(in)});
    }
    const unsigned n = unsigned(ss.size());
    start.push_back(kGuardRecord), start.push_back(kGuardRecord);

    std::vector<TCVerlet> want = start;
    std::vector<TCSpring> reference_springs = ss;
    float errors[2];
    for (float& e : errors) e = pass_reference(want, reference_springs), change_rest_lengths(reference_springs);

    std::vector<unsigned> schedule(spring_schedule_words(n, count) + kGuardWords, kGuard);
    if (!spring_schedule(ss.data(), n, count, schedule.data())) fail("a valid set refused", "schedule");
    if (!guard_intact(schedule)) fail("wrote past its words", "schedule");
    std::vector<unsigned> parted(spring_schedule_parts_words(n, count, parts) + kGuardWords, kGuard);
    if (!spring_schedule_parts(ss.data(), n, count, parts, parted.data())) fail("a valid set refused", "parts schedule");
    if (!guard_intact(parted)) fail("wrote past its words", "parts schedule");

    for (int path = PHYSICS_PATH_SCALAR; path < PHYSICS_PATH_COUNT; ++path) {
        if (!physics_path_available(path)) continue;
        check_passes(path, start, ss, schedule, want, errors, "schedule");
        check_passes(path, start, ss, parted, want, errors, "parts schedule");
    }
    check_refused(ss, count, parts, bad);
    return 0;
}
