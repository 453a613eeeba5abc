// Particles that collide: a table of scenes x part counts x processor paths,
// each against the quadratic reference (collide_reference.h), particles and
// the largest overlap bit for bit, over two calls in a row with nothing
// between them (the parts on threads of their own); then the refusals, which
// touch nothing. Exits 1 on a mismatch. Built once as it is and once with
// random stalls at every meeting of the parts (run with --threads: the parts
// on the path the kernel picks, all that the stalls change); run under
// ThreadSanitizer by make tsan. With --million: a million particles, checked
// on a sample (make kernel-flags-check runs it, being long).
#include <penshell/physics.h>
#include "physics_paths.h"
#include "collide_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Scene {
    std::vector<TCVerlet> ps;
    std::vector<float> radii;
};

float uniform(std::mt19937& rng, float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }

// Old positions and accelerations differ from the positions: a call must leave them alone.
void put(Scene& s, float x, float y, float radius) {
    const float i = float(s.ps.size());
    s.ps.push_back(TCVerlet{x, y, i, -i, 0.25f, -9.81f});
    s.radii.push_back(radius);
}

// Balls on a jittered lattice closer than their diameter: four to six contacts each.
Scene pile(unsigned side, float radius, std::mt19937& rng) {
    Scene s;
    for (unsigned i = 0; i < side * side; ++i)
        put(s, float(i % side) * 0.95f * 2 * radius + uniform(rng, -0.1f, 0.1f) * radius,
            float(i / side) * 0.95f * 2 * radius + uniform(rng, -0.1f, 0.1f) * radius, radius);
    return s;
}

// Grains of many sizes heaped at random, and a few boulders among them with
// dozens of contacts, one with more than a particle's list holds.
Scene heap(std::mt19937& rng) {
    Scene s;
    for (int i = 0; i < 1800; ++i) put(s, uniform(rng, 0, 25), uniform(rng, 0, 25), uniform(rng, 0.2f, 0.6f));
    put(s, 10, 10, 3), put(s, 18, 17, 6), put(s, 5, 20, 1.5f);
    std::shuffle(s.ps.begin(), s.ps.end(), rng);
    return s;
}

// Everyone at one point (no direction: nobody moves them) and a few around it.
Scene one_point(std::mt19937& rng) {
    Scene s;
    for (int i = 0; i < 300; ++i) put(s, 1.5f, -2.5f, 0.5f);
    for (int i = 0; i < 40; ++i) put(s, 1.5f + uniform(rng, -1, 1), -2.5f + uniform(rng, -1, 1), uniform(rng, 0.1f, 1));
    std::shuffle(s.ps.begin(), s.ps.end(), rng);
    return s;
}

// Pairs exactly at reach (no contact) and a float under it (contact), in
// every direction: reach is set to the pair's clen, so both radii are half of it.
Scene at_reach(std::mt19937& rng) {
    Scene s;
    for (int k = 0; k < 600; ++k) {
        const float x = uniform(rng, -40, 40), y = uniform(rng, -40, 40), angle = uniform(rng, 0, 6.2831853f);
        const float d = uniform(rng, 0.5f, 2), bx = x + d * std::cos(angle), by = y + d * std::sin(angle);
        const float reach = clen(x, y, bx, by);
        const bool under = k % 2 == 1;
        put(s, x, y, reach / 2), put(s, under ? std::nextafter(bx, x) : bx, by, reach / 2);
    }
    return s;
}

// Pairs along an axis as far apart as a contact can be (clen along an axis is
// 0.941246 times the distance, so almost 1.0625 times the reach), anywhere
// across the cells: some straddle two cell boundaries. Packed so that the
// grid keeps cells of its narrowest width; `far`: in two groups a million
// apart, so that the cells are hashed.
Scene cell_boundaries(std::mt19937& rng, bool far) {
    Scene s;
    for (int k = 0; k < 700; ++k) {
        const float shift = far && k % 2 ? 1e6f : 0.0f;
        const float x = uniform(rng, -22, 22) + shift, y = uniform(rng, -22, 22) - shift, r = 0.5f;
        float right = x + 2 * r / 0.941246f, below = y - 2 * r / 0.941246f;
        while (clen(x, y, right, y) >= 2 * r) right = std::nextafter(right, x);
        while (clen(x, y, x, below) >= 2 * r) below = std::nextafter(below, y);
        put(s, x, y, r);
        k % 4 < 2 ? put(s, right, y, r) : put(s, x, below, r);
    }
    // And on the lattice of the cells' own width: 2.125 times the radius.
    for (int i = 0; i < 400; ++i) put(s, float(i % 20) * 1.0625f, float(i / 20) * 1.0625f, 0.5f);
    return s;
}

