// The library's small linear-algebra kit: 4 x 4 matrices and 3-component vectors in float and
// double precision. Matrices follow the row-vector convention: a point is the row (x, y, z, 1)
// multiplied from the left, the translation sits in the fourth row, and A x B applies A first.
// Also the seeding of the library's Mersenne Twister.
#pragma once

#include <cstdint>

namespace ZiDaz {

struct Matrix4F {
    float m[4][4];
};
struct Matrix4D {
    double m[4][4];
};
struct Vector3F {
    float x, y, z;
};
struct Vector3D {
    double x, y, z;
};
// a x + b y + c z + d = 0 with (a, b, c) of unit length.
struct PlaneD {
    double a, b, c, d;
};

int SetIdentityMatrix(Matrix4F* out);
int SetIdentityMatrixDouble(Matrix4D* out);
int NarrowMatrixToFloat(Matrix4F* out, const Matrix4D* in);
int WidenMatrixToDouble(Matrix4D* out, const Matrix4F* in);
int SwapMatrixRowsAndColumns(Matrix4F* out, const Matrix4F* in);
// out = left x right; a null `out` does nothing. `out` may be one of the inputs.
int MultiplyMatrices(Matrix4F* out, const Matrix4F* left, const Matrix4F* right);
int MultiplyMatricesDouble(Matrix4D* out, const Matrix4D* left, const Matrix4D* right);
// -1 and `out` unchanged when the determinant lies strictly between -1e-7 and 1e-7.
int InvertMatrix(Matrix4F* out, const Matrix4F* in);
int InvertMatrixDouble(Matrix4D* out, const Matrix4D* in);
// A left-handed view: +z looks from the eye towards the target.
int MakeViewMatrixFromEye(Matrix4D* out, const Vector3D* eye, const Vector3D* target,
                          const Vector3D* up);
// `size` is the visible height; `aspect` is height / width (negative: the stored screen's, else
// 0.75). -1 when |far - near| < 1e-4.
int MakeOrthographicProjectionDouble(Matrix4D* out, double size, double nearZ, double farZ,
                                     double aspect);
// Depth runs from 0 at near to 1 at far. -1 when |far - near| or the sine of half the field of
// view is below 1e-4.
int MakePerspectiveProjectionDouble(Matrix4D* out, double fieldOfView, double nearZ, double farZ,
                                    double aspect);
// Maps the projected square -1..1 onto the screen rectangle with y pointing down.
int MakeScreenMappingMatrixDouble(Matrix4D* out, double centreX, double centreY, double width,
                                  double height);
// Returns the height.
int StoreScreenSizeForProjection(int width, int height);
// (-1, -1, -1, -1) when the normal's squared length is below 1e-9.
int MakePlaneFromPointNormalDouble(PlaneD* out, const Vector3D* point, const Vector3D* normal);
// (-1, -1, -1) when the squared length is below 1e-7.
Vector3F MakeUnitVector(Vector3F v);
// 0 when the squared length is below 1e-7.
float MeasureVectorLength(Vector3F v);
float DotVectors(Vector3F a, Vector3F b);
int MakeUnitVectorDouble(Vector3D* out, const Vector3D* in);
int CrossVectorsDouble(Vector3D* out, const Vector3D* a, const Vector3D* b);
int SubtractVectorsDouble(Vector3D* out, const Vector3D* a, const Vector3D* b);
// (x, y, z, 1) x M, the first three components.
int ApplyMatrixToPoint(Vector3F* out, const Vector3F* point, const Matrix4F* matrix);
// (x, y, z, 0) x M, the first three components.
int ApplyMatrixToDirection(Vector3F* out, const Vector3F* direction, const Matrix4F* matrix);
// (x, y, z, w) x M.
int ApplyMatrixToPoint4Double(Vector3D* xyzOut, double* wOut, const Vector3D* xyzIn, double wIn,
                              const Matrix4D* matrix);

struct MersenneTwisterState {
    std::uint32_t state[624];
    std::uint32_t output[624];  // the tempered outputs of the state
    int index;
    int seeded;
};
extern MersenneTwisterState MersenneTwister;
int SeedMersenneTwister(std::uint32_t seed);

}  // namespace ZiDaz
