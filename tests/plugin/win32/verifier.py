#!/usr/bin/env python3
"""Runs a Windows program under Wine and checks one DLL of it by the rules
Windows enforces and Wine forgives: handles, critical sections, TLS indices,
heaps, and what a DllMain may call under the loader lock.

  verifier.py --prefix PREFIX [--dll NAME] [--addr2line TOOL] [--expect RULE]
              [--also-from MODULE]... -- COMMAND ARGS...

The checker reads Wine's own call trace of the DLL (+relay, +loaddll, +pid):
every call the DLL makes into a system DLL, with its thread, arguments,
return value and return address, and each DllMain and TLS callback with its
reason. The prefix's relay lists keep the trace to the calls these rules
need, made from the DLL (and from each --also-from module, whose calls may
stand in for the DLL's), so a run costs little more than without it; the
trace streams through this script and never touches the disk. A finding
names the call, the DLL's return address and the rule, and fails the run.
Other lines of the program's error output pass through.

--expect RULE inverts the verdict for the verifier's own test: the run
passes only when that rule, and no other, was found. With SV_VERIFIER_TRACE
set to a file name, the trace is kept there too, to see what led to a
finding.
"""
import argparse
import collections
import os
import re
import struct
import subprocess
import sys

# The DLLs whose calls the prefix relays: the product and the verifier's
# own test DLL.
RELAYED_FROM = "udpsv2simulink;sv_verifier_probe"

HANDLE_MAKERS = {"CreateSemaphoreW", "CreateSemaphoreA", "CreateSemaphoreExW", "CreateEventW",
                 "CreateEventA", "CreateEventExW", "CreateMutexW", "CreateMutexA",
                 "CreateMutexExW", "CreateFileW", "CreateFileA", "CreateThread", "OpenThread",
                 "OpenProcess", "CreateFileMappingW"}
SECTION_INIT = {"InitializeCriticalSection", "InitializeCriticalSectionAndSpinCount",
                "InitializeCriticalSectionEx"}
SECTION_ENTER = {"EnterCriticalSection", "TryEnterCriticalSection"}
SECTION_LEAVE = {"LeaveCriticalSection"}
SECTION_DELETE = {"DeleteCriticalSection"}
TLS = {"TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue"}
CRT_ALLOC = {"malloc", "calloc"}
HEAP_ALLOC = {"HeapAlloc", "AllocateHeap"}
FREES = {"free", "HeapFree", "FreeHeap", "LocalFree"}
REALLOCS = {"realloc", "HeapReAlloc", "ReAllocateHeap"}
LOADER = {"LoadLibraryA", "LoadLibraryW", "LoadLibraryExA", "LoadLibraryExW", "FreeLibrary",
          "FreeLibraryAndExitThread", "WSAStartup", "WSACleanup"}
WAITS = {"WaitForSingleObject", "WaitForSingleObjectEx", "WaitForMultipleObjects",
         "WaitForMultipleObjectsEx", "MsgWaitForMultipleObjects", "MsgWaitForMultipleObjectsEx",
         "SignalObjectAndWait", "SleepConditionVariableCS", "SleepConditionVariableSRW"}
CLOSERS = {"CloseHandle", "closesocket", "RegCloseKey"}
ALLOCS = CRT_ALLOC | HEAP_ALLOC | REALLOCS | {"LocalAlloc"}
RELAYED = (HANDLE_MAKERS | SECTION_INIT | SECTION_ENTER | SECTION_LEAVE | SECTION_DELETE | TLS
           | ALLOCS | FREES | LOADER | WAITS | CLOSERS | {"socket"})
AS_DATA_FILE = 0x62  # LOAD_LIBRARY_AS_DATAFILE, _AS_DATAFILE_EXCLUSIVE, _AS_IMAGE_RESOURCE

# Loader-unsafe calls that stay in the DLL's DllMain, each only where it is
# safe, with the reason: (name, test of the call, reason). A load or a free
# that runs no code (a data file, or a count on a module already loaded)
# cannot wait for anything under the loader lock.
ALLOWED = [
    ("LoadLibraryExW",
     lambda c: c.reason == "PROCESS_ATTACH" and c.arg(2) & AS_DATA_FILE and not c.ran_code,
     "the start-up maps the host's string library as a data file, or counts a reference on the"
     " host's own copy: no code runs"),
    ("FreeLibrary", lambda c: c.reason == "PROCESS_DETACH" and not c.ran_code,
     "the unload gives that back, or another reference beside the host's: no code runs"),
    ("WSACleanup", lambda c: c.reason == "PROCESS_DETACH" and c.frame.closed_socket,
     "the host unloads with a run it never ended: the unload closed its socket, and the socket"
     " library must not outlive the DLL, so DllMain is the last moment to stop it"),
    ("FreeLibrary", lambda c: c.reason == "PROCESS_DETACH" and c.frame.closed_socket
     and c.arg(0) in c.process.socket_modules, "the same, for the socket library's module"),
]

