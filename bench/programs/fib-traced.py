"""fib.py's fib of the first argument under sys.settrace with a tracer that
does nothing but keep itself installed (so it hears every call, line and
return): what tracing every step costs."""
import sys


def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)


def tracer(frame, event, arg):
    return tracer


n = int(sys.argv[1])
sys.settrace(tracer)
result = fib(n)
sys.settrace(None)
print("checksum:", result)
