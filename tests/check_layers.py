#!/usr/bin/env python3
"""Folders depend one way: each folder includes only the folders its layer
allows, the allowed table itself has no circle, core folders include no Qt,
and only platform/ reaches the system's file calls. Usage: check_layers.py
[SOURCE_DIR]"""
import os
import re
import sys

# Folder -> the folders its files may include (besides its own). A folder's
# CMake library links the libraries of these folders; server/WcApi.h (which
# host/ implements) and dunzip/DunzipBlock.h are needed as headers only.
CORE = ["platform", "server", "config", "settings", "run", "actions", "runner"]
ALLOWED = {
    "platform": [],
    "server": ["platform"],  # the host contract and the session
    "host": ["server", "platform"],  # the stand-in behind the contract
    "dunzip": ["platform"],
    "config": ["run", "server", "platform"],  # run/: the vocabularies
    "settings": ["run", "platform"],  # the settings store; the extras' settings
    "run": ["platform"],
    "actions": ["run", "server", "dunzip", "platform"],
    "runner": ["actions", "config", "run", "server", "platform"],
    "windows": ["settings", "run", "server", "platform"],
    "configtool": ["windows", "settings", "config", "run", "server",
                   "platform"],
    "mainwindow": ["configtool", "windows", "runner", "actions", "config",
                   "settings", "run", "server", "platform"],
    "app": ["mainwindow", "windows", "runner", "server"],
    "tools": ["host", "server", "platform"],
    # The benchmark drivers: host calls, and the windows' event gaps.
    "bench": ["mainwindow", "configtool", "windows", "host", "config",
              "server", "platform"],
    # Harnesses set up real hosts, so they may reach the stand-in.
    "fuzz": ["tests"] + CORE + ["host", "dunzip"],
    "tests": CORE + ["host", "dunzip", "windows", "configtool", "mainwindow"],
}
# Not C++ source folders of the product.
SKIP = {"build", "docs", "scripts", ".git"}

# The system's file interface is platform/'s: everyone else goes through
# its File and Directory. The harnesses set up files their own way (FIFOs,
# modes, descriptors left open), so they may use it too.
POSIX_FOLDERS = {"platform", "tests", "fuzz", "bench"}
POSIX_HEADERS = {"fcntl.h", "unistd.h", "sys/stat.h", "dirent.h",
                 "sys/file.h"}
POSIX_USE = re.compile(r"\bO_[A-Z]+\b|(?<![\w:])::(open|openat|read|pread|"
                       r"write|pwrite|fstat|stat|lstat|close|lseek|ftruncate|"
                       r"fsync|unlink)\s*\(")
COMMENT = re.compile(r"//[^\n]*")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)
QT = re.compile(r"^Q[A-Za-z]*(/|$)")


def folder_of(relpath):
    """'mainwindow/MainUnit.cpp' -> 'mainwindow'; 'tests/unit/X.cpp' ->
    'tests'; None for a name without a folder."""
    parts = relpath.split("/")
    if len(parts) < 2:
        return None
    return parts[0]


def find_cycle(graph):
    """A list of folders that depend on each other in a circle, or []."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = 2
        return []

    for node in sorted(graph):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return []


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    problems = []
    cycle = find_cycle(ALLOWED)
    if cycle:
        problems.append("the layer table has a circle: " + " -> ".join(cycle))

    edges = {}
    files = 0
    for top in sorted(os.listdir(root)):
        if top in SKIP or top.startswith(".") or top.startswith("build"):
            continue
        if not os.path.isdir(os.path.join(root, top)):
            continue
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                source = folder_of(rel)
                if source not in ALLOWED:
                    problems.append(f"{rel}: folder {source} has no layer")
                    continue
                files += 1
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                posix = source not in POSIX_FOLDERS
                if posix:
                    used = POSIX_USE.search(COMMENT.sub("", text))
                    if used:
                        problems.append(f"{rel}: {used.group(0)} is "
                                        "platform/'s (File, Directory)")
                for kind, target in INCLUDE.findall(text):
                    if kind == "<":
                        if posix and target in POSIX_HEADERS:
                            problems.append(f"{rel}: <{target}> is "
                                            "platform/'s (File, Directory)")
                        if source in CORE + ["host", "dunzip", "tools"] and \
                                QT.match(target):
                            problems.append(f"{rel}: core code includes <{target}>")
                        continue
                    dest = folder_of(target)
                    if dest is None or dest == source:
                        continue
                    edges.setdefault(source, set()).add(dest)
                    if dest not in ALLOWED[source]:
                        problems.append(f"{rel}: {source} may not include {target}")

    cycle = find_cycle(edges)
    if cycle:
        problems.append("folders include each other: " + " -> ".join(cycle))
    if files == 0:
        problems.append(f"no sources found under {root}")
    for problem in problems:
        print(problem)
    print(f"{files} files checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
