// draw_pictures: draws the editable sources of the two built-in pictures,
// pictures/source/wait.png and pen.png, as anti-aliased strokes.
//
// Each picture is a list of line segments (curves are short segments) in pixel
// coordinates, x to the right and y down, pixel (i, j) covering [i, i+1] x [j, j+1].
// A pixel's grey is the share of its sub-samples lying within half a stroke width
// of a segment, so edges are smooth while line cores stay close to white.
// Change a drawing here, then run scripts/make-pictures.sh.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "save_file.h"
#include "stb_image_write.h"

struct Segment {
    double ax, ay, bx, by;
};

struct Triangle {
    double x[3], y[3];
};

// Strokes of a given width, and filled triangles.
struct Drawing {
    std::vector<Segment> lines;
    std::vector<Triangle> fills;
};

static const double pi = 3.14159265358979323846;

static void line(Drawing& d, double ax, double ay, double bx, double by)
{
    d.lines.push_back({ax, ay, bx, by});
}

// An elliptic arc from angle a0 to a1 (radians, clockwise on screen since y is down).
static void arc(Drawing& s, double cx, double cy, double rx, double ry,
                double a0, double a1)
{
    const int steps = 96;
    double px = cx + rx * std::cos(a0), py = cy + ry * std::sin(a0);
    for (int k = 1; k <= steps; ++k) {
        double a = a0 + (a1 - a0) * k / steps;
        double x = cx + rx * std::cos(a), y = cy + ry * std::sin(a);
        line(s, px, py, x, y);
        px = x;
        py = y;
    }
}

static void ellipse(Drawing& s, double cx, double cy, double rx, double ry)
{
    arc(s, cx, cy, rx, ry, 0.0, 2.0 * pi);
}

// A letter Z whose box has its top-left corner at (x, y).
static void letter_z(Drawing& s, double x, double y, double w, double h)
{
    line(s, x, y, x + w, y);
    line(s, x + w, y, x, y + h);
    line(s, x, y + h, x + w, y + h);
}

static double distance_to_segment(const Segment& g, double x, double y)
{
    double dx = g.bx - g.ax, dy = g.by - g.ay;
    double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - g.ax) * dx + (y - g.ay) * dy) / len2 : 0.0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    double ex = g.ax + t * dx - x, ey = g.ay + t * dy - y;
    return std::sqrt(ex * ex + ey * ey);
}

static bool inside_triangle(const Triangle& t, double x, double y)
{
    bool negative = false, positive = false;
    for (int k = 0; k < 3; ++k) {
        int n = (k + 1) % 3;
        double cross = (t.x[n] - t.x[k]) * (y - t.y[k]) - (t.y[n] - t.y[k]) * (x - t.x[k]);
        negative = negative || cross < 0;
        positive = positive || cross > 0;
    }
    return !(negative && positive);
}

static bool inked(const Drawing& d, double stroke_width, double x, double y)
{
    for (const Triangle& t : d.fills)
        if (inside_triangle(t, x, y))
            return true;
    for (const Segment& g : d.lines)
        if (distance_to_segment(g, x, y) <= stroke_width / 2)
            return true;
    return false;
}

// Greys of a size x size picture, row by row from the top.
static std::vector<unsigned char> render(const Drawing& drawing, int size,
                                         double stroke_width)
{
    const int sub = 16;  // sub-samples per pixel side
    // Lifts partly covered pixels a little, so thin diagonals and curves stay bright.
    const double tone = 0.8;
    std::vector<unsigned char> grey(static_cast<std::size_t>(size) * size);
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            int hits = 0;
            for (int sj = 0; sj < sub; ++sj)
                for (int si = 0; si < sub; ++si)
                    hits += inked(drawing, stroke_width, i + (si + 0.5) / sub, j + (sj + 0.5) / sub);
            double cover = static_cast<double>(hits) / (sub * sub);
            grey[static_cast<std::size_t>(j) * size + i] =
                static_cast<unsigned char>(std::lround(255.0 * std::pow(cover, tone)));
        }
    }
    return grey;
}

