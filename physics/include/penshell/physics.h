#pragma once
// penshell physics: a 2-D particle kernel. Verlet integration of caller-owned
// particles, a distance estimate without a square root and a spring (distance)
// constraint between two particles.
//
// Units are the caller's: lengths in any unit, time in the unit the
// accelerations are given in. Nothing is allocated and no state is kept, so
// calls on separate particle arrays may run on separate threads. Results are
// the same bits on every processor and with every compiler and optimisation
// level. The kernel's sources switch off, for themselves, the float flags short
// of -ffast-math (-ffp-contract=fast, -funsafe-math-optimizations and its
// parts); -ffast-math, -Ofast, -ffinite-math-only and Clang's -ffp-model=fast
// change float semantics on purpose and are refused. Not supported: linking
// the program with -ffast-math, -Ofast or -funsafe-math-optimizations, which
// makes the processor flush subnormal floats to zero, in the kernel too.
//
// One frame, typically:
//   add this step's accelerations to acc_x, acc_y (gravity: p.acc_y -= 9.81f);
//   prev_dt = update_physics(dt, prev_dt, particles, count);
//   repeat a few times: spring_force(a, b, rest_length) for every spring,
//     or spring_pass over all of them (the same bits, faster: see below);
//   put fixed particles back (x, y and old_x, old_y),
//     or let spring_pass_rules do it inside the pass (see Rules below).

struct TCVerlet {
    float x, y;          // position now
    float old_x, old_y;  // position one step ago
    float acc_x, acc_y;  // acceleration acting during the next step
};
static_assert(sizeof(TCVerlet) == 24, "TCVerlet is six packed floats");

// Moves the first `count` particles one step of length dt. For each particle,
// x then y, rounded to float after each operation in this order:
//   new = ((x - old_x) * ratio + x) + acc_x * dt2,  dt2 = dt * dt, ratio = dt / prev_dt
//   old_x = x; x = new; acc_x = 0
// Each step consumes the accelerations: add whatever acts during the next step
// before calling it. prev_dt is the length of the step before; 0, negative or
// NaN means there was none (ratio 0: the particles start at rest). To start a
// particle with velocity v, set old = position - v * prev_dt and pass that
// prev_dt to the first call. Returns dt, to be passed as prev_dt next time.
float update_physics(float dt, float prev_dt, TCVerlet* particles, unsigned count);

// Approximate distance between two points, without a square root:
// 0.941246 * the larger of |dx|, |dy| + 0.41 * the smaller. It lies between
// 0.941 (along an axis) and 1.027 (about 23.5 degrees off an axis) times the
// true distance.
float clen(float x1, float y1, float x2, float y2);

// Moves a and b along the line between them by equal and opposite amounts, so
// that their clen distance becomes |rest_length| (a negative one swaps their
// order). Returns the error: rest_length minus the clen distance before the
// move. Old positions and accelerations are untouched: the next step turns
// the move into motion. Since clen is the measure, a spring settles between
// about 3% shorter and 6% longer than rest_length depending on its direction,
// longest along an axis. Springs are applied in the order they are called;
// each call undoes part of its neighbours' work, so repeat the passes for a
// stiffer result. Coincident particles (a and b the same record included)
// have no direction: they are left where they are and rest_length is returned.
float spring_force(TCVerlet& a, TCVerlet& b, float rest_length);

// ---- Springs in batches ----
// spring_pass applies a whole set of springs with the result of calling
// spring_force on each in the order given, bit for bit, several times faster
// on a cloth: springs that share no particle are applied together. The
// grouping is worked out once, by spring_schedule, for the set's topology.
//
//   std::vector<unsigned> schedule(spring_schedule_words(spring_count, particle_count));
//   if (!spring_schedule(springs, spring_count, particle_count, schedule.data()))
//       ...;  // a spring names a particle past the array (or no memory): fix the springs
//   each frame: update_physics(...); then, a few times or until settled:
//       float err = spring_pass(particles, springs, spring_count, schedule.data());
//
// Make the schedule again whenever springs are added, removed or reordered,
// or a spring's a or b changes: it holds the particle indices it was made
// with. Rest lengths are read at every pass and may change freely; so may
// the particles' positions. One schedule serves any number of passes, on any
// processor path, and several threads at once (each on its own particles).
// spring_pass also takes a schedule made by spring_schedule_parts (below) and
// applies it whole on the calling thread, with the same bits.

