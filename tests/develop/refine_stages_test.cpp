// Refinement stages on small square-root planes.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <random>

#include "develop/refine.h"

namespace ostel::develop {
namespace {

RgbPlanes filled(int w, int h, float r, float g, float b) {
    RgbPlanes p;
    // The document's planes carry spare elements; the stages must ignore them.
    p.resize(w, h, size_t(w + 5) * size_t(h + 5));
    for (size_t i = 0; i < p.plane[0].size(); ++i) {
        p.plane[0][i] = r;
        p.plane[1][i] = g;
        p.plane[2][i] = b;
    }
    return p;
}

RgbPlanes noisy(int w, int h, unsigned seed) {
    RgbPlanes p = filled(w, h, 0, 0, 0);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(0.0f, 256.0f);
    for (auto& plane : p.plane)
        for (size_t i = 0; i < p.pixel_count(); ++i) plane[i] = dist(gen);
    return p;
}

float& at(RgbPlanes& p, int c, int row, int col) { return p.plane[size_t(c)][size_t(row) * size_t(p.width) + size_t(col)]; }

// ---- GreenRepair ----------------------------------------------------------

struct RidgeCase {
    const char* name;
    float left, right, up, down;
    float expected;  // NaN: the site keeps its value
};

TEST(GreenRepair, RepairsOnlyCrossRidges) {
    const float keep = std::nanf("");
    const RidgeCase cases[] = {
        {"vertical split, horizontal split", 10, 2, 9, 1, 5.5f},
        {"one neighbour at or below the mean", 10, 10, 10, 1, keep},
        {"three neighbours at or below the mean", 1, 1, 1, 10, keep},
        {"both vertical neighbours above", 1, 2, 10, 9, keep},
        {"both vertical neighbours below", 9, 10, 1, 2, keep},
        {"flat", 4, 4, 4, 4, keep},
    };
    for (const RidgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        RgbPlanes p = filled(12, 12, 0, 50, 0);
        at(p, 1, 6, 5) = c.left;
        at(p, 1, 6, 7) = c.right;
        at(p, 1, 5, 6) = c.up;
        at(p, 1, 7, 6) = c.down;
        GreenRepair(p, {0, 0}, {1, 1});
        EXPECT_FLOAT_EQ(at(p, 1, 6, 6), std::isnan(c.expected) ? 50.0f : c.expected);
    }
}

TEST(GreenRepair, TouchesOnlyInteriorSitesOfTheGivenParity) {
    // Greens arranged so that every site of parity (0,0) is a cross ridge
    // and no site of parity (1,1) is.
    const int w = 16, h = 14;
    for (bool swap : {false, true}) {
        RgbPlanes p = filled(w, h, 0, 0, 0);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                if (r % 2 == 0 && c % 2 == 1) at(p, 1, r, c) = (c % 4 == 1) ? 10.0f : 2.0f;
                else if (r % 2 == 1 && c % 2 == 0) at(p, 1, r, c) = (r % 4 == 1) ? 9.0f : 1.0f;
                else at(p, 1, r, c) = 77.0f;
            }
        const RgbPlanes before = p;
        if (swap) GreenRepair(p, {1, 1}, {0, 0});
        else GreenRepair(p, {0, 0}, {1, 1});
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const bool repaired = r % 2 == 0 && c % 2 == 0 && r >= 2 && r < h - 4 && c >= 2 && c < w - 4;
                const float expected = repaired ? 5.5f : before.plane[1][size_t(r * w + c)];
                EXPECT_FLOAT_EQ(at(p, 1, r, c), expected) << "row " << r << " col " << c;
            }
        EXPECT_EQ(p.plane[0], before.plane[0]);
        EXPECT_EQ(p.plane[2], before.plane[2]);
    }
}

// ---- ChromaPreFilter --------------------------------------------------------

TEST(ChromaPreFilter, RemovesIsolatedColourDifferencesInsideTheMargin) {
    RgbPlanes p = filled(20, 20, 120, 100, 80);
    at(p, 0, 9, 9) = 200;  // lone red outlier
    at(p, 2, 10, 12) = 0;  // lone blue outlier
    at(p, 0, 2, 2) = 200;  // inside the untouched margin
    ChromaPreFilter(p);
    EXPECT_FLOAT_EQ(at(p, 0, 9, 9), 120);
    EXPECT_FLOAT_EQ(at(p, 2, 10, 12), 80);
    EXPECT_FLOAT_EQ(at(p, 0, 2, 2), 200);
    for (float v : p.plane[1]) ASSERT_EQ(v, 100.0f);
}

