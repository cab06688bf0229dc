#pragma once

// Interpolation through keyframes sorted by time. The segment holding t is
// found by binary search, so a lookup costs O(log count); keyframes are
// spans (a pointer and a count), nothing is copied.

#include <cstddef>
#include <limits>

#include "pose.hpp"
#include "quaternion.hpp"
#include "vector.hpp"

namespace math {

// True when every time is below the next, NaN failing; the interpolation
// below needs it and does not check it, as it would cost O(count) a lookup.
template <class T>
inline bool keyframeTimesIncreasing(const T* times, std::ptrdiff_t count) {
    for (std::ptrdiff_t k = 0; k + 1 < count; ++k) {
        if (!(times[k] < times[k + 1])) return false;
    }
    return true;
}

namespace detail {

// Where t lies among the keyframes: the segment [times[k], times[k + 1]]
// and the fraction u of the way along it. A time at a keyframe ends the
// segment it closes (u = 1), the first time starts the first one (u = 0),
// as SciPy's Slerp finds them, so a keyframe's quaternion keeps the sign
// that continues the arc from the one before.
template <class T>
struct KeyframePlace {
    std::ptrdiff_t k;
    T u;
};

// Times is anything indexable: a pointer, or a strided view of the batch.
template <class Times, class T>
inline KeyframePlace<T> keyframePlace(const Times& times, std::ptrdiff_t count, T t) {
    std::ptrdiff_t lo = 0, hi = count - 1;
    // times[lo] < t <= times[hi], once t is past the first time.
    while (hi - lo > 1) {
        const std::ptrdiff_t mid = lo + (hi - lo) / 2;
        if (times[mid] < t) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const T t0 = times[lo];
    return {lo, (t - t0) / (times[lo + 1] - t0)};
}

// Fewer than two keyframes, or t outside [times[0], times[count - 1]] (NaN
// included), has no segment.
template <class Times, class T>
inline bool keyframeCovers(const Times& times, std::ptrdiff_t count, T t) {
    return count >= 2 && t >= times[0] && t <= times[count - 1];
}

}  // namespace detail

// The orientation at time t through keyframes (times[k], keys[k]): slerp
// along the shorter arc between the neighbouring keys, each normalized. t at
// a keyframe gives its key normalized, negated where that continues the arc
// from the key before (the first key as it is). times must increase strictly
// (see keyframeTimesIncreasing); fewer than two keyframes or t outside
// [times[0], times[count - 1]] gives NaN. times and keys are spans: pointers
// to count values, or anything indexed alike (the batch's strided views).
template <class Times, class Keys, class T>
inline Quaternion<T> slerpKeyframes(const Times& times, const Keys& keys, std::ptrdiff_t count,
                                    T t) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    if (!detail::keyframeCovers(times, count, t)) return {nan, nan, nan, nan};
    const detail::KeyframePlace<T> at = detail::keyframePlace(times, count, t);
    return slerp(Quaternion<T>(keys[at.k]), Quaternion<T>(keys[at.k + 1]), at.u);
}

// The position at time t, linear between the neighbouring keys; exact at
// the keyframes. Otherwise as slerpKeyframes.
template <class Times, class Keys, class T>
inline Vector3<T> lerpKeyframes(const Times& times, const Keys& keys, std::ptrdiff_t count, T t) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    if (!detail::keyframeCovers(times, count, t)) return {nan, nan, nan};
    const detail::KeyframePlace<T> at = detail::keyframePlace(times, count, t);
    return lerp(Vector3<T>(keys[at.k]), Vector3<T>(keys[at.k + 1]), at.u);
}

// Both of a pose, a linear position and a slerped orientation, from one
// search.
template <class Times, class Positions, class Orientations, class T>
inline Pose3d<T> poseKeyframes(const Times& times, const Positions& positions,
                               const Orientations& orientations, std::ptrdiff_t count, T t) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    Pose3d<T> p;
    if (!detail::keyframeCovers(times, count, t)) {
        p.position = {nan, nan, nan};
        p.orientation = {nan, nan, nan, nan};
        return p;
    }
    const detail::KeyframePlace<T> at = detail::keyframePlace(times, count, t);
    p.position = lerp(Vector3<T>(positions[at.k]), Vector3<T>(positions[at.k + 1]), at.u);
    p.orientation =
        slerp(Quaternion<T>(orientations[at.k]), Quaternion<T>(orientations[at.k + 1]), at.u);
    return p;
}

}  // namespace math
