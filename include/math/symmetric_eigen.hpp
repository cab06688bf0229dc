#pragma once

// The eigenvector of the largest eigenvalue of a symmetric 4x4 matrix: the
// one solver behind the nearest rotation of a matrix, the mean of rotations
// and the alignment of vector sets, each a quaternion maximizing q^T K q.

#include <cmath>
#include <limits>

#include "vector.hpp"

namespace math {

template <class T>
struct Symmetric4 {
    T a[4][4];
};

template <class T>
struct LargestEigen {
    Vector4<T> vector;  // unit length
    T value;
};

// Cyclic Jacobi rotations, which keep full accuracy in every eigenvector
// however close the eigenvalues; a few sweeps reach rounding. Of two equal
// largest eigenvalues the first in index order wins. Non-finite input gives
// NaN.
template <class T>
inline LargestEigen<T> largestEigen(Symmetric4<T> k) {
    T v[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    for (int sweep = 0; sweep < 32; ++sweep) {
        T off = T(0), diagonal = T(0);
        for (int p = 0; p < 4; ++p) {
            diagonal += k.a[p][p] * k.a[p][p];
            for (int q = p + 1; q < 4; ++q) off += k.a[p][q] * k.a[p][q];
        }
        const T eps = std::numeric_limits<T>::epsilon();
        if (!(off > (eps * eps) * diagonal)) break;
        for (int p = 0; p < 3; ++p) {
            for (int q = p + 1; q < 4; ++q) {
                const T apq = k.a[p][q];
                if (apq == T(0)) continue;
                // The rotation by t = tan(phi) that zeroes a[p][q], the smaller root.
                // Where theta^2 + 1 rounds to theta^2, t is 1 / (2 theta), taken
                // so that theta^2 cannot overflow (NumPy reports the flag).
                const T diff = k.a[q][q] - k.a[p][p];
                T t;
                if (std::abs(diff) * eps > std::abs(T(2) * apq)) {
                    t = apq / diff;
                } else {
                    const T theta = diff / (T(2) * apq);
                    t = std::copysign(T(1), theta) /
                        (std::abs(theta) + std::sqrt(theta * theta + T(1)));
                }
                const T c = T(1) / std::sqrt(t * t + T(1)), s = t * c;
                k.a[p][p] -= t * apq;
                k.a[q][q] += t * apq;
                k.a[p][q] = k.a[q][p] = T(0);
                for (int r = 0; r < 4; ++r) {
                    if (r != p && r != q) {
                        const T arp = k.a[r][p], arq = k.a[r][q];
                        k.a[r][p] = k.a[p][r] = c * arp - s * arq;
                        k.a[r][q] = k.a[q][r] = s * arp + c * arq;
                    }
                    const T vrp = v[r][p], vrq = v[r][q];
                    v[r][p] = c * vrp - s * vrq;
                    v[r][q] = s * vrp + c * vrq;
                }
            }
        }
    }
    int best = 0;
    for (int j = 1; j < 4; ++j) {
        if (k.a[j][j] > k.a[best][best]) best = j;
    }
    LargestEigen<T> r{{v[0][best], v[1][best], v[2][best], v[3][best]}, k.a[best][best]};
    bool finite = true;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) finite = finite && std::isfinite(k.a[i][j]);
    }
    if (!finite) {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        r = {{nan, nan, nan, nan}, nan};
    }
    return r;
}

}  // namespace math
