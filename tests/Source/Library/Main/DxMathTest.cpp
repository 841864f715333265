#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "Main/DxMath.h"

namespace {

using namespace ZiDaz;

using Reference = double[4][4];

void ReferenceMultiply(const double (&a)[4][4], const double (&b)[4][4], double (&out)[4][4]) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            out[i][j] = 0;
            for (int k = 0; k < 4; ++k) out[i][j] += a[i][k] * b[k][j];
        }
    }
}

Matrix4F RandomMatrix(std::mt19937& random) {
    std::uniform_real_distribution<float> value(-4, 4);
    Matrix4F m;
    for (auto& row : m.m) {
        for (float& v : row) v = value(random);
    }
    for (int i = 0; i < 4; ++i) m.m[i][i] += 10;  // well conditioned
    return m;
}

TEST(MatrixMath, MultiplyAndInvertAgreeWithADoubleReference) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 200; ++trial) {
        Matrix4F a = RandomMatrix(random), b = RandomMatrix(random), product;
        Matrix4D ad, bd, productD;
        WidenMatrixToDouble(&ad, &a);
        WidenMatrixToDouble(&bd, &b);
        ASSERT_EQ(MultiplyMatrices(&product, &a, &b), 0);
        MultiplyMatricesDouble(&productD, &ad, &bd);
        double reference[4][4];
        ReferenceMultiply(ad.m, bd.m, reference);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                ASSERT_NEAR(product.m[i][j], reference[i][j],
                            1e-4 * (1 + std::fabs(reference[i][j])));
                ASSERT_DOUBLE_EQ(productD.m[i][j], reference[i][j]);
            }
        }
        Matrix4F inverse;
        Matrix4D inverseD;
        ASSERT_EQ(InvertMatrix(&inverse, &a), 0);
        ASSERT_EQ(InvertMatrixDouble(&inverseD, &ad), 0);
        Matrix4D inverseWide;
        WidenMatrixToDouble(&inverseWide, &inverse);
        double identity[4][4], identityD[4][4];
        ReferenceMultiply(ad.m, inverseWide.m, identity);
        ReferenceMultiply(ad.m, inverseD.m, identityD);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                ASSERT_NEAR(identity[i][j], i == j ? 1 : 0, 1e-5);
                ASSERT_NEAR(identityD[i][j], i == j ? 1 : 0, 1e-12);
            }
        }
    }
    // The product may be written over one of its inputs.
    Matrix4F a = RandomMatrix(random), b = RandomMatrix(random), expected;
    MultiplyMatrices(&expected, &a, &b);
    MultiplyMatrices(&a, &a, &b);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(a.m[i / 4][i % 4], expected.m[i / 4][i % 4]);
    EXPECT_EQ(MultiplyMatrices(nullptr, &a, &b), 0);
}

TEST(MatrixMath, NearlySingularMatricesAreRefusedAndTheOutputLeftAlone) {
    Matrix4F identity, out;
    SetIdentityMatrix(&identity);
    ASSERT_EQ(InvertMatrix(&out, &identity), 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out.m[i / 4][i % 4], i % 5 == 0 ? 1.0f : 0.0f);
    Matrix4D tiny;
    SetIdentityMatrixDouble(&tiny);
    tiny.m[0][0] = 5e-8;  // determinant 5e-8
    Matrix4D sentinel;
    for (auto& row : sentinel.m) {
        for (double& v : row) v = 42;
    }
    EXPECT_EQ(InvertMatrixDouble(&sentinel, &tiny), -1);
    EXPECT_EQ(sentinel.m[2][3], 42);
    tiny.m[0][0] = -2e-7;
    EXPECT_EQ(InvertMatrixDouble(&sentinel, &tiny), 0);
    EXPECT_DOUBLE_EQ(sentinel.m[0][0], -5e6);
    Matrix4F transposed, m = identity;
    m.m[0][3] = 7;
    SwapMatrixRowsAndColumns(&transposed, &m);
    EXPECT_EQ(transposed.m[3][0], 7);
    EXPECT_EQ(transposed.m[0][3], 0);
}

TEST(MatrixMath, ProjectionsAndScreenMapping) {
    Matrix4D out;
    EXPECT_EQ(MakePerspectiveProjectionDouble(&out, 1.0, 5, 5, 1), -1);
    EXPECT_EQ(MakePerspectiveProjectionDouble(&out, 0.0, 1, 100, 1), -1);
    EXPECT_EQ(MakeOrthographicProjectionDouble(&out, 480, 2, 2.00005, 1), -1);
    EXPECT_EQ(StoreScreenSizeForProjection(640, 480), 480);
    ASSERT_EQ(MakePerspectiveProjectionDouble(&out, M_PI / 2, 1, 101, -1), 0);
    EXPECT_NEAR(out.m[1][1], 1.0, 1e-12);
    EXPECT_NEAR(out.m[0][0], 0.75, 1e-12);
    EXPECT_DOUBLE_EQ(out.m[2][2], 101.0 / 100);
    EXPECT_EQ(out.m[2][3], 1);
    EXPECT_DOUBLE_EQ(out.m[3][2], -101.0 / 100);
    EXPECT_EQ(out.m[3][3], 0);
    // Depth 0 at near, 1 at far.
    Vector3D point{0, 0, 1}, projected;
    double w;
    ApplyMatrixToPoint4Double(&projected, &w, &point, 1, &out);
    EXPECT_NEAR(projected.z / w, 0, 1e-12);
    point.z = 101;
    ApplyMatrixToPoint4Double(&projected, &w, &point, 1, &out);
    EXPECT_NEAR(projected.z / w, 1, 1e-12);

    ASSERT_EQ(MakeOrthographicProjectionDouble(&out, 480, 0, 10, -1), 0);
    EXPECT_DOUBLE_EQ(out.m[0][0], 2 / 640.0);
    EXPECT_DOUBLE_EQ(out.m[1][1], 2 / 480.0);
    EXPECT_DOUBLE_EQ(out.m[2][2], 0.1);
    StoreScreenSizeForProjection(0, 0);
    ASSERT_EQ(MakeOrthographicProjectionDouble(&out, 3, 0, 10, -1), 0);
    EXPECT_DOUBLE_EQ(out.m[0][0], 2 / 4.0);  // 0.75 by default

    MakeScreenMappingMatrixDouble(&out, 320, 240, 640, 480);
    Vector3D corner{-1, 1, 0}, mapped;
    ApplyMatrixToPoint4Double(&mapped, &w, &corner, 1, &out);
    EXPECT_EQ(mapped.x, 0);
    EXPECT_EQ(mapped.y, 0);
    corner = {1, -1, 0};
    ApplyMatrixToPoint4Double(&mapped, &w, &corner, 1, &out);
    EXPECT_EQ(mapped.x, 640);
    EXPECT_EQ(mapped.y, 480);
}

