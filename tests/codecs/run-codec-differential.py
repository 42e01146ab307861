#!/usr/bin/env python3
"""load-json, to-json, load-csv and to-csv through their compiled bodies
against their Kel bodies (KEL_COMPILED_BODIES=off), on random and hostile
texts: well-formed documents, documents cut short or with characters
inserted, deleted or replaced, every escape and surrogate, numbers at the
32-bit and float limits, names that do and do not read as words, deep
nesting, and CSV tables with quotes, delimiters and every line end. Both
runs must print the same thing byte for byte (results, error values and
raised errors alike).

usage: run-codec-differential.py KEL WORK_DIRECTORY [ROUNDS]
"""
import os
import random
import subprocess
import sys
from pathlib import Path

SEED = 20261210

# --- JSON texts ---------------------------------------------------------------------------------

NAMES = ["id", "name", "a.b", "+1", "-.5", "x-y", "é", "ünïcode", "a b", "", "1a", "a'b", "true", "none",
         "a/b", "a:b", "_", "?", "!x", "ab?", "über", "a\u00a0b", "\u0001", "#x", "%", "a,b", "a@b", "<a>",
         "A", "a", "self", "-", "+", "'a", "a;b", "日本", "a\tb", "\\u0041", "\\ud83d\\ude00", "k\\n"]
STRING_PIECES = ["plain", " ", "é", "日本語", "😀", "\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t",
                 "\\u0041", "\\u00e9", "\\u0000", "\\u001f", "\\ud83d\\ude00", "\\uD834\\uDD1E", "\\ud800",
                 "\\udc00", "\\ud800x", "\\ud800\\u0041", "\\uDBFF\\uDFFF", "\x7f", "\u00a0", "\u2028", "'",
                 "^", "{", "]", ","]
NUMBERS = ["0", "-0", "1", "-1", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967296",
           "12345678901234567890", "0.0", "-0.0", "1.5", "1e5", "1E5", "1e+5", "1e-5", "1.25e-3", "1e308",
           "1e309", "-1e400", "1.5e-400", "4.9e-324", "0.1", "123.456e7", "9007199254740993", "1" * 40,
           "0." + "1" * 330, "1E2", "-0e0"]
SPACES = ["", " ", "\n", "\r\n", "\t", "  \n\t "]


def json_string(rng):
    return '"' + "".join(rng.choice(STRING_PIECES) for _ in range(rng.randint(0, 4))) + '"'


def json_value(rng, depth):
    kind = rng.randint(0, 9 if depth < 5 else 5)
    space = lambda: rng.choice(SPACES) if rng.random() < 0.3 else ""
    if kind <= 1:
        return rng.choice(NUMBERS)
    if kind == 2:
        return rng.choice(["true", "false", "null"])
    if kind <= 5:
        return json_string(rng)
    if kind <= 7:
        items = [space() + json_value(rng, depth + 1) + space() for _ in range(rng.randint(0, 4))]
        return "[" + ",".join(items) + "]"
    members = []
    for _ in range(rng.randint(0, 4)):
        name = rng.choice(NAMES)
        members.append(space() + '"' + name + '"' + space() + ":" + space() + json_value(rng, depth + 1) + space())
    return "{" + ",".join(members) + "}"


def mutated(rng, text):
    choice = rng.randint(0, 9)
    if not text or choice <= 4:
        return text
    position = rng.randint(0, len(text))
    if choice == 5:
        return text[:position]
    if choice == 6:
        return text[:position] + rng.choice([",", "]", "}", "[", "{", '"', "\\", ":", "\x01", "\ufeff", "x", "0"]) \
            + text[position:]
    if choice == 7:
        return text[:position] + text[position + 1:]
    if choice == 8:
        return "\ufeff" + text
    return text + rng.choice([",", " x", "]", "\n\n", " 1"])


