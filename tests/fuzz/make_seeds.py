#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into corpus/<target>/: a handful of well-formed
inputs, laid out by hand from the payload and segment layouts. Run it again after changing a seed;
the files it writes are checked in."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# Payload fields, little-endian, back to back.
def text(value):  # Str: u64 byte length, UTF-8 bytes
    data = value.encode()
    return struct.pack("<Q", len(data)) + data


def wide(value):  # WStr: u64 byte length, UTF-16LE code units
    data = value.encode("utf-16-le")
    return struct.pack("<Q", len(data)) + data


def u8(value):
    return struct.pack("<B", value)


def i32(value):
    return struct.pack("<i", value)


def f32(value):
    return struct.pack("<f", value)


def i64(value):
    return struct.pack("<q", value)


def floats(values):
    return struct.pack("<Q", len(values)) + b"".join(f32(v) for v in values)


def ints(values):
    return struct.pack("<Q", len(values)) + b"".join(i32(v) for v in values)


def flags(values):
    return struct.pack("<Q", len(values)) + bytes(values)


def add_mesh():
    return (text("mesh-1") + text("entity-1") + text("triangle")
            + floats([0, 0, 0, 1, 0, 0, 0, 1, 0])  # positions
            + floats([0, 0, 1] * 3)  # normals
            + floats([0, 0, 1, 0, 0, 1])  # front UVs
            + floats([0, 0, 1, 0, 0, 1])  # back UVs
            + flags([1, 0, 1])  # vertex flags
            + ints([0, 1, 2]) + i32(3)  # indices, index count
            + text("front") + text("back"))


def add_material():
    return text("mat-1") + text("Oak") + text("wood") + i32(7) + f32(0.5) + text("")


def add_group():
    identity = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]
    return text("group-1") + text("") + text("label") + text("pass") + floats(identity) + text("n")


def set_camera():
    return b"".join(f32(v) for v in [1, 2, 3, 0, 0, 0, 0, 0, 1]) + u8(1) + u8(0) + b"".join(
        f32(v) for v in [35, 1.6, 0.1, 1000]) + text("Scene 1")


def state(parent=0x1234):
    return b"".join(u8(v) for v in [0, 1, 0, 1, 0, 0, 0, 1]) + i64(parent)


def maps_generate():
    return i32(1) + i32(2) + i32(3) + i32(4) + f32(0.25) + i32(1) + i32(2) + text("Oak")


def material_maps():
    return text("Oak") + wide("C:/maps/diffuse.png") + wide("n\U0001F600.png") + b"".join(
        wide("") for _ in range(5))


def section_plane():
    return i32(1) + i32(1) + floats([0, 0, 1]) + floats([0, 1, 0]) + i32(1) + i32(5)


def strings(*values):
    return b"".join(text(v) for v in values)


# Positions in allLayouts(), the catalogue's order.
LAYOUT = {name: i for i, name in enumerate([
    "addMesh", "addMaterial", "addGroup", "addInstance", "addComp", "addLayer", "remEntity",
    "remMeshes", "clearSess", "setCamera", "setSunLight", "setCutP", "remCutP", "setVisible",
    "DicMes", "setLang", "export", "redraw", "SAVE", "EXIT", "STATE", "SETSTATE", "MAPSGEN",
    "BEGINTRAN", "ENDTRAN", "echo", "echores", "INIT", "SAVED", "MATMAPS", "setEnt", "enumEnt",
    "enumEAT", "expTx"])}


def catalogue_decoder():
    # Layout index, shift against a 16-byte boundary, payload.
    def seed(name, payload, shift=0):
        return bytes([LAYOUT[name], shift]) + payload
    return {
        "add_mesh": seed("addMesh", add_mesh()),
        "add_mesh_unaligned": seed("addMesh", add_mesh(), 3),
        "add_material": seed("addMaterial", add_material()),
        "set_camera": seed("setCamera", set_camera()),
        "state": seed("STATE", state()),
        "material_maps": seed("MATMAPS", material_maps()),
        "begin_transaction": seed("BEGINTRAN", b"scene"),
        "section_plane": seed("setCutP", section_plane(), 1),
    }


SEGMENT_BYTES = 64 << 10


def record(type_name, payload, length=None):
    # A 64-bit length (20 + payload), 12 type bytes, the payload.
    return struct.pack("<Q", 20 + len(payload) if length is None else length) + \
        type_name.encode().ljust(12, b"\0") + payload


