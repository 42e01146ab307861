#!/usr/bin/env python3
"""The boot image through a real boot (kel-boot-host, which boots as kel
does from an image file or from the embedded sources):

- booting from the build's image and from the sources makes the same
  system: the global words in their order, every value, every function's
  interface and body, every object's words, and the whole system object,
  with the process's own arguments, folder and home in it (the image
  carries the heap its writer's boot left, made in another folder with
  other arguments); an image whose heap started from another heap boots
  by evaluating the library, to the same system;
- writing the image again gives the same bytes;
- a damaged image (bytes changed, cut short, an entry missing, records the
  kelbin reader refuses, an order of texts that names no text, bytes past
  its end) makes the boot say what is wrong and end with
  status 1, never run on, crash or end with another status.

    run-boot-image-tests.py <kel-boot-host> <boot image file> <kel-write-boot-image>

A failing case prints what it expected and what it got; a summary line
ends the run, which exits 1 when any case fails.
"""

import struct
import subprocess
import sys
import tempfile
from pathlib import Path

TIME_LIMIT_SECONDS = 60

# Everything the boot leaves behind that a script can see.
PROBE = """Kel []
w: words-of system/words
print length? w
foreach word w [
    set/any 'v get/any word
    print [mold word mold type? get/any 'v]
    case [
        unset? get/any 'v [print "unset"]
        any-function? :v [print mold spec-of :v  if function? :v [print mold body-of :v]]
        object? :v [print mold/all words-of v]
        true [print mold/all :v]
    ]
]
print mold/all system
print "probe done"
"""


def run(host, image, folder, script_text, arguments=()):
    script = folder / "script.kel"
    script.write_text(script_text, encoding="utf-8")
    home = folder / "home"
    home.mkdir(exist_ok=True)
    return subprocess.run([host, str(image), str(script), *arguments], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, env={"HOME": str(home), "PATH": "/usr/bin:/bin"},
                          cwd=folder, timeout=TIME_LIMIT_SECONDS)


# --- The image's layout: u32 checksum, u32 size of the shared symbol table,
# u32 count of source entries, then per entry u32 name length, name, u32
# data length, kelbin data, u32 symbol count and a u32 shared index for
# each symbol; the text entries the same way after their count; the count
# of texts the boot loads and the u32 index of each one's entry; last, zero
# bytes to a multiple of 8, the u64 fingerprint, the u64 heap section size
# and the heap section (a 48-byte record, then the heap image, whose node
# slots, a u32 each, end it).

def entry_list(image, at):
    """The entries of the list at offset at, as (name, offset of the data,
    data length, offset of the symbol map, symbol count), and the offset
    after the list."""
    found = []
    (count,) = struct.unpack_from("<I", image, at)
    at += 4
    for _ in range(count):
        (name_length,) = struct.unpack_from("<I", image, at)
        name = image[at + 4:at + 4 + name_length].decode()
        at += 4 + name_length
        (data_length,) = struct.unpack_from("<I", image, at)
        data_at = at + 4
        at = data_at + data_length
        (symbol_count,) = struct.unpack_from("<I", image, at)
        found.append((name, data_at, data_length, at + 4, symbol_count))
        at += 4 + 4 * symbol_count
    return found, at


def entries(image):
    """The source entries."""
    return entry_list(image, 8)[0]


def text_order_at(image):
    """The offset of the count of texts the boot loads."""
    _, at = entry_list(image, 8)
    return entry_list(image, at)[1]


def heap_section_at(image):
    """The offset of the heap section's fingerprint."""
    order_at = text_order_at(image)
    (count,) = struct.unpack_from("<I", image, order_at)
    at = order_at + 4 + 4 * count
    return (at + 7) // 8 * 8


def without_heap(image):
    """The image with an empty heap section: a boot from it evaluates the library."""
    at = heap_section_at(image)
    return with_checksum(bytes(image[4:at]) + bytes(16))


