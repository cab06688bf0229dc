#pragma once

// The package's functions take array-likes where they take a vector or a
// quaternion. Each function keeps its float and double overloads for
// objects, which stay on their fast path, and gains one more, declared with
// array_likes::def, that takes any argument a parameter could mean: an
// object of either precision, or 2, 3 or 4 numbers as a tuple, a list, a
// one-dimensional array or a buffer. It reads every argument, says what is
// wrong with the first bad one, picks the precision and calls the float or
// the double function: the very ones the object overloads bind.
//
// The precision: that of the objects among the arguments (mixing raises
// TypeError); else that of dtype=; else float32 when some array or buffer
// is float32 and none is of another dtype, float64 otherwise.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "class_traits.hpp"
#include "declarations.hpp"

namespace py = pybind11;

namespace array_likes {

// Any argument of a parameter of class K<float> or K<double>; Shown gives
// the signature's text.
template <class Shown>
struct Loose {
    PyObject* object = nullptr;
};

// The double version of a float class, number or result.
template <class R>
struct Doubled {
    using type = R;
};
template <>
struct Doubled<float> {
    using type = double;
};
template <template <class> class K, class X>
struct Doubled<K<X>> {
    using type = K<typename Doubled<X>::type>;
};
template <class... R>
struct Doubled<std::tuple<R...>> {
    using type = std::tuple<typename Doubled<R>::type...>;
};
template <class A, class B>
struct Doubled<std::pair<A, B>> {
    using type = std::pair<typename Doubled<A>::type, typename Doubled<B>::type>;
};

// Classes whose parameters also take numbers: the vectors and quaternions.
template <class C, class = void>
struct TakesNumbers : std::false_type {};
template <class C>
struct TakesNumbers<C, std::enable_if_t<IsModuleClass<C>::value>>
    : std::bool_constant<std::is_same_v<typename ClassTraits<C>::Family, Vectors> ||
                         std::is_same_v<typename ClassTraits<C>::Family, Quaternions>> {};

// The signature's text of a parameter of class C (its float version).
template <class C>
struct Shown {
    using Float = C;
    using Double = typename Doubled<C>::type;
};

// Any vector of 2, 3 or 4 components.
struct AnyVector {};

// The dtype= of the generic overload: None, or what numpy.dtype reads.
struct DType {
    py::object value;
};

// Whether a result is a class of the module, or a pair or tuple holding one.
template <class R>
struct HoldsClass : IsModuleClass<R> {};
template <class A, class B>
struct HoldsClass<std::pair<A, B>>
    : std::bool_constant<HoldsClass<A>::value || HoldsClass<B>::value> {};
template <class... R>
struct HoldsClass<std::tuple<R...>> : std::bool_constant<(HoldsClass<R>::value || ...)> {};

// The result of one of the functions R, as the call made it.
template <class... R>
struct Result {
    using python_result = void;
    py::object object;
};

}  // namespace array_likes

namespace pybind11::detail {

template <class C>
struct type_caster<array_likes::Loose<array_likes::Shown<C>>> {
    using Shown = array_likes::Shown<C>;
    static constexpr auto objects = make_caster<typename Shown::Float>::name + const_name(" | ") +
                                    make_caster<typename Shown::Double>::name;
    PYBIND11_TYPE_CASTER(array_likes::Loose<Shown>,
                         objects + const_name<array_likes::TakesNumbers<C>::value>(
                                       const_name(" | numpy.typing.ArrayLike"), const_name("")));
    bool load(handle src, bool) {
        value.object = src.ptr();
        return true;
    }
};

template <>
struct type_caster<array_likes::DType> {
    PYBIND11_TYPE_CASTER(array_likes::DType, const_name("numpy.typing.DTypeLike"));
    bool load(handle src, bool) {
        value.value = reinterpret_borrow<object>(src);
        return true;
    }
};

// "A | B | C" of the names of R.
template <class First, class... Rest>
constexpr auto alternatives() {
    return (make_caster<First>::name + ... + (const_name(" | ") + make_caster<Rest>::name));
}

template <>
struct type_caster<array_likes::Loose<array_likes::AnyVector>> {
    PYBIND11_TYPE_CASTER(
        array_likes::Loose<array_likes::AnyVector>,
        (alternatives<math::Vector2<float>, math::Vector3<float>, math::Vector4<float>,
                      math::Vector2<double>, math::Vector3<double>, math::Vector4<double>>() +
         const_name(" | numpy.typing.ArrayLike")));
    bool load(handle src, bool) {
        value.object = src.ptr();
        return true;
    }
};

template <class... R>
struct type_caster<array_likes::Result<R...>> {
    using First = std::tuple_element_t<0, std::tuple<R...>>;
    using Wide = typename array_likes::Doubled<First>::type;
    // One name where every result reads the same in Python (float, or
    // tuples of them), else each.
    static constexpr bool same =
        (std::is_same_v<typename array_likes::Doubled<R>::type, Wide> && ...) &&
        !(array_likes::HoldsClass<R>::value || ...);
    PYBIND11_TYPE_CASTER(array_likes::Result<R...>,
                         const_name<same>(make_caster<Wide>::name, alternatives<R...>()));
    bool load(handle, bool) { return false; }
    static handle cast(array_likes::Result<R...> r, return_value_policy, handle) {
        return r.object.release();
    }
};

}  // namespace pybind11::detail

