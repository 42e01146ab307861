"""Puts n string keys "k1" .. "kn" into a dict, each with its number, then
looks every key up again."""
import sys


def main():
    n = int(sys.argv[1])
    table = {}
    for i in range(1, n + 1):
        table["k" + str(i)] = i
    found = 0
    for i in range(1, n + 1):
        if table.get("k" + str(i)) == i:
            found += 1
    print("checksum:", len(table), found)


main()
