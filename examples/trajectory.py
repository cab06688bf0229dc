"""A keyframed trajectory, sampled, estimated by a drifting tracker in its own
frame, and evaluated: alignment, absolute and relative pose error. With
--png PATH, the trajectory is drawn with its orientation axes."""

import argparse

import numpy as np
import numpy.typing as npt

from orvane import arrays as oa

Array = npt.NDArray[np.float64]

# Six keyframes of a flight: times in seconds, positions in metres and
# orientations from yaw, pitch and roll (intrinsic ZYX, degrees).
times = np.array([0.0, 2.0, 4.0, 6.0, 8.0, 10.0])
key_positions = np.array(
    [[0, 0, 1], [4, 1, 1.5], [6, 4, 2], [4, 7, 2.5], [0, 8, 2], [-2, 5, 1.5]], dtype=float
)
key_orientations = oa.quat_from_euler(
    [[0, 0, 0], [30, -5, 10], [80, -5, 15], [150, 0, 10], [200, 5, 0], [250, 5, -5]],
    "ZYX",
    degrees=True,
)

# Sampled at 20 Hz: positions linear, orientations along the shortest arcs.
t = np.linspace(0.0, 10.0, 201)
truth = oa.pose_keyframes(times, key_positions, key_orientations, t)

# The tracker reports poses in its own frame (turned 40 degrees, moved), a
# few centimetres and a fraction of a degree off at every pose.
rng = np.random.default_rng(7)
frame = (np.array([1.0, -2.0, 0.3]), oa.quat_from_euler([40, 0, 0], "ZYX", degrees=True))
noisy = (
    truth[0] + rng.normal(scale=0.03, size=truth[0].shape),
    oa.quat_multiply(
        truth[1], oa.quat_from_rotation_vector(rng.normal(scale=0.005, size=(201, 3)))
    ),
)
estimate = oa.pose_compose(*frame, *noisy)

# Align: the rigid motion taking the estimated positions onto the true ones.
position, orientation, _, rmsd = oa.align_points(truth[0], estimate[0])
aligned = oa.pose_compose(position, orientation, *estimate)
turn = np.degrees(oa.quat_angle(oa.quat_multiply(orientation, frame[1])))
print(f"frame recovered to {turn:.3f} deg; aligned RMSD {rmsd:.4f} m")

# ATE: the aligned positions against the true ones.
ate = np.sqrt(np.mean(np.sum((aligned[0] - truth[0]) ** 2, axis=-1)))


# RPE over 1 s: each motion from pose i to pose i + 20, estimate against truth.
def motions(poses: tuple[Array, Array], step: int = 20) -> tuple[Array, Array]:
    moved: tuple[Array, Array] = oa.pose_compose(
        *oa.pose_inverse(poses[0][:-step], poses[1][:-step]), poses[0][step:], poses[1][step:]
    )
    return moved


offset, error = oa.pose_compose(*oa.pose_inverse(*motions(truth)), *motions(aligned))
rpe = (
    np.sqrt(np.mean(np.sum(offset**2, axis=-1))),
    np.degrees(np.sqrt(np.mean(oa.quat_angle(error) ** 2))),
)
print(f"ATE {ate:.4f} m; RPE over 1 s {rpe[0]:.4f} m, {rpe[1]:.3f} deg")


def draw(path: str) -> None:
    """The true and aligned positions, and the orientation axes every second."""
    try:
        from matplotlib.figure import Figure
    except ImportError:
        print("matplotlib is not installed: no picture (pip install matplotlib)")
        return
    figure = Figure(figsize=(6, 5), dpi=100)
    axes = figure.add_subplot(projection="3d")
    axes.plot(*truth[0].T, color="k", linewidth=1)
    axes.plot(*aligned[0].T, color="0.6", linewidth=0.5)
    for p, q in zip(
        *oa.pose_keyframes(times, key_positions, key_orientations, t[::20]), strict=True
    ):
        for column, color in zip(oa.quat_to_matrix(q).T, "rgb", strict=True):
            axes.quiver(*p, *column, length=0.8, color=color)
    axes.set_xlabel("x (m)")
    axes.set_ylabel("y (m)")
    axes.set_zlabel("z (m)")
    axes.set_box_aspect((1, 1, 0.4))
    figure.savefig(path, metadata={"Software": None})
    print(f"drew the trajectory into {path}")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--png", metavar="PATH", help="draw the trajectory into a PNG")
    arguments = parser.parse_args()
    if arguments.png:
        draw(arguments.png)
