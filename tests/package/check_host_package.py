#!/usr/bin/env python3
"""The host packages as they are shipped.

  check_host_package.py --packages DIR --version V --unstripped DLL
                        --objdump OBJDUMP --objcopy OBJCOPY --addr2line ADDR2LINE
                        --budget BYTES --zip-budget BYTES --dygraphs DIR --dygraphs-licence FILE

Checks the listing of both ZIP files, SHA256SUMS, the size budgets of the
stripped DLL and of the host ZIP, that the two programs are stripped,
import nothing but Windows' own DLLs (no runtime DLL of the toolchain) and
carry their manifest (asInvoker) and version,
that the chart library is Debian's with its licence, that stripping left
the DLL's export and import tables as they were, that the DLL names its debug file with the right checksum, that the
debug file turns an address of the stripped DLL's code into a function and
a source line, that the texts carry the version in Windows form, that the
receivers are the tree's (docs/receivers/, which check_guide.py keeps equal
to what svhost generates) with CR LF line ends, and that the guide names
every file of the ZIP.
"""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "clients"))
import harness  # noqa: E402

failures = harness.Failures("host package")
check = failures.check


def signed(pe):
    """Whether a 32-bit PE file carries a certificate table (Authenticode)."""
    at = int.from_bytes(pe[0x3C:0x40], "little") + 24 + 128  # optional header, directory 4
    return int.from_bytes(pe[at + 4:at + 8], "little") != 0


def objdump_tables(objdump, path):
    """Export names with ordinals, and imports per DLL with hint and name."""
    text = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    exports, imports, image_base = [], [], None
    section, dll = None, None
    for line in text.splitlines():
        m = re.match(r"ImageBase\s+([0-9a-fA-F]+)", line)
        if m:
            image_base = int(m.group(1), 16)
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if line.startswith("The Import Tables"):
            section = "imports"
            continue
        if section == "names":
            # "[n] <name>", or from binutils 2.44 "[n] +base[<ordinal>] <hint> <name>"
            m = re.match(r"\s+\[\s*(\d+)\] (?:\+base\[\s*\d+\]\s+[0-9a-fA-F]+ )?(\S+)$", line)
            if m:
                exports.append((int(m.group(1)), m.group(2)))
            elif line.strip() == "" and exports:
                section = None
        elif section == "imports":
            m = re.match(r"\s+DLL Name: (\S+)", line)
            if m:
                dll = m.group(1).upper()
                continue
            # "<address> <hint> <name>" before binutils 2.44, then
            # "<address> <ordinal> <hint> <name>" ("<none>" where one lacks).
            m = (re.match(r"\s+[0-9a-fA-F]+\t\s+(\d+)\s+(\S+)$", line) or
                 re.match(r"\s+[0-9a-fA-F]+\s+(?:<none>|\d+)\s+(<none>|[0-9a-fA-F]+)\s+(\S+)$", line))
            if m and dll:
                imports.append((dll, m.group(1), m.group(2)))
            if line.startswith("The Export Tables") or line.startswith("There is an export table"):
                section = None
    # Export addresses: the "[n] +base[ordinal] address Export RVA" lines of
    # the Export Address Table, keyed by n, the index the name table gives.
    addresses = {}
    in_eat = False
    for line in text.splitlines():
        if line.startswith("Export Address Table"):
            in_eat = True
            continue
        if in_eat:
            m = re.match(r"\s+\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+([0-9a-fA-F]+) Export RVA", line)
            if m:
                addresses[int(m.group(1))] = int(m.group(3), 16)
            elif line.strip() == "":
                in_eat = False
    return sorted(exports), sorted(imports), image_base, addresses


