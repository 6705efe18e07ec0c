"""Runs receiving/wireshark/udpsv.lua in tshark on frames that svhost sent
through the plug-in, captured on loopback, for all four data types, and
checks every decoded value bit for bit, and that lengths that do not fit are
flagged.

Capturing needs root (or dumpcap's capabilities). Where capturing is not
possible, the test receives the same frames on a socket and writes them
into a pcap file itself, and says so; the dissector then reads real frames
all the same.

    dissector_test.py --svhost S --plugin P --lua udpsv.lua --workdir W
"""

import argparse
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

WIDTHS = {"double": 8, "single": 4, "int32": 4, "boolean": 1}
DATAGRAMS = 5  # per type: run start and 2 steps, then two that do not fit

# Bytes before the IPv4 header, by pcapng link type: Ethernet (what tshark
# records on lo), Linux cooked v1 and v2, raw IPv4.
LINK_HEADER = {1: 14, 113: 16, 276: 20, 228: 0}


def captured_ports(path):
    """The UDP destination ports of the packets that a capture file holds so
    far, in order; a block still being written is left out."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    ports, links, i = [], [], 0
    while i + 12 <= len(data):
        kind, length = struct.unpack_from("<II", data, i)
        if length < 12 or i + length > len(data):
            break
        if kind == 1:  # interface description: its link type
            links.append(struct.unpack_from("<H", data, i + 8)[0])
        elif kind == 6:  # enhanced packet
            interface, _, _, caplen = struct.unpack_from("<IIII", data, i + 8)
            packet = data[i + 28:i + 28 + caplen]
            ip = LINK_HEADER.get(links[interface] if interface < len(links) else -1)
            if ip is not None and len(packet) >= ip + 24:
                udp = ip + (packet[ip] & 0x0F) * 4
                ports.append(struct.unpack_from(">H", packet, udp + 2)[0])
        i += length
    return ports


def start_capture(tshark, ports, path, failures):
    """tshark capturing the ports on lo into `path`, or None and why not.
    Its message comes before the capture takes packets, so datagrams go to a
    marker port of their own until the capture file shows one."""
    marker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    marker.bind(("127.0.0.1", 0))
    marker_port = marker.getsockname()[1]
    filt = "udp and (%s)" % " or ".join("dst port %d" % p for p in ports + [marker_port])
    err_path = path + ".err"
    proc = subprocess.Popen([tshark, "-i", "lo", "-f", filt, "-w", path, "-q"],
                            stdout=subprocess.DEVNULL, stderr=open(err_path, "w"))
    started = harness.wait_for(lambda: "Capturing on" in open(err_path).read()
                               or proc.poll() is not None)
    if not started or proc.poll() is not None:
        proc.kill()
        proc.wait()
        marker.close()
        return None, open(err_path).read()

    def marker_seen():
        marker.sendto(b"marker", ("127.0.0.1", marker_port))
        return marker_port in captured_ports(path)
    failures.wait("the capture takes packets (a marker datagram is in %s)" % path,
                  marker_seen, seen=lambda _: "tshark: %r" % open(err_path).read(), fatal=True)
    marker.close()
    return proc, ""


def stop_capture(proc, path, ports, failures):
    """Ends the capture once it holds every datagram sent to the ports."""
    failures.wait("the capture holds %d datagrams for each port" % DATAGRAMS,
                  lambda: [captured_ports(path).count(p) for p in ports],
                  lambda counts: all(n >= DATAGRAMS for n in counts))
    proc.send_signal(signal.SIGINT)
    proc.wait(harness.DEADLINE)


class SocketRecorder:
    """The fallback: receives on the ports and writes a pcap of raw IPv4."""

    def __init__(self, ports):
        self.socks = []
        for p in ports:
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind(("127.0.0.1", p))
            s.setblocking(False)
            self.socks.append(s)
        self.packets = []

    def drain(self):
        """Takes what has arrived; returns how many came to each port so far."""
        for s in self.socks:
            while True:
                try:
                    data, (host, sport) = s.recvfrom(65535)
                except BlockingIOError:
                    break
                self.packets.append((time.time(), sport, s.getsockname()[1], data))
        return [sum(1 for p in self.packets if p[2] == s.getsockname()[1]) for s in self.socks]

    def write(self, path):
        with open(path, "wb") as f:
            f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 228))  # LINKTYPE_IPV4
            for stamp, sport, dport, data in self.packets:
                udp = struct.pack(">HHHH", sport, dport, 8 + len(data), 0) + data
                ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                                 socket.inet_aton("127.0.0.1"), socket.inet_aton("127.0.0.1"))
                pkt = ip + udp
                f.write(struct.pack("<IIII", int(stamp), int(stamp % 1 * 1e6), len(pkt), len(pkt)))
                f.write(pkt)
        for s in self.socks:
            s.close()


def own_experts(lua):
    """The fields of the dissector's own findings, as the script declares
    them; other dissectors' (UDP calls a destination port from 33434 to 33534
    a possible traceroute) are no fault of a frame."""
    with open(lua) as f:
        names = re.findall(r'ProtoExpert\.new\("([^"]+)"', f.read())
    if not names:
        raise AssertionError("found no ProtoExpert.new in " + lua)
    return names


def decode(tshark, lua, capture, port, type_name, count):
    with tempfile.TemporaryDirectory() as tmp:
        user = []
        if os.geteuid() == 0:
            # Wireshark 4 runs no Lua script for root: decode as nobody, from
            # copies that nobody may read.
            os.chmod(tmp, 0o755)
            lua, capture = shutil.copy(lua, tmp), shutil.copy(capture, tmp)
            for path in (lua, capture):
                os.chmod(path, 0o644)
            user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        out = subprocess.run(
            user + [tshark, "-r", capture, "-X", "lua_script:" + lua, "-o", "udpsv.port:%d" % port,
                    "-o", "udpsv.type:" + type_name, "-o", "udpsv.count:%d" % count,
                    "-Y", "udp.dstport == %d" % port, "-T", "fields", "-E", "occurrence=a",
                    "-E", "aggregator=;", "-E", "separator=|", "-e", "udp.length",
                    "-e", "udpsv.value", "-e", "_ws.expert.message"]
                 + [arg for f in own_experts(lua) for arg in ("-e", f)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=tmp,
            env=dict(os.environ, HOME=tmp))
    if out.returncode != 0:
        raise AssertionError("tshark failed: " + out.stderr)
    return [line.split("|") for line in out.stdout.splitlines() if line.strip()]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svhost", required=True)
    ap.add_argument("--plugin", required=True)
    ap.add_argument("--lua", required=True)
    ap.add_argument("--workdir", required=True)
    a = ap.parse_args()
    tshark = harness.need("tshark", "tshark")
    host = harness.Host(a.svhost, a.plugin, a.workdir)
    failures = harness.Failures("dissector")

    types = ["double", "single", "int32", "boolean"]
    ports = {t: harness.free_udp_port() for t in types}
    models = {t: host.model("dissect-%s.model" % t, ports[t], t, len(harness.KNOWN_VALUES[t]))
              for t in types}
    capture = os.path.join(a.workdir, "frames.pcapng")
    proc, why = start_capture(tshark, list(ports.values()), capture, failures)
    recorder = None
    if proc is None:
        print("NOTE: capturing on lo is not possible here (%s); the frames are received on a "
              "socket and written to a pcap instead" % why.strip(), flush=True)
        capture = os.path.join(a.workdir, "frames.pcap")
        recorder = SocketRecorder(list(ports.values()))

    for t in types:
        host.run(models[t], 2, harness.signal_args(harness.KNOWN_VALUES[t]))
        n, w = len(harness.KNOWN_VALUES[t]), WIDTHS[t]
        # Two that do not fit: a length that is no whole number of values (for
        # boolean, where every length is, a byte that is no boolean), and one
        # value too many.
        harness.send_datagram(ports[t], bytes(n * w + 1) if w > 1 else bytes([2] * n))
        harness.send_datagram(ports[t], bytes((n + 1) * w))
    if recorder:
        failures.wait("the socket recorder has %d datagrams for each port" % DATAGRAMS,
                      recorder.drain, lambda counts: all(n >= DATAGRAMS for n in counts))
        recorder.write(capture)
    else:
        stop_capture(proc, capture, list(ports.values()), failures)

    for t in types:
        values = harness.KNOWN_VALUES[t]
        want = [harness.expected(t, v) for v in values]
        rows = decode(tshark, a.lua, capture, ports[t], t, len(values))
        if not failures.check(len(rows) == DATAGRAMS, "%s: %d datagrams decoded, want %d"
                              % (t, len(rows), DATAGRAMS)):
            continue
        for k, (length, texts, experts, *own) in enumerate(rows[:3], start=1):
            got = texts.split(";")
            failures.check(not any(own), "%s frame %d flagged: %s" % (t, k, experts))
            if not failures.check(len(got) == len(want), "%s frame %d: %d values, want %d"
                                  % (t, k, len(got), len(want))):
                continue
            for i, (item, w_value) in enumerate(zip(got, want), start=1):
                index, _, text = item.partition("=")
                failures.check(index == str(i), "%s frame %d: value %d has index %s"
                               % (t, k, i, index))
                failures.check(harness.same(t, harness.parse_number(t, text), w_value),
                               "%s frame %d input %d: got %s, want %r" % (t, k, i, text, w_value))
        bad_fit = "Boolean byte" if t == "boolean" else "is not a whole number of %s values" % t
        failures.check(bad_fit.lower() in rows[3][2].lower() or "0x02" in rows[3][2],
                       "%s: the misfit datagram was not flagged: %r" % (t, rows[3]))
        failures.check("expected %d x %s" % (len(values), t) in rows[4][2],
                       "%s: one value too many was not flagged: %r" % (t, rows[4]))
    failures.finish()


if __name__ == "__main__":
    main()
