#!/usr/bin/env python3
"""Writes the animation files that once took vestrel-host's import to gigabytes
of memory, for measuring the reading's peak before and after a change:

  scripts/hostile-animations.py FOLDER
  /usr/bin/time -v build/default/vestrel-host import FOLDER/shared-accessor.glb

shared-accessor.glb  40 channels sharing one accessor of 2 million keys (32 MB)
many-extras.gltf     a node's extras of 10 million elements (20 MB)
flat-joints.bvh      200,000 joints side by side (22 MB)
inflating.fbx        a binary FBX file whose zlib array claims 500 million values
"""
import json
import os
import struct
import sys
import zlib


def glb(document, binary):
    text = json.dumps(document).encode()
    text += b" " * (-len(text) % 4)
    binary += b"\0" * (-len(binary) % 4)
    total = 12 + 8 + len(text) + 8 + len(binary)
    return (b"glTF" + struct.pack("<II", 2, total) + struct.pack("<I", len(text)) + b"JSON" +
            text + struct.pack("<I", len(binary)) + b"BIN\0" + binary)


def shared_accessor(keys=2_000_000, channels=40):
    times = struct.pack("<%df" % keys, *range(keys))
    values = bytes(12 * keys)
    document = {
        "asset": {"version": "2.0"},
        "nodes": [{"name": "n%d" % i} for i in range(channels)],
        "buffers": [{"byteLength": len(times) + len(values)}],
        "bufferViews": [{"buffer": 0, "byteLength": len(times)},
                        {"buffer": 0, "byteOffset": len(times), "byteLength": len(values)}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": keys, "type": "SCALAR",
                       "min": [0], "max": [keys - 1]},
                      {"bufferView": 1, "componentType": 5126, "count": keys, "type": "VEC3"}],
        "animations": [{"samplers": [{"input": 0, "output": 1}],
                        "channels": [{"sampler": 0, "target": {"node": i, "path": "translation"}}
                                     for i in range(channels)]}],
    }
    return glb(document, times + values)


def many_extras(elements=10_000_000):
    head = ('{"asset":{"version":"2.0"},"nodes":[{"name":"n","extras":[').encode()
    return head + b",".join([b"0"] * elements) + b']}]}'


def flat_joints(joints=200_000):
    body = "JOINT j{0}\n{{\nOFFSET 0 0 0\nCHANNELS 0\n}}\n"
    text = "HIERARCHY\nROOT r\n{\nOFFSET 0 0 0\nCHANNELS 0\n"
    text += "".join(body.format(i) for i in range(joints))
    return (text + "}\nMOTION\nFrames: 0\nFrame Time: 0.04\n").encode()


def fbx_node(name, properties=b"", count=0, children=b"", offset=0):
    # version 7400 records: end offset, property count, property bytes, name
    name = name.encode()
    nested = children + bytes(13) if children else b""
    size = 13 + len(name) + len(properties) + len(nested)
    return struct.pack("<III", offset + size, count, len(properties)) + bytes([len(name)]) + \
        name + properties + nested


def fbx_tree(nodes, start):
    out = b""
    for name, properties, count, children in nodes:
        name_bytes = name.encode()
        head = 13 + len(name_bytes) + len(properties)
        nested = fbx_tree(children, start + len(out) + head) if children else b""
        out += fbx_node(name, properties, count, nested, start + len(out))
    return out


def inflating(claimed=500_000_000):
    packed = zlib.compress(bytes(8 * 300_000), 9)
    array = b"d" + struct.pack("<III", claimed, 1, len(packed)) + packed
    string = lambda s: b"S" + struct.pack("<I", len(s)) + s
    long_ = lambda v: b"L" + struct.pack("<q", v)
    geometry = ("Geometry", long_(1) + string(b"g\x00\x01Geometry") + string(b"Mesh"), 3,
                [("Vertices", array, 1, []),
                 ("PolygonVertexIndex", b"i" + struct.pack("<III", 3, 0, 12) +
                  struct.pack("<3i", 0, 1, -3), 1, [])])
    model = ("Model", long_(2) + string(b"m\x00\x01Model") + string(b"Mesh"), 3, [])
    header = b"Kaydara FBX Binary  \x00\x1a\x00" + struct.pack("<I", 7400)
    tree = fbx_tree([("FBXHeaderExtension", b"", 0,
                      [("FBXVersion", b"I" + struct.pack("<i", 7400), 1, [])]),
                     ("Objects", b"", 0, [geometry, model]),
                     ("Connections", b"", 0,
                      [("C", string(b"OO") + long_(1) + long_(2), 3, []),
                       ("C", string(b"OO") + long_(2) + long_(0), 3, [])])], len(header))
    return header + tree + bytes(13) + bytes(160)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, make in [("shared-accessor.glb", shared_accessor), ("many-extras.gltf", many_extras),
                       ("flat-joints.bvh", flat_joints), ("inflating.fbx", inflating)]:
        with open(os.path.join(folder, name), "wb") as out:
            out.write(make())


if __name__ == "__main__":
    main()