// A spring between particles a and b of the caller's array.
struct TCSpring {
    unsigned a, b;
    float rest_length;
};

// How many unsigned words a schedule for this many springs and particles
// needs (about three a spring, and a few for every 512 particles, where the
// rules of spring_pass_rules fall in the pass). 0 when the count is too
// large for one schedule (above about 1.3 billion springs): spring_schedule
// refuses such a set.
unsigned spring_schedule_words(unsigned spring_count, unsigned particle_count);

// Arranges the springs for spring_pass. Writes at most
// spring_schedule_words(spring_count, particle_count) words into the caller's
// memory and allocates work memory while it runs (about 20 bytes a spring
// and 4 a particle). It takes a few passes' time: 5 to 10 on a cloth.
// Returns false, and the schedule must not be used, when a spring names a
// particle at or past particle_count, when there are too many springs, or
// when the work memory cannot be had.
bool spring_schedule(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                     unsigned* schedule);

// Applies every spring once: the particles end up exactly as after
//   for (i = 0; i < spring_count; ++i)
//       spring_force(particles[springs[i].a], particles[springs[i].b], springs[i].rest_length);
// for any set: repeated springs, a spring from a particle to itself, any rest
// length or position. Allocates nothing and keeps no state. `springs` and
// `spring_count` must be those the schedule was made for; a schedule made for
// another count (or refused) is not followed, and the springs are applied
// one by one in the given order instead: the same result, without the speed.
//
// Returns the largest absolute error of the pass, |rest_length - clen| before
// each spring moved (NaN errors left out; 0 with no springs): a measure of
// how far the set is from rest. Relax until it falls below a tolerance of
// the caller's choosing, or run a fixed number of passes and use it to see
// whether that number is enough; it does not fall to 0 while the step keeps
// adding gravity.
float spring_pass(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                  const unsigned* schedule);

// ---- Springs on several threads ----
// The same pass split into parts that run at the same time, one a thread, and
// still give the bits of spring_force applied in the order given, whatever
// the thread count and timing. A part waits only where one of its springs
// needs a particle that another part's earlier spring moves; such springs
// are kept few by the schedule. The kernel starts no threads: the caller's
// own (std::thread, OpenMP, a job system) run the parts.
//
//   unsigned parts = 2;
//   std::vector<unsigned> schedule(spring_schedule_parts_words(spring_count, particle_count, parts));
//   if (!spring_schedule_parts(springs, spring_count, particle_count, parts, schedule.data()))
//       ...;  // as for spring_schedule, or parts is 0 or above 64
//   std::vector<unsigned> sync(spring_sync_words(parts));
//   spring_sync_reset(sync.data(), parts);   // once, before the first pass
//   on thread p, for every pass: err[p] = spring_pass_part(particles, springs, spring_count,
//                                                          schedule.data(), p, sync.data());
//
// Between passes the caller does nothing: a part may start the next pass as
// soon as it returns, and waits there for whatever it needs of the others'
// previous pass. That is where most of the speed comes from: a set whose
// particles lie in memory as they lie in space (a cloth, a rope) is divided
// into ranges of particles, and part p runs pass k + 1 while part p + 1
// finishes pass k, like a pipeline: 16 passes on 2 threads take about 8.5
// passes' time. A caller that waits for every part after every pass (to put
// fixed particles back, say) still gets the same bits, but such parts mostly
// wait for one another: spring_pass_part_rules puts particles back inside the
// pass instead. Every part must be called for every pass, with the same
// particles, springs, schedule and sync memory; each schedule needs sync
// memory of its own, since its parts count their passes there. When the
// caller reads or writes the particles or rest lengths itself (to step them,
// to put fixed particles back), all parts must have returned first, and none
// may start again until it is done: the caller's join or barrier orders those
// memory accesses, as for any data its threads share. A pass given up halfway (a
// part never called) leaves the others waiting: reset the sync memory before
// using it again, with no part running.

