"""Runs `true` as many times as the first argument says, waiting for each;
the checksum counts the runs that answered 0."""
import subprocess
import sys


def main():
    zeros = 0
    for _ in range(int(sys.argv[1])):
        if subprocess.run(["true"]).returncode == 0:
            zeros += 1
    print("checksum:", zeros)


main()
