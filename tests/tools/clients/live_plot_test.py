"""Opens the live plot of udpsv-recv --http in headless Chromium while svhost
sends known signals through the plug-in, and checks what the page plots
against the frames (the receiver's CSV, itself checked byte for byte by the
receiver's tests): every frame plotted once with its exact values, a second
tab that gets the same, a closed tab that leaves the receiver undisturbed,
the decimation that keeps a flood of frames from swamping the page, pause,
the CSV of the visible window, malformed frames shown. Saves a screenshot.

Chromium is driven over the DevTools protocol on a pipe
(--remote-debugging-pipe), so no debugging port is opened at all.

    live_plot_test.py --svhost S --plugin P --recv R --workdir W --screenshot PNG
"""

import argparse
import base64
import csv
import fcntl
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

BUCKET_SECONDS = 0.01  # the receiver's decimation bucket


class Browser:
    """Headless Chromium and the DevTools protocol over fds 3 and 4."""

    def __init__(self, chromium, profile):
        to_chrome_r, self._to_chrome = os.pipe()
        self._from_chrome, from_chrome_w = os.pipe()

        def child_fds():
            # Out of the way first, so that neither dup2 overwrites the other.
            a = fcntl.fcntl(to_chrome_r, fcntl.F_DUPFD, 10)
            b = fcntl.fcntl(from_chrome_w, fcntl.F_DUPFD, 10)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.log = open(os.path.join(profile, "chromium.log"), "w")
        self.proc = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-first-run", "--user-data-dir=" + profile, "--remote-debugging-pipe",
             "--window-size=1280,720", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log, preexec_fn=child_fds,
            close_fds=False)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self._next = 0
        self._replies = {}
        self._cv = threading.Condition()
        threading.Thread(target=self._reader, daemon=True).start()

    def _reader(self):
        buf = b""
        while True:
            chunk = os.read(self._from_chrome, 65536)
            if not chunk:
                return
            buf += chunk
            while b"\0" in buf:
                msg, buf = buf.split(b"\0", 1)
                m = json.loads(msg)
                if "id" in m:
                    with self._cv:
                        self._replies[m["id"]] = m
                        self._cv.notify_all()

    def call(self, method, params=None, session=None, timeout=harness.DEADLINE):
        with self._cv:
            self._next += 1
            mid = self._next
        m = {"id": mid, "method": method, "params": params or {}}
        if session:
            m["sessionId"] = session
        os.write(self._to_chrome, json.dumps(m).encode() + b"\0")
        with self._cv:
            if not self._cv.wait_for(lambda: mid in self._replies, timeout):
                raise AssertionError("no answer to " + method)
            r = self._replies.pop(mid)
        if "error" in r:
            raise AssertionError("%s: %s" % (method, r["error"]))
        return r["result"]

    def open(self, url):
        target = self.call("Target.createTarget", {"url": url})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})
        return Tab(self, target, session["sessionId"])

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
        except Exception:  # noqa: BLE001 - it may be gone already
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Tab:
    def __init__(self, browser, target, session):
        self.browser, self.target, self.session = browser, target, session

    def eval(self, expression):
        r = self.browser.call("Runtime.evaluate", {"expression": expression,
                                                   "returnByValue": True}, self.session)
        if "exceptionDetails" in r:
            raise AssertionError("page: %s: %s" % (expression, r["exceptionDetails"]))
        return r["result"].get("value")

    # What a failed wait shows of the page: its counts as they stood.
    SEEN = """(() => {
      const s = window.udpsv;
      if (!s) return "no page state yet";
      return {batches: s.batches, frames: s.stats && s.stats.frames, rows: s.rows.length,
              chart_rows: s.chart && s.chart.numRows(), paused: s.paused,
              malformed: s.stats && s.stats.malformed};
    })()"""

    def wait(self, failures, what, expression, fatal=False):
        """Waits until the page's `expression` is true; a failure says `what`
        was not met and shows the page's counts."""
        return failures.wait(
            what, lambda: self.eval("[!!(() => { try { return %s; } catch (e) { return false; } })(), %s]"
                                    % (expression, self.SEEN)),
            done=lambda v: v[0], seen=lambda v: v[1], fatal=fatal)

    # What the chart plots, row by row, with the frame each row stands for:
    # [frame, merged, x, y1..yN] from the chart's own data, the values that
    # it cannot plot (infinities) taken from the page's rows. -0 and the
    # infinities travel as text, since JSON has no place for them.
    def plotted(self):
        return self.eval("""(() => {
          const s = window.udpsv, c = s.chart;
          if (!c) return [];
          const enc = (v) => Object.is(v, -0) ? "-0" : v === Infinity ? "inf"
                           : v === -Infinity ? "-inf" : v;
          const out = [];
          if (c.numRows() !== s.rows.length) return "chart has " + c.numRows() + " rows, page " + s.rows.length;
          for (let i = 0; i < c.numRows(); ++i) {
            const r = s.rows[i], row = [r[0], r[2], c.getValue(i, 0)];
            for (let k = 3; k < r.length; ++k) {
              const y = c.getValue(i, k - 2);
              row.push(enc(y === null && !Number.isNaN(r[k]) ? r[k] : y));
            }
            out.push(row);
          }
          return out;
        })()""")

    def screenshot(self, path):
        data = self.browser.call("Page.captureScreenshot", {"format": "png"}, self.session)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        self.browser.call("Target.closeTarget", {"targetId": self.target})