LINE = re.compile(rb"^([0-9a-f]+):([0-9a-f]+):(.*)$", re.S)
CALL = re.compile(r"(?:Call|Ret ) [\w.-]+\.([\w@]+)\((.*)\) "
                  r"(?:retval=([0-9a-f]+) )?ret=([0-9a-f]+)$")
ARG = re.compile(r'([0-9a-f]+)(?: L?"(?:[^"\\]|\\.)*")?(?:,|$)')
FRAME = re.compile(r"(Call|Ret ) (?:PE DLL|TLS callback) \(proc=\w+,module=([0-9A-Fa-f]+)"
                   r".*?,reason=(\w+)")
LOADED = re.compile(r'trace:loaddll:\w+ (Loaded|Unloaded module) L"(.*?)"(?: at ([0-9A-F]+))?')


class Call:
    def __init__(self, name, text, ret, frame, process):
        self.name, self.text, self.ret, self.frame, self.process = name, text, ret, frame, process
        self.args = ARG.findall(text)
        self.ran_code = False  # another module's DllMain or TLS callback ran inside it
        self.reason = frame.reason if frame else None

    def arg(self, i):
        return int(self.args[i], 16) if i < len(self.args) else 0


class Frame:  # a DllMain or TLS callback of the DLL, running on a thread
    def __init__(self, kind, reason):
        self.kind, self.reason, self.closed_socket = kind, reason, False


class Process:
    def __init__(self):
        self.image = None  # (base, end, path)
        self.sections = {}  # address -> "live" | "deleted"
        self.held = collections.Counter()  # address -> depth of entries, all threads
        self.tls_ours, self.tls_freed = set(), set()
        self.handles_closed = set()
        self.blocks, self.freed = {}, set()  # address -> heap, and what the DLL freed
        self.socket_modules = set()
        self.calls = collections.defaultdict(list)  # thread -> open calls of the DLL
        self.frames = collections.defaultdict(list)  # thread -> DllMain frames


