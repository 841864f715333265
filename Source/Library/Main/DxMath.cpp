#include "Main/DxMath.h"

#include <cmath>

#include "Main/DxBaseFunc.h"

namespace ZiDaz {

MersenneTwisterState MersenneTwister;

namespace {

int projectionScreenWidth = 0;
int projectionScreenHeight = 0;

template <typename M>
void Identity(M* out) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) out->m[r][c] = r == c ? 1 : 0;
    }
}

template <typename M, typename T>
void Multiply(M* out, const M* left, const M* right) {
    M result;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            T sum = 0;
            for (int k = 0; k < 4; ++k) sum += left->m[i][k] * right->m[k][j];
            result.m[i][j] = sum;
        }
    }
    *out = result;
}

// The 24 permutations of 0..3 with their signs, for the determinant's full expansion.
struct Permutations {
    int order[24][4];
    int sign[24];
    Permutations() {
        int n = 0;
        for (int a = 0; a < 4; ++a) {
            for (int b = 0; b < 4; ++b) {
                for (int c = 0; c < 4; ++c) {
                    for (int d = 0; d < 4; ++d) {
                        if (a == b || a == c || a == d || b == c || b == d || c == d) continue;
                        int p[4] = {a, b, c, d};
                        int inversions = 0;
                        for (int i = 0; i < 4; ++i) {
                            for (int j = i + 1; j < 4; ++j) inversions += p[i] > p[j];
                        }
                        for (int i = 0; i < 4; ++i) order[n][i] = p[i];
                        sign[n++] = inversions % 2 == 0 ? 1 : -1;
                    }
                }
            }
        }
    }
};
const Permutations kPermutations;

template <typename T>
T Minor3(const T (&m)[4][4], int skipRow, int skipColumn) {
    int rows[3], columns[3];
    for (int i = 0, r = 0, c = 0; i < 4; ++i) {
        if (i != skipRow) rows[r++] = i;
        if (i != skipColumn) columns[c++] = i;
    }
    auto at = [&](int r, int c) { return m[rows[r]][columns[c]]; };
    return at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
           at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
           at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
}

template <typename M, typename T>
int Invert(M* out, const M* in) {
    T determinant = 0;
    for (int p = 0; p < 24; ++p) {
        const int* o = kPermutations.order[p];
        T term = in->m[0][o[0]] * in->m[1][o[1]] * in->m[2][o[2]] * in->m[3][o[3]];
        determinant += kPermutations.sign[p] > 0 ? term : -term;
    }
    if (determinant > static_cast<T>(-1e-7) && determinant < static_cast<T>(1e-7)) return -1;
    M result;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            T cofactor = Minor3<T>(in->m, i, j);
            if ((i + j) % 2 != 0) cofactor = -cofactor;
            result.m[j][i] = cofactor / determinant;
        }
    }
    *out = result;
    return 0;
}

double DefaultAspect(double aspect) {
    if (aspect >= 0) return aspect;
    if (projectionScreenWidth != 0 && projectionScreenHeight != 0) {
        return static_cast<double>(projectionScreenHeight) / projectionScreenWidth;
    }
    return 0.75;
}

void ClearMatrix(Matrix4D* out) {
    for (auto& row : out->m) {
        for (double& v : row) v = 0;
    }
}

Vector3D Cross(const Vector3D& a, const Vector3D& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vector3D Normalise(const Vector3D& v) {
    double length = SqrtDouble(v.x * v.x + v.y * v.y + v.z * v.z);
    return {v.x / length, v.y / length, v.z / length};
}

double Dot(const Vector3D& a, const Vector3D& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

}  // namespace

int SetIdentityMatrix(Matrix4F* out) {
    Identity(out);
    return 0;
}

int SetIdentityMatrixDouble(Matrix4D* out) {
    Identity(out);
    return 0;
}

int NarrowMatrixToFloat(Matrix4F* out, const Matrix4D* in) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) out->m[r][c] = static_cast<float>(in->m[r][c]);
    }
    return 0;
}

