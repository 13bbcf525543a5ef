#!/usr/bin/python3
"""Runs the shell examples the documents show and compares what they print.

The documents are README.md, docs/*.md and the man pages docs/*.1.

An example is a code block whose first line starts with "$ ": each "$ " line
is a command (a line ending in a backslash continues it), and the lines up to
the next "$ " line are what it prints on standard output. In Markdown the
block is a fenced one; in a man page it is an .nf/.fi block. A line "..." (or
"…") in the output stands for any number of lines. A number shown with its
last digit at 10^e matches the number printed when they differ by at most
half of 10^e, so "24.5162" matches 24.516227951191013; everything else on a
line must be the same, apart from trailing blanks.

A marker on the line before the block (Markdown: <!-- doc-example: ... -->,
man page: .\\" doc-example: ...) changes how it runs:

  skip: REASON   not run (the menu at a terminal, a window, a build)
  stderr         the output shown is standard error's, not standard output's
  exit=N         the last command exits with N (default 0)
  files=A,B,...  these files (relative to the repository; a folder: its
                 files) are copied into the working directory first

Each example runs in a fresh directory that mirrors the repository root
(every top-level entry linked), with "diffusim" on the PATH, and
./build/release/diffusim, both the program under test; diffusim-plot is the
source tree's. Its commands share that directory, so a file one writes is
there for the next.

  doc_examples.py --diffusim PROGRAM            run and compare every example
  doc_examples.py --diffusim PROGRAM --list     the table of shell blocks
  doc_examples.py --diffusim PROGRAM --update   rewrite the outputs shown from
                                                real runs (numbers keep the
                                                digits shown; "..." stays)
"""

import argparse
import dataclasses
import decimal
import difflib
import functools
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DOCUMENTS = ["README.md", "docs/*.md", "docs/*.1"]
SHELL_FENCES = {"", "sh", "bash", "shell", "console"}
SHELL_WORDS = {"diffusim", "diffusim-plot", "printf", "cmake", "gnuplot", "./build/release/diffusim"}
ELISIONS = {"...", "…"}
TIMEOUT_S = 30

NUMBER = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


@dataclasses.dataclass
class Command:
    text: str                # the command as bash reads it
    shown: list              # the output shown, one string a line
    first: int               # the output's first line in the document (0-based)
    end: int                 # one past its last line


@dataclasses.dataclass
class Block:
    doc: str                 # path relative to the repository
    line: int                # 1-based line of the block's first content line
    kind: str                # "example", "commands" (no output shown)
    commands: list
    marker: dict
    indent: str = ""
    roff: bool = False
    first_line: str = ""


# --- reading the documents ------------------------------------------------

ROFF_ESCAPES = [("\\-", "-"), ("\\&", ""), ("\\(mu", "×"), ("\\(dq", '"'),
                ("\\(*S", "Σ"), ("\\fB", ""), ("\\fR", ""), ("\\fI", ""), ("\\fP", "")]


def roff_text(raw):
    out, i = [], 0
    while i < len(raw):
        if raw.startswith("\\e", i):
            out.append("\\")
            i += 2
            continue
        for esc, plain in ROFF_ESCAPES:
            if raw.startswith(esc, i):
                out.append(plain)
                i += len(esc)
                break
        else:
            out.append(raw[i])
            i += 1
    return "".join(out)


def roff_escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") or text in ELISIONS else text


def parse_marker(text):
    text = text.strip()
    if text.startswith("skip"):
        return {"skip": text[4:].lstrip(": ").strip() or "no reason given"}
    marker = {}
    for word in text.split():
        key, _, value = word.partition("=")
        if key not in ("stderr", "exit", "files"):
            raise ValueError(f"unknown doc-example marker {word!r}")
        marker[key] = value if value else True
    return marker


def split_commands(lines, first_index):
    """Commands and their outputs in a block's lines (plain text)."""
    commands, i = [], 0
    while i < len(lines):
        if not lines[i].startswith("$ "):
            i += 1
            continue
        text = lines[i][2:]
        while text.endswith("\\") and i + 1 < len(lines):
            i += 1
            text += "\n" + lines[i]
        i += 1
        start = i
        while i < len(lines) and not lines[i].startswith("$ "):
            i += 1
        end = i
        while end > start and not lines[end - 1].strip():
            end -= 1
        commands.append(Command(text, lines[start:end], first_index + start, first_index + end))
    return commands


