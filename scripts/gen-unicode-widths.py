#!/usr/bin/env python3
"""Generates src/runtime/unicode_width_tables.inc, the display-width ranges of
the unicode module, from the Unicode character database.

Three lists of inclusive code point ranges, each sorted and with adjacent or
overlapping ranges merged:

  zero width       general categories Mn (non-spacing marks), Me (enclosing
                   marks) and Cf (format characters), plus the Hangul Jamo
                   medial vowels and final consonants U+1160..U+11FF, which
                   join the preceding initial consonant into one cell.
                   U+00AD SOFT HYPHEN is left out although it is Cf: terminals
                   draw it as a visible hyphen one cell wide.
  double width     East Asian Width W (wide) and F (fullwidth), including the
                   unassigned code points that the data file says default to
                   W (the CJK ideograph blocks and planes 2 and 3).
  ambiguous width  East Asian Width A, less every zero-width code point (the
                   combining marks are A too, yet stay zero width in an East
                   Asian context).

The lists may overlap (a wide combining mark is in both the zero-width and
the double-width list); the lookup asks the zero-width list first.

The output is deterministic: running the script twice on the same data gives
the same bytes, so the checked-in file changes only when the data does.

Usage: gen-unicode-widths.py [data-directory [output]]
Defaults: /usr/share/unicode (Debian package unicode-data) and
src/runtime/unicode_width_tables.inc beside this script's repository.
"""

import re
import sys

from unicode_data import DEFAULT_DATA_DIRECTORY, REPOSITORY, format_table, input_and_output, unicode_data_records

DEFAULT_OUTPUT = REPOSITORY / "src/runtime/unicode_width_tables.inc"

ZERO_WIDTH_CATEGORIES = {"Mn", "Me", "Cf"}
SOFT_HYPHEN = 0x00AD
HANGUL_JAMO_MEDIAL_AND_FINAL = (0x1160, 0x11FF)
# Unassigned code points in these ranges default to W (stated in the header
# of EastAsianWidth.txt rather than listed line by line).
DEFAULT_WIDE = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]


def read_categories(data_dir):
    """Returns {code point: general category} from UnicodeData.txt, with the
    <..., First> / <..., Last> pairs expanded."""
    categories = {}
    range_start = None
    path = data_dir / "UnicodeData.txt"
    for line_number, fields in unicode_data_records(path):
        code_point = int(fields[0], 16)
        name, category = fields[1], fields[2]
        if name.endswith(", First>"):
            range_start = code_point
            continue
        if name.endswith(", Last>"):
            if range_start is None:
                sys.exit(f"{path}:{line_number}: range end without a start")
            for member in range(range_start, code_point + 1):
                categories[member] = category
            range_start = None
            continue
        categories[code_point] = category
    return categories


def read_east_asian_widths(data_dir):
    """Returns {code point: width class} for every code point listed in
    EastAsianWidth.txt."""
    widths = {}
    path = data_dir / "EastAsianWidth.txt"
    pattern = re.compile(r"^([0-9A-F]+)(?:\.\.([0-9A-F]+))?\s*;\s*(\w+)")
    with open(path, encoding="utf-8") as data:
        for line_number, line in enumerate(data, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            match = pattern.match(line)
            if not match:
                sys.exit(f"{path}:{line_number}: cannot read {line!r}")
            first = int(match.group(1), 16)
            last = int(match.group(2), 16) if match.group(2) else first
            for code_point in range(first, last + 1):
                widths[code_point] = match.group(3)
    return widths


def merge(code_points):
    """Sorted inclusive (first, last) ranges covering the code points."""
    ranges = []
    for code_point in sorted(code_points):
        if ranges and code_point <= ranges[-1][1] + 1:
            ranges[-1][1] = max(ranges[-1][1], code_point)
        else:
            ranges.append([code_point, code_point])
    return [tuple(r) for r in ranges]


def unicode_version(data_dir):
    """The version named by the first line of EastAsianWidth.txt, or None."""
    try:
        with open(data_dir / "EastAsianWidth.txt", encoding="utf-8") as data:
            match = re.search(r"EastAsianWidth-(\d+\.\d+\.\d+)", data.readline())
    except OSError:
        return None
    return match.group(1) if match else None


def format_list(name, ranges, description):
    return format_table("WidthRange", name, ranges, description, "ranges",
                        lambda span: f"{{0x{span[0]:05X}, 0x{span[1]:05X}}}")


def main(arguments):
    data_dir, output_path = input_and_output(arguments, DEFAULT_DATA_DIRECTORY, DEFAULT_OUTPUT)
    categories = read_categories(data_dir)
    widths = read_east_asian_widths(data_dir)

    zero = {cp for cp, category in categories.items() if category in ZERO_WIDTH_CATEGORIES}
    zero.discard(SOFT_HYPHEN)
    zero.update(range(HANGUL_JAMO_MEDIAL_AND_FINAL[0], HANGUL_JAMO_MEDIAL_AND_FINAL[1] + 1))

    double = {cp for cp, width in widths.items() if width in ("W", "F")}
    for first, last in DEFAULT_WIDE:
        double.update(cp for cp in range(first, last + 1) if cp not in widths)

    ambiguous = {cp for cp, width in widths.items() if width == "A"} - zero

    version = unicode_version(data_dir)
    source = f"Unicode {version}" if version else "the Unicode character database"
    parts = [
        "// Display-width ranges, generated by scripts/gen-unicode-widths.py from",
        f"// UnicodeData.txt and EastAsianWidth.txt of {source}. Regenerate rather",
        "// than edit.",
        "//",
        "// Included by unicode.cpp inside namespace kel::unicode, where",
        "// WidthRange {first, last} (inclusive) is declared. Each list is sorted",
        "// and its ranges neither touch nor overlap.",
        "",
        format_list("kZeroWidthRanges", merge(zero),
                    "Zero width (Mn, Me, Cf but U+00AD, and U+1160..U+11FF)"),
        "",
        format_list("kDoubleWidthRanges", merge(double), "Double width (East Asian W and F)"),
        "",
        format_list("kAmbiguousWidthRanges", merge(ambiguous),
                    "East Asian ambiguous width (A, less the zero-width code points)"),
        "",
    ]
    output_path.write_text("\n".join(parts), encoding="utf-8")
    print(f"{output_path}: {len(merge(zero))} zero-width, {len(merge(double))} double-width, "
          f"{len(merge(ambiguous))} ambiguous ranges")


if __name__ == "__main__":
    main(sys.argv[1:])
