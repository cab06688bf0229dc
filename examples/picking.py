"""Picking: the ray through a pixel hits the nearest of several posed crates,
all in one triangle mesh."""

import math

import numpy as np
from shapes import BOX_FACES

import orvane as ov

WIDTH, HEIGHT = 640, 480
VIEWPORT = (0, 0, WIDTH, HEIGHT)

# The camera of camera.py: 1.5 up, 6 back, tilted down a little.
projection = ov.Matrix4d.Perspective(60, WIDTH / HEIGHT, 0.1, 100)
camera = ov.Pose3d_d(ov.Vector3d(0, 1.5, 6), ov.Quaterniond.RotationX(-0.15))
view_projection = projection * camera.inverse().toMatrix()

# A unit crate in its own coordinates, placed four times; "hidden" stands
# right behind "front", turned.
crate = ov.AABB_d(ov.Vector3d(-0.5, 0, -0.5), ov.Vector3d(0.5, 1, 0.5))
placements = {
    "left": ov.Pose3d_d(ov.Vector3d(-1.5, 0, 0), ov.Quaterniond.RotationY(0.6)),
    "right": ov.Pose3d_d(ov.Vector3d(1.5, 0, -2), ov.Quaterniond()),
    "front": ov.Pose3d_d(ov.Vector3d(0, 0, 1), ov.Quaterniond()),
    "hidden": ov.Pose3d_d(ov.Vector3d(0, 0, -1), ov.Quaterniond.RotationY(0.3)),
}
names = list(placements)

# The placed crates as one mesh of 12 triangles each, in the order of names:
# a face index divided by 12 tells which crate a ray hit.
corners = [
    [np.asarray(placement * c) for c in crate.computeCorners()] for placement in placements.values()
]
mesh = ov.Mesh(
    np.concatenate(corners), np.concatenate([BOX_FACES + 8 * k for k in range(len(names))])
)


def pixel_ray(column: float, row: float) -> tuple[ov.Vector3d, ov.Vector3d]:
    """The world ray through a pixel (row 0 at the top): from the near plane,
    with a unit direction so that t is a distance."""
    # Window depth 0 is the near plane, 1 the far plane.
    origin = ov.unproject(ov.Vector3d(column, row, 0), view_projection, VIEWPORT)
    end = ov.unproject(ov.Vector3d(column, row, 1), view_projection, VIEWPORT)
    return origin, (end - origin).normalize()


def pick(column: float, row: float) -> tuple[str, float] | None:
    """The name of the nearest crate under a pixel and its distance."""
    # One query for every crate: the nearest face hit wins, whichever crate
    # it belongs to.
    t, face, _, _ = mesh.raycast(*pixel_ray(column, row))
    if face < 0:
        return None
    return names[int(face) // len(BOX_FACES)], float(t)


def pick_boxes(column: float, row: float) -> tuple[str, float] | None:
    """The same pick crate by crate, with the exact box test."""
    origin, direction = pixel_ray(column, row)
    hits = []
    for name, placement in placements.items():
        # Cheap rejection with the crate's world box, then the exact test in
        # the crate's own coordinates, where it is axis-aligned. A rigid
        # pose keeps lengths, so t is the same in both frames.
        if ov.ray_aabb(origin, direction, ov.aabb_transform(crate, placement)) is None:
            continue
        to_crate = placement.inverse()
        local = ov.ray_aabb(to_crate * origin, to_crate.orientation.rotate(direction), crate)
        if local is not None:
            hits.append((local[0], name))
    if not hits:
        return None
    distance, name = min(hits)
    return name, distance


# Aim at the middle of each crate: every one is hit, except the one hidden
# behind another.
for name, placement in placements.items():
    pixel = ov.project(placement * ov.aabb_center(crate), view_projection, VIEWPORT)
    hit = pick(pixel.x, pixel.y)
    seen = "nothing" if hit is None else f"{hit[0]} at {hit[1]:.3f}"
    print(f"aim at {name:<6} pixel ({pixel.x:5.1f}, {pixel.y:5.1f}): {seen}")
print("top-left corner:", pick(0, 0))

# The box tests crate by crate pick the same crates at the same distances.
grid = [(x, y) for x in range(0, WIDTH, 20) for y in range(0, HEIGHT, 20)]
picks = [(pick(x, y), pick_boxes(x, y)) for x, y in grid]
agree = all(
    a == b or (a and b and a[0] == b[0] and math.isclose(a[1], b[1], rel_tol=1e-9))
    for a, b in picks
)
hits = sum(a is not None for a, _ in picks)
print(f"{hits} of {len(grid)} grid pixels hit; the box tests agree: {agree}")
