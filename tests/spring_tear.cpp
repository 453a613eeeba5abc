// Torn springs: spring_tear against its one-line loop, and springs whose rest
// length is NaN in every pass (plain, with rules, in parts on threads) on
// every path, against spring_force in order, particles and each pass's
// largest error bit for bit. Built as it is and with random stalls at every
// wait and publish of the parts.
#include <gtest/gtest.h>

#include "physics_paths.h"
#include "rules_reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The header's loop, word for word.
unsigned tear_reference(const TCVerlet* ps, TCSpring* ss, unsigned n, float ratio) {
    if (!(ratio > 0.0f && ratio < kInf)) return kSpringTearRefused;
    unsigned broken = 0;
    for (unsigned i = 0; i < n; ++i) {
        const TCVerlet &a = ps[ss[i].a], &b = ps[ss[i].b];
        const float limit = ratio * ss[i].rest_length;
        if (clen(a.x, a.y, b.x, b.y) > limit) ss[i].rest_length = kNaN, ++broken;
    }
    return broken;
}

// A spring from (ax, 0) to (bx, by).
struct TearCase {
    const char* name;
    float ax, bx, by, rest;
    float ratio;
    unsigned want;  // what spring_tear returns
};

const float kAxis = clen(0, 0, 3, 0);      // 3 * 0.941246: a spring of rest 1 stretched this far
const float kSlant = clen(0, 0, 3, 1.25f);  // off an axis, the other branch of clen
const TearCase kTearCases[] = {
    // The stretch itself is not past the ratio; a hair under it is.
    {"at the stretch, along an axis", 0, 3, 0, 1, kAxis, 0},
    {"a hair under the stretch", 0, 3, 0, 1, std::nextafter(kAxis, 0.0f), 1},
    {"a hair over the stretch", 0, 3, 0, 1, std::nextafter(kAxis, kInf), 0},
    {"at the stretch, slanted, rest 0.25", 0, 3, 1.25f, 0.25f, kSlant * 4, 0},
    {"a hair under, slanted, rest 0.25", 0, 3, 1.25f, 0.25f, std::nextafter(kSlant * 4, 0.0f), 1},
    {"a hair over, slanted, rest 8", 0, 3, 1.25f, 8, std::nextafter(kSlant / 8, kInf), 0},
    {"at, slanted, rest 8", 0, 3, 1.25f, 8, kSlant / 8, 0},
    {"compressed, never torn", 0, 1, 0, 2, 0.5f, 0},
    // Odd positions and rest lengths.
    {"a NaN end: no length, not torn", 0, kNaN, 0, 1, 1.5f, 0},
    {"an infinite end: torn", 0, kInf, 0, 1, 1.5f, 1},
    {"ends at the same infinity: NaN length, not torn", kInf, kInf, 0, 1, 1.5f, 0},
    {"already broken: not counted again", 0, 30, 0, kNaN, 1.5f, 0},
    {"rest infinite: never torn", 0, 1e30f, 0, kInf, 1.5f, 0},
    {"an infinite end, rest infinite: not torn", 0, kInf, 0, kInf, 1.5f, 0},
    {"rest -infinity: torn", 0, 0, 0, -kInf, 1.5f, 1},
    {"rest 0, ends apart: torn", 0, 1e-30f, 0, 0, 1.5f, 1},
    {"rest 0, ends together: not torn", 0, 0, 0, 0, 1.5f, 0},
    {"rest -0, ends together: not torn", 0, 0, 0, -0.0f, 1.5f, 0},
    {"negative rest, ends together: torn", 0, 0, 0, -1, 1.5f, 1},
    {"the limit overflows to infinity: not torn", 0, 3e38f, 0, 3e38f, 2, 0},
    {"the limit underflows to 0: torn", 0, 1e-30f, 0, 1e-20f, 1e-30f, 1},
    {"a subnormal ratio is a ratio", 0, 1, 0, 1, 1e-45f, 1},
    {"the largest float as a ratio", 0, 3e38f, 0, 1, std::numeric_limits<float>::max(), 0},
    // Refused: nothing torn, nothing written.
    {"ratio 0 refused", 0, 30, 0, 1, 0, kSpringTearRefused},
    {"ratio -0 refused", 0, 30, 0, 1, -0.0f, kSpringTearRefused},
    {"negative ratio refused", 0, 30, 0, 1, -2, kSpringTearRefused},
    {"NaN ratio refused", 0, 30, 0, 1, kNaN, kSpringTearRefused},
    {"infinite ratio refused", 0, 30, 0, 1, kInf, kSpringTearRefused},
    {"-infinity ratio refused", 0, 30, 0, 1, -kInf, kSpringTearRefused},
};

