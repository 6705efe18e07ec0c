#!/usr/bin/env python3
"""The tools package installed as a user installs it, on this machine, with
apt; for the package stage of scripts/test-all.sh (root, apt, a network
path to Debian's archive).

  installed_tools_test.py --deb dist/udpsv-tools_<version>_<arch>.deb

1. libjs-dygraphs is removed first, so that only the package's Depends can
   bring it back; `apt-get install ./<deb>` must then install it.
2. As a user would, in an empty folder and without naming the plug-in:
   svhost new, svhost show --receiver all, and svhost run to udpsv-recv with
   its live plot open in headless Chromium, which must plot every frame.
   These run under strace: every file they open that a package owns must
   come from udpsv-tools or from what its Depends bring, so that the
   package works on a machine that never built the project.
3. `apt-get remove udpsv-tools` leaves none of its files or folders.
Whatever happens, the machine is put back as it was: udpsv-tools removed,
libjs-dygraphs installed (and marked manual) exactly when it was before.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "clients"))
import harness  # noqa: E402
import live_plot_test  # noqa: E402

PACKAGE = "udpsv-tools"
DYGRAPHS = "libjs-dygraphs"
# dpkg's lock is shared with every other apt user of the machine.
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=600"]
APT_ENV = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
failures = harness.Failures("installed tools package")


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def installed(package):
    r = run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}", package])
    return r.returncode == 0 and r.stdout.startswith("ii")


def apt(*args):
    r = run(APT + list(args), env=APT_ENV)
    if r.returncode != 0 and "install" in args and re.search(r"Unable to fetch|404|Failed to fetch",
                                                             r.stdout + r.stderr):
        # Package lists older than the archive: refresh them once.
        run(APT + ["update"], env=APT_ENV)
        r = run(APT + list(args), env=APT_ENV)
    return r


def depends_closure(package):
    """The package and every package its Depends and Pre-Depends bring in,
    as installed here (alternatives: the installed one)."""
    seen, todo = set(), [package]
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        r = run(["dpkg-query", "-W", "-f=${Depends}, ${Pre-Depends}", name])
        for clause in r.stdout.split(","):
            for alternative in clause.split("|"):
                dep = re.split(r"[\s(:]", alternative.strip())[0]
                if dep and installed(dep):
                    todo.append(dep)
                    break
    return seen


def owner(path):
    """The package that owns `path` (either /usr spelling), or None."""
    real = os.path.realpath(path)
    for candidate in {path, real, real[4:] if real.startswith("/usr/") else "/usr" + real}:
        r = run(["dpkg-query", "-S", candidate])
        if r.returncode == 0:
            return r.stdout.split(":")[0].split(",")[0].strip()
    return None


def opened_files(trace_dir):
    """Every file a traced process opened successfully."""
    out = set()
    for name in os.listdir(trace_dir):
        with open(os.path.join(trace_dir, name)) as f:
            for line in f:
                m = re.search(r'open(?:at)?\((?:AT_FDCWD, )?"([^"]+)".*\) = \d+', line)
                if m and not m.group(1).startswith(("/proc", "/sys", "/dev", "/tmp")):
                    out.add(m.group(1))
    return out


def traced(trace_dir, name, args):
    return ["strace", "-f", "-qq", "-e", "trace=open,openat", "-o", os.path.join(trace_dir, name)] + args


def use_as_a_user(work, trace_dir, chromium):
    """svhost and udpsv-recv from PATH, in an empty folder, no plug-in named."""
    env = {k: v for k, v in os.environ.items() if k not in ("SVHOST_PLUGIN", "LD_LIBRARY_PATH")}
    model = os.path.join(work, "my.model")
    port = harness.free_udp_port()
    r = run(traced(trace_dir, "new", ["svhost", "new", model, "--host", "127.0.0.1", "--port", str(port),
                                      "--inputs", "3"]), cwd=work, env=env)
    used = re.search(r" of (\S+)$", r.stdout.strip())
    failures.check(r.returncode == 0 and used and
                   os.path.realpath(used.group(1)) == "/usr/lib/udpsv2simulink/UDPSV2Simulink.so",
                   "svhost new without --plugin: %s%s" % (r.stdout, r.stderr))
    r = run(traced(trace_dir, "show", ["svhost", "show", model, "--receiver", "all"]), cwd=work, env=env)
    failures.check(r.returncode == 0 and "UDP Receive" in r.stdout and "import socket" in r.stdout
                   and "udpport" in r.stdout, "svhost show --receiver all: %s%s" % (r.stdout[:300], r.stderr))

    files = {k: os.path.join(work, k) for k in ("http.port", "frames.csv", "recv.err")}
    recv = subprocess.Popen(
        traced(trace_dir, "recv", ["udpsv-recv", "--port", str(port), "--type", "double", "--inputs", "3",
                                   "--http", "127.0.0.1:0", "--http-port-file", files["http.port"],
                                   "--csv", files["frames.csv"], "--quiet"]),
        cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=open(files["recv.err"], "w"))
    browser = None
    try:
        if not failures.check(harness.wait_for(lambda: os.path.exists(files["http.port"]), harness.DEADLINE),
                              "udpsv-recv --http did not start: " + open(files["recv.err"]).read()):
            return
        url = "http://127.0.0.1:%s/" % open(files["http.port"]).read().strip()
        browser = live_plot_test.Browser(chromium, tempfile.mkdtemp(prefix="chromium-", dir=work))
        tab = browser.open(url)
        tab.wait(failures, "the live plot loads the chart library and gets events",
                 "typeof Dygraph === 'function' && window.udpsv && udpsv.batches > 0")
        # Frames one bucket apart, so that each is a point of its own.
        r = run(traced(trace_dir, "run", ["svhost", "run", model, "--steps", "20", "--period", "0.05",
                                          "--quiet"]), cwd=work, env=env)
        failures.check(r.returncode == 0 and "frames sent:  21" in r.stdout,
                       "svhost run without the plug-in named: %s%s" % (r.stdout, r.stderr))
        tab.wait(failures, "the live plot shows all 21 frames",
                 "udpsv.chart && udpsv.rows.length === 21 && udpsv.chart.numRows() === 21")
    finally:
        if browser:
            browser.close()
        # The receiver itself, traced by the strace started here, which then ends too.
        children = "/proc/%d/task/%d/children" % (recv.pid, recv.pid)
        pids = open(children).read().split() if os.path.exists(children) else []
        for pid in pids:
            os.kill(int(pid), signal.SIGTERM)
        try:
            recv.wait(harness.DEADLINE)
        except subprocess.TimeoutExpired:
            recv.kill()
            recv.wait()
            failures.check(False, "udpsv-recv did not end on SIGTERM")


def needed(path):
    """Files a program cannot do without: code (shared objects, the plug-in
    and what it loads) and data below /usr/share. Configuration files that a
    library reads when present (such as OpenSSL's) are left out."""
    return re.search(r"\.so(\.[\d.]+)?$", path) or path.startswith("/usr/share/")


def check_loaded_files(trace_dir):
    allowed = depends_closure(PACKAGE)
    lines = run(["dpkg-query", "-W", "-f=${Package} ${Essential}\n"]).stdout.splitlines()
    essential = {line.split()[0] for line in lines if line.endswith(" yes")}
    opened = opened_files(trace_dir)
    failures.check(any(p.endswith("dygraph.min.js") for p in opened), "udpsv-recv read no dygraph.min.js")
    for path in sorted(p for p in opened if needed(p)):
        package = owner(path)
        failures.check(not package or package in allowed or package in essential,
                       "%s was loaded from %s, which the package's Depends do not bring" % (path, package))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--deb", required=True)
    a = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit("FAIL: installing a package needs root")
    for tool in ("apt-get", "dpkg-query", "strace"):
        harness.need(tool, tool)
    chromium = harness.need("chromium", "chromium")
    deb = os.path.abspath(a.deb)
    listing = run(["dpkg-deb", "-c", deb]).stdout
    files = [line.split()[-1].lstrip(".") for line in listing.splitlines()]
    ours = [f.rstrip("/") for f in files if f.startswith(("/usr/lib/udpsv2simulink", "/usr/share/udpsv2simulink",
                                                         "/usr/share/doc/" + PACKAGE))
            or not f.endswith("/")]

    had_dygraphs = installed(DYGRAPHS)
    dygraphs_manual = DYGRAPHS in run(["apt-mark", "showmanual"]).stdout.split()
    if installed(PACKAGE):
        print("note: %s was installed before the test; it is removed at the end" % PACKAGE)
    try:
        if had_dygraphs:
            r = apt("remove", DYGRAPHS)
            if not failures.check(r.returncode == 0 and not installed(DYGRAPHS),
                                  "cannot remove %s first: %s" % (DYGRAPHS, r.stdout[-500:] + r.stderr)):
                return failures.finish()
        r = apt("install", deb)
        if not failures.check(r.returncode == 0 and installed(PACKAGE),
                              "apt-get install ./%s: %s" % (os.path.basename(deb), r.stdout[-800:] + r.stderr)):
            return failures.finish()
        failures.check(installed(DYGRAPHS), "installing %s did not bring %s" % (PACKAGE, DYGRAPHS))
        for path in ours:
            failures.check(os.path.lexists(path), "installed, yet %s is missing" % path)

        with tempfile.TemporaryDirectory() as work:
            trace_dir, user_dir = os.path.join(work, "trace"), os.path.join(work, "user")
            os.makedirs(trace_dir)
            os.makedirs(user_dir)
            use_as_a_user(user_dir, trace_dir, chromium)
            check_loaded_files(trace_dir)

        r = apt("remove", PACKAGE)
        failures.check(r.returncode == 0 and not installed(PACKAGE), "apt-get remove: " + r.stdout[-500:] + r.stderr)
        left = [p for p in ours if os.path.lexists(p)]
        failures.check(not left, "left after apt-get remove: %s" % left)
        status = run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}", PACKAGE]).stdout.strip()
        failures.check(status in ("", "un"), "dpkg still knows %s as %r" % (PACKAGE, status))
    finally:
        # Back as it was, whatever failed above.
        if installed(PACKAGE):
            apt("remove", PACKAGE)
        if had_dygraphs and not installed(DYGRAPHS):
            apt("install", DYGRAPHS)
        if not had_dygraphs and installed(DYGRAPHS):
            apt("remove", DYGRAPHS)
        if had_dygraphs:
            run(["apt-mark", "manual" if dygraphs_manual else "auto", DYGRAPHS])
        failures.check(installed(DYGRAPHS) == had_dygraphs,
                       "%s could not be put back as it was (installed: %s)" % (DYGRAPHS, had_dygraphs))
    failures.finish()


if __name__ == "__main__":
    main()
