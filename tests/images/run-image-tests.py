#!/usr/bin/env python3
"""The image codecs against ImageMagick, an independent reader and writer.

ImageMagick's convert makes the inputs in every variant the codecs must
read (PNG colour types and depths, interlacing and transparency chunks;
baseline, progressive, grey and CMYK JPEG; GIF 87a and 89a, transparency,
interlacing and several frames; TIFF layouts and compressions; BMP of every
depth, both row orders, run-length coded (RLE8) and the core header). kel decodes each, and the
pixels must equal what convert decodes from the same file (JPEG within a
small tolerance). Then kel encodes an image in each format: convert must
read back the pixels kel wrote (exactly for PNG, BMP and TIFF with alpha,
for GIF up to 256 colours; JPEG within tolerance), and kel's own load of the
saved file must give its pixels back.

The codec libraries are opened at the first image of their format: a run
that touches no image maps none of them, and a library that cannot be
opened (stood in for by an empty library of the same file name, found first
through LD_LIBRARY_PATH) makes that format's load fail with access
cannot-open naming the file, while the other formats still work.

Usage: run-image-tests.py <kel> <work folder> <folder of the empty libpng stand-in>
ImageMagick is a test dependency (scripts/setup-deps installs it): its
absence is a failure, not a reason to skip.
"""
import os
import shutil
import struct
import subprocess
import sys

JPEG_TOLERANCE = 3       # the same library decodes; rounding may differ by a step or two
CMYK_TOLERANCE = 6       # the CMYK to RGB conversion rounds in its own way
LOSSY_ROUND_TRIP = 24    # JPEG at quality 90 against the source


def find_convert():
    for candidate in ("/usr/bin/convert", shutil.which("convert")):
        if candidate and os.path.exists(candidate):
            return candidate
    return None


class Oracle:
    def __init__(self, convert, folder):
        self.convert = convert
        self.folder = folder

    def make(self, name, *arguments):
        """Runs convert on the arguments into the file; a last argument such as PNG24: names the coder."""
        path = os.path.join(self.folder, name)
        coder = ""
        if arguments and arguments[-1].endswith(":"):
            arguments, coder = arguments[:-1], arguments[-1]
        subprocess.run([self.convert, *arguments, coder + path], check=True, capture_output=True)
        return path

    def pixels(self, path):
        """(width, height, RGBA bytes) of the file's first frame, 8 bits a channel."""
        size = subprocess.run([self.convert, path + "[0]", "-format", "%w %h", "info:"], check=True,
                              capture_output=True, text=True).stdout.split()
        raw = subprocess.run([self.convert, path + "[0]", "-depth", "8", "rgba:-"], check=True,
                             capture_output=True).stdout
        return int(size[0]), int(size[1]), raw


def run_kel(kel, folder, script, **environment):
    path = os.path.join(folder, "driver.kel")
    with open(path, "w") as f:
        f.write("Kel []\n" + script)
    env = dict(os.environ, HOME=folder, **environment)
    done = subprocess.run([kel, path], cwd=folder, capture_output=True, text=True, env=env, timeout=600)
    return done.stdout + done.stderr


def kel_pixels(folder, name):
    """(width, height, RGBA bytes) kel wrote for a file: its size line and its argb bytes."""
    with open(os.path.join(folder, name + ".size")) as f:
        width, height = (int(n) for n in f.read().strip().split("x"))
    with open(os.path.join(folder, name + ".argb"), "rb") as f:
        bgra = f.read()
    rgba = bytearray(len(bgra))
    rgba[0::4], rgba[1::4], rgba[2::4], rgba[3::4] = bgra[2::4], bgra[1::4], bgra[0::4], bgra[3::4]
    return width, height, bytes(rgba)


def difference(a, b):
    """The largest channel difference of two RGBA strings, and the first pixel where it is."""
    worst, where = 0, None
    for i in range(len(a)):
        d = abs(a[i] - b[i])
        if d > worst:
            worst, where = d, i // 4
    return worst, where


def compare(label, expected, actual, tolerance, failures):
    (ew, eh, ep), (aw, ah, ap) = expected, actual
    if (ew, eh) != (aw, ah):
        failures.append(f"{label}: size {aw}x{ah}, expected {ew}x{eh}")
        return
    if len(ep) != len(ap):
        failures.append(f"{label}: {len(ap)} bytes of pixels, expected {len(ep)}")
        return
    worst, where = difference(ep, ap)
    if worst > tolerance:
        failures.append(f"{label}: a channel differs by {worst} at pixel {where} (tolerance {tolerance})")


def top_down_bmp(source, target):
    """A copy of a BITMAPINFOHEADER bottom-up BMP with its rows top-down."""
    with open(source, "rb") as f:
        data = bytearray(f.read())
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    depth = struct.unpack_from("<H", data, 28)[0]
    stride = (width * depth + 31) // 32 * 4
    rows = [data[offset + r * stride: offset + (r + 1) * stride] for r in range(height)]
    data[offset: offset + stride * height] = b"".join(reversed(rows))
    struct.pack_into("<i", data, 22, -height)
    with open(target, "wb") as f:
        f.write(data)
    return target


