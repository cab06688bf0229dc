#pragma once

// A set of classes keyed by the address of their type object: a lookup is a
// multiplication and one or two loads, whatever the number of classes.
// Filled once at import, read on every call; it grows as it is filled.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class ClassSet {
public:
    bool contains(const PyTypeObject* type) const {
        for (std::size_t i = home(type, shift_);; i = (i + 1) & mask_) {
            if (slots_[i] == type) return true;
            if (slots_[i] == nullptr) return false;
        }
    }

    // Half the slots at most are taken, so that probes stay short.
    void add(const PyTypeObject* type) {
        if (contains(type)) return;
        if (2 * (count_ + 1) > slots_.size()) grow();
        place(type);
        ++count_;
    }

private:
    // Fibonacci hashing: the top bits of the address times 2^64/phi.
    static std::size_t home(const PyTypeObject* type, int shift) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(type));
        return static_cast<std::size_t>((address * UINT64_C(0x9E3779B97F4A7C15)) >> shift);
    }

    void place(const PyTypeObject* type) {
        std::size_t i = home(type, shift_);
        while (slots_[i] != nullptr) i = (i + 1) & mask_;
        slots_[i] = type;
    }

    void grow() {
        std::vector<const PyTypeObject*> old(2 * slots_.size(), nullptr);
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        --shift_;
        for (const PyTypeObject* type : old) {
            if (type != nullptr) place(type);
        }
    }

    static constexpr int initial_bits = 6;
    std::vector<const PyTypeObject*> slots_ =
        std::vector<const PyTypeObject*>(std::size_t{1} << initial_bits, nullptr);
    std::size_t mask_ = (std::size_t{1} << initial_bits) - 1;
    int shift_ = 64 - initial_bits;
    std::size_t count_ = 0;
};