def json_documents(rng, count):
    fixed = ["", " ", "[]", "{}", "[1,]", '{"a":1,}', "01", "1.", ".5", "-", "tru", "nul", '"\\x"', '"\t"',
             "[" * 150 + "]" * 150, "[" * 300 + "]" * 300, '{"a":' * 150 + "1" + "}" * 150,
             "[" * 700 + "]" * 700, '{"a":1,"a":2,"A":3}', '"\\ud83d"', '"\\ud83d\\u0041"', "1 2",
             '[1, 2.5e3, -0, "x"]\n', "\ufeff[1]"]
    return fixed + [mutated(rng, json_value(rng, 0)) for _ in range(count)]


# --- CSV texts ----------------------------------------------------------------------------------

FIELDS = ["a", "", " ", "b c", "x,y", 'say "hi"', '""', '"', "1", "é", "日本", "a;b", "a\tb", "'q'", "''", "x'y",
          "line\nbreak", "cr\rhere", "crlf\r\nhere", ' "lead', "trail\" ", "ab"]
LINE_ENDS = ["\n", "\r\n", "\r"]


def csv_field(rng, delimiter, quote):
    text = rng.choice(FIELDS)
    how = rng.randint(0, 3)
    if how == 0:
        return text
    if how == 1:
        return quote + text.replace(quote, quote * 2) + quote
    if how == 2:
        return quote + text + quote + rng.choice(["", "x", " ", delimiter])
    return quote + text  # unterminated


def csv_document(rng):
    delimiter, quote = rng.choice([(",", '"'), (";", '"'), ("\t", '"'), (",", "'"), ("|", "'")])
    width = rng.randint(1, 4)
    lines = []
    for _ in range(rng.randint(0, 6)):
        row_width = width if rng.random() < 0.85 else rng.randint(1, 5)
        lines.append(delimiter.join(csv_field(rng, delimiter, quote) for _ in range(row_width)))
        if rng.random() < 0.1:
            lines.append("")
    text = "".join(line + rng.choice(LINE_ENDS) for line in lines)
    if rng.random() < 0.3:
        text = text.rstrip("\r\n")
    if rng.random() < 0.2:
        text += rng.choice(["\n\n", "\r\n\r\n", "\n"])
    return text


# --- The Kel program ----------------------------------------------------------------------------

PROGRAM = r"""Kel [title: "codec differential"]
show: func [label value] [print [label mold/all :value]]
texts: load to-file system/options/args/1
tables: load to-file system/options/args/2
foreach text texts [
    result: try [load-json text]
    show "load-json" :result
    unless error? :result [
        show "to-json" try [to-json :result]
        show "to-json/pretty" try [to-json/pretty :result "  "]
        show "to-json/ascii" try [to-json/ascii :result]
        show "to-json/pretty/ascii" try [to-json/pretty/ascii :result "^-"]
    ]
]
self-block: copy [1] append/only self-block self-block
self-map: make map! [a 1] put self-map 'b self-map
inner: copy [2] shared: reduce [inner inner]
moved: next [a "b" c]
foreach value reduce [
    none true 1 -5 1.5 1e300 -0.0 50% $1.25 #"x" #"^(1F)" 'word quote set-word: /refinement #issue
    1.2.3 3x4 10:20:30 1-Jan-2026 "tab^-quote^"back\slash" "^(1F600)^(00E9)^(FFFF)^(D800)"
    [] [[]] [1 [2 [3]]] make map! [] make map! [a 1 "b" 2 3 4 #"c" 5 1.5 6]
    make object! [a: 1 b: [2]] to paren! [1 2] %file.txt http://x.y/z <tag> user@host
    self-block self-map shared moved :print func [x] [x] make error! "oops" 2x3
    make map! [k [1 2] l #[a: 1]] [a: 1 b: 'c]
] [
    show "to-json" try [to-json :value]
    show "to-json/pretty" try [to-json/pretty :value " "]
    show "to-json/ascii" try [to-json/ascii :value]
]
foreach [text delimiter quote-char] tables [
    show "load-csv" rows: try [load-csv/with/quote text delimiter quote-char]
    show "load-csv plain" try [load-csv text]
    show "load-csv/header" try [load-csv/with/header text delimiter]
    show "load-csv/flat" try [load-csv/with/flat text delimiter]
    show "load-csv/trim" try [load-csv/with/quote/trim text delimiter quote-char]
    show "load-csv/as-records" try [load-csv/as-records text]
    show "load-csv/string" try [load-csv/with text form delimiter]
    show "load-csv/long" try [load-csv/with text "ab"]
    if block? rows [
        show "to-csv" try [to-csv/with/quote rows delimiter quote-char]
        show "to-csv plain" try [to-csv rows]
        show "to-csv/with" try [to-csv/with rows #";"]
        show "to-csv/string" try [to-csv/with rows "::"]
    ]
]
foreach value reduce [
    [] [[]] [[] []] ["a" "b c"] [1 2.5 none 'w] [["a"] [1 2]] [["a" "b"] ["c"]] [[1 [2 3]] [4 5]]
    reduce [make map! [a 1] make map! [b 2]] make map! [a [1 2] b [3 4]] [#"x" 1-Jan-2026 10:00 $1 50%]
    reduce [[1 2] make map! [a 1]] reduce ["x" [1 2]] next [["skip"] ["a" "b"]] [["q^"uote" "new^/line" "cr^Mx"]]
] [
    show "to-csv" try [to-csv :value]
    show "to-csv/with" try [to-csv/with :value #"|"]
    show "to-csv/quote" try [to-csv/quote :value #"'"]
    show "to-csv/skip" try [to-csv/skip :value 1]
]
"""


