#!/usr/bin/env python3
"""Writes the seed inputs of the bookmark fuzz target into corpus/bookmark/.

The seeds are built here from scratch, by an encoder of its own, so they check the library's
reader against a second reading of the format: bookmarks in both containers, a target on another
volume with two tables of contents and null file IDs, string-keyed and unknown items, narrow
numbers, the fallbacks a reader needs (no path components, the root itself), and the shapes it
must refuse (a looping table chain, a self-referencing array, truncation, offsets and counts past
the end, a path component that is not a string, a path beyond NAME_MAX and PATH_MAX, more table
entries than the area has room for; named "refused-..."). The two Finder alias files
of fixtures/alias are copied beside them. Run it again after changing it; the outputs are checked in.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "bookmark")
FIXTURES = os.path.join(HERE, "..", "fixtures", "alias")


class Area:
    """A data area: the first table's offset, then items on 4-byte boundaries, then tables."""

    def __init__(self):
        self.b = bytearray(4)

    def item(self, kind, payload=b""):
        at = len(self.b)
        self.b += struct.pack("<II", len(payload), kind) + payload
        self.b += b"\0" * (-len(self.b) % 4)
        return at

    def text(self, s):
        return self.item(0x0101, s.encode())

    def int32(self, v):
        return self.item(0x0303, struct.pack("<i", v))

    def int64(self, v):
        return self.item(0x0304, struct.pack("<q", v))

    def date(self, v):
        return self.item(0x0400, struct.pack(">d", v))

    def array(self, offsets):
        return self.item(0x0601, b"".join(struct.pack("<I", o) for o in offsets))

    def props(self, flags, mask):
        return self.item(0x0201, struct.pack("<QQQ", flags, mask, mask))

    def table(self, ident, entries, size=None):
        at = len(self.b)
        entries = sorted(entries)
        self.b += struct.pack("<IIIII", 12 + 12 * len(entries) if size is None else size,
                              0xFFFFFFFE, ident, 0, len(entries))
        for key, off in entries:
            self.b += struct.pack("<III", key, off, 0)
        return at

    def chain(self, table, nxt):
        struct.pack_into("<I", self.b, table + 12, nxt)

    def finish(self, first):
        struct.pack_into("<I", self.b, 0, first)
        return bytes(self.b)


def form_a(area, magic=b"book"):
    return magic + struct.pack("<III", 0x30 + len(area), 0x10040000, 0x30) + bytes(32) + area


def form_b(area):
    return (b"book\0\0\0\0mark\0\0\0\0" + struct.pack("<IIIII", 0x38, 0x38, len(area), 0x10040000, 0)
            + bytes(4) + struct.pack("<d", 700000000.0) + bytes(8) + area)


def volume(a, path, name, flags):
    return [(0x2002, a.text(path)), (0x2005, a.item(0x0901, ("file://" + path.rstrip("/") + "/").encode())),
            (0x2010, a.text(name)), (0x2011, a.text("0A1B2C3D-4E5F-4061-8283-A4B5C6D7E8F9")),
            (0x2012, a.int64(500_000_000_000)), (0x2013, a.date(-978307200.0)),
            (0x2020, a.props(flags, 0x1000013EF))]