// How many unsigned words a schedule for `parts` parts needs (nine a spring
// at most; about three and a half are used). 0 when the count is too large
// for one schedule (2^28 springs or more) or parts is 0 or above 64.
// With the room the rules of spring_pass_part_rules need, the count is too
// large also when the words would not fit an unsigned (above about 200
// million springs).
unsigned spring_schedule_parts_words(unsigned spring_count, unsigned particle_count, unsigned parts);

// Like spring_schedule, for `parts` threads (1 to 64): writes at most
// spring_schedule_parts_words(spring_count, particle_count, parts) words. The
// springs are divided among the parts so that few of them wait across parts
// and the work is even; a set that gains nothing from dividing (a few dozen
// springs) leaves one part all of it, and the other parts return at once. Refuses what
// spring_schedule refuses, sets of 2^28 springs or more, and 0 or more than
// 64 parts. Any spring_schedule_parts schedule also serves spring_pass. It
// takes about twice spring_schedule's time (a model of the parts' waits
// chooses the division), and work memory of about 40 bytes a spring.
bool spring_schedule_parts(const TCSpring* springs, unsigned spring_count, unsigned particle_count,
                           unsigned parts, unsigned* schedule);

// How many unsigned words of memory the parts of one pass share (a cache line
// a part, and one to align them), 0 for 0 or more than 64 parts; and their
// setting before the first pass (the same parts count as the schedule's).
unsigned spring_sync_words(unsigned parts);
void spring_sync_reset(unsigned* sync, unsigned parts);

// Part `part` of one pass: call each part of the schedule once a pass, each on
// its own thread, all at the same time (a part waits for others, so running
// them one after another on one thread can hang). When all have returned, the
// particles are exactly as after one spring_pass. Returns the largest absolute
// error among the part's springs (NaN left out): the largest of the parts'
// returns is the pass's. A part past the schedule's count returns 0 at once.
// A schedule made for another spring count, or refused, is not followed: part
// 0 applies the springs one by one in the given order and the others return 0.
float spring_pass_part(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                       const unsigned* schedule, unsigned part, unsigned* sync);

// Writes the indices of the springs that part `part` applies, in the order it
// applies them, to `order` (room for spring_count), and returns how many: 0
// for a part past the schedule's count, or a refused schedule. Each spring is
// in one part. A caller that puts particles back between passes (pins) needs
// no barrier for a particle that only one part's springs touch: that part's
// thread may put it back between its own passes, and the bits stay those of
// spring_pass. spring_pass_part_rules (below) does that for every particle,
// whichever parts touch it.
unsigned spring_schedule_parts_order(const unsigned* schedule, unsigned part, unsigned* order);

// ---- Rules: pins, floors and balls inside the pass ----
// Scenes hold particles in place (a cloth's pins, the particle a pointer
// drags) and keep particles out of things (a floor, a wall, a ball). A pass
// with rules applies them to every particle after its springs, inside the
// pass: on threads, a part applies a particle's rules as soon as the last
// spring on it in the pass is done, so the parts still run with nothing
// between passes and the caller puts nothing back.

// Put particle `particle` at (x, y) after every pass. still != 0: old_x and
// old_y are set there too, so it keeps no speed (a pin). A particle dragged by
// a pointer is held with still 0: let go, it keeps the speed of its last steps
// and can be flung.
struct TCHold {
    unsigned particle;
    float x, y;
    unsigned still;
};
// Keeps particles where nx * x + ny * y >= d: a floor (0, 1, height), a wall.
// (nx, ny) need not have length 1: a particle below is moved by (nx, ny) * (d - t).
struct TCPlane {
    float nx, ny, d;
};
// Keeps particles at least `radius` from (x, y) as clen measures it: the ball
// is therefore slightly octagonal, between 0.97 and 1.06 times radius across.
struct TCCircle {
    float x, y, radius;
};
// Null pointers with a count of 0 are no rules of that kind.
struct TCRules {
    const TCHold* holds;
    unsigned hold_count;
    const TCPlane* planes;
    unsigned plane_count;
    const TCCircle* circles;
    unsigned circle_count;
};

