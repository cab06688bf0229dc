// The state of every class as the bytes of its stored scalars, in field
// order and native byte order, so that a round trip keeps -0, NaN payloads,
// infinities and unnormalized orientations exactly.

#include <pybind11/pybind11.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "declarations.hpp"
#include "classes.hpp"
#include "registration.hpp"

namespace {

// Calls f on every stored scalar of a value, in field order. Each overload
// is declared before the ones that use it.
template <class F>
void visit(float& s, F& f) { f(s); }
template <class F>
void visit(double& s, F& f) { f(s); }
template <class T, class F>
void visit(math::Vector2<T>& v, F& f) { visit(v.x, f), visit(v.y, f); }
template <class T, class F>
void visit(math::Vector3<T>& v, F& f) { visit(v.x, f), visit(v.y, f), visit(v.z, f); }
template <class T, class F>
void visit(math::Vector4<T>& v, F& f) {
    visit(v.x, f), visit(v.y, f), visit(v.z, f), visit(v.w, f);
}
template <class T, class F>
void visit(math::Quaternion<T>& q, F& f) {
    visit(q.w, f), visit(q.x, f), visit(q.y, f), visit(q.z, f);
}
template <class M, class F, class = typename M::Column>
void visit(M& m, F& f) {
    for (auto& s : m.m) visit(s, f);
}
template <class T, class F>
void visit(math::Euler<T>& e, F& f) {
    visit(e.x, f), visit(e.y, f), visit(e.z, f);
    f(e.order), f(e.convention);
}
template <class T, class F>
void visit(math::Line<T>& l, F& f) { visit(l.start, f), visit(l.end, f); }
template <class T, class F>
void visit(math::Plane<T>& p, F& f) { visit(p.point, f), visit(p.normal, f); }
template <class T, class F>
void visit(math::AABB<T>& b, F& f) { visit(b.min, f), visit(b.max, f); }
template <class T, class F>
void visit(math::Pose3d<T>& p, F& f) { visit(p.position, f), visit(p.orientation, f); }

template <class C>
py::bytes state_of(C value) {
    std::string out;
    auto put = [&out](const auto& s) { out.append(reinterpret_cast<const char*>(&s), sizeof s); };
    visit(value, put);
    return py::bytes(out);
}

template <class C>
C from_state(const py::bytes& state) {
    const std::string_view in = state;
    C value;
    std::size_t size = 0;
    auto count = [&size](const auto& s) { size += sizeof s; };
    visit(value, count);
    if (in.size() != size) throw py::value_error("state of the wrong size");
    std::size_t at = 0;
    auto take = [&](auto& s) {
        std::memcpy(&s, in.data() + at, sizeof s);
        at += sizeof s;
    };
    visit(value, take);
    return value;
}

}  // namespace

void register_pickling(py::module_& m) {
    for_each_class([&m](auto tag, const std::string& name) {
        using C = typename decltype(tag)::type;
        declare::def(m, ("_state_" + name).c_str(), &state_of<C>);
        declare::def(m, ("_restore_" + name).c_str(), &from_state<C>);
    });
}
