#pragma once

// Making a batch operation's ufunc from its per-element functions, for the
// files that register them. Only gufuncs.cpp sees NumPy's headers: the
// operand types are its type numbers, fixed by NumPy's ABI.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "gufunc_loop.hpp"
#include "lane_loop.hpp"
#include "math/matrix.hpp"

namespace ufuncs {

namespace py = pybind11;

// NumPy's PyUFuncGenericFunction.
using LoopFunction = void (*)(char**, const gufunc::Index*, const gufunc::Index*, void*);

// NumPy's type numbers, checked against its headers in gufuncs.cpp.
template <class T>
constexpr char type_number = 0;
template <>
constexpr char type_number<bool> = 0;
template <>
constexpr char type_number<std::int8_t> = 1;
template <>
constexpr char type_number<float> = 11;
template <>
constexpr char type_number<double> = 12;

// What NumPy keeps pointers to for the life of a ufunc; owned by the ufunc.
struct Definition {
    std::string name, doc, signature;
    int nin = 0, nout = 0;
    LoopFunction loops[2] = {nullptr, nullptr};
    void* data[2] = {nullptr, nullptr};
    // The type of each operand of both loops, float32 loop first.
    std::string types;
};

// Adds the ufunc to m and returns it.
py::object define(py::module_& m, std::unique_ptr<Definition> d);

// Raises ValueError from inside a loop, which runs without the interpreter
// lock; NumPy stops the call once the loop returns.
void raise_in_loop(const std::string& message);

template <class Tuple, std::size_t... k>
std::string types_of(std::index_sequence<k...>) {
    return {type_number<typename gufunc::Layout<std::tuple_element_t<k, Tuple>>::Scalar>...};
}

template <class L>
std::string operand_types() {
    return types_of<typename L::In>(std::make_index_sequence<L::nin>()) +
           types_of<typename L::Out>(std::make_index_sequence<L::nout>());
}

template <class L32, class L64>
std::unique_ptr<Definition> definition(std::string name, std::string doc) {
    static_assert(std::is_same_v<typename L32::Scalar, float>);
    static_assert(std::is_same_v<typename L64::Scalar, double>);
    static_assert(L32::nin == L64::nin && L32::nout == L64::nout);
    auto d = std::make_unique<Definition>();
    d->name = std::move(name);
    d->doc = std::move(doc);
    d->nin = L32::nin;
    d->nout = L32::nout;
    d->types = operand_types<L32>() + operand_types<L64>();
    return d;
}

// A ufunc of the two per-element functions, its core signature that of
// their parameters and results.
template <auto F32, auto F64>
py::object add(py::module_& m, std::string name, std::string doc,
               LoopFunction run32 = &gufunc::Loop<F32>::run,
               LoopFunction run64 = &gufunc::Loop<F64>::run) {
    using L32 = gufunc::Loop<F32>;
    using L64 = gufunc::Loop<F64>;
    static_assert(L32::signature == L64::signature, "both precisions take the same shapes");
    static_assert(L32::signature.size < static_cast<int>(sizeof L32::signature.text));
    auto d = definition<L32, L64>(std::move(name), std::move(doc));
    d->signature = L32::signature.text;
    d->loops[0] = run32;
    d->loops[1] = run64;
    return define(m, std::move(d));
}

// The same, its loops computing blocks of elements in SIMD lanes through
// Lane<X>::value (see lane_loop.hpp).
template <auto F32, auto F64, template <class> class Lane>
py::object add_lanes(py::module_& m, std::string name, std::string doc) {
    return add<F32, F64>(m, std::move(name), std::move(doc), &gufunc::LaneLoop<F32, Lane>::run,
                         &gufunc::LaneLoop<F64, Lane>::run);
}

// The loop of the matrix order n = 2, 3 or 4 that a call brings, n being
// the first core dimension.
template <auto F2, auto F3, auto F4>
void by_order(char** args, const gufunc::Index* dimensions, const gufunc::Index* steps,
              void* data) {
    switch (dimensions[1]) {
        case 2: return gufunc::Loop<F2>::run(args, dimensions, steps, data);
        case 3: return gufunc::Loop<F3>::run(args, dimensions, steps, data);
        case 4: return gufunc::Loop<F4>::run(args, dimensions, steps, data);
    }
    // The data of these loops is the ufunc's name.
    raise_in_loop(static_cast<const char*>(data) + (": n is " + std::to_string(dimensions[1])) +
                  ", expected 2, 3 or 4");
}

// A ufunc over square matrices of order 2, 3 or 4: the per-element functions
// for each order, float then double; signature names the order n.
template <template <class> class F>
py::object add_by_order(py::module_& m, std::string name, const char* signature, std::string doc) {
    auto d =
        definition<gufunc::Loop<F<math::Matrix2<float>>::value>,
                   gufunc::Loop<F<math::Matrix2<double>>::value>>(std::move(name), std::move(doc));
    d->signature = signature;
    d->data[0] = d->data[1] = const_cast<char*>(d->name.c_str());
    d->loops[0] = &by_order<F<math::Matrix2<float>>::value, F<math::Matrix3<float>>::value,
                            F<math::Matrix4<float>>::value>;
    d->loops[1] = &by_order<F<math::Matrix2<double>>::value, F<math::Matrix3<double>>::value,
                            F<math::Matrix4<double>>::value>;
    return define(m, std::move(d));
}

}  // namespace ufuncs
