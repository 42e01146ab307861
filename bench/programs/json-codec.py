"""Decodes the generated JSON document with json.loads and, given a second
argument, encodes it again with json.dumps (compact separators, UTF-8 text
as it is) and writes the text there; without it the run is the decode
alone, which the encode row subtracts."""
import json
import sys


def main():
    with open(sys.argv[1], encoding="utf-8") as file:
        records = json.loads(file.read())
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w", encoding="utf-8") as file:
            file.write(json.dumps(records, separators=(",", ":"), ensure_ascii=False))
    print("checksum:", len(records), records[-1]["id"])


main()
