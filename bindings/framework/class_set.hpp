#pragma once

// A set of classes keyed by the address of their type object: a lookup is a
// multiplication and one or two loads, whatever the number of classes.
// Filled once at import, read on every call. Its size is fixed at compile
// time so that a lookup reads no size from memory.

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "class_traits.hpp"

// Bits of a table with room for `classes` at half load.
constexpr int class_set_bits(std::size_t classes) {
    int b = 1;
    while ((std::size_t{1} << b) < 2 * classes) ++b;
    return b;
}

class ClassSet {
public:
    bool contains(const PyTypeObject* type) const {
        for (std::size_t i = home(type);; i = (i + 1) & mask) {
            if (slots_[i] == type) return true;
            if (slots_[i] == nullptr) return false;
        }
    }

    // Half the slots at most are taken, so that probes stay short. A class
    // beyond that is left out, which only sends its calls to pybind11.
    void add(const PyTypeObject* type) {
        if (contains(type) || 2 * (count_ + 1) > size) return;
        std::size_t i = home(type);
        while (slots_[i] != nullptr) i = (i + 1) & mask;
        slots_[i] = type;
        ++count_;
    }

private:
    static constexpr int bits = class_set_bits(Registry::count);
    static constexpr std::size_t size = std::size_t{1} << bits;
    static constexpr std::size_t mask = size - 1;
    static_assert(2 * Registry::count <= size, "every class of the registry fits at half load");

    // Fibonacci hashing: the top bits of the address times 2^64/phi.
    static std::size_t home(const PyTypeObject* type) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(type));
        return static_cast<std::size_t>((address * UINT64_C(0x9E3779B97F4A7C15)) >> (64 - bits));
    }

    const PyTypeObject* slots_[size] = {};
    std::size_t count_ = 0;
};
