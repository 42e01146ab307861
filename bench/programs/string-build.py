"""Builds the text of every integer from 1 to n, each followed by a space,
the Python way (parts in a list, one join); the checksum is its length."""
import sys


def main():
    n = int(sys.argv[1])
    parts = []
    for i in range(1, n + 1):
        parts.append(str(i))
        parts.append(" ")
    text = "".join(parts)
    print("checksum:", len(text))


main()
