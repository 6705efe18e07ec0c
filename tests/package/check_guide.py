#!/usr/bin/env python3
"""The users' texts against the product: README.txt (the first steps),
user-guide.txt, support-notes.txt and the tools package's README, as the
build renders them into DOCS.

  check_guide.py --docs DOCS --source-dir DIR --version V --svhost SVHOST
                 --plugin PLUGIN --recv UDPSV_RECV --selftest UDPSV_SELFTEST --packages DIR

1. Every text the block can show a user stands in the guide, the support
   notes or (what only the block built for Linux shows) the tools package's
   README: each u"..." literal of the plug-in's sources (messages, dialog
   texts, setting names), cut at its placeholders and line breaks. A text
   added to the code without a word in them fails here.
2. The version is filled in; README.txt fits on a page; the guide and
   README.txt speak the users' words, not the code's; no text repeats a
   receiving script that the packages ship as a file. No line runs over
   the wrap width but a command set off on its own; a Windows text runs
   the ZIP's programs as .\\NAME, as PowerShell needs; a chapter a text
   points to exists, has the section it quotes, and is about what the
   sentence around the reference speaks of.
3. The Simulink settings the guide prints, and the files of docs/receivers/,
   are what svhost generates (generated_docs.py
   writes them anew; tests/tools/clients/recipe_test.py runs the scripts).
4. Every svhost, udpsv-recv, udpsv-selftest and udpsv_receive.py option the
   texts name exists (the Windows programs take the options of the native
   builds), every path below /usr they name is in the tools package, and
   every Simulink parameter the guide names is one of the generated
   settings.
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
import generated_docs  # noqa: E402
sys.path.insert(0, os.path.join(HERE, "..", "tools", "clients"))
import harness  # noqa: E402

# Folders that are not the plug-in: programs around it, tests, build files.
NOT_PLUGIN = {"tests", "host", "receiving", "tools", "bench", "fuzz", "build", "docs", "scripts", "cmake", "dist"}
# Literals that never reach a user: a window class, the native settings
# file's syntax, the dialog font.
NOT_SHOWN = {"msctls_updown32", "hex:", "hex(", "dword:", "Windows Registry Editor Version 5.00",
             "MS Sans Serif"}

failures = harness.Failures("user guide")
check = failures.check


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


# Words of the code, not of users; the support notes may use them.
NOT_USERS_WORDS = ("section", "dispose", "x87", "0x1332", "control word", "text id")
# The rendered texts, by the name the build gives them.
TEXTS = ("README.txt", "user-guide.txt", "support-notes.txt", "README")
# Lines a screen of a console or an editor shows without scrolling much.
PAGE = 66


# Width of the texts' lines; only a command set off on its own may run over.
WIDTH = 76
# The texts a Windows user reads, in cmd or PowerShell.
WINDOWS_TEXTS = ("README.txt", "user-guide.txt", "support-notes.txt")
# What each chapter of the guide is about: its title holds the first word,
# and a sentence that points to the chapter without naming a section of it
# speaks of one of them.
TOPICS = {
    1: ("package", "sha256", "checksum"),
    2: ("system", "floating-point"),
    3: ("install", "unpack", "folder", "copy", "signed", "registry", "svstring7"),
    4: ("block", "dialog", "field"),
    5: ("timing", "lookup", "wait", "faster", "pace"),
    6: ("network", "address", "firewall", "port"),
    7: ("type", "double", "single", "int32", "digits"),
    8: ("check", "self-test", "receiver", "python"),
    9: ("simulink", "model", "dsp"),
    10: ("matlab", "script"),
    11: ("troubleshooting", "failed", "load", "list", "codes"),
    12: ("message", "error", "text", "fail"),
    13: ("report", "crash", "support"),
}


def chapters_of(guide):
    """Chapter number -> (title, its sections' headings): the lines at the
    margin that stand alone as a paragraph and end in no full stop or colon."""
    heads = list(re.finditer(r"^(\d+)\. (.+)\n-+\n", guide, re.M))
    out = {}
    for i, m in enumerate(heads):
        body = guide[m.end():heads[i + 1].start() if i + 1 < len(heads) else len(guide)]
        paragraphs = [p.strip("\n") for p in re.split(r"\n\s*\n", body)]
        sections = [normalized(p) for p in paragraphs if p and not re.search(r"^\s", p, re.M)
                    and p.count("\n") < 2 and not p.endswith((".", ":"))]
        out[int(m.group(1))] = (m.group(2), sections)
    return out


def check_widths(texts):
    for name, text in texts.items():
        number = 0
        for paragraph in text.split("\n\n"):
            lines = paragraph.split("\n")
            # Commands: a paragraph of its own, every line indented alike.
            indents = {len(l) - len(l.lstrip()) for l in lines if l.strip()}
            commands = len(indents) == 1 and min(indents) >= 4
            for i, line in enumerate(lines):
                check(len(line) <= WIDTH or commands, "%s, line %d runs over %d characters: %r"
                      % (name, number + i + 1, WIDTH, line))
            number += len(lines) + 1


def check_commands(texts):
    for name in WINDOWS_TEXTS:
        for m in re.finditer(r"(?<![\\\w.-])udpsv-(?:recv|selftest)(?:\.exe)?(?= +--?[a-z])", texts[name]):
            check(False, "%s runs %r without .\\, which PowerShell needs: ...%s..."
                  % (name, m.group(0), normalized(texts[name][m.start():m.start() + 40])))


def check_chapter_references(texts):
    chapters = chapters_of(texts["user-guide.txt"])
    check(sorted(chapters) == sorted(TOPICS) and
          all(TOPICS[n][0] in title.lower() for n, (title, _) in chapters.items()),
          "the guide's chapters are no longer those of TOPICS: %s" % chapters)
    for name in WINDOWS_TEXTS:
        text = normalized(texts[name])
        refs = list(re.finditer(r'\bchapter (\d+)(?:, "([^"]+)")?', text, re.I))
        ends = [0] + [x.end() for x in re.finditer(r"[.!?] |- ", text)] + [len(text)]
        for k, m in enumerate(refs):
            n, section = int(m.group(1)), m.group(2)
            where = "%s, chapter %d in ...%s..." % (name, n, text[max(0, m.start() - 60):m.end() + 20])
            if not check(n in chapters, "%s: no such chapter" % where):
                continue
            if section:
                check(any(re.match(re.escape(section) + r"\b", h) for h in chapters[n][1]),
                      "%s: the chapter has no section %r" % (where, section))
                continue
            # The sentence around it, but not beyond the references beside it.
            start = max([e for e in ends if e <= m.start()] + [refs[k - 1].end() if k else 0])
            stop = min([e for e in ends if e > m.end()] +
                       [refs[k + 1].start() if k + 1 < len(refs) else len(text)])
            sentence = text[start:stop].lower()
            check(any(word in sentence for word in TOPICS[n]),
                  "%s: the sentence speaks of nothing that chapter is about (%s)"
                  % (where, ", ".join(TOPICS[n])))


def outside_generated(guide):
    """The guide without the blocks that generated_docs.py keeps."""
    for name in generated_docs.IN_GUIDE:
        block = generated_docs.guide_block(guide, name)
        if block:
            guide = guide.replace(block, "")
    return guide


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


def check_names(texts, guide, a, simulink_recipe):
    every = "\n".join(texts.values())
    # svhost and udpsv-recv options, per command.
    for command in ("new", "run", "show", "info", "dialog"):
        known = help_text([a.svhost, command, "--help"])
        for option in named_options(every, "svhost", command):
            check(option in known, "a text names svhost %s %s, which svhost lacks" % (command, option))
    python_script = os.path.join(a.source_dir, "docs", "receivers", "udpsv_receive.py")
    for program, command in (("udpsv-recv", [a.recv]), ("udpsv-selftest", [a.selftest]),
                             ("udpsv_receive.py", [sys.executable, python_script])):
        known = help_text(command + ["--help"])
        for option in named_options(every, program):
            check(option in known, "a text names %s %s, which it lacks" % (program, option))

    # Paths below /usr: files or folders of the tools package.
    debs = glob.glob(os.path.join(a.packages, "*.deb"))
    if check(len(debs) == 1, "no single .deb in %s: %s" % (a.packages, debs)):
        listing = subprocess.run(["dpkg-deb", "-c", debs[0]], capture_output=True, text=True).stdout
        packaged = {line.split()[-1].lstrip(".").rstrip("/") for line in listing.splitlines()}
        named = set(re.findall(r"(/usr/[\w./-]*\w/?)", outside_generated(every)))
        check(len(named) >= 5, "the texts name only %s below /usr" % sorted(named))
        for path in sorted(named):
            check(path.rstrip("/") in packaged, "a text names %s, which the package lacks" % path)

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
    for name in ("docs", "source-dir", "version", "svhost", "plugin", "recv", "selftest", "packages"):
        p.add_argument("--" + name, required=True)
    a = p.parse_args()
    texts = {}
    for name in TEXTS:
        with open(os.path.join(a.docs, name), encoding="utf-8") as f:
            texts[name] = f.read()
    guide = texts["user-guide.txt"]

    # 1. Every text the block can show.
    flat = normalized(guide + texts["support-notes.txt"] + texts["README"])
    shown = shown_texts(a.source_dir)
    check(len(shown) >= 100, "only %d texts found in the sources: is the scan broken?" % len(shown))
    missing = sorted(t for t in shown if normalized(t) not in flat)
    for t in missing:
        check(False, "not in the guide, the support notes or the tools' README: %r" % t)
    print("%d texts of the plug-in, %d missing from the guide" % (len(shown), len(missing)))

    # 2. The version; one page; the users' words; no copies of shipped scripts.
    for name, text in texts.items():
        check(a.version in text, "%s lacks the version" % name)
        check("@" not in text, "%s has an unfilled @VARIABLE@" % name)
    check(a.version.replace(".", "") in guide, "the guide lacks the version of the model file")
    lines = texts["README.txt"].count("\n")
    check(lines <= PAGE, "README.txt has %d lines, more than a page of %d" % (lines, PAGE))
    for name in ("README.txt", "user-guide.txt"):
        users = outside_generated(texts[name])
        for word in NOT_USERS_WORDS:
            for m in re.finditer(re.escape(word), users, re.I):
                check(False, "%s says %r: ...%s..." % (
                    name, word, users[max(0, m.start() - 30):m.end() + 30].replace("\n", " ")))
    check_widths(texts)
    check_commands(texts)
    check_chapter_references(texts)
    receivers = os.path.join(a.source_dir, "docs", "receivers")
    for script in ("udpsv_receive.py", "udpsv_receive.m"):
        with open(os.path.join(receivers, script), encoding="utf-8") as f:
            code = {l.strip() for l in f if len(l.strip()) > 30}
        for name, text in texts.items():
            copied = [l for l in text.splitlines() if l.strip() in code]
            check(not copied, "%s repeats %s: %r" % (name, script, copied[:3]))

    # 3. The generated receivers, everywhere they are kept.
    with tempfile.TemporaryDirectory() as work:
        generator = generated_docs.Generator(a.svhost, a.plugin, work)
        for what, _ in generated_docs.differences(a.source_dir, generator):
            check(False, "%s differs from what svhost generates; run tests/package/generated_docs.py"
                  % what)
    simulink_recipe = generated_docs.guide_block(guide, "simulink.txt") or ""

    # 4. Options, paths and Simulink parameters the texts name.
    check_names(texts, guide, a, simulink_recipe)
    failures.finish()


if __name__ == "__main__":
    sys.exit(main())
