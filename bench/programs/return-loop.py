"""Calls one of two functions n times. Both run one round of a loop that
adds 1 to the argument; the first returns from inside the loop, the second
after it. The second argument ("return" or "fall") picks one."""
import sys


def returns_from_loop(x):
    for _ in range(1):
        return x + 1


def falls_off_end(x):
    for _ in range(1):
        result = x + 1
    return result


def main():
    n = int(sys.argv[1])
    step = returns_from_loop if sys.argv[2] == "return" else falls_off_end
    total = 0
    for _ in range(n):
        total += step(1)
    print("checksum:", total)


main()
