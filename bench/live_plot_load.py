#!/usr/bin/env python3
"""The live plot under load: wide frames at full rate while pages keep
opening. A receiver (udpsv-recv --http, natively or udpsv-recv.exe under
Wine) gets INPUTS doubles per frame at RATE frames/s for SECONDS; one page
stays open and reads its stream throughout, and every EVERY seconds the
PAGES pages opened before are closed and as many new ones opened, each
catching up on what the receiver keeps for late pages. Reports per run:
frames lost (sent and not received), the receiver's peak resident memory,
the open page's longest wait between two batches and the batches it
missed, and the pages refused (503).

    bench/live_plot_load.py --recv PROGRAM [--against OTHER] [--wine PREFIX]
                            [--inputs N] [--rate R] [--seconds S] [--pages P]
                            [--every E] [--runs K]

With --against, the runs of the two programs alternate, the first of a pair
changing from run to run, so that neither always meets the machine in the
same state. With --wine, both are Windows programs run under Wine in
PREFIX (scripts/wine-prefix.sh). A benchmark reports; it never fails on its
figures. Take figures on an otherwise idle machine.
"""
import argparse
import math
import multiprocessing
import os
import re
import selectors
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
WINE = os.path.join(ROOT, "scripts", "wine-prefix.sh")
WAIT = 60  # longest wait for the receiver to start or end


def send_frames(port, inputs, rate, count, started):
    """In a process of its own, so that the pages' reading never holds up
    the sender: `count` frames on a schedule of `rate` per second."""
    frames = [struct.pack("<%dd" % inputs, *(math.sin(k * 0.1 + i * 0.01) * (i + 1)
                                             for i in range(inputs))) for k in range(64)]
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
    t0 = time.monotonic()
    started.value = t0
    sent = 0
    while sent < count:
        due = min(count, int((time.monotonic() - t0) * rate) + 1)
        while sent < due:
            s.sendto(frames[sent % len(frames)], ("127.0.0.1", port))
            sent += 1
        time.sleep(max(0.0, t0 + sent / rate - time.monotonic()))


class Pages:
    """Every page's socket in one selector: the open page's stream is read
    for its batch ids, the others' is thrown away."""

    def __init__(self, port):
        self.port = port
        self.sel = selectors.DefaultSelector()
        self.lock = threading.Lock()
        self.buf = bytearray(1 << 20)
        self.stop = False
        self.last_id = None
        self.missed = 0
        self.last_batch = None
        self.longest_wait = 0.0
        self.tail = b""
        self.opened = self.refused = 0
        self.others = []
        self.main = self.open(main=True)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def open(self, main=False):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=WAIT)
        s.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % self.port)
        s.setblocking(False)
        with self.lock:
            self.sel.register(s, selectors.EVENT_READ, {"main": main, "head": b""})
            self.opened += 1
        return s

    def replace(self, count):
        with self.lock:
            for s in self.others:
                if s in self.sel.get_map():
                    self.sel.unregister(s)
                s.close()
        self.others = [self.open() for _ in range(count)]

    def main_data(self, data):
        now = time.monotonic()
        text = self.tail + data
        ids = [int(m) for m in re.findall(rb"(?:^|\n)id: (\d+)\n", text)]
        self.tail = text[-64:]
        for i in ids:
            if self.last_id is not None and i <= self.last_id:
                continue  # seen in the tail already
            if self.last_id is not None:
                self.missed += i - self.last_id - 1
            self.last_id = i
            if self.last_batch is not None:
                self.longest_wait = max(self.longest_wait, now - self.last_batch)
            self.last_batch = now

    def run(self):
        while not self.stop:
            with self.lock:
                events = self.sel.select(0.05)
                for key, _ in events:
                    try:
                        n = key.fileobj.recv_into(self.buf)
                    except BlockingIOError:
                        continue
                    except OSError:
                        n = 0
                    data = bytes(self.buf[:n]) if key.data["main"] or not key.data["head"] else b""
                    if not key.data["head"] and n:
                        key.data["head"] = data[:12]
                        if not data.startswith(b"HTTP/1.1 200"):
                            self.refused += 1
                    if key.data["main"] and n:
                        self.main_data(data)
                    if n == 0:
                        self.sel.unregister(key.fileobj)

    def close(self):
        self.stop = True
        self.thread.join()
        for key in list(self.sel.get_map().values()):
            key.fileobj.close()


def find_pid(proc, wine):
    """The receiver's own process: under Wine the program's, found by name."""
    if not wine:
        return proc.pid
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        for pid in os.listdir("/proc"):
            try:
                if pid.isdigit() and open("/proc/%s/comm" % pid).read().strip() == "udpsv-recv.exe":
                    return int(pid)
            except OSError:
                pass
        time.sleep(0.05)
    return None


def peak_rss_mb(pid):
    try:
        for line in open("/proc/%d/status" % pid):
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    except (OSError, TypeError):
        pass
    return None


def wait_file(path, proc):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline and proc.poll() is None:
        if os.path.exists(path) and open(path).read().strip():
            return int(open(path).read())
        time.sleep(0.05)
    return None


