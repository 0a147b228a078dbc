// The tone-curve table from the curve editor's control points.
#include <cstdlib>
#include <sstream>

#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

namespace {

// Twice the Catmull-Rom spline between p1 and p2; the caller halves it.
inline double spline2(double t, double p0, double p1, double p2, double p3) {
    const double t2 = t * t, t3 = t2 * t;
    return (2 - 5 * t2 + 3 * t3) * p1 + t * (1 + 4 * t - 3 * t2) * p2 - t * (1 - t) * (1 - t) * p0 -
           (1 - t) * t2 * p3;
}

inline int spline_value(double s) {
    const double v = (s + 1.0) * 0.5;
    return static_cast<int>(detail::clamp_value(v, 0.0, 65535.0));
}

}  // namespace

void build_curve_table(const std::vector<CurvePoint>& points, Table16& table) {
    table.resize(65536);
    if (points.size() < 2) return;
    const CurvePoint first = points.front(), last = points.back();
    // End points on one vertical or one horizontal line give no scale.
    if (last.x == first.x || first.y == last.y) return;
    const float sx = 65536.0f / float(last.x - first.x);
    const float sy = 65536.0f / float(first.y - last.y);

    std::vector<double> xs, ys;
    xs.reserve(points.size() + 2);
    ys.reserve(points.size() + 2);
    auto add = [&](const CurvePoint& p) {
        xs.push_back(double(int((float(p.x) + 2.0f) * sx + 0.5f)));
        ys.push_back(double(int((float(p.y) + 2.0f) * sy + 0.5f)));
    };
    add(first);
    for (const CurvePoint& p : points) add(p);
    add(last);

    constexpr int kSteps = 131072;
    for (size_t k = 0; k + 3 < xs.size(); ++k)
        for (int i = 0; i < kSteps; ++i) {
            const double t = double(i) / double(kSteps);
            const int x = spline_value(spline2(t, xs[k], xs[k + 1], xs[k + 2], xs[k + 3]));
            const int y = spline_value(spline2(t, ys[k], ys[k + 1], ys[k + 2], ys[k + 3]));
            table[size_t(x)] = static_cast<uint16_t>(65535 - y);
        }
}

bool parse_curve_points(const std::string& text, std::vector<CurvePoint>& points) {
    points.clear();
    std::string cleaned = text;
    for (char& ch : cleaned)
        if (ch == ',' || ch == ';' || ch == '\n' || ch == '\t') ch = ' ';
    std::istringstream in(cleaned);
    long x = 0, y = 0;
    while (in >> x) {
        if (!(in >> y)) return false;
        if (x < -100000 || x > 100000 || y < -100000 || y > 100000) return false;
        points.push_back({int(x), int(y)});
    }
    if (!in.eof()) return false;
    // Keep the list a function of x, as the editor does.
    for (size_t i = 1; i < points.size(); ++i)
        if (points[i].x < points[i - 1].x) return false;
    return true;
}

}  // namespace ostel::develop