// A jittered side x side cloth (particle r * side + c) with structural and
// shear springs row by row, rest lengths its spacing: its particles divide
// into ranges, as the parts divide a cloth.
struct Set {
    std::vector<TCVerlet> ps;
    std::vector<TCSpring> ss;
};

Set cloth(unsigned side, std::mt19937& rng) {
    std::uniform_real_distribution<float> jitter(-0.3f, 0.3f);
    Set s;
    for (unsigned i = 0; i < side * side; ++i) {
        const float x = float(i % side) + jitter(rng), y = float(i / side) + jitter(rng);
        s.ps.push_back(TCVerlet{x, y, x, y, 0, 0});
    }
    for (unsigned r = 0; r < side; ++r)
        for (unsigned c = 0; c < side; ++c) {
            const unsigned i = r * side + c;
            if (c + 1 < side) s.ss.push_back({i, i + 1, 1});
            if (r + 1 < side) s.ss.push_back({i, i + side, 1});
            if (c + 1 < side && r + 1 < side) s.ss.push_back({i, i + side + 1, 1.4f});
            if (c > 0 && r + 1 < side) s.ss.push_back({i, i + side - 1, 1.4f});
        }
    return s;
}

// Every case alone, then all of them in one set (each on its own two
// particles, both ways round, and springs from a particle to itself) beside
// a stretched cloth, against the loop:
// particles and springs bit for bit, and the count.
TEST(SpringTear, MatchesTheLoopBitForBit) {
    for (const TearCase& c : kTearCases) {
        SCOPED_TRACE(c.name);
        std::vector<TCVerlet> ps = {{c.ax, 0, 1, 2, 3, 4}, {c.bx, c.by, 5, 6, 7, 8}};
        std::vector<TCSpring> want = {{0, 1, c.rest}}, got = want;
        const std::vector<TCVerlet> before = ps;
        EXPECT_EQ(tear_reference(ps.data(), want.data(), 1, c.ratio), c.want) << "the table disagrees with the loop";
        EXPECT_EQ(spring_tear(ps.data(), got.data(), 1, c.ratio), c.want);
        EXPECT_EQ(std::memcmp(want.data(), got.data(), sizeof(TCSpring)), 0);
        EXPECT_EQ(std::memcmp(before.data(), ps.data(), 2 * sizeof(TCVerlet)), 0) << "particles are only read";
    }
    // The whole table as one set, with a cloth stretched at random beside it.
    std::mt19937 rng(33);
    Set s = cloth(12, rng);
    std::uniform_real_distribution<float> pull(-0.6f, 0.6f);
    for (TCVerlet& p : s.ps) p.x += pull(rng), p.y += pull(rng);
    for (size_t k = 0; k < s.ss.size(); k += 7) s.ss[k].rest_length = kNaN;  // some broken before
    for (const TearCase& c : kTearCases) {
        const unsigned a = unsigned(s.ps.size());
        s.ps.push_back({c.ax, 0, 0, 0, 0, 0});
        s.ps.push_back({c.bx, c.by, 0, 0, 0, 0});
        s.ss.push_back({a, a + 1, c.rest});
        s.ss.push_back({a + 1, a, c.rest});
    }
    s.ss.push_back({3, 3, -1});
    s.ss.push_back({4, 4, 0});
    for (float ratio : {1.0f, 1.05f, 1.3f, 2.0f, 0.0f, kNaN}) {
        SCOPED_TRACE(ratio);
        Set want = s, got = s;
        const unsigned n = unsigned(s.ss.size());
        const unsigned count = tear_reference(want.ps.data(), want.ss.data(), n, ratio);
        EXPECT_EQ(spring_tear(got.ps.data(), got.ss.data(), n, ratio), count);
        EXPECT_EQ(std::memcmp(want.ss.data(), got.ss.data(), n * sizeof(TCSpring)), 0);
        if (ratio == 1.05f) EXPECT_GT(count, 10u) << "the stretched cloth tears somewhere";
        // Torn again at the same ratio: nothing more to break.
        if (count != kSpringTearRefused) EXPECT_EQ(spring_tear(got.ps.data(), got.ss.data(), n, ratio), 0u);
    }
    EXPECT_EQ(spring_tear(nullptr, nullptr, 0, 1.5f), 0u);
    EXPECT_EQ(spring_tear(nullptr, nullptr, 0, kNaN), kSpringTearRefused);
}

