#!/usr/bin/env python3
# Receives the sample frames of block 1 "UDP Sorvane2Simulink":
# 1 x double = 8 bytes per frame, sent to 127.0.0.1:1600, one UDP datagram per host
# step and one at run start, little-endian, no header. Prints one line per frame.
#   udpsv_receive.py [PORT [TYPE [COUNT]]] [--bind ADDR]
import argparse
import socket
import struct
import sys

PORT = 1600
TYPE = "double"   # double | single | int32 | boolean
COUNT = 1          # values per frame: the block's inputs
LISTEN = "127.0.0.1"   # this PC only; 0.0.0.0 for frames from other PCs too

# Little-endian, and the width the block sends: 8, 4, 4 and 1 bytes. Boolean
# bytes are 0 or 1: "B" keeps a stray byte visible, where "?" would hide it.
FORMATS = {"double": "d", "single": "f", "int32": "i", "boolean": "B"}

p = argparse.ArgumentParser(description="Prints the frames of one block, one a line.")
p.add_argument("port", nargs="?", type=int, default=PORT)
p.add_argument("type", nargs="?", default=TYPE, choices=list(FORMATS))
p.add_argument("count", nargs="?", type=int, default=COUNT)
p.add_argument("--bind", default=LISTEN, metavar="ADDR",
               help="address to listen on (default: %(default)s)")
a = p.parse_args()
frame = struct.Struct("<%d%s" % (a.count, FORMATS[a.type]))

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try:
    sock.bind((a.bind, a.port))
except OSError as e:
    sys.exit("cannot bind %s:%d: %s" % (a.bind, a.port, e.strerror))
sock.settimeout(0.5)  # wakes up now and then, so that Ctrl+C works on Windows too
print("listening on %s:%d for %d x %s (%d bytes)"
      % (a.bind, a.port, a.count, a.type, frame.size), file=sys.stderr, flush=True)
try:
    while True:
        try:
            data, (host, port) = sock.recvfrom(65535)
        except socket.timeout:
            continue
        if len(data) != frame.size:
            print("%s:%d sent %d bytes, expected %d (%d x %s); skipped"
                  % (host, port, len(data), frame.size, a.count, a.type), file=sys.stderr, flush=True)
            continue
        print(" ".join(repr(v) for v in frame.unpack(data)), flush=True)
except KeyboardInterrupt:
    pass
