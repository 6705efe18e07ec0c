#!/usr/bin/env python3
"""udpsv-selftest against the real plug-in and against wrong ones: none at
all, a file that is no library, a library without the exports, and a proxy
that passes everything on to the real plug-in but spoils one thing (see
proxy_plugin.cpp). The real plug-in and the faithful proxy pass every
check; each fault fails the line that checks it, with what was seen, and a
plug-in that does not load fails that one line, says why in the user's
terms (a file this user may not read; under Windows a 64-bit DLL, or a
64-bit host beside it) and skips those that need it. --lookup adds a line
with the address of a name. However it was started, the report is also in
a file that the last line names.

    selftest_test.py --selftest EXE --plugin LIB --proxy LIB --not-a-plugin LIB
                     --workdir DIR [--wine PREFIX]

With --wine the programs are Windows programs, run in PREFIX.
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools", "clients"))
import harness  # noqa: E402

NATIVE_LABELS = ["plug-in", "frames, double", "frames, single", "frames, int32", "frames, boolean",
                 "unresolvable name", "no receiver", "x87 control word", "load and unload twice"]
WINDOWS_LABELS = ["Windows", "common controls", "host-wide settings", "plug-in", "string library"] + \
    NATIVE_LABELS[1:]

# Fault of the proxy -> the line that must fail, and what it must say.
FAULTS = {
    "frames": ("frames, double", "expected"),
    "swallow": ("unresolvable name", "succeeded, where it must fail"),
    "fpu": ("x87 control word", "SimulateDLL2 changed it"),
    "steps": ("no receiver", "10054"),
    "pin": ("load and unload twice", "stayed loaded after the first unload"),
}

# The headers of a 64-bit Windows image (PE32+, x64) and nothing else.
PE32_PLUS = (b"MZ" + bytes(0x3A) + (0x40).to_bytes(4, "little") + b"PE\0\0" +
             (0x8664).to_bytes(2, "little") + bytes(14) + (0xF0).to_bytes(2, "little") +
             (0x2022).to_bytes(2, "little") + (0x20B).to_bytes(2, "little") + bytes(0xEE))

failures = harness.Failures("selftest")
check = failures.check


class SelfTest:
    def __init__(self, exe, wine):
        self.exe, self.wine = exe, wine

    def path(self, p):
        """A path as the program takes it."""
        p = os.path.abspath(p)
        return "Z:" + p.replace("/", "\\") if self.wine else p

    def run(self, plugin, env=None, args=()):
        command = [self.exe, "--plugin", self.path(plugin)] + list(args)
        if self.wine:
            command = [os.path.join(ROOT, "scripts", "wine-prefix.sh"), "run", self.wine] + command
        r = subprocess.run(command, env={**os.environ, **(env or {})}, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=300)
        lines = r.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()
        return r.returncode, lines, r.stderr.decode("utf-8", "replace")


def report(name, lines, self_test):
    """The check lines by label; every line of the report is in its form,
    and the file the last line names holds the report."""
    checks = {}
    check(lines and lines[0].startswith("UDPSV2Simulink self-test "), "%s: title %r" % (name, lines[:1]))
    end = next((i for i, l in enumerate(lines) if l.startswith("result: ")), len(lines) - 1) + 1
    lines, after = lines[:end], lines[end:]
    saved = after[-1][len("This report is also in "):] if after and after[-1].startswith(
        "This report is also in ") else ""
    path = saved[2:].replace("\\", "/") if self_test.wine else saved
    if check(after[:1] == [""] and len(after) == 2 and os.path.isfile(path),
             "%s: no report file named after the result: %r" % (name, after)):
        with open(path, "rb") as f:
            check(f.read() == b"\xef\xbb\xbf" + "".join(l + "\r\n" for l in lines).encode(),
                  "%s: %s is not the report as printed" % (name, path))
    for line in lines[1:]:
        if not check(line.endswith(("  ok", "  FAILED", "  skipped")),
                     "%s: a line ends in neither ok, FAILED nor skipped: %r" % (name, line)):
            continue
        label = line.split(": ", 1)[0]
        checks.setdefault(label, []).append(line)
    return checks, lines


def expect_pass(self_test, name, plugin, labels, env=None, args=()):
    rc, lines, err = self_test.run(plugin, env, args)
    checks, lines = report(name, lines, self_test)
    check(rc == 0, "%s: exit %s, want 0:\n%s%s" % (name, rc, "\n".join(lines), err))
    check(list(checks) == labels + ["result"], "%s: lines %s, want %s" % (name, list(checks), labels))
    failed = [l for l in lines[1:] if not l.endswith("  ok")]
    check(not failed, "%s: %s" % (name, failed))
    print("%s: %d lines, all ok" % (name, len(lines)), flush=True)
    return checks


def expect_failure(self_test, name, plugin, label, said, env=None, loads=False):
    """The line `label` FAILED, saying `said`; when the plug-in did not load,
    every other line is ok or skipped."""
    rc, lines, err = self_test.run(plugin, env)
    checks, lines = report(name, lines, self_test)
    check(rc == 1, "%s: exit %s, want 1:\n%s%s" % (name, rc, "\n".join(lines), err))
    line = (checks.get(label) or [""])[0]
    check(line.endswith("  FAILED") and said in line and "%1" not in line,
          "%s: want the line %r FAILED with %r, got %r" % (name, label, said, line))
    if label == "plug-in" and not loads:
        failed = [l for l in lines[1:-1] if l.endswith("  FAILED")]
        skipped = [l for l in lines if l.endswith("  skipped")]
        check(failed == [line] and len(skipped) >= 5 and
              lines[-1].startswith("result: 1 of ") and
              lines[-1].endswith(", %d skipped  FAILED" % len(skipped)),
              "%s: want the plug-in line alone FAILED, the checks that need it skipped:\n%s"
              % (name, "\n".join(lines)))
    check(lines[-1].startswith("result: ") and lines[-1].endswith("FAILED"),
          "%s: the result line does not say FAILED" % name)
    print("%s: %s" % (name, line), flush=True)


def main():
    ap = argparse.ArgumentParser()
    for name in ("selftest", "plugin", "proxy", "not-a-plugin", "workdir"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--wine")
    a = ap.parse_args()
    os.makedirs(a.workdir, exist_ok=True)
    if a.wine:
        # A server kept up for the prefix, so that each program starts at once.
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "start", a.wine], check=True)
    try:
        run_checks(a)
    finally:
        if a.wine:
            subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "stop", a.wine])
    failures.finish()


def run_checks(a):
    self_test = SelfTest(a.selftest, a.wine)
    labels = WINDOWS_LABELS if a.wine else NATIVE_LABELS

    lookup = expect_pass(self_test, "real plug-in", a.plugin, labels + ["name lookup"],
                         args=["--lookup", "localhost"])
    check('"localhost" is 127.0.0.1, found in ' in (lookup.get("name lookup") or [""])[0],
          "the lookup of localhost: %r" % lookup.get("name lookup"))
    # Found beside the self-test or not, the host's own library is what counts.
    check(not a.wine or "in the host it takes the host's own SVSTRING7.DLL" in
          (lookup.get("string library") or [""])[0],
          "the string library line: %r" % lookup.get("string library"))

    missing = os.path.join(a.workdir, "missing", os.path.basename(a.plugin))
    expect_failure(self_test, "no plug-in", missing, "plug-in", "no file ")
    def place(folder, data, name=os.path.basename(a.plugin)):
        path = os.path.join(a.workdir, folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path
    expect_failure(self_test, "a text file", place("text", b"this is no library\n"), "plug-in",
                   "it is no Windows DLL: a damaged copy" if a.wine else "cannot load plug-in")
    if a.wine:
        expect_failure(self_test, "a 64-bit DLL", place("x64", PE32_PLUS), "plug-in",
                       "it is a 64-bit DLL, and the block is 32-bit")
        with open(a.plugin, "rb") as f:
            beside_64bit = place("host64", f.read())
        place("host64", PE32_PLUS, "Host64.exe")
        expect_failure(self_test, "a 64-bit host", beside_64bit, "plug-in",
                       "but every program beside it is 64-bit (Host64.exe)", loads=True)
    if os.geteuid() != 0:  # root reads any file
        locked = place("locked", b"")
        os.chmod(locked, 0)
        expect_failure(self_test, "a file this user may not read", locked, "plug-in",
                       "cannot be read: ")
        os.chmod(locked, 0o600)
    if a.wine:  # Windows opens no folder as a file: access denied, as to any user
        folder = os.path.join(a.workdir, "folder", os.path.basename(a.plugin))
        os.makedirs(folder, exist_ok=True)
        expect_failure(self_test, "a folder of that name", folder, "plug-in", "cannot be read: ")
    expect_failure(self_test, "another library", a.not_a_plugin, "plug-in", "lacks the exports")

    env = {"UDPSV_PROXY_TARGET": self_test.path(a.plugin), "UDPSV_PROXY_SELF": self_test.path(a.proxy)}
    expect_pass(self_test, "faithful proxy", a.proxy, labels, env)
    for fault, (label, said) in FAULTS.items():
        expect_failure(self_test, "proxy " + fault, a.proxy, label, said,
                       {**env, "UDPSV_PROXY_FAULT": fault})


if __name__ == "__main__":
    main()
