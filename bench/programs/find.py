"""Arguments: n, finds, stride, kind. Holds 1 .. n in a set (kind "hash")
or a list searched from the front (kind "block"), then finds `finds`
values, each `stride` past the one before, wrapping round n. The driver
subtracts a run with finds = 0."""
import sys


def main():
    n, finds, stride = (int(text) for text in sys.argv[1:4])
    values = list(range(1, n + 1))
    if sys.argv[4] == "hash":
        values = set(values)
    found = wanted = 0
    for _ in range(finds):
        wanted += stride
        if wanted > n:
            wanted -= n
        if wanted in values:
            found += 1
    print("checksum:", found)


main()
