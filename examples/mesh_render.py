"""A ray per pixel against a triangle mesh: a sphere inside a tilted ring,
shaded by face normal, shadow and depth. With --png PATH the picture is
written to a PNG (NumPy and zlib only)."""

import argparse
import struct
import zlib

import numpy as np
import numpy.typing as npt
from shapes import icosphere, torus

import orvane as ov
from orvane import arrays as oa

WIDTH, HEIGHT = 320, 240

# One mesh of two shapes: the ring's faces follow the sphere's, so a face
# index tells which shape a ray hit.
sphere_vertices, sphere_faces = icosphere(3)
ring_vertices, ring_faces = torus(1.8, 0.3, 64, 24)
# Turned about x from standing around z to lying around y, less 0.45 of tilt.
tilt = oa.quat_from_euler([0.45 - np.pi / 2, 0.0, 0.0], "xyz")
ring_vertices = oa.quat_rotate(tilt, ring_vertices)
mesh = ov.Mesh(
    np.concatenate([sphere_vertices, ring_vertices]),
    np.concatenate([sphere_faces, ring_faces + len(sphere_vertices)]),
)
box = mesh.bounds
corners = np.round([box.min.numpy(), box.max.numpy()], 3).tolist()
print(f"mesh: {len(mesh)} triangles, bounds {corners}")

# The camera and one ray per pixel centre (row 0 at the top): from the near
# plane towards the far one, directions of unit length so that t is a distance.
view = oa.look_at([0.0, 2.0, 6.0], [0.0, 0.0, 0.0], [0.0, 1.0, 0.0])
view_projection = np.asarray(ov.Matrix4d.Perspective(40, WIDTH / HEIGHT, 0.1, 50).numpy()) @ view
rows, columns = np.mgrid[0:HEIGHT, 0:WIDTH] + 0.5
window = np.stack([columns, rows, np.zeros_like(rows)], axis=-1)
viewport = [0.0, 0.0, WIDTH, HEIGHT]
origins = oa.unproject(window, view_projection, viewport)
ends = oa.unproject(window + [0.0, 0.0, 1.0], view_projection, viewport)
directions = (ends - origins) / np.linalg.norm(ends - origins, axis=-1, keepdims=True)
t, face, _, _ = mesh.raycast(origins, directions)
hit = face >= 0

# Lambert shading from the face normals, lit from the upper left; a second
# ray towards the light from each hit point finds the shadows.
a, b, c = (mesh.vertices[mesh.faces[face[hit], k]] for k in range(3))
normals = np.cross(b - a, c - a)
normals /= np.linalg.norm(normals, axis=-1, keepdims=True)
light = np.array([-0.5, 0.8, 0.6]) / np.linalg.norm([-0.5, 0.8, 0.6])
points = origins[hit] + t[hit, None] * directions[hit]
# Started a little off the surface, so that a ray does not hit its own face.
shadow = mesh.occluded(points + 1e-4 * normals, light)
lambert = np.clip(normals @ light, 0.0, None) * ~shadow

# Depth fades the shading towards the background; the ring is warmer than
# the sphere.
near, far = t[hit].min(), t[hit].max()
fade = 1 - 0.5 * (t[hit] - near) / (far - near)
colour = np.where((face[hit] < len(sphere_faces))[:, None], [0.55, 0.7, 1.0], [1.0, 0.75, 0.45])
image = np.empty((HEIGHT, WIDTH, 3))
image[...] = np.linspace(0.95, 0.75, HEIGHT)[:, None, None]  # the sky, lighter at the top
image[hit] = colour * ((0.15 + 0.85 * lambert) * fade)[:, None]

print(
    f"{hit.mean():.1%} of {WIDTH}x{HEIGHT} rays hit; depth {near:.3f} to {far:.3f}; "
    f"{shadow.mean():.1%} of the hits in shadow"
)
nearest, nearest_face, distance = mesh.closest_points([0.0, 2.0, 6.0])
print(f"nearest to the camera: face {nearest_face} at {distance:.3f}, {np.round(nearest, 3) + 0.0}")
print("inside:", mesh.contains([[0.0, 0.0, 0.0], [0.0, 2.0, 6.0], [1.8, 0.0, 0.0]]))


def write_png(path: str, pixels: npt.NDArray[np.float64]) -> None:
    """An 8-bit RGB PNG: each row starts with filter byte 0, then the chunks
    are length, type, data and the CRC of type and data."""
    height, width, _ = pixels.shape
    rgb = np.round(np.clip(pixels, 0, 1) * 255).astype(np.uint8)
    raw = np.concatenate([np.zeros((height, 1), np.uint8), rgb.reshape(height, -1)], axis=1)

    def chunk(kind: bytes, data: bytes) -> bytes:
        return (
            struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
        )

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw.tobytes(), 9)) + chunk(b"IEND", b""))
    print(f"wrote {width}x{height} pixels to {path}")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--png", metavar="PATH", help="write the picture to a PNG")
    arguments = parser.parse_args()
    if arguments.png:
        write_png(arguments.png, image)
