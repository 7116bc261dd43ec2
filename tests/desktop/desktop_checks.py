#!/usr/bin/env python3
"""The installed desktop files, checked as the desktop and the packagers do.

  install BUILD CLI   install BUILD into a temporary DESTDIR; every file in
                      place, each PNG icon exactly its folder's size, and
                      desktop-file-validate, appstreamcli, man and the shells
                      accept everything without a word
  options SRC CLI     every long option kelvane-cli and its commands print in
                      their --help is in the man page and in each completion

A missing tool skips (exit 77) unless CI is set, where it fails.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
APP = "org.kelvane.Kelvane"


def need(*tools):
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        print("missing tools: " + " ".join(missing) + ", so skipped")
        sys.exit(1 if os.environ.get("CI") else SKIP)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def check_install(build, cli):
    need("cmake", "desktop-file-validate", "appstreamcli", "man", "bash", "zsh", "fish")
    problems = []
    with tempfile.TemporaryDirectory() as dest:
        env = dict(os.environ, DESTDIR=dest)
        r = run(["cmake", "--install", build, "--prefix", "/usr"], env=env)
        if r.returncode != 0:
            print(r.stdout + r.stderr)
            return 1
        usr = os.path.join(dest, "usr")
        share = os.path.join(usr, "share")
        expected = [
            "bin/kelvane", "bin/kelvane-cli", "share/kelvane/Kelvane.hlp",
            f"share/applications/{APP}.desktop", f"share/metainfo/{APP}.metainfo.xml",
            f"share/icons/hicolor/scalable/apps/{APP}.svg",
            "share/man/man1/kelvane.1", "share/man/man1/kelvane-cli.1",
            "share/bash-completion/completions/kelvane-cli",
            "share/zsh/vendor-completions/_kelvane-cli",
            "share/fish/vendor_completions.d/kelvane-cli.fish",
        ] + [f"share/icons/hicolor/{s}x{s}/apps/{APP}.png" for s in ICON_SIZES]
        for rel in expected:
            if not os.path.isfile(os.path.join(usr, rel)):
                problems.append(f"not installed: {rel}")
        for s in ICON_SIZES:
            path = os.path.join(share, f"icons/hicolor/{s}x{s}/apps/{APP}.png")
            if os.path.isfile(path) and png_size(path) != (s, s):
                problems.append(f"{s}x{s} icon is {png_size(path)}")

        # Each validator must stay silent (hints included) and succeed.
        man = os.path.join(share, "man/man1")
        checks = [
            ["desktop-file-validate", os.path.join(share, f"applications/{APP}.desktop")],
            ["appstreamcli", "validate", "--no-net",
             os.path.join(share, f"metainfo/{APP}.metainfo.xml")],
            ["bash", "-n", os.path.join(share, "bash-completion/completions/kelvane-cli")],
            ["zsh", "-n", os.path.join(share, "zsh/vendor-completions/_kelvane-cli")],
            ["fish", "-n", os.path.join(share, "fish/vendor_completions.d/kelvane-cli.fish")],
        ]
        for page in ("kelvane.1", "kelvane-cli.1"):
            for width in ("60", "80", "132"):
                checks.append(["env", f"MANWIDTH={width}", "man", "--warnings", "-E", "UTF-8",
                               "-l", os.path.join(man, page)])
        for args in checks:
            r = run(args)
            said = r.stderr if args[0] == "env" else r.stdout + r.stderr
            if args[0] == "appstreamcli":
                said = "" if r.returncode == 0 else said
            if r.returncode != 0 or said.strip():
                problems.append(" ".join(args[-3:]) + f" (status {r.returncode}):\n{said}")

        # The login entry kelvane-cli writes is a valid desktop entry too.
        with tempfile.TemporaryDirectory() as home:
            env = dict(os.environ, XDG_CONFIG_HOME=home)
            run([cli, "autostart", "on"], env=env)
            entry = os.path.join(home, f"autostart/{APP}.desktop")
            r = run(["desktop-file-validate", entry])
            if not os.path.isfile(entry) or r.returncode != 0 or r.stdout.strip():
                problems.append("autostart entry: " + r.stdout)
    for p in problems:
        print(p)
    return 1 if problems else 0


def help_text(cli, words):
    r = run([cli] + words + ["--help"])
    return r.stdout


def sections(text, title):
    """The first words of the lines of one section of CLI11's help."""
    out, inside = [], False
    for line in text.splitlines():
        if re.match(r"^[A-Z][A-Za-z ]*:$", line):
            inside = line == title + ":"
            continue
        if inside and re.match(r"^  \S", line):
            out.append(line.split()[0])
    return out


def check_options(src, cli):
    # Every command path and the long options each one prints.
    found = {}
    todo = [[]]
    while todo:
        words = todo.pop()
        text = help_text(cli, words)
        found[" ".join(words) or "kelvane-cli"] = set(re.findall(r"--[a-z][a-z-]*", "\n".join(
            l for l in text.splitlines() if re.match(r"^\s+-", l))))
        todo += [words + [sub] for sub in sections(text, "Subcommands")]
    if len(found) < 10:
        print("too few commands found in the help:", sorted(found))
        return 1
    page = open(os.path.join(src, "dist/man/kelvane-cli.1.in")).read().replace("\\-", "-")
    targets = {"kelvane-cli.1": page}
    for name in ("kelvane-cli.bash", "_kelvane-cli", "kelvane-cli.fish"):
        text = open(os.path.join(src, "dist/completions", name)).read()
        if name.endswith(".fish"):
            text = re.sub(r"-l (\S+)", r"--\1", text)
        targets[name] = text
    problems = []
    for command, options in sorted(found.items()):
        for option in sorted(options):
            for target, text in targets.items():
                if not re.search(re.escape(option) + r"(?![a-z-])", text):
                    problems.append(f"{target} lacks {option} of {command}")
        leaf = command.split()[-1]
        for target, text in targets.items():
            if command != "kelvane-cli" and not re.search(r"\b" + re.escape(leaf) + r"\b", text):
                problems.append(f"{target} lacks the command {command}")
    for p in problems:
        print(p)
    return 1 if problems else 0


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("install", "options"):
        print(__doc__)
        return 2
    if sys.argv[1] == "install":
        return check_install(sys.argv[2], sys.argv[3])
    return check_options(sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    sys.exit(main())