class Verifier:
    def __init__(self, dll, prefix, addr2line):
        self.dll, self.prefix, self.addr2line = dll.lower(), prefix, addr2line
        self.processes = collections.defaultdict(Process)
        self.findings = collections.OrderedDict()  # (rule, name, offset) -> text
        self.sizes = {}
        self.seen = False  # whether the DLL was loaded at all

    # ---- the trace ----------------------------------------------------------

    def line(self, raw):
        m = LINE.match(raw)
        if not m:
            return False
        text = m.group(3).decode("latin-1").rstrip("\r\n")
        p, thread = self.processes[m.group(1)], m.group(2)
        if text.startswith("trace:loaddll:"):
            self.loaded(p, text)
        elif text.startswith(("Call ", "Ret  ")):
            if "PE DLL (" in text or "TLS callback (" in text:
                self.frame(p, thread, text)
            else:
                self.call(p, thread, text)
        return True

    def loaded(self, p, text):
        m = LOADED.search(text)
        name = m and m.group(2).replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
        if name == self.dll:
            if m.group(1) == "Loaded":
                self.seen = True
                base = int(m.group(3), 16)
                p.image = (base, base + self.image_size(m.group(2)), m.group(2))
            else:
                p.image = None

    def frame(self, p, thread, text):
        m = FRAME.match(text)
        if not m or not p.image:
            return
        if int(m.group(2), 16) != p.image[0]:
            if m.group(1) == "Call" and p.calls[thread]:
                p.calls[thread][-1].ran_code = True
            return
        kind = "TLS callback" if "TLS callback" in text else "DllMain"
        if m.group(1) == "Call":
            p.frames[thread].append(Frame(kind, m.group(3)))
        elif p.frames[thread]:
            p.frames[thread].pop()

    def call(self, p, thread, text):
        m = CALL.search(text)
        if not m or not p.image:
            return
        name, ret = m.group(1), int(m.group(4), 16)
        short = name[3:] if name.startswith("Rtl") else name
        if not p.image[0] <= ret < p.image[1]:
            # Memory the DLL freed, handed out again to someone else.
            if m.group(3) and short in ALLOCS:
                p.freed.discard(int(m.group(3), 16))
            return
        stack = p.calls[thread]
        if text.startswith("Call"):
            frame = p.frames[thread][-1] if p.frames[thread] else None
            call = Call(short, m.group(2), ret, frame, p)
            stack.append(call)
            self.before(p, call)
        else:
            while stack:  # calls that never returned (a raised failure) are dropped
                call = stack.pop()
                if call.name == short and call.ret == ret:
                    self.after(p, call, int(m.group(3) or "0", 16))
                    break

    # ---- the rules ----------------------------------------------------------

    def loader_lock(self, p, c):
        if not any(c.name == name and test(c) for name, test, _ in ALLOWED):
            self.find(p, c, "loader-lock", f"called while the DLL's {c.frame.kind} runs"
                      f" ({c.reason}): a loader-unsafe call")

    def before(self, p, c):
        n, a = c.name, c.arg(0)
        if c.frame and (n in WAITS or n == "FreeLibraryAndExitThread"):
            self.loader_lock(p, c)
        if c.frame and c.reason == "THREAD_DETACH" and n in ALLOCS:
            self.find(p, c, "thread-detach", "allocates while a thread detaches")
        if n == "closesocket" and c.frame:
            c.frame.closed_socket = True
        if n in SECTION_ENTER | SECTION_LEAVE | SECTION_DELETE and p.sections.get(a) == "deleted":
            self.find(p, c, "locks", "a critical section deleted twice" if n in SECTION_DELETE
                      else "a critical section used after its delete")
        elif n in SECTION_DELETE and p.held[a] > 0:
            self.find(p, c, "locks", "a critical section deleted while it is held")
        if n in SECTION_LEAVE and p.held[a] > 0:
            p.held[a] -= 1
        elif n in SECTION_DELETE | SECTION_INIT:
            p.sections[a] = "deleted" if n in SECTION_DELETE else "live"
            p.held[a] = 0
        if n == "TlsFree":
            if a in p.tls_freed:
                self.find(p, c, "TLS", "a TLS index freed twice")
            elif a not in p.tls_ours:
                self.find(p, c, "TLS", "a TLS index freed that the DLL did not allocate")
            p.tls_ours.discard(a)
            p.tls_freed.add(a)
        elif n in ("TlsGetValue", "TlsSetValue") and a in p.tls_freed:
            self.find(p, c, "TLS", "a TLS index used after its free")
        elif n == "CloseHandle" or n == "closesocket":
            if a in p.handles_closed:
                self.find(p, c, "handles", "a handle closed twice")
            p.handles_closed.add(a)
        elif n in FREES or n in REALLOCS:
            block = c.arg(2 if n in ("HeapFree", "FreeHeap", "HeapReAlloc", "ReAllocateHeap")
                          else 0)
            heap = ("crt" if n in ("free", "realloc") else "local" if n == "LocalFree"
                    else c.arg(0))
            if not block:
                return
            if block in p.freed:
                self.find(p, c, "heaps", "memory freed twice")
            elif block in p.blocks and p.blocks[block] != heap:
                self.find(p, c, "heaps", "memory freed by another heap than its own")
            p.blocks.pop(block, None)
            p.freed.add(block)

    def after(self, p, c, value):
        n = c.name
        if c.frame and n in LOADER:
            self.loader_lock(p, c)
        if n in SECTION_ENTER and (n != "TryEnterCriticalSection" or value):
            p.held[c.arg(0)] += 1
        elif n in HANDLE_MAKERS or n == "socket":
            p.handles_closed.discard(value)
        elif n == "TlsAlloc":
            p.tls_ours.add(value)
            p.tls_freed.discard(value)
        elif n in ALLOCS:
            if value:
                p.freed.discard(value)
                p.blocks[value] = ("crt" if n in CRT_ALLOC or n == "realloc" else "local"
                                   if n == "LocalAlloc" else c.arg(0))
        elif n in CLOSERS and (value == 0 if n == "CloseHandle" else value != 0):
            self.find(p, c, "handles", "a handle closed that is not open")
        if n.startswith("LoadLibrary") and value and "ws2_32" in c.text.lower():
            p.socket_modules.add(value)

    def find(self, p, c, rule, what):
        offset = c.ret - p.image[0]
        key = (rule, c.name, offset)
        if key not in self.findings:
            args = ",".join(c.args)
            self.findings[key] = (f"{rule}: {c.name}({args}) from {self.dll}+0x{offset:x}"
                                  f"{self.where(p.image[2], offset)}: {what}")

    # ---- the DLL's file -----------------------------------------------------

    def unix_path(self, path):
        path = path.replace("\\\\", "\\")
        drive = os.path.join(self.prefix, "dosdevices", path[:2].lower())
        return os.path.join(os.path.realpath(drive), *path[3:].split("\\"))

    def image_size(self, path):
        if path not in self.sizes:
            with open(self.unix_path(path), "rb") as f:
                head = f.read(4096)
            pe = struct.unpack_from("<I", head, 0x3C)[0]
            self.sizes[path] = struct.unpack_from("<I", head, pe + 24 + 56)[0]  # SizeOfImage
        return self.sizes[path]

    def where(self, path, offset):
        if not self.addr2line:
            return ""
        try:
            with open(self.unix_path(path), "rb") as f:
                head = f.read(4096)
            pe = struct.unpack_from("<I", head, 0x3C)[0]
            image_base = struct.unpack_from("<I", head, pe + 24 + 28)[0]
            out = subprocess.run([self.addr2line, "-f", "-C", "-e", self.unix_path(path),
                                  hex(image_base + offset - 1)],
                                 capture_output=True, text=True, check=True).stdout.split("\n")
            return f" ({out[0]}, {os.path.basename(out[1])})"
        except (OSError, subprocess.CalledProcessError, IndexError):
            return ""


