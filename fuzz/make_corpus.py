#!/usr/bin/env python3
"""Writes the seed inputs of the domain-loader fuzz target into corpus/.

Seeds are made here from scratch: Dock-shaped domains in both formats, every value type,
and the shapes the loader must refuse (deep nesting, shared-reference explosions, cycles,
damaged trailers). Run it again after changing it; the outputs are checked in. Inputs the fuzzer found that
broke the loader's contract are kept beside them as regression seeds (date-fraction: a
date with a fraction of a second that drifted by a microsecond on each rewrite).
"""
import datetime
import os
import plistlib
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def tile(url, label, url_type=15, guid=None):
    data = {"file-data": {"_CFURLString": url, "_CFURLStringType": url_type},
            "file-label": label, "dock-extra": False}
    entry = {"tile-data": data}
    if guid is not None:
        entry = {"GUID": guid, "tile-type": "file-tile", "tile-data": dict(data, **{
            "file-type": 41, "file-mod-date": 3_714_794_814, "parent-mod-date": 220_434_324_745_351,
            "book": b"book" + bytes(range(64)), "is-beta": False})}
    return entry


def dock_domain():
    return {
        "version": 1,
        "orientation": "left",
        "tilesize": 48.0,
        "autohide": True,
        "mod-count": 13,
        "persistent-apps": [
            tile("file:///Applications/Foo%20Bar.app/", "Foo Bar", guid=4_210_611_133),
            tile("file:///Applications/Cafe%CC%81.app/", "Caf\u00e9", guid=2_904_540_877),
            tile("/Applications/Plain.app", "Plain", url_type=0),
            {"tile-type": "spacer-tile", "tile-data": {}},
        ],
        "persistent-others": [],
        "wvous-br-modifier": 0,
    }


def every_type():
    return {
        "string": "text \u2126 \U0001F600 \u00e9",
        "negative": -1,
        "min": -(2 ** 63),
        "max-signed": 2 ** 63 - 1,
        "large-unsigned": 2 ** 64 - 1,
        "real": 1.5,
        "true": True,
        "false": False,
        "date": datetime.datetime(2020, 2, 3, 4, 5, 6),
        "data": b"\x00\x01\xfe\xff",
        "empty-array": [],
        "empty-dict": {},
    }


def binary_of(objects, ref_size=1, offset_size=2):
    """A binary property list from raw object bytes; the first object is the top."""
    out = bytearray(b"bplist00")
    offsets = []
    for o in objects:
        offsets.append(len(out))
        out += o
    table_start = len(out)
    for off in offsets:
        out += off.to_bytes(offset_size, "big")
    out += bytes(6) + bytes([offset_size, ref_size])
    out += struct.pack(">QQQ", len(objects), 0, table_start)
    return bytes(out)


def nested_arrays(depth):
    objs = [bytes([0xA1, i + 1]) if i + 1 < depth else b"\xa0" for i in range(depth)]
    return binary_of(objs)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    dock = dock_domain()
    write("dock-binary", plistlib.dumps(dock, fmt=plistlib.FMT_BINARY))
    write("dock-xml", plistlib.dumps(dock, fmt=plistlib.FMT_XML))
    write("every-type-binary", plistlib.dumps(every_type(), fmt=plistlib.FMT_BINARY))
    write("every-type-xml", plistlib.dumps(every_type(), fmt=plistlib.FMT_XML))
    write("root-array", plistlib.dumps(["not", "a", "domain"], fmt=plistlib.FMT_BINARY))
    write("truncated", plistlib.dumps(dock, fmt=plistlib.FMT_BINARY)[:-9])
    write("nested-10", nested_arrays(10))
    write("nested-200", nested_arrays(200))
    # 40 arrays, each holding the next twice: 2^40 values once references are expanded.
    write("shared-explosion", binary_of([bytes([0xA2, i + 1, i + 1]) for i in range(39)] + [b"\x09"]))
    write("cycle", binary_of([b"\xa1\x01", b"\xa1\x00"]))
    # A dictionary with one key twice, and a UTF-16 string.
    write("repeated-key", binary_of([b"\xd2\x01\x01\x02\x03", b"\x51k", b"\x08", b"\x09"]))
    write("utf16-string", binary_of([b"\xd1\x01\x02", b"\x51k", b"\x62\x00\x41\x21\x26"]))
    write("xml-comments", (
        b'<?xml version="1.0" encoding="UTF-8"?>\n<!-- a comment -->\n'
        b'<plist version="1.0"><dict><key>a&amp;b</key><string><![CDATA[x y]]></string>'
        b"<key>n</key><integer>-42</integer></dict></plist>\n"))
    write("xml-deep", b"<plist>" + b"<array>" * 300 + b"</array>" * 300 + b"</plist>")


if __name__ == "__main__":
    main()
