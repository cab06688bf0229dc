#include <cstdio>

#include "math/vector.hpp"

int main() {
    const math::Vector3<float> a(1, 2, 3), b(4, 5, 6);
    std::printf("%g\n", double(math::dot(a, b)));
    return 0;
}
