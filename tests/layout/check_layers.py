#!/usr/bin/env python3
"""The source folders' layers, held against every #include in src/.

A folder may include itself and the folders this table lets it see; the
front ends (the menu, the command line, Python) are siblings that see the
study layer and what lies under it, never one another; only the program's
entry sees two of them. Prints each include that breaks the table and exits
1, or exits 0 saying how many includes it read.
"""
import pathlib
import re
import sys

BASE = {"format", "model", "engine", "output", "words"}
SEES = {
    "format": set(),
    "model": {"format"},
    "engine": {"format", "model"},
    "output": {"format", "model", "engine"},
    "words": {"format", "model", "engine"},
    "report": BASE,
    "study": BASE,
    "cli": BASE | {"study"},
    "console": BASE | {"report"},
    "python": BASE | {"study"},
    "app": BASE | {"cli", "console"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.MULTILINE)


def breaches(src):
    read = 0
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".cpp", ".hpp", ".h"}:
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in SEES:
            found.append(f"{path}: the folder {folder} has no place among the layers")
            continue
        for line, target in ((m.string.count("\n", 0, m.start()) + 1, m.group(1))
                             for m in INCLUDE.finditer(path.read_text(encoding="utf-8"))):
            read += 1
            if target != folder and target not in SEES[folder]:
                found.append(f"{path}:{line}: {folder} includes {target}")
    return read, found


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    read, found = breaches(src)
    for f in found:
        print(f)
    if found:
        return 1
    print(f"{read} includes, every one within its layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
