#!/usr/bin/env python3
"""Fails when a source file includes from a layer above its own.

The stack, lowest first: base <- mail <- settings <- rules <- app <- (cli,
ui) <- the windows of settings/gui and rules/gui <- app/gui. A file may
include from its own folder and from any layer below it, never from above
or from a sibling of the same height (cli and ui never meet).
"""
import pathlib
import re
import sys

RANKS = {
    "base": 0, "mail": 1, "settings": 2, "rules": 3, "app": 4,
    "cli": 5, "ui": 5, "settings/gui": 6, "rules/gui": 6, "app/gui": 7,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    parts = pathlib.PurePosixPath(path).parts
    if len(parts) >= 3 and parts[1] == "gui":
        return parts[0] + "/gui"
    return parts[0] if len(parts) >= 2 else None


def main(root):
    root = pathlib.Path(root)
    bad = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".hpp", ".cpp", ".cc") or not path.is_file():
            continue
        rel = path.relative_to(root).as_posix()
        own = folder_of(rel)
        if own not in RANKS:
            continue  # tests, benchmarks, fuzz targets and the build tree
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = folder_of(m.group(1))
            if target is None or target == own or target not in RANKS:
                continue
            if RANKS[target] >= RANKS[own]:
                bad.append(f"{rel}:{number}: {own} includes from {target}: {m.group(1)}")
    for line in bad:
        print(line, file=sys.stderr)
    if bad:
        print(f"{len(bad)} include(s) from a layer above; see HACKING.md", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
