// The engine's arithmetic: vectors, angles, quaternions, 3x3 and 4x4 matrices and scalar helpers.
//
// Conventions that every other engine file relies on:
// - matrices are stored row by row, element (r, c) of a Matrix4 is m[4*r + c];
// - points are column vectors multiplied on the right (M*v); A*B applies B first;
// - an affine Matrix4 keeps its translation in the fourth column;
// - rotations are right-handed; Euler angles turn X first, then Y, then Z (R = Rz*Ry*Rx).
#ifndef DOVE_MATH_H
#define DOVE_MATH_H

#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>

namespace Dove {

class Quaternion;

struct Radian {
    float value = 0.0f;
    constexpr Radian() = default;
    constexpr explicit Radian(float v) : value(v) {}
    constexpr float valueRadians() const { return value; }
};

// 0 the X axis, 1 the Y axis, anything else the Z axis.
using AxisType = int;

class Vector3 {
public:
    float x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Vector3() = default;
    constexpr Vector3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

    static const Vector3 ZERO, ONE, UNIT_X, UNIT_Y, UNIT_Z;

    float& operator[](int i) { assert(i >= 0 && i < 3 && "i<3"); return (&x)[i]; }
    float operator[](int i) const { assert(i >= 0 && i < 3 && "i<3"); return (&x)[i]; }

