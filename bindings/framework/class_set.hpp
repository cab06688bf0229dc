#pragma once

// A set of classes keyed by the address of their type object: a lookup is a
// multiplication and one or two loads, whatever the number of classes.
// Filled once at import, read on every call.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

class ClassSet {
public:
    bool contains(const PyTypeObject* type) const {
        for (std::size_t i = home(type);; i = (i + 1) & mask) {
            if (slots_[i] == type) return true;
            if (slots_[i] == nullptr) return false;
        }
    }

    // Half the slots at most are taken, so that probes stay short.
    void add(const PyTypeObject* type) {
        if (contains(type)) return;
        if (2 * (count_ + 1) > size) throw std::length_error("class set full");
        std::size_t i = home(type);
        while (slots_[i] != nullptr) i = (i + 1) & mask;
        slots_[i] = type;
        ++count_;
    }

private:
    static constexpr int bits = 6;
    static constexpr std::size_t size = std::size_t{1} << bits;
    static constexpr std::size_t mask = size - 1;

    // Fibonacci hashing: the top bits of the address times 2^64/phi.
    static std::size_t home(const PyTypeObject* type) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(type));
        return static_cast<std::size_t>((address * UINT64_C(0x9E3779B97F4A7C15)) >> (64 - bits));
    }

    const PyTypeObject* slots_[size] = {};
    std::size_t count_ = 0;
};
