"""Loads the generated JSON file (as the load row does) and, given a second
argument, pickles the records there; without it the run is the baseline
that the driver subtracts, leaving pickle.dumps and the write."""
import json
import pickle
import sys


def main():
    with open(sys.argv[1], encoding="utf-8") as file:
        records = json.loads(file.read())
    if len(sys.argv) > 2:
        with open(sys.argv[2], "wb") as file:
            file.write(pickle.dumps(records))
    print("checksum:", len(records), records[-1][0])


main()