    Vector3 operator+(const Vector3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vector3 operator-(const Vector3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vector3 operator*(const Vector3& o) const { return {x * o.x, y * o.y, z * o.z}; }
    Vector3 operator*(float s) const { return {x * s, y * s, z * s}; }
    Vector3 operator-() const { return {-x, -y, -z}; }
    Vector3& operator+=(const Vector3& o) { x += o.x; y += o.y; z += o.z; return *this; }
    Vector3& operator-=(const Vector3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
    bool operator==(const Vector3& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Vector3& o) const { return !(*this == o); }

    float dotProduct(const Vector3& o) const { return x * o.x + y * o.y + z * o.z; }
    Vector3 crossProduct(const Vector3& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    float length() const { return std::sqrt(x * x + y * y + z * z); }
    float squaredLength() const { return x * x + y * y + z * z; }

    void normalise();
    bool isZero() const;
    bool isOne() const;
    static Vector3 minimize(const Vector3& a, const Vector3& b);
    static Vector3 maximize(const Vector3& a, const Vector3& b);
    Quaternion getRotationTo(const Vector3& dest) const;
};

inline Vector3 operator*(float s, const Vector3& v) { return v * s; }

class Vector4 {
public:
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
    constexpr Vector4() = default;
    constexpr Vector4(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    constexpr Vector4(const Vector3& v, float aw) : x(v.x), y(v.y), z(v.z), w(aw) {}
    float& operator[](int i) { assert(i >= 0 && i < 4 && "i<4"); return (&x)[i]; }
    float operator[](int i) const { assert(i >= 0 && i < 4 && "i<4"); return (&x)[i]; }
    bool operator==(const Vector4& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
};

// A small fixed vector for shader parameter values.
template <typename T, int N>
struct Vector_T {
    static_assert(N >= 1 && N <= 4, "Vector_T holds 1 to 4 components");
    T v[N] = {};
    T& operator[](int i) { assert(i >= 0 && i < N); return v[i]; }
    const T& operator[](int i) const { assert(i >= 0 && i < N); return v[i]; }
    bool operator==(const Vector_T& o) const {
        for (int i = 0; i < N; ++i)
            if (!(v[i] == o.v[i])) return false;
        return true;
    }
};

class Matrix3 {
public:
    float m[9];
    Matrix3() : m{1, 0, 0, 0, 1, 0, 0, 0, 1} {}
    Matrix3(float a00, float a01, float a02, float a10, float a11, float a12, float a20, float a21,
            float a22)
        : m{a00, a01, a02, a10, a11, a12, a20, a21, a22} {}
    static const Matrix3 IDENTITY, ZERO;

    float* operator[](int row) { assert(row >= 0 && row < 3 && "iRow<3"); return m + 3 * row; }
    const float* operator[](int row) const { assert(row >= 0 && row < 3 && "iRow<3"); return m + 3 * row; }

    Matrix3 Transpose() const;
    Matrix3 operator-(const Matrix3& o) const;
    Matrix3 operator*(const Matrix3& o) const;
    Matrix3 operator-() const;
    Vector3 operator*(const Vector3& v) const;
    bool operator==(const Matrix3& o) const;
    Vector3 column(int c) const { return {m[c], m[3 + c], m[6 + c]}; }
};

class Matrix4 {
public:
    float m[16];
    Matrix4() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}
    Matrix4(float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13,
            float m20, float m21, float m22, float m23, float m30, float m31, float m32, float m33)
        : m{m00, m01, m02, m03, m10, m11, m12, m13, m20, m21, m22, m23, m30, m31, m32, m33} {}
    static const Matrix4 IDENTITY, ZERO, CLIPSPACE2IMAGESPACE;

    float* operator[](int row) { assert(row >= 0 && row < 4 && "iRow<4"); return m + 4 * row; }
    const float* operator[](int row) const { assert(row >= 0 && row < 4 && "iRow<4"); return m + 4 * row; }

    Matrix4 multiply(const Matrix4& o) const;
    Matrix4 operator*(const Matrix4& o) const { return multiply(o); }
    Matrix4 add(const Matrix4& o) const;
    Matrix4 subtract(const Matrix4& o) const;
    Matrix4 operator-() const;
    Matrix4 Transpose() const;
    bool operator==(const Matrix4& o) const;
    bool operator!=(const Matrix4& o) const { return !(*this == o); }
    // Upper-left 3x3 block only: for directions and offsets.
    Vector3 operator*(const Vector3& v) const;
    Vector4 operator*(const Vector4& v) const;
    void makeTransform(const Vector3& position, const Vector3& scale, const Quaternion& orientation);
    Vector3 getTrans() const { return {m[3], m[7], m[11]}; }
    void setTrans(const Vector3& t) { m[3] = t.x; m[7] = t.y; m[11] = t.z; }
};

// Row vector times the upper-left 3x3 block.
Vector3 operator*(const Vector3& v, const Matrix4& mat);

class Quaternion {
public:
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 1.0f;
    constexpr Quaternion() = default;
    constexpr Quaternion(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}
    static const Quaternion IDENTITY, ZERO;

    void fromAngleAxis(const Radian& angle, const Vector3& axis);
    void toRotationMatrix(Matrix3& out) const;
    void fromRotationMatrix(const Matrix3& m);
    void fromAxes(const Vector3& xAxis, const Vector3& yAxis, const Vector3& zAxis);
    void toAxes(Vector3* axes) const;
    void toAxes(Vector3& xAxis, Vector3& yAxis, Vector3& zAxis) const;

    Quaternion operator*(const Quaternion& q) const;
    Quaternion operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    Vector3 operator*(const Vector3& v) const;
    bool operator==(const Quaternion& q) const { return x == q.x && y == q.y && z == q.z && w == q.w; }
    bool operator!=(const Quaternion& q) const { return !(*this == q); }

    float getNormalLength() const { return std::sqrt(x * x + y * y + z * z + w * w); }
    void normalise();
};

class Math {
public:
    static constexpr float PI = 3.1415927f;
    static constexpr float HALF_PI = 1.5707964f;

    static Matrix4 makeViewMatrix(const Vector3& position, const Quaternion& orientation);
    static Matrix4 makeViewMatrix(const Vector3& eye, const Vector3& target, const Vector3& up);
    static float Length3D(const Vector3& a, const Vector3& b);
    static float ASin(float x);
    static float ACos(float x);
    static float ATan(float x) { return std::atan(x); }
    static Vector3 DegreeToRadian(const Vector3& v);
    static Vector3 RadianToDegree(const Vector3& v);
};

// Float to integer, cut toward zero. Values from files and callers may be anything: NaN gives 0
// and values beyond the type are held at its ends instead of being undefined.
inline int truncToInt(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0f) return INT_MAX;
    if (v <= -2147483648.0f) return INT_MIN;
    return int(v);
}
inline unsigned truncToUnsigned(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 4294967295.0f) return UINT_MAX;
    return unsigned(v);
}

struct Color {
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;
};

struct Size {
    float width = 0.0f, height = 0.0f;
};

struct Point2D {
    float x = 0.0f, y = 0.0f;
};

struct Rect {
    float left = 0.0f, top = 0.0f, right = 0.0f, bottom = 0.0f;
};

}  // namespace Dove

#endif
