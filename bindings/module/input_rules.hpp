#pragma once

// The messages of the vector rules, which the vector classes and every
// callable taking a point follow.

#include <string>

#include "array_rules.hpp"

inline std::string expected_elements(int n, py::ssize_t) { return element_count_error(n); }

constexpr ComponentRules kVectorRules{"Incompatible shape: expected (, n), (1, n), (n, 1)",
                                      &expected_elements};
