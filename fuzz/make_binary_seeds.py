#!/usr/bin/env python3
"""Writes the binary seeds of the fuzz corpora: tiny xar archives, cpio payloads (plain, gzip, xz, pbzx)
and a binary property list. Run by hand when the formats the readers accept change; the output is
committed under fuzz/corpus/."""
import bz2
import gzip
import hashlib
import lzma
import os
import plistlib
import struct
import zlib

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    with open(os.path.join(CORPUS, target, name), "wb") as out:
        out.write(data)


def cpio(entries):
    """An odc ("070707") cpio archive of (name, mode, data) entries and its trailer."""
    out = b""
    for inode, (name, mode, data) in enumerate(entries + [("TRAILER!!!", 0, b"")], start=1):
        encoded = name.encode() + b"\0"
        out += b"070707" + b"%06o%06o%06o%06o%06o%06o%06o%011o%06o%011o" % (
            0, inode, mode, 0, 0, 1, 0, 0, len(encoded), len(data)) + encoded + data
    return out


def pbzx(payload, stored):
    out = b"pbzx" + struct.pack(">Q", 1 << 24)
    chunk = payload if stored else lzma.compress(payload, format=lzma.FORMAT_XZ)
    return out + struct.pack(">QQ", len(payload), len(chunk)) + chunk


def xar(files, algorithm="sha1"):
    """A xar archive of (name, stored bytes, decoded bytes, encoding) files at the top level."""
    digest = lambda data: hashlib.new(algorithm, data).hexdigest()
    checksum_size = hashlib.new(algorithm).digest_size
    heap = b""
    entries = ""
    offset = checksum_size
    for number, (name, stored, decoded, encoding) in enumerate(files, start=2):
        entries += (
            f'<file id="{number}"><name>{name}</name><type>file</type><data>'
            f"<offset>{offset}</offset><length>{len(stored)}</length><size>{len(decoded)}</size>"
            f'<encoding style="{encoding}"/>'
            f'<archived-checksum style="{algorithm}">{digest(stored)}</archived-checksum>'
            f'<extracted-checksum style="{algorithm}">{digest(decoded)}</extracted-checksum>'
            "</data></file>")
        heap += stored
        offset += len(stored)
    toc = (f'<?xml version="1.0" encoding="UTF-8"?><xar><toc><checksum style="{algorithm}">'
           f"<offset>0</offset><size>{checksum_size}</size></checksum>"
           f'<file id="1"><name>Scan.pkg</name><type>directory</type>{entries}</file></toc></xar>').encode()
    compressed = zlib.compress(toc)
    code = {"sha1": 1, "sha256": 3, "sha512": 4}[algorithm]
    header = struct.pack(">4sHHQQI", b"xar!", 28, 1, len(compressed), len(toc), code)
    return header + compressed + hashlib.new(algorithm, compressed).digest() + heap


def main():
    payload = cpio([(".", 0o40755, b""), ("./Applications", 0o40755, b""),
                    ("./Applications/Scan.app", 0o100644, b"scan\n"),
                    ("./Applications/link", 0o120777, b"Scan.app")])
    write("payload", "plain.cpio", payload)
    write("payload", "gzip.cpio.gz", gzip.compress(payload, mtime=0))
    write("payload", "xz.cpio.xz", lzma.compress(payload, format=lzma.FORMAT_XZ))
    write("payload", "stored.pbzx", pbzx(payload, stored=True))
    write("payload", "xz.pbzx", pbzx(payload, stored=False))
    write("payload", "escape.cpio", cpio([("./../outside", 0o100644, b"x")]))

    info = b"<pkg-info identifier=\"com.tarn.scan\" version=\"1.2\" install-location=\"/\"/>\n"
    write("xar", "plain.xar", xar([("PackageInfo", info, info, "application/octet-stream")]))
    write("xar", "zlib-sha256.xar", xar([("PackageInfo", zlib.compress(info), info, "application/x-gzip")],
                                        algorithm="sha256"))
    write("xar", "bzip2.xar", xar([("Payload", bz2.compress(payload), payload, "application/x-bzip2")]))

    info_plist = {"CFBundleIdentifier": "com.tarn.scan", "CFBundleShortVersionString": "1.2.3",
                  "CFBundleVersion": "123", "LSItems": [7, True, 1.5, b"\0\1", {"nested": "x"}]}
    binary = plistlib.dumps(info_plist, fmt=plistlib.FMT_BINARY, sort_keys=True)
    write("property_list", "info.bplist", binary)
    write("tool_plist", "info.bplist", binary)


if __name__ == "__main__":
    main()
