"""Loads the generated JSON file of the same size (an array of records: an
id, a string, a float, a boolean and an array of strings) with json.loads."""
import json
import sys


def main():
    with open(sys.argv[1], encoding="utf-8") as file:
        records = json.loads(file.read())
    print("checksum:", len(records), records[-1][0])


main()