namespace fast_calls {

template <>
struct Arg<array_likes::DType> {
    PyObject* value = nullptr;
    Outcome read(PyObject* o, bool) {
        value = o;
        return Outcome::Done;
    }
    array_likes::DType get() const { return {py::reinterpret_borrow<py::object>(value)}; }
};

template <class Shown>
struct Arg<array_likes::Loose<Shown>> {
    array_likes::Loose<Shown> value;
    Outcome read(PyObject* o, bool) {
        value.object = o;
        return Outcome::Done;
    }
    const array_likes::Loose<Shown>& get() const { return value; }
};

}  // namespace fast_calls

namespace array_likes {

// What an argument says of the call's precision.
enum class Hint { None, FloatObject, DoubleObject, Float32Array, OtherArray, Numbers };

// What the messages of one function name.
struct Info {
    std::string function;
    std::vector<std::string> parameters;
    std::string batch;     // the orvane.arrays function for many, if any
    std::string expected;  // what the first parameter takes, where it takes more than one class
};

std::string type_name(PyObject* o);

// dtype as numpy.dtype reads it: true for float32, false for float64;
// TypeError for any other, its message led by `function` if given.
bool single_precision(const py::object& dtype, const std::string& function = "");

// The precision of the call (true for float) from its arguments' hints.
bool decide(const Info& info, const Hint* hints, PyObject* const* arguments, std::size_t n,
            const py::object& dtype);

// What a parameter takes, and its components, for the messages.
struct Describe {
    std::string (*expected)(const Info& info, std::size_t k);
    std::string (*components)();
};

// The numbers of a one-dimensional array-like of size n, or the error that
// says what it is instead.
Hint read_numbers(PyObject* o, int n, double* out, const Info& info, std::size_t k,
                  const Describe& describe);

// The number of components of an argument for a function of vectors of any
// size: its class's, or its length; 0 when it has none.
int size_of(PyObject* o);

template <class C>
std::string components() {
    std::string text = "(";
    std::apply(
        [&](auto... f) { ((text += (text.size() > 1 ? ", " : "") + std::string(f.name)), ...); },
        ClassTraits<C>::fields);
    return text + ")";
}

// "a Vector3f", "an AABB_f".
std::string a_or_an(const std::string& name);

template <class C>
std::string what_it_takes(const Info& info, std::size_t k) {
    using D = typename Doubled<C>::type;
    if (k == 0 && !info.expected.empty()) return info.expected;
    if constexpr (TakesNumbers<C>::value) {
        return a_or_an(class_name<C>()) + ", " + a_or_an(class_name<D>()) + " or " +
               std::to_string(ClassTraits<C>::size) + " numbers " + components<C>();
    } else {
        return a_or_an(class_name<C>()) + " or " + a_or_an(class_name<D>());
    }
}

// The value of an object of class X, subclasses included: pybind11's
// caster, which refuses an instance without a value.
template <class X>
const X* value_of(PyObject* o) {
    if (Py_TYPE(o) == internals::registered_type<X>()) {
        if (const X* held = internals::held_value<X>(o)) return held;
    }
    return &py::handle(o).cast<const X&>();
}

// One argument of the generic overload, read for a parameter of type P of
// the float function.
template <class P, class = void>
struct Read;

template <class P>
struct Read<P, std::enable_if_t<std::is_floating_point_v<P>>> {
    double number;
    Hint hint = Hint::None;
    Read(double d, const Info&, std::size_t) : number(d) {}
    template <class T>
    T get() {
        return static_cast<T>(number);
    }
};

template <class C>
struct Read<C, std::enable_if_t<IsModuleClass<C>::value>> {
    using D = typename Doubled<C>::type;
    const C* single = nullptr;
    const D* twice = nullptr;
    C single_made{};
    D twice_made{};
    std::array<double, 4> numbers{};
    Hint hint = Hint::None;

