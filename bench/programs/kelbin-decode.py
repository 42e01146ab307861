"""Unpickles the file that kelbin-encode.py wrote from the generated JSON
file (pickle.loads of the whole file)."""
import pickle
import sys


def main():
    with open(sys.argv[1], "rb") as file:
        records = pickle.loads(file.read())
    print("checksum:", len(records), records[-1][0])


main()
