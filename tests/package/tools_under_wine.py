#!/usr/bin/env python3
"""The host ZIP's programs as a user runs them: unpacked under Wine into
C:\\Programme\\Mein Hôst\\Blöcke\\ (blanks, letters outside ASCII), started
from another folder.

udpsv-recv.exe decodes the unpacked DLL's frames of every type (sent by the
build's svhost.exe), writes its files into a folder with such a name too,
serves its live plot to a client on Linux over a real socket and names the
address to open, and in a console of its own shows every character of its
table, stops on Ctrl+C, says what a port that is taken means, and waits for
Enter before its window closes. udpsv-selftest.exe passes, and fails with a
readable line for each condition it checks: the DLL missing (the one line
that fails, the checks that need it skipped) or a wrong file, the host's
string library broken or incomplete, a registry value of the wrong type, an
old Windows, an old comctl32. It writes its report beside itself, or into the folder for
temporary files when it cannot, and says where; started with a console of
its own (a terminal here, a double-click on Windows), it waits for Enter.

    tools_under_wine.py --prefix P --zip Z --svhost SVHOST_EXE --svstring-full DLL
                        --svstring-no1553 DLL --fake-comctl32 DLL --dygraphs DIR --workdir W
"""
import argparse
import http.client
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "clients"))
import harness  # noqa: E402

WINE = os.path.join(ROOT, "scripts", "wine-prefix.sh")
SETTINGS = r"HKCU\Software\Haldeck\Sorvane 7\General Settings"
APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults\udpsv-selftest.exe"
# Programs under Wine start in a fraction of a second with a server up; a
# loaded machine may take far longer, so every wait is for a condition.
LONG = harness.DEADLINE

failures = harness.Failures("the host ZIP's programs under Wine")


class Prefix:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        # File names and arguments reach Wine as UTF-8.
        self.env = {**os.environ, "LC_ALL": "C.UTF-8"}

    def windows(self, linux_path):
        linux_path = os.path.abspath(linux_path)
        drive_c = os.path.join(self.path, "drive_c")
        if linux_path.startswith(drive_c + "/"):
            return "C:\\" + os.path.relpath(linux_path, drive_c).replace("/", "\\")
        return "Z:" + linux_path.replace("/", "\\")

    def linux(self, windows_path):
        if windows_path[:3].upper() == "C:\\":
            return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))
        return windows_path[2:].replace("\\", "/")

    def command(self, exe, args):
        return [WINE, "run", self.path, exe] + list(args)

    def run(self, exe, args, env=None, cwd=None):
        r = subprocess.run(self.command(exe, args), env={**self.env, **(env or {})}, cwd=cwd,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        text = lambda b: b.decode("utf-8", "replace").replace("\r\n", "\n")  # noqa: E731
        return r.returncode, text(r.stdout), text(r.stderr)

    def reg(self, *args):
        subprocess.run(self.command("reg", args), env=self.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=LONG)


def wait_for_file(path, seconds=LONG):
    return harness.wait_for(lambda: os.path.exists(path) and open(path, "rb").read().strip(),
                            seconds, 0.05)


# ---- udpsv-recv.exe ----------------------------------------------------------

def receive_every_type(prefix, recv, svhost, dll, out, work):
    for type_name in ("double", "single", "int32", "boolean"):
        values = harness.KNOWN_VALUES[type_name]
        port_file = os.path.join(out, "udp-%s.port" % type_name)
        csv_file = os.path.join(out, "Messwerte %s.csv" % type_name)
        log = os.path.join(work, "recv-%s" % type_name)
        with open(log + ".out", "wb") as o, open(log + ".err", "wb") as e:
            proc = subprocess.Popen(prefix.command(recv, [
                "--port", "0", "--port-file", prefix.windows(port_file), "--type", type_name,
                "--inputs", str(len(values)), "--count", "3", "--csv", prefix.windows(csv_file),
                "--timeout", str(LONG)]), env=prefix.env, cwd=work, stdout=o, stderr=e,
                stdin=subprocess.DEVNULL)
        try:
            if not failures.check(wait_for_file(port_file), "%s: udpsv-recv.exe wrote no port "
                                  "file: %s" % (type_name, open(log + ".err").read())):
                continue
            port = int(open(port_file).read())
            model = os.path.join(work, "%s.model" % type_name)
            rc, o1, e1 = prefix.run(svhost, ["new", prefix.windows(model), "--host", "127.0.0.1",
                                             "--port", str(port), "--inputs", str(len(values)),
                                             "--type", type_name, "--plugin", dll], cwd=work)
            rc2, o2, e2 = prefix.run(svhost, ["run", dll, prefix.windows(model), "--steps", "2",
                                              "--quiet"] + harness.signal_args(values), cwd=work)
            if failures.check(rc == 0 and rc2 == 0, "%s: svhost.exe: %s%s%s%s"
                              % (type_name, o1, e1, o2, e2)):
                proc.wait(LONG)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        err = open(log + ".err", encoding="utf-8", errors="replace").read()
        failures.check(proc.returncode == 0, "%s: udpsv-recv.exe exited %s: %s"
                       % (type_name, proc.returncode, err))
        failures.check("3 frames received, 0 malformed" in err, "%s: summary: %s" % (type_name, err))
        rows = [l.split(",") for l in open(csv_file, encoding="utf-8").read().splitlines()]
        failures.check(len(rows) == 4 and rows[0][:3] == ["frame", "seconds", "bytes"],
                       "%s: CSV %r" % (type_name, rows[:2]))
        want = [harness.expected(type_name, v) for v in values]
        for row in rows[1:]:
            got = [harness.parse_number(type_name, t) for t in row[3:]]
            failures.check(len(got) == len(want) and
                           all(harness.same(type_name, g, w) for g, w in zip(got, want)),
                           "%s frame %s: %r, want %r" % (type_name, row[0], got, want))
        table = open(log + ".out", encoding="utf-8", errors="replace").read()
        failures.check("MALFORMED" not in table and table.count("\n") >= 4,
                       "%s: table %r" % (type_name, table))
        print("udpsv-recv.exe decoded 3 frames of %d x %s" % (len(values), type_name), flush=True)


def http_get(port, path):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=LONG)
    c.request("GET", path)
    r = c.getresponse()
    return r.status, r.getheader("Content-Type"), r.read()


