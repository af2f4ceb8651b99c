#include "DoveMath.h"

namespace Dove {

const Vector3 Vector3::ZERO(0, 0, 0);
const Vector3 Vector3::ONE(1, 1, 1);
const Vector3 Vector3::UNIT_X(1, 0, 0);
const Vector3 Vector3::UNIT_Y(0, 1, 0);
const Vector3 Vector3::UNIT_Z(0, 0, 1);

const Quaternion Quaternion::IDENTITY(0, 0, 0, 1);
const Quaternion Quaternion::ZERO(0, 0, 0, 0);

const Matrix3 Matrix3::IDENTITY;
const Matrix3 Matrix3::ZERO(0, 0, 0, 0, 0, 0, 0, 0, 0);

const Matrix4 Matrix4::IDENTITY;
const Matrix4 Matrix4::ZERO(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
// Clip space to image space: y flipped, both axes halved and moved by one half.
const Matrix4 Matrix4::CLIPSPACE2IMAGESPACE(0.5f, 0, 0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 1);

// ---- Vector3 ----

void Vector3::normalise() {
    float len = std::sqrt(x * x + y * y + z * z);
    if (len > 0.0f) {
        float inv = 1.0f / len;
        x *= inv;
        y *= inv;
        z *= inv;
    }
}

static bool nearZero(float v) { return v >= -1e-6f && v <= 1e-6f; }
static bool nearOne(float v) { return v >= 0.999999f && v <= 1.000001f; }

bool Vector3::isZero() const { return nearZero(x) && nearZero(y) && nearZero(z); }
bool Vector3::isOne() const { return nearOne(x) && nearOne(y) && nearOne(z); }

Vector3 Vector3::minimize(const Vector3& a, const Vector3& b) {
    return {a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z};
}

Vector3 Vector3::maximize(const Vector3& a, const Vector3& b) {
    return {a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z};
}

Quaternion Vector3::getRotationTo(const Vector3& dest) const {
    Vector3 a = *this, b = dest;
    a.normalise();
    b.normalise();
    float d = a.dotProduct(b);
    if (d >= 1.0f) return Quaternion::IDENTITY;
    Quaternion q;
    if (d < -0.999999f) {
        // Opposite directions: any axis perpendicular to this one will do.
        Vector3 axis = Vector3::UNIT_X.crossProduct(*this);
        double len2 = double(axis.x) * axis.x + double(axis.y) * axis.y + double(axis.z) * axis.z;
        if (len2 < 1e-12) axis = Vector3::UNIT_Y.crossProduct(*this);
        axis.normalise();
        q.fromAngleAxis(Radian(Math::PI), axis);
        return q;
    }
    float s = std::sqrt((1.0f + d) * 2.0f);
    float invs = 1.0f / s;
    Vector3 c = a.crossProduct(b);
    q = Quaternion(c.x * invs, c.y * invs, c.z * invs, s * 0.5f);
    q.normalise();
    return q;
}

// ---- Matrix3 ----

Matrix3 Matrix3::Transpose() const {
    return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}

Matrix3 Matrix3::operator-(const Matrix3& o) const {
    Matrix3 r;
    for (int i = 0; i < 9; ++i) r.m[i] = m[i] - o.m[i];
    return r;
}

Matrix3 Matrix3::operator*(const Matrix3& o) const {
    Matrix3 r;
    for (int row = 0; row < 3; ++row)
        for (int c = 0; c < 3; ++c)
            r.m[3 * row + c] = m[3 * row] * o.m[c] + m[3 * row + 1] * o.m[3 + c] + m[3 * row + 2] * o.m[6 + c];
    return r;
}

Matrix3 Matrix3::operator-() const {
    Matrix3 r;
    for (int i = 0; i < 9; ++i) r.m[i] = -m[i];
    return r;
}

Vector3 Matrix3::operator*(const Vector3& v) const {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
            m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

bool Matrix3::operator==(const Matrix3& o) const {
    for (int i = 0; i < 9; ++i)
        if (!(m[i] == o.m[i])) return false;
    return true;
}

// ---- Matrix4 ----

Matrix4 Matrix4::multiply(const Matrix4& o) const {
    Matrix4 r;
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c) {
            const float* a = m + 4 * row;
            r.m[4 * row + c] = a[0] * o.m[c] + a[1] * o.m[4 + c] + a[2] * o.m[8 + c] + a[3] * o.m[12 + c];
        }
    return r;
}

Matrix4 Matrix4::add(const Matrix4& o) const {
    Matrix4 r;
    for (int i = 0; i < 16; ++i) r.m[i] = m[i] + o.m[i];
    return r;
}

Matrix4 Matrix4::subtract(const Matrix4& o) const {
    Matrix4 r;
    for (int i = 0; i < 16; ++i) r.m[i] = m[i] - o.m[i];
    return r;
}

Matrix4 Matrix4::operator-() const {
    Matrix4 r;
    for (int i = 0; i < 16; ++i) r.m[i] = -m[i];
    return r;
}

Matrix4 Matrix4::Transpose() const {
    Matrix4 r;
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c) r.m[4 * c + row] = m[4 * row + c];
    return r;
}

bool Matrix4::operator==(const Matrix4& o) const {
    for (int i = 0; i < 16; ++i)
        if (!(m[i] == o.m[i])) return false;  // a NaN never compares equal
    return true;
}

Vector3 Matrix4::operator*(const Vector3& v) const {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[4] * v.x + m[5] * v.y + m[6] * v.z,
            m[8] * v.x + m[9] * v.y + m[10] * v.z};
}