def classify(doc, line, lines, first_index, marker, indent="", roff=False, fence=None):
    firsts = [l for l in lines if l.strip()]
    if firsts and firsts[0].startswith("$ "):
        return Block(doc, line, "example", split_commands(lines, first_index), marker, indent, roff,
                     firsts[0][2:])
    words = {l.split()[0] for l in firsts if l.split()}
    if (fence in SHELL_FENCES - {""}) or words & SHELL_WORDS:
        return Block(doc, line, "commands", [], marker, indent, roff, firsts[0] if firsts else "")
    return None


def markdown_blocks(doc, text):
    lines, blocks, marker, i = text.split("\n"), [], None, 0
    while i < len(lines):
        m = re.match(r"^(\s*)<!--\s*doc-example:(.*?)-->\s*$", lines[i])
        if m:
            marker = parse_marker(m.group(2))
            i += 1
            continue
        m = re.match(r"^(\s*)(```+|~~~+)\s*(\S*)\s*$", lines[i])
        if not m:
            if lines[i].strip():
                marker = None
            i += 1
            continue
        indent, fence, lang = m.groups()
        j = i + 1
        while j < len(lines) and not (lines[j].strip().startswith(fence) and not lines[j].strip()[len(fence):].strip()):
            j += 1
        body = [l[len(indent):] if l.startswith(indent) else l.lstrip() for l in lines[i + 1:j]]
        block = classify(doc, i + 2, body, i + 1, marker or {}, indent, False, lang)
        if block:
            blocks.append(block)
        marker, i = None, j + 1
    return blocks


def roff_blocks(doc, text):
    lines, blocks, marker, i = text.split("\n"), [], None, 0
    while i < len(lines):
        m = re.match(r'^\.\\"\s*doc-example:(.*)$', lines[i])
        if m:
            marker = parse_marker(m.group(1))
        elif lines[i].startswith(".nf"):
            j = i + 1
            while j < len(lines) and not lines[j].startswith(".fi"):
                j += 1
            body = [roff_text(l) for l in lines[i + 1:j]]
            block = classify(doc, i + 2, body, i + 1, marker or {}, "", True)
            if block:
                blocks.append(block)
            marker, i = None, j
        elif lines[i].strip() and lines[i].split()[0] not in (".PP", ".RS", ".sp", ".RE"):
            marker = None
        i += 1
    return blocks


def documents(root):
    found = []
    for pattern in DOCUMENTS:
        found += sorted(glob.glob(os.path.join(root, pattern)))
    return [os.path.relpath(p, root) for p in found]


def read_blocks(root):
    blocks = []
    for doc in documents(root):
        with open(os.path.join(root, doc), encoding="utf-8") as f:
            text = f.read()
        blocks += roff_blocks(doc, text) if doc.endswith(".1") else markdown_blocks(doc, text)
    return blocks


# --- comparing ------------------------------------------------------------

def number_matches(shown, actual):
    """Whether the number printed, rounded to the digits shown, is the one shown."""
    s, a = decimal.Decimal(shown), decimal.Decimal(actual)
    half = decimal.Decimal(5).scaleb(s.as_tuple().exponent - 1)
    return abs(a - s) <= half


def pieces(line):
    """The line split into text and numbers: (texts, numbers)."""
    return NUMBER.split(line.rstrip()), NUMBER.findall(line.rstrip())


def line_matches(shown, actual, skeleton=False):
    st, sn = pieces(shown)
    at, an = pieces(actual)
    if st != at or len(sn) != len(an):
        return False
    return skeleton or all(number_matches(s, a) for s, a in zip(sn, an))


def align(shown, actual, skeleton=False):
    """The actual line each shown line stands for (None for an elision), or None."""
    shown = [l.rstrip() for l in shown]
    actual = [l.rstrip() for l in actual]

    @functools.lru_cache(maxsize=None)
    def walk(i, j):
        if i == len(shown):
            return () if j == len(actual) else None
        if shown[i].strip() in ELISIONS:
            for k in range(j, len(actual) + 1):
                rest = walk(i + 1, k)
                if rest is not None:
                    return (None,) + rest
            return None
        if j < len(actual) and line_matches(shown[i], actual[j], skeleton):
            rest = walk(i + 1, j + 1)
            if rest is not None:
                return (j,) + rest
        return None

    sys.setrecursionlimit(max(10000, 4 * (len(shown) + len(actual))))
    return walk(0, 0)


