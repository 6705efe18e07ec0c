#!/usr/bin/env python3
"""The user guide against the product.

  check_guide.py --guide GUIDE --source-dir DIR --version V --svhost SVHOST
                 --plugin PLUGIN --recv UDPSV_RECV --selftest UDPSV_SELFTEST --packages DIR

1. Every text the block can show a user stands in the guide: each u"..."
   literal of the plug-in's sources (messages, dialog texts, setting names),
   cut at its placeholders and line breaks. A text added to the code without
   a word in the guide fails here.
2. The version is filled in, and the main text (before the appendix for
   support staff) speaks the users' words, not the code's.
3. The receivers the guide prints, and those of docs/receivers/ and the
   README, are what svhost generates (generated_docs.py writes them anew).
4. The guide's Python script, and its MATLAB script under GNU Octave, decode
   frames that svhost sends through the plug-in, for every data type, and
   report a datagram of the wrong length.
5. Every svhost, udpsv-recv and udpsv-selftest option the guide names
   exists (the Windows programs take the options of the native builds), every path
   below /usr it names is in the tools package, and every Simulink parameter
   it names is one of the generated settings.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tools", "clients"))
import generated_docs  # noqa: E402
import harness  # noqa: E402
import recipe_test  # noqa: E402

# Folders that are not the plug-in: programs around it, tests, build files.
NOT_PLUGIN = {"tests", "host", "receiving", "tools", "bench", "fuzz", "build", "docs", "scripts", "cmake", "dist"}
# Literals that never reach a user: a window class, the native settings
# file's syntax, the dialog font.
NOT_SHOWN = {"msctls_updown32", "hex:", "hex(", "dword:", "Windows Registry Editor Version 5.00",
             "MS Sans Serif"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def normalized(text):
    return re.sub(r"\s+", " ", text).strip()


def u16_literals(code):
    """The u"..." literals of C++ source, outside comments."""
    out = []
    i, n = 0, len(code)
    while i < n:
        if code.startswith("//", i):
            i = code.find("\n", i)
            i = n if i < 0 else i
        elif code.startswith("/*", i):
            i = code.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif code[i] in "\"'":
            prefix_u = code[i] == '"' and i > 0 and code[i - 1] == "u" and (i < 2 or not code[i - 2].isalnum())
            quote, j, body = code[i], i + 1, []
            while j < n and code[j] != quote:
                if code[j] == "\\":
                    body.append(code[j:j + 2])
                    j += 2
                else:
                    body.append(code[j])
                    j += 1
            if prefix_u:
                out.append("".join(body))
            i = j + 1
        else:
            i += 1
    return out


def fragments(literal):
    """The pieces of a literal a reader sees: cut at escapes and placeholders."""
    pieces = re.split(r"\\[rnt]|%-?\d*(?:\.\d+)?[sd]", literal)
    result = []
    for piece in pieces:
        piece = piece.replace("\\\\", "\\").replace('\\"', '"').strip()
        if len(re.findall(r"[^\W\d_]", piece)) >= 2:
            result.append(piece)
    return result


def shown_texts(source_dir):
    texts = set()
    for top in sorted(os.listdir(source_dir)):
        path = os.path.join(source_dir, top)
        if top.startswith(".") or top in NOT_PLUGIN or not os.path.isdir(path):
            continue
        for folder, _, files in os.walk(path):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    with open(os.path.join(folder, name), encoding="utf-8") as f:
                        for literal in u16_literals(f.read()):
                            texts.update(p for p in fragments(literal) if p not in NOT_SHOWN)
    return texts


# Words of the code, not of users; the appendix for support staff may use them.
NOT_USERS_WORDS = ("section", "dispose", "x87", "0x1332", "control word", "text id")
APPENDIX = "\nAppendix A. For support staff"


def main_text(guide):
    return guide[:guide.find(APPENDIX)] if APPENDIX in guide else guide


def outside_generated(guide):
    """The guide without the blocks that generated_docs.py keeps."""
    for name in generated_docs.IN_GUIDE:
        block = generated_docs.guide_block(guide, name)
        if block:
            guide = guide.replace(block, "")
    return guide


class GuideScripts(harness.Host):
    """svhost with the plug-in, whose receiver for a model is the guide's
    script made to listen where the test sends: 127.0.0.1 and the model's
    ephemeral port, type and count. Every change must hit exactly once, so
    that a guide whose script changed shape fails here rather than being
    run half adapted."""

    def __init__(self, svhost, plugin, workdir, python_script, matlab_script):
        super().__init__(svhost, plugin, workdir)
        self.python_script, self.matlab_script = python_script, matlab_script
        self.models = {}

    def model(self, name, port, type_name, inputs):
        path = super().model(name, port, type_name, inputs)
        self.models[path] = (port, type_name, inputs)
        return path

    @staticmethod
    def _once(script, old, new, failures):
        if not failures.check(script.count(old) == 1, "the guide's script holds %r %d times, "
                              "want once" % (old, script.count(old))):
            return script
        return script.replace(old, new)

    def recipe(self, model, kind):
        port, type_name, inputs = self.models[model]
        if kind == "python":
            # The script's own arguments: PORT TYPE COUNT.
            script = self._once(self.python_script, 'LISTEN = ""', 'LISTEN = "127.0.0.1"', self.failures)
            return "import sys\nsys.argv[1:] = [%r, %r, %r]\n" % (str(port), type_name, str(inputs)) + script
        script = self.matlab_script
        for old, new in (('u = udpport("LocalPort", PORT);', 'u = udpport("LocalHost", "127.0.0.1", "LocalPort", PORT);'),
                         ("PORT = 1600;", "PORT = %d;" % port),
                         ('TYPE = "double";', 'TYPE = "%s";' % type_name),
                         ("COUNT = 1;", "COUNT = %d;" % inputs)):
            script = self._once(script, old, new, self.failures)
        return "pkg load instrument-control\n" + script


def named_options(guide, program, command=None):
    """The --options on the guide's lines that run `program` (and `command`)."""
    pattern = re.escape(program) + (r"\s+" + command + r"\b" if command else r"\b")
    out = set()
    for line in guide.splitlines():
        m = re.search(pattern, line)
        if m:
            out.update(re.findall(r"(?<![\w-])--[a-z][a-z-]*", line[m.end():]))
    return out


