#!/usr/bin/env python3
"""Fails on every #include "..." that reaches a layer its file may not use.

Layers from the bottom up: base, platform, the units (support, transmit,
dialog), plugin. A layer uses the ones below it; of the units, dialog uses
support. The host and the tools see the plug-in only through its ABI header.
Usage: check_includes.py REPO_ROOT
"""
import os
import re
import sys

ABI = "plugin/udpsv_exports.h"

# Folder of the including file -> folders (or single headers) it may include.
ALLOWED = {
    "base": {"base"},
    "platform": {"base", "platform"},
    "support": {"base", "platform", "support"},
    "transmit": {"base", "platform", "transmit"},
    "dialog": {"base", "platform", "support", "dialog"},
    "plugin": {"base", "platform", "support", "transmit", "dialog", "plugin"},
    "host": {"host", "tools", ABI},
    "tools": {"tools", ABI},
    "bench": {"base", "platform", "support", "transmit", "dialog", "plugin", "host", "bench"},
    "fuzz": {"base", "platform", "support", "transmit", "dialog", "plugin", "fuzz"},
    "tests": None,  # tests may reach anything
}

# Headers generated into the build tree, visible to the layer that needs them.
GENERATED = {"sv_version.h": {"platform"}}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE = (".h", ".hpp", ".c", ".cpp")


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
                        elif "/" not in target:
                            ok = os.path.exists(os.path.join(folder, target))  # beside the file
                        else:
                            ok = target in allowed or target.split("/")[0] in allowed
                        if not ok:
                            errors.append(f"{rel}:{number}: {line.strip()}  ({top}/ may not include this)")
    return errors


def self_test():
    """The checker itself: a planted upward include must be reported."""
    import tempfile
    with tempfile.TemporaryDirectory() as root:
        def put(rel, text):
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w") as f:
                f.write(text)
        put("base/a.h", '#include "base/b.h"\n')
        put("support/s.cpp", '#include "platform/net.h"\n#include "plugin/startup.h"\n')
        put("host/h.cpp", '#include "plugin/udpsv_exports.h"\n#include "plugin/boundary.h"\n')
        errors = check(root)
        expected = ["support/s.cpp:2:", "host/h.cpp:2:"]
        found = [e.split(" ")[0] for e in errors]
        if sorted(found) != sorted(expected):
            print("self-test failed:", errors)
            return 1
    return 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--self-test":
        return self_test()
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
