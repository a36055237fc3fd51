#!/usr/bin/env python3
"""Makes a corpus of broken media in a folder, for the broken-media test.

Usage: make_broken_media.py OUT_DIR

Every item is made here from a few small files that ffmpeg and vips write, then
cut, patched or filled with seeded random bytes, so the corpus is the same on
every machine. A file named "complete" is written last.
"""
import os
import random
import struct
import subprocess
import sys
import zlib


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def boxes(data, start, end):
    """The MP4 boxes between start and end: (type, start, header size, end)."""
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[at + 8:at + 16])[0]
            header = 16
        elif size == 0:
            size = end - at
        if size < header or at + size > end:
            return
        yield kind.decode("latin-1"), at, header, at + size
        at += size


def find_box(data, path, start=0, end=None):
    """The first box along a path of types, e.g. ["moov", "trak", ...]."""
    end = len(data) if end is None else end
    for kind, at, header, stop in boxes(data, start, end):
        if kind == path[0]:
            if len(path) == 1:
                return at, header, stop
            # stsd and other full boxes are not on our paths; these are containers.
            found = find_box(data, path[1:], at + header, stop)
            if found:
                return found
    return None


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        os.remove(os.path.join(out, name))
    tmp = os.path.join(out, ".work")
    os.makedirs(tmp, exist_ok=True)
    rng = random.Random(11)

    def write(name, data):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

    def read(path):
        with open(path, "rb") as f:
            return f.read()

    # Source media: a 2-second 320x180 clip at 10 frames a second with a key
    # frame every 5, once with the index (moov) at the front and once at the end.
    src = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=320x180:d=2:r=10",
           "-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "5"]
    front = os.path.join(tmp, "front.mp4")
    back = os.path.join(tmp, "back.mp4")
    run(*src, "-movflags", "+faststart", front)
    run(*src, back)
    clip_front, clip_back = read(front), read(back)

    write("valid.mp4", clip_front)
    write("empty.mp4", b"")
    write("empty.jpg", b"")
    write("random.mp4", bytes(rng.getrandbits(8) for _ in range(65536)))
    write("random.png", bytes(rng.getrandbits(8) for _ in range(4096)))
    write("truncated-front-index.mp4", clip_front[:len(clip_front) // 2])
    write("truncated-end-index.mp4", clip_back[:len(clip_back) // 2])

    # Chunk offsets from the second chunk on point far past the end of the file.
    data = bytearray(clip_front)
    stco = find_box(data, ["moov", "trak", "mdia", "minf", "stbl", "stco"])
    if not stco:
        sys.exit("no stco box in the source clip")
    at, header, _ = stco
    count = struct.unpack(">I", data[at + header + 4:at + header + 8])[0]
    for k in range(1, count):
        entry = at + header + 8 + 4 * k
        offset = struct.unpack(">I", data[entry:entry + 4])[0]
        data[entry:entry + 4] = struct.pack(">I", offset + 0x40000000)
    write("index-past-end.mp4", bytes(data))

    # Garbage over the middle of the coded pictures: one frame in the middle breaks.
    data = bytearray(clip_front)
    mdat = find_box(data, ["mdat"])
    at, header, stop = mdat
    middle = (at + header + stop) // 2
    data[middle:middle + 600] = bytes(rng.getrandbits(8) for _ in range(600))
    write("corrupt-middle-frame.mp4", bytes(data))

    one = os.path.join(tmp, "one.mp4")
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=red:s=16x16:d=2:r=5",
        "-vf", "scale=1:1", "-c:v", "libx264", "-pix_fmt", "yuv444p", one)
    write("one-pixel.mp4", read(one))

    # A video declaring 100000 x 100000 pixels a frame, then one frame's start.
    write("huge-frames.y4m",
          b"YUV4MPEG2 W100000 H100000 F25:1 Ip A1:1 C420jpeg\nFRAME\n" + bytes(4096))

    png = os.path.join(tmp, "picture.png")
    run("vips", "black", png, "64", "48", "--bands", "3")
    picture = read(png)
    write("valid.png", picture)
    # The stored checksum of the header chunk (bytes 29..32) is wrong.
    data = bytearray(picture)
    data[29] ^= 0xFF
    write("bad-crc.png", bytes(data))

    jpeg = os.path.join(tmp, "picture.jpg")
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=320x240", "-frames:v", "1", jpeg)
    photo = read(jpeg)
    write("half.jpg", photo[:len(photo) // 2])

    # A GIF with a screen descriptor and the trailer, and no image at all.
    write("no-frames.gif", b"GIF89a" + struct.pack("<HHBBB", 16, 16, 0, 0, 0) + b"\x3b")

    # Declared sizes of 100000 x 100000 (PNG) and 65500 x 65500 (the most a
    # JPEG header holds, near enough), with a few real bytes after them.
    ihdr = struct.pack(">IIBBBBB", 100000, 100000, 8, 2, 0, 0, 0)
    idat = zlib.compress(bytes(100001 * 4))
    write("huge.png", b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", idat)
          + png_chunk(b"IEND", b""))
    data = bytearray(photo)
    sof = data.find(b"\xff\xc0")
    if sof < 0:
        sys.exit("no SOF0 marker in the source JPEG")
    data[sof + 5:sof + 9] = struct.pack(">HH", 65500, 65500)
    write("huge.jpg", bytes(data))

    # A JPEG XL stream that libjxl rejects with messages of its own on
    # standard error (found by photo_fuzz).
    write("noisy.jxl", b"\xff\x0a\x8b\x47\x0d\xff\x50\x4e\x5a\x1a\x4e\x0a")

    for name in os.listdir(tmp):
        os.remove(os.path.join(tmp, name))
    os.rmdir(tmp)
    write("complete", b"")


if __name__ == "__main__":
    main()