def main():
    p = argparse.ArgumentParser()
    for name in ("packages", "version", "unstripped", "objdump", "objcopy", "addr2line"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--budget", type=int, required=True)
    p.add_argument("--zip-budget", type=int, required=True)
    p.add_argument("--dygraphs", required=True, help="the folder of dygraph.min.js")
    p.add_argument("--dygraphs-licence", required=True)
    p.add_argument("--receivers", required=True, help="docs/receivers of the tree")
    a = p.parse_args()

    folder = "UDPSV2Simulink-%s-win32" % a.version
    host_zip = os.path.join(a.packages, folder + ".zip")
    symbols_zip = os.path.join(a.packages, folder + "-symbols.zip")

    # What the folder holds, and nothing else of an earlier build.
    check(sorted(os.listdir(a.packages)) ==
          sorted([folder + ".zip", folder + "-symbols.zip", "SHA256SUMS"]),
          "packages folder holds %s" % sorted(os.listdir(a.packages)))

    # Listings: one folder, named as the host ZIP, in both archives, so that
    # the symbols unpack beside the DLL.
    receivers = ("udpsv_receive.py", "udpsv_receive.m")
    programs = ("udpsv-recv.exe", "udpsv-selftest.exe")
    chart = ("dygraphs/dygraph.min.js", "dygraphs/dygraph.min.css", "dygraphs/LICENSE.txt")
    texts = ("README.txt", "user-guide.txt", "support-notes.txt", "CHANGES.txt")
    shipped = ("UDPSV2Simulink.dll",) + texts + receivers + programs + chart
    with zipfile.ZipFile(host_zip) as z:
        names = sorted(n for n in z.namelist() if not n.endswith("/"))
        check(names == sorted(folder + "/" + n for n in shipped), "host ZIP lists %s" % names)
        check(z.testzip() is None, "host ZIP has a damaged member")
        dll = z.read(folder + "/UDPSV2Simulink.dll")
        docs = {n: z.read(folder + "/" + n) for n in texts if folder + "/" + n in z.namelist()}
        scripts = {n: z.read(folder + "/" + n) for n in receivers if folder + "/" + n in z.namelist()}
        tools = {n: z.read(folder + "/" + n) for n in programs + chart if folder + "/" + n in z.namelist()}
    with zipfile.ZipFile(symbols_zip) as z:
        names = sorted(n for n in z.namelist() if not n.endswith("/"))
        check(names == sorted(folder + "/" + n for n in ("UDPSV2Simulink.dll.debug", "SYMBOLS.txt")),
              "symbols ZIP lists %s" % names)
        check(z.testzip() is None, "symbols ZIP has a damaged member")
        debug = z.read(folder + "/UDPSV2Simulink.dll.debug")

    # SHA256SUMS: one line per ZIP, in the form sha256sum -c reads.
    with open(os.path.join(a.packages, "SHA256SUMS")) as f:
        lines = f.read().splitlines()
    listed = {}
    for line in lines:
        m = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line)
        if check(m, "SHA256SUMS line not in sha256sum form: %r" % line):
            listed[m.group(2)] = m.group(1)
    check(sorted(listed) == sorted([folder + ".zip", folder + "-symbols.zip"]),
          "SHA256SUMS lists %s" % sorted(listed))
    for name, digest in listed.items():
        with open(os.path.join(a.packages, name), "rb") as f:
            check(hashlib.sha256(f.read()).hexdigest() == digest, "checksum of %s differs" % name)
    r = subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=a.packages,
                       capture_output=True, text=True)
    check(r.returncode == 0, "sha256sum -c: " + r.stdout + r.stderr)

    # The budget, and the debug information really gone from the DLL.
    print("stripped DLL: %d bytes (budget %d), unstripped %d, debug file %d"
          % (len(dll), a.budget, os.path.getsize(a.unstripped), len(debug)))
    check(len(dll) <= a.budget, "stripped DLL has %d bytes, budget %d" % (len(dll), a.budget))
    zip_size = os.path.getsize(host_zip)
    print("host ZIP: %d bytes (budget %d)" % (zip_size, a.zip_budget))
    check(zip_size <= a.zip_budget, "host ZIP has %d bytes, budget %d" % (zip_size, a.zip_budget))

    with tempfile.TemporaryDirectory() as tmp:
        stripped = os.path.join(tmp, "UDPSV2Simulink.dll")
        debug_path = os.path.join(tmp, "UDPSV2Simulink.dll.debug")
        with open(stripped, "wb") as f:
            f.write(dll)
        with open(debug_path, "wb") as f:
            f.write(debug)

        sections = subprocess.run([a.objdump, "-h", stripped], check=True, capture_output=True,
                                  text=True).stdout
        check(".debug_" not in sections, "stripped DLL still has debug sections")

        # Stripping must not touch what a host and the loader see.
        s_exports, s_imports, s_base, s_addr = objdump_tables(a.objdump, stripped)
        u_exports, u_imports, u_base, u_addr = objdump_tables(a.objdump, a.unstripped)
        check(len(s_exports) == 15, "stripped DLL exports %d names: %s" % (len(s_exports), s_exports))
        check(s_exports == u_exports, "export tables differ:\n  %s\n  %s" % (s_exports, u_exports))
        check(s_addr == u_addr, "export addresses differ")
        check(len(s_imports) > 0, "no imports read from the stripped DLL")
        check(s_imports == u_imports, "import tables differ:\n  %s\n  %s" % (s_imports, u_imports))
        check(s_base == u_base, "image bases differ")

        # The link to the debug file: its name, then its CRC-32.
        link = os.path.join(tmp, "link")
        subprocess.run([a.objcopy, "--dump-section", ".gnu_debuglink=" + link, stripped, os.path.join(tmp, "x")],
                       check=True, capture_output=True)
        with open(link, "rb") as f:
            raw = f.read()
        name = raw.split(b"\0", 1)[0].decode()
        crc = int.from_bytes(raw[-4:], "little")
        check(name == "UDPSV2Simulink.dll.debug", "debug link names %r" % name)
        check(crc == zlib.crc32(debug), "debug link checksum %08x, debug file %08x" % (crc, zlib.crc32(debug)))

        # A crash address in an export of the shipped DLL reads back as that
        # function in the plug-in's source.
        ordinals = {n: o for o, n in s_exports}
        rva = s_addr.get(ordinals.get("SimulateDLL2"))
        if check(rva is not None and s_base is not None, "no address of SimulateDLL2"):
            out = subprocess.run([a.addr2line, "-f", "-e", debug_path, hex(s_base + rva)], check=True,
                                 capture_output=True, text=True).stdout.splitlines()
            check(len(out) == 2 and "SimulateDLL2" in out[0] and re.search(r"UDPSV2Simulink\.cpp:\d+$", out[1]),
                  "addr2line on SimulateDLL2 gives %s" % out)

    # The programs: stripped, and run from the unpacked folder as they are,
    # so they import Windows' own DLLs only; the sockets come at run time.
    windows_dlls = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "VERSION.DLL",
                    "MSVCRT.DLL", "WS2_32.DLL"}
    with tempfile.TemporaryDirectory() as tmp:
        for name in programs:
            if name not in tools:
                continue
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(tools[name])
            sections = subprocess.run([a.objdump, "-h", path], check=True, capture_output=True,
                                      text=True).stdout
            check(".debug_" not in sections, name + " is not stripped")
            dlls = {dll for dll, _, _ in objdump_tables(a.objdump, path)[1]}
            check(dlls and dlls <= windows_dlls, "%s imports %s" % (name, sorted(dlls - windows_dlls)))
            # Its manifest keeps Windows from redirecting its files into a
            # hidden store (UAC file virtualization of programs without one)
            # and asks for no common controls 6; its version resource names
            # the release.
            exe = tools[name]
            check(b'<requestedExecutionLevel level="asInvoker"' in exe,
                  name + " has no manifest with requestedExecutionLevel asInvoker")
            check(b"Microsoft.Windows.Common-Controls" not in exe,
                  name + " asks for the common controls 6")
            check(a.version.encode("utf-16-le") in exe, name + " does not carry version " + a.version)
    # The receiver may use 4 GB on 64-bit Windows: IMAGE_FILE_LARGE_ADDRESS_AWARE in
    # the COFF header's Characteristics, 22 bytes after the "PE\0\0" that 0x3C points to.
    exe = tools.get("udpsv-recv.exe", b"\0" * 64)
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    check(exe[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", exe, pe + 22)[0] & 0x20,
          "udpsv-recv.exe is not large-address-aware")
    for name in chart[:2]:
        with open(os.path.join(a.dygraphs, os.path.basename(name)), "rb") as f:
            check(tools.get(name) == f.read(), name + " is not Debian's " + os.path.basename(name))
    with open(a.dygraphs_licence, "rb") as f:
        check(tools.get(chart[2]) == f.read().replace(b"\n", b"\r\n"),
              chart[2] + " is not dygraphs' copyright file with CR LF")

    # The texts: UTF-8 with a byte order mark and CR LF line ends, the
    # version filled in.
    section_version = a.version.replace(".", "")
    for label, text in docs.items():
        check(text.startswith(b"\xef\xbb\xbf"), label + " has no byte order mark")
        check(b"\n" not in text.replace(b"\r\n", b""), label + " has line ends other than CR LF")
        body = text.decode("utf-8-sig")
        check(a.version in body, label + " does not name version " + a.version)
        check("@" not in body, label + " has an unfilled @VARIABLE@")
    guide = docs.get("user-guide.txt", b"").decode("utf-8-sig").replace("\r\n", "\n")
    check(section_version in guide, "user-guide.txt does not name " + section_version)
    # Where users read what they got, CHANGES.txt says whether it is signed,
    # and what built it.
    said = b"Signed: " if signed(dll) else b"Not signed: "
    check(said in docs.get("CHANGES.txt", b""), "CHANGES.txt does not say %r" % said)
    check(re.search(rb"Built on .+\r\nwith GCC \d+ \(", docs.get("CHANGES.txt", b"")),
          "CHANGES.txt does not say what built the release")

    # The receivers: the tree's, with CR LF for Windows editors and no byte
    # order mark, which an interpreter could take for code.
    for name, text in scripts.items():
        with open(os.path.join(a.receivers, name), "rb") as f:
            tree = f.read()
        check(not text.startswith(b"\xef\xbb\xbf"), name + " starts with a byte order mark")
        check(b"\n" not in text.replace(b"\r\n", b""), name + " has line ends other than CR LF")
        check(text.replace(b"\r\n", b"\n") == tree, name + " differs from docs/receivers/" + name)

    # The guide's list of what the package holds names every file of it.
    listed = re.search(r"^1\. What is in the package\n-+\n(.*?)^\d+\. ", guide, re.M | re.S)
    if check(listed, "user-guide.txt has no chapter 'What is in the package'"):
        # A file in a folder of the package is named with its folder.
        for name in sorted({n.split("/")[0] + "\\" if "/" in n else n for n in shipped}):
            check(re.search(r"^  %s\s" % re.escape(name), listed.group(1), re.M),
                  "user-guide.txt's list of the package lacks " + name)

    failures.finish()


if __name__ == "__main__":
    sys.exit(main())
