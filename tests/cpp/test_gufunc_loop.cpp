// The batch loop over strided memory gives, element by element, exactly what
// the per-element function gives, whatever the strides.

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "elementwise.hpp"
#include "gufunc_loop.hpp"

namespace {

using gufunc::Index;

// n values of `width` scalars each (0: a scalar), packed, or with a gap after
// each value and the components in reverse order.
template <class T>
struct Operand {
    int width;
    std::vector<T> storage;
    Index outer, inner;
    char* first;

    Operand(int width_, int n, bool packed) : width(width_) {
        const int w = width > 0 ? width : 1, slot = packed ? w : w + 1;
        storage.assign(static_cast<std::size_t>(n * slot), T(0));
        outer = slot * Index(sizeof(T));
        inner = packed ? Index(sizeof(T)) : -Index(sizeof(T));
        first = reinterpret_cast<char*>(storage.data()) + (packed ? 0 : (w - 1) * sizeof(T));
    }
    T& at(int e, int k) { return *reinterpret_cast<T*>(first + e * outer + k * inner); }
};

// Runs Loop<F> over the operands, inputs first, as NumPy calls it.
template <auto F, class T>
void run(std::initializer_list<Operand<T>*> operands, int n) {
    std::vector<char*> args;
    std::vector<Index> steps;
    for (auto* o : operands) args.push_back(o->first), steps.push_back(o->outer);
    for (auto* o : operands) {
        if (o->width > 0) steps.push_back(o->inner);
    }
    const Index dimensions[] = {n};
    gufunc::Loop<F>::run(args.data(), dimensions, steps.data(), nullptr);
}

template <class T>
void fill(Operand<T>& o, int n, std::mt19937& rng) {
    std::normal_distribution<T> normal(T(0), T(2));
    for (int e = 0; e < n; ++e) {
        for (int k = 0; k < (o.width > 0 ? o.width : 1); ++k) o.at(e, k) = normal(rng);
    }
}

template <class T>
math::Quaternion<T> quat(Operand<T>& o, int e) {
    return {o.at(e, 0), o.at(e, 1), o.at(e, 2), o.at(e, 3)};
}
template <class T>
math::Vector3<T> vec(Operand<T>& o, int e) {
    return {o.at(e, 0), o.at(e, 1), o.at(e, 2)};
}

template <class T>
void expectBits(Operand<T>& o, int e, const T* expected) {
    for (int k = 0; k < o.width; ++k) {
        EXPECT_EQ(0, std::memcmp(&o.at(e, k), &expected[k], sizeof(T))) << "element " << e;
    }
}

template <class T>
class GufuncLoop : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(GufuncLoop, Precisions);

TYPED_TEST(GufuncLoop, TwoOutputsFromFourInputs) {
    using T = TypeParam;
    constexpr int n = 50;
    std::mt19937 rng(1);
    for (bool packed : {true, false}) {
        Operand<T> pa(3, n, packed), qa(4, n, packed), pb(3, n, packed), qb(4, n, packed),
            p(3, n, packed), q(4, n, packed);
        for (auto* o : {&pa, &qa, &pb, &qb}) fill(*o, n, rng);
        run<&elementwise::poseCompose<T>>({&pa, &qa, &pb, &qb, &p, &q}, n);
        for (int e = 0; e < n; ++e) {
            const auto [position, orientation] = elementwise::poseCompose(
                vec(pa, e), quat(qa, e), vec(pb, e), quat(qb, e));
            expectBits(p, e, position.data());
            expectBits(q, e, orientation.data());
        }
    }
}

}  // namespace
