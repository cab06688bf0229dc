#pragma once

// Per-precision facts of the Python classes: the letter that ends class
// names and reprs, the dtype word and the suffix of the array conversion
// functions, and the format-check message.
template <class T>
struct ScalarTraits;

template <>
struct ScalarTraits<float> {
    static constexpr const char* letter = "f";
    static constexpr const char* suffix = "_f";
    static constexpr const char* dtype = "float32";
    static constexpr const char* array_suffix = "_f32";
    static constexpr const char* format_error = "Incompatible format: expected float (float32) array";
};

template <>
struct ScalarTraits<double> {
    static constexpr const char* letter = "d";
    static constexpr const char* suffix = "_d";
    static constexpr const char* dtype = "float64";
    static constexpr const char* array_suffix = "_f64";
    static constexpr const char* format_error =
        "Incompatible format: expected double (float64) array";
};
