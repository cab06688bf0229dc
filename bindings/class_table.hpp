#pragma once

// A set of classes keyed by the address of their type object, with a value
// per class: a lookup is a multiplication and one or two loads, whatever the
// number of classes. Filled once at import, read on every call.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

template <class Value, std::size_t Bits = 6>
class ClassTable {
public:
    // The value of exactly `type`, or nullptr.
    const Value* find(const PyTypeObject* type) const {
        for (std::size_t i = home(type);; i = (i + 1) & mask) {
            if (slots_[i].type == type) return &slots_[i].value;
            if (slots_[i].type == nullptr) return nullptr;
        }
    }
    Value* find(const PyTypeObject* type) {
        return const_cast<Value*>(static_cast<const ClassTable&>(*this).find(type));
    }

    // Half the slots at most stay taken, so that probes stay short.
    Value& add(const PyTypeObject* type) {
        if (Value* v = find(type)) return *v;
        if (2 * (count_ + 1) > size) throw std::length_error("class table full");
        std::size_t i = home(type);
        while (slots_[i].type != nullptr) i = (i + 1) & mask;
        ++count_;
        slots_[i].type = type;
        return slots_[i].value;
    }

private:
    static constexpr std::size_t size = std::size_t{1} << Bits;
    static constexpr std::size_t mask = size - 1;

    // Fibonacci hashing: the top bits of the address times 2^64/phi.
    static std::size_t home(const PyTypeObject* type) {
        return static_cast<std::size_t>(
            (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(type)) *
             UINT64_C(0x9E3779B97F4A7C15)) >>
            (64 - Bits));
    }

    struct Slot {
        const PyTypeObject* type = nullptr;
        Value value{};
    };
    Slot slots_[size] = {};
    std::size_t count_ = 0;
};
