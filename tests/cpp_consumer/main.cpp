#include <cstdint>
#include <cstdio>

#include "math/bounds.hpp"
#include "math/closest_points.hpp"
#include "math/euler.hpp"
#include "math/frustum.hpp"
#include "math/geometry.hpp"
#include "math/matrix.hpp"
#include "math/mesh.hpp"
#include "math/planes.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/ray.hpp"
#include "math/scalar.hpp"
#include "math/vector.hpp"

int main() {
    const math::Vector3<float> a(1, 2, 3), b(4, 5, 6);
    std::printf("dot %g\n", double(math::dot(a, b)));

    const math::Matrix2<double> m(1, 2, 3, 4);
    std::printf("det %g\n", math::determinant(m));

    const auto quarter = math::Quaternion<double>::RotationZ(1.5707963267948966);
    const math::Pose3d<double> pose(math::Vector3<double>(1, 0, 0), quarter);
    const math::Vector3<double> moved = pose.apply(math::Vector3<double>(1, 0, 0));
    std::printf("pose %.3f %.3f %.3f\n", moved.x, moved.y, moved.z);

    const math::Euler<double> angles(math::Quaternion<double>::RotationZ(0.5));
    std::printf("euler z %.3f\n", angles.z);

    const math::AABB<float> box(math::Vector3<float>(0, 0, 0), math::Vector3<float>(1, 2, 3));
    std::printf("centre %s\n", math::toString(box.computeCenter()).c_str());

    const auto half = math::slerp(math::Quaternion<double>(), quarter, 0.5);
    std::printf("slerp angle %.4f\n", math::toAxisAngle(half).angle);

    const auto hit =
        math::rayAabb(math::Vector3<float>(-1, 0.5f, 0.5f), math::Vector3<float>(1, 0, 0), box);
    std::printf("ray enters at %g\n", double(hit->tNear));

    const double corners[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    const std::int64_t faces[] = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    const math::TriangleMesh<double> tetrahedron(corners, 4, faces, 4);
    const auto onMesh = tetrahedron.raycast({0.2, 0.2, 2}, {0, 0, -1});
    std::printf("mesh face %lld at %g, inside %d\n", static_cast<long long>(onMesh.face), onMesh.t,
                int(tetrahedron.contains({0.1, 0.1, 0.1})));
    return 0;
}