def with_fingerprint(image, fingerprint):
    body = bytearray(image[4:])
    struct.pack_into("<Q", body, heap_section_at(image) - 4, fingerprint)
    return with_checksum(bytes(body))


def checksum(body):
    """Fletcher's two sums over the 64-bit little-endian words of the bytes
    (the last padded with zeros), each modulo 65535, the second in the high
    half."""
    total = total_of_totals = 0
    for (word,) in struct.iter_unpack("<Q", body + bytes(-len(body) % 8)):
        total += word
        total_of_totals += total
    return (total_of_totals % 65535) << 16 | (total % 65535)


def with_checksum(body):
    """The image of these bytes after the checksum field, checksum made right."""
    return struct.pack("<I", checksum(body)) + body


def uleb(data, at):
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, at


def first_record(image, offset):
    """Where the records of the compact kelbin data at offset start."""
    flags = image[offset + 7]
    at = offset + 8
    _, at = uleb(image, at)  # record count
    _, at = uleb(image, at)  # records size
    if flags & 4:
        count, at = uleb(image, at)
        size, at = uleb(image, at)
        at += 4 * count + size
    return at


def damaged_images(full_image):
    """(what, bytes, text the boot must print)."""
    # The heap section's node slots end the image: the last one names a
    # buffer in a frame the image does not have.
    bad_slot = bytearray(full_image[4:])
    struct.pack_into("<I", bad_slot, len(bad_slot) - 4, 0x7F000008)
    heap_cases = [
        ("a heap image node that names no buffer", with_checksum(bytes(bad_slot)),
         "*** Boot Error: the boot image's heap does not hold together: a node of the heap image names no buffer"),
        ("a heap section cut short", with_checksum(bytes(full_image[4:-8])),
         "*** Boot Error: the boot image is truncated"),
    ]
    # The entries are read only when the boot evaluates the library.
    image = without_heap(full_image)
    body = bytearray(image[4:])
    found = entries(image)
    core = next(entry for entry in found if entry[0] == "boot/core.kel")

    flipped = bytearray(image)
    flipped[len(image) // 2] ^= 0x20

    # A changed byte at each place of a 64-bit word, the high ones included
    # (sums of whole words once let a changed high byte cancel out).
    word_start = 4 + (len(image) // 3 - 4) // 8 * 8
    changed_in_word = []
    for place in range(8):
        changed = bytearray(image)
        changed[word_start + place] ^= 0x80
        changed_in_word.append((f"byte {place} of a word changed", bytes(changed),
                                "*** Boot Error: the boot image is corrupted (its checksum does not match)"))

    # Two different words trade places: every byte is still there.
    swapped = bytearray(image)
    middle = 4 + (len(image) // 2 - 4) // 8 * 8
    while swapped[middle:middle + 8] == swapped[middle + 8:middle + 16]:
        middle += 8
    swapped[middle:middle + 16] = swapped[middle + 8:middle + 16] + swapped[middle:middle + 8]

    bad_magic = bytearray(image)
    bad_magic[core[1] + 1] = ord("x")

    bad_record = bytearray(image)
    bad_record[first_record(image, core[1])] = 0xC5

    (shared_count,) = struct.unpack_from("<I", image, 4)
    past_table = bytearray(image)
    struct.pack_into("<I", past_table, core[3], shared_count)

    # The order of texts names one past the last text entry.
    order_at = text_order_at(image)
    (text_count,) = struct.unpack_from("<I", image, entry_list(image, 8)[1])
    bad_order = bytearray(image)
    struct.pack_into("<I", bad_order, order_at + 4, text_count)

    renamed = bytearray(image)
    name_at = core[1] - 4 - len("boot/core.kel")
    renamed[name_at:name_at + len("boot/core.kel")] = b"boot/cor_.kel"

    return heap_cases + changed_in_word + [
        ("a changed byte", bytes(flipped), "*** Boot Error: the boot image is corrupted (its checksum does not match)"),
        ("two words trade places", bytes(swapped),
         "*** Boot Error: the boot image is corrupted (its checksum does not match)"),
        ("no bytes at all", b"", "*** Boot Error: the boot image is truncated"),
        ("cut inside an entry", with_checksum(bytes(body[:len(body) // 2])),
         "*** Boot Error: the boot image is truncated"),
        ("an entry whose data is no kelbin", with_checksum(bytes(bad_magic[4:])),
         "*** Boot Error: the boot image's entry boot/core.kel does not decode"),
        ("an entry with a record the reader refuses", with_checksum(bytes(bad_record[4:])),
         "*** Boot Error: the boot image's entry boot/core.kel does not decode"),
        ("an entry's symbol map names a symbol past the shared table", with_checksum(bytes(past_table[4:])),
         "*** Boot Error: the boot image's entry boot/core.kel names a symbol it does not have"),
        ("an entry the boot needs is missing", with_checksum(bytes(renamed[4:])),
         "*** Boot Error: the boot image has no entry boot/core.kel"),
        ("the order of texts names no text", with_checksum(bytes(bad_order[4:])),
         "*** Boot Error: the boot image's order of texts names no text"),
        ("bytes after the last part", with_checksum(bytes(body) + b"\0\0\0\0"),
         "*** Boot Error: the boot image has bytes past its last entry"),
    ]


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    host, image_path, writer = sys.argv[1], Path(sys.argv[2]), sys.argv[3]
    image = image_path.read_bytes()
    failures = 0
    cases = 0
    with tempfile.TemporaryDirectory(prefix="kel-boot-image-") as temporary:
        folder = Path(temporary)

        # The ways of booting make the same system: from the sources, from
        # the image's heap, and from its entries when the heap started from
        # another heap than this start's.
        arguments = ["an argument", "-x", 'a "quoted" one']
        from_sources = run(host, "--sources", folder, PROBE, arguments)
        elsewhere = folder / "elsewhere.image"
        elsewhere.write_bytes(with_fingerprint(image, 12345))
        for what, path in (("the image", image_path), ("an image whose heap started elsewhere", elsewhere)):
            cases += 1
            from_image = run(host, path, folder, PROBE, arguments)
            if (from_sources.returncode, from_image.returncode) == (0, 0) and \
                    from_image.stdout.endswith(b"probe done\n") and from_sources.stdout == from_image.stdout:
                continue
            failures += 1
            print(f"FAIL: booting from {what} and from the sources differ")
            print(f"  statuses {from_sources.returncode} and {from_image.returncode}")
            old, new = from_sources.stdout.splitlines(), from_image.stdout.splitlines()
            for number, (a, b) in enumerate(zip(old, new), 1):
                if a != b:
                    print(f"  line {number}: sources {a[:200]!r}\n           image   {b[:200]!r}")
                    break
            else:
                print(f"  {len(old)} lines from the sources, {len(new)} from the image")

        # The writer is a function of the sources: writing again gives the
        # same image, heap section and all.
        cases += 1
        again = folder / "again.image"
        written = subprocess.run([writer, str(again), str(folder / "again.cpp")], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, cwd=folder, timeout=TIME_LIMIT_SECONDS)
        if written.returncode != 0 or again.read_bytes() != image:
            failures += 1
            print(f"FAIL: writing the image again gives other bytes (status {written.returncode})")
            print(f"  {written.stdout[:400]!r}")

        # A damaged image is refused with its message and status 1.
        for what, damaged, expected in damaged_images(image):
            cases += 1
            damaged_path = folder / "damaged.image"
            damaged_path.write_bytes(damaged)
            result = run(host, damaged_path, folder, 'print "ran"\n')
            text = result.stdout.decode("utf-8", "replace")
            if result.returncode != 1 or not text.startswith(expected) or "ran" in text.split("\n"):
                failures += 1
                print(f"FAIL: {what}: expected status 1 and {expected!r}")
                print(f"  got status {result.returncode} and {text[:400]!r}")
    print(f"{cases - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