TEST(MatrixMath, ViewMatrixPutsTheEyeAtTheOriginLookingDownPlusZ) {
    Vector3D eye{1, 2, 3}, target{4, 6, 3}, up{0, 0, 1};
    Matrix4D view;
    MakeViewMatrixFromEye(&view, &eye, &target, &up);
    Vector3D out;
    double w;
    ApplyMatrixToPoint4Double(&out, &w, &eye, 1, &view);
    EXPECT_NEAR(out.x, 0, 1e-12);
    EXPECT_NEAR(out.y, 0, 1e-12);
    EXPECT_NEAR(out.z, 0, 1e-12);
    ApplyMatrixToPoint4Double(&out, &w, &target, 1, &view);
    EXPECT_NEAR(out.x, 0, 1e-12);
    EXPECT_NEAR(out.y, 0, 1e-12);
    EXPECT_NEAR(out.z, 5, 1e-12);
    Vector3D above{1, 2, 4};  // straight up from the eye: +y on the view
    ApplyMatrixToPoint4Double(&out, &w, &above, 1, &view);
    EXPECT_NEAR(out.y, 1, 1e-12);
    EXPECT_NEAR(out.x, 0, 1e-12);
}

TEST(VectorMath, UnitVectorsLengthsPlanesAndTransforms) {
    Vector3F zero{0, 0, 0};
    Vector3F unit = MakeUnitVector(zero);
    EXPECT_EQ(unit.x, -1);
    EXPECT_EQ(unit.y, -1);
    EXPECT_EQ(unit.z, -1);
    EXPECT_EQ(MeasureVectorLength(zero), 0);
    EXPECT_FLOAT_EQ(MeasureVectorLength({3, 4, 12}), 13);
    unit = MakeUnitVector({0, 3, 4});
    EXPECT_FLOAT_EQ(unit.y, 0.6f);
    EXPECT_FLOAT_EQ(DotVectors({1, 2, 3}, {4, 5, 6}), 32);
    Vector3D a{1, 0, 0}, b{0, 1, 0}, c;
    CrossVectorsDouble(&c, &a, &b);
    EXPECT_EQ(c.z, 1);
    SubtractVectorsDouble(&c, &a, &b);
    EXPECT_EQ(c.y, -1);
    Vector3D n{0, 0, 2}, p{5, 5, 3};
    PlaneD plane;
    MakePlaneFromPointNormalDouble(&plane, &p, &n);
    EXPECT_EQ(plane.c, 1);
    EXPECT_EQ(plane.d, -3);
    Vector3D tiny{1e-5, 0, 0};
    MakePlaneFromPointNormalDouble(&plane, &p, &tiny);
    EXPECT_EQ(plane.a, -1);
    EXPECT_EQ(plane.d, -1);

    Matrix4F m;
    SetIdentityMatrix(&m);
    m.m[0][0] = 2;
    m.m[3][0] = 10;
    m.m[3][2] = -1;
    Vector3F point{1, 2, 3}, out;
    ApplyMatrixToPoint(&out, &point, &m);
    EXPECT_EQ(out.x, 12);
    EXPECT_EQ(out.z, 2);
    ApplyMatrixToDirection(&out, &point, &m);
    EXPECT_EQ(out.x, 2);
    EXPECT_EQ(out.z, 3);
    Matrix4D wide;
    Matrix4F back;
    WidenMatrixToDouble(&wide, &m);
    NarrowMatrixToFloat(&back, &wide);
    EXPECT_EQ(back.m[3][0], 10);
}

TEST(MersenneTwister, SeedingFillsTheStateAndTemperedOutputsOfTheStandardGenerator) {
    const std::uint32_t seed = 123456789;
    SeedMersenneTwister(seed);
    EXPECT_EQ(MersenneTwister.seeded, 1);
    EXPECT_EQ(MersenneTwister.index, 0);
    // The reference: std::mt19937 loaded with the seeded state produces the same 624 outputs.
    std::uint32_t x = seed;
    std::ostringstream words;
    for (int i = 0; i < 624; ++i) {
        std::uint32_t word = x & 0xFFFF0000u;
        x = 69069 * x + 1;
        word |= x >> 16;
        x = 69069 * x + 1;
        words << word << ' ';
    }
    words << 624;  // the engine's position: all words used, so it twists first
    std::mt19937 engine;
    std::istringstream in(words.str());
    in >> engine;
    for (int i = 0; i < 624; ++i) ASSERT_EQ(MersenneTwister.output[i], engine()) << i;
}

}  // namespace
