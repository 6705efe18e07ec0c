#!/usr/bin/env python3
"""The Linux tools package as users install it.

  check_tools_package.py --packages DIR --version V --source-dir SRC --build-dir BUILD --cmake CMAKE

The .deb's name and fields; its files, which must be exactly those
`cmake --install` puts under a prefix; its Depends, which must name the
package of every library its programs load; lintian, which must report no
error and no warning that the packaging does not explain; the manual pages,
which must name every option of the programs' --help. Then it is unpacked
into a scratch root (dpkg -x), and the programs are run from there:
udpsv-recv --help, and a short run of the packaged plug-in, which svhost
finds by itself, whose frames the packaged receiver decodes.
"""
import argparse
import csv
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "clients"))
import harness  # noqa: E402

failures = harness.Failures("tools package")
check = failures.check

# How long a wait for a condition may take before it fails. A condition met
# ends its wait at once, so this bounds a failure only: generous for a
# loaded machine. The receiver's own time-out is half of it, so that it ends
# first and says why.
DEADLINE = 120


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def files_under(root):
    out = set()
    for folder, _, names in os.walk(root):
        for name in names:
            out.add(os.path.relpath(os.path.join(folder, name), root))
    return out


def expected_files(source_dir):
    """What the package must hold: the programs, the plug-in, the guide, the
    Debian documents, the manual pages and the receiving side's files."""
    doc = "usr/share/doc/udpsv-tools/"
    files = {"usr/bin/svhost", "usr/bin/udpsv-recv", "usr/lib/udpsv2simulink/UDPSV2Simulink.so",
             doc + "README", doc + "user-guide.txt", doc + "support-notes.txt", doc + "CHANGES.txt",
             doc + "copyright", doc + "changelog.gz",
             "usr/share/man/man1/svhost.1.gz", "usr/share/man/man1/udpsv-recv.1.gz",
             "usr/share/udpsv2simulink/wireshark/udpsv.lua"}
    receivers = os.path.join(source_dir, "docs", "receivers")
    files.update("usr/share/udpsv2simulink/recipes/" + name for name in os.listdir(receivers))
    return files


def lintian_findings(deb):
    """lintian's errors and warnings (overridden ones are not reported)."""
    if not shutil.which("lintian"):
        return ["lintian is not installed (scripts/install-deps.sh installs it)"]
    r = run(["lintian", "--fail-on", "none", deb])
    return [line for line in r.stdout.splitlines() if line[:2] in ("E:", "W:")]


def man_page_options(root, name):
    """Every --option a packaged manual page names."""
    with gzip.open(os.path.join(root, "usr/share/man/man1", name + ".1.gz"), "rt") as f:
        text = f.read().replace("\\-", "-")
    return set(re.findall(r"--[a-z][a-z-]*", text))


def help_options(program, args, env):
    out = run([program] + args, env=env).stdout
    return set(re.findall(r"--[a-z][a-z-]*", out))


def elf_files(root):
    for rel in sorted(files_under(root)):
        path = os.path.join(root, rel)
        with open(path, "rb") as f:
            if f.read(4) == b"\x7fELF":
                yield rel, path


def owning_package(library_path):
    """The Debian package of a library file (usrmerge: either spelling;
    Debian 13 also lists the diversions of the old spelling)."""
    candidates = [library_path, os.path.realpath(library_path)]
    for c in list(candidates):
        if c.startswith("/usr/"):
            candidates.append(c[4:])
        else:
            candidates.append("/usr" + c)
    for c in candidates:
        r = run(["dpkg", "-S", c])
        owners = [l for l in r.stdout.splitlines() if not l.startswith("diversion by ")]
        if r.returncode == 0 and owners:
            return owners[0].split(":")[0].strip()
    return None


