"""Reads the random integers the driver generated (one per line, below
10^6), sorts them, and sums every 1000th element of the result."""
import sys


def main():
    with open(sys.argv[1]) as file:
        numbers = [int(word) for word in file.read().split()]
    numbers.sort()
    print("checksum:", len(numbers), sum(numbers[999::1000]))


main()
