"""The call-heavy twin: fib of the first argument by the doubly recursive
definition, so nearly all the time goes into calls and returns."""
import sys


def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)


print("checksum:", fib(int(sys.argv[1])))
