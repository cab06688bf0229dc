#pragma once

// Per-precision facts of the Python classes: the letter that ends class
// names and reprs, the dtype word and the suffix of the array conversion
// functions, and the format-check message.

#include <type_traits>

template <class T>
struct ScalarTraits {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>,
                  "the classes exist in float and double only");
    static constexpr bool single = std::is_same_v<T, float>;

    static constexpr const char* letter = single ? "f" : "d";
    static constexpr const char* suffix = single ? "_f" : "_d";
    static constexpr const char* dtype = single ? "float32" : "float64";
    static constexpr const char* array_suffix = single ? "_f32" : "_f64";
    static constexpr const char* format_error =
        single ? "Incompatible format: expected float (float32) array"
               : "Incompatible format: expected double (float64) array";
};
