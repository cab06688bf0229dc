"""Trajectories from other tools: TUM and KITTI pose files, read back into
orvane's scalar-first layout and compared by their relative pose error."""

import math
import tempfile
from pathlib import Path

import numpy as np
import numpy.typing as npt

from orvane import arrays as oa

Array = npt.NDArray[np.float64]

# A known trajectory of 50 poses: a slow climbing turn, rolling a little.
N = 50
steps = np.arange(N) * 0.1
turns = np.stack([0.05 * np.sin(steps), 0.02 * steps, 0.3 * steps], axis=-1)
orientations = oa.quat_from_rotation_vector(turns)
positions = np.stack([np.cos(0.3 * steps), np.sin(0.3 * steps), 0.01 * steps], axis=-1)

# A second, slightly perturbed trajectory, as an estimate of the first: a
# fraction of a degree and about a centimetre off at every pose.
rng = np.random.default_rng(11)
wobble = oa.quat_from_rotation_vector(rng.normal(scale=0.002, size=(N, 3)))
estimated = (
    positions + rng.normal(scale=0.01, size=(N, 3)),
    oa.quat_multiply(orientations, wobble),
)


def write_tum(path: Path, position: Array, orientation: Array) -> None:
    # One pose per line: timestamp tx ty tz qx qy qz qw, the scalar last.
    rows = np.column_stack([steps, position, oa.quat_to_xyzw(orientation)])
    np.savetxt(path, rows, fmt="%.17g", header="timestamp tx ty tz qx qy qz qw")


def write_kitti(path: Path, position: Array, orientation: Array) -> None:
    # One pose per line: the 3x4 matrix [R|t], its 12 numbers row by row.
    rows = np.concatenate([oa.quat_to_matrix(orientation), position[:, :, None]], axis=2)
    np.savetxt(path, rows.reshape(N, 12), fmt="%.17g")


def read_tum(path: Path) -> tuple[Array, Array]:
    data = np.loadtxt(path)  # the header line starts with #, a comment
    return data[:, 1:4], oa.quat_from_xyzw(data[:, 4:8])


def read_kitti(path: Path) -> tuple[Array, Array]:
    poses = np.loadtxt(path).reshape(-1, 3, 4)  # row-major [R|t]
    return poses[:, :, 3], oa.matrix_to_quat(poses[:, :, :3])


def inverse(position: Array, orientation: Array) -> tuple[Array, Array]:
    inverted = oa.quat_inverse(orientation)
    return -oa.quat_rotate(inverted, position), inverted


def relative_pose_error(truth: tuple[Array, Array], estimate: tuple[Array, Array]) -> Array:
    """RMSE of the translation and of the rotation angle (degrees) of the
    relative pose errors over consecutive frame pairs."""

    def motion(position: Array, orientation: Array) -> tuple[Array, Array]:
        # From each frame to the next: pose[i]^-1 * pose[i + 1].
        before = inverse(position[:-1], orientation[:-1])
        step: tuple[Array, Array] = oa.pose_compose(*before, position[1:], orientation[1:])
        return step

    offset, turn = oa.pose_compose(*inverse(*motion(*truth)), *motion(*estimate))
    angle = np.linalg.norm(oa.quat_to_rotation_vector(turn), axis=-1)
    rmse = np.sqrt([np.mean(np.sum(offset**2, axis=-1)), np.mean(angle**2)])
    return rmse * [1.0, 180 / math.pi]


with tempfile.TemporaryDirectory() as folder:
    files = Path(folder)
    write_tum(files / "truth.tum", positions, orientations)
    write_tum(files / "estimate.tum", *estimated)
    write_kitti(files / "truth.kitti", positions, orientations)
    write_kitti(files / "estimate.kitti", *estimated)

    truth = read_tum(files / "truth.tum")
    from_tum = relative_pose_error(truth, read_tum(files / "estimate.tum"))
    from_kitti = relative_pose_error(
        read_kitti(files / "truth.kitti"), read_kitti(files / "estimate.kitti")
    )
    # 17 digits give back every bit, and the reorders copy.
    print("TUM read back bit for bit:", np.array_equal(truth[1], orientations))
    print(f"RPE from TUM files:   {from_tum[0]:.6f} m, {from_tum[1]:.6f} deg")
    print(f"RPE from KITTI files: {from_kitti[0]:.6f} m, {from_kitti[1]:.6f} deg")
    assert np.array_equal(truth[1], orientations) and np.allclose(from_tum, from_kitti, rtol=1e-9)

    # Read as w first, the same files give a plausible answer, and no error.
    def read_tum_as_w_first(path: Path) -> tuple[Array, Array]:
        data = np.loadtxt(path)
        return data[:, 1:4], data[:, 4:8]

    wrong = relative_pose_error(
        read_tum_as_w_first(files / "truth.tum"), read_tum_as_w_first(files / "estimate.tum")
    )
    print(f"TUM read as w first:  {wrong[0]:.6f} m, {wrong[1]:.6f} deg")
    assert not np.allclose(wrong, from_tum, rtol=1e-4) and np.allclose(wrong, from_tum, rtol=0.01)
