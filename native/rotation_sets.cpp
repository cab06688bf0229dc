// Reductions over sets of rotations, vector pairs and point pairs, as
// ufuncs whose core dimension n is the set: NumPy and Dask then bring the
// stacks, the broadcasting and axes=.

#include <pybind11/pybind11.h>

#include <cfenv>
#include <cmath>
#include <memory>
#include <string>

#include "math/rotation_sets.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

namespace {

using gufunc::Index;
using math::SetStatus;
using math::StridedSpan;

template <class T>
void write_quaternion(const math::Quaternion<T>& q, char* p, Index step) {
    const T v[4] = {q.w, q.x, q.y, q.z};
    for (int k = 0; k < 4; ++k) *reinterpret_cast<T*>(p + k * step) = v[k];
}

template <class T>
void write_vector(const math::Vector3<T>& v, char* p, Index step) {
    for (int k = 0; k < 3; ++k) *reinterpret_cast<T*>(p + k * step) = v[k];
}

// The solver's rotations square ratios that overflow on their way to a zero
// angle: that says nothing of a finite answer, so NumPy is not told of it.
template <class T>
void forget_solver_overflow(bool overflowed_before, const T* values, int count) {
    if (overflowed_before) return;
    for (int k = 0; k < count; ++k) {
        if (!std::isfinite(values[k])) return;
    }
    std::feclearexcept(FE_OVERFLOW);
}

template <class T>
void forget_solver_overflow(bool overflowed_before, const math::Quaternion<T>& q) {
    const T v[4] = {q.w, q.x, q.y, q.z};
    forget_solver_overflow(overflowed_before, v, 4);
}

bool overflowed() { return std::fetestexcept(FE_OVERFLOW) != 0; }

// Raises for a set with no answer; the loops' data is the ufunc's name.
bool failed(SetStatus status, void* data) {
    if (status == SetStatus::ok) return false;
    // The error alone: NumPy would otherwise warn of the flags on top of it.
    std::feclearexcept(FE_ALL_EXCEPT);
    const std::string name = static_cast<const char*>(data);
    switch (status) {
        case SetStatus::ok: break;
        case SetStatus::negativeWeight:
            ufuncs::raise_in_loop(name +
                                  ": weights must be non-negative; give a weight of 0 "
                                  "to leave an element out");
            break;
        case SetStatus::zeroTotalWeight:
            ufuncs::raise_in_loop(name +
                                  ": the set is empty or all its weights are zero, so "
                                  "there is nothing to average; give at least one "
                                  "element a positive weight");
            break;
        case SetStatus::severalInfiniteWeights:
            ufuncs::raise_in_loop(name +
                                  ": only one infinite weight is allowed; give the "
                                  "other pairs finite weights");
            break;
        case SetStatus::zeroPrimaryVector:
            ufuncs::raise_in_loop(name +
                                  ": the pair met exactly (infinite weight, or the only "
                                  "pair) has a zero vector, which has no direction; "
                                  "give it nonzero vectors");
            break;
    }
    return true;
}

// Operands q (n,4), w (n) -> (4).
template <class T>
void mean_loop(char** args, const Index* dimensions, const Index* steps, void* data) {
    const Index* core = steps + 3;
    for (Index e = 0; e < dimensions[0]; ++e) {
        const StridedSpan<T> q{args[0] + e * steps[0], dimensions[1], core[0], core[1]};
        const StridedSpan<T> w{args[1] + e * steps[1], dimensions[1], core[2], 0};
        const bool before = overflowed();
        const math::RotationMean<T> r = math::quaternionMean(q, w);
        if (failed(r.status, data)) return;
        forget_solver_overflow(before, r.mean);
        write_quaternion(r.mean, args[2] + e * steps[2], core[3]);
    }
}

// Operands a (n,3), b (n,3), w (n) -> (4), ().
template <class T>
void align_vectors_loop(char** args, const Index* dimensions, const Index* steps, void* data) {
    const Index* core = steps + 5;
    for (Index e = 0; e < dimensions[0]; ++e) {
        const StridedSpan<T> a{args[0] + e * steps[0], dimensions[1], core[0], core[1]};
        const StridedSpan<T> b{args[1] + e * steps[1], dimensions[1], core[2], core[3]};
        const StridedSpan<T> w{args[2] + e * steps[2], dimensions[1], core[4], 0};
        const bool before = overflowed();
        const math::VectorAlignment<T> r = math::alignVectors(a, b, w);
        if (failed(r.status, data)) return;
        forget_solver_overflow(before, r.rotation);
        write_quaternion(r.rotation, args[3] + e * steps[3], core[5]);
        *reinterpret_cast<T*>(args[4] + e * steps[4]) = r.rssd;
    }
}

// Operands a (n,3), b (n,3), w (n) -> (3), (4), (), ().
template <class T, bool with_scale>
void align_points_loop(char** args, const Index* dimensions, const Index* steps, void* data) {
    const Index* core = steps + 7;
    for (Index e = 0; e < dimensions[0]; ++e) {
        const StridedSpan<T> a{args[0] + e * steps[0], dimensions[1], core[0], core[1]};
        const StridedSpan<T> b{args[1] + e * steps[1], dimensions[1], core[2], core[3]};
        const StridedSpan<T> w{args[2] + e * steps[2], dimensions[1], core[4], 0};
        const bool before = overflowed();
        const math::PointAlignment<T> r = math::alignPoints(a, b, w, with_scale);
        if (failed(r.status, data)) return;
        forget_solver_overflow(before, r.orientation);
        write_vector(r.position, args[3] + e * steps[3], core[5]);
        write_quaternion(r.orientation, args[4] + e * steps[4], core[6]);
        *reinterpret_cast<T*>(args[5] + e * steps[5]) = r.scale;
        *reinterpret_cast<T*>(args[6] + e * steps[6]) = r.rmsd;
    }
}

void define(py::module_& m, const char* name, const char* signature, int nin, int nout,
            ufuncs::LoopFunction f32, ufuncs::LoopFunction f64, std::string doc) {
    auto d = std::make_unique<ufuncs::Definition>();
    d->name = name;
    d->doc = std::move(doc);
    d->signature = signature;
    d->nin = nin;
    d->nout = nout;
    d->loops[0] = f32;
    d->loops[1] = f64;
    d->data[0] = d->data[1] = const_cast<char*>(d->name.c_str());
    d->types = std::string(nin + nout, ufuncs::type_number<float>) +
               std::string(nin + nout, ufuncs::type_number<double>);
    ufuncs::define(m, std::move(d));
}

template <class T>
math::Quaternion<T> quat_from_uniforms(const math::Vector3<T>& u) {
    return math::quaternionFromUniforms(u);
}

}  // namespace