def help_text(args):
    r = subprocess.run(args, capture_output=True, text=True)
    return r.stdout + r.stderr


def check_names(guide, a, simulink_recipe):
    # svhost and udpsv-recv options, per command.
    for command in ("new", "run", "show", "info", "dialog"):
        known = help_text([a.svhost, command, "--help"])
        for option in named_options(guide, "svhost", command):
            check(option in known, "the guide names svhost %s %s, which svhost lacks" % (command, option))
    for program, path in (("udpsv-recv", a.recv), ("udpsv-selftest", a.selftest)):
        known = help_text([path, "--help"])
        for option in named_options(guide, program):
            check(option in known, "the guide names %s %s, which it lacks" % (program, option))

    # Paths below /usr: files or folders of the tools package.
    debs = glob.glob(os.path.join(a.packages, "*.deb"))
    if check(len(debs) == 1, "no single .deb in %s: %s" % (a.packages, debs)):
        listing = subprocess.run(["dpkg-deb", "-c", debs[0]], capture_output=True, text=True).stdout
        packaged = {line.split()[-1].lstrip(".").rstrip("/") for line in listing.splitlines()}
        named = set(re.findall(r"(/usr/[\w./-]*\w/?)", outside_generated(guide)))
        check(len(named) >= 5, "the guide names only %s below /usr" % sorted(named))
        for path in sorted(named):
            check(path.rstrip("/") in packaged, "the guide names %s, which the package lacks" % path)

    # Simulink parameters: what the guide's prose quotes as one must be a
    # setting of the generated recipe, by that name.
    settings = set(re.findall(r"^  (\S.*?\S)\s{2,}\S", simulink_recipe, re.M))
    check({"Local IP port", "Maximum length for Message", "Data size", "Data type"} <= settings,
          "generated Simulink settings: %s" % sorted(settings))
    prose = outside_generated(guide)
    chapter = re.search(r"^\d+\. Receiving in Simulink\n-+\n(.*?)^\d+\. ", prose, re.M | re.S)
    parameter_like = re.compile(r"Message|Data size|Data type|IP port|IP address|Local port|Remote "
                                r"|variable-size|blocking|[Ss]ample time|Byte order|Timeout")
    for at, quoted in ((m.start(), m.group(1)) for m in re.finditer(r'"([^"\n]+)"', prose)):
        in_chapter = chapter and chapter.start(1) <= at < chapter.end(1)
        command = quoted.startswith("svhost ")
        if not command and (parameter_like.search(quoted) or (in_chapter and quoted != "UDP Receive")):
            check(quoted in settings, "the guide names the Simulink parameter %r, which the "
                  "generated settings lack" % quoted)


