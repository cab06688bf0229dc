#pragma once

// The per-element functions of the batch operations: each calls what the
// per-object method calls, on values gathered by the loop.

#include <array>
#include <cstdint>
#include <optional>
#include <tuple>

#include "math/euler.hpp"
#include "math/frustum.hpp"
#include "math/matrix.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/ray.hpp"
#include "math/vector.hpp"

// One compiled copy serves both the batch loop and the per-object function
// of the package, so that even a NaN result has the same sign and payload
// in both: IEEE 754 leaves those open, and two inlined copies may differ (a
// product by -1 compiled as a negation, the operands of a sum swapped).
#if defined(__clang__)
#define ORVANE_ONE_COPY [[gnu::noinline]]
#else
#define ORVANE_ONE_COPY [[gnu::noinline, gnu::noclone]]
#endif

namespace elementwise {

template <class T>
using Q = math::Quaternion<T>;
template <class T>
using V3 = math::Vector3<T>;

template <class T>
Q<T> multiply(const Q<T>& a, const Q<T>& b) {
    return a * b;
}
template <class T>
V3<T> rotate(const Q<T>& q, const V3<T>& v) {
    return q.rotate(v);
}
template <class T>
Q<T> conjugate(const Q<T>& q) {
    return q.conjugate();
}
template <class T>
Q<T> inverse(const Q<T>& q) {
    return q.inverse();
}
template <class T>
Q<T> normalize(const Q<T>& q) {
    return q.normalize();
}
// orvane.to_matrix3's, which agrees with q.toMatrix3() wherever that one
// can square q.
template <class T>
ORVANE_ONE_COPY math::Matrix3<T> toMatrix(const Q<T>& q) {
    return math::toMatrix3(q);
}
template <class T>
Q<T> fromMatrix(const math::Matrix3<T>& m) {
    return Q<T>(m);
}

template <class T>
Q<T> fromXyzw(const math::Vector4<T>& v) {
    return math::quaternionFromXyzw(v);
}
template <class T>
math::Vector4<T> toXyzw(const Q<T>& q) {
    return math::toXyzw(q);
}

template <class T>
ORVANE_ONE_COPY Q<T> slerp(const Q<T>& a, const Q<T>& b, T t) {
    return math::slerp(a, b, t);
}
template <class T>
ORVANE_ONE_COPY V3<T> toRotationVector(const Q<T>& q) {
    return math::toRotationVector(q);
}
template <class T>
ORVANE_ONE_COPY Q<T> fromRotationVector(const V3<T>& v) {
    return math::quaternionFromRotationVector(v);
}

// The axis of each rotation in the order's sequence: XYZ rotates about x,
// then y, then z; ZYX about z, then y, then x.
template <math::euler::Order order>
constexpr std::array<int, 3> sequence() {
    using math::euler::Order;
    switch (order) {
        case Order::XYZ: return {0, 1, 2};
        case Order::YZX: return {1, 2, 0};
        case Order::ZXY: return {2, 0, 1};
        case Order::XZY: return {0, 2, 1};
        case Order::YXZ: return {1, 0, 2};
        case Order::ZYX: return {2, 1, 0};
    }
    return {0, 1, 2};
}

// Batch angles lie in the order's sequence, as other Euler tools lay them
// out; Euler keeps them by axis.
template <math::euler::Order order, math::euler::Convention convention, class T>
Q<T> fromEuler(const V3<T>& angles) {
    constexpr std::array<int, 3> axes = sequence<order>();
    V3<T> byAxis;
    for (int k = 0; k < 3; ++k) byAxis[axes[k]] = angles[k];
    math::Euler<T> e(byAxis.x, byAxis.y, byAxis.z);
    e.order = order;
    e.convention = convention;
    return math::toQuaternion(e);
}

template <math::euler::Order order, math::euler::Convention convention, class T>
V3<T> toEuler(const Q<T>& q) {
    math::Euler<T> e;
    e.order = order;
    e.convention = convention;
    e.setFromQuaternion(q);
    constexpr std::array<int, 3> axes = sequence<order>();
    const V3<T> byAxis(e.x, e.y, e.z);
    return {byAxis[axes[0]], byAxis[axes[1]], byAxis[axes[2]]};
}

// The orientation is stored as given, as a pose's field is: apply does not
// need it normalized.
template <class T>
math::Pose3d<T> pose(const V3<T>& position, const Q<T>& orientation) {
    math::Pose3d<T> p;
    p.position = position;
    p.orientation = orientation;
    return p;
}
template <class T>
V3<T> poseApply(const V3<T>& p, const Q<T>& q, const V3<T>& v) {
    return pose(p, q).apply(v);
}
template <class T>
std::tuple<V3<T>, Q<T>> poseCompose(const V3<T>& pa, const Q<T>& qa, const V3<T>& pb,
                                    const Q<T>& qb) {
    const math::Pose3d<T> c = pose(pa, qa) * pose(pb, qb);
    return {c.position, c.orientation};
}

// toMatrix for lanes (lane_loop.hpp), as ToMatrix<X>::value for a scalar
// type X: where no rescaling is needed it is the plain q.toMatrix3(), bit
// for bit.
template <class X>
math::Matrix3<X> plainToMatrix(const Q<X>& q) {
    return q.toMatrix3();
}
template <class X>
struct ToMatrix {
    static constexpr auto value = &plainToMatrix<X>;
    static bool plain(const Q<X>& q) { return math::withinPlainRange(q); }
};

template <class M>
typename M::Column matrixApply(const M& m, const typename M::Column& v) {
    return m * v;
}
template <class T>
V3<T> matrixApplyPoint(const math::Matrix4<T>& m, const V3<T>& v) {
    const math::Vector4<T> r = m * math::Vector4<T>(v.x, v.y, v.z, T(1));
    return {r.x, r.y, r.z};
}

// orvane.ray_triangle's, which the batch ray_triangle calls too.
template <class T>
ORVANE_ONE_COPY std::optional<math::TriangleHit<T>> rayTriangle(const V3<T>& origin,
                                                                const V3<T>& direction,
                                                                const V3<T>& a, const V3<T>& b,
                                                                const V3<T>& c) {
    return math::rayTriangle(origin, direction, a, b, c);
}

// A miss is (inf, -inf), the interval rayAabb reports no hit for.
template <class T>
math::Vector2<T> rayAabb(const V3<T>& origin, const V3<T>& direction, const V3<T>& boxMin,
                         const V3<T>& boxMax) {
    const math::RayInterval<T> r = math::rayAabbInterval(origin, direction, boxMin, boxMax);
    return {r.tNear, r.tFar};
}

// Six planes as rows (a, b, c, d), inside where a*x + b*y + c*z + d >= 0.
template <class T>
struct PlaneRows {
    T rows[6][4];
};

template <class T>
std::int8_t classifyAabb(const V3<T>& boxMin, const V3<T>& boxMax, const PlaneRows<T>& planes) {
    return static_cast<std::int8_t>(math::classifyAabb(boxMin, boxMax, planes.rows));
}

}  // namespace elementwise
