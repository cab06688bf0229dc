"""Batch operations: NumPy generalized ufuncs over arrays of quaternions, points and poses."""

import importlib.util
import math

import numpy as np
import orvane_bindings as ob

from orvane import arrays as oa

# Quaternions are rows of 4, scalar first: quarter and half turns about z.
turns = np.array([[math.cos(a / 2), 0, 0, math.sin(a / 2)] for a in (math.pi / 2, math.pi)])
print(oa.quat_rotate.signature, oa.quat_rotate.types)  # (4),(3)->(3) ['ff->f', 'dd->d']

# Core dimensions come last; the others broadcast: one point, two rotations.
print(oa.quat_rotate(turns, [1.0, 0.0, 0.0]).round(12) + 0.0)  # [[0, 1, 0], [-1, 0, 0]]

# Integers and lists are cast by NumPy's rules (to float64); dtype= picks a loop.
print(oa.quat_multiply([1, 0, 0, 0], turns, dtype=np.float32).dtype)  # float32

# t broadcasts too: three steps from the quarter turn to the half turn.
halfway = oa.quat_slerp(turns[0], turns[1], [0.0, 0.5, 1.0])
print(np.degrees(2 * np.arctan2(halfway[:, 3], halfway[:, 0])))  # [ 90.  135.  180.]

# Matrices are (..., n, n), indexed [row, column].
m = oa.quat_to_matrix(turns[0])
print(m.round(12) + 0.0, oa.matrix_to_quat(m))  # back to the same quaternion

# out= writes into an existing array, here a column slice of a wider one.
table = np.zeros((2, 5))
oa.quat_to_euler(turns, ob.eOrder.ZYX, ob.eConvention.INTRINSIC, out=table[:, 1:4])
print(table.round(6) + 0.0)  # angles z, y, x in the order's sequence: z = pi/2, then pi

# Euler angles lie in the order's sequence, as SciPy's do: intrinsic ZYX is
# (z, y, x) and SciPy's "ZYX"; an extrinsic order is SciPy's lowercase one.
if importlib.util.find_spec("scipy") is not None:
    from scipy.spatial.transform import Rotation  # type: ignore[import-untyped]

    angles = np.array([[0.3, -0.5, 1.2], [-2.0, 0.25, 0.75]])
    q = oa.euler_to_quat(angles, ob.eOrder.ZYX, ob.eConvention.INTRINSIC)
    print(np.allclose(Rotation.from_quat(q, scalar_first=True).as_euler("ZYX"), angles))  # True
    q = Rotation.from_euler("xyz", angles).as_quat(scalar_first=True)
    print(np.allclose(oa.quat_to_euler(q, ob.eOrder.XYZ, ob.eConvention.EXTRINSIC), angles))  # True

# axes= names where each operand keeps its core dimension: here the components
# run along the first axis (4, n) and (3, n).
print(oa.quat_rotate(turns.T, np.array([[1.0, 1.0], [0, 0], [0, 0]]), axes=[0, 0, 0]).round(12))

# A pose is a position (3) and an orientation (4), used as given.
# pose_compose(a, b) applies b first, as Pose3d * Pose3d does.
positions, orientations = oa.pose_compose([1, 0, 0], turns[0], [1, 0, 0], turns)
print(positions.round(12) + 0.0)  # [[1, 1, 0], [1, 1, 0]]
print(oa.pose_apply(positions, orientations, [1, 0, 0]).round(12) + 0.0)  # [[0, 1, 0], [1, 0, 0]]