def prepare(prefix, also_from):
    """Sets the prefix's relay lists: only the DLL's calls, only these."""
    include = ";".join(sorted(RELAYED | {"Rtl" + n for n in RELAYED}))
    relayed_from = ";".join([RELAYED_FROM] + also_from)
    try:
        with open(os.path.join(prefix, "user.reg"), encoding="latin-1") as f:
            text = f.read()
            if (f'"RelayInclude"="{include}"' in text
                    and f'"RelayFromInclude"="{relayed_from}"' in text):
                return
    except OSError:
        pass
    reg = os.path.join(prefix, "sv-verifier.reg")
    with open(reg, "w") as f:
        f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"
                f'"RelayInclude"="{include}"\n"RelayExclude"=""\n'
                f'"RelayFromInclude"="{relayed_from}"\n"RelayFromExclude"=-\n')
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    quiet = {"env": env, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    running = subprocess.run(["wineserver", "-k0"], **quiet).returncode == 0
    subprocess.run(["wine", "reg", "import", "Z:" + reg.replace("/", "\\")], check=True, **quiet)
    if not running:
        # The server this started writes the registry out and ends, and with
        # it the desktop it made without the test's display.
        subprocess.run(["wineserver", "-w"], **quiet)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--dll", default="UDPSV2Simulink.dll")
    ap.add_argument("--addr2line")
    ap.add_argument("--expect")
    ap.add_argument("--also-from", action="append", default=[])
    ap.add_argument("command", nargs="+")
    opts = ap.parse_args()
    prefix = os.path.abspath(opts.prefix)
    subprocess.run([os.path.join(os.path.dirname(__file__), "../../../scripts/wine-prefix.sh"),
                    "init", prefix], check=True)
    prepare(prefix, opts.also_from)
    verifier = Verifier(opts.dll, prefix, opts.addr2line)
    env = dict(os.environ, WINEDEBUG="-all,+pid,+relay,+loaddll", SV_VERIFIER="1")
    child = subprocess.Popen(opts.command, env=env, stderr=subprocess.PIPE)
    trace = os.environ.get("SV_VERIFIER_TRACE")
    keep = open(trace, "wb") if trace else None
    for raw in child.stderr:
        if keep:
            keep.write(raw)
        if not verifier.line(raw):
            sys.stderr.buffer.write(raw)
    rc = child.wait()
    sys.stderr.flush()
    for text in verifier.findings.values():
        print(f"verifier: {text}", flush=True)
    rules = {rule for rule, _, _ in verifier.findings}
    if not verifier.seen:
        print(f"verifier: {opts.dll} was never loaded, so nothing was checked", flush=True)
        return 1
    if opts.expect:
        return 0 if rules == {opts.expect} else 1
    return rc or (1 if rules else 0)


if __name__ == "__main__":
    sys.exit(main())
