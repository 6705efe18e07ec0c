#!/usr/bin/env python3
"""The user guide against the product.

  check_guide.py --guide GUIDE --source-dir DIR --version V --svhost SVHOST --plugin PLUGIN

1. Every text the block can show a user stands in the guide: each u"..."
   literal of the plug-in's sources (messages, dialog texts, setting names),
   cut at its placeholders and line breaks. A text added to the code without
   a word in the guide fails here.
2. The version is filled in.
3. The guide's Python receiver decodes frames that svhost sends through the
   plug-in, for every data type, and reports a frame of the wrong length.
"""
import argparse
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

# Folders that are not the plug-in: programs around it, tests, build files.
# How long a wait for a condition may take before it fails; it bounds a
# failure only, so it is generous for a loaded machine.
DEADLINE = 120

NOT_PLUGIN = {"tests", "host", "tools", "bench", "fuzz", "build", "docs", "scripts", "cmake", "dist"}
# Literals that never reach a user: a window class, the native settings
# file's syntax, the dialog font.
NOT_SHOWN = {"msctls_updown32", "hex:", "hex(", "dword:", "Windows Registry Editor Version 5.00",
             "MS Sans Serif"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def normalized(text):
    return re.sub(r"\s+", " ", text).strip()


def u16_literals(code):
    """The u"..." literals of C++ source, outside comments."""
    out = []
    i, n = 0, len(code)
    while i < n:
        if code.startswith("//", i):
            i = code.find("\n", i)
            i = n if i < 0 else i
        elif code.startswith("/*", i):
            i = code.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif code[i] in "\"'":
            prefix_u = code[i] == '"' and i > 0 and code[i - 1] == "u" and (i < 2 or not code[i - 2].isalnum())
            quote, j, body = code[i], i + 1, []
            while j < n and code[j] != quote:
                if code[j] == "\\":
                    body.append(code[j:j + 2])
                    j += 2
                else:
                    body.append(code[j])
                    j += 1
            if prefix_u:
                out.append("".join(body))
            i = j + 1
        else:
            i += 1
    return out


def fragments(literal):
    """The pieces of a literal a reader sees: cut at escapes and placeholders."""
    pieces = re.split(r"\\[rnt]|%-?\d*(?:\.\d+)?[sd]", literal)
    result = []
    for piece in pieces:
        piece = piece.replace("\\\\", "\\").replace('\\"', '"').strip()
        if len(re.findall(r"[^\W\d_]", piece)) >= 2:
            result.append(piece)
    return result


def shown_texts(source_dir):
    texts = set()
    for top in sorted(os.listdir(source_dir)):
        path = os.path.join(source_dir, top)
        if top.startswith(".") or top in NOT_PLUGIN or not os.path.isdir(path):
            continue
        for folder, _, files in os.walk(path):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    with open(os.path.join(folder, name), encoding="utf-8") as f:
                        for literal in u16_literals(f.read()):
                            texts.update(p for p in fragments(literal) if p not in NOT_SHOWN)
    return texts


def wait_for_udp_port(port, deadline):
    """Until a socket is bound to the port (the receiver is listening)."""
    while time.time() < deadline:
        with open("/proc/net/udp") as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if len(fields) > 1 and fields[1].rsplit(":", 1)[-1] == "%04X" % port:
                    return True
        time.sleep(0.05)
    return False


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def run_recipe(recipe, svhost, plugin, work, kind, expected_inputs, sent_inputs, steps):
    """The recipe's printed lines for a run of `steps` steps of svhost."""
    port = free_port()
    frames = steps + 1  # the run start sends one as well
    receiver = subprocess.Popen([sys.executable, recipe, str(port), kind, str(expected_inputs), str(frames)],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        if not check(wait_for_udp_port(port, time.time() + DEADLINE),
                     "recipe did not bind port %d within %d s (exit status %s)" % (port, DEADLINE, receiver.poll())):
            return []
        model = os.path.join(work, kind + ".model")
        subprocess.run([svhost, "new", model, "--port", str(port), "--inputs", str(sent_inputs), "--type", kind,
                        "--plugin", plugin], check=True, capture_output=True)
        signals = ["--signal", "1=const:1.5", "--signal", "2=const:-2.5", "--signal", "3=const:3"]
        r = subprocess.run([svhost, "run", plugin, model, "--steps", str(steps), "--quiet"] + signals,
                           capture_output=True, text=True)
        check(r.returncode == 0, "svhost run (%s): %s" % (kind, r.stdout + r.stderr))
        out, _ = receiver.communicate(timeout=DEADLINE)
    finally:
        if receiver.poll() is None:
            receiver.kill()
            receiver.wait()
    check(receiver.returncode == 0, "recipe (%s) ended with %s" % (kind, receiver.returncode))
    return out.splitlines()


def main():
    p = argparse.ArgumentParser()
    for name in ("guide", "source-dir", "version", "svhost", "plugin"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()
    with open(a.guide, encoding="utf-8") as f:
        guide = f.read()
    flat = normalized(guide)

    # 1. Every text the block can show.
    texts = shown_texts(a.source_dir)
    check(len(texts) >= 100, "only %d texts found in the sources: is the scan broken?" % len(texts))
    missing = sorted(t for t in texts if normalized(t) not in flat)
    for t in missing:
        failures.append("not in the guide: %r" % t)
    print("%d texts of the plug-in, %d missing from the guide" % (len(texts), len(missing)))

    # 2. The version.
    check(a.version in guide and a.version.replace(".", "") in guide, "guide lacks the version")
    check("@" not in guide, "guide has an unfilled @VARIABLE@")

    # 3. The Python receiver, as printed in the guide.
    m = re.search(r"^( *)--- udpsv_receive\.py ---\n(.*?)^ *--- end ---", guide, re.M | re.S)
    if not check(m, "guide has no udpsv_receive.py"):
        return report()
    indent = len(m.group(1))
    code = "\n".join(line[indent:] for line in m.group(2).splitlines()) + "\n"
    with tempfile.TemporaryDirectory() as work:
        recipe = os.path.join(work, "udpsv_receive.py")
        with open(recipe, "w") as f:
            f.write(code)
        expected = {
            "double": "(1.5, -2.5, 3.0)",
            "single": "(1.5, -2.5, 3.0)",
            "int32": "(2, -2, 3)",
            "boolean": "(True, False, True)",
        }
        for kind, line in expected.items():
            lines = run_recipe(recipe, a.svhost, a.plugin, work, kind, 3, 3, 3)
            check(lines == [line] * 4, "recipe for %s printed %s" % (kind, lines))
        # Frames of 3 doubles to a receiver that expects 2: reported, not decoded.
        lines = run_recipe(recipe, a.svhost, a.plugin, work, "double", 2, 3, 0)
        check(len(lines) == 1 and lines[0].startswith("frame of 24 bytes from 127.0.0.1, expected 16"),
              "recipe with the wrong number of inputs printed %s" % lines)
    return report()


def report():
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