def refreshed_number(shown, actual):
    if number_matches(shown, actual):
        return shown
    s, a = decimal.Decimal(shown), decimal.Decimal(actual)
    if len(s.as_tuple().digits) >= len(a.as_tuple().digits):
        return actual
    if "e" in shown.lower():
        mantissa, exponent = shown.lower().split("e")
        decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
        text = f"{float(a):.{decimals}e}"
        m, e = text.split("e")
        width = len(exponent.lstrip("+-"))
        return f"{m}e{e[0] if e[0] == '-' else ''}{e.lstrip('+-').zfill(width)}"
    return str(a.quantize(decimal.Decimal(1).scaleb(s.as_tuple().exponent), decimal.ROUND_HALF_EVEN))


def refreshed_output(shown, actual):
    """The output to show now, and whether only numbers changed.

    The shown lines are aligned with the printed ones at the least cost: a
    line whose numbers all match costs 0, one that differs only in its
    numbers 1, a line added 1.5, a line replaced by a similar one 1.5 and by
    another 4, a shown line left out 5 (the author chose it); an elision
    takes any number of lines for nothing and stays. Numbers keep the digits
    shown.
    """
    shown = [l.rstrip() for l in shown]
    actual = [l.rstrip() for l in actual]
    n, m = len(shown), len(actual)
    INF, ADD, DROP = float("inf"), 1.5, 5

    def replace(i, j):
        if line_matches(shown[i], actual[j]):
            return 0
        if line_matches(shown[i], actual[j], skeleton=True):
            return 1
        return 1.5 if difflib.SequenceMatcher(None, shown[i], actual[j]).ratio() >= 0.6 else 4

    cost = [[INF] * (m + 1) for _ in range(n + 1)]
    for i in range(n, -1, -1):
        for j in range(m, -1, -1):
            if i == n:
                cost[i][j] = ADD * (m - j)
            elif shown[i].strip() in ELISIONS:
                cost[i][j] = min(cost[i + 1][j], cost[i][j + 1] if j < m else INF)
            else:
                best = DROP + cost[i + 1][j]
                if j < m:
                    best = min(best, replace(i, j) + cost[i + 1][j + 1], ADD + cost[i][j + 1])
                cost[i][j] = best
    out, clean, i, j, elided = [], True, 0, 0, False
    while i < n or j < m:
        if i < n and shown[i].strip() in ELISIONS:
            if not elided:
                out.append(shown[i])
                elided = True
            if j < m and cost[i][j] == cost[i][j + 1]:
                j += 1
            else:
                i, elided = i + 1, False
            continue
        if i < n and j < m and replace(i, j) <= 1 and cost[i][j] == replace(i, j) + cost[i + 1][j + 1]:
            texts, numbers = pieces(shown[i])
            new = [refreshed_number(a, b) for a, b in zip(numbers, pieces(actual[j])[1])]
            out.append("".join(t + (new[k] if k < len(new) else "") for k, t in enumerate(texts)))
            i, j = i + 1, j + 1
            continue
        clean = False
        if i < n and j < m and cost[i][j] == replace(i, j) + cost[i + 1][j + 1]:
            out.append(actual[j])
            i, j = i + 1, j + 1
        elif i < n and cost[i][j] == DROP + cost[i + 1][j]:
            i += 1
        else:
            out.append(actual[j])
            j += 1
    return out, clean


# --- running --------------------------------------------------------------

class Scratch:
    """A directory that mirrors the repository root, with the program under test."""

    def __init__(self, root, program, files=None):
        self.path = tempfile.mkdtemp(prefix="doc-example-")
        for name in os.listdir(root):
            if name not in ("build", ".git"):
                os.symlink(os.path.join(root, name), os.path.join(self.path, name))
        os.makedirs(os.path.join(self.path, "build", "release"))
        os.symlink(program, os.path.join(self.path, "build", "release", "diffusim"))
        self.bin = os.path.join(self.path, ".bin")
        os.mkdir(self.bin)
        os.symlink(program, os.path.join(self.bin, "diffusim"))
        os.symlink(os.path.join(root, "tools", "diffusim-plot"), os.path.join(self.bin, "diffusim-plot"))
        for name in files.split(",") if files else []:
            source = os.path.join(root, name)
            if os.path.isdir(source):
                shutil.copytree(source, self.path, dirs_exist_ok=True)
            else:
                shutil.copy(source, self.path)

    def run(self, command):
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ.get("PATH", ""),
                   LC_ALL="C.UTF-8")
        return subprocess.run(["bash", "-c", command], cwd=self.path, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=TIMEOUT_S)

    def close(self):
        shutil.rmtree(self.path, ignore_errors=True)


