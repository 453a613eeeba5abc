// The cloth as penshell-cloth moves and draws it, relaxed in one part or in
// two: the same bits either way (and as the browser's build gives them), the
// worker there only while the cloth is, and every thread of the cloth drawn
// but the torn ones (in an OpenGL context on a private X server).
// Compiled once, linked twice: with the threaded relaxation and with the
// one-thread variant (cloth_variant.cpp says which).
#include <gtest/gtest.h>
#include <GL/gl.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "cloth.h"
#include "cloth_scenes.h"
#include "gl_window.h"

extern const bool one_thread_build;

namespace {

struct Relaxing {
    const char* name;
    unsigned asked, parts, workers;  // parts asked for, parts used, threads the relaxation adds
};

const Relaxing threaded_relaxings[] = {
    {"OnePart", 1, 1, 0},
    {"TwoParts", 2, 2, 1},
    {"MoreAskedTwoUsed", 8, 2, 1},
};
const Relaxing one_thread_relaxings[] = {
    {"TwoAskedOneUsed", 2, 1, 0},
};

void PrintTo(const Relaxing& r, std::ostream* out) { *out << r.name; }

int threads_running()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

// A joined thread may still be listed for a moment while the kernel lets it go.
int threads_settled_at(int count)
{
    for (int i = 0; i < 100 && threads_running() != count; ++i)
        usleep(10000);
    return threads_running();
}

// The cloth's bottom right corner pulled to the right over the ball and
// down beside it, below the floor, for `steps` steps, and held there.
void drape_over_ball(int steps)
{
    const TCCircle ball = ball_shape();
    const TCVerlet& corner = cloth_particles()[cloth_count - 1];
    const float x = corner.x, y = corner.y;
    grab_nearest(x, y);
    for (int i = 1; i <= steps; ++i) {
        const float t = float(i) / steps;
        step_cloth(t < 0.5f ? x + (ball.x + ball.radius + 30 - x) * 2 * t : ball.x + ball.radius + 30,
                   t < 0.5f ? y : y + (floor_height() - 20 - y) * (2 * t - 1));
    }
}

// Six seconds of the program's steps: the cloth falls, then is pulled down
// and to the left by a particle of its middle row, let go and swings; then
// the same by one near the pins and one near its foot; then its corner is
// dragged over the ball and let go. Two parts split the cloth into an upper
// and a lower half: a particle of the middle row is touched by both, a pin
// by one; the kernel puts each back in whichever part finishes it.
std::vector<TCVerlet> move_cloth()
{
    // Short: a divergence between the parts shows within a few steps, and
    // every relaxing runs this twice.
    for (int i = 0; i < 60; ++i)
        step_cloth(0.0f, 0.0f);
    for (int row : {cloth_rows / 2, 2, cloth_rows - 3}) {
        const TCVerlet& p = cloth_particles()[row * cloth_columns + cloth_columns / 2];
        const float x = p.x, y = p.y;
        grab_nearest(x, y);
        for (int i = 0; i < 30; ++i)
            step_cloth(x - 2.0f * i, y - 4.0f * i);
        let_go();
        for (int i = 0; i < 30; ++i)
            step_cloth(0.0f, 0.0f);
    }
    drape_over_ball(120);
    let_go();
    for (int i = 0; i < 60; ++i)
        step_cloth(0.0f, 0.0f);
    return cloth_particles();
}

// Lines drawn that join no pair of neighbours with a whole thread, and such
// pairs not drawn, as told apart by the window coordinates that OpenGL's
// feedback mode returns: a line's end is any particle within a hundredth of a
// pixel (particles pushed into a corner may lie on one spot).
int lines_off(const std::multiset<std::pair<int, int>>& expected)
{
    std::vector<GLfloat> feedback(64 * cloth_columns * cloth_rows);
    glFeedbackBuffer(GLsizei(feedback.size()), GL_2D, feedback.data());
    glRenderMode(GL_FEEDBACK);
    draw_cloth();
    GLint used = glRenderMode(GL_RENDER);
    EXPECT_GE(used, 0) << "feedback buffer too small";
    const std::vector<TCVerlet>& particles = cloth_particles();
    auto particles_at = [&](float x, float y) {
        std::vector<int> found;
        for (int i = 0; i < cloth_count; ++i)
            if (std::fabs(particles[i].x - x) < 0.01f && std::fabs(particles[i].y - y) < 0.01f)
                found.push_back(i);
        return found;
    };
    std::multiset<std::pair<int, int>> left = expected;
    int off = 0;
    for (GLint i = 0; i + 4 < used; i += 5) {
        EXPECT_TRUE(feedback[i] == GL_LINE_TOKEN || feedback[i] == GL_LINE_RESET_TOKEN) << feedback[i];
        bool matched = false;
        for (int a : particles_at(feedback[i + 1], feedback[i + 2]))
            for (int b : particles_at(feedback[i + 3], feedback[i + 4])) {
                auto pair = left.find({std::min(a, b), std::max(a, b)});
                if (!matched && pair != left.end()) {
                    left.erase(pair);
                    matched = true;
                }
            }
        off += !matched;
    }
    return off + int(left.size());
}

// Neighbours along rows and columns whose spring is not torn.
std::multiset<std::pair<int, int>> neighbours()
{
    std::multiset<std::pair<int, int>> pairs;
    for (const TCSpring& s : cloth_springs()) {
        const int a = int(s.a), b = int(s.b);
        if (s.rest_length == s.rest_length && (b == a + 1 || b == a + cloth_columns))
            pairs.insert({a, b});
    }
    return pairs;
}

class Cloth : public testing::TestWithParam<Relaxing> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(open_gl_window(640, 480));
        // Window coordinates are the cloth's pixels, as in the program, over
        // a view far wider than the window: a thread flung out of the window
        // (torn, the cloth springs far up) is still fed back whole, not clipped.
        glViewport(-8192, -8192, 16384, 16384);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-8192, 8192, -8192, 8192, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    static void TearDownTestSuite()
    {
        close_gl_window();
    }
    // The steps of one part on this thread alone are the yardstick, made
    // once a process and only by a test that compares with it.
    static const std::vector<TCVerlet>& reference()
    {
        static const std::vector<TCVerlet> moved = [] {
            make_cloth(1);
            std::vector<TCVerlet> m = move_cloth();
            end_cloth();
            return m;
        }();
        return moved;
    }
};

