"""Triangles, spheres and a first triangle mesh: nearest points, rays, and
what a face that names no vertex says."""

import numpy as np

import orvane as ov
from orvane import arrays as oa

point, (u, v, w) = ov.closest_point_on_triangle((0.2, 0.2, 1), (0, 0, 0), (1, 0, 0), (0, 1, 0))
print(point, u, v, w)
print(ov.ray_sphere((0, 0, -5), (0, 0, 1), (0, 0, 0), 1.0))
origins = np.zeros((3, 3))
origins[:, 2] = -5
print(oa.ray_sphere(origins, [0, 0, 1], [0, 0, 0], [1.0, 2.0, 9.0]))  # inside the last

mesh = ov.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], np.array([[0, 1, 2]], np.uint8))
print(mesh)
t, face, hit_u, hit_v = mesh.raycast([[0.2, 0.2, 1.0], [2.0, 2.0, 1.0]], [0.0, 0.0, -1.0])
print(t, face, hit_u, hit_v)
try:
    ov.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 3]])
except ValueError as error:
    print("ValueError:", error)