// spring_pass, then the rules: the particles end up exactly as after
//   for (i = 0; i < spring_count; ++i)
//       spring_force(particles[springs[i].a], particles[springs[i].b], springs[i].rest_length);
//   for (i = 0; i < particle_count; ++i) {   // any order: each particle reads only itself
//       TCVerlet& p = particles[i];
//       for each plane in order:
//           t = nx * p.x + ny * p.y;          // each product rounded, then the sum
//           if (t < d) { pen = d - t; x = p.x + nx * pen; y = p.y + ny * pen;
//                        if (x and y are finite) p.x = x, p.y = y; }
//       for each circle in order:
//           len = clen(c.x, c.y, p.x, p.y);
//           if (0 < len && len < radius) { x = c.x + ((p.x - c.x) / len) * radius;
//                                          y = c.y + ((p.y - c.y) / len) * radius;
//                                          if (x and y are finite) p.x = x, p.y = y; }
//       for each hold on particle i, in order, whose x and y are finite:
//           p.x = h.x, p.y = h.y; if (h.still) p.old_x = h.x, p.old_y = h.y;
//   }
// every operation rounded to float as written, no multiply fused with an add.
// A plane or circle whose move would give a non-finite coordinate (a NaN or
// infinite field, or a move that overflows) leaves that particle where it is,
// and a hold with a non-finite x or y is skipped: no rule writes a NaN or an
// infinity. Nothing else changes: old positions only by still holds,
// accelerations never. The pass applies a particle's rules soon after its last
// spring, while the particle is in the cache still (a few hundred particles at
// a time), which costs little more than spring_pass alone.
//
// particle_count must be the count the schedule was made with (planes and
// circles reach every particle). The pass is refused, returns -1 (errors are
// otherwise >= 0) and touches nothing when particle_count differs from the
// schedule's or a hold names a particle at or past it. With a schedule that
// is not followed (refused, or made for another spring count) the springs go
// one by one in order and the holds are checked against particle_count.
// A null `rules` is no rules. Returns the pass's largest error as spring_pass.
float spring_pass_rules(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                        const unsigned* schedule, unsigned particle_count, const TCRules* rules);

// spring_pass_part with the rules: when every part of a pass has returned,
// the particles are exactly as after one spring_pass_rules. Each particle's
// rules are applied by one part, after the last spring on it in the pass and
// before that part tells the others so (particles no spring touches: by part
// 0), so parts need nothing between passes, as without rules. The schedule
// must come from spring_schedule_parts with this particle_count. Refused as
// spring_pass_rules is, by every part alike (none waits, no sync word
// changes); a part past the schedule's count returns 0 at once.
//
// The caller may change the holds, planes and circles (and the TCRules
// record) only when no part is running, between frames as it steps the
// particles; while parts run, the rules memory must stay as it is and every
// part must be given the same rules.
float spring_pass_part_rules(TCVerlet* particles, const TCSpring* springs, unsigned spring_count,
                             const unsigned* schedule, unsigned particle_count, unsigned part, unsigned* sync,
                             const TCRules* rules);

// ---- Torn springs ----
// A spring whose rest_length is NaN is broken: every pass (spring_pass,
// spring_pass_part, with or without rules, on any path and part) moves
// nothing for it and leaves it out of the largest error, so a pass whose
// springs are all broken returns 0 (the rules of a pass still apply). The
// bits stay those of spring_force in order: spring_force itself leaves both
// particles where they are for a NaN rest length and returns NaN. A broken
// spring keeps its place in the schedule: tearing needs no new schedule, and
// a spring mended (given a number again) acts again at the next pass.

// Breaks every spring stretched past `ratio` times its rest length:
//   for (i = 0; i < spring_count; ++i)
//       if (clen(a.x, a.y, b.x, b.y) > ratio * springs[i].rest_length)   // the product rounded to float
//           springs[i].rest_length = NaN;   // the quiet NaN, bits 0x7FC00000
// with a and b the particles springs[i] names, which must lie within the
// array, as for spring_force. Returns how many it broke (springs already
// broken stay so and are not counted again). Particles are only read. A
// spring whose ends have a NaN coordinate (a NaN length) never breaks; one
// with one end infinite (the other finite) breaks unless its limit is
// infinite too. A spring of rest length 0 breaks as soon as its ends are
// apart, one of negative rest length at once. A ratio that is NaN, infinite,
// 0 or negative breaks nothing, writes nothing and returns kSpringTearRefused.
// Call it after the frame's passes, so that a spring is judged by where the
// passes left its ends.
constexpr unsigned kSpringTearRefused = 0xFFFFFFFFu;
unsigned spring_tear(const TCVerlet* particles, TCSpring* springs, unsigned spring_count, float ratio);