Vector4 Matrix4::operator*(const Vector4& v) const {
    Vector4 r;
    for (int row = 0; row < 4; ++row)
        r[row] = m[4 * row] * v.x + m[4 * row + 1] * v.y + m[4 * row + 2] * v.z + m[4 * row + 3] * v.w;
    return r;
}

Vector3 operator*(const Vector3& v, const Matrix4& mat) {
    return {v.x * mat.m[0] + v.y * mat.m[4] + v.z * mat.m[8], v.x * mat.m[1] + v.y * mat.m[5] + v.z * mat.m[9],
            v.x * mat.m[2] + v.y * mat.m[6] + v.z * mat.m[10]};
}

void Matrix4::makeTransform(const Vector3& position, const Vector3& scale, const Quaternion& orientation) {
    Matrix3 r;
    orientation.toRotationMatrix(r);
    for (int row = 0; row < 3; ++row) {
        m[4 * row + 0] = r.m[3 * row + 0] * scale.x;
        m[4 * row + 1] = r.m[3 * row + 1] * scale.y;
        m[4 * row + 2] = r.m[3 * row + 2] * scale.z;
        m[4 * row + 3] = position[row];
    }
    m[12] = 0;
    m[13] = 0;
    m[14] = 0;
    m[15] = 1;
}

// ---- Quaternion ----

void Quaternion::fromAngleAxis(const Radian& angle, const Vector3& axis) {
    float half = 0.5f * angle.value;
    float s = std::sin(half);
    w = std::cos(half);
    x = axis.x * s;
    y = axis.y * s;
    z = axis.z * s;
}

void Quaternion::toRotationMatrix(Matrix3& out) const {
    float tx = x + x, ty = y + y, tz = z + z;
    float twx = tx * w, twy = ty * w, twz = tz * w;
    float txx = tx * x, txy = ty * x, txz = tz * x;
    float tyy = ty * y, tyz = tz * y, tzz = tz * z;
    out.m[0] = 1.0f - (tyy + tzz);
    out.m[1] = txy - twz;
    out.m[2] = txz + twy;
    out.m[3] = txy + twz;
    out.m[4] = 1.0f - (txx + tzz);
    out.m[5] = tyz - twx;
    out.m[6] = txz - twy;
    out.m[7] = tyz + twx;
    out.m[8] = 1.0f - (txx + tyy);
}

