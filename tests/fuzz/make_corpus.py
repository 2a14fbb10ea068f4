#!/usr/bin/env python3
"""Writes the reader fuzzer's seed corpus: tiny archives laid out as the folder archiver writes
them, plus hostile variants. Usage: make_corpus.py [FOLDER] (default: corpus/ beside this file)"""
import os
import struct
import sys
import zlib

DATE_2006 = ((2006 - 1980) << 9) | (5 << 5) | 17
TIME = (14 << 11) | (35 << 5) | 21
FOLDER_DATE = 0xC421


def deflate(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def archive(entries):
    """entries: (name, data, method, crc or None, declared size or None), all but the name optional."""
    body = central = b""
    for name, data, method, crc, size in ((e + (b"", 8, None, None)[len(e) - 1:]) for e in entries):
        raw = name.encode("latin-1")
        packed = deflate(data) if method == 8 else data
        crc = zlib.crc32(data) if crc is None else crc
        size = len(data) if size is None else size
        date = FOLDER_DATE if name.endswith("\\") or name == "" else DATE_2006
        flag = 2 if method == 8 else 0
        shared = struct.pack("<HHHHHIIIHH", 20, flag, method, TIME if date != FOLDER_DATE else 0,
                             date, crc, len(packed), size, len(raw), 0)
        central += b"PK\x01\x02" + b"\x00\x00" + shared + struct.pack("<HHHII", 0, 0, 0, 0, len(body)) + raw
        body += b"PK\x03\x04" + shared + raw + packed
    end = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, len(entries), len(entries),
                                      len(central), len(body), 0)
    return body + central + end


def output_file(payload, prefix_bytes=512):
    """A stub-like prefix ("MZ" and filler), the archive, the 4-byte trailer."""
    prefix = bytearray((i * 7 + 3) & 0xFF for i in range(prefix_bytes))
    prefix[0:2] = b"MZ"
    return bytes(prefix) + payload + struct.pack("<I", len(payload))


TEXT = b"Vezovud packs a folder into one file.\n" * 8

CORPUS = {
    "empty.zip": archive([]),
    "stored.zip": archive([("",), ("a.txt", b"hello\n", 0)]),
    "deflated.zip": archive([("",), ("docs\\",), ("docs\\read me.txt", TEXT)]),
    "folders.zip": archive([("a\\",), ("a\\b\\",), ("a\\b\\empty.bin",)]),
    "output.exe": output_file(archive([("",), ("x\\y.txt", TEXT)])),
    "traversal.zip": archive([("..\\up.txt", b"up", 0), ("/root.txt", b"root", 0),
                              ("C:\\drive\\c.txt", b"c", 0), ("a\\..\\..\\b.txt", b"b"),
                              ("NUL.txt", b"n", 0)]),
    "clash.zip": archive([("a", b"data", 0), ("a\\",), ("a\\b.txt", b"b", 0), ("d\\",),
                          ("d", b"file over folder", 0)]),
    "damaged.zip": archive([("crc.txt", TEXT, 8, 0x12345678), ("short.txt", b"short", 0, None, 4096),
                            ("same.txt", b"one", 0), ("same.txt", b"two!", 0)]),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in sorted(CORPUS.items()):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