def channel_drain():
    # A 16-bit length and the start of the segment (a count word, then records), a 16-bit length
    # and the end of the segment, then the chunks, each a 16-bit length and its first bytes.
    def seed(count, records, tail=b"", end=b""):
        image = struct.pack("<Q", count) + b"".join(records)
        return struct.pack("<H", len(image)) + image + struct.pack("<H", len(end)) + end + tail
    echo = text("abc")
    # A record at offset 8 that runs 100 bytes past the segment's end: 65508 bytes of its payload
    # are in the segment, the rest comes as one chunk.
    chunked = record("addMesh", add_mesh(), 20 + (SEGMENT_BYTES - 28) + 100)
    return {
        "one_record": seed(1, [record("echo", echo)]),
        "three_records": seed(3, [record("addMesh", add_mesh()), record("echo", echo),
                                  record("clearSess", b"")]),
        "chunked_completed": seed(1, [chunked], struct.pack("<H", 100) + bytes(range(100))),
        # The same record claiming three more chunks, the first two given as a few bytes each.
        "chunked_three_chunks": seed(
            1, [record("addMesh", add_mesh(), 20 + (SEGMENT_BYTES - 28) + 2 * (SEGMENT_BYTES - 8)
                       + 7)],
            struct.pack("<H", 3) + b"abc" + struct.pack("<H", 0) + struct.pack("<H", 7) + b"1234567"),
        "chunked_given_up": seed(1, [chunked]),
        # A record that fills the segment up to its last 300 bytes, then one whose header and
        # first 280 payload bytes end the segment; it claims 20 more, which come as a chunk.
        "record_at_the_end": seed(
            2, [record("fill", b"", SEGMENT_BYTES - 8 - 300)], struct.pack("<H", 20) + b"z" * 20,
            record("echo", struct.pack("<Q", 292) + b"e" * 272, 20 + 300)),
        "given_up_mark": seed(0xFFFFFFFFFFFFFFFF, [record("echo", echo)]),
        "short_record_ends_pass": seed(3, [record("echo", echo), struct.pack("<Q", 12)]),
    }


# Positions in the receiver target's list of type names: the catalogue's order, then the long names.
RECEIVER_TYPE = dict(LAYOUT)
RECEIVER_TYPE.update({"addComponentDef": 34, "addComponent": 35, "removeEntity": 36,
                      "removeMeshes": 37, "clearSession": 38})


def receiver_dispatch():
    # Per message: type, shift against a 16-byte boundary, 16-bit payload length, payload.
    def seed(*messages):
        out = b""
        for name, payload, shift in messages:
            out += bytes([RECEIVER_TYPE[name], shift]) + struct.pack("<H", len(payload)) + payload
        return out
    return {
        "transaction_replayed": seed(("BEGINTRAN", b"scene", 0), ("addMaterial", add_material(), 0),
                                     ("addMesh", add_mesh(), 0), ("addGroup", add_group(), 5),
                                     ("ENDTRAN", b"", 0)),
        "transaction_aborted": seed(("BEGINTRAN", b"t", 0), ("addGroup", add_group(), 0),
                                    ("ENDTRAN", b"ABORT", 0)),
        "state_and_camera": seed(("STATE", b"STATE", 0), ("echo", text("ping"), 0),
                                 ("setCamera", set_camera(), 2), ("SETSTATE", state(), 0)),
        "lights_and_planes": seed(("MAPSGEN", maps_generate(), 0),
                                  ("setCutP", section_plane(), 0), ("remCutP", i32(2), 0),
                                  ("setSunLight", i32(1) + f32(2) + f32(3) + i32(6) +
                                   b"".join(f32(v) for v in [7, 8, 9, 4, 5]), 0)),
        "long_names_and_commands": seed(
            ("removeEntity", strings("e1", "p1") + u8(1) + u8(0), 0),
            ("removeMeshes", text("e1"), 0), ("clearSession", b"", 0),
            ("addComponentDef", strings("d1", "def") + u8(1) + text("note"), 0),
            ("setVisible", strings("e2", "label") + u8(1), 0),
            ("DicMes", strings("owner", "dict", "key", "value"), 0),
            ("setLang", text("en"), 0), ("export", text("/tmp/x.png"), 0),
            ("redraw", b"redra", 0), ("SAVE", b"SAVE", 0), ("EXIT", b"EXIT", 0)),
    }


# Positions in the sender target's list of types; 255 first is "INIT".
SENDER_TYPE = {name: i for i, name in enumerate([
    "EXIT", "SAVED", "STATE", "MATMAPS", "setEnt", "enumEnt", "enumEAT", "expTx", "echo",
    "echores", "MAPSGEN", "addMesh", "SETSTATE", "BEGINTRAN"])}
SENDER_TYPE["INIT"] = 255


def sender_dispatch():
    # Per message: type, 16-bit payload length, payload.
    def seed(*messages):
        out = b""
        for name, payload in messages:
            out += bytes([SENDER_TYPE[name]]) + struct.pack("<H", len(payload)) + payload
        return out
    return {
        "init_then_state": seed(("INIT", b""), ("STATE", state())),
        "host_requests": seed(("setEnt", strings("owner", "dict", "key", "value")),
                              ("enumEnt", text("entity-1")), ("enumEAT", strings("owner", "dict")),
                              ("expTx", strings("texture", "/tmp/t.png"))),
        "material_maps": seed(("MATMAPS", material_maps())),
        "echo_exit_saved": seed(("echo", text("hello")), ("EXIT", b""), ("SAVED", b"")),
    }


def main():
    for target, seeds in [("catalogue_decoder", catalogue_decoder()),
                          ("channel_drain", channel_drain()),
                          ("receiver_dispatch", receiver_dispatch()),
                          ("sender_dispatch", sender_dispatch())]:
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
