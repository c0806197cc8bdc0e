#!/usr/bin/env python3
"""Slow, independent cross-check of meshqem's report, for small meshes.

Written apart from the C++ code, with its own PLY parsing, so that the golden
outputs in the tests do not merely repeat the implementation. Float32
arithmetic is emulated by rounding each double result to float32: for +, -,
*, / and sqrt of float operands the double result rounded to float equals the
correctly rounded float result, because double has more than 2 * 24 + 2 bits.

    tools/reference_qem.py FIRST.ply SECOND.ply
"""
import math
import struct
import sys

_F = struct.Struct("<f")


def f32(x):
    try:
        return _F.unpack(_F.pack(x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


SIZES = {"char": "b", "int8": "b", "uchar": "B", "uint8": "B", "short": "h", "int16": "h",
         "ushort": "H", "uint16": "H", "int": "i", "int32": "i", "uint": "I", "uint32": "I",
         "float": "f", "float32": "f", "double": "d", "float64": "d"}


def read_ply(path):
    data = open(path, "rb").read()
    end = data.index(b"end_header")
    eol = data.index(b"\n", end) + 1
    header = data[:end].decode("ascii").splitlines()
    fmt, elements = None, []
    for line in header:
        words = line.split()
        if not words:
            continue
        if words[0] == "format":
            fmt = words[1]
        elif words[0] == "element":
            elements.append((words[1], int(words[2]), []))
        elif words[0] == "property":
            if words[1] == "list":
                elements[-1][2].append((words[4], words[2], words[3]))
            else:
                elements[-1][2].append((words[2], None, words[1]))
    body = data[eol:]
    if fmt == "ascii":
        tokens = iter(body.split())
        def scalar(_type):
            return float(next(tokens))
    else:
        order = "<" if fmt == "binary_little_endian" else ">"
        pos = [0]
        def scalar(type_):
            s = struct.Struct(order + SIZES[type_])
            value = s.unpack_from(body, pos[0])[0]
            pos[0] += s.size
            return float(value)
    vertices, faces = [], []
    for name, count, props in elements:
        for _ in range(count):
            record = {}
            for pname, length_type, type_ in props:
                if length_type:
                    n = int(scalar(length_type))
                    record[pname] = [scalar(type_) for _ in range(n)]
                else:
                    record[pname] = scalar(type_)
            if name == "vertex":
                vertices.append([f32(record["x"]), f32(record["y"]), f32(record["z"])])
            elif name == "face":
                indices = record.get("vertex_indices", record.get("vertex_index"))
                assert len(indices) == 3, "triangles only"
                faces.append([int(i) for i in indices])
    return vertices, faces


def sub(a, b):
    return [f32(a[0] - b[0]), f32(a[1] - b[1]), f32(a[2] - b[2])]


def dot(a, b):
    # Products of floats are exact in double; two double additions.
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def normal(p0, p1, p2):
    e1, e2 = sub(p1, p0), sub(p2, p0)
    n = [f32(e1[1] * e2[2] - e1[2] * e2[1]), f32(e1[2] * e2[0] - e1[0] * e2[2]),
         f32(e1[0] * e2[1] - e1[1] * e2[0])]
    s = f32(f32(f32(n[0] * n[0]) + f32(n[1] * n[1])) + f32(n[2] * n[2]))
    length = f32(math.sqrt(s))
    if length == 0:
        return n
    return [f32(c / length) for c in n]


def bbox(vertices):
    lo, hi = list(vertices[0]), list(vertices[0])
    for v in vertices:
        for c in range(3):
            if v[c] < lo[c]:
                lo[c] = v[c]
            if hi[c] < v[c]:
                hi[c] = v[c]
    return lo, hi


def diagonal(lo, hi):
    d = [f32(lo[c] - hi[c]) for c in range(3)]
    s = f32(f32(d[0] * d[0]) + f32(d[1] * d[1]))
    return f32(math.sqrt(f32(s + f32(d[2] * d[2]))))


def normalize(v1, v2):
    lo1, hi1 = bbox(v1)
    lo2, hi2 = bbox(v2)
    c1 = [f32(f32(lo1[c] + hi1[c]) * -0.5) for c in range(3)]
    c2 = [f32(f32(lo2[c] + hi2[c]) * -0.5) for c in range(3)]
    v1 = [[f32(v[c] + c1[c]) for c in range(3)] for v in v1]
    v2 = [[f32(v[c] + c2[c]) for c in range(3)] for v in v2]
    lo1 = [f32(lo1[c] + c1[c]) for c in range(3)]
    hi1 = [f32(hi1[c] + c1[c]) for c in range(3)]
    lo2 = [f32(lo2[c] + c2[c]) for c in range(3)]
    hi2 = [f32(hi2[c] + c2[c]) for c in range(3)]
    v1 = [[f32(30.0 * v[c]) for c in range(3)] for v in v1]
    for v in v1:  # the first box grows around the scaled vertices
        for c in range(3):
            if v[c] < lo1[c]:
                lo1[c] = v[c]
            if hi1[c] < v[c]:
                hi1[c] = v[c]
    factor = f32(diagonal(lo1, hi1) / diagonal(lo2, hi2))
    v2 = [[f32(factor * v[c]) for c in range(3)] for v in v2]
    return v1, v2


def point_to_face(va, vb, fb, nb):
    total = 0.0
    for v in va:
        best = 1000.0
        for face, n in zip(fb, nb):
            d = abs(f32(dot(sub(v, vb[face[0]]), n)))
            for k in (1, 2):
                dk = abs(f32(dot(sub(v, vb[face[k]]), n)))
                if dk < d:
                    d = dk
            if d < best:
                best = d
        total = f32(total + best)
    return total


def main():
    v1, f1 = read_ply(sys.argv[1])
    v2, f2 = read_ply(sys.argv[2])
    n1 = [normal(v1[a], v1[b], v1[c]) for a, b, c in f1]
    n2 = [normal(v2[a], v2[b], v2[c]) for a, b, c in f2]
    v1, v2 = normalize(v1, v2)
    s12 = point_to_face(v1, v2, f2, n2)
    s21 = point_to_face(v2, v1, f1, n1)
    q = f32((f32(s12 * s12) + f32(s21 * s21)) / (len(v1) + len(v2)))
    for nv, nf, s in ((len(v1), len(f2), s12), (len(v2), len(f1), s21)):
        sys.stdout.write("Number of vertecies of first mesh is %d\n" % nv)
        sys.stdout.write("Number of faces of second mesh is %d\n" % nf)
        sys.stdout.write("Result of Point to Face is %f\n" % s)
    sys.stdout.write("QEM Error is %f\n" % q)


if __name__ == "__main__":
    main()