def main():
    p = argparse.ArgumentParser()
    for name in ("packages", "version", "source-dir", "build-dir", "cmake"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()

    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    deb_name = "udpsv-tools_%s_%s.deb" % (a.version, arch)
    deb = os.path.join(a.packages, deb_name)
    check(sorted(os.listdir(a.packages)) == [deb_name], "packages folder holds %s" % os.listdir(a.packages))

    fields = {}
    for name in ("Package", "Version", "Architecture", "Maintainer", "Description", "Depends"):
        fields[name] = run(["dpkg-deb", "-f", deb, name]).stdout.strip()
    check(fields["Package"] == "udpsv-tools", "Package: %s" % fields["Package"])
    check(fields["Version"] == a.version, "Version: %s" % fields["Version"])
    check(fields["Architecture"] == arch, "Architecture: %s" % fields["Architecture"])
    check(fields["Maintainer"] and fields["Description"], "Maintainer or Description empty")
    depends = {re.split(r"[\s(]", d.strip())[0] for d in fields["Depends"].split(",") if d.strip()}
    print("Depends:", fields["Depends"])
    # What udpsv-recv serves for its live plot, read at run time.
    check("libjs-dygraphs" in depends, "Depends lacks libjs-dygraphs: " + fields["Depends"])
    for finding in lintian_findings(deb):
        check(False, "lintian: " + finding)
    # No maintainer scripts: nothing to run, and `apt-get remove` leaves no
    # trace in dpkg's database (a postrm would keep the package as "rc").
    control = run(["dpkg-deb", "--info", deb]).stdout
    scripts = re.findall(r"^\s+\d+ bytes,\s+\d+ lines\s+\*?\s*(preinst|postinst|prerm|postrm)\b", control, re.M)
    check(not scripts, "the package has maintainer scripts: %s" % scripts)

    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.join(tmp, "root")
        r = run(["dpkg", "-x", deb, root])
        check(r.returncode == 0, "dpkg -x: " + r.stderr)
        packaged = files_under(root)
        want = expected_files(a.source_dir)
        check(packaged == want, "package files differ: extra %s, missing %s"
              % (sorted(packaged - want), sorted(want - packaged)))

        # cmake --install puts the same files under any prefix.
        prefix = os.path.join(tmp, "prefix")
        r = run([a.cmake, "--install", a.build_dir, "--prefix", prefix])
        check(r.returncode == 0, "cmake --install: " + r.stdout + r.stderr)
        installed = {os.path.join("usr", f) for f in files_under(prefix)}
        check(installed == packaged, "cmake --install differs from the package: %s"
              % sorted(installed ^ packaged))

        # Every library a packaged program or the plug-in needs comes from a
        # package that Depends names; nothing points into the build tree.
        for rel, path in elf_files(root):
            dynamic = run(["readelf", "-d", path]).stdout
            check("RPATH" not in dynamic and "RUNPATH" not in dynamic, rel + " has a run path")
            for needed in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic):
                # "name => path", or the loader's own line "path (address)".
                m = re.search(r"^\s*(?:" + re.escape(needed) + r" => )?(/\S*" + re.escape(needed) + r")\s",
                              run(["ldd", path]).stdout, re.M)
                if not check(m, "%s: %s not found by ldd" % (rel, needed)):
                    continue
                package = owning_package(m.group(1))
                check(package in depends, "%s needs %s from %s, which Depends lacks" % (rel, needed, package))

        # The programs, run from the scratch root.
        env = {k: v for k, v in os.environ.items() if k not in ("SVHOST_PLUGIN", "LD_LIBRARY_PATH")}
        recv = os.path.join(root, "usr/bin/udpsv-recv")
        svhost = os.path.join(root, "usr/bin/svhost")
        plugin = os.path.join(root, "usr/lib/udpsv2simulink/UDPSV2Simulink.so")
        r = run([recv, "--help"], env=env)
        check(r.returncode == 0 and "udpsv-recv" in r.stdout, "udpsv-recv --help: %s %s" % (r.returncode, r.stderr))

        # The manual pages name every option the programs know.
        for program, page, args in ((recv, "udpsv-recv", ["--help"]), (svhost, "svhost", ["--help"])):
            missing = help_options(program, args, env) - man_page_options(root, page)
            check(not missing, "man %s lacks %s" % (page, sorted(missing)))

        port_file = os.path.join(tmp, "port")
        table = os.path.join(tmp, "frames.csv")
        steps = 5
        receiver = subprocess.Popen([recv, "--port", "0", "--port-file", port_file, "--type", "int32",
                                     "--inputs", "3", "--count", str(steps + 1), "--expect", str(steps + 1),
                                     "--timeout", str(DEADLINE // 2), "--csv", table, "--quiet"],
                                    env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            deadline = time.monotonic() + DEADLINE
            while not os.path.exists(port_file) and time.monotonic() < deadline and receiver.poll() is None:
                time.sleep(0.05)
            if check(os.path.exists(port_file), "udpsv-recv wrote no port file within %d s (exit status %s)"
                     % (DEADLINE, receiver.poll())):
                with open(port_file) as f:
                    port = f.read().strip()
                model = os.path.join(tmp, "packaged.model")
                # No plug-in named: svhost takes the one its package put
                # beside it, in ../lib/udpsv2simulink/.
                r = run([svhost, "new", model, "--port", port, "--inputs", "3", "--type", "int32"],
                        env=env)
                used = re.search(r" of (\S+)$", r.stdout.strip())
                check(r.returncode == 0 and used and os.path.normpath(used.group(1)) == plugin,
                      "svhost new without --plugin, want %s: %s" % (plugin, r.stdout + r.stderr))
                r = run([svhost, "run", model, "--steps", str(steps), "--quiet",
                         "--signal", "1=const:1", "--signal", "2=const:-2.5", "--signal", "3=const:2147483648"],
                        env=env)
                check(r.returncode == 0, "svhost run: " + r.stdout + r.stderr)
            out, _ = receiver.communicate(timeout=DEADLINE)
        finally:
            if receiver.poll() is None:
                receiver.kill()
                receiver.wait()
        check(receiver.returncode == 0, "udpsv-recv ended with %s: %s" % (receiver.returncode, out))
        if os.path.exists(table):
            with open(table) as f:
                rows = list(csv.reader(f))
            values = [row[3:] for row in rows if row and row[0] != "frame"]
            check(values == [["1", "-2", "-2147483648"]] * (steps + 1), "frames received: %s" % values)

    failures.finish()


if __name__ == "__main__":
    sys.exit(main())
