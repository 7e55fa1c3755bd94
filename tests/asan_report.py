"""Reads the sanitizer logs of a test run and fails on any report that
involves our code: memory errors of any kind, and leaks allocated by it."""
import glob
import re
import sys

OURS = re.compile(r"libquelbo|_quelbo|/wrapping/|/library/")


def main(log_dir):
    bad = []
    for path in glob.glob(log_dir + "/asan*"):
        text = open(path, errors="replace").read()
        for block in re.split(r"\n(?=(?:Direct|Indirect) leak of)", text):
            if "leak of" in block.split("\n", 1)[0]:
                if OURS.search(block):
                    bad.append(block.strip())
            elif "ERROR: AddressSanitizer" in block or "runtime error" in block:
                bad.append(block.strip())
    for b in bad:
        print(b[:3000], "\n")
    print("sanitizer reports involving quelbo:", len(bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
