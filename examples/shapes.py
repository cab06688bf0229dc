"""Closed triangle meshes as vertex and face arrays: an icosphere, a torus and
the faces of a box. Every face winds counter-clockwise seen from outside."""

import numpy as np
import numpy.typing as npt

Vertices = npt.NDArray[np.float64]
Faces = npt.NDArray[np.int64]

# The twelve triangles of a box over its corners numbered as
# AABB.computeCorners numbers them: bit 2 takes max x, bit 1 max y, bit 0 max z.
BOX_FACES: Faces = np.array(
    [[0, 1, 3], [0, 3, 2], [4, 6, 7], [4, 7, 5], [0, 4, 5], [0, 5, 1],
     [2, 3, 7], [2, 7, 6], [0, 2, 6], [0, 6, 4], [1, 5, 7], [1, 7, 3]],
    dtype=np.int64,
)  # fmt: skip


def icosphere(subdivisions: int, radius: float = 1.0) -> tuple[Vertices, Faces]:
    """An icosahedron whose faces are split in four `subdivisions` times, the
    new vertices pushed out to the sphere: 20 * 4**subdivisions faces."""
    g = (1 + 5**0.5) / 2
    vertices = np.array(
        [[-1, g, 0], [1, g, 0], [-1, -g, 0], [1, -g, 0], [0, -1, g], [0, 1, g],
         [0, -1, -g], [0, 1, -g], [g, 0, -1], [g, 0, 1], [-g, 0, -1], [-g, 0, 1]],
        dtype=np.float64,
    )  # fmt: skip
    faces = np.array(
        [[0, 11, 5], [0, 5, 1], [0, 1, 7], [0, 7, 10], [0, 10, 11], [1, 5, 9], [5, 11, 4],
         [11, 10, 2], [10, 7, 6], [7, 1, 8], [3, 9, 4], [3, 4, 2], [3, 2, 6], [3, 6, 8],
         [3, 8, 9], [4, 9, 5], [2, 4, 11], [6, 2, 10], [8, 6, 7], [9, 8, 1]],
        dtype=np.int64,
    )  # fmt: skip
    for _ in range(subdivisions):
        # Each edge is shared by two faces: one new vertex per distinct edge.
        edges = np.sort(faces[:, [0, 1, 1, 2, 2, 0]].reshape(-1, 2), axis=1)
        unique, inverse = np.unique(edges, axis=0, return_inverse=True)
        ab, bc, ca = (len(vertices) + inverse.reshape(-1, 3)).T
        vertices = np.concatenate([vertices, vertices[unique].mean(axis=1)])
        a, b, c = faces.T
        faces = np.stack([a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca], axis=-1).reshape(-1, 3)
    vertices *= radius / np.linalg.norm(vertices, axis=1, keepdims=True)
    return vertices, faces


def torus(major: float, minor: float, segments: int, sides: int) -> tuple[Vertices, Faces]:
    """A ring around the z axis: `segments` steps around it, `sides` around the
    tube of radius `minor`; 2 * segments * sides faces."""
    i, j = np.meshgrid(np.arange(segments), np.arange(sides), indexing="ij")
    theta, phi = 2 * np.pi * i / segments, 2 * np.pi * j / sides
    ring = major + minor * np.cos(phi)
    vertices = np.stack([ring * np.cos(theta), ring * np.sin(theta), minor * np.sin(phi)], -1)
    nexti, nextj = (i + 1) % segments, (j + 1) % sides
    k, right, up, diagonal = (
        i * sides + j, nexti * sides + j, i * sides + nextj, nexti * sides + nextj
    )  # fmt: skip
    faces = np.stack([k, right, diagonal, k, diagonal, up], axis=-1).reshape(-1, 3)
    return vertices.reshape(-1, 3), faces.astype(np.int64)


def enclosed_volume(vertices: Vertices, faces: Faces) -> float:
    """The signed volume inside a closed mesh: positive when its faces wind
    outwards, by the divergence theorem over tetrahedra from the origin."""
    a, b, c = (vertices[faces[:, k]] for k in range(3))
    return float(np.einsum("ij,ij->", a, np.cross(b, c)) / 6)


if __name__ == "__main__":
    for name, (vertices, faces) in {
        "icosphere(3)": icosphere(3),
        "torus(1, 0.25, 48, 24)": torus(1.0, 0.25, 48, 24),
        "box": (np.indices((2, 2, 2)).reshape(3, -1).T.astype(np.float64), BOX_FACES),
    }.items():
        # A closed surface has each edge in two faces: V - E + F is 2 for a
        # sphere and a box, 0 for a torus.
        edges = len(np.unique(np.sort(faces[:, [0, 1, 1, 2, 2, 0]].reshape(-1, 2), 1), axis=0))
        print(
            f"{name:<23} {len(vertices):5} vertices {len(faces):5} faces, "
            f"V - E + F = {len(vertices) - edges + len(faces)}, "
            f"volume {enclosed_volume(vertices, faces):.4f}"
        )