// ---- Particles that collide with each other ----
// Each particle may have a radius: radii[i], one float a particle in an array
// of the caller's beside the particles. A radius that is NaN, infinite, 0 or
// negative never collides (a cloth's particles that should not touch the
// balls, say). particle_collide pushes every two overlapping particles apart
// once, all at the same time (a Jacobi step: no particle's result depends on
// the order the particles are visited in). The particles end up exactly as after
//   read every position as it is before the call; then for each particle i:
//     sx = sy = 0; n = 0
//     for each other particle j, in increasing j:
//       a = min(i, j); b = max(i, j)
//       reach = radii[a] + radii[b]
//       len = clen(p[a].x, p[a].y, p[b].x, p[b].y)
//       if radii[a] and radii[b] are both finite and above 0, and 0 < len < reach:
//         half = (reach - len) / 2
//         mx = ((p[b].x - p[a].x) / len) * half
//         my = ((p[b].y - p[a].y) / len) * half
//         if i == a: sx = sx - mx; sy = sy - my
//         else:      sx = sx + mx; sy = sy + my
//         n = n + 1
//     if n > 0: x = p[i].x + sx / n; y = p[i].y + sy / n   (n as a float)
//               p[i].x, p[i].y = x, y, only if both are finite
// every operation rounded to float as written, no multiply fused with an add.
// old_x, old_y and the accelerations do not change, so the next step turns
// the push into speed, as for springs. Coincident particles (len 0) have no
// direction and do not push each other; NaN and infinite positions never
// collide and never move another particle. Candidates are found with a grid,
// not by trying every pair, so a pass costs about as much as its contacts;
// radii so large that every particle is in reach of every other (1e30 among
// particles a few units apart) still give these bits, but take time
// quadratic in the count.
//
// With springs: a cloth whose radius is under half its shortest rest length
// never fights its own springs (neighbours are never in reach). In a frame,
// step the particles, collide, then run the spring passes with the rules, so
// that holds, floors and balls have the last word:
//   prev_dt = update_physics(dt, prev_dt, particles, count);
//   particle_collide(particles, count, radii, work.data());
//   for each pass: spring_pass_rules(particles, springs, spring_count, schedule, count, &rules);
//   spring_tear(particles, springs, spring_count, ratio);   // a cloth that tears: judged at rest

// How many unsigned words of work memory particle_collide needs for this many
// particles, ten a particle and 1024 (the parts of particle_collide_part share
// the same memory, whatever their number); 0 when the count is too large
// (above about 429 million particles), which particle_collide refuses.
unsigned particle_collide_words(unsigned particle_count);

// Pushes overlapping particles apart once, as above. `work` is the caller's
// memory of particle_collide_words(particle_count) words; nothing needs to
// be kept in it between calls. Returns the largest overlap found before the
// move, reach - len over the pairs that pushed (0 for none; infinite when two
// radii add up past the largest float), or -1, touching nothing, when
// refused: a null radii or work, or a count particle_collide_words refuses.
// Counts 0 and 1 return 0 and touch nothing.
float particle_collide(TCVerlet* particles, unsigned particle_count, const float* radii, unsigned* work);

// Part `part` of `parts` (1 to 64) of one particle_collide, each on its own
// thread, all at the same time, with the same arguments: the same particles,
// radii, work memory, part count and sync memory. When all have returned, the
// particles are exactly as after one particle_collide. The parts wait for one
// another inside (no part writes a position before every part has read the
// old ones), so the caller does nothing between calls; as with spring parts,
// it reads or changes the particles and radii only when all parts have
// returned. The sync memory is the caller's, spring_sync_words(parts) words
// set by spring_sync_reset(sync, parts) before the first call, and serves
// these collisions alone (not a spring schedule's parts as well). Returns the
// largest overlap among the part's particles: the largest of the parts'
// returns is the call's. Refused as particle_collide is, and for 0 or more
// than 64 parts or a null sync, by every part alike (-1, nothing touched);
// a part at or past `parts` returns 0 at once.
float particle_collide_part(TCVerlet* particles, unsigned particle_count, const float* radii, unsigned* work,
                            unsigned part, unsigned parts, unsigned* sync);