    Read(const Loose<Shown<C>>& a, const Info& info, std::size_t k) {
        PyObject* o = a.object;
        // Lists and tuples, which come most often, are no objects.
        const bool sequence = PyTuple_CheckExact(o) || PyList_CheckExact(o);
        if (!sequence && PyObject_TypeCheck(o, internals::registered_type<C>())) {
            single = value_of<C>(o);
            hint = Hint::FloatObject;
        } else if (!sequence && PyObject_TypeCheck(o, internals::registered_type<D>())) {
            twice = value_of<D>(o);
            hint = Hint::DoubleObject;
        } else if constexpr (TakesNumbers<C>::value) {
            static constexpr Describe describe{&what_it_takes<C>, &components<C>};
            hint = read_numbers(o, ClassTraits<C>::size, numbers.data(), info, k, describe);
        } else {
            throw py::type_error(info.function + ": " + info.parameters[k] + " must be " +
                                 what_it_takes<C>(info, k) + ", not " + type_name(o));
        }
    }

    // The value in precision T, which decide made that of every object.
    template <class T>
    const auto& get() {
        auto [object, made] = [this] {
            if constexpr (std::is_same_v<T, float>) {
                return std::make_pair(single, &single_made);
            } else {
                return std::make_pair(twice, &twice_made);
            }
        }();
        if constexpr (TakesNumbers<C>::value) {
            if (object == nullptr) {
                std::size_t i = 0;
                std::apply(
                    [&](auto... f) { (((*made).*f.member = static_cast<T>(numbers[i++])), ...); },
                    ClassTraits<std::decay_t<decltype(*made)>>::fields);
                return *made;
            }
        }
        return *object;
    }
};

// The argument type of the generic overload for a parameter P.
template <class P, class = void>
struct Param {
    using type = Loose<Shown<std::decay_t<P>>>;
};
template <class P>
struct Param<P, std::enable_if_t<std::is_floating_point_v<P>>> {
    using type = double;
};

template <class R>
py::object to_object(R&& r) {
    using D = std::decay_t<R>;
    if constexpr (std::is_base_of_v<py::handle, D>) {
        return std::forward<R>(r);
    } else if constexpr (fast_calls::Returnable<D>::value && !std::is_void_v<D>) {
        return py::reinterpret_steal<py::object>(fast_calls::to_python(std::forward<R>(r)));
    } else {
        return py::cast(std::forward<R>(r));
    }
}

// The generic overload of a function bound as F32 and F64. It calls them
// through pointers set where it is declared, so that the one compiled copy
// of each runs, as in the object overloads.
template <auto F32, auto F64>
struct Generic;

template <class R32, class... P32, R32 (*F32)(P32...), class R64, class... P64, R64 (*F64)(P64...)>
struct Generic<F32, F64> {
    static_assert(sizeof...(P32) == sizeof...(P64));
    static constexpr std::size_t arity = sizeof...(P32);
    using Single = std::decay_t<R32>;
    using Twice = std::decay_t<R64>;
    static inline Info info;
    static inline R32 (*single)(P32...) = nullptr;
    static inline R64 (*twice)(P64...) = nullptr;
    using Out = Result<Single, Twice>;

    static Out call(const typename Param<std::decay_t<P32>>::type&... a, const DType& dtype) {
        return run(std::index_sequence_for<P32...>(), dtype.value, a...);
    }

