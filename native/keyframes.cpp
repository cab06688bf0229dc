// Keyframe interpolation in batch: ufuncs of loops of their own, as the
// keyframes are a core dimension n of any size.

#include <pybind11/pybind11.h>

#include <cstdio>
#include <memory>
#include <string>

#include "gufunc_loop.hpp"
#include "math/keyframes.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

namespace {

using gufunc::Index;
using gufunc::Layout;

// Strided views of a core operand, indexed by keyframe.
template <class T>
struct Times {
    const char* p;
    Index step;
    T operator[](Index k) const { return *reinterpret_cast<const T*>(p + k * step); }
};
template <class V>
struct Keys {
    const char* p;
    Index step;
    Index component;
    V operator[](Index k) const { return Layout<V>::read(p + k * step, &component); }
};

std::string number(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

// Checks the keyframes once per set, not per time; false after raising.
template <class T>
struct Checked {
    const char* name;
    Index count;
    const char* last = nullptr;

    bool times(const Times<T>& times) {
        if (times.p == last) return true;
        for (Index k = 0; k + 1 < count; ++k) {
            if (!(times[k] < times[k + 1])) {
                ufuncs::raise_in_loop(std::string(name) + ": times must increase strictly, but " +
                                      "times[" + std::to_string(k) + "] = " + number(times[k]) +
                                      " and times[" + std::to_string(k + 1) +
                                      "] = " + number(times[k + 1]) +
                                      "; sort the keyframes by time and drop repeated times");
                return false;
            }
        }
        last = times.p;
        return true;
    }
    // NaN too, as SciPy's Slerp refuses it.
    bool time(const Times<T>& times, T t) {
        if (t >= times[0] && t <= times[count - 1]) return true;
        ufuncs::raise_in_loop(std::string(name) + ": t = " + number(t) +
                              " is outside the keyframe times [" + number(times[0]) + ", " +
                              number(times[count - 1]) +
                              "]; clip t to that range (numpy.clip) to hold the end keyframes");
        return false;
    }
};

template <class T>
bool enough_keyframes(const char* name, Index count) {
    if (count >= 2) return true;
    ufuncs::raise_in_loop(std::string(name) + ": interpolation needs 2 or more keyframes, got " +
                          std::to_string(count));
    return false;
}

// (n),(n,4),()->(4)
template <class T>
void slerp_loop(char** args, const Index* dimensions, const Index* steps, void* data) {
    const char* name = static_cast<const char*>(data);
    const Index count = dimensions[1];
    if (!enough_keyframes<T>(name, count)) return;
    const Index* core = steps + 4;
    Checked<T> checked{name, count};
    for (Index e = 0; e < dimensions[0]; ++e) {
        const Times<T> times{args[0] + e * steps[0], core[0]};
        const Keys<math::Quaternion<T>> keys{args[1] + e * steps[1], core[1], core[2]};
        const T t = *reinterpret_cast<const T*>(args[2] + e * steps[2]);
        if (!checked.times(times) || !checked.time(times, t)) return;
        Layout<math::Quaternion<T>>::write(math::slerpKeyframes(times, keys, count, t),
                                           args[3] + e * steps[3], core + 3);
    }
}

// (n),(n,3),(n,4),()->(3),(4)
template <class T>
void pose_loop(char** args, const Index* dimensions, const Index* steps, void* data) {
    const char* name = static_cast<const char*>(data);
    const Index count = dimensions[1];
    if (!enough_keyframes<T>(name, count)) return;
    const Index* core = steps + 6;
    Checked<T> checked{name, count};
    for (Index e = 0; e < dimensions[0]; ++e) {
        const Times<T> times{args[0] + e * steps[0], core[0]};
        const Keys<math::Vector3<T>> positions{args[1] + e * steps[1], core[1], core[2]};
        const Keys<math::Quaternion<T>> orientations{args[2] + e * steps[2], core[3], core[4]};
        const T t = *reinterpret_cast<const T*>(args[3] + e * steps[3]);
        if (!checked.times(times) || !checked.time(times, t)) return;
        const math::Pose3d<T> p = math::poseKeyframes(times, positions, orientations, count, t);
        Layout<math::Vector3<T>>::write(p.position, args[4] + e * steps[4], core + 5);
        Layout<math::Quaternion<T>>::write(p.orientation, args[5] + e * steps[5], core + 6);
    }
}

template <template <class> class Loop>
void define(py::module_& m, const char* name, const char* signature, int nin, int nout,
            const char* doc) {
    auto d = std::make_unique<ufuncs::Definition>();
    d->name = name;
    d->doc = doc;
    d->signature = signature;
    d->nin = nin;
    d->nout = nout;
    d->loops[0] = &Loop<float>::run;
    d->loops[1] = &Loop<double>::run;
    // The loops' data is the ufunc's name, for their messages.
    d->data[0] = d->data[1] = const_cast<char*>(d->name.c_str());
    d->types = std::string(nin + nout, ufuncs::type_number<float>) +
               std::string(nin + nout, ufuncs::type_number<double>);
    ufuncs::define(m, std::move(d));
}

template <class T>
struct SlerpLoop {
    static void run(char** a, const Index* d, const Index* s, void* p) {
        slerp_loop<T>(a, d, s, p);
    }
};
template <class T>
struct PoseLoop {
    static void run(char** a, const Index* d, const Index* s, void* p) { pose_loop<T>(a, d, s, p); }
};

}  // namespace

void register_keyframe_ufuncs(py::module_& m) {
    define<SlerpLoop>(
        m, "slerp_keyframes", "(n),(n,4),()->(4)", 3, 1,
        "The orientation (w, x, y, z) at time t through keyframes (times, quats), as SciPy's "
        "Slerp(times, rotations)(t): slerp along the shorter arc between the neighbouring "
        "keyframes, found by binary search. times must increase strictly and t lie within "
        "[times[0], times[-1]], NaN not (ValueError otherwise); 2 or more keyframes. t at a "
        "keyframe gives its quaternion normalized; a zero or NaN quaternion gives NaN.");
    define<PoseLoop>(m, "pose_keyframes", "(n),(n,3),(n,4),()->(3),(4)", 4, 2,
                     "(position, orientation) at time t through keyframes (times, positions, "
                     "orientations): linear positions, slerped orientations, as slerp_keyframes.");
}
