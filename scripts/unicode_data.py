"""Reading the Unicode character database and writing the generated C++
tables: the parts the table generators (gen-case-tables.py,
gen-unicode-widths.py) share.

UnicodeData.txt has one record per line, 15 fields separated by ';'. A
generated table is a constexpr array of brace pairs, a few to a line, under
a comment that counts them; the output is deterministic, so running a
generator twice on the same data gives the same bytes.
"""

import pathlib
import sys

DEFAULT_DATA_DIRECTORY = pathlib.Path("/usr/share/unicode")  # Debian package unicode-data
REPOSITORY = pathlib.Path(__file__).resolve().parent.parent
UNICODE_DATA_FIELDS = 15
ENTRIES_PER_LINE = 4


def unicode_data_records(path):
    """Yields (line number, fields) for each record of a UnicodeData.txt,
    ending the script with a message at a record of the wrong shape."""
    with open(path, encoding="utf-8") as data:
        for line_number, line in enumerate(data, 1):
            line = line.strip()
            if not line:
                continue
            fields = line.split(";")
            if len(fields) != UNICODE_DATA_FIELDS:
                sys.exit(f"{path}:{line_number}: expected {UNICODE_DATA_FIELDS} fields, found {len(fields)}")
            yield line_number, fields


def input_and_output(arguments, default_input, default_output):
    """The input and output paths from the command line, each defaulted."""
    input_path = pathlib.Path(arguments[0]) if arguments else default_input
    output_path = pathlib.Path(arguments[1]) if len(arguments) > 1 else default_output
    return input_path, output_path


def format_table(element_type, name, entries, description, noun, entry_text):
    """A constexpr array of the entries (each written by entry_text as a
    brace pair), under a comment giving the description and their count."""
    lines = [f"// {description}: {len(entries)} {noun}.",
             f"constexpr {element_type} {name}[] = {{"]
    for start in range(0, len(entries), ENTRIES_PER_LINE):
        row = entries[start:start + ENTRIES_PER_LINE]
        lines.append("    " + " ".join(f"{entry_text(entry)}," for entry in row))
    lines.append("};")
    return "\n".join(lines)
