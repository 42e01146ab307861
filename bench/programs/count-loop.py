"""The interpreter's inner loop: one addition and one assignment per round,
n rounds (inside a function, where a Python user keeps hot loops)."""
import sys


def main():
    n = int(sys.argv[1])
    total = 0
    for i in range(n):
        total += 1
    print("checksum:", total)


main()
