"""A camera looks at two crates: the crates' corners projected to pixels."""

import orvane_bindings as ob

WIDTH, HEIGHT = 640, 480

# A 60° vertical field of view: the four-argument Perspective takes degrees.
projection = ob.Matrix4f.Perspective(60, WIDTH / HEIGHT, 0.1, 100)

# The camera stands 1.5 up and 6 back, tilted down a little; it looks along
# its own -z axis.
camera = ob.Pose3d_f(ob.Vector3f(0, 1.5, 6), ob.Quaternionf.RotationX(-0.15))

# A unit crate in its own coordinates, and two places to put it.
crate = ob.AABB_f(ob.Vector3f(-0.5, 0, -0.5), ob.Vector3f(0.5, 1, 0.5))
placements = {
    "left": ob.Pose3d_f(ob.Vector3f(-1.5, 0, 0), ob.Quaternionf.RotationY(0.6)),
    "right": ob.Pose3d_f(ob.Vector3f(1.5, 0, -2), ob.Quaternionf()),
}


def to_pixels(clip: ob.Vector4f) -> tuple[float, float, float]:
    """Pixel column and row (row 0 at the top) and depth in [-1, 1]."""
    x, y, z = clip.x / clip.w, clip.y / clip.w, clip.z / clip.w
    return (x + 1) * 0.5 * WIDTH, (1 - y) * 0.5 * HEIGHT, z


print(f"{'crate':<6} {'corner':>6} {'column':>8} {'row':>8} {'depth':>7}")
for name, placement in placements.items():
    # Object to camera coordinates in one pose, then to clip space; with
    # column vectors the rightmost factor acts first.
    to_clip = projection * (camera.inverse() * placement).toMatrix()
    for k, corner in enumerate(crate.computeCorners()):
        column, row, depth = to_pixels(to_clip * ob.Vector4f(corner.x, corner.y, corner.z, 1))
        print(f"{name:<6} {k:>6} {column:>8.1f} {row:>8.1f} {depth:>7.4f}")