// ---- torn springs in the passes ----

const int kSelected = -1;  // the pass functions themselves, on the path they pick
const unsigned kPasses = 3;
const unsigned kParts[] = {1, 2, 3, 8};

// spring_force in order (the finiteness guard leaves a NaN rest alone: no
// special case), then the rules; each pass's largest error, NaN left out.
std::vector<float> reference(Set& s, const TCRules* rules) {
    std::vector<float> largest;
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        float l = 0.0f;
        for (const TCSpring& x : s.ss) {
            const float e = std::fabs(spring_force(s.ps[x.a], s.ps[x.b], x.rest_length));
            if (e > l) l = e;
        }
        if (rules) rules_reference(s.ps.data(), unsigned(s.ps.size()), *rules);
        largest.push_back(l);
    }
    return largest;
}

// One pass on one thread: spring_pass, or spring_pass_rules with rules.
float one_pass(int path, Set& s, const unsigned* schedule, const TCRules* rules) {
    const unsigned n = unsigned(s.ss.size()), count = unsigned(s.ps.size());
    if (rules)
        return path == kSelected ? spring_pass_rules(s.ps.data(), s.ss.data(), n, schedule, count, rules)
                                 : spring_pass_rules_path(path, s.ps.data(), s.ss.data(), n, schedule, count, rules);
    return path == kSelected ? spring_pass(s.ps.data(), s.ss.data(), n, schedule)
                             : spring_pass_path(path, s.ps.data(), s.ss.data(), n, schedule);
}

float part_pass(int path, Set& s, const unsigned* schedule, unsigned part, unsigned* sync, const TCRules* rules) {
    const unsigned n = unsigned(s.ss.size()), count = unsigned(s.ps.size());
    if (rules)
        return path == kSelected
                   ? spring_pass_part_rules(s.ps.data(), s.ss.data(), n, schedule, count, part, sync, rules)
                   : spring_pass_part_rules_path(path, s.ps.data(), s.ss.data(), n, schedule, count, part, sync, rules);
    return path == kSelected ? spring_pass_part(s.ps.data(), s.ss.data(), n, schedule, part, sync)
                             : spring_pass_part_path(path, s.ps.data(), s.ss.data(), n, schedule, part, sync);
}

std::vector<float> run_one_thread(int path, Set& s, const std::vector<unsigned>& schedule, const TCRules* rules) {
    std::vector<float> largest;
    for (unsigned pass = 0; pass < kPasses; ++pass) largest.push_back(one_pass(path, s, schedule.data(), rules));
    return largest;
}

// Every part on a thread of its own for kPasses passes, nothing between them;
// each pass's largest error over the parts.
std::vector<float> run_threads(int path, Set& s, const std::vector<unsigned>& schedule, unsigned parts,
                               const TCRules* rules) {
    std::vector<unsigned> sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    std::vector<float> errors(size_t(parts) * kPasses, -2.0f);
    std::vector<std::thread> threads;
    for (unsigned p = 0; p < parts; ++p)
        threads.emplace_back([&, p] {
            for (unsigned pass = 0; pass < kPasses; ++pass)
                errors[pass * parts + p] = part_pass(path, s, schedule.data(), p, sync.data(), rules);
        });
    for (std::thread& t : threads) t.join();
    std::vector<float> largest;
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        float l = 0.0f;
        for (unsigned p = 0; p < parts; ++p) l = std::max(l, errors[pass * parts + p]);
        largest.push_back(l);
    }
    return largest;
}

// Which springs are torn: none, scattered ones, a tear across the cloth
// (whole groups of the schedule), every spring.
enum Torn { kNone, kScattered, kAcross, kAll };
const char* const kTornNames[] = {"none torn", "scattered", "a tear across", "all torn"};

void tear(Set& s, Torn torn, unsigned side) {
    for (size_t k = 0; k < s.ss.size(); ++k) {
        const TCSpring& x = s.ss[k];
        const unsigned ra = x.a / side, rb = x.b / side;
        const bool broken = torn == kAll || (torn == kScattered && k % 5 == 2) ||
                            (torn == kAcross && ra != rb && std::min(ra, rb) == side / 2);
        if (broken) s.ss[k].rest_length = kNaN;
    }
}