    template <std::size_t... k, class... A>
    static Out run(std::index_sequence<k...>, const py::object& dtype, const A&... a) {
        std::tuple<Read<std::decay_t<P32>>...> read{Read<std::decay_t<P32>>(a, info, k)...};
        const Hint hints[] = {std::get<k>(read).hint...};
        PyObject* const arguments[] = {as_object(a)...};
        if (decide(info, hints, arguments, sizeof...(P32), dtype)) {
            return {to_object(single(std::get<k>(read).template get<float>()...))};
        }
        return {to_object(twice(std::get<k>(read).template get<double>()...))};
    }

    template <class A>
    static PyObject* as_object(const A& a) {
        if constexpr (std::is_floating_point_v<A>) {
            return nullptr;
        } else {
            return a.object;
        }
    }

    // What the messages name, and the functions to call.
    static void prepare(Info what) {
        info = std::move(what);
        single = F32;
        twice = F64;
    }

    template <std::size_t... k>
    static void declare(py::module_& m, std::index_sequence<k...>) {
        static_assert(fast_calls::Fast<decltype(&call)>::value, "a fast form");
        static_assert(fast_calls::Returnable<Out>::value, "a fast result");
        declare::def(m, info.function.c_str(), &call, py::arg(info.parameters[k].c_str())...,
                     py::kw_only(), py::arg("dtype") = py::none());
    }
};

// The parameter names of the first overload of `name`.
std::vector<std::string> parameter_names(const py::module_& m, const char* name);

// Binds the generic overload of `name`, once its float and double ones are
// bound, with their parameters' names; `batch` names the orvane.arrays
// function for many, `expected` what the first parameter takes where it
// takes more than one class.
template <auto F32, auto F64>
void def(py::module_& m, const char* name, const char* batch = "", const char* expected = "") {
    using G = Generic<F32, F64>;
    G::prepare({name, parameter_names(m, name), batch, expected});
    if (G::info.parameters.size() != G::arity) throw std::logic_error("array_likes::def: names");
    G::declare(m, std::make_index_sequence<G::arity>());
}

// The generic overload of a function of vectors of one size, bound for
// Vector2, Vector3 and Vector4 as G2, G3 and G4: the size of the first
// argument that has one picks the function.
template <class G2, class G3, class G4>
struct BySize {
    static inline Info info;
    using Out = Result<typename G2::Single, typename G2::Twice, typename G3::Single,
                       typename G3::Twice, typename G4::Single, typename G4::Twice>;

    static Out call(const Loose<AnyVector>& a, const Loose<AnyVector>& b, const DType& dtype) {
        int n = size_of(a.object);
        std::size_t sized = 0;
        if (n == 0) {
            n = size_of(b.object);
            sized = 1;
        }
        switch (n) {
            case 2: return {G2::call({a.object}, {b.object}, dtype).object};
            case 4: return {G4::call({a.object}, {b.object}, dtype).object};
            case 0:
            case 3: return {G3::call({a.object}, {b.object}, dtype).object};
        }
        throw py::value_error(info.function + ": " + info.parameters[sized] + " has " +
                              std::to_string(n) + " numbers; it takes 2, 3 or 4");
    }
};

// Binds the generic overload of a function of two vectors of any one size.
template <auto F2, auto D2, auto F3, auto D3, auto F4, auto D4>
void def_by_size(py::module_& m, const char* name) {
    using G2 = Generic<F2, D2>;
    using G3 = Generic<F3, D3>;
    using G4 = Generic<F4, D4>;
    using B = BySize<G2, G3, G4>;
    const std::vector<std::string> parameters = parameter_names(m, name);
    B::info = {name, parameters, "", ""};
    G2::prepare(B::info);
    G4::prepare(B::info);
    // The Vector3 reader also explains an argument of no size.
    G3::prepare({name, parameters, "",
                 "a Vector2, Vector3 or Vector4 of either precision, or 2, 3 or 4 numbers"});
    declare::def(m, B::info.function.c_str(), &B::call, py::arg(B::info.parameters[0].c_str()),
                 py::arg(B::info.parameters[1].c_str()), py::kw_only(),
                 py::arg("dtype") = py::none());
}

}  // namespace array_likes