def one_run(program, a, work):
    ports = {k: os.path.join(work, k + ".port") for k in ("udp", "http")}
    for p in ports.values():
        if os.path.exists(p):
            os.remove(p)
    where = (lambda p: "Z:" + p.replace("/", "\\")) if a.wine else (lambda p: p)
    args = ["--port", "0", "--port-file", where(ports["udp"]), "--http", "127.0.0.1:0",
            "--http-port-file", where(ports["http"]), "--type", "double", "--inputs",
            str(a.inputs), "--quiet", "--count", str(int(a.rate * a.seconds)), "--idle", "10"]
    command = [WINE, "run", a.wine, program] + args if a.wine else [program] + args
    err_path = os.path.join(work, "recv.err")
    with open(err_path, "w") as err:
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=err)
    result = {"ended": None}
    try:
        udp, http = wait_file(ports["udp"], proc), wait_file(ports["http"], proc)
        pid = find_pid(proc, a.wine)
        if udp is None or http is None:
            raise SystemExit("the receiver did not start: " + open(err_path).read())
        count = int(a.rate * a.seconds)
        started = multiprocessing.Value("d", 0.0)
        sender = multiprocessing.Process(target=send_frames,
                                         args=(udp, a.inputs, a.rate, count, started))
        pages = Pages(http)
        sender.start()
        next_open = time.monotonic()
        peak = 0.0
        while sender.is_alive() and proc.poll() is None:
            if time.monotonic() >= next_open:
                try:
                    pages.replace(a.pages)
                except OSError as e:
                    print("opening pages: %s; the receiver: %s" % (e, open(err_path).read()))
                    raise
                next_open += a.every
            peak = max(peak, peak_rss_mb(pid) or 0.0)
            time.sleep(0.1)
        sender.join()
        peak = max(peak, peak_rss_mb(pid) or 0.0)
        pages.close()
        proc.wait(WAIT)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    text = open(err_path, encoding="utf-8", errors="replace").read()
    m = re.search(r"summary: (\d+) frames received", text)
    received = int(m.group(1)) if m else None
    result.update(sent=count, received=received,
                  lost=count - received if received is not None else count,
                  peak_mb=peak, wait_s=pages.longest_wait, missed=pages.missed,
                  opened=pages.opened, refused=pages.refused,
                  ended=None if m else "ended without a summary (exit %s): %s"
                  % (proc.returncode, text.strip().splitlines()[-1:] or ""))
    return result


def spread(values, fmt):
    values = [v for v in values if v is not None]
    if not values:
        return "-"
    med = statistics.median(values)
    return (fmt % med) + " (" + (fmt % min(values)) + "–" + (fmt % max(values)) + ")"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--recv", required=True)
    ap.add_argument("--against")
    ap.add_argument("--wine", help="a Wine prefix: the programs are Windows programs")
    ap.add_argument("--inputs", type=int, default=1000)
    ap.add_argument("--rate", type=float, default=1000)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--pages", type=int, default=16)
    ap.add_argument("--every", type=float, default=2)
    ap.add_argument("--runs", type=int, default=3)
    a = ap.parse_args()
    if a.wine:
        a.wine = os.path.abspath(a.wine)
        subprocess.run([WINE, "start", a.wine])  # fails when a server is up already
    programs = [a.recv] + ([a.against] if a.against else [])
    results = {p: [] for p in programs}
    print("%d inputs x double at %g frames/s for %g s; %d pages opened every %g s; load %s"
          % (a.inputs, a.rate, a.seconds, a.pages, a.every, os.getloadavg()), flush=True)
    with tempfile.TemporaryDirectory(prefix="live-plot-load-") as work:
        for run in range(a.runs):
            order = programs[run % len(programs):] + programs[:run % len(programs)]
            for p in order:
                r = one_run(p, a, work)
                results[p].append(r)
                print("run %d %s: lost %d of %d, peak %.0f MB, open page waited %.2f s at most,"
                      " missed %d batches, %d of %d pages refused%s"
                      % (run + 1, p, r["lost"], r["sent"], r["peak_mb"], r["wait_s"],
                         r["missed"], r["refused"], r["opened"],
                         "; " + r["ended"] if r["ended"] else ""), flush=True)
    if a.wine:
        subprocess.run([WINE, "stop", a.wine])
    print("\nload %s; median (min–max) of %d runs:" % (os.getloadavg(), a.runs))
    print("| program | frames lost | peak RSS (MB) | open page's longest wait (s) | batches missed |")
    print("|---|---|---|---|---|")
    for p in programs:
        rs = results[p]
        print("| %s | %s | %s | %s | %s |" % (
            p, spread([r["lost"] for r in rs], "%d"), spread([r["peak_mb"] for r in rs], "%.0f"),
            spread([r["wait_s"] for r in rs], "%.2f"), spread([r["missed"] for r in rs], "%d")))
        ended = [r["ended"] for r in rs if r["ended"]]
        if ended:
            print("  %s: %d of %d runs %s" % (p, len(ended), len(rs), ended[0]))


if __name__ == "__main__":
    main()
