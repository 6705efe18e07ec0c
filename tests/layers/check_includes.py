#!/usr/bin/env python3
"""The edges between the parts: which folder's headers a part may include.

Layers from the bottom up: base, platform, the units (support, transmit,
dialog), plugin. A layer uses the ones below it; of the units, dialog uses
support. Around them, the host, the tools and the benchmarks see the plug-in
only through its ABI header; the benchmarks also through the step's seam.
The tools take their sockets from the platform layer (and so see base, as
every layer above it does), and nothing else of the plug-in.

The build gives each part exactly these folders (cmake/Edges.cmake), so the
compiler already refuses an include past an edge. This script says the same
in one table and checks it twice:
  check_includes.py REPO_ROOT
      every #include "..." of the tree against the table (it also catches
      "../" paths, which the compiler would follow);
  check_includes.py --compile EDGES_FILE REPO_ROOT
      the build against the table: with each part's own include directories
      (EDGES_FILE, written by tests/layers/CMakeLists.txt), a header of every
      folder the table allows compiles, and one of every other folder is not
      found;
  check_includes.py --self-test
      the first check finds planted includes that cross the edges.
"""
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

# The ABI header, in its own include directory: included by its bare name.
ABI = "udpsv_exports.h"
ABI_PATH = "plugin/include/udpsv_exports.h"

LAYERS = ["base", "platform", "support", "transmit", "dialog", "plugin"]

# Folder of the including file -> folders (or the ABI) it may include.
ALLOWED = {
    "base": {"base"},
    "platform": {"base", "platform"},
    "support": {"base", "platform", "support"},
    "transmit": {"base", "platform", "transmit"},
    "dialog": {"base", "platform", "support", "dialog"},
    "plugin": {*LAYERS, ABI},
    "host": {"host", "tools", ABI},
    "tools": {"tools", "platform", "base"},
    "bench": {"bench", "host", "plugin/seam", ABI},
    "fuzz": {*LAYERS, "fuzz"},
    "tests": None,  # tests may reach anything
}

# Headers generated into the build tree, visible to the layer that needs them.
GENERATED = {"sv_version.h": {"platform"}}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE = (".h", ".hpp", ".c", ".cpp")


def allows(allowed, target):
    """Whether a part that may use `allowed` may include `target`."""
    if ".." in target.split("/"):
        return False
    return any(target == a or target.startswith(a + "/") for a in allowed)


def check(root):
    errors = []
    for top, allowed in ALLOWED.items():
        base = os.path.join(root, top)
        for folder, _, files in os.walk(base):
            for name in sorted(files):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m or allowed is None:
                            continue
                        target = m.group(1)
                        if target in GENERATED:
                            ok = top in GENERATED[target]
                        elif target == ABI:
                            ok = ABI in allowed
                        elif "/" not in target:
                            ok = os.path.exists(os.path.join(folder, target))  # beside the file
                        else:
                            ok = allows(allowed, target)
                        if not ok:
                            errors.append(f"{rel}:{number}: {line.strip()}  ({top}/ may not include this)")
    return errors


def sample_headers(root):
    """One header of every folder the table names: folder -> include text."""
    out = {ABI: ABI}
    folders = {f for allowed in ALLOWED.values() if allowed for f in allowed} - {ABI, "fuzz"}
    for folder in sorted(folders):
        names = sorted(n for n in os.listdir(os.path.join(root, folder)) if n.endswith(".h"))
        out[folder] = f"{folder}/{names[0]}"
    return out


def compile_edges(edges_file, root):
    """Each part's include directories against the table, through the compiler."""
    parts = {}
    compiler, flags = None, []
    with open(edges_file) as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition(" ")
            if key == "compiler":
                compiler = value
            elif key == "flags":
                flags = value.split()
            elif key:
                parts[key] = [d for d in value.split("|") if d]
    headers = sample_headers(root)
    with tempfile.TemporaryDirectory() as scratch:
        jobs = []
        for part, dirs in sorted(parts.items()):
            for folder, header in sorted(headers.items()):
                jobs.append((part, dirs, folder, header, allows(ALLOWED[part], folder)))

        def run(job):
            part, dirs, folder, header, allowed = job
            where = os.path.join(scratch, part, re.sub(r"\W", "_", folder))
            os.makedirs(where, exist_ok=True)
            source = os.path.join(where, "probe.cpp")
            with open(source, "w") as f:
                f.write(f'#include "{header}"\n')
            command = [compiler, *flags, "-fsyntax-only", *[f"-I{d}" for d in dirs], source]
            r = subprocess.run(command, capture_output=True, text=True)
            said = r.stderr.strip().splitlines()[:1]
            not_found = r.returncode != 0 and header in r.stderr and (
                "No such file or directory" in r.stderr or "file not found" in r.stderr)
            if allowed and r.returncode != 0:
                return f"{part}/ may include {header}, but it does not compile there: {said}"
            if not allowed and not not_found:
                return (f"{part}/ may not include {header}, but its include directories reach it"
                        f" ({'it compiles' if r.returncode == 0 else said})")
            return None

        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            errors = [e for e in pool.map(run, jobs) if e]
    for e in errors:
        print(e)
    if errors:
        print(f"{len(errors)} edge(s) of the build differ from the table")
        return 1
    print(f"the build's include directories give {len(parts)} parts exactly the table's edges "
          f"({len(headers)} folders each)")
    return 0


def self_test():
    """The checker itself: planted includes that cross the edges must be reported."""
    with tempfile.TemporaryDirectory() as root:
        def put(rel, text):
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w") as f:
                f.write(text)
        put("base/a.h", '#include "base/b.h"\n')
        put("support/s.cpp", '#include "platform/net.h"\n#include "plugin/startup.h"\n')
        put("host/h.cpp", f'#include "{ABI}"\n#include "plugin/boundary.h"\n#include "../plugin/blocks.h"\n')
        put("tools/t.cpp", f'#include "tools/frame_decode.h"\n#include "{ABI}"\n'
                           '#include "platform/net.h"\n#include "transmit/udp_sender.h"\n')
        put("bench/b.cpp", '#include "plugin/seam/step_seam.h"\n#include "plugin/startup.h"\n')
        errors = check(root)
        expected = ["support/s.cpp:2:", "host/h.cpp:2:", "host/h.cpp:3:", "tools/t.cpp:2:",
                    "tools/t.cpp:4:", "bench/b.cpp:2:"]
        found = [e.split(" ")[0] for e in errors]
        if sorted(found) != sorted(expected):
            print("self-test failed:", errors)
            return 1
    return 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--self-test":
        return self_test()
    if len(sys.argv) > 3 and sys.argv[1] == "--compile":
        return compile_edges(sys.argv[2], sys.argv[3])
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    errors = check(root)
    for e in errors:
        print(e)
    if errors:
        print(f"{len(errors)} include(s) cross the layers")
        return 1
    print("every include stays within its layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