def number(text):
    return {"-0": -0.0, "inf": float("inf"), "-inf": float("-inf")}.get(text, None) \
        if isinstance(text, str) else float(text)


def bits(v):
    return struct.pack("<d", v)


def csv_rows(path):
    """The receiver's complete CSV rows; a row still being written is left out."""
    with open(path) as f:
        text = f.read()
    return list(csv.reader(text[:text.rfind("\n") + 1].splitlines()))[1:]


def read_csv(path):
    return {int(r[0]): [float(x) for x in r[3:]] for r in csv_rows(path)}


def check_rows(failures, name, plotted, frames, inputs):
    """Every plotted row equals its frame (or, for merged rows, the per-input
    minimum or maximum over the frames it stands for), bit for bit."""
    if not failures.check(isinstance(plotted, list), "%s: %s" % (name, plotted)):
        return
    i = 0
    while i < len(plotted):
        row = plotted[i]
        frame, merged, values = row[0], row[1], [number(v) for v in row[3:]]
        failures.check(len(values) == inputs, "%s frame %d: %d values" % (name, frame, len(values)))
        if merged == 1:
            want = frames.get(frame)
            failures.check(want is not None and all(bits(a) == bits(b) for a, b in
                                                    zip(values, want)),
                           "%s frame %d: plotted %r, frame %r" % (name, frame, values, want))
            i += 1
            continue
        # A merged bucket: minima at its first frame, maxima at its last.
        if not failures.check(i + 1 < len(plotted) and plotted[i + 1][1] == merged,
                              "%s: merged row of frame %d without its pair" % (name, frame)):
            return
        last = plotted[i + 1][0]
        maxima = [number(v) for v in plotted[i + 1][3:]]
        span = [frames[f] for f in range(frame, last + 1) if f in frames]
        failures.check(last - frame + 1 == merged and len(span) == merged,
                       "%s: bucket %d..%d says %d frames" % (name, frame, last, merged))
        for k in range(inputs):
            col = [r[k] for r in span]
            failures.check(bits(values[k]) == bits(min(col)) and bits(maxima[k]) == bits(max(col)),
                           "%s: bucket %d..%d input %d: min/max %r/%r, frames %r/%r"
                           % (name, frame, last, k + 1, values[k], maxima[k], min(col), max(col)))
        i += 2