def hostile_clients(port, udp_port):
    """The live plot against hostile clients, with the program's own limits
    (the table with small ones runs natively): each gets its answer, and a
    page streaming beside them gets every frame sent after each."""
    def connect(data):
        s = socket.create_connection(("127.0.0.1", port), timeout=LONG)
        s.sendall(data)
        return s

    def answer(s):
        got = b"".join(iter(lambda: s.recv(65536), b""))
        s.close()
        return got

    host = b"Host: 127.0.0.1:%d\r\n" % port
    events = b"GET /events HTTP/1.1\r\n" + host + b"\r\n"
    page, seen = connect(events), [b""]

    def page_counts(frames):
        def more():
            seen[0] = seen[0][-8192:] + page.recv(65536)
            return b'"frames":%d,' % frames in seen[0]
        return harness.wait_for(more, LONG, 0)

    def page_in():
        p = connect(events)
        if p.recv(15, socket.MSG_WAITALL) == b"HTTP/1.1 200 OK":
            return p
        p.close()

    def over_stream_limit():
        # 16 with the page; one that left a moment ago holds its slot until
        # its stream notices.
        pages = [harness.poll(page_in, seconds=LONG)[1] for _ in range(15)]
        got = answer(connect(events)) if all(pages) else b"fewer than 16 pages got in"
        for p in filter(None, pages):
            p.close()
        return got

    rows = [("foreign Host", lambda: answer(connect(b"GET / HTTP/1.1\r\nHost: evil.example:%d\r\n\r\n"
                                                   % port)), b"HTTP/1.1 421 Misdirected Request\r\n"),
            ("oversized head", lambda: answer(connect(b"GET / HTTP/1.1\r\n" + host + b"X: " +
                                                      b"x" * 20000 + b"\r\n\r\n")),
             b"HTTP/1.1 431 Request Header Fields Too Large\r\n"),
            ("idle", lambda: answer(connect(b"")), b"HTTP/1.1 408 Request Timeout\r\n"),
            ("over the stream limit", over_stream_limit, b"HTTP/1.1 503 Service Unavailable\r\n")]
    for frame, (name, attack, want) in enumerate(rows, 1):
        got = attack()
        failures.check(got.startswith(want) and b"X-Content-Type-Options: nosniff\r\n" in got and
                       (b"Retry-After: 5\r\n" in got) == want.startswith(b"HTTP/1.1 503"),
                       "live plot, %s: %r" % (name, got[:200]))
        harness.send_datagram(udp_port, struct.pack("<2d", frame, -frame))
        failures.check(page_counts(frame), "live plot, %s: the page did not get frame %d" % (name, frame))
    page.close()
    print("udpsv-recv.exe answered %s" % ", ".join(r[0] for r in rows), flush=True)


