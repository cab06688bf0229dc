"""Sets of rotations and points: random rotations, their mean, and the
rotation or rigid motion that best aligns one set onto another."""

import numpy as np

from orvane import arrays as oa

# Uniform over all rotations, reproducible from a seed.
q = oa.random_quat(1000, rng=3)
print("random:", q.shape, q.dtype)

# The mean of rotations scattered about one: q and -q count alike.
rng = np.random.default_rng(4)
center = oa.quat_from_euler([40, 10, 0], "ZYX", degrees=True)
scatter = oa.quat_from_rotation_vector(rng.normal(scale=0.05, size=(500, 3)))
samples = oa.quat_multiply(center, scatter) * rng.choice([-1, 1], size=(500, 1))
mean = oa.quat_mean(samples)
print(f"mean {np.degrees(oa.quat_angle_between(mean, center)):.3f} deg from the center")

# The rotation that best takes vectors b onto a, and the residual.
b = rng.normal(size=(50, 3))
a = oa.quat_rotate(center, b) + rng.normal(scale=0.01, size=(50, 3))
rotation, rssd = oa.align_vectors(a, b)
print(
    f"align_vectors: {np.degrees(oa.quat_angle_between(rotation, center)):.3f} deg off, "
    f"rssd {rssd:.4f}"
)

# Points: a ~ scale * R b + position, never a reflection.
points = 2.5 * oa.quat_rotate(center, b) + [1.0, -2.0, 0.5]
position, orientation, scale, rmsd = oa.align_points(points, b, scale=True)
print("align_points:", np.round(position, 9), round(float(scale), 9), f"rmsd {rmsd:.1e}")
