#!/usr/bin/env python3
# Receives the sample frames of block 1 "UDP Sorvane2Simulink":
# 1 x double = 8 bytes per frame, sent to 127.0.0.1:1600, one UDP datagram per host
# step and one at run start, little-endian, no header. Prints one line per frame.
import socket
import struct
import sys

PORT = 1600
LISTEN = ""      # every interface: the block may send from another host
TYPE = "double"   # double | single | int32 | boolean
COUNT = 1          # values per frame: the block's inputs
# The three can also be given when starting it: PORT [TYPE [COUNT]]
if len(sys.argv) > 1:
    PORT = int(sys.argv[1])
if len(sys.argv) > 2:
    TYPE = sys.argv[2]
if len(sys.argv) > 3:
    COUNT = int(sys.argv[3])

# Little-endian, and the width the block sends: 8, 4, 4 and 1 bytes. Boolean
# bytes are 0 or 1: "B" keeps a stray byte visible, where "?" would hide it.
FORMATS = {"double": "d", "single": "f", "int32": "i", "boolean": "B"}
if TYPE not in FORMATS:
    sys.exit("TYPE must be double, single, int32 or boolean, not %s" % TYPE)
frame = struct.Struct("<%d%s" % (COUNT, FORMATS[TYPE]))

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((LISTEN, PORT))
sock.settimeout(0.5)  # wakes up now and then, so that Ctrl+C works on Windows too
print("listening on %s:%d for %d x %s (%d bytes)"
      % (LISTEN or "0.0.0.0", PORT, COUNT, TYPE, frame.size), file=sys.stderr, flush=True)
try:
    while True:
        try:
            data, (host, port) = sock.recvfrom(65535)
        except socket.timeout:
            continue
        if len(data) != frame.size:
            print("%s:%d sent %d bytes, expected %d (%d x %s); skipped"
                  % (host, port, len(data), frame.size, COUNT, TYPE), file=sys.stderr, flush=True)
            continue
        print(" ".join(repr(v) for v in frame.unpack(data)), flush=True)
except KeyboardInterrupt:
    pass
