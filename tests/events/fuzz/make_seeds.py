#!/usr/bin/env python3
"""Writes the seed corpus of the page walk fuzz target (input format: see
page_walk_fuzz.cpp). Run from this folder; the output is committed."""
import os
import struct

APP = bytes([0x99, 0x10, 0xc1, 0x28, 0x39, 0x61, 0x47, 0xe6, 0xbe, 0x6c, 0x71, 0x5a, 0x0f, 0x03, 0xad, 0xd6])
OPAQUE, OTHER, SHORT_NAME, NO_DEF = 0, 1, 2, 3


def header(source=b"src", tag=b"tag", version=1, revision=7, filled=None):
    h = bytearray(720)
    h[0], h[1] = version, revision
    h[64:64 + len(source)] = source
    h[128:128 + len(tag)] = tag
    return h


def record(rtype, size, offset=0, rid=0, app=APP, data=b"", data_size=None):
    r = bytearray(size)
    body = bytearray(53)
    body[8] = rtype
    struct.pack_into("<IIxxxxxxxxxxxxxxxxQQI", body, 9, offset, rid, 0, 0, len(data) if data_size is None else data_size)
    body[17:33] = app
    body += data
    n = min(size, len(body))
    r[:n] = body[:n]
    return bytes(r)


def events(records, size, kind=OPAQUE, schema=1, count=None):
    t = (size << 2) | kind
    h = bytearray(b"VEME" + bytes(12))
    h[12] = schema
    struct.pack_into("<H", h, 13, t & 0xffff)
    h[15] = len(records) if count is None else count
    return bytes(h) + b"".join(records)


def schemas(length, field=None):
    h = bytearray(b"VEMS" + bytes(max(length, 16) - 4))
    struct.pack_into("<H", h, 4, length if field is None else field)
    return bytes(h)


def page(blocks, spare=0, **kw):
    p = header(**kw) + b"".join(blocks)
    filled = len(p)
    p += bytes(spare)
    struct.pack_into("<QQ", p, 8, len(p), filled)
    return bytes(p)


def seed(flags, *pages):
    out = bytes([flags])
    for p in pages:
        out += struct.pack("<H", len(p)) + p
    return out


def meta(*pairs):
    return b"".join(p + b"\0" for p in pairs)


R = 96
seeds = {
    "whole_events": seed(0, page([events([record(0, R, data=b"hello"), record(0, R, data=b"x" * 43)], R)], 8)),
    "extended_single_buffer": seed(0,
        page([events([record(1, R, offset=10, rid=7, data=meta(b"a=1", b"b=", b"c=x=y")), record(2, R, 0, 7, data=b"abcd")], R)]),
        page([events([record(2, R, 4, 7, data=b"efghij")], R)])),
    "extended_chunk_list": seed(1,
        page([events([record(1, R, offset=6, rid=2), record(2, R, 0, 2, data=b"ab"), record(2, R, 2, 2, data=b"cd")], R)]),
        page([events([record(2, R, 4, 2, data=b"ef")], R)])),
    "schemas_and_other_types": seed(0, page([schemas(24), events([record(0, 60, data=b"1")], 60),
                                             events([bytes(40)], 40, kind=OTHER), schemas(16),
                                             events([record(0, 60)], 60, kind=SHORT_NAME), b"VEMB" + bytes(12)])),
    "interleaved_sources": seed(2,
        page([events([record(1, R, offset=2, rid=1)], R)], source=b"A"),
        page([events([record(1, R, offset=2, rid=1)], R)], source=b"B"),
        page([events([record(2, R, 0, 1, data=b"b!")], R)], source=b"B"),
        page([events([record(2, R, 0, 1, data=b"a!")], R)], source=b"A")),
    "bad_chunks": seed(0, page([events([record(1, R, offset=5, rid=1), record(2, R, 0, 9, data=b"zz"),
                                        record(2, R, 3, 1, data=b"x"), record(2, R, 0, 1, data=b"abcdefg"),
                                        record(2, R, 0, 4, data=b"q")], R)])),
    "bad_meta": seed(0, page([events([record(1, R, offset=1, rid=1, data=meta(b"a=1", b"")),
                                      record(1, R, offset=1, rid=2, data=b"=v\0")], R),
                              events([record(1, 60, offset=1, rid=3, data=b"key=val")], 60)])),
    "malformed_blocks": seed(0,
        page([schemas(16, field=0)]),
        page([schemas(20, field=300)]),
        page([events([bytes(60)], 52)]),
        page([events([bytes(60), bytes(60)], 3, schema=0x81)]),
        page([events([record(0, R, data=b"x", data_size=80)], R)]),
        page([b"VEME\0\0"]),
        page([events([], R), b"VEM"])),
    "header_checks": seed(0, page([], 16, version=2), page([], 16, revision=6), page([], 0),
                          page([events([], R)], source=b"s" * 64), page([events([], R)], tag=b"t" * 16),
                          page([b"VEMD" + bytes(12)]), page([events([record(0, R)], R, kind=NO_DEF)]),
                          page([events([record(7, R), record(0, R, app=bytes(16))], R)])),
}
# A page whose total_size is below its header: the fuzz target sets total_size to the
# page length, so a short page is simply a short input.
seeds["short_page"] = seed(0, page([])[:100])

os.makedirs("corpus", exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join("corpus", name), "wb") as f:
        f.write(data)
