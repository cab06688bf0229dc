"""A camera looks at a few crates: those outside its view are culled, the
others projected to pixels, and with --png PATH drawn into a picture."""

import argparse

import orvane as ov

WIDTH, HEIGHT = 640, 480

# A 60° vertical field of view: the four-argument Perspective takes degrees.
projection = ov.Matrix4f.Perspective(60, WIDTH / HEIGHT, 0.1, 100)

# The camera stands 1.5 up and 6 back and looks at a point just above the
# ground; look_at gives the view matrix (world to camera, looking along -z).
view = ov.look_at(
    eye=ov.Vector3f(0, 1.5, 6), target=ov.Vector3f(0, 0.6, 0), up=ov.Vector3f(0, 1, 0)
)
view_projection = projection * view
VIEWPORT = (0.0, 0.0, float(WIDTH), float(HEIGHT))

# A unit crate in its own coordinates, and places to put it.
crate = ov.AABB_f(ov.Vector3f(-0.5, 0, -0.5), ov.Vector3f(0.5, 1, 0.5))
placements = {
    "left": ov.Pose3d_f(ov.Vector3f(-1.5, 0, 0), ov.Quaternionf.RotationY(0.6)),
    "right": ov.Pose3d_f(ov.Vector3f(1.5, 0, -2), ov.Quaternionf()),
    "edge": ov.Pose3d_f(ov.Vector3f(-5, 0, -1), ov.Quaternionf.RotationY(0.3)),
    "behind": ov.Pose3d_f(ov.Vector3f(0, 0, 8), ov.Quaternionf()),
    "aside": ov.Pose3d_f(ov.Vector3f(12, 0, 0), ov.Quaternionf()),
}
# The twelve edges: pairs of corners whose indices differ in one bit.
EDGES = [(k, k | bit) for bit in (1, 2, 4) for k in range(8) if not k & bit]


# Cull first: a crate whose world box lies wholly outside one frustum plane
# cannot be seen, and is never projected.
planes = ov.frustum_planes(view_projection)
VERDICT = {-1: "culled", 0: "partly in view", 1: "in view"}
projected = {}
print(f"{'crate':<7} {'frustum':<15} {'columns':>13} {'rows':>13} {'depth':>15}")
for name, placement in placements.items():
    verdict = ov.classify_aabb(ov.aabb_transform(crate, placement), planes)
    if verdict < 0:
        print(f"{name:<7} {VERDICT[verdict]}")
        continue
    # Each corner placed in the world, then to pixels: column, row (row 0 at
    # the top) and depth in [0, 1].
    windows = [ov.project(placement * c, view_projection, VIEWPORT) for c in crate.computeCorners()]
    pixels = [(w.x, w.y, w.z) for w in windows]
    projected[name] = pixels
    columns, rows, depths = zip(*pixels, strict=True)
    print(
        f"{name:<7} {VERDICT[verdict]:<15} {min(columns):6.1f}-{max(columns):6.1f} "
        f"{min(rows):6.1f}-{max(rows):6.1f} {min(depths):7.4f}-{max(depths):7.4f}"
    )


def draw(path: str) -> None:
    """The projected edges of the crates in view, as a PNG."""
    try:
        from matplotlib.figure import Figure
    except ImportError:
        print("matplotlib is not installed: no picture (pip install matplotlib)")
        return
    figure = Figure(figsize=(WIDTH / 100, HEIGHT / 100), dpi=100)
    axes = figure.add_axes((0, 0, 1, 1))
    axes.set_xlim(0, WIDTH)
    axes.set_ylim(HEIGHT, 0)  # row 0 at the top
    axes.set_xticks([])
    axes.set_yticks([])
    for name, pixels in projected.items():
        for a, b in EDGES:
            axes.plot([pixels[a][0], pixels[b][0]], [pixels[a][1], pixels[b][1]], color="k")
        column = sum(p[0] for p in pixels) / 8
        row = min(p[1] for p in pixels)
        axes.annotate(
            name, (column, row), xytext=(0, 4), textcoords="offset points", ha="center", va="bottom"
        )
    figure.savefig(path, metadata={"Software": None})
    print(f"drew {len(projected)} crates into {path}")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--png", metavar="PATH", help="draw the crates in view into a PNG")
    arguments = parser.parse_args()
    if arguments.png:
        draw(arguments.png)