int WidenMatrixToDouble(Matrix4D* out, const Matrix4F* in) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) out->m[r][c] = in->m[r][c];
    }
    return 0;
}

int SwapMatrixRowsAndColumns(Matrix4F* out, const Matrix4F* in) {
    Matrix4F result;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) result.m[r][c] = in->m[c][r];
    }
    *out = result;
    return 0;
}

int MultiplyMatrices(Matrix4F* out, const Matrix4F* left, const Matrix4F* right) {
    if (out != nullptr) Multiply<Matrix4F, float>(out, left, right);
    return 0;
}

int MultiplyMatricesDouble(Matrix4D* out, const Matrix4D* left, const Matrix4D* right) {
    if (out != nullptr) Multiply<Matrix4D, double>(out, left, right);
    return 0;
}

int InvertMatrix(Matrix4F* out, const Matrix4F* in) {
    return Invert<Matrix4F, float>(out, in);
}

int InvertMatrixDouble(Matrix4D* out, const Matrix4D* in) {
    return Invert<Matrix4D, double>(out, in);
}

int MakeViewMatrixFromEye(Matrix4D* out, const Vector3D* eye, const Vector3D* target,
                          const Vector3D* up) {
    Vector3D toTarget{target->x - eye->x, target->y - eye->y, target->z - eye->z};
    Vector3D forward = Normalise(toTarget);
    Vector3D sideRaw = Cross(*up, toTarget);
    Vector3D side = Normalise(sideRaw);
    Vector3D upward = Normalise(Cross(toTarget, sideRaw));
    const Vector3D* columns[3] = {&side, &upward, &forward};
    for (int c = 0; c < 3; ++c) {
        out->m[0][c] = columns[c]->x;
        out->m[1][c] = columns[c]->y;
        out->m[2][c] = columns[c]->z;
        out->m[3][c] = -Dot(*columns[c], *eye);
    }
    out->m[0][3] = out->m[1][3] = out->m[2][3] = 0;
    out->m[3][3] = 1;
    return 0;
}

int MakeOrthographicProjectionDouble(Matrix4D* out, double size, double nearZ, double farZ,
                                     double aspect) {
    if (std::fabs(farZ - nearZ) < 1e-4) return -1;
    aspect = DefaultAspect(aspect);
    ClearMatrix(out);
    out->m[0][0] = 2 / (size / aspect);
    out->m[1][1] = 2 / size;
    out->m[2][2] = 1 / (farZ - nearZ);
    out->m[3][2] = nearZ / (nearZ - farZ);
    out->m[3][3] = 1;
    return 0;
}

int MakePerspectiveProjectionDouble(Matrix4D* out, double fieldOfView, double nearZ, double farZ,
                                    double aspect) {
    double sine, cosine;
    SinCosDouble(fieldOfView / 2, &sine, &cosine);
    if (std::fabs(farZ - nearZ) < 1e-4 || sine < 1e-4) return -1;
    aspect = DefaultAspect(aspect);
    double yScale = cosine / sine;
    ClearMatrix(out);
    out->m[0][0] = yScale * aspect;
    out->m[1][1] = yScale;
    out->m[2][2] = farZ / (farZ - nearZ);
    out->m[2][3] = 1;
    out->m[3][2] = -nearZ * farZ / (farZ - nearZ);
    return 0;
}

int MakeScreenMappingMatrixDouble(Matrix4D* out, double centreX, double centreY, double width,
                                  double height) {
    ClearMatrix(out);
    out->m[0][0] = width / 2;
    out->m[1][1] = -height / 2;
    out->m[2][2] = 1;
    out->m[3][3] = 1;
    out->m[3][0] = centreX;
    out->m[3][1] = centreY;
    return 0;
}

int StoreScreenSizeForProjection(int width, int height) {
    projectionScreenWidth = width;
    projectionScreenHeight = height;
    return height;
}

