// The state of every class as the bytes of its stored scalars, in native
// byte order, so that a round trip keeps -0, NaN payloads, infinities and
// unnormalized orientations exactly. The layout follows the class table:
// the numbers of the fields in their order (into fields of class type, a
// matrix by its storage), then the enum fields, as pickles have always
// been written.

#include <pybind11/pybind11.h>

#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>

#include "class_kinds.hpp"
#include "classes.hpp"
// The value casters of the classes, which refuse an instance without a value.
#include "internals.hpp"
#include "registration.hpp"

namespace {

// Calls f on every stored number of a value, or with `enums` on every enum.
template <bool enums, class C, class F>
void visit(C& value, F& f) {
    if constexpr (std::is_floating_point_v<C>) {
        if constexpr (!enums) f(value);
    } else if constexpr (std::is_enum_v<C>) {
        if constexpr (enums) f(value);
    } else if constexpr (IsMatrix<C>::value) {
        constexpr int n = ClassTraits<C>::size;
        if constexpr (!enums) {
            for (int k = 0; k < n * n; ++k) f(value.data()[k]);
        }
    } else {
        std::apply([&](const auto&... field) { (visit<enums>(value.*(field.member), f), ...); },
                   ClassTraits<C>::fields);
    }
}

template <class C, class F>
void visit_state(C& value, F&& f) {
    visit<false>(value, f);
    visit<true>(value, f);
}

template <class C>
py::bytes state_of(C value) {
    std::string out;
    visit_state(value,
                [&out](const auto& s) { out.append(reinterpret_cast<const char*>(&s), sizeof s); });
    return py::bytes(out);
}

template <class C>
C from_state(const py::bytes& state) {
    const std::string_view in = state;
    C value;
    std::size_t size = 0;
    visit_state(value, [&size](const auto& s) { size += sizeof s; });
    if (in.size() != size) throw py::value_error("state of the wrong size");
    std::size_t at = 0;
    visit_state(value, [&](auto& s) {
        std::memcpy(&s, in.data() + at, sizeof s);
        at += sizeof s;
    });
    return value;
}

}  // namespace

// One table from each class to its (state, restore) functions, which the
// package hands to copyreg.
void register_pickling(py::module_& m) {
    py::dict table;
    for_each_class([&table](auto tag, const std::string&) {
        using C = typename decltype(tag)::type;
        table[py::type::of<C>()] =
            py::make_tuple(py::cpp_function(&state_of<C>, py::name("state")),
                           py::cpp_function(&from_state<C>, py::name("restore")));
    });
    m.attr("_state_and_restore") = table;
}
