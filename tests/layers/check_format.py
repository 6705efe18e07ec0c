#!/usr/bin/env python3
"""Every C and C++ source of the tree is laid out as .clang-format says.

usage: check_format.py CLANG_FORMAT ROOT
Prints each file that differs, with clang-format's first complaints, and
exits 1; the fix is `clang-format -i FILE`.
"""
import os
import subprocess
import sys

SKIPPED = {".git", "build", "corpus"}  # build trees and fuzzing inputs
SOURCES = (".c", ".cpp", ".h")


def sources(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED and not d.startswith("build"))
        for name in sorted(files):
            if name.endswith(SOURCES):
                yield os.path.join(folder, name)


def main():
    clang_format, root = sys.argv[1], sys.argv[2]
    files = list(sources(root))
    bad = []
    for path in files:
        run = subprocess.run([clang_format, "--dry-run", "--Werror", path],
                             capture_output=True, text=True)
        if run.returncode != 0:
            bad.append(path)
            print(f"{os.path.relpath(path, root)} is not formatted:")
            print("\n".join(run.stderr.splitlines()[:6]))
    print(f"{len(files)} sources, {len(bad)} not formatted")
    return 1 if bad or not files else 0


if __name__ == "__main__":
    sys.exit(main())
