#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/TARGET/ (the bookmark target's come
from make_bookmark_corpus.py). A seed that its target must refuse is named "refused-...".

domain_loader: Dock-shaped domains in both formats, every value type, and the shapes the loader
must refuse (deep nesting, shared-reference explosions, cycles, damaged trailers).
process_area: argument areas with and without arguments and environment, another user's, cut by
the buffer, decomposed and invalid UTF-8, and the malformed ones that leave the short name.
path_styles: the path forms of both styles on the fuzz target's machine (volumes, links, names
with separators, relative paths, the names that are not UTF-8) and the paths that name nothing.
user_dirs: user-dirs.dirs files as xdg-user-dirs writes them, escapes, and the lines to ignore.

Run it again after changing it; the outputs are checked in. Inputs the fuzzer found that broke
a contract are kept beside them as regression seeds, named after what they found (date-fraction:
a date with a fraction of a second that drifted by a microsecond on each rewrite).
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


def write(name, data, target="domain_loader"):
    os.makedirs(os.path.join(OUT, target), exist_ok=True)
    with open(os.path.join(OUT, target, name), "wb") as f:
        f.write(data)


def domain_loader_seeds():
    dock = dock_domain()
    write("dock-binary", plistlib.dumps(dock, fmt=plistlib.FMT_BINARY))
    write("dock-xml", plistlib.dumps(dock, fmt=plistlib.FMT_XML))
    write("every-type-binary", plistlib.dumps(every_type(), fmt=plistlib.FMT_BINARY))
    write("every-type-xml", plistlib.dumps(every_type(), fmt=plistlib.FMT_XML))
    write("root-array", plistlib.dumps(["not", "a", "domain"], fmt=plistlib.FMT_BINARY))
    write("refused-truncated", plistlib.dumps(dock, fmt=plistlib.FMT_BINARY)[:-9])
    write("nested-10", nested_arrays(10))
    write("refused-nested-200", nested_arrays(200))
    # 40 arrays, each holding the next twice: 2^40 values once references are expanded.
    write("refused-shared-explosion", binary_of([bytes([0xA2, i + 1, i + 1]) for i in range(39)] + [b"\x09"]))
    write("refused-cycle", binary_of([b"\xa1\x01", b"\xa1\x00"]))
    # A dictionary with one key twice, and a UTF-16 string.
    write("refused-repeated-key", binary_of([b"\xd2\x01\x01\x02\x03", b"\x51k", b"\x08", b"\x09"]))
    write("utf16-string", binary_of([b"\xd1\x01\x02", b"\x51k", b"\x62\x00\x41\x21\x26"]))
    write("xml-comments", (
        b'<?xml version="1.0" encoding="UTF-8"?>\n<!-- a comment -->\n'
        b'<plist version="1.0"><dict><key>a&amp;b</key><string><![CDATA[x y]]></string>'
        b"<key>n</key><integer>-42</integer></dict></plist>\n"))
    write("refused-xml-deep", b"<plist>" + b"<array>" * 300 + b"</array>" * 300 + b"</plist>")



def area(argc, text, flags=0, argmax=255, comm=b"short"):
    """A process_area input: flags, buffer size, short name, then the argument area."""
    return bytes([flags, argmax]) + comm.ljust(16, b"\0") + struct.pack("<i", argc) + text


def process_area_seeds():
    env = b"/usr/bin/xx\0\0\0\0\0/bin/x\0a\0b\0HOME=/h\0PATH=/p\0\0L=1\0"
    seeds = {
        "argv0-only": area(1, b"/bin/cat\0\0\0\0/bin/cat\0"),
        "arguments-environment": area(3, env),
        "another-users": area(3, env, flags=1),
        "environment-cut-by-buffer": area(3, env, argmax=32),
        "empty-leading-arguments": area(3, b"/e\0\0\0\0\0\0-\0E=1\0\0"),
        "decomposed": area(1, b"/e\0\0\0/Apps/Cafe\xcc\x81.app\0", comm=b"Cafe"),
        "invalid-utf8": area(1, b"/e\0\0\0/Apps/\xff.app\0"),
        "combining-marks": area(1, b"/e\0\0\0/" + b"\xcc\x81\xcc\x96" * 200 + b"\0"),
        "case-folding": area(2, b"/e\0\0\0/Apps/Stra\xc3\x9fe \xef\xac\x81 \xc4\xb0\0-v\0"),
        "refused-argv0-cut-by-buffer": area(1, b"/e\0\0\0/a/long/first/argument\0", argmax=20),
        "refused-no-arguments": area(0, b"/e\0\0\0HOME=/h\0\0"),
        "refused-negative-argc": area(-5, b"/e\0\0\0/bin/x\0"),
        "refused-no-path-end": area(1, b"/no/end"),
        "refused-padding-to-end": area(1, b"/e\0\0\0\0\0\0"),
        "refused-argv0-not-ended": area(1, b"/e\0\0\0/bin/x-no-end"),
        "refused-no-argument-limit": area(1, b"/e\0\0\0/bin/x\0", argmax=0),
        "refused-short-name-invalid": area(0, b"", comm=b"bad\xc3"),
        "refused-too-short": b"\0\xff/bin",
    }
    for name, data in seeds.items():
        write(name, data, "process_area")


