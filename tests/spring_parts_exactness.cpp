// Springs on several threads: a table of topologies x part counts x paths, each
// part on a thread of its own for three passes with nothing between them,
// against spring_force in the given order and against spring_pass, particles
// and each pass's largest error bit for bit; and each schedule read as the
// parts read it, to show that its waits order every two springs that share a
// particle and can never wait in a circle, whatever the timing. Exits 1 on a
// mismatch. Built once as it is and once with random stalls at every wait and
// publish; run under ThreadSanitizer by make tsan. Arguments leave out the
// part counts above the first, and with rules above the second (default: the first).
#include "kernel.h"  // the schedule's layout
#include "physics_paths.h"
#include "rules_reference.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

namespace {

const int kSelected = -1;  // spring_pass_part itself, on the path it picks
const unsigned kPasses = 3;

struct Set {
    std::vector<TCVerlet> ps;
    std::vector<TCSpring> ss;
};

float uniform(std::mt19937& rng, float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

void scatter(Set& s, unsigned count, std::mt19937& rng) {
    for (unsigned i = 0; i < count; ++i)
        s.ps.push_back(TCVerlet{uniform(rng, -9, 9), uniform(rng, -9, 9), uniform(rng, -9, 9), uniform(rng, -9, 9),
                                uniform(rng, -9, 9), uniform(rng, -9, 9)});
}

// A side x side jittered cloth (particle r * side + c), its springs given row
// by row, column by column or shuffled; or given row by row with its
// particles shuffled in memory, which ranges of indices cannot divide.
Set cloth(unsigned side, int order, std::mt19937& rng) {
    Set s;
    for (unsigned i = 0; i < side * side; ++i)
        s.ps.push_back(TCVerlet{float(i % side) + uniform(rng, -0.3f, 0.3f),
                                float(i / side) + uniform(rng, -0.3f, 0.3f), 0, 0, 0, -9.81f});
    const float edge = clen(0, 0, 1, 0), diagonal = clen(0, 0, 1, 1);
    for (unsigned j = 0; j < side; ++j)
        for (unsigned k = 0; k < side; ++k) {
            const unsigned r = order == 1 ? k : j, c = order == 1 ? j : k, i = r * side + c;
            if (c + 1 < side) s.ss.push_back({i, i + 1, edge});
            if (r + 1 < side) s.ss.push_back({i, i + side, edge});
            if (c + 1 < side && r + 1 < side) s.ss.push_back({i, i + side + 1, diagonal});
            if (c > 0 && r + 1 < side) s.ss.push_back({i, i + side - 1, diagonal});
        }
    if (order == 2) std::shuffle(s.ss.begin(), s.ss.end(), rng);
    if (order == 3) {
        std::vector<unsigned> to(s.ps.size());
        for (unsigned i = 0; i < to.size(); ++i) to[i] = i;
        std::shuffle(to.begin(), to.end(), rng);
        std::vector<TCVerlet> moved(s.ps.size());
        for (unsigned i = 0; i < to.size(); ++i) moved[to[i]] = s.ps[i];
        s.ps = moved;
        for (TCSpring& x : s.ss) x.a = to[x.a], x.b = to[x.b];
    }
    return s;
}

Set pairs(unsigned springs, unsigned particles, std::mt19937& rng) {
    Set s;
    scatter(s, particles, rng);
    for (unsigned i = 0; i < springs; ++i)
        s.ss.push_back({unsigned(rng() % particles), unsigned(rng() % particles), uniform(rng, 0.5f, 4)});
    return s;
}

Set rope(unsigned springs, std::mt19937& rng) {
    Set s;
    scatter(s, springs + 1, rng);
    for (unsigned i = 0; i < springs; ++i) s.ss.push_back({i, i + 1, 0.5f});
    return s;
}

// Two cloths side by side, one spring on one particle, the same spring many times.
Set mixed(std::mt19937& rng) {
    Set s = cloth(24, 0, rng), t = cloth(16, 2, rng);
    const unsigned base = unsigned(s.ps.size());
    s.ps.insert(s.ps.end(), t.ps.begin(), t.ps.end());
    for (TCSpring x : t.ss) s.ss.push_back({x.a + base, x.b + base, x.rest_length});
    s.ss.insert(s.ss.begin() + 100, TCSpring{7, 7, 1});
    for (int k = 0; k < 20; ++k) s.ss.insert(s.ss.begin() + 300, TCSpring{40, 41, 1.5f});
    return s;
}

Set make(int which, std::mt19937& rng) {
    switch (which) {
    case 0: return cloth(64, 0, rng);
    case 1: return cloth(64, 1, rng);
    case 2: return cloth(64, 2, rng);
    case 3: return rope(300, rng);
    case 4: return pairs(3000, 900, rng);
    case 5: return pairs(1, 2, rng);
    case 6: return pairs(3, 3, rng);
    case 7: return pairs(0, 4, rng);
    case 8: return pairs(200, 1, rng);  // every spring on one particle
    case 9: return cloth(64, 3, rng);
    default: return mixed(rng);
    }
}

const char* const kNames[] = {"cloth by row", "cloth by column", "cloth shuffled", "rope",
                              "random pairs", "one spring",      "three springs", "no springs",
                              "one particle", "cloth, particles shuffled", "mixed"};
const unsigned kParts[] = {1, 2, 3, 4, 5, 7, 8, 64};
unsigned most_parts = ~0u, most_rule_parts = ~0u;

// What the parts must give: spring_force in order (then the rules, if any),
// and each pass's largest |error|.
std::vector<float> reference(Set& s, const TCRules* rules = nullptr) {
    std::vector<float> largest;
    for (unsigned pass = 0; pass < kPasses; ++pass) {
        float l = 0.0f;
        for (const TCSpring& x : s.ss) {
            const float e = std::fabs(spring_force(s.ps[x.a], s.ps[x.b], x.rest_length));
            if (!std::isnan(e)) l = std::max(l, e);
        }
        if (rules) rules_reference(s.ps.data(), unsigned(s.ps.size()), *rules);
        largest.push_back(l);
    }
    return largest;
}

float part_pass(int path, Set& s, const unsigned* schedule, unsigned part, unsigned* sync) {
    const unsigned n = unsigned(s.ss.size());
    return path == kSelected ? spring_pass_part(s.ps.data(), s.ss.data(), n, schedule, part, sync)
                             : spring_pass_part_path(path, s.ps.data(), s.ss.data(), n, schedule, part, sync);
}

// Every part on its own thread for kPasses passes, nothing between them
// (`reset`: the sync memory reset between passes instead, all threads
// joined); returns each pass's largest error over the parts.
std::vector<float> run_threads(int path, Set& s, const std::vector<unsigned>& schedule, unsigned parts, bool reset) {
    std::vector<unsigned> sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    std::vector<float> errors(size_t(parts) * kPasses, 0.0f);
    auto run = [&](unsigned part, unsigned first, unsigned last) {
        for (unsigned pass = first; pass < last; ++pass)
            errors[pass * parts + part] = part_pass(path, s, schedule.data(), part, sync.data());
    };
    for (unsigned first = 0; first < kPasses; first += reset ? 1 : kPasses) {
        std::vector<std::thread> threads;
        for (unsigned p = 0; p < parts; ++p) threads.emplace_back(run, p, first, reset ? first + 1 : kPasses);
        for (std::thread& t : threads) t.join();
        if (reset) spring_sync_reset(sync.data(), parts);
    }
    std::vector<float> largest;
    for (unsigned pass = 0; pass < kPasses; ++pass)
        largest.push_back(*std::max_element(errors.begin() + pass * parts, errors.begin() + (pass + 1) * parts));
    return largest;
}

std::vector<float> run_one_thread(int path, Set& s, const std::vector<unsigned>& schedule) {
    std::vector<float> largest;
    const unsigned n = unsigned(s.ss.size());
    for (unsigned pass = 0; pass < kPasses; ++pass)
        largest.push_back(path == kSelected ? spring_pass(s.ps.data(), s.ss.data(), n, schedule.data())
                                            : spring_pass_path(path, s.ps.data(), s.ss.data(), n, schedule.data()));
    return largest;
}

bool same(const Set& a, const Set& b, const std::vector<float>& ea, const std::vector<float>& eb) {
    return a.ps.size() == b.ps.size() && std::memcmp(a.ps.data(), b.ps.data(), a.ps.size() * sizeof(TCVerlet)) == 0 &&
           std::memcmp(ea.data(), eb.data(), ea.size() * sizeof(float)) == 0;
}

// Runs kPasses passes of the schedule's parts in turn, each as far as its
// waits allow, keeping for every part what it knows of the others' progress
// (a vector clock: a wait met learns what the publish it read knew). False if
// the parts stop short of the end (a circle of waits), or if a spring does not
// know of the spring before it on one of its particles (in this pass or, for
// the first on a particle, the last in the pass before) from another part.
bool waits_order_every_pair(const Set& s, const unsigned* schedule) {
    if (schedule[0] != kPartsSchedule) return true;
    const unsigned parts = schedule[2], n = unsigned(s.ss.size());
    std::vector<std::vector<long>> knows(parts, std::vector<long>(parts, -1));
    std::vector<std::vector<std::pair<long, std::vector<long>>>> published(parts);
    std::vector<const unsigned*> at(parts);
    std::vector<unsigned> pass(parts, 0);
    std::vector<std::vector<long>> knew(size_t(kPasses) * n);  // each spring's part's knowledge when it ran
    std::vector<int> part_of(size_t(kPasses) * n, -1);
    std::vector<long> published_after(size_t(kPasses) * n, -1);
    std::vector<std::vector<size_t>> unpublished(parts);
    for (unsigned p = 0; p < parts; ++p) at[p] = schedule + schedule[3 + parts + p];
    for (bool moved = true; moved;) {
        moved = false;
        for (unsigned p = 0; p < parts; ++p)
            while (pass[p] < kPasses) {
                if (at[p] == schedule + schedule[3 + parts + p + 1]) {
                    at[p] = schedule + schedule[3 + parts + p], ++pass[p];
                    continue;
                }
                const unsigned kind = at[p][0] & 3, value = at[p][0] >> 2, q = value >> 1;
                if (kind == kPartWait) {
                    const long target = (long(pass[p]) - long(value & 1)) * schedule[3 + q] + at[p][1];
                    if (target > 0) {
                        auto met = std::find_if(published[q].begin(), published[q].end(),
                                                [&](const std::pair<long, std::vector<long>>& x) { return x.first >= target; });
                        if (met == published[q].end()) break;
                        for (unsigned r = 0; r < parts; ++r) knows[p][r] = std::max(knows[p][r], met->second[r]);
                    }
                    at[p] += 2;
                } else if (kind == kPartPublish) {
                    knows[p][p] = long(pass[p]) * schedule[3 + p] + value;
                    published[p].push_back({knows[p][p], knows[p]});
                    for (size_t e : unpublished[p]) published_after[e] = knows[p][p];
                    unpublished[p].clear();
                    at[p] += 1;
                } else {
                    for (unsigned k = 0; k < (kind == kPartGroups ? value * kGroupWidth : value); ++k) {
                        const unsigned i = kind == kPartGroups ? at[p][1 + k / kGroupWidth * kGroupWords + k % kGroupWidth] / 3
                                                                : at[p][1 + 3 * k];
                        const size_t e = size_t(pass[p]) * n + i;
                        knew[e] = knows[p], part_of[e] = int(p);
                        unpublished[p].push_back(e);
                    }
                    at[p] += 1 + (kind == kPartGroups ? value * kGroupWords : 3 * value);
                }
                moved = true;
            }
    }
    for (unsigned p = 0; p < parts; ++p)
        if (pass[p] < kPasses) return false;
    std::vector<size_t> last(s.ps.size(), SIZE_MAX);
    for (unsigned pass_number = 0; pass_number < kPasses; ++pass_number)
        for (unsigned i = 0; i < n; ++i)
            for (unsigned x : {s.ss[i].a, s.ss[i].b}) {
                const size_t e = size_t(pass_number) * n + i, before = last[x];
                last[x] = e;
                if (before == SIZE_MAX || before == e || part_of[before] == part_of[e]) continue;
                if (published_after[before] < 0 || knew[e][part_of[before]] < published_after[before]) return false;
            }
    return true;
}

// ---- rules: pins, floors and balls inside the pass ----

struct RuleSet {
    std::vector<TCHold> holds;
    std::vector<TCPlane> planes;
    std::vector<TCCircle> circles;
    bool null;  // passed as a null pointer
};

TCRules view(const RuleSet& r) {
    return TCRules{r.holds.data(), unsigned(r.holds.size()), r.planes.data(), unsigned(r.planes.size()),
                   r.circles.data(), unsigned(r.circles.size())};
}

const char* const kRuleNames[] = {"null rules", "holds", "shapes every particle crosses, pins", "odd values",
                                  "all together, 600 holds", "one hold", "circles alone"};
const unsigned kRuleParts[] = {1, 2, 3, 8, 64};
const unsigned kFirstLightSet = 5;  // sets from here on run on 1 and 2 parts: enough to meet every entry
const unsigned kSpare = 4;  // particles past those the springs touch

// Rule set `which` for a set whose last kSpare particles no spring touches.
// Odd values: non-finite and huge fields, moves that overflow, particles
// that are NaN or infinite.
RuleSet rule_set(int which, Set& s, std::mt19937& rng) {
    RuleSet r{{}, {}, {}, which == 0};
    const unsigned count = unsigned(s.ps.size()), spare = count - kSpare;
    if (which == 1 || which == 4) {
        r.holds.push_back({spare, 3, -4, 1});
        r.holds.push_back({spare + 2, -1, 2, 0});
        const unsigned twice = s.ss.empty() ? 0 : s.ss[0].a;
        r.holds.push_back({twice, 1.5f, 2.5f, 1});
        const TCSpring ends = s.ss.empty() ? TCSpring{1, 2, 0} : s.ss[s.ss.size() / 2];
        r.holds.push_back({ends.a, -2, -2, 0});
        r.holds.push_back({ends.b, 2, 2, 1});
        r.holds.push_back({twice, -1.5f, 0.5f, 0});
        for (int k = 0; k < 30; ++k)
            r.holds.push_back({unsigned(rng() % spare), uniform(rng, -9, 9), uniform(rng, -9, 9), unsigned(rng() % 2)});
        // Through -0: moved to +0 only if tested with <=.
        r.planes.push_back({1, 0, 0});
        s.ps[spare + 3].x = s.ps[spare + 3].y = -0.0f;
    }
    if (which == 4)  // more holds than a part sorts: looked through at every entry
        for (int k = 0; k < 600; ++k)
            r.holds.push_back({unsigned(rng() % count), uniform(rng, -9, 9), uniform(rng, -9, 9), unsigned(rng() % 2)});
    if (which == 2) {  // holds in order but the last, as a cloth's pins and its pen
        for (unsigned k = 0; k < count && k < 20; ++k) r.holds.push_back({k, float(k), 0, 1});
        r.holds.push_back({count / 2, 1, 1, 0});
    }
    if (which == 2 || which == 4) {
        r.planes = {{0, 1, 1000}, {1, 0, -5}, {0.6f, -0.8f, 2}};
        r.circles = {{0, 1000, 1e4f}, {1, 1, 0}, {2, -3, 4}, {s.ps[spare + 1].x, s.ps[spare + 1].y, 5}};
    }
    if (which == 5) {  // a pen's, on a particle in the middle of the springs
        const TCSpring middle = s.ss.empty() ? TCSpring{1, 2, 0} : s.ss[s.ss.size() / 2];
        r.holds.push_back({middle.b, 2.5f, -1.5f, 0});
    }
    if (which == 6)  // one a spare particle lies in, one most of a set lies in, one nothing reaches
        r.circles = {{s.ps[spare].x + 0.5f, s.ps[spare].y, 3}, {0, 0, 6}, {1e4f, 0, 1}};
    if (which == 3) {
        r.planes = {{NAN, 1, 0},      {1, 0, INFINITY}, {0, 1, -INFINITY}, {1e30f, 1e30f, 3e38f},
                    {1, 0, 3e38f},   {1, 0, 0},        {0.5f, 0.5f, NAN}};
        r.circles = {{NAN, 0, 5}, {0, 0, INFINITY}, {0, 0, 3e38f}, {INFINITY, 0, 1}, {0, 0, -1}, {3, 3, 3e-39f}};
        r.holds = {{0, NAN, 1, 1}, {spare, INFINITY, 0, 0}, {spare + 1, 1e38f, -1e38f, 1}, {spare + 2, 1, -INFINITY, 1}};
        s.ps[0].x = NAN, s.ps[spare].y = INFINITY, s.ps[spare + 1].x = -INFINITY;
    }
    return r;
}

float part_pass_rules(int path, Set& s, const unsigned* schedule, unsigned part, unsigned* sync, const TCRules* rules) {
    const unsigned n = unsigned(s.ss.size()), count = unsigned(s.ps.size());
    return path == kSelected ? spring_pass_part_rules(s.ps.data(), s.ss.data(), n, schedule, count, part, sync, rules)
                             : spring_pass_part_rules_path(path, s.ps.data(), s.ss.data(), n, schedule, count, part,
                                                           sync, rules);
}

// Every part on its own thread for kPasses passes with the rules, nothing between them.
std::vector<float> run_threads_rules(int path, Set& s, const std::vector<unsigned>& schedule, unsigned parts,
                                     const TCRules* rules) {
    std::vector<unsigned> sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    std::vector<float> errors(size_t(parts) * kPasses, 0.0f);
    std::vector<std::thread> threads;
    for (unsigned p = 0; p < parts; ++p)
        threads.emplace_back([&, p] {
            for (unsigned pass = 0; pass < kPasses; ++pass)
                errors[pass * parts + p] = part_pass_rules(path, s, schedule.data(), p, sync.data(), rules);
        });
    for (std::thread& t : threads) t.join();
    std::vector<float> largest;
    for (unsigned pass = 0; pass < kPasses; ++pass)
        largest.push_back(*std::max_element(errors.begin() + pass * parts, errors.begin() + (pass + 1) * parts));
    return largest;
}

std::vector<float> run_one_thread_rules(int path, Set& s, const std::vector<unsigned>& schedule, const TCRules* rules) {
    std::vector<float> largest;
    const unsigned n = unsigned(s.ss.size()), count = unsigned(s.ps.size());
    for (unsigned pass = 0; pass < kPasses; ++pass)
        largest.push_back(path == kSelected
                              ? spring_pass_rules(s.ps.data(), s.ss.data(), n, schedule.data(), count, rules)
                              : spring_pass_rules_path(path, s.ps.data(), s.ss.data(), n, schedule.data(), count, rules));
    return largest;
}

int failures = 0;

void check(bool ok, const char* what, const char* topology, unsigned parts, int path) {
    if (ok) return;
    ++failures;
    std::printf("FAIL %s: %s, %u parts, path %s\n", what, topology, parts,
                path == kSelected ? "selected" : physics_path_name(path));
}

// Every spring in exactly one part's order, as callers that hold particles
// between passes rely on; nothing for a part past the count.
bool each_spring_in_one_part(unsigned spring_count, const unsigned* schedule, unsigned parts) {
    std::vector<unsigned> seen(spring_count, 0), order(spring_count + 1);
    for (unsigned p = 0; p <= parts; ++p) {
        const unsigned count = spring_schedule_parts_order(schedule, p, order.data());
        if (p == parts && count != 0) return false;
        for (unsigned k = 0; k < count; ++k)
            if (order[k] >= spring_count || seen[order[k]]++) return false;
    }
    return std::count(seen.begin(), seen.end(), 1u) == std::ptrdiff_t(spring_count);
}

// One topology and part count on every path: the threads, a reset between
// passes, spring_pass on one thread; cloths and the rope must really be divided.
void check_topology(int which, unsigned parts) {
    std::mt19937 rng(1000 + which);
    const Set start = make(which, rng);
    Set want = start;
    const std::vector<float> want_errors = reference(want);
    const unsigned n = unsigned(start.ss.size()), count = unsigned(start.ps.size());
    const unsigned words = spring_schedule_parts_words(n, count, parts);
    std::vector<unsigned> schedule(words + 16, 0xdeadbeefu);
    const bool made = spring_schedule_parts(start.ss.data(), n, count, parts, schedule.data());
    check(made && std::count(schedule.begin() + words, schedule.end(), 0xdeadbeefu) == 16, "scheduled within its words",
          kNames[which], parts, kSelected);
    const bool divisible = which <= 1 || which == 3 || which == 9;  // cloths in order, the rope
    if (divisible && parts >= 2) check(spring_schedule_parts_used(schedule.data()) >= 2, "divided", kNames[which], parts, kSelected);
    check(each_spring_in_one_part(n, schedule.data(), parts), "each spring in one part's order", kNames[which], parts,
          kSelected);
    check(waits_order_every_pair(start, schedule.data()), "waits order every pair, no circle", kNames[which], parts, kSelected);
    for (int path = kSelected; path < PHYSICS_PATH_COUNT; ++path) {
        if (path != kSelected && !physics_path_available(path)) continue;
        Set got = start;
        check(same(got, want, run_threads(path, got, schedule, parts, false), want_errors) || !made, "threads",
              kNames[which], parts, path);
        Set one = start;
        check(same(one, want, run_one_thread(path, one, schedule), want_errors), "one thread", kNames[which], parts, path);
        if (path == kSelected) {
            Set reset = start;
            check(same(reset, want, run_threads(path, reset, schedule, parts, true), want_errors), "reset between passes",
                  kNames[which], parts, path);
        }
    }
}

// Every rule set on one topology, every part count and every path: the
// parts on threads and spring_pass_rules on one thread (with each parts
// schedule, and with a plain one), against the reference.
void check_rules(int which) {
    for (int set = 0; set < int(sizeof kRuleNames / sizeof kRuleNames[0]); ++set) {
        std::mt19937 rng(2000 + which);
        Set start = make(which, rng);
        for (unsigned k = 0; k < kSpare; ++k) start.ps.push_back(TCVerlet{float(k), -float(k), 1, 2, 3, 4});
        const RuleSet r = rule_set(set, start, rng);
        const TCRules rules = view(r);
        const TCRules* given = r.null ? nullptr : &rules;
        Set want = start;
        const std::vector<float> want_errors = reference(want, &rules);
        const unsigned n = unsigned(start.ss.size()), count = unsigned(start.ps.size());
        std::vector<unsigned> plain(spring_schedule_words(n, count));
        check(spring_schedule(start.ss.data(), n, count, plain.data()), "scheduled with rules", kNames[which], 0,
              kSelected);
        for (int path = kSelected; path < PHYSICS_PATH_COUNT; ++path) {
            if (path != kSelected && !physics_path_available(path)) continue;
            Set one = start;
            if (!same(one, want, run_one_thread_rules(path, one, plain, given), want_errors)) {
                std::printf("     rule set: %s\n", kRuleNames[set]);
                check(false, "rules, plain schedule", kNames[which], 0, path);
            }
        }
        for (unsigned parts : kRuleParts) {
            if (parts > most_rule_parts || (set >= int(kFirstLightSet) && parts > 2)) continue;
            std::vector<unsigned> schedule(spring_schedule_parts_words(n, count, parts));
            const bool made = spring_schedule_parts(start.ss.data(), n, count, parts, schedule.data());
            check(made, "scheduled with rules", kNames[which], parts, kSelected);
            for (int path = kSelected; path < PHYSICS_PATH_COUNT && made; ++path) {
                if (path != kSelected && !physics_path_available(path)) continue;
                Set got = start, one = start;
                if (!same(got, want, run_threads_rules(path, got, schedule, parts, given), want_errors) ||
                    !same(one, want, run_one_thread_rules(path, one, schedule, given), want_errors)) {
                    std::printf("     rule set: %s\n", kRuleNames[set]);
                    check(false, "rules", kNames[which], parts, path);
                }
            }
        }
    }
}

// What a pass refuses or leaves alone touches nothing, particles or sync
// memory: a hold past the particles and a particle count other than the
// schedule's (-1 from every part and from one thread), and a part at or past
// the schedule's count (0 at once, with and without rules).
void check_rules_refused() {
    std::mt19937 rng(11);
    Set s = cloth(16, 0, rng);
    const unsigned n = unsigned(s.ss.size()), count = unsigned(s.ps.size()), parts = 2;
    std::vector<unsigned> schedule(spring_schedule_parts_words(n, count, parts));
    std::vector<unsigned> plain(spring_schedule_words(n, count));
    check(spring_schedule_parts(s.ss.data(), n, count, parts, schedule.data()) &&
              spring_schedule(s.ss.data(), n, count, plain.data()),
          "scheduled", "cloth", parts, kSelected);
    std::vector<unsigned> sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    const TCHold past{count, 0, 0, 1}, last{count - 1, 0, 0, 1};
    const TCRules bad{&past, 1, nullptr, 0, nullptr, 0}, good{&last, 1, nullptr, 0, nullptr, 0};
    const Set before = s;
    const std::vector<unsigned> sync_before = sync;
    bool untouched = true, refused = true;
    for (unsigned part = 0; part <= 64; ++part) {
        const bool past_parts = part >= parts;
        for (const unsigned* sch : {schedule.data(), plain.data()}) {
            const bool parts_schedule = sch == schedule.data();
            // A plain schedule is not followed by parts: part 0 would run it whole.
            {
                refused = refused &&
                          spring_pass_part_rules(s.ps.data(), s.ss.data(), n, sch, count, part, sync.data(), &bad) == -1.0f &&
                          spring_pass_part_rules(s.ps.data(), s.ss.data(), n, sch, count + 1, part, sync.data(), &good) == -1.0f &&
                          spring_pass_part_rules(s.ps.data(), s.ss.data(), n, sch, count - 1, part, sync.data(), nullptr) == -1.0f;
            }
            if (past_parts && parts_schedule)
                refused = refused && spring_pass_part(s.ps.data(), s.ss.data(), n, sch, part, sync.data()) == 0.0f &&
                          spring_pass_part_rules(s.ps.data(), s.ss.data(), n, sch, count, part, sync.data(), &good) == 0.0f;
        }
    }
    for (const unsigned* sch : {schedule.data(), plain.data()})
        refused = refused && spring_pass_rules(s.ps.data(), s.ss.data(), n, sch, count, &bad) == -1.0f &&
                  spring_pass_rules(s.ps.data(), s.ss.data(), n, sch, count + 1, &good) == -1.0f &&
                  spring_pass_rules(s.ps.data(), s.ss.data(), n, sch, count - 1, nullptr) == -1.0f;
    untouched = std::memcmp(s.ps.data(), before.ps.data(), count * sizeof(TCVerlet)) == 0 && sync == sync_before;
    check(refused, "refused, -1; past the parts, 0", "cloth", parts, kSelected);
    check(untouched, "refused or past the parts: nothing touched", "cloth", parts, kSelected);
}

// Refusals: no parts, too many, a particle past the array; a refused schedule
// used anyway is applied in order by part 0 while the others return at once.
void check_refusals() {
    std::mt19937 rng(7);
    Set s = pairs(50, 20, rng);
    const unsigned n = unsigned(s.ss.size());
    check(spring_schedule_parts_words(n, 20, 0) == 0 && spring_schedule_parts_words(n, 20, 65) == 0 &&
              spring_sync_words(0) == 0 && spring_sync_words(65) == 0,
          "no words for 0 or 65 parts", "random pairs", 0, kSelected);
    std::vector<unsigned> schedule(spring_schedule_parts_words(n, 20, 64));
    check(!spring_schedule_parts(s.ss.data(), n, 20, 0, schedule.data()) &&
              !spring_schedule_parts(s.ss.data(), n, 20, 65, schedule.data()),
          "refuses 0 and 65 parts", "random pairs", 0, kSelected);
    check(!spring_schedule_parts(s.ss.data(), n, 19, 4, schedule.data()), "refuses a particle past the array",
          "random pairs", 4, kSelected);
    Set want = s;
    const std::vector<float> want_errors = reference(want);
    check(same(s, want, run_threads(kSelected, s, schedule, 4, false), want_errors), "refused schedule, in order",
          "random pairs", 4, kSelected);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) most_parts = most_rule_parts = unsigned(std::strtoul(argv[1], nullptr, 10));
    if (argc > 2) most_rule_parts = unsigned(std::strtoul(argv[2], nullptr, 10));
    for (int which = 0; which < int(sizeof kNames / sizeof kNames[0]); ++which)
        for (unsigned parts : kParts)
            if (parts <= most_parts) check_topology(which, parts);
    check_refusals();
    for (int which = 0; which < int(sizeof kNames / sizeof kNames[0]); ++which) check_rules(which);
    check_rules_refused();
    std::printf("%s: %d failures over %zu topologies x %zu part counts on every path\n", failures ? "FAIL" : "ok",
                failures, sizeof kNames / sizeof kNames[0],
                size_t(std::count_if(std::begin(kParts), std::end(kParts), [](unsigned p) { return p <= most_parts; })));
    return failures ? 1 : 0;
}
