#!/usr/bin/env python3
"""Every #include "..." of the tree against the build's edges.

The build says once which folder's headers a part may include: the libraries
each folder's CMakeLists.txt links, shown through cmake/Edges.cmake, which
also writes the include directories of every target, a line per target:
"<top folder> <dir>|<dir>|...". The compiler then refuses an include past an
edge in every source it compiles; this check covers what it cannot see: a
header that only a higher part includes, and a quoted "../" path.

  check_includes.py EDGES_FILE REPO_ROOT
      each include of a file under a folder the build has targets in must be
      found as the compiler finds it: beside the file, or in one of the
      include directories of that folder's targets; never through "..".
  check_includes.py --self-test
      the check finds planted includes that cross the edges of a small tree.
"""
import os
import re
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE = (".h", ".hpp", ".c", ".cpp")


def read_edges(edges_file):
    """Top folder -> the include directories of its targets."""
    folders = {}
    with open(edges_file) as f:
        for line in f:
            folder, _, dirs = line.rstrip("\n").partition(" ")
            folders.setdefault(folder, set()).update(d for d in dirs.split("|") if d)
    return folders


def found(path, target, dirs):
    if ".." in target.split("/"):
        return False
    return any(os.path.isfile(os.path.join(d, target)) for d in [os.path.dirname(path), *dirs])


def check(folders, root):
    errors = []
    for top, dirs in sorted(folders.items()):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m and not found(path, m.group(1), dirs):
                            errors.append(f"{os.path.relpath(path, root)}:{number}: {line.strip()}"
                                          f"  (not within the folders the build gives {top}/)")
    return errors


def self_test():
    """Two parts, low and high: high may use low, low nothing but itself."""
    with tempfile.TemporaryDirectory() as root:
        def put(rel, text=""):
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w") as f:
                f.write(text)
        for part in ("low", "high"):
            os.makedirs(os.path.join(root, "view", part))
            os.symlink(os.path.join(root, part), os.path.join(root, "view", part, part))
        put("low/a.h", '#include "a_impl.h"\n#include "high/b.h"\n')
        put("low/a_impl.h", '#include "../high/b.h"\n#include "low/a.h"\n')
        put("high/b.h", '#include "low/a.h"\n#include "high/c.h"\n')
        view = os.path.join(root, "view")
        folders = {"low": {f"{view}/low"}, "high": {f"{view}/low", f"{view}/high"}}
        found_errors = [e.split(" ")[0] for e in check(folders, root)]
        expected = ["high/b.h:2:", "low/a.h:2:", "low/a_impl.h:1:"]
        if sorted(found_errors) != expected:
            print("self-test failed:", found_errors)
            return 1
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    folders = read_edges(sys.argv[1])
    errors = check(folders, sys.argv[2])
    for e in errors:
        print(e)
    if errors:
        print(f"{len(errors)} include(s) cross the edges of the build")
        return 1
    if not folders:
        print(f"{sys.argv[1]} names no folder")
        return 1
    print(f"every include of {', '.join(sorted(folders))} stays within the build's edges")
    return 0


if __name__ == "__main__":
    sys.exit(main())
