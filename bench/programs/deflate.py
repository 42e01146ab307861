"""Compresses the file named by the first argument as raw deflate at level
1 (zlib's fastest, the level whose speed Kel's fixed-code compressor is
measured against) and writes the result to the second."""
import sys
import zlib


def main():
    with open(sys.argv[1], "rb") as file:
        data = file.read()
    compressor = zlib.compressobj(1, zlib.DEFLATED, -15)
    packed = compressor.compress(data) + compressor.flush()
    with open(sys.argv[2], "wb") as file:
        file.write(packed)
    print("checksum:", len(data))


main()