def path_styles_seeds():
    posix = ["/usr/bin", "/", "/media/ext/a/b", "/mnt/ext/x", "/media/extra/y", "/media/colon/f", "/tmp/x",
             "/usr//bin/", "/usr/new/./deeper/../leaf", "/usr/gone/../../bin", "/usr/a:b", "/usr/Folder:",
             "/usr/x:/:", "foo/bar", "foo/", "../x", "a:b/c", "a/::", "/usr/lib/../x", "/up/x", "/loop/x",
             "/dangling/y", "/raw/x", "/mnt/stack/x", "/usr/Cafe\u0301"]
    hfs = ["Filesystem root:usr:bin", "Filesystem root", "Ext:x", "A/B:f", "NoSuchVol:a", "/:Users",
           "Filesystem root:a:b::c", "Ext:a:::b", "Filesystem root:..:x", ":foo:bar", ":", "::foo", ":a::b",
           "Under:x", "Over", "Filesystem root:a/b", "Filesystem root:usr:x/"]
    seeds = {}
    for i, p in enumerate(posix):
        seeds["posix-%02d" % i] = b"\0" + p.encode()
    for i, p in enumerate(hfs):
        seeds["hfs-%02d" % i] = b"\1" + p.encode()
    seeds.update({
        "refused-posix-empty": b"\0", "refused-hfs-empty": b"\1", "refused-posix-nul": b"\0/a\0b",
        "refused-hfs-lone-surrogate": b"\1Ext:a\x80", "refused-posix-too-long": b"\0/" + b"a" * 1100,
        "refused-posix-link-to-name-not-utf8": b"\0/usr/odd/y", "refused-hfs-volume-not-utf8": b"\1Raw:x",
    })
    for name, data in seeds.items():
        write(name, data, "path_styles")


def user_dirs_seeds():
    home = b"home/u\n"
    default = (b"# This file is written by xdg-user-dirs-update\n# If you want to change or add directories, just"
               b" edit the line you're\n# interested in. All local changes will be retained on the next run.\n"
               b'XDG_DESKTOP_DIR="$HOME/Desktop"\nXDG_DOWNLOAD_DIR="$HOME/Downloads"\n'
               b'XDG_TEMPLATES_DIR="$HOME/Templates"\nXDG_PUBLICSHARE_DIR="$HOME/Public"\n'
               b'XDG_DOCUMENTS_DIR="$HOME/Documents"\nXDG_MUSIC_DIR="$HOME/Music"\n'
               b'XDG_PICTURES_DIR="$HOME/Pictures"\nXDG_VIDEOS_DIR="$HOME/Videos"\n')
    seeds = {
        "xdg-user-dirs-default": home + default,
        "translated": home + 'XDG_DESKTOP_DIR="$HOME/Schreibtisch"\n'.encode(),
        "home-itself": home + b'  XDG_DESKTOP_DIR = "$HOME/"',
        "home-is-root": b'\nXDG_DESKTOP_DIR="$HOME/Desktop"\n',
        "absolute-with-comment": home + b'XDG_DESKTOP_DIR="/abs/Desk top//"  # comment',
        "escapes": home + b'XDG_DESKTOP_DIR="$HOME/a \\"q\\" \\$x \\`"',
        "last-wins": home + b'XDG_DESKTOP_DIR="/first"\r\nXDG_DESKTOP_DIR="/second"\n',
        "relative-ignored": home + b'XDG_DESKTOP_DIR="/kept"\nXDG_DESKTOP_DIR="Desk"\n',
        "refused-home-prefix-only": home + b'XDG_DESKTOP_DIR="$HOMEx/y"',
        "refused-unterminated": home + b'XDG_DESKTOP_DIR="/unterminated',
        "refused-unquoted": home + b"XDG_DESKTOP_DIR=/unquoted",
        "refused-nul": home + b'XDG_DESKTOP_DIR="/a\0b"',
        "refused-commented-or-other-key": home + b'# XDG_DESKTOP_DIR="/c"\nXDG_DESKTOP_DIRS="/o"\n',
        "refused-empty": b"",
    }
    for name, data in seeds.items():
        write(name, data, "user_dirs")


if __name__ == "__main__":
    domain_loader_seeds()
    process_area_seeds()
    path_styles_seeds()
    user_dirs_seeds()