def make_inputs(o):
    """(file name, tolerance) for every variant to decode."""
    base = ["-size", "37x23", "gradient:red-blue", "(", "-size", "23x37", "gradient:yellow-black", "-rotate", "90",
            ")", "-compose", "multiply", "-composite", "-swirl", "120", "-depth", "8"]
    alpha = ["(", "-size", "37x23", "gradient:white-none", "-rotate", "0", ")", "-compose", "copyopacity",
             "-composite"]
    binary_alpha = ["-channel", "A", "-threshold", "50%", "+channel"]
    inputs = []

    def add(name, tolerance, *arguments):
        o.make(name, *arguments)
        inputs.append((name, tolerance))

    o.make("base.png", *base)
    o.make("base-alpha.png", *base, *alpha, "-depth", "8")
    b, ba = os.path.join(o.folder, "base.png"), os.path.join(o.folder, "base-alpha.png")
    # PNG
    add("rgb.png", 0, b, "PNG24:")
    o.make("rgba.png", ba, "PNG32:")
    inputs.append(("rgba.png", 0))
    add("palette.png", 0, b, "-colors", "16", "PNG8:")
    add("palette-trns.png", 0, ba, *binary_alpha, "-colors", "16", "PNG8:")
    add("grey.png", 0, b, "-colorspace", "gray", "-define", "png:color-type=0", "-define", "png:bit-depth=8")
    add("grey-1bit.png", 0, b, "-monochrome", "-define", "png:color-type=0", "-define", "png:bit-depth=1")
    add("grey-alpha.png", 0, ba, "-colorspace", "gray", "-define", "png:color-type=4")
    add("rgb-trns.png", 0, b, "-fill", "white", "-draw", "rectangle 0,0 5,5", "-transparent", "white", "PNG24:")
    add("grey-trns.png", 0, b, "-colorspace", "gray", "-fill", "white", "-draw", "rectangle 0,0 5,5",
        "-transparent", "white", "-define", "png:color-type=0")
    add("rgb-16.png", 0, b, "-depth", "16", "PNG48:")
    add("rgba-16.png", 0, ba, "-depth", "16", "PNG64:")
    add("interlaced.png", 0, ba, "-interlace", "PNG", "PNG32:")
    # JPEG
    add("baseline.jpg", JPEG_TOLERANCE, b, "-quality", "85")
    add("progressive.jpg", JPEG_TOLERANCE, b, "-interlace", "JPEG", "-quality", "85")
    add("grey.jpg", JPEG_TOLERANCE, b, "-colorspace", "gray")
    add("cmyk.jpg", CMYK_TOLERANCE, b, "-colorspace", "CMYK")
    # GIF
    add("plain89.gif", 0, b)
    add("plain87.gif", 0, b, "GIF87:")
    add("transparent.gif", 0, ba, *binary_alpha)
    add("interlaced.gif", 0, b, "-interlace", "GIF")
    frames = [o.make(f"frame{i}.png", "-size", "37x23", f"xc:{c}") for i, c in enumerate(("green", "red", "blue"))]
    add("frames.gif", 0, frames[0], frames[1], frames[2])
    # TIFF
    add("rgb-none.tif", 0, b, "-compress", "none")
    add("rgb-lzw.tif", 0, b, "-compress", "lzw")
    add("rgb-zip.tif", 0, b, "-compress", "zip")
    add("rgb-packbits.tif", 0, b, "-compress", "rle")
    add("rgba.tif", 0, ba, "-compress", "lzw")
    add("grey.tif", 0, b, "-colorspace", "gray", "-compress", "none")
    add("palette.tif", 0, b, "-colors", "16", "-type", "palette", "-compress", "none")
    add("bilevel.tif", 0, b, "-monochrome", "-compress", "group4")
    add("grey-16.tif", 1, b, "-colorspace", "gray", "-depth", "16")
    # BMP
    add("bilevel.bmp", 0, b, "-monochrome", "-type", "bilevel", "BMP3:")
    add("palette4.bmp", 0, b, "-colors", "12", "-type", "palette", "-define", "bmp:format=bmp3", "BMP3:")
    add("palette8.bmp", 0, b, "-colors", "100", "-type", "palette", "BMP3:")
    add("rgb565.bmp", 0, b, "-type", "truecolor", "-define", "bmp:subtype=RGB565", "BMP:")
    add("rgb555.bmp", 0, b, "-type", "truecolor", "-define", "bmp:subtype=RGB555", "BMP:")
    add("rgb24.bmp", 0, b, "-type", "truecolor", "BMP3:")
    add("rgba32.bmp", 0, ba, "-type", "truecolormatte", "BMP:")
    add("core.bmp", 0, b, "-type", "truecolor", "BMP2:")
    add("rle8.bmp", 0, b, "-colors", "100", "-type", "palette", "-compress", "rle", "BMP:")
    top_down_bmp(os.path.join(o.folder, "rgb24.bmp"), os.path.join(o.folder, "top-down.bmp"))
    inputs.append(("top-down.bmp", 0))
    return inputs