def live_plot(prefix, recv, out, work, dygraphs):
    udp_file, http_file = os.path.join(out, "plot-udp.port"), os.path.join(out, "plot-http.port")
    log = os.path.join(work, "plot")
    with open(log + ".out", "wb") as o, open(log + ".err", "wb") as e:
        proc = subprocess.Popen(prefix.command(recv, [
            "--port", "0", "--port-file", prefix.windows(udp_file), "--http", "127.0.0.1:0",
            "--http-port-file", prefix.windows(http_file), "--type", "double", "--inputs", "2",
            "--count", "5", "--timeout", str(LONG), "--quiet"]), env=prefix.env, cwd=work,
            stdout=o, stderr=e, stdin=subprocess.DEVNULL)
    try:
        if not failures.check(wait_for_file(http_file), "live plot: no HTTP port file: %s"
                              % open(log + ".err").read()):
            return
        port = int(open(http_file).read())
        failures.check("live plot: open http://127.0.0.1:%d/ in a browser" % port
                       in open(log + ".err", encoding="utf-8").read(), "live plot: no address to open")
        status, kind, body = http_get(port, "/")
        failures.check(status == 200 and "text/html" in kind and b"udpsv-recv live plot" in body,
                       "GET /: %s %s %r" % (status, kind, body[:80]))
        for name in ("dygraph.min.js", "dygraph.min.css"):
            status, kind, body = http_get(port, "/" + name)
            with open(os.path.join(dygraphs, name), "rb") as f:
                failures.check(status == 200 and body == f.read(),
                               "GET /%s: %s, %d bytes, not the shipped file" % (name, status, len(body)))
        status, _, body = http_get(port, "/plot.js")
        failures.check(status == 200 and b"EventSource" in body, "GET /plot.js: %s" % status)
        failures.check(http_get(port, "/nothing")[0] == 404, "GET /nothing is not 404")

        # The stream: its first batch, which says that Windows counts no
        # datagrams lost to a full queue.
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=LONG)
        c.request("GET", "/events")
        r = c.getresponse()
        failures.check(r.status == 200 and r.getheader("Content-Type") == "text/event-stream",
                       "GET /events: %s %s" % (r.status, r.getheader("Content-Type")))
        line = b""
        while not line.startswith(b"data: "):
            line = r.fp.readline()
            if not line:
                break
        batch = json.loads(line[len(b"data: "):]) if line.startswith(b"data: ") else {}
        failures.check(batch.get("type") == "double" and batch.get("inputs") == 2 and
                       "lost" in batch and batch["lost"] is None,
                       "the first event: %r" % line[:200])
        r.close()
        c.close()

        hostile_clients(port, int(open(udp_file).read()))
        harness.send_datagram(int(open(udp_file).read()), struct.pack("<2d", 1.5, -2.0))
        proc.wait(LONG)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    failures.check(proc.returncode == 0, "live plot: udpsv-recv.exe exited %s: %s"
                   % (proc.returncode, open(log + ".err").read()))
    print("udpsv-recv.exe served its live plot on 127.0.0.1:%d" % port, flush=True)


# ---- udpsv-selftest.exe --------------------------------------------------------