// Clusters far apart and on both sides of 0, out to where floats are
// farther apart than a cell, with contacts in each; overflowing distances.
Scene huge(std::mt19937& rng) {
    Scene s;
    const float centres[][2] = {{0, 0}, {1e12f, -1e12f}, {-3e15f, 2e9f}, {6.4e9f, 6.4e9f}, {-1e30f, 1e30f},
                                {3e38f, -3e38f}, {-3.4e38f, 3.4e38f}, {1e20f, 0}};
    for (const auto& c : centres) {
        // Radii of a few floats' spacing there, at least 0.5.
        const float ulp = std::max(std::nextafter(std::fabs(c[0]), INFINITY) - std::fabs(c[0]),
                                   std::nextafter(std::fabs(c[1]), INFINITY) - std::fabs(c[1]));
        const float r = std::max(0.5f, 3 * ulp);
        for (int k = 0; k < 60; ++k)
            put(s, c[0] + uniform(rng, -8, 8) * r, c[1] + uniform(rng, -8, 8) * r, r * uniform(rng, 0.5f, 1.5f));
    }
    std::shuffle(s.ps.begin(), s.ps.end(), rng);
    return s;
}

// A pile with odd values sprinkled in: NaN and infinite positions and radii,
// radius 0, negative and subnormal radii.
Scene odd_values(std::mt19937& rng) {
    Scene s = pile(40, 0.5f, rng);
    const float odd[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, -0.5f, 1e-40f};
    for (unsigned i = 0; i < s.ps.size(); ++i) {
        if (rng() % 8 == 0) s.radii[i] = odd[rng() % 7];
        if (rng() % 10 == 0) (rng() % 2 ? s.ps[i].x : s.ps[i].y) = odd[rng() % 3];
    }
    return s;
}

// Radii so large that every particle reaches every other; and a few whose
// reach overflows to infinity, which moves nobody they touch.
Scene everyone_in_reach(std::mt19937& rng) {
    Scene s;
    for (int i = 0; i < 150; ++i) put(s, uniform(rng, -5, 5), uniform(rng, -5, 5), i % 3 ? 1e30f : 0.5f);
    for (int i = 0; i < 6; ++i) put(s, uniform(rng, 3.3e38f, 3.4e38f), uniform(rng, -5, 5), 1.71e38f);
    return s;
}

// Few particles far apart (a dense grid would be mostly empty), a line
// stretched along one axis, and a tight cluster with outliers.
Scene sparse(std::mt19937& rng) {
    Scene s;
    for (int i = 0; i < 2000; ++i) put(s, uniform(rng, -400, 400), uniform(rng, -400, 400), uniform(rng, 0.5f, 4));
    return s;
}

Scene line(std::mt19937& rng) {
    Scene s;
    for (int i = 0; i < 1000; ++i) put(s, float(i) * 0.9f + uniform(rng, 0, 0.2f), uniform(rng, -0.1f, 0.1f), 0.5f);
    for (int i = 0; i < 800; ++i) put(s, 1e7f + float(i) * 37.0f, uniform(rng, -1, 1), 20);
    return s;
}

Scene cluster_and_outliers(std::mt19937& rng) {
    Scene s = pile(30, 0.25f, rng);
    for (int i = 0; i < 30; ++i) put(s, uniform(rng, -1e6f, 1e6f), uniform(rng, -1e6f, 1e6f), 0.25f);
    put(s, 5e5f, 5e5f, 0.25f), put(s, 5e5f + 0.3f, 5e5f, 0.25f);
    return s;
}

// A cloth at rest, radius 0.4 a particle 1 apart, folded over itself twice.
Scene folded_cloth(std::mt19937& rng) {
    Scene s;
    for (unsigned i = 0; i < 40 * 40; ++i) {
        const float x = float(i % 40), y = float(i / 40);
        put(s, x < 20 ? x : 39.3f - x + uniform(rng, -0.2f, 0.2f), y < 25 ? y : 49.5f - y, 0.4f);
    }
    return s;
}

// Tiny distances and radii: overlaps whose halves are subnormal.
Scene tiny(std::mt19937& rng) {
    Scene s = pile(30, 0.5f, rng);
    for (TCVerlet& p : s.ps) p.x *= 1e-38f, p.y *= 1e-38f;
    for (float& r : s.radii) r *= 1e-38f;
    return s;
}

Scene count_of(unsigned n, std::mt19937& rng) {
    Scene s;
    for (unsigned i = 0; i < n; ++i) put(s, uniform(rng, 0, 0.8f), uniform(rng, 0, 0.8f), 0.5f);
    return s;
}

