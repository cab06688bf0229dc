#pragma once

#include <array>
#include <cmath>

#include "geometry.hpp"
#include "matrix.hpp"
#include "planes.hpp"
#include "vector.hpp"

namespace math {

// The six planes of the volume that m maps into the clip cube -w <= x, y,
// z <= w, in the order left, right, bottom, top, near, far: row 3 of m plus
// or minus row 0, 1, 2 (column vectors, depth -1 at the near plane). Normals
// point inwards and are divided by their length, as is d; the stored point
// is normal * -d, the foot of the perpendicular from the origin. A row with a
// zero normal (the far plane of an infinite projection) gives a NaN plane,
// which classify ignores. A row whose normal is too long or too short to
// square is first scaled by a power of two, which changes no plane.
template <class T>
inline std::array<Plane<T>, 6> frustumPlanes(const Matrix4<T>& viewProjection) {
    const Matrix4<T>& m = viewProjection;
    std::array<Plane<T>, 6> planes;
    for (int k = 0; k < 6; ++k) {
        const int i = k / 2;
        T row[4];
        for (int j = 0; j < 4; ++j) row[j] = k % 2 == 0 ? m(3, j) + m(i, j) : m(3, j) - m(i, j);
        const int e = detail::rangeExponent(Vector3<T>(row[0], row[1], row[2]));
        if (e != 0) {
            for (T& r : row) r = std::scalbn(r, -e);
        }
        const T length = norm(Vector3<T>(row[0], row[1], row[2]));
        const Vector3<T> normal(row[0] / length, row[1] / length, row[2] / length);
        planes[k] = Plane<T>(normal * -(row[3] / length), normal);
    }
    return planes;
}

namespace detail {

// Scaling a row by a power of two keeps its sign everywhere; a row whose
// normal lies outside [2^-16, 2^16] is brought near 1, so that its products
// with coordinates of any size up to 1e30 (float) or 1e300 (double) neither
// overflow nor vanish.
template <class T>
inline void keepRowInRange(T* row) {
    constexpr T low = powerOfTwo<T>(-16), high = powerOfTwo<T>(16);
    const T m = largestMagnitude(Vector3<T>(row[0], row[1], row[2]));
    if (m >= low && m <= high) return;
    const int e = scaleExponent(m);
    if (e == 0) return;
    for (int j = 0; j < 4; ++j) row[j] = std::scalbn(row[j], -e);
}

template <class T>
inline bool hasNan(const Vector3<T>& v) {
    return std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z);
}

// A zero coefficient adds nothing even against an infinite coordinate,
// where the product would be NaN.
template <class T>
inline T planeTerm(T coefficient, T coordinate) {
    return coefficient == T(0) ? T(0) : coefficient * coordinate;
}

// ((a x + b y) + c z) + d
template <class T>
inline T rowValue(const T* row, T x, T y, T z) {
    return ((planeTerm(row[0], x) + planeTerm(row[1], y)) + planeTerm(row[2], z)) + row[3];
}

}  // namespace detail

// -1 when the whole box is outside one plane, 1 when it is inside all six,
// 0 otherwise, from the corner furthest along each normal (outside when it
// is below the plane) and the corner furthest against it (crossing when it
// is below). A plane row holds (a, b, c, d) with a x + b y + c z + d >= 0
// inside, so a point on a plane is inside. The box may be infinite; an
// empty box (min = +inf, max = -inf) is outside any plane with a non-zero
// normal; a NaN plane is ignored (frustumPlanes makes one for a zero row),
// and a box with a NaN coordinate is outside.
template <class T>
inline int classifyAabb(const Vector3<T>& boxMin, const Vector3<T>& boxMax, const T (*planes)[4]) {
    if (detail::hasNan(boxMin) || detail::hasNan(boxMax)) return -1;
    bool crossing = false;
    for (int k = 0; k < 6; ++k) {
        T row[4] = {planes[k][0], planes[k][1], planes[k][2], planes[k][3]};
        detail::keepRowInRange(row);
        const Vector3<T> along(row[0] >= T(0) ? boxMax.x : boxMin.x,
                               row[1] >= T(0) ? boxMax.y : boxMin.y,
                               row[2] >= T(0) ? boxMax.z : boxMin.z);
        if (detail::rowValue(row, along.x, along.y, along.z) < T(0)) return -1;
        const Vector3<T> against(row[0] >= T(0) ? boxMin.x : boxMax.x,
                                 row[1] >= T(0) ? boxMin.y : boxMax.y,
                                 row[2] >= T(0) ? boxMin.z : boxMax.z);
        if (detail::rowValue(row, against.x, against.y, against.z) < T(0)) crossing = true;
    }
    return crossing ? 0 : 1;
}

// The planes as rows by planeRow, so this agrees bit for bit with
// classifyAabb given those rows.
template <class T>
inline int classify(const AABB<T>& box, const std::array<Plane<T>, 6>& planes) {
    T rows[6][4];
    for (int k = 0; k < 6; ++k) {
        const std::array<T, 4> row = planeRow(planes[k]);
        for (int j = 0; j < 4; ++j) rows[k][j] = row[j];
    }
    return classifyAabb(box.min, box.max, rows);
}

}  // namespace math