// Pins along the top, a dragged particle, a floor and a ball.
struct Rules {
    std::vector<TCHold> holds;
    TCPlane floor{0, 1, 2};
    TCCircle ball{6, 5, 3};
    TCRules view() const { return TCRules{holds.data(), unsigned(holds.size()), &floor, 1, &ball, 1}; }
};

std::string where(const char* torn, bool rules, unsigned parts, int path) {
    return std::string(torn) + (rules ? ", rules" : ", no rules") + ", " + std::to_string(parts) + " parts, path " +
           (path == kSelected ? "selected" : physics_path_name(path));
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Torn springs keep their place in schedules made before they tore, and
// every pass gives the bits of spring_force in order: the particles and
// each pass's largest error, which leaves them out (0 when all are torn).
TEST(TornSprings, EveryPassMatchesSpringForceInOrder) {
    const unsigned side = 20;
    std::mt19937 rng(3300);
    Set start = cloth(side, rng);
    // Pulled apart a little, so that every spring has an error to report.
    for (TCVerlet& p : start.ps) p.x *= 1.1f, p.y *= 1.05f;
    const unsigned n = unsigned(start.ss.size()), count = unsigned(start.ps.size());
    Rules r;
    for (unsigned c = 0; c < side; c += 4) r.holds.push_back({(side - 1) * side + c, float(c), 25, 1});
    r.holds.push_back({side / 2, 9, -6, 0});
    const TCRules with_rules = r.view();
    // Schedules made before any spring tore.
    std::vector<unsigned> plain(spring_schedule_words(n, count));
    ASSERT_TRUE(spring_schedule(start.ss.data(), n, count, plain.data()));
    std::vector<std::vector<unsigned>> parted;
    for (unsigned parts : kParts) {
        parted.emplace_back(spring_schedule_parts_words(n, count, parts));
        ASSERT_TRUE(spring_schedule_parts(start.ss.data(), n, count, parts, parted.back().data()));
        if (parts > 1) EXPECT_GE(spring_schedule_parts_used(parted.back().data()), 2u) << "the cloth is divided";
    }
    for (int torn = kNone; torn <= kAll; ++torn)
        for (const TCRules* rules : {static_cast<const TCRules*>(nullptr), &with_rules}) {
            Set begin = start;
            tear(begin, Torn(torn), side);
            Set want = begin;
            const std::vector<float> want_errors = reference(want, rules);
            if (torn == kAll) {
                EXPECT_TRUE(same_bits(want_errors, std::vector<float>(kPasses, 0.0f))) << "all torn: every pass 0";
                if (!rules) EXPECT_EQ(std::memcmp(want.ps.data(), begin.ps.data(), count * sizeof(TCVerlet)), 0);
            } else {
                EXPECT_GT(want_errors[0], 0.0f);
            }
            for (int path = kSelected; path < PHYSICS_PATH_COUNT; ++path) {
                if (path != kSelected && !physics_path_available(path)) continue;
                auto expect_same = [&](const Set& got, const std::vector<float>& errors, unsigned parts,
                                       const char* how) {
                    SCOPED_TRACE(where(kTornNames[torn], rules, parts, path) + ", " + how);
                    EXPECT_EQ(std::memcmp(got.ps.data(), want.ps.data(), count * sizeof(TCVerlet)), 0)
                        << "particles differ from spring_force in order";
                    EXPECT_TRUE(same_bits(errors, want_errors))
                        << "largest errors " << errors[0] << ", " << errors[1] << ", " << errors[2] << "; want "
                        << want_errors[0] << ", " << want_errors[1] << ", " << want_errors[2];
                };
                Set one = begin;
                expect_same(one, run_one_thread(path, one, plain, rules), 0, "one thread, plain schedule");
                for (size_t k = 0; k < parted.size(); ++k) {
                    Set got = begin;
                    expect_same(got, run_threads(path, got, parted[k], kParts[k], rules), kParts[k], "threads");
                    if (kParts[k] == 2) {
                        Set whole = begin;
                        expect_same(whole, run_one_thread(path, whole, parted[k], rules), 2, "parts schedule whole");
                    }
                }
            }
        }
}

}  // namespace