Scene make(int which, std::mt19937& rng) {
    switch (which) {
    case 0: return pile(45, 0.5f, rng);
    case 1: return heap(rng);
    case 2: return one_point(rng);
    case 3: return at_reach(rng);
    case 4: return cell_boundaries(rng, false);
    case 5: return cell_boundaries(rng, true);
    case 6: return huge(rng);
    case 7: return odd_values(rng);
    case 8: return everyone_in_reach(rng);
    case 9: return sparse(rng);
    case 10: return line(rng);
    case 11: return cluster_and_outliers(rng);
    case 12: return folded_cloth(rng);
    case 13: return tiny(rng);
    default: return count_of(unsigned(which - 14), rng);  // 0, 1, 2
    }
}

const char* const kNames[] = {"pile",           "heap with boulders", "one point",       "at reach",
                              "cell boundaries", "cell boundaries, hashed", "huge coordinates", "odd values", "everyone in reach",
                              "sparse",          "line",               "cluster and outliers", "folded cloth",
                              "tiny",            "no particles",       "one particle",    "two particles"};
const int kScenes = sizeof kNames / sizeof kNames[0];
const int kSelected = -1;                          // the call itself, on the path it picks
const unsigned kParts[] = {0, 1, 2, 3, 8};         // 0: particle_collide on one thread
const unsigned kCalls = 2;
const unsigned kCanary = 0xdeadbeefu, kCanaryWords = 16;

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Empty vectors have no data to compare (and memcmp must not be given their null).
bool same_records(const std::vector<TCVerlet>& a, const std::vector<TCVerlet>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(TCVerlet)) == 0);
}

// `calls` calls of the path's parts, each part on a thread of its own and
// nothing between the calls; each call's largest overlap over the parts.
std::vector<float> run(int path, unsigned parts, Scene& s, std::vector<unsigned>& work, unsigned calls = kCalls) {
    const unsigned n = unsigned(s.ps.size());
    std::vector<float> largest;
    if (parts == 0) {
        for (unsigned c = 0; c < calls; ++c)
            largest.push_back(path == kSelected ? particle_collide(s.ps.data(), n, s.radii.data(), work.data())
                                                : particle_collide_path(path, s.ps.data(), n, s.radii.data(), work.data()));
        return largest;
    }
    std::vector<unsigned> sync(spring_sync_words(parts));
    spring_sync_reset(sync.data(), parts);
    std::vector<float> each(size_t(parts) * calls);
    auto part = [&](unsigned p) {
        for (unsigned c = 0; c < calls; ++c)
            each[c * parts + p] =
                path == kSelected
                    ? particle_collide_part(s.ps.data(), n, s.radii.data(), work.data(), p, parts, sync.data())
                    : particle_collide_part_path(path, s.ps.data(), n, s.radii.data(), work.data(), p, parts, sync.data());
    };
    std::vector<std::thread> threads;
    for (unsigned p = 1; p < parts; ++p) threads.emplace_back(part, p);
    part(0);
    for (std::thread& t : threads) t.join();
    for (unsigned c = 0; c < calls; ++c)
        largest.push_back(*std::max_element(each.begin() + c * parts, each.begin() + (c + 1) * parts));
    return largest;
}

bool table(bool threads_only) {
    bool all = true;
    for (int k = 0; k < kScenes; ++k) {
        std::mt19937 rng(77 + k);
        const Scene start = make(k, rng);
        const unsigned n = unsigned(start.ps.size());
        Scene want = start;
        std::vector<float> largest;
        for (unsigned c = 0; c < kCalls; ++c) largest.push_back(collide_reference(want.ps.data(), n, want.radii.data()));
        unsigned moved = 0;
        for (unsigned i = 0; i < n; ++i) moved += std::memcmp(&want.ps[i], &start.ps[i], sizeof(TCVerlet)) != 0;
        bool ok = true;
        std::string failed;
        for (int path = kSelected; path < PHYSICS_PATH_COUNT; ++path) {
            if (path != kSelected && (threads_only || !physics_path_available(path))) continue;
            for (unsigned parts : kParts) {
                if (threads_only && parts < 2) continue;
                Scene got = start;
                const unsigned words = particle_collide_words(n);
                std::vector<unsigned> work(words + kCanaryWords, kCanary);
                const std::vector<float> l = run(path, parts, got, work);
                bool same = same_records(got.ps, want.ps) &&
                            std::count(work.begin() + words, work.end(), kCanary) == kCanaryWords;
                for (unsigned c = 0; c < kCalls; ++c) same = same && same_bits(l[c], largest[c]);
                if (!same) {
                    failed += std::string(" ") + (path == kSelected ? "selected" : physics_path_name(path)) + "/" +
                              std::to_string(parts);
                    ok = false;
                }
            }
        }
        std::printf("%s %s, %u particles (%u moved, largest overlap %g):%s\n", ok ? "ok  " : "FAIL", kNames[k], n, moved,
                    double(largest[0]), !ok ? failed.c_str() : threads_only ? " 2, 3 and 8 parts" : " every path and part count");
        all = all && ok;
    }
    return all;
}

