// The springs against their own definition: spring_schedule and two spring_pass
// calls, on every processor path this machine has, must leave the particles bit
// for bit as spring_force applied in the given order, and return each pass's
// largest |error| with NaN left out. A schedule made by spring_schedule_parts
// must serve spring_pass the same way. A spring naming a particle at or past
// the count must be refused, and no schedule may write past its words. With
// the rules (holds, planes, circles), spring_pass_rules on every path and the
// parts of the parts schedule on threads of their own (on the path the
// kernel picks) must leave the
// particles as the springs in order and then the rules' reference; a hold
// past the particles must be refused by every part, touching nothing.
//
// The bytes are read from their end (FuzzedDataProvider's integers), one after
// another; whatever is missing reads as 0:
//   parts - 1 (1 byte), particle count - 1 (2 bytes, big end first), spring count (2 bytes),
//   the spring made bad for the refusal (2 bytes: see check_refused),
//   each particle: a kind byte (see read_position) and its bytes,
//   each spring: a, b (no byte for one particle, 1 up to 256, else 2), a rest kind byte (see read_rest);
//   then the rules (see read_rules): hold, plane and circle counts (a byte each, modulo 8, 4 and 4),
//   each hold: its particle (2 bytes, modulo count + 1: count is refused), two values, still (a byte);
//   each plane and each circle: three values. A value is a kind byte and its bytes (see read_value).
// fuzz/spring_seeds.py writes the seeds in fuzz/corpus/springs/ in this layout.
#include <fuzzer/FuzzedDataProvider.h>
#include <penshell/physics.h>
#include "physics_paths.h"
#include "rules_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
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

// Kind below 128: a whole number from -8 to 7; up to 191 from kOddFloats; else a raw float.
float read_value(FuzzedDataProvider& in) {
    const uint8_t kind = in.ConsumeIntegral<uint8_t>();
    if (kind < 128) return float(int(kind % 16) - 8);
    if (kind < 192) return kOddFloats[kind % kOddCount];
    return raw_float(in);
}

struct Rules {
    std::vector<TCHold> holds;
    std::vector<TCPlane> planes;
    std::vector<TCCircle> circles;
    TCRules view() const {
        return TCRules{holds.data(), unsigned(holds.size()), planes.data(), unsigned(planes.size()), circles.data(),
                       unsigned(circles.size())};
    }
    bool refused(unsigned count) const {
        return std::any_of(holds.begin(), holds.end(), [count](const TCHold& h) { return h.particle >= count; });
    }
};

Rules read_rules(FuzzedDataProvider& in, unsigned count) {
    Rules r;
    const unsigned holds = in.ConsumeIntegral<uint8_t>() % 8, planes = in.ConsumeIntegral<uint8_t>() % 4;
    const unsigned circles = in.ConsumeIntegral<uint8_t>() % 4;
    for (unsigned k = 0; k < holds; ++k) {
        const unsigned particle = in.ConsumeIntegral<uint16_t>() % (count + 1);
        const float x = read_value(in), y = read_value(in);
        r.holds.push_back(TCHold{particle, x, y, in.ConsumeIntegral<uint8_t>() % 2u});
    }
    for (unsigned k = 0; k < planes; ++k) {
        const float nx = read_value(in), ny = read_value(in);
        r.planes.push_back(TCPlane{nx, ny, read_value(in)});
    }
    for (unsigned k = 0; k < circles; ++k) {
        const float x = read_value(in), y = read_value(in);
        r.circles.push_back(TCCircle{x, y, read_value(in)});
    }
    return r;
}

// Two passes with the rules: spring_pass_rules on the path with the schedule,
// and on threads the parts of the parts schedule, against the reference (or,
// for rules to refuse, -1 from every call and nothing touched).
void check_rules(int path, const std::vector<TCVerlet>& start, const std::vector<TCSpring>& ss, unsigned count,
                 const std::vector<unsigned>& schedule, const std::vector<unsigned>& parted, unsigned parts,
                 const Rules& rules) {
    const TCRules view = rules.view();
    const bool refused = rules.refused(count);
    std::vector<TCVerlet> want = start;
    std::vector<TCSpring> reference_springs = ss;
    float errors[2];
    for (float& e : errors) {
        e = refused ? -1.0f : pass_reference(want, reference_springs);
        if (!refused) rules_reference(want.data(), count, view);
    }
    const unsigned n = unsigned(ss.size());
    std::vector<TCVerlet> got = start;
    for (int pass = 0; pass < 2; ++pass)
        if (!same_bits(spring_pass_rules_path(path, got.data(), ss.data(), n, schedule.data(), count, &view),
                       errors[pass]))
            fail("the error with rules differs", "schedule", physics_path_name(path));
    if (std::memcmp(got.data(), want.data(), want.size() * sizeof(TCVerlet)) != 0)
        fail("particles with rules differ from the reference", "schedule", physics_path_name(path));
    // Threads cost far more than the arithmetic: the parts run on the path the kernel picks.
    if (path != physics_selected_path()) return;
    got = start;
    std::vector<unsigned> sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    const std::vector<unsigned> sync_before = sync;
    std::vector<float> largest(2 * parts);
    std::vector<std::thread> threads;
    for (unsigned p = 0; p < parts; ++p)
        threads.emplace_back([&, p] {
            for (int pass = 0; pass < 2; ++pass)
                largest[pass * parts + p] = spring_pass_part_rules_path(path, got.data(), ss.data(), n, parted.data(),
                                                                        count, p, sync.data(), &view);
        });
    for (std::thread& t : threads) t.join();
    for (int pass = 0; pass < 2; ++pass)
        if (!same_bits(*std::max_element(largest.begin() + pass * parts, largest.begin() + (pass + 1) * parts),
                       errors[pass]))
            fail("the error of the parts with rules differs", "parts schedule", physics_path_name(path));
    if (std::memcmp(got.data(), want.data(), want.size() * sizeof(TCVerlet)) != 0)
        fail("particles of the parts with rules differ from the reference", "parts schedule", physics_path_name(path));
    if (refused && sync != sync_before) fail("refused parts changed the sync memory", "parts schedule");
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
    const Rules rules = read_rules(in, count);
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
        check_rules(path, start, ss, count, schedule, parted, parts, rules);
    }
    check_refused(ss, count, parts, bad);
    return 0;
}