TEST(ChromaPreFilter, FollowsGreenEdges) {
    // Constant colour differences across a green edge: R - G is already
    // smooth, so nothing moves even though R itself has the edge.
    RgbPlanes p = filled(24, 24, 0, 0, 0);
    for (int r = 0; r < 24; ++r)
        for (int c = 0; c < 24; ++c) {
            const float g = c < 12 ? 40.0f : 200.0f;
            at(p, 1, r, c) = g;
            at(p, 0, r, c) = g + 10;
            at(p, 2, r, c) = g - 5;
        }
    const RgbPlanes before = p;
    ChromaPreFilter(p);
    EXPECT_EQ(p.plane, before.plane);
}

// Results must be the same however the rows are split among threads.
TEST(RefineStages, DoNotDependOnThreadCount) {
    const int saved = omp_get_max_threads();
    auto run = [](int threads) {
        omp_set_num_threads(threads);
        RgbPlanes p = noisy(37, 29, 7);
        GreenRepair(p, {0, 1}, {1, 0});
        for (int i = 0; i < 3; ++i) ChromaPreFilter(p);
        ArtifactSuppression(p, 2);
        return p.plane;
    };
    const auto one = run(1);
    EXPECT_EQ(run(3), one);
    EXPECT_EQ(run(8), one);
    omp_set_num_threads(saved);
}

// ---- ArtifactSuppression -----------------------------------------------------

TEST(ArtifactSuppression, PlaneWithGreensDetailComesBackUnchanged) {
    // The filter bank reconstructs exactly, edges included, so a plane equal
    // to green is a fixed point.
    RgbPlanes p = noisy(19, 13, 3);
    p.plane[0] = p.plane[1];
    p.plane[2] = p.plane[1];
    ArtifactSuppression(p, 3);
    for (size_t i = 0; i < p.pixel_count(); ++i) {
        ASSERT_NEAR(p.plane[0][i], p.plane[1][i], 1e-3f) << i;
        ASSERT_NEAR(p.plane[2][i], p.plane[1][i], 1e-3f) << i;
    }
}

TEST(ArtifactSuppression, ReplacesFineRedAndBlueDetailByGreens) {
    const int w = 24, h = 20;
    RgbPlanes p = noisy(w, h, 11);
    const Plane green = p.plane[1];
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            // Offset colour plus a one-pixel checkerboard (moire) that green lacks.
            const float checker = ((r + c) % 2) ? 30.0f : -30.0f;
            at(p, 0, r, c) = at(p, 1, r, c) + 20 + checker;
            at(p, 2, r, c) = at(p, 1, r, c) - 15 - checker;
        }
    ArtifactSuppression(p, 1);
    // Away from the zero-padded border the checkerboard is gone and the
    // offset kept.
    for (int r = 3; r < h - 3; ++r)
        for (int c = 3; c < w - 3; ++c) {
            EXPECT_NEAR(at(p, 0, r, c), at(p, 1, r, c) + 20, 1e-3f) << r << "," << c;
            EXPECT_NEAR(at(p, 2, r, c), at(p, 1, r, c) - 15, 1e-3f) << r << "," << c;
        }
    EXPECT_EQ(p.plane[1], green);
}

TEST(RefineStages, LeaveTooSmallOrShortPlanesAlone) {
    RgbPlanes tiny = noisy(6, 6, 5);
    const RgbPlanes before = tiny;
    GreenRepair(tiny, {0, 0}, {1, 1});
    ChromaPreFilter(tiny);
    EXPECT_EQ(tiny.plane, before.plane);

    RgbPlanes short_planes = noisy(30, 30, 5);
    short_planes.plane[2].resize(100);  // claims 30x30 but holds less
    const RgbPlanes kept = short_planes;
    GreenRepair(short_planes, {0, 0}, {1, 1});
    ChromaPreFilter(short_planes);
    ArtifactSuppression(short_planes, 1);
    EXPECT_EQ(short_planes.plane, kept.plane);
}

}  // namespace
}  // namespace ostel::develop