def run_block(root, program, block):
    """(command, shown, actual lines, problem or None) for each command of the block."""
    scratch = Scratch(root, program, block.marker.get("files"))
    results = []
    try:
        for n, command in enumerate(block.commands):
            done = scratch.run(command.text)
            stream = done.stderr if block.marker.get("stderr") else done.stdout
            actual = stream.decode("utf-8", "replace").split("\n")
            if actual and actual[-1] == "":
                actual.pop()
            want = int(block.marker.get("exit", 0)) if n == len(block.commands) - 1 else 0
            problem = None
            if done.returncode != want:
                problem = (f"exit status {done.returncode}, expected {want}; standard error:\n"
                           + done.stderr.decode("utf-8", "replace"))
            elif align(command.shown, actual) is None:
                problem = "the output differs from the one shown"
            results.append((command, actual, problem))
    finally:
        scratch.close()
    return results


def report(block, command, actual, problem):
    print(f"FAIL {block.doc}:{command.first + 1}: $ {command.text}")
    print(f"  {problem}")
    if problem.startswith("the output"):
        diff = list(difflib.unified_diff(command.shown, [l.rstrip() for l in actual],
                                         "shown", "printed now", lineterm="", n=2))
        for line in diff[:60]:
            print("  " + line)
        if len(diff) > 60:
            print(f"  ... ({len(diff) - 60} more lines of difference)")
        print("  ('...' in the shown output stands for any lines; run with --update to refresh)")


def update(root, block_results):
    """Rewrites the outputs shown in each document from the runs."""
    edits = {}
    for block, results in block_results:
        for command, actual, problem in results:
            if problem != "the output differs from the one shown":
                continue
            new, kept = refreshed_output(command.shown, actual)
            if not kept:
                print(f"note {block.doc}:{command.first + 1}: lines of the output changed, not only "
                      f"numbers; check the '...' around them")
            raw = [roff_escape(l) if block.roff else (block.indent + l if l else "") for l in new]
            edits.setdefault(block.doc, []).append((command.first, command.end, raw, block.roff, command.shown))
    for doc, changes in edits.items():
        path = os.path.join(root, doc)
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        for first, end, raw, roff, shown in sorted(changes, reverse=True):
            old = lines[first:end]
            # Keep a line's own spelling where its text did not change.
            plain_old = [roff_text(l) if roff else l.strip() for l in old]
            merged = []
            for r in raw:
                plain = roff_text(r) if roff else r.strip()
                merged.append(old[plain_old.index(plain)] if plain in plain_old else r)
            lines[first:end] = merged
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        print(f"updated {doc}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--diffusim", default=os.path.join(ROOT, "build", "test", "diffusim"),
                        help="the program to run for 'diffusim' (default build/test/diffusim)")
    parser.add_argument("--root", default=ROOT, help="the repository root")
    parser.add_argument("--list", action="store_true", help="print the table of shell blocks and exit")
    parser.add_argument("--update", action="store_true", help="rewrite the outputs shown from real runs")
    args = parser.parse_args()
    root, program = os.path.abspath(args.root), os.path.abspath(args.diffusim)

    blocks = read_blocks(root)
    examples = [b for b in blocks if b.kind == "example" and "skip" not in b.marker]
    skipped = [b for b in blocks if "skip" in b.marker]
    if args.list:
        print("document:line\twhat\tcommand")
        for b in blocks:
            what = "skipped: " + b.marker["skip"] if "skip" in b.marker else (
                "example" if b.kind == "example" else "commands, no output shown (not run)")
            print(f"{b.doc}:{b.line}\t{what}\t{b.first_line.strip()}")
        return 0
    if not os.access(program, os.X_OK):
        print(f"no program at {program}: build it first", file=sys.stderr)
        return 2

    block_results = [(b, run_block(root, program, b)) for b in examples]
    failed = 0
    for block, results in block_results:
        for command, actual, problem in results:
            if problem:
                failed += 1
                if not args.update:
                    report(block, command, actual, problem)
    commands = sum(len(r) for _, r in block_results)
    print(f"{len(examples)} examples ({commands} commands) run, {failed} commands differ; "
          f"{len(skipped)} skipped by a marker; "
          f"{sum(b.kind == 'commands' and 'skip' not in b.marker for b in blocks)} blocks of commands "
          f"without output not run")
    for b in skipped:
        print(f"  skipped {b.doc}:{b.line}: {b.marker['skip']}")
    if args.update and failed:
        update(root, block_results)
        return 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
