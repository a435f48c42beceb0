#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: make_corpus.py OUTDIR.

One folder per target (OUTDIR/fuzz_itex, ...), a few small valid and nearly
valid inputs each, so that the fuzzer starts from the shapes the readers
expect instead of from nothing. Nothing here is kept in git but this script.
"""
import os
import struct
import sys
import zlib


def itex(comment, pixels, bpp=2, length=None):
    """An ITEX file: 'IM', the comment length at byte 2, 64 header bytes,
    the comment, then the little-endian pixel block."""
    c = comment.encode("utf-8")
    n = len(c) if length is None else length
    head = b"IM" + struct.pack("<H", n) + b"\0" * 60
    fmt = "<%d%s" % (len(pixels), "H" if bpp == 2 else "I")
    return head + c + struct.pack(fmt, *pixels)


def tiff(width, height, bits, fmt=1, rows_per_strip=None, big=False, tile=None,
         deflate=False, samples=1, photometric=1):
    """A minimal baseline TIFF with one image in strips (or one tile size)."""
    e = ">" if big else "<"
    bpp = bits // 8
    pix = bytes((i * 7 + 3) & 0xFF for i in range(width * height * bpp * samples))
    entries = []
    blobs = []

    def entry(tag, typ, count, value):
        entries.append((tag, typ, count, value))

    entry(256, 4, 1, width)
    entry(257, 4, 1, height)
    entry(258, 3, 1, bits)
    entry(259, 3, 1, 8 if deflate else 1)
    entry(262, 3, 1, photometric)
    entry(277, 3, 1, samples)
    entry(339, 3, 1, fmt)
    data_off = 8
    if tile:
        tw, th = tile
        tiles = []
        for ty in range(0, height, th):
            for tx in range(0, width, tw):
                t = bytearray(tw * th * bpp)
                for r in range(min(th, height - ty)):
                    src = ((ty + r) * width + tx) * bpp
                    n = min(tw, width - tx) * bpp
                    t[r * tw * bpp:r * tw * bpp + n] = pix[src:src + n]
                tiles.append(bytes(t))
        entry(322, 4, 1, tw)
        entry(323, 4, 1, th)
        chunks = tiles
        off_tag, cnt_tag = 324, 325
    else:
        rps = rows_per_strip or height
        entry(278, 4, 1, rps)
        row = width * bpp * samples
        chunks = [pix[y * row:(y + rps) * row] for y in range(0, height, rps)]
        off_tag, cnt_tag = 273, 279
    if deflate:
        chunks = [zlib.compress(c) for c in chunks]
    offsets = []
    pos = data_off
    for c in chunks:
        offsets.append(pos)
        pos += len(c)
    blob = b"".join(chunks)
    ifd_off = pos + (pos & 1)
    n_entries = len(entries) + 2
    extra_off = ifd_off + 2 + 12 * n_entries + 4
    extra = b""
    if len(chunks) == 1:
        entry(off_tag, 4, 1, offsets[0])
        entry(cnt_tag, 4, 1, len(chunks[0]))
    else:
        entry(off_tag, 4, len(chunks), extra_off)
        extra += struct.pack(e + "%dI" % len(chunks), *offsets)
        entry(cnt_tag, 4, len(chunks), extra_off + len(extra))
        extra += struct.pack(e + "%dI" % len(chunks), *[len(c) for c in chunks])
    entries.sort()
    out = (b"MM\0\x2a" if big else b"II\x2a\0") + struct.pack(e + "I", ifd_off)
    out += blob + b"\0" * (ifd_off - pos)
    out += struct.pack(e + "H", len(entries))
    for tag, typ, count, value in entries:
        if typ == 3 and count == 1:
            out += struct.pack(e + "HHIHH", tag, typ, count, value, 0)
        else:
            out += struct.pack(e + "HHII", tag, typ, count, value)
    out += struct.pack(e + "I", 0) + extra
    return out


def seeds():
    px12 = list(range(100, 112))
    yield "fuzz_itex", {
        "u16": itex("Prop_ImageWidth=4,Prop_ImageHeight=3,BytesPerPixel=2,", px12),
        "u32": itex("Prop_ImageWidth=3,Prop_ImageHeight=4,BytesPerPixel=4,", px12, 4),
        "area": itex('areSource="10,20,14,23",', px12),
        "nobytes": itex("Prop_ImageWidth=4,Prop_ImageHeight=3", px12),
        "quoted": itex('Comment="a, b",Prop_ImageWidth= 4 ,Prop_ImageHeight="3",', px12),
        "short": itex("Prop_ImageWidth=4,Prop_ImageHeight=3,BytesPerPixel=2,", px12[:7]),
        "huge": itex("Prop_ImageWidth=99999,Prop_ImageHeight=99999,BytesPerPixel=4,", px12),
        "negative": itex("Prop_ImageWidth=-4,Prop_ImageHeight=3,", px12),
        "longcomment": itex("Prop_ImageWidth=4,", px12, length=60000),
        "zerolength": itex("", px12),
    }
    yield "fuzz_tiff", {
        "u8": tiff(5, 4, 8),
        "u16strips": tiff(6, 5, 16, rows_per_strip=2),
        "i16be": tiff(4, 4, 16, fmt=2, big=True),
        "f32": tiff(3, 3, 32, fmt=3),
        "u32tiles": tiff(20, 18, 32, tile=(16, 16)),
        "deflate": tiff(8, 8, 16, deflate=True),
        "rgb": tiff(2, 2, 8, samples=3, photometric=2),
    }
    yield "fuzz_text_items", {
        "plain": b"images_load  /data/ct/a.img  # first image",
        "quoted": b'setup "with blank" \'single # quote\' # c',
        "open": b'"never closed item',
        "tail": b'item" other',
        "key": b'Prop_ImageWidth= "640" 2,',
        "cont": b"line continues \\  ",
        "unicode": "ja\u3000全角 \u00a0nbsp\ttab\x0bvt".encode("utf-8"),
    }
    yield "fuzz_batch_cmd", {
        "plain": b"ct_slice 100",
        "real": b"ct_center 1023.5 1e-7 nan inf -0",
        "quoted": b'images_dir "/data/with blank/x" *.img',
        "empty": b'cmd a "" b',
        "int": b"calc_threads 2147483648 -2147483648 0x10",
        "cond": b":ifok :goto label",
    }
    yield "fuzz_batch_file", {
        "loop": b"start\n:echo once\n:ifok :goto end\ncalc_exec\n:goto start\nend\n:end\n",
        "cont": b"images_load a \\\n  b # note\n\n:ifng :stop\nx\n",
        "self": b"here\n:goto here\n",
        "junk": bytes(range(256)) * 2,
        "lastcont": b"a \\\n",
    }
    yield "fuzz_setup_file", {
        "setup": (b"### vorlo2 setup saving setup file\n\n## Original Images\n\n"
                  b"images_dir               /data/ct *.img\n"
                  b'i0_file                  "/data/with blank/i0.img"\n'
                  b"ct_center                1023.5\n"
                  b"a_key_longer_than_twenty_five_chars 1 0\n"),
        "crlf": b"key value\r\nkey2 \"v w\"\r\n",
    }
    yield "fuzz_config_file", {
        "config": b"DataRoot /data # where\n2dZelkov localhost 6078\n\nINCLUDE inc.cfg\n"
                  b"\xffshow_sinogram 1\ninclude config.cfg\n",
        "cycle": b"INCLUDE config.cfg\n\xffINCLUDE inc.cfg\n",
        "quoted": b"-d \"/data/with blank\"\n'unbalanced # x\n",
    }
    yield "fuzz_energy_name", {
        "ev": b"Cu-8979_5eV-0001.img",
        "kev": b"sample-7.1125keV-0001.img",
        "none": b"no-energy-here.img",
        "plain": b"8979",
        "nodash": b"x_y_z",
        "exp": b"s-1e999eV-1.img",
    }
    scan = ("  9809  XAFS scan\nMode      0 0 1 1 2\nOffset    0 0 10 12 0\n")
    for k in range(8):
        scan += "%.5f %.5f 1.0 %d %d 7\n" % (14.0 - 0.05 * k, 14.0 - 0.05 * k, 10000 + k, 20000 + k)
    yield "fuzz_scan_file", {
        "scan": scan.encode(),
        "zero": b"Mode 0 0 1 1\nOffset\n0 0 0 5\n1 1 0 5\n12 12 1 5\n",
        "nooffset": b"Mode 0 0 1 1\n1 14 1 100\n",
        "nomode": b"Offset\n1 14 1 100\n1 13 1 100\n",
    }
    yield "fuzz_zelkov_lines", {
        "busy": b"ISBUSY 1 LOAD_I1_FILES\nISBUSY 0 LOAD_I1_FILES\n",
        "crlf": b"isbusy 0 analyzer_exec_2da\r\n\n\nhello\n",
        "partial": b"ISBUSY 0",
        "odd": b"ISBUSY x y\nISBUSY\n  ISBUSY   1  \n",
    }


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py OUTDIR")
    out = sys.argv[1]
    for target, files in seeds():
        d = os.path.join(out, target)
        os.makedirs(d, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode())


if __name__ == "__main__":
    main()