def main():
    kel, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    stand_in = os.path.abspath(sys.argv[3])
    convert = find_convert()
    if convert is None:
        print("ImageMagick's convert is missing: install the imagemagick package (scripts/setup-deps)")
        return 1
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    o = Oracle(convert, folder)
    failures = []
    inputs = make_inputs(o)

    # Decoding: each file through load, which picks the codec by suffix.
    script = "".join(f'img: load %{name}\nwrite %{name}.argb img/argb\nwrite %{name}.size mold img/size\n'
                     for name, _ in inputs)
    # Encoding: the RGBA source in every format, by suffix, then read back.
    outputs = ["out.png", "out.bmp", "out.tif", "out.gif", "out.jpg", "out.jpeg", "out.tiff"]
    script += 'source: load %rgba.png\nopaque: load %rgb.png\nfew: load %palette-trns.png\n'
    for name in outputs:
        picture = "opaque" if name.endswith((".jpg", ".jpeg")) else ("few" if name.endswith(".gif") else "source")
        script += (f'save %{name} {picture}\nback: load %{name}\n'
                   f'write %{name}.argb back/argb\nwrite %{name}.size mold back/size\n')
    script += 'print "done"\n'
    output = run_kel(kel, folder, script)
    if "done" not in output:
        print("kel did not finish the decoding script:\n" + output)
        return 1

    for name, tolerance in inputs:
        compare(f"decode {name}", o.pixels(os.path.join(folder, name)), kel_pixels(folder, name), tolerance, failures)

    sources = {"source": "rgba.png", "opaque": "rgb.png", "few": "palette-trns.png"}
    for name in outputs:
        lossy = name.endswith((".jpg", ".jpeg"))
        source = "opaque" if lossy else ("few" if name.endswith(".gif") else "source")
        original = o.pixels(os.path.join(folder, sources[source]))
        if source == "few":
            # GIF has only on and off for alpha: a transparent pixel reads back as transparent black.
            w, h, p = original
            p = bytearray(p)
            for i in range(0, len(p), 4):
                if p[i + 3] < 128:
                    p[i: i + 4] = b"\0\0\0\0"
            original = (w, h, bytes(p))
        tolerance = LOSSY_ROUND_TRIP if lossy else 0
        compare(f"encode {name} (read by convert)", original, o.pixels(os.path.join(folder, name)), tolerance,
                failures)
        compare(f"encode {name} (read by kel)", original, kel_pixels(folder, name), tolerance, failures)

    # A GIF of more than 256 colours is quantized: each channel stays near.
    output = run_kel(kel, folder, 'save %many.gif load %rgb-16.png print "done"\n')
    if "done" not in output:
        failures.append("saving a GIF of many colours:\n" + output)
    else:
        compare("encode many.gif (quantized)", o.pixels(os.path.join(folder, "rgb-16.png")),
                o.pixels(os.path.join(folder, "many.gif")), 48, failures)

    # Which codec libraries the process has mapped, before any image and
    # after a PNG: libpng alone, and only once it is used.
    libraries = ["libpng", "libjpeg", "libgif", "libtiff"]
    probe = "".join(f'print ["{stage}" "{name}" either find to string! read %/proc/self/maps "{name}" ["mapped"] ["absent"]]\n'
                    for stage in ("start", "png") for name in libraries)
    probe = probe.replace('print ["png" "libpng"', 'picture: load %rgb.png\nprint ["png" "libpng"', 1)
    output = run_kel(kel, folder, probe)
    for name in libraries:
        if f"start {name} absent" not in output:
            failures.append(f"{name} was mapped before any image was used:\n" + output)
        expected = "mapped" if name == "libpng" else "absent"
        if f"png {name} {expected}" not in output:
            failures.append(f"after loading a PNG, {name} should be {expected}:\n" + output)

    # A libpng without its functions: PNG refuses with the library's name,
    # JPEG is untouched.
    output = run_kel(kel, folder,
                     'failed: try [load %rgb.png]\nprint ["png" failed/id failed/arg1]\n'
                     'picture: load %baseline.jpg\nprint ["jpeg" picture/size]\n', LD_LIBRARY_PATH=stand_in)
    if "png cannot-open libpng16.so.16" not in output or "jpeg 37x23" not in output:
        failures.append("a libpng that cannot be used:\n" + output)

    for failure in failures:
        print(failure)
    checked = len(inputs) + 2 * len(outputs) + 1 + 2 * len(libraries) + 1
    print(f"{checked} image comparisons, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
