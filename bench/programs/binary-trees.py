"""Allocation and collection under load: full binary trees of two-element
lists (a leaf holds two Nones), built and counted bottom-up. For a maximum
depth d: one stretch tree of depth d + 1, one tree of depth d kept alive
throughout, and for each depth from 4 to d in steps of 2, 2^(d - depth + 4)
short-lived trees."""
import sys


def bottom_up(depth):
    if depth > 0:
        depth -= 1
        return [bottom_up(depth), bottom_up(depth)]
    return [None, None]


def check(tree):
    left, right = tree
    if left is None:
        return 1
    return 1 + check(left) + check(right)


def main():
    min_depth = 4
    max_depth = int(sys.argv[1])
    total = check(bottom_up(max_depth + 1))
    long_lived = bottom_up(max_depth)
    for depth in range(min_depth, max_depth + 1, 2):
        for _ in range(1 << (max_depth - depth + min_depth)):
            total += check(bottom_up(depth))
    total += check(long_lived)
    print("checksum:", total)


main()