static Drawing wait_drawing()
{
    Drawing s;
    // The thought bubble over the upper part of the square.
    ellipse(s, 15.5, 11.5, 14.0, 10.0);
    // z z Z, growing and stepping down from left to right; bars on pixel
    // centres so they stay one crisp pixel wide.
    letter_z(s, 5.5, 6.5, 4.0, 4.0);
    letter_z(s, 11.5, 8.5, 5.0, 5.0);
    letter_z(s, 18.5, 10.5, 6.0, 6.0);
    // Two small circles trailing to the bottom-right corner.
    ellipse(s, 25.0, 24.5, 2.0, 2.0);
    ellipse(s, 29.5, 29.5, 1.3, 1.3);
    return s;
}

static Drawing pen_drawing()
{
    Drawing s;
    // The pencil's axis runs from the tip at the centre of the bottom-left pixel
    // up to the top-right corner; points are given as (along, across) the axis.
    const double tip_x = 0.5, tip_y = 15.5;
    const double ux = std::sqrt(0.5), uy = -std::sqrt(0.5);  // along the axis
    const double vx = std::sqrt(0.5), vy = std::sqrt(0.5);   // across it
    auto at = [&](double along, double across, double& x, double& y) {
        x = tip_x + along * ux + across * vx;
        y = tip_y + along * uy + across * vy;
    };
    auto stroke = [&](double a0, double c0, double a1, double c1) {
        double x0, y0, x1, y1;
        at(a0, c0, x0, y0);
        at(a1, c1, x1, y1);
        line(s, x0, y0, x1, y1);
    };
    // Lengths in diagonal steps (a pixel's diagonal, sqrt 2) keep the long sides
    // and the cross lines on pixel centres.
    const double step = std::sqrt(2.0);
    const double half = 1.5 * step;  // half the pencil's width
    const double cone = 4 * step;    // length of the sharpened end
    const double band = 11 * step;   // where the eraser's band begins
    const double end = 13 * step;    // the blunt end
    // The lead: the first part of the cone, filled.
    const double lead = 1.6 * step;
    double lx[3], ly[3];
    at(-0.5, 0, lx[0], ly[0]);
    at(lead, -half * lead / cone, lx[1], ly[1]);
    at(lead, half * lead / cone, lx[2], ly[2]);
    s.fills.push_back({{lx[0], lx[1], lx[2]}, {ly[0], ly[1], ly[2]}});
    stroke(0, 0, cone, -half);
    stroke(0, 0, cone, half);
    stroke(cone, -half, end, -half);
    stroke(cone, half, end, half);
    stroke(cone, -half, cone, half);
    stroke(band, -half, band, half);
    stroke(end, -half, end, half);
    return s;
}

static void append_bytes(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), std::size_t(size));
}

// stbi_write_png would not notice a failed write: the PNG is made in memory and
// saved whole, so that a failure leaves the old picture as it was.
static bool save(const std::string& path, const std::vector<unsigned char>& grey, int size)
{
    std::string png, problem = "cannot encode the PNG";
    if (stbi_write_png_to_func(append_bytes, &png, size, size, 1, grey.data(), size))
        problem = save_file(path.c_str(), png);
    if (!problem.empty())
        std::fprintf(stderr, "draw_pictures: %s: %s\n", path.c_str(), problem.c_str());
    return problem.empty();
}

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_pictures OUTPUT_DIR\n"
                             "  writes OUTPUT_DIR/wait.png (32x32) and OUTPUT_DIR/pen.png (16x16)\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = save(dir + "/wait.png", render(wait_drawing(), 32, 1.0), 32);
    ok = save(dir + "/pen.png", render(pen_drawing(), 16, 1.0), 16) && ok;
    return ok ? 0 : 1;
}
