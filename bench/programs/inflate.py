"""Decompresses the gzip member named by the first argument with zlib and
writes the result to the second."""
import sys
import zlib


def main():
    with open(sys.argv[1], "rb") as file:
        data = file.read()
    plain = zlib.decompress(data, 31)
    with open(sys.argv[2], "wb") as file:
        file.write(plain)
    print("checksum:", len(plain))


main()
