"""Loads the generated CSV file with the csv module into a list of rows and,
given a second argument, writes the rows again with csv.writer there;
without it the run is the load alone, which the save row subtracts."""
import csv
import sys


def main():
    with open(sys.argv[1], newline="", encoding="utf-8") as file:
        rows = list(csv.reader(file))
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w", newline="", encoding="utf-8") as file:
            csv.writer(file, lineterminator="\n").writerows(rows)
    print("checksum:", len(rows), len(rows) * len(rows[0]))


main()