int MakePlaneFromPointNormalDouble(PlaneD* out, const Vector3D* point, const Vector3D* normal) {
    double squared = Dot(*normal, *normal);
    if (squared < 1e-9) {
        *out = {-1, -1, -1, -1};
        return 0;
    }
    double length = SqrtDouble(squared);
    Vector3D unit{normal->x / length, normal->y / length, normal->z / length};
    *out = {unit.x, unit.y, unit.z, -Dot(*point, unit)};
    return 0;
}

Vector3F MakeUnitVector(Vector3F v) {
    float squared = v.x * v.x + v.y * v.y + v.z * v.z;
    if (squared < 1e-7f) return {-1, -1, -1};
    float length = SqrtFloat(squared);
    return {v.x / length, v.y / length, v.z / length};
}

float MeasureVectorLength(Vector3F v) {
    float squared = v.x * v.x + v.y * v.y + v.z * v.z;
    return squared < 1e-7f ? 0.0f : SqrtFloat(squared);
}

float DotVectors(Vector3F a, Vector3F b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

int MakeUnitVectorDouble(Vector3D* out, const Vector3D* in) {
    *out = Normalise(*in);
    return 0;
}

int CrossVectorsDouble(Vector3D* out, const Vector3D* a, const Vector3D* b) {
    *out = Cross(*a, *b);
    return 0;
}

int SubtractVectorsDouble(Vector3D* out, const Vector3D* a, const Vector3D* b) {
    *out = {a->x - b->x, a->y - b->y, a->z - b->z};
    return 0;
}

int ApplyMatrixToPoint(Vector3F* out, const Vector3F* point, const Matrix4F* matrix) {
    const auto& m = matrix->m;
    Vector3F p = *point;
    *out = {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
            p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
            p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
    return 0;
}

int ApplyMatrixToDirection(Vector3F* out, const Vector3F* direction, const Matrix4F* matrix) {
    const auto& m = matrix->m;
    Vector3F d = *direction;
    *out = {d.x * m[0][0] + d.y * m[1][0] + d.z * m[2][0],
            d.x * m[0][1] + d.y * m[1][1] + d.z * m[2][1],
            d.x * m[0][2] + d.y * m[1][2] + d.z * m[2][2]};
    return 0;
}

int ApplyMatrixToPoint4Double(Vector3D* xyzOut, double* wOut, const Vector3D* xyzIn, double wIn,
                              const Matrix4D* matrix) {
    const auto& m = matrix->m;
    double in[4] = {xyzIn->x, xyzIn->y, xyzIn->z, wIn};
    double result[4];
    for (int c = 0; c < 4; ++c) {
        result[c] = in[0] * m[0][c] + in[1] * m[1][c] + in[2] * m[2][c] + in[3] * m[3][c];
    }
    *xyzOut = {result[0], result[1], result[2]};
    *wOut = result[3];
    return 0;
}

int SeedMersenneTwister(std::uint32_t seed) {
    std::uint32_t* state = MersenneTwister.state;
    std::uint32_t x = seed;
    for (int i = 0; i < 624; ++i) {
        state[i] = x & 0xFFFF0000u;
        x = 69069 * x + 1;
        state[i] |= x >> 16;
        x = 69069 * x + 1;
    }
    // One full regeneration with the standard MT19937 twist, then every output tempered.
    constexpr std::uint32_t kMatrixA = 0x9908B0DFu, kUpper = 0x80000000u, kLower = 0x7FFFFFFFu;
    for (int i = 0; i < 624; ++i) {
        std::uint32_t y = (state[i] & kUpper) | (state[(i + 1) % 624] & kLower);
        state[i] = state[(i + 397) % 624] ^ (y >> 1) ^ ((y & 1) ? kMatrixA : 0);
    }
    for (int i = 0; i < 624; ++i) {
        std::uint32_t y = state[i];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9D2C5680u;
        y ^= (y << 15) & 0xEFC60000u;
        y ^= y >> 18;
        MersenneTwister.output[i] = y;
    }
    MersenneTwister.index = 0;
    MersenneTwister.seeded = 1;
    return 0;
}

}  // namespace ZiDaz