def kel_string(text):
    """A Kel string literal of any text, every character outside printable
    ASCII written as a caret escape."""
    out = ['"']
    for character in text:
        code = ord(character)
        if character in '"^' or code < 32 or code > 126:
            out.append("^(%X)" % code if character not in '"^' else "^" + character)
        else:
            out.append(character)
    out.append('"')
    return "".join(out)


def main():
    kel, work = sys.argv[1], Path(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 400
    work.mkdir(parents=True, exist_ok=True)
    rng = random.Random(SEED)
    documents = json_documents(rng, rounds)
    (work / "texts.kel").write_text("\n".join(kel_string(text) for text in documents) + "\n", encoding="utf-8")
    tables = []
    for _ in range(rounds // 2):
        delimiter, quote = rng.choice([(",", '"'), (";", '"'), ("\t", '"'), (",", "'"), ("|", "'")])
        tables.append(f"{kel_string(csv_document(rng))} #{kel_string(delimiter)} #{kel_string(quote)}")
    (work / "tables.kel").write_text("\n".join(tables) + "\n", encoding="utf-8")
    program = work / "differential.kel"
    program.write_text(PROGRAM, encoding="utf-8")
    outputs = {}
    for mode in ("on", "off"):
        environment = dict(os.environ, KEL_COMPILED_BODIES=mode, HOME=str(work))
        run = subprocess.run([kel, str(program), str(work / "texts.kel"), str(work / "tables.kel")],
                             capture_output=True, env=environment, timeout=600)
        if run.returncode != 0:
            print(f"kel (compiled bodies {mode}) ended with {run.returncode}:\n"
                  + run.stdout.decode(errors="replace")[-2000:] + run.stderr.decode(errors="replace")[-2000:])
            return 1
        outputs[mode] = run.stdout.decode("utf-8", errors="replace").splitlines()
    if len(outputs["on"]) < rounds:
        print(f"too little output: {len(outputs['on'])} lines")
        return 1
    for number, (compiled, kel_body) in enumerate(zip(outputs["on"], outputs["off"]), 1):
        if compiled != kel_body:
            print(f"line {number} differs:\n  compiled: {compiled[:600]}\n  Kel body: {kel_body[:600]}")
            return 1
    if len(outputs["on"]) != len(outputs["off"]):
        print(f"line counts differ: {len(outputs['on'])} and {len(outputs['off'])}")
        return 1
    print(f"{len(outputs['on'])} lines alike")
    return 0


if __name__ == "__main__":
    sys.exit(main())
