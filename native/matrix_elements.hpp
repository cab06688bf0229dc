#pragma once

// The per-element functions of the camera, matrix and decomposition
// operations that both the per-object functions and the batch loops call:
// one compiled copy each (see elementwise.hpp), so NaN results match too.

#include <tuple>

#include "elementwise.hpp"
#include "math/decompose.hpp"
#include "math/matrix.hpp"

namespace elementwise {

template <class T>
ORVANE_ONE_COPY math::Matrix4<T> lookAt(const V3<T>& eye, const V3<T>& target, const V3<T>& up) {
    return math::lookAt(eye, target, up);
}
template <class T>
ORVANE_ONE_COPY V3<T> project(const V3<T>& point, const math::Matrix4<T>& viewProjection,
                              const math::Vector4<T>& viewport) {
    return math::project(point, viewProjection, viewport);
}
template <class T>
ORVANE_ONE_COPY V3<T> unproject(const V3<T>& window, const math::Matrix4<T>& viewProjection,
                                const math::Vector4<T>& viewport) {
    return math::unproject(window, viewProjection, viewport);
}
template <class T>
ORVANE_ONE_COPY math::Decomposition<T> decomposition(const math::Matrix4<T>& m) {
    return math::decompose(m);
}

// The batch form: NaN in every part where the per-object one raises.
template <class T>
std::tuple<V3<T>, Q<T>, V3<T>> decomposeParts(const math::Matrix4<T>& m) {
    const math::Decomposition<T> d = decomposition(m);
    return {d.translation, d.orientation, d.scale};
}

template <class M>
M matrixInverse(const M& m) {
    return math::inverse(m);
}
template <class M>
typename M::Scalar matrixDeterminant(const M& m) {
    return math::determinant(m);
}

}  // namespace elementwise