TEST_P(Cloth, MovesTheSameBitsDrawsEveryThreadAndLeavesNoWorker)
{
    const Relaxing& r = GetParam();
    static const std::vector<TCVerlet> none;
    // More parts asked than used move as the parts used do (TwoParts), and
    // the build without threads as one part does (its torn cloth's hash
    // says so): only their threads are seen here.
    const bool threads_only = r.asked > 2 || one_thread_build;
    // Made first: it makes and ends a cloth of its own.
    const std::vector<TCVerlet>& reference = threads_only ? none : Cloth::reference();
    const int before = threads_running();
    ASSERT_EQ(make_cloth(r.asked), r.parts);
    EXPECT_EQ(threads_running(), before + int(r.workers));
    EXPECT_EQ(lines_off(neighbours()), 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    if (threads_only) {
        end_cloth();
        EXPECT_EQ(threads_settled_at(before), before) << "the worker outlives the cloth";
        return;
    }
    std::vector<TCVerlet> moved = move_cloth();
    EXPECT_EQ(std::memcmp(moved.data(), reference.data(), reference.size() * sizeof(TCVerlet)), 0);
    // A cloth made again starts over, with one worker at most.
    ASSERT_EQ(make_cloth(r.asked), r.parts);
    EXPECT_EQ(threads_settled_at(before + int(r.workers)), before + int(r.workers));
    moved = move_cloth();
    EXPECT_EQ(std::memcmp(moved.data(), reference.data(), reference.size() * sizeof(TCVerlet)), 0);
    end_cloth();
    EXPECT_EQ(threads_settled_at(before), before) << "the worker outlives the cloth";
}

// The cloth's particles other than the pen's patch (the 3x3 around `held`)
// inside the ball or under the floor, and how many lie on the ball and on the balls of the heap (a ball in
// reach). Each particle of a torn piece that lost its collisions falls
// through the heap to the floor, deep inside balls: how many lie that deep.
struct Lying {
    int on_ball = 0, on_balls = 0, in_balls = 0;
};

Lying where_the_cloth_lies(int held)
{
    const std::vector<TCVerlet>& particles = cloth_particles();
    const std::vector<float>& radii = particle_radii();
    const TCCircle ball = ball_shape();
    Lying lying;
    for (int i = 0; i < cloth_count; ++i) {
        const bool in_patch = held >= 0 && std::abs(i / cloth_columns - held / cloth_columns) <= 1 &&
                              std::abs(i % cloth_columns - held % cloth_columns) <= 1;
        if (in_patch)
            continue;
        const TCVerlet& p = particles[i];
        const float from_ball = clen(ball.x, ball.y, p.x, p.y);
        EXPECT_GE(from_ball, ball.radius - 0.01f) << "particle " << i << " in the ball";
        // The ball stands on the floor and has the last word: in the wedge
        // where they meet it may push a particle a little under the floor.
        EXPECT_GE(p.y, floor_height() - 0.5f) << "particle " << i << " under the floor";
        lying.on_ball += from_ball < ball.radius + 1.0f;
        float nearest = 1e9f;
        for (size_t j = cloth_count; j < particles.size(); ++j)
            nearest = std::min(nearest, clen(p.x, p.y, particles[j].x, particles[j].y));
        const float reach = radii[i] + radii.back();
        lying.on_balls += nearest < reach + 0.5f;
        lying.in_balls += nearest < reach * 0.5f;
    }
    return lying;
}

// Dragged over the ball, the cloth drapes on it; pulled by its foot into the
// heap of balls, it pushes them aside: no particle but the pen's patch inside
// the ball or under the floor, and some on the ball.
TEST_P(Cloth, DrapesOverTheBallAndStaysOutOfItAndTheFloor)
{
    // Other relaxings give the same bits (the cloth's hashes): they lie as it does.
    if (GetParam().asked != 1)
        GTEST_SKIP() << "moves as OnePart does";
    ASSERT_EQ(make_cloth(GetParam().asked), GetParam().parts);
    for (int i = 0; i < 120; ++i)
        step_cloth(0.0f, 0.0f);
    drape_over_ball(240);
    EXPECT_GT(where_the_cloth_lies(cloth_count - 1).on_ball, 2);
    let_go();
    const int foot = (cloth_rows - 1) * cloth_columns + cloth_columns / 2;
    const float x = cloth_particles()[foot].x, y = cloth_particles()[foot].y;
    grab_nearest(x, y);
    for (int i = 1; i <= 120; ++i)
        step_cloth(x, y + (floor_height() + 25 - y) * i / 120);
    where_the_cloth_lies(foot);
    end_cloth();
}

// A gentle drag tears nothing; rows yanked out tear, the threads torn are no
// longer drawn, and the cloth below them falls and lies on the balls, not
// through them. Then the right button's start-over: a whole cloth again.
// The bits are the same on one part and two and in the browser
// (kTornClothHash, which the browser's check reads from cloth_scenes.h).
TEST_P(Cloth, TearsOnlyWhenYankedFallsOnTheBallsAndStartsOver)
{
    if (GetParam().asked > 2)
        GTEST_SKIP() << "moves as TwoParts does";
    ASSERT_EQ(make_cloth(GetParam().asked), GetParam().parts);
    const std::uint64_t fresh = cloth_hash();
    EXPECT_EQ(tear_the_cloth(), 0u) << "a gentle drag tears";
    EXPECT_GT(torn_springs(), unsigned(4 * cloth_columns));
    EXPECT_EQ(lines_off(neighbours()), 0) << "torn threads drawn, or whole ones not";
    const Lying lying = where_the_cloth_lies(-1);
    EXPECT_GT(lying.on_balls, cloth_count / 4) << "the torn piece does not lie on the balls";
    EXPECT_LT(lying.in_balls, cloth_count / 3) << "the torn piece falls through the balls";
    EXPECT_EQ(cloth_hash(), kTornClothHash) << std::hex << cloth_hash();
    make_cloth(GetParam().asked);
    EXPECT_EQ(torn_springs(), 0u);
    EXPECT_EQ(cloth_hash(), fresh) << "the start-over keeps something of the torn cloth";
    EXPECT_EQ(neighbours().size(), size_t((cloth_columns - 1) * cloth_rows + cloth_columns * (cloth_rows - 1)));
    EXPECT_EQ(lines_off(neighbours()), 0);
    end_cloth();
}

INSTANTIATE_TEST_SUITE_P(Relaxings, Cloth,
                         one_thread_build ? testing::ValuesIn(one_thread_relaxings) : testing::ValuesIn(threaded_relaxings),
                         [](const testing::TestParamInfo<Relaxing>& info) { return info.param.name; });

}  // namespace
