#!/usr/bin/env python3
"""The receiving side's texts that users get as files and in the guide are
what `svhost show --receiver` prints, kept in the tree so that the host
package, which is built without running anything, can ship them:

  docs/receivers/udpsv_receive.py         --receiver python    for a new block
  docs/receivers/udpsv_receive.m          --receiver matlab    (1 x double to
  docs/receivers/udpsv_receive_octave.m   --receiver octave    127.0.0.1:1600)
  docs/receivers/simulink.txt             --receiver simulink
  docs/user-guide.txt, between "----- simulink.txt -----" and its end marker

check_guide.py fails when one of them differs from the generator; this
writes them all anew after the generator changed:

  generated_docs.py --source-dir SRC --svhost SVHOST --plugin PLUGIN
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

RECEIVER_FILES = {
    "udpsv_receive.py": "python",
    "udpsv_receive.m": "matlab",
    "udpsv_receive_octave.m": "octave",
    "simulink.txt": "simulink",
}
# The files of docs/receivers/ that the guide prints in full: the settings,
# not the scripts, which the packages ship as files.
IN_GUIDE = ("simulink.txt",)


def guide_block(guide, name):
    """The text between the guide's marker lines for `name`, or None."""
    m = re.search(r"^----- %s -----\n(.*?)^----- end of %s -----$" % (re.escape(name), re.escape(name)),
                  guide, re.M | re.S)
    return m.group(1) if m else None


def replace_guide_block(guide, name, text):
    begin, end = "----- %s -----\n" % name, "----- end of %s -----" % name
    a = guide.index(begin) + len(begin)
    return guide[:a] + text + guide[guide.index(end, a):]


class Generator:
    """svhost's recipes for a new block."""

    def __init__(self, svhost, plugin, work):
        self.svhost, self.plugin = svhost, plugin
        self.default_model = os.path.join(work, "default.model")
        self._run("new", self.default_model)

    def _run(self, *args):
        r = subprocess.run([self.svhost] + list(args) + ["--plugin", self.plugin],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("svhost %s: %s%s" % (" ".join(args), r.stdout, r.stderr))
        return r.stdout

    def receiver_file(self, name):
        return self._run("show", self.default_model, "--receiver", RECEIVER_FILES[name])


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def differences(source_dir, generator):
    """(what, path) for every kept copy that differs from the generator."""
    out = []
    receivers = os.path.join(source_dir, "docs", "receivers")
    guide = read(os.path.join(source_dir, "docs", "user-guide.txt"))
    for name in RECEIVER_FILES:
        want = generator.receiver_file(name)
        path = os.path.join(receivers, name)
        if not os.path.exists(path) or read(path) != want:
            out.append(("docs/receivers/" + name, path))
        if name in IN_GUIDE and guide_block(guide, name) != want:
            out.append(("the guide's " + name, None))
    return out


def update(source_dir, generator):
    receivers = os.path.join(source_dir, "docs", "receivers")
    os.makedirs(receivers, exist_ok=True)
    guide_path = os.path.join(source_dir, "docs", "user-guide.txt")
    guide = read(guide_path)
    for name in RECEIVER_FILES:
        text = generator.receiver_file(name)
        write(os.path.join(receivers, name), text)
        if name in IN_GUIDE:
            guide = replace_guide_block(guide, name, text)
    write(guide_path, guide)


def main():
    p = argparse.ArgumentParser()
    for name in ("source-dir", "svhost", "plugin"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()
    with tempfile.TemporaryDirectory() as work:
        update(a.source_dir, Generator(a.svhost, a.plugin, work))
    print("docs/receivers/ and the guide's recipes written anew")


if __name__ == "__main__":
    sys.exit(main())
