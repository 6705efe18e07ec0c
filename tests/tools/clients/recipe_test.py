"""Runs a recipe that `svhost show --receiver` generates (the Python script
or the Octave udpport script) as a real client against frames that svhost
sends through the plug-in, for all four data types, and checks every decoded
value bit for bit; then checks that a datagram of the wrong length is
reported and skipped, and that the client stays in step after it.

    recipe_test.py --client python|octave --svhost S --plugin P --workdir W
"""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

WIDTHS = {"double": 8, "single": 4, "int32": 4, "boolean": 1}


def client_command(client, script):
    if client == "python":
        return [sys.executable, script]
    return [harness.need("octave-cli", "octave and octave-instrument-control"),
            "--norc", "--quiet", "--no-window-system", script]


def check_type(client, host, type_name, failures):
    values = harness.KNOWN_VALUES[type_name]
    want = [harness.expected(type_name, v) for v in values]
    port = harness.free_udp_port()
    model = host.model("%s-%s.model" % (client, type_name), port, type_name, len(values))
    script = os.path.join(host.workdir, "recv-%s-%s.%s" % (client, type_name,
                                                         "py" if client == "python" else "m"))
    with open(script, "w") as f:
        f.write(host.recipe(model, client))

    out_path, err_path = script + ".out", script + ".err"
    with open(out_path, "w") as out, open(err_path, "w") as err:
        proc = subprocess.Popen(client_command(client, script), stdout=out, stderr=err,
                                cwd=host.workdir)
    read = lambda p: open(p).read()  # noqa: E731
    lines = lambda: [l for l in read(out_path).splitlines() if l.strip()]  # noqa: E731
    try:
        if not failures.wait("%s %s: the recipe says it is listening" % (client, type_name),
                             lambda: (read(err_path), proc.poll()),
                             done=lambda v: ("listening on 127.0.0.1:%d" % port if client == "python"
                                             else "listening on") in v[0],
                             seen=lambda v: "stderr %r, exit status %s" % v):
            return
        host.run(model, 2, harness.signal_args(values))  # run start + 2 steps = 3 frames
        failures.wait("%s %s: 3 frames printed" % (client, type_name), lines,
                      lambda got: len(got) >= 3)

        # A frame of the wrong length, whole values of the type included: the
        # recipe must say so and decode nothing from it.
        wrong = (len(values) + 1) * WIDTHS[type_name]
        harness.send_datagram(port, bytes(wrong))
        failures.wait("%s %s: the %d-byte datagram is reported" % (client, type_name, wrong),
                      lambda: read(err_path),
                      lambda err: "expected %d" % (len(values) * WIDTHS[type_name]) in err)
        # One more frame, after it. The recipe takes datagrams in order, so
        # once this frame is printed, whatever the bad one printed is there too.
        host.run(model, 0, harness.signal_args(values))
        failures.wait("%s %s: the frame after the bad datagram is printed" % (client, type_name),
                      lines, lambda got: len(got) >= 4)
    finally:
        proc.kill()
        proc.wait()

    got = lines()
    failures.check(len(got) == 4, "%s %s: %d lines printed, want 4 (3 frames, nothing for the "
                   "bad datagram, 1 frame)" % (client, type_name, len(got)))
    for n, line in enumerate(got, start=1):
        fields = line.split()
        if not failures.check(len(fields) == len(want), "%s %s frame %d: %d values, want %d: %r"
                              % (client, type_name, n, len(fields), len(want), line)):
            continue
        for i, (text, w) in enumerate(zip(fields, want), start=1):
            failures.check(harness.same(type_name, harness.parse_number(type_name, text), w),
                           "%s %s frame %d input %d: got %s, want %r (input %r)"
                           % (client, type_name, n, i, text, w, values[i - 1]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client", choices=["python", "octave"], required=True)
    ap.add_argument("--svhost", required=True)
    ap.add_argument("--plugin", required=True)
    ap.add_argument("--workdir", required=True)
    a = ap.parse_args()
    host = harness.Host(a.svhost, a.plugin, a.workdir)
    failures = harness.Failures("recipe %s" % a.client)
    for type_name in ("double", "single", "int32", "boolean"):
        check_type(a.client, host, type_name, failures)
    failures.finish()


if __name__ == "__main__":
    main()