def lines_of(text):
    return [re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", l) for l in text.splitlines()]


def self_test(prefix, exe, work, name, want_ok, label=None, said=None, env=None):
    rc, out, err = prefix.run(exe, [], env=env, cwd=work)
    lines = lines_of(out)
    # The report, then where it was saved.
    failures.check(lines[-2:-1] == [""] and lines[-1].startswith("This report is also in "),
                   "%s: the report's file is not named last:\n%s" % (name, out))
    lines = lines[:-2]
    bad = [l for l in lines[1:] if not l.endswith(("  ok", "  FAILED", "  skipped"))]
    failures.check(not bad, "%s: lines in neither form: %r" % (name, bad))
    failures.check("%1" not in out, "%s: a system text with its insert unfilled:\n%s" % (name, out))
    if want_ok:
        failures.check(rc == 0 and len(lines) == 15 and not [l for l in lines if "FAILED" in l],
                       "%s: exit %s:\n%s%s" % (name, rc, out, err))
        print("self-test, %s: all ok" % name, flush=True)
        return lines
    line = next((l for l in lines if l.startswith(label + ": ")), "")
    failures.check(rc == 1 and line.endswith("  FAILED") and said in line,
                   "%s: exit %s, want the line %r FAILED with %r:\n%s%s" % (name, rc, label, said, out, err))
    # Without a DLL that loads, the checks that need it are skipped, not failed.
    failures.check(label != "plug-in" or
                   [l for l in lines[1:-1] if l.endswith("  FAILED")] == [line],
                   "%s: lines other than the plug-in's FAILED:\n%s" % (name, out))
    print("self-test, %s: %s" % (name, line), flush=True)
    return lines


def self_test_faults(prefix, folder, exe, work, svstring_full, svstring_no1553, fake_comctl32):
    dll = os.path.join(folder, "UDPSV2Simulink.dll")
    lines = self_test(prefix, exe, work, "from the unpacked ZIP", True)
    plugin = next((l for l in lines if l.startswith("plug-in: ")), "")
    failures.check("\\Mein Hôst\\Blöcke\\" in plugin, "the plug-in line names %r" % plugin)

    aside = dll + ".aside"
    os.rename(dll, aside)
    try:
        self_test(prefix, exe, work, "DLL missing", False, "plug-in",
                  "UDPSV2Simulink.dll is not beside the self-test, in %s: unpack the whole ZIP file"
                  % prefix.windows(folder))
        shutil.copy(os.path.join(folder, "README.txt"), dll)
        self_test(prefix, exe, work, "DLL a wrong file", False, "plug-in", "cannot load plug-in")
    finally:
        if os.path.exists(dll):
            os.remove(dll)
        os.rename(aside, dll)

    library = os.path.join(folder, "SVSTRING7.DLL")
    try:
        with open(library, "w") as f:
            f.write("no library\n")
        self_test(prefix, exe, work, "string library no DLL", False, "string library",
                  "is there, but Windows cannot load it")
        shutil.copy(svstring_no1553, library)
        self_test(prefix, exe, work, "string library without 1553", False, "string library",
                  "lacks the texts of ids 1553")
        shutil.copy(svstring_full, library)
        lines = self_test(prefix, exe, work, "string library complete", True)
        found = next((l for l in lines if l.startswith("string library: ")), "")
        failures.check("found by the plug-in's start-up: " + prefix.windows(library) in found,
                       "the complete string library: %r" % found)
    finally:
        if os.path.exists(library):
            os.remove(library)

    try:
        prefix.reg("add", SETTINGS, "/v", "Default User", "/t", "REG_SZ", "/d", "Jürgen", "/f")
        lines = self_test(prefix, exe, work, "a setting of text", True)
        settings = next((l for l in lines if l.startswith("host-wide settings: ")), "")
        failures.check('"Default User"="Jürgen"' in settings, "the settings line: %r" % settings)
        prefix.reg("add", SETTINGS, "/v", "Default Line Width", "/t", "REG_DWORD", "/d", "3", "/f")
        self_test(prefix, exe, work, "a setting of the wrong type", False, "host-wide settings",
                  '"Default Line Width" is REG_DWORD')
    finally:
        prefix.reg("delete", SETTINGS, "/v", "Default Line Width", "/f")
        prefix.reg("delete", SETTINGS, "/v", "Default User", "/f")

    try:
        prefix.reg("add", APP_DEFAULTS, "/v", "Version", "/d", "winxp", "/f")
        self_test(prefix, exe, work, "Windows XP", False, "Windows", "needs Windows 7 or later")
    finally:
        prefix.reg("delete", APP_DEFAULTS, "/f")

    controls = os.path.join(folder, "comctl32.dll")
    try:
        shutil.copy(fake_comctl32, controls)
        self_test(prefix, exe, work, "an old comctl32", False, "common controls",
                  "lacks SetWindowSubclass by name",
                  {"WINEDLLOVERRIDES": "comctl32=n;mscoree,mshtml="})
    finally:
        os.remove(controls)


class Terminal:
    """A program of the prefix in a terminal of its own, as a double-click
    or a command window gives it: a pseudo-terminal, wide enough that the
    console breaks no line."""

    def __init__(self, prefix, exe, args, cwd):
        command = "stty cols 1000 rows 60; exec " + " ".join(
            "'%s'" % a for a in prefix.command(exe, args))
        self.proc = subprocess.Popen(["script", "-qec", command, "/dev/null"], env=prefix.env,
                                     cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.seen = b""

    def lines(self):
        try:
            self.seen += self.proc.stdout.read() or b""
        except (BlockingIOError, TypeError):
            pass
        return lines_of(self.seen.decode("utf-8", "replace").replace("\r", ""))

    def shows(self, text, seconds=LONG):
        return harness.wait_for(lambda: any(text in l for l in self.lines()), seconds, 0.05)

    def type(self, keys):
        self.proc.stdin.write(keys)
        self.proc.stdin.flush()

    def close_with_enter(self):
        """Presses Enter until the program ends, then finish(). Wine's
        console changes the terminal's modes as a read begins: a key that
        arrives just then reaches the program as Ctrl+J, which ends no line,
        as a real console never does."""
        def ended_or_pressed():
            if self.proc.poll() is not None:
                return True
            try:
                self.type(b"\r")
            except BrokenPipeError:  # it ended just now
                pass
            return False

        harness.wait_for(ended_or_pressed, LONG, 0.5)
        return self.finish()

    def finish(self):
        try:
            self.proc.wait(LONG)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode, self.lines()


def console_of_its_own(prefix, folder, exe, work, name):
    """The self-test in a terminal of its own, as after a double-click: the
    report also goes to a file, it says where, and it waits for Enter.
    Returns the file's Windows path as the program printed it, and the
    report's lines as shown."""
    t = Terminal(prefix, exe, [], work)
    waiting = t.shows("Press Enter to close this window.")
    failures.check(waiting and t.proc.poll() is None,
                   "%s: no wait for Enter (exit %s):\n%s" % (name, t.proc.poll(), "\n".join(t.lines())))
    rc, text = t.close_with_enter()
    failures.check(rc == 0, "%s: exit %s" % (name, rc))
    where = next((l[len("This report is also in "):].strip() for l in text
                  if l.startswith("This report is also in ")), "")
    return where, [l for l in text if l.startswith(("UDPSV2Simulink self-test", "result: ")) or
                   l.endswith("  ok") or l.endswith("  FAILED")]


def receiver_in_a_console(prefix, recv, work):
    """udpsv-recv.exe in a console of its own, as after a double-click: its
    table shows every character (the "…" of a cut line), Ctrl+C stops it
    with its summary, and a port that is taken is explained; either way
    the window stays until Enter."""
    port_file = os.path.join(work, "console.port")
    t = Terminal(prefix, recv, ["--port", "0", "--port-file", prefix.windows(port_file),
                                "--timeout", str(LONG)], work)
    if failures.check(wait_for_file(port_file), "console: no port file: %s" % t.lines()):
        harness.send_datagram(int(open(port_file).read()), struct.pack("<10d", *range(10)))
        failures.check(t.shows("\u2026(+2)"), "console: the table lacks \"\u2026(+2)\": %s" % t.lines())
        t.type(b"\x03")
    stays = t.shows("Press Enter to close this window.") and t.proc.poll() is None
    rc, text = t.close_with_enter()
    failures.check(stays and rc == 0 and
                   any("1 frames received" in l and "(stopped: Ctrl+C)" in l for l in text),
                   "console: Ctrl+C, then Enter: exit %s, %s" % (rc, text[-4:]))
    print("udpsv-recv.exe in a console: stopped by Ctrl+C, closed by Enter", flush=True)

    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
        holder.bind(("127.0.0.1", 0))
        port = holder.getsockname()[1]
        t = Terminal(prefix, recv, ["--port", str(port)], work)
        stays = t.shows("Press Enter to close this window.") and t.proc.poll() is None
        rc, text = t.close_with_enter()
    said = "another program already receives on port %d" % port
    failures.check(stays and rc == 1 and any(("cannot bind 127.0.0.1:%d: " % port) in l for l in text)
                   and any(said in l for l in text),
                   "a port that is taken: exit %s, waited for Enter: %s, %s" % (rc, stays, text))
    print("udpsv-recv.exe on a port that is taken: %s" % next((l for l in text if said in l), ""),
          flush=True)


def report_file(prefix, folder, exe, work):
    beside = os.path.join(folder, "udpsv-selftest-report.txt")
    where, printed = console_of_its_own(prefix, folder, exe, work, "a console of its own")
    failures.check(where == prefix.windows(beside), "the report went to %r, not beside the program"
                   % where)
    if failures.check(os.path.exists(beside), "no report beside the program"):
        data = open(beside, "rb").read()
        failures.check(data.startswith(b"\xef\xbb\xbf") and b"\n" not in data.replace(b"\r\n", b""),
                       "the report file is not UTF-8 with a byte order mark and CR LF")
        failures.check(data.decode("utf-8-sig").splitlines() == printed and len(printed) == 15,
                       "the report file differs from what was shown:\n%r\n%r"
                       % (data.decode("utf-8-sig").splitlines(), printed))
        os.remove(beside)
    print("self-test with a console of its own: report in %s" % where, flush=True)

    # Where no file can be written beside it (here: a folder has that name),
    # the report goes to the folder for temporary files.
    os.mkdir(beside)
    try:
        where, _ = console_of_its_own(prefix, folder, exe, work, "beside not writable")
    finally:
        os.rmdir(beside)
    temp = prefix.linux(where) if where else ""
    failures.check(where.endswith("\\Temp\\udpsv-selftest-report.txt") and os.path.exists(temp),
                   "the report went to %r when the program's folder could not take it" % where)
    if os.path.exists(temp):
        os.remove(temp)
    print("self-test, program folder not writable: report in %s" % where, flush=True)


def main():
    ap = argparse.ArgumentParser()
    for name in ("prefix", "zip", "svhost", "svstring-full", "svstring-no1553", "fake-comctl32",
                 "dygraphs", "workdir"):
        ap.add_argument("--" + name, required=True)
    a = ap.parse_args()
    prefix = Prefix(a.prefix)
    subprocess.run([WINE, "start", prefix.path], check=True)
    try:
        blocks = os.path.join(prefix.path, "drive_c", "Programme", "Mein Hôst", "Blöcke")
        shutil.rmtree(os.path.join(prefix.path, "drive_c", "Programme"), ignore_errors=True)
        os.makedirs(blocks)
        subprocess.run(["unzip", "-q", a.zip, "-d", blocks], check=True)
        folder = os.path.join(blocks, os.path.basename(a.zip)[:-len(".zip")])
        out = os.path.join(blocks, "Messungen äöü")
        os.makedirs(out)
        work = os.path.abspath(a.workdir)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        recv = prefix.windows(os.path.join(folder, "udpsv-recv.exe"))
        selftest = prefix.windows(os.path.join(folder, "udpsv-selftest.exe"))
        dll = prefix.windows(os.path.join(folder, "UDPSV2Simulink.dll"))
        svhost = prefix.windows(a.svhost)

        receive_every_type(prefix, recv, svhost, dll, out, work)
        live_plot(prefix, recv, out, work, a.dygraphs)
        receiver_in_a_console(prefix, recv, work)
        self_test_faults(prefix, folder, selftest, work, a.svstring_full, a.svstring_no1553,
                         a.fake_comctl32)
        report_file(prefix, folder, selftest, work)
    finally:
        subprocess.run([WINE, "stop", prefix.path])
    failures.finish()


if __name__ == "__main__":
    main()
