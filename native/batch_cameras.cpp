// Cameras, matrix inverses and determinants, and decompositions in batch,
// and the per-object decompose.

#include <pybind11/pybind11.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

#include "declarations.hpp"
#include "matrix_elements.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

namespace {

using namespace elementwise;

template <class M>
struct MatrixInverse {
    static constexpr auto value = &matrixInverse<M>;
};
template <class M>
struct MatrixDeterminant {
    static constexpr auto value = &matrixDeterminant<M>;
};

// unproject divides by a singular matrix's zero determinant on its way to
// NaN; NumPy would warn of that division, which the result does not show and
// the per-object function does not report.
template <class L>
void without_divide_flag(char** args, const gufunc::Index* dimensions, const gufunc::Index* steps,
                         void* data) {
    L::run(args, dimensions, steps, data);
    std::feclearexcept(FE_DIVBYZERO);
}

std::string number(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

// What is wrong with m, for the ValueError: built only on failure.
template <class T>
std::string fault_message(const math::Matrix4<T>& m, math::DecomposeFault fault) {
    const std::string head = "decompose: ";
    switch (fault) {
        case math::DecomposeFault::NonFinite:
            return head +
                   "m has a NaN or infinite element, or a column too long to measure; only "
                   "finite transforms decompose";
        case math::DecomposeFault::Projective:
            return head + "the last row of m is (" + number(m(3, 0)) + ", " + number(m(3, 1)) +
                   ", " + number(m(3, 2)) + ", " + number(m(3, 3)) +
                   "), not (0, 0, 0, 1): a projective matrix is no translation, rotation and "
                   "scale (divide an affine one by m[3, 3] first)";
        case math::DecomposeFault::ZeroScale:
            for (int j = 0; j < 3; ++j) {
                if (m(0, j) == T(0) && m(1, j) == T(0) && m(2, j) == T(0)) {
                    return head + "column " + std::to_string(j) +
                           " of m is zero: a zero scale leaves no rotation to recover";
                }
            }
            break;
        case math::DecomposeFault::Shear: {
            int a = 0, b = 1;
            double worst = 0;
            for (int i = 0; i < 3; ++i) {
                for (int j = i + 1; j < 3; ++j) {
                    double dot = 0, ni = 0, nj = 0;
                    for (int k = 0; k < 3; ++k) {
                        dot += double(m(k, i)) * double(m(k, j));
                        ni += double(m(k, i)) * double(m(k, i));
                        nj += double(m(k, j)) * double(m(k, j));
                    }
                    const double c = std::fabs(dot / std::sqrt(ni * nj));
                    if (!(c <= worst)) worst = c, a = i, b = j;
                }
            }
            return head + "columns " + std::to_string(a) + " and " + std::to_string(b) +
                   " of m are not orthogonal (|cosine| " + number(worst) + ", more than " +
                   number(math::kDecomposeShearTolerance<T>) +
                   "): m has shear, which translation, rotation and scale cannot express";
        }
        case math::DecomposeFault::None: break;
    }
    return head + "m does not decompose";
}

template <class T>
std::tuple<V3<T>, Q<T>, V3<T>> decompose_matrix(const math::Matrix4<T>& m) {
    const math::Decomposition<T> d = decomposition(m);
    if (d.fault != math::DecomposeFault::None) throw py::value_error(fault_message(m, d.fault));
    return {d.translation, d.orientation, d.scale};
}

const char* const decompose_doc =
    "``(translation, orientation, scale)`` of an affine transform ``m = T * R * S``: the "
    "last column, the rotation (a unit quaternion, w >= 0) and the lengths of the first "
    "three columns, the x scale negative when the determinant is. Columns orthogonal to "
    "within a cosine of 1e-6 (float64) or about 1.2e-4 (float32) count as a rotation's; "
    "the rotation is the one nearest to them. Raises ValueError for a NaN or infinite "
    "element, a last row other than (0, 0, 0, 1), a zero column (zero scale) or shear.";

}  // namespace

void register_decompose(py::module_& m) {
    declare::def(m, "decompose", &decompose_matrix<float>, py::arg("m"), decompose_doc);
    declare::def(m, "decompose", &decompose_matrix<double>, py::arg("m"), decompose_doc);
}

void register_batch_cameras_ufuncs(py::module_& m) {
    using ufuncs::add;
    add<&lookAt<float>, &lookAt<double>>(
        m, "look_at",
        "The view matrix (4, 4) of a camera at eye looking at target with up upwards, as "
        "orvane.look_at: right-handed, looking along -z. eye equal to target, up parallel to "
        "the view direction, or NaN gives NaN.");
    add<&project<float>, &project<double>>(
        m, "project",
        "Window coordinates of points through a view-projection matrix and a viewport (x, y, "
        "width, height), as orvane.project: y downwards from the corner, depth in [0, 1].");
    {
        using L32 = gufunc::Loop<&unproject<float>>;
        using L64 = gufunc::Loop<&unproject<double>>;
        auto d = ufuncs::definition<L32, L64>(
            "unproject",
            "The points of window coordinates, the inverse of project, as orvane.unproject; "
            "a singular matrix gives NaN.");
        d->signature = L32::signature.text;
        d->loops[0] = &without_divide_flag<L32>;
        d->loops[1] = &without_divide_flag<L64>;
        ufuncs::define(m, std::move(d));
    }
    ufuncs::add_by_order<MatrixInverse>(
        m, "matrix_inverse", "(n,n)->(n,n)",
        "The inverse of matrices of order n = 2, 3 or 4, as their inverse(); a singular one "
        "gives infinities or NaN.");
    ufuncs::add_by_order<MatrixDeterminant>(
        m, "matrix_determinant", "(n,n)->()",
        "The determinant of matrices of order n = 2, 3 or 4, as their determinant().");
    add<&decomposeParts<float>, &decomposeParts<double>>(
        m, "decompose",
        "Translation (3), orientation (4) and scale (3) of affine transforms m = T * R * S, "
        "as orvane.decompose, the x scale negative when the determinant is; NaN in all three "
        "where that raises (non-finite, projective, zero scale or shear).");
}
