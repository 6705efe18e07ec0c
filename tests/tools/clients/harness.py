"""Shared parts of the tests that put real receiving clients (the generated
recipes, tshark with the dissector, a browser on the live plot) against
frames that svhost sends through the plug-in.

Every value below goes through the plug-in's conversion; the expected
results are computed here independently, by the rules of the frame, so that
a wrong byte anywhere between the plug-in and the client shows as a wrong
value. Values are chosen so that every byte matters: the sign of zero,
rounding to single, ties to even and the int32 wrap, boolean of 0.5/0/-0/-1.
"""

import math
import os
import shutil
import socket
import struct
import subprocess
import sys
import time

INF = float("inf")

# Input values (as svhost's const signal takes them) per data type.
KNOWN_VALUES = {
    "double": [1.0, -0.0, 0.1, -2.5, 1e300, 5e-324, INF, -INF, 123456789.123456789,
               -1.7976931348623157e308],
    "single": [0.1, -0.0, 1.5, -2.5, 3.4028234663852886e38, 1e-45, 16777217.0, INF,
               1.0 / 3.0],
    "int32": [1.0, -2.5, 3.5, 0.5, -0.5, 1.5, 2147483648.0, 4294967295.0, 4294967296.0,
              -2147483649.0, -0.0, 2147483647.0],
    "boolean": [0.5, 0.0, -0.0, -1.0, INF, -INF, 1e-300, 5e-324],
}

TYPE_CODES = {"double": 0, "single": 1, "int32": 2, "boolean": 3}


def expected(type_name, value):
    """The value a receiver must decode for an input of `value`."""
    if type_name == "double":
        return value
    if type_name == "single":
        return struct.unpack("<f", struct.pack("<f", value))[0]
    if type_name == "int32":
        r = round(value)  # ties to even, like the frame's conversion
        return (r + 2**31) % 2**32 - 2**31
    return 1 if value > 0 else 0


def same(type_name, got, want):
    """Exact comparison: bit patterns for the floating types, so that -0.0 and
    0.0 differ; `got` is the decoded value as the client reported it."""
    if type_name in ("double", "single"):
        if type_name == "single":
            got = struct.unpack("<f", struct.pack("<f", got))[0]
        return struct.pack("<d", got) == struct.pack("<d", want)
    return got == want


def parse_number(type_name, text):
    """A value as a client prints it: Python repr, C %g ("-0", "Inf"), ints."""
    t = text.strip()
    return float(t) if type_name in ("double", "single") else int(t)


def signal_args(values):
    args = []
    for i, v in enumerate(values, start=1):
        args += ["--signal", "%d=const:%s" % (i, repr(v) if math.isfinite(v) else str(v))]
    return args


def need(program, package):
    """The path of `program`; fails loudly when it is missing, since a test
    that skips would hide that the receiving side was never checked."""
    path = shutil.which(program)
    if not path:
        sys.exit("FAIL: %s not found; install %s (scripts/install-deps.sh)" % (program, package))
    return path


def free_udp_port():
    """A port no one holds on 127.0.0.1 now; the client binds it right after."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def receive_queue(port):
    """The bytes waiting in the receive queue of the socket bound to
    127.0.0.1:`port` (from /proc/net/udp), or None when there is none."""
    with open("/proc/net/udp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[1] == "0100007F:%04X" % port:
                return int(fields[4].split(":")[1], 16)
    return None


def send_datagram(port, payload):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(payload, ("127.0.0.1", port))


class Host:
    """svhost with the native plug-in, working in `workdir`."""

    def __init__(self, svhost, plugin, workdir):
        self.svhost, self.plugin, self.workdir = svhost, plugin, workdir
        os.makedirs(workdir, exist_ok=True)

    def model(self, name, port, type_name, inputs):
        path = os.path.join(self.workdir, name)
        subprocess.run([self.svhost, "new", path, "--host", "127.0.0.1", "--port", str(port),
                        "--inputs", str(inputs), "--type", type_name, "--plugin", self.plugin],
                       check=True, stdout=subprocess.DEVNULL)
        return path

    def recipe(self, model, kind):
        # The Python recipe listens on 127.0.0.1 by itself.
        listen = [] if kind == "python" else ["--listen", "127.0.0.1"]
        out = subprocess.run([self.svhost, "show", model, "--plugin", self.plugin,
                              "--receiver", kind] + listen,
                             check=True, stdout=subprocess.PIPE, text=True)
        return out.stdout

    def run(self, model, steps, args, period=0.0):
        out = subprocess.run([self.svhost, "run", self.plugin, model, "--steps", str(steps),
                              "--period", str(period), "--quiet"] + args,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if out.returncode != 0:
            raise AssertionError("svhost run failed:\n" + out.stdout)
        return out.stdout


# How long a wait for a condition may take before it fails. A condition met
# ends its wait at once, so this bounds a failure only: generous enough for
# two cores with a CPU hog on each and the sanitizers on.
DEADLINE = 120


class Failures:
    """Collects failed checks, so that one run reports all of them."""

    def __init__(self, name):
        self.name = name
        self.items = []

    def check(self, ok, text, fatal=False):
        """Records `text` when not `ok`; `fatal` ends the test there, for a
        condition that every later check needs."""
        if not ok:
            self.items.append(text)
            print("FAIL: " + text, flush=True)
            if fatal:
                sys.exit("%s: stopped at a failed condition; %d check(s) failed"
                         % (self.name, len(self.items)))
        return ok

    def wait(self, what, probe, done=bool, seen=repr, seconds=DEADLINE, fatal=False):
        """Waits until done(probe()); a failure names the condition `what` and
        shows seen() of what the probe returned last."""
        met, last = poll(probe, done, seconds)
        return met or self.check(False, "%s: not met within %d s; seen: %s"
                                 % (what, seconds, seen(last)), fatal)

    def finish(self):
        if self.items:
            sys.exit("%s: %d check(s) failed" % (self.name, len(self.items)))
        print("%s: all checks passed" % self.name)


def poll(probe, done=bool, seconds=DEADLINE, step=0.02):
    """Calls probe() until done() holds for its value or `seconds` have
    passed; returns whether it held, and the value seen last."""
    until = time.monotonic() + seconds
    while True:
        last = probe()
        if done(last):
            return True, last
        if time.monotonic() >= until:
            return False, last
        time.sleep(step)


def wait_for(predicate, seconds=DEADLINE, step=0.02):
    return poll(predicate, bool, seconds, step)[0]