void register_rotation_set_ufuncs(py::module_& m) {
    define(m, "quat_mean", "(n,4),(n)->(4)", 2, 1, &mean_loop<float>, &mean_loop<double>,
           "The chordal mean of n rotations q (n, 4) with weights (n): the largest "
           "eigenvector of sum w q q^T / |q|^2, w >= 0. Zero weights are skipped; negative "
           "weights, or all zero, raise ValueError; a zero or non-finite quaternion of nonzero "
           "weight gives NaN.");
    define(m, "align_vectors", "(n,3),(n,3),(n)->(4),()", 3, 2, &align_vectors_loop<float>,
           &align_vectors_loop<double>,
           "The rotation q (4) taking the vectors b (n, 3) best onto a (n, 3), weights (n), "
           "and rssd = sqrt(sum w |a - R b|^2). One pair, or the one pair of infinite weight, "
           "is met exactly by the shortest rotation, the others fixing the turn about it; "
           "several infinite weights, negative weights, or a zero vector in the exact pair "
           "raise ValueError. No weight gives the identity.");
    const char* points_doc =
        "The similarity a ~ scale * R b + position that fits the points b (n, 3) best onto a "
        "(n, 3), weights (n): (position (3), orientation (4), scale, rmsd). R is always a "
        "proper rotation; coincident points b give the identity and scale 1. Negative "
        "weights, or all zero, raise ValueError.";
    define(m, "align_points", "(n,3),(n,3),(n)->(3),(4),(),()", 3, 4,
           &align_points_loop<float, false>, &align_points_loop<double, false>,
           std::string(points_doc) + " The scale is 1.");
    define(m, "align_points_scaled", "(n,3),(n,3),(n)->(3),(4),(),()", 3, 4,
           &align_points_loop<float, true>, &align_points_loop<double, true>,
           std::string(points_doc) + " The scale is fitted too.");
    ufuncs::add<&quat_from_uniforms<float>, &quat_from_uniforms<double>>(
        m, "quat_from_uniforms",
        "The rotation (4) of three numbers u (3) in [0, 1), uniform over rotations when u is "
        "uniform (Shoemake's map): (sqrt(u0) cos(2 pi u2), sqrt(1 - u0) sin(2 pi u1), "
        "sqrt(1 - u0) cos(2 pi u1), sqrt(u0) sin(2 pi u2)).");
}