void Quaternion::fromRotationMatrix(const Matrix3& m) {
    float trace = m[0][0] + m[1][1] + m[2][2];
    if (trace > 0.0f) {
        float root = std::sqrt(trace + 1.0f);
        w = 0.5f * root;
        root = 0.5f / root;
        x = (m[2][1] - m[1][2]) * root;
        y = (m[0][2] - m[2][0]) * root;
        z = (m[1][0] - m[0][1]) * root;
        return;
    }
    static const int next[3] = {1, 2, 0};
    int i = 0;
    if (m[1][1] > m[0][0]) i = 1;
    if (m[2][2] > m[i][i]) i = 2;
    int j = next[i];
    int k = next[j];
    float root = std::sqrt(m[i][i] - m[j][j] - m[k][k] + 1.0f);
    float* q[3] = {&x, &y, &z};
    *q[i] = 0.5f * root;
    root = 0.5f / root;
    w = (m[k][j] - m[j][k]) * root;
    *q[j] = (m[j][i] + m[i][j]) * root;
    *q[k] = (m[k][i] + m[i][k]) * root;
}

void Quaternion::fromAxes(const Vector3& xAxis, const Vector3& yAxis, const Vector3& zAxis) {
    Matrix3 r(xAxis.x, yAxis.x, zAxis.x, xAxis.y, yAxis.y, zAxis.y, xAxis.z, yAxis.z, zAxis.z);
    fromRotationMatrix(r);
}

void Quaternion::toAxes(Vector3* axes) const {
    Matrix3 r;
    toRotationMatrix(r);
    for (int c = 0; c < 3; ++c) axes[c] = r.column(c);
}

void Quaternion::toAxes(Vector3& xAxis, Vector3& yAxis, Vector3& zAxis) const {
    Vector3 axes[3];
    toAxes(axes);
    xAxis = axes[0];
    yAxis = axes[1];
    zAxis = axes[2];
}

Quaternion Quaternion::operator*(const Quaternion& q) const {
    return {w * q.x + x * q.w + y * q.z - z * q.y, w * q.y + y * q.w + z * q.x - x * q.z,
            w * q.z + z * q.w + x * q.y - y * q.x, w * q.w - x * q.x - y * q.y - z * q.z};
}

Vector3 Quaternion::operator*(const Vector3& v) const {
    Vector3 u(x, y, z);
    Vector3 uv = u.crossProduct(v);
    Vector3 uuv = u.crossProduct(uv);
    return v + uv * (2.0f * w) + uuv * 2.0f;
}

void Quaternion::normalise() {
    // A zero quaternion has no direction; leave it as it is rather than fill it with NaNs.
    float len = getNormalLength();
    if (len == 0.0f) return;
    float inv = 1.0f / len;
    x *= inv;
    y *= inv;
    z *= inv;
    w *= inv;
}

// ---- Math ----

Matrix4 Math::makeViewMatrix(const Vector3& position, const Quaternion& orientation) {
    Matrix3 r;
    orientation.toRotationMatrix(r);
    Matrix3 rt = r.Transpose();
    Vector3 t = -(rt * position);
    return {rt.m[0], rt.m[1], rt.m[2], t.x, rt.m[3], rt.m[4], rt.m[5], t.y,
            rt.m[6], rt.m[7], rt.m[8], t.z, 0, 0, 0, 1};
}

Matrix4 Math::makeViewMatrix(const Vector3& eye, const Vector3& target, const Vector3& up) {
    Vector3 f = eye - target;
    f.normalise();
    Vector3 s = up.crossProduct(f);
    s.normalise();
    Vector3 u = f.crossProduct(s);
    u.normalise();
    return {s.x, s.y, s.z, -s.dotProduct(eye), u.x, u.y, u.z, -u.dotProduct(eye),
            f.x, f.y, f.z, -f.dotProduct(eye), 0, 0, 0, 1};
}

float Math::Length3D(const Vector3& a, const Vector3& b) {
    float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

float Math::ASin(float x) {
    if (x > 1.0f) return HALF_PI;
    if (x < -1.0f) return -HALF_PI;
    return std::asin(x);
}

float Math::ACos(float x) {
    if (x > 1.0f) return 0.0f;
    if (x < -1.0f) return PI;
    return std::acos(x);
}

Vector3 Math::DegreeToRadian(const Vector3& v) {
    return {v.x * PI / 180.0f, v.y * PI / 180.0f, v.z * PI / 180.0f};
}

Vector3 Math::RadianToDegree(const Vector3& v) {
    return {v.x * 180.0f / PI, v.y * 180.0f / PI, v.z * 180.0f / PI};
}

}  // namespace Dove
