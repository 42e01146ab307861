"""Reads the URL given as the first argument with urllib; the checksum is
the body's length and its last byte."""
import sys
import urllib.request


def main():
    with urllib.request.urlopen(sys.argv[1]) as response:
        data = response.read()
    print("checksum:", len(data), data[-1])


main()