def main():
    ap = argparse.ArgumentParser()
    for opt in ("svhost", "plugin", "recv", "workdir", "screenshot"):
        ap.add_argument("--" + opt, required=True)
    a = ap.parse_args()
    chromium = harness.need("chromium", "chromium")
    os.makedirs(a.workdir, exist_ok=True)
    host = harness.Host(a.svhost, a.plugin, a.workdir)
    failures = harness.Failures("live plot")
    inputs = 3

    files = {k: os.path.join(a.workdir, k) for k in ("udp.port", "http.port", "frames.csv",
                                                     "recv.out", "recv.err")}
    for k in ("udp.port", "http.port"):
        if os.path.exists(files[k]):
            os.remove(files[k])
    recv = subprocess.Popen(
        [a.recv, "--port", "0", "--port-file", files["udp.port"], "--http", "127.0.0.1:0",
         "--http-port-file", files["http.port"], "--type", "double", "--inputs", str(inputs),
         "--csv", files["frames.csv"], "--quiet"],
        stdout=open(files["recv.out"], "w"), stderr=open(files["recv.err"], "w"))
    profile = tempfile.mkdtemp(prefix="chromium-", dir=a.workdir)
    browser = None
    csv_frames = lambda: len(csv_rows(files["frames.csv"]))  # noqa: E731
    try:
        failures.wait("the receiver writes its HTTP port",
                      lambda: (os.path.exists(files["http.port"]), recv.poll(),
                               open(files["recv.err"]).read()),
                      done=lambda v: v[0], seen=lambda v: "exit status %s, stderr %r" % v[1:],
                      fatal=True)
        udp_port = int(open(files["udp.port"]).read())
        url = "http://127.0.0.1:%d/" % int(open(files["http.port"]).read())
        model = host.model("web.model", udp_port, "double", inputs)
        signals = ["--signal", "1=sine:amp=5,freq=0.5", "--signal", "2=ramp:amp=3,period=1",
                   "--signal", "3=const:-0"]

        browser = Browser(chromium, profile)
        first = browser.open(url)
        first.wait(failures, "the first tab gets events", "udpsv.batches > 0", fatal=True)

        # 61 frames at 20 per second: one frame per bucket, so every frame is
        # plotted as it came, unless a starved receiver took two from its
        # queue at once; every frame is covered once either way.
        host.run(model, 60, signals, period=0.05)
        first.wait(failures, "the first tab has all 61 frames", plotted_up_to(61), fatal=True)
        failures.wait("the CSV has the 61 frames", csv_frames, lambda n: n == 61, fatal=True)
        frames = read_csv(files["frames.csv"])
        plotted = first.plotted()
        check_rows(failures, "first tab", plotted, frames, inputs)
        failures.check(covered(plotted) == list(range(1, 62)),
                       "first tab plots frames %r" % [r[0] for r in plotted])
        failures.check(first.eval("document.getElementById('legend').textContent")
                       .count("input") >= inputs, "the legend does not name every input")
        first.screenshot(a.screenshot)
        failures.check(open(a.screenshot, "rb").read(8) == b"\x89PNG\r\n\x1a\n",
                       "the screenshot is no PNG")

        # A second tab gets the history, then live frames; closing the first
        # tab disturbs neither the receiver nor the second tab.
        second = browser.open(url)
        second.wait(failures, "the second tab gets the history of 61 frames", plotted_up_to(61))
        first.close()
        host.run(model, 20, signals, period=0.05)
        second.wait(failures, "the second tab follows the next run to frame 82",
                    plotted_up_to(82), fatal=True)
        failures.check(recv.poll() is None, "the receiver ended after a tab was closed")
        failures.wait("the CSV has the 82 frames", csv_frames, lambda n: n == 82, fatal=True)
        frames = read_csv(files["frames.csv"])
        plotted = second.plotted()
        check_rows(failures, "second tab", plotted, frames, inputs)
        failures.check(covered(plotted) == list(range(1, 83)),
                       "second tab plots frames %r" % [r[0] for r in plotted])

        # Pause holds the chart while frames still arrive; resume catches up.
        held = second.eval("document.getElementById('pause').click(); udpsv.chart.numRows()")
        host.run(model, 10, signals, period=0.05)
        second.wait(failures, "the paused tab collects all 93 frames", plotted_up_to(93),
                    fatal=True)
        failures.check(second.eval("udpsv.chart.numRows()") == held,
                       "pause did not hold the chart at %d rows: %s"
                       % (held, second.eval(Tab.SEEN)))
        second.eval("document.getElementById('pause').click()")
        second.wait(failures, "resume redraws every row",
                    "udpsv.chart.numRows() === udpsv.rows.length && %s" % plotted_up_to(93))
        csv_text = second.eval("document.getElementById('csv').click(); udpsv.csv")
        lines = csv_text.strip().split("\n")
        failures.check(lines[0] == "frame,seconds,merged,v1,v2,v3" and len(lines) > 2,
                       "CSV of the visible window: %r" % lines[:2])

        # A flood: 20001 frames as fast as the host runs. The page gets at
        # most two points per bucket, each still exact. On a busy machine the
        # kernel may drop some of the flood; the page must then show exactly
        # what the receiver got, as the CSV has it. Once svhost has ended and
        # the receiver's queue is empty, every frame was taken in or dropped;
        # a malformed datagram sent then (into a queue with room) marks the
        # end: once the page counts it, it has counted everything before it.
        # It is counted and shown.
        before = second.eval("udpsv.stats.points_sent")
        host.run(model, 20000, ["--signal", "*=sine:amp=100,freq=3,phase-step=45"])
        failures.wait("the receiver's queue is empty after the flood",
                      lambda: harness.receive_queue(udp_port), lambda q: q == 0,
                      seen=lambda q: "%s bytes queued" % q, fatal=True)
        harness.send_datagram(udp_port, b"\x01\x02\x03")
        second.wait(failures, "the malformed datagram after the flood is counted and shown",
                    "udpsv.stats.malformed === 1 && document.getElementById('stats').textContent"
                    ".includes('malformed 1')", fatal=True)
        stats = second.eval("udpsv.stats")
        failures.wait("the CSV has the %d frames the page counts" % stats["frames"], csv_frames,
                      lambda n: n == stats["frames"], fatal=True)
        frames = read_csv(files["frames.csv"])
        burst = [t for t in read_times(files["frames.csv"]) if t[0] > 93]
        failures.check(len(burst) > 1, "%d frames of the flood arrived" % len(burst), fatal=True)
        span = burst[-1][1] - burst[0][1]
        sent = stats["points_sent"] - before
        bound = 2 * (int(span / BUCKET_SECONDS) + 2)
        failures.check(sent <= bound, "the flood sent %d points for %.3f s (at most %d)"
                       % (sent, span, bound))
        plotted = second.plotted()
        check_rows(failures, "flood", [r for r in plotted if r[0] > 93], frames, inputs)
        failures.check(any(r[1] > 1 for r in plotted), "the flood was not decimated")
        failures.check(recv.poll() is None, "the receiver is not running at the end")
    finally:
        if browser:
            browser.close()
        recv.terminate()
        recv.wait(harness.DEADLINE)
    failures.check(recv.returncode == 0, "the receiver exited with %s: %s"
                   % (recv.returncode, open(files["recv.err"]).read()))
    print("screenshot: " + a.screenshot)
    failures.finish()


def plotted_up_to(frame):
    """The page expression: every frame up to `frame` has come and has its row."""
    return ("udpsv.stats.frames === %d && udpsv.rows.length > 0 && "
            "udpsv.rows[udpsv.rows.length - 1][0] === %d" % (frame, frame))


def covered(plotted):
    """The frames that the plotted rows stand for, in order: a row of its own
    frame, or a merged bucket's pair of rows for its first to its last."""
    out, i = [], 0
    while i < len(plotted):
        frame, merged = plotted[i][0], plotted[i][1]
        if merged == 1 or i + 1 == len(plotted):
            out.append(frame)
            i += 1
        else:
            out.extend(range(frame, plotted[i + 1][0] + 1))
            i += 2
    return out


def read_times(path):
    return [(int(r[0]), float(r[1])) for r in csv_rows(path)]


if __name__ == "__main__":
    main()