// A refused call returns -1 from every part and touches neither the
// particles, the work memory nor the sync memory; counts 0 and 1 return 0,
// touching nothing; a part past the count returns 0.
bool refusals() {
    std::mt19937 rng(5);
    Scene s = pile(8, 0.5f, rng);
    const unsigned n = unsigned(s.ps.size());
    std::vector<unsigned> work(particle_collide_words(n), kCanary), sync(spring_sync_words(2), kCanary);
    const Scene before = s;
    const std::vector<unsigned> work_before = work, sync_before = sync;
    const float* radii = s.radii.data();
    TCVerlet* ps = s.ps.data();
    const float single[] = {particle_collide(ps, n, nullptr, work.data()), particle_collide(ps, n, radii, nullptr),
                            particle_collide(ps, 429496628u, radii, work.data()), particle_collide(ps, 1, radii, work.data()),
                            particle_collide(ps, 0, nullptr, nullptr)};
    const float parted[] = {particle_collide_part(ps, n, nullptr, work.data(), 0, 2, sync.data()),
                            particle_collide_part(ps, n, radii, nullptr, 1, 2, sync.data()),
                            particle_collide_part(ps, 429496628u, radii, work.data(), 0, 2, sync.data()),
                            particle_collide_part(ps, n, radii, work.data(), 0, 0, sync.data()),
                            particle_collide_part(ps, n, radii, work.data(), 0, 65, sync.data()),
                            particle_collide_part(ps, n, radii, work.data(), 0, 2, nullptr),
                            particle_collide_part(ps, 1, radii, work.data(), 0, 2, sync.data()),
                            particle_collide_part(ps, n, radii, work.data(), 2, 2, sync.data())};
    const float want_single[] = {-1, -1, -1, 0, 0}, want_parted[] = {-1, -1, -1, -1, -1, -1, 0, 0};
    const bool ok = std::memcmp(single, want_single, sizeof single) == 0 &&
                    std::memcmp(parted, want_parted, sizeof parted) == 0 && particle_collide_words(429496628u) == 0 &&
                    particle_collide_words(429496627u) != 0 &&
                    std::memcmp(s.ps.data(), before.ps.data(), n * sizeof(TCVerlet)) == 0 && work == work_before &&
                    sync == sync_before;
    std::printf("%s refusals return -1, counts 0 and 1 return 0, touching nothing\n", ok ? "ok  " : "FAIL");
    return ok;
}

// A million particles in a pile, on every path and two parts: a sample of
// them against the reference (each particle's is linear in the count).
bool million() {
    std::mt19937 rng(1000000);
    const Scene start = pile(1000, 0.5f, rng);
    const unsigned n = unsigned(start.ps.size());
    std::vector<unsigned> sample;
    for (int k = 0; k < 300; ++k) sample.push_back(rng() % n);
    sample.push_back(0), sample.push_back(n - 1);
    std::vector<TCVerlet> want(sample.size());
    std::vector<float> largest(sample.size());
    for (size_t k = 0; k < sample.size(); ++k) {
        want[k] = start.ps[sample[k]];
        largest[k] = collide_reference_one(start.ps.data(), n, start.radii.data(), sample[k], want[k].x, want[k].y);
    }
    const float most = *std::max_element(largest.begin(), largest.end());
    bool all = true;
    for (int path = kSelected; path < PHYSICS_PATH_COUNT; ++path) {
        if (path != kSelected && !physics_path_available(path)) continue;
        for (unsigned parts : {0u, 2u}) {
            Scene got = start;
            std::vector<unsigned> work(particle_collide_words(n));
            const float l = run(path, parts, got, work, 1)[0];
            bool ok = l >= most;  // the sample's largest overlap is at most the whole's
            for (size_t k = 0; k < sample.size(); ++k)
                ok = ok && std::memcmp(&got.ps[sample[k]], &want[k], sizeof(TCVerlet)) == 0;
            std::printf("%s a million particles, %s, %u parts: %zu sampled against the reference\n", ok ? "ok  " : "FAIL",
                        path == kSelected ? "selected path" : physics_path_name(path), parts, sample.size());
            all = all && ok;
        }
    }
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--million") return million() ? 0 : 1;
    const bool ok = table(argc > 1 && std::string(argv[1]) == "--threads");
    return ok && refusals() ? 0 : 1;
}
