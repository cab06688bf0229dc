#include <pybind11/pybind11.h>

#include <string>

#include "classes.hpp"
#include "declarations.hpp"
#include "internals.hpp"
#include "registration.hpp"

namespace {

// pybind11 answers an argument that no overload takes with the list of all
// of them; anything that is no orvane value gets the package's message. The
// overload saying so is left out of the docstring, which lists the classes.
void refuse_other_objects(py::module_& m, const char* name) {
    const std::string doc = py::str(m.attr(name).attr("__doc__"));
    m.def(
        name,
        [name](const py::object& x) -> py::object {
            throw py::type_error(
                std::string(name) + "() takes an orvane value, not " +
                py::str(py::type::handle_of(x).attr("__name__")).cast<std::string>());
        },
        py::arg("x"));
    internals::set_docstring(m.attr(name).ptr(), doc);
}

// One overload per class: C to the same class of precision U.
template <class U>
void def_conversion(py::module_& m, const char* name, const char* doc) {
    for_each_class([&](auto tag, const std::string&) {
        using C = typename decltype(tag)::type;
        declare::def(
            m, name, [](const C& x) { return math::convert<U>(x); }, py::arg("x"), doc);
    });
    refuse_other_objects(m, name);
}

}  // namespace

void register_precision_conversions(py::module_& m) {
    def_conversion<float>(
        m, "to_float",
        "``x`` in single precision: the same class with the ``f``/``_f`` suffix,\n"
        "every value rounded to the nearest float32. A float ``x`` is copied.");
    def_conversion<double>(
        m, "to_double",
        "``x`` in double precision: the same class with the ``d``/``_d`` suffix;\n"
        "every float32 value is exact in float64. A double ``x`` is copied.");
}