def bookmark(components, ids=None, vol="/", name="Filesystem root", extra=(), second=False,
             component=None, size=None, shared=False):
    """A bookmark area; `component` replaces the item of the first path component; `shared`
    makes every component the one item of the first."""
    a = Area()
    options = a.int32(0x400)
    names = [a.text(components[0])] * len(components) if shared else [a.text(c) for c in components]
    if component is not None and names:
        names[0] = component(a)
    entries = [(0x1004, a.array(names)), (0x1010, a.props(1, 0x21F)), (0x1040, a.date(600000000.5)),
               (0xD010, options), (0xF017, a.text(components[-1] if components else name))]
    if ids is not None:
        entries.append((0x1005, a.array([a.item(0x0A01) if i is None else a.int64(i) for i in ids])))
    entries += volume(a, vol, name, 0x81 if vol == "/" else 0x101)
    yes = a.item(0x0501)
    entries += [(0xD001, yes)] + ([(0x2030, yes)] if vol == "/" else [])
    entries += [e(a) for e in extra]
    root = volume(a, "/", "Filesystem root", 0x1_0000_0081) if second else None
    first = a.table(1, entries, size)
    if second:
        a.chain(first, a.table(0xF000, root))
    return a.finish(first)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {}
    for fixture in ("folder.alias", "removable.alias"):
        shutil.copyfile(os.path.join(FIXTURES, fixture), os.path.join(OUT, "finder-" + fixture))

    plain = bookmark(["home", "me", "notes.txt"], ids=[2, 1_000_000, 1 << 61])
    seeds["file-form-a"] = form_a(plain)
    seeds["file-alis-magic"] = form_a(plain, b"alis")
    seeds["external-form-b"] = form_b(bookmark(
        ["media", "STICK", "caf\u0065\u0301.txt"], ids=[None, None, None], vol="/media/STICK", name="STICK",
        second=True,
        extra=[lambda a: (0x2000, a.array([a.int32(0xF000), a.int32(0), a.int32(1), a.int32(0)]))]))
    seeds["string-key-unknown-type"] = form_a(bookmark(
        ["tmp", "x"], extra=[lambda a: (0x80000000 | a.text("NSURLDocumentIdentifierKey"), a.int32(7)),
                             lambda a: (0x7777, a.item(0x0999, b"\xff" * 5))]))
    seeds["narrow-sizes"] = form_a(bookmark(["tmp", "y"], size=12 * 12 - 8, extra=[
        lambda a: (0x1005, a.array([a.item(0x0301, b"\x05"), a.item(0x0302, b"\x06\x00")]))]))
    url = Area()
    seeds["url-only"] = form_a(url.finish(url.table(1, [
        (0x1003, url.item(0x0901, b"file:///tmp/with%20space/a%C3%A9")), (0x2002, url.text("/"))])))
    root = bookmark([], extra=[lambda a: (0x1020, a.text("Filesystem root"))])
    seeds["root-target"] = form_b(root)

    # Refused: each must fail cleanly.
    looped = bytearray(plain)
    first = struct.unpack_from("<I", looped, 0)[0]
    struct.pack_into("<I", looped, first + 12, first)  # the table names itself as the next one
    seeds["refused-loop-chain"] = form_a(bytes(looped))
    seeds["refused-self-array"] = form_a(bookmark(["a", "b"], component=lambda a: a.array([len(a.b)])))
    seeds["refused-non-string-component"] = form_a(bookmark(["a", "b"], component=lambda a: a.int64(5)))
    seeds["refused-length-overrun"] = form_a(bookmark(["a"], component=lambda a: (
        a.item(0x0101, b"x"), struct.pack_into("<I", a.b, len(a.b) - 12, 0xFFFFFFF0))[0]))
    counted = bytearray(plain)
    struct.pack_into("<I", counted, first + 16, 0x10000000)
    seeds["refused-count-overrun"] = form_a(bytes(counted))
    seeds["refused-first-table-past-end"] = form_a(struct.pack("<I", 0x7FFFFFF0) + plain[4:])
    seeds["refused-truncated"] = form_b(plain)[:200]
    seeds["refused-empty"] = b""
    # Beyond what decoding may produce: one string item named as 5000 components (each copy a
    # path's worth), a name over 255 bytes, a path over 4096 bytes, and tables that overlap so
    # that their entries outnumber the area's 12-byte slots.
    seeds["refused-component-repeated"] = form_a(bookmark(["x" * 200] * 5000, shared=True))
    seeds["refused-name-over-255-bytes"] = form_a(bookmark(["tmp", "n" * 256]))
    seeds["refused-path-over-4096-bytes"] = form_a(bookmark(["d" * 250] * 17))
    overlapped = bytearray(plain)
    second = len(overlapped)
    struct.pack_into("<I", overlapped, first + 12, second)
    overlapped += struct.pack("<IIIII", 12 + 12 * 100, 0xFFFFFFFE, 2, second + 20 + 12 * 10, 100) + bytes(12 * 100)
    struct.pack_into("<IIIII", overlapped, second + 20 + 12 * 10, 12, 0xFFFFFFFE, 3, 0, 88)  # a table in its entries
    seeds["refused-table-entries-over-area"] = form_a(bytes(overlapped))
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
