"""Trajectories from other tools: TUM and KITTI pose files, read back into
orvane's scalar-first layout and compared by their relative pose error."""

import importlib.util
import math
import tempfile
from pathlib import Path

import numpy as np
import numpy.typing as npt
import orvane_bindings as ob

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
    # The rotation nearest to each block: printed matrices are rounded.
    return poses[:, :, 3], oa.quat_from_matrix(poses[:, :, :3])


def relative_pose_error(truth: tuple[Array, Array], estimate: tuple[Array, Array]) -> Array:
    """RMSE of the translation and of the rotation angle (degrees) of the
    relative pose errors over consecutive frame pairs."""

    def motion(position: Array, orientation: Array) -> tuple[Array, Array]:
        # From each frame to the next: pose[i]^-1 * pose[i + 1].
        before = oa.pose_inverse(position[:-1], orientation[:-1])
        step: tuple[Array, Array] = oa.pose_compose(*before, position[1:], orientation[1:])
        return step

    offset, turn = oa.pose_compose(*oa.pose_inverse(*motion(*truth)), *motion(*estimate))
    angle = oa.quat_angle(turn)
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

# The orders of the guide's table, checked against the tools installed here.
if importlib.util.find_spec("scipy") is not None:
    from scipy.spatial.transform import Rotation  # type: ignore[import-untyped]

    r = Rotation.from_rotvec(turns)  # as_quat() is scalar last, as_matrix() [row, column]
    assert np.allclose(oa.quat_from_xyzw(r.as_quat()), orientations, rtol=0, atol=1e-15)
    assert np.allclose(oa.quat_to_matrix(orientations), r.as_matrix(), rtol=0, atol=1e-15)
if importlib.util.find_spec("pyglm") is not None:
    from pyglm import glm

    # quat(w, x, y, z), w first in its buffer too; its matrices read as [row, column].
    q = glm.dquat(*orientations[-1])
    assert np.array_equal(np.array(q), orientations[-1])
    assert np.allclose(np.array(glm.mat3_cast(q)), oa.quat_to_matrix(q), rtol=0, atol=1e-15)
    # quat(vec3) turns about the fixed x, then y, then z.
    angles = np.array(glm.eulerAngles(q))
    again = oa.euler_to_quat(angles, ob.eOrder.XYZ, ob.eConvention.EXTRINSIC)
    assert np.allclose(again, orientations[-1], rtol=0, atol=1e-15)
if importlib.util.find_spec("quaternion") is not None:
    import quaternion  # type: ignore[import-untyped]

    # as_float_array is w first, as_rotation_matrix [row, column].
    qs = quaternion.from_rotation_vector(turns)
    assert np.allclose(quaternion.as_float_array(qs), orientations, rtol=0, atol=1e-15)
    assert np.allclose(quaternion.as_rotation_matrix(qs), oa.quat_to_matrix(orientations))