def main():
    p = argparse.ArgumentParser()
    for name in ("guide", "source-dir", "version", "svhost", "plugin", "recv", "selftest", "packages"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()
    with open(a.guide, encoding="utf-8") as f:
        guide = f.read()
    flat = normalized(guide)

    # 1. Every text the block can show.
    texts = shown_texts(a.source_dir)
    check(len(texts) >= 100, "only %d texts found in the sources: is the scan broken?" % len(texts))
    missing = sorted(t for t in texts if normalized(t) not in flat)
    for t in missing:
        failures.append("not in the guide: %r" % t)
    print("%d texts of the plug-in, %d missing from the guide" % (len(texts), len(missing)))

    # 2. The version; the users' words.
    check(a.version in guide and a.version.replace(".", "") in guide, "guide lacks the version")
    check("@" not in guide, "guide has an unfilled @VARIABLE@")
    check(APPENDIX in guide, "guide has no appendix for support staff")
    users = outside_generated(main_text(guide))
    for word in NOT_USERS_WORDS:
        for m in re.finditer(re.escape(word), users, re.I):
            failures.append("the guide's main text says %r: ...%s..."
                            % (word, users[max(0, m.start() - 30):m.end() + 30].replace("\n", " ")))

    with tempfile.TemporaryDirectory() as work:
        # 3. The generated receivers, everywhere they are kept.
        generator = generated_docs.Generator(a.svhost, a.plugin, work)
        for what, _ in generated_docs.differences(a.source_dir, generator):
            failures.append("%s differs from what svhost generates; run tests/package/generated_docs.py"
                            % what)
        python_script = generated_docs.guide_block(guide, "udpsv_receive.py") or ""
        matlab_script = generated_docs.guide_block(guide, "udpsv_receive.m") or ""
        simulink_recipe = generated_docs.guide_block(guide, "simulink.txt") or ""
        check('"boolean": "B"' in python_script, "the guide's Python script does not read boolean as B")

        # 4. The guide's scripts against real frames.
        host = GuideScripts(a.svhost, a.plugin, os.path.join(work, "clients"), python_script, matlab_script)
        host.failures = harness.Failures("the guide's receivers")
        for client, script in (("python", python_script), ("octave", matlab_script)):
            if not check(script, "the guide prints no %s script to run" % client):
                continue
            for type_name in ("double", "single", "int32", "boolean"):
                recipe_test.check_type(client, host, type_name, host.failures)
        failures.extend(host.failures.items)

    # 5. Options, paths and Simulink parameters the guide names.
    check_names(guide, a, simulink_recipe)
    return report()


def report():
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
