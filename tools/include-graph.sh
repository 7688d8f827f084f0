#!/usr/bin/env bash
# The tree drawn from its includes: which library includes which, counted
# from every #include "..." of our C++ files. Prints one arrow per pair of
# libraries (with the number of includes behind it), then the checks, and
# fails when one of them does not hold:
#
#   - a platform layer (platform/*) includes nothing of the program
#     (app, app/resources, playback, browser, crashreport): layers point one way;
#   - a public header (one outside internal/) includes no internal/ header;
#   - nothing outside a library - another library, a tool, a test, a
#     benchmark, the fuzz target - includes that library's internal/ headers,
#     but the library's own tests (a test in tests/CMakeLists.txt that links
#     that one library of ours alone) may look inside it, and the uses named
#     in ALLOWED below, each with its reason, are printed and let pass;
#   - the libraries include each other in no circle, and the main window,
#     the transport (the engine) and the file list include each other in no
#     circle either, and the transport includes nothing of the main window.
#
#   tools/include-graph.sh [--dot]     --dot: the arrows as a Graphviz graph
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exec python3 - "$top" "$@" <<'PYTHON'
import collections
import os
import re
import sys

top = sys.argv[1]
dot = "--dot" in sys.argv[2:]
os.chdir(top)

PROGRAM = ("app", "app/resources", "playback", "browser", "crashreport")
# Uses of another library's insides that nothing public can stand in for.
ALLOWED = {
    ("tests/crash/crashvictim.cpp", "platform/music/internal/audiooutput.h"):
        "the crash victim runs a source of its own on the audio output's thread, to crash there",
}
CONSUMERS = ("tests", "bench", "fuzz", "tools")
SKIP = ("build", ".git")

# Libraries: every folder whose CMakeLists.txt gives a library an ALIAS.
libraries = {}
for folder, dirs, files in os.walk("."):
    dirs[:] = [d for d in dirs if not d.startswith(".") and d not in SKIP]
    if "CMakeLists.txt" not in files:
        continue
    text = open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8").read()
    match = re.search(r"add_library\(\s*(\S+::\S+)\s+ALIAS", text)
    if match:
        libraries[os.path.normpath(folder)] = match.group(1)

def owner(path):
    """The library a file belongs to, or the kind of consumer it is."""
    parts = path.split("/")
    best = None
    for length in range(len(parts) - 1, 0, -1):
        folder = "/".join(parts[:length])
        if folder in libraries:
            best = folder
            break
    # A library's own tools (platform/music/tools) use it from outside.
    if best and "tools" in parts[len(best.split("/")):-1]:
        return best + "/tools"
    if best:
        return best
    if parts[0] in CONSUMERS or path.startswith("app/main.cpp"):
        return parts[0]
    return None

sources = []
for folder, dirs, files in os.walk("."):
    dirs[:] = [d for d in dirs if not d.startswith(".") and d not in SKIP]
    for name in files:
        if name.endswith((".cpp", ".h", ".c")):
            sources.append(os.path.normpath(os.path.join(folder, name)))
sources.sort()
known = set(sources)

def resolve(including, name):
    """The file an #include "name" in `including` means: beside it first, then
    in its own library's folder, then in any library's folder."""
    here = os.path.normpath(os.path.join(os.path.dirname(including), name))
    if here in known:
        return here
    own = owner(including)
    roots = ([own] if own in libraries else []) + sorted(libraries)
    for root in roots:
        candidate = os.path.normpath(os.path.join(root, name))
        if candidate in known:
            return candidate
    return None

def internal(path):
    return "/internal/" in "/" + path

# A library's own tests: brisolde_add_test(name SOURCES ... LIBRARIES ...)
# whose libraries of ours (Brisolde::...) are that one library alone.
by_alias = {alias: folder for folder, alias in libraries.items()}
own_tests = {}
tests_cmake = open("tests/CMakeLists.txt", encoding="utf-8").read()
for match in re.finditer(r"brisolde_add_test\((.*?)\)", tests_cmake, re.S):
    words = match.group(1).split()
    sections = collections.defaultdict(list)
    key = None
    for word in words[1:]:
        if word in ("SOURCES", "LIBRARIES", "LABELS"):
            key = word
        elif key:
            sections[key].append(word)
    ours = {w for w in sections["LIBRARIES"] if w in by_alias}
    if len(ours) == 1:
        for source in sections["SOURCES"]:
            own_tests[os.path.normpath(os.path.join("tests", source))] = by_alias[next(iter(ours))]

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
arrows = collections.Counter()
files_graph = collections.defaultdict(set)
problems = []
allowed = []
for source in sources:
    text = open(source, encoding="utf-8", errors="replace").read()
    src_owner = owner(source)
    for name in include.findall(text):
        target = resolve(source, name)
        if target is None:
            continue  # generated (moc, ui) or not ours
        dst_owner = owner(target)
        files_graph[source].add(target)
        if src_owner and dst_owner and src_owner != dst_owner:
            arrows[(src_owner, dst_owner)] += 1
        if src_owner and src_owner.startswith("platform/") and dst_owner in PROGRAM:
            problems.append(f"platform -> program: {source} includes {target}")
        if source.endswith(".h") and not internal(source) and internal(target):
            problems.append(f"public header -> internal: {source} includes {target}")
        if internal(target) and src_owner != dst_owner and own_tests.get(source) != dst_owner:
            if (source, target) in ALLOWED:
                allowed.append(f"{source} includes {target}: {ALLOWED[(source, target)]}")
                continue
            problems.append(f"internal header used from outside {dst_owner}: {source} includes {target}")

def label(node):
    return libraries.get(node, node)

if dot:
    print("digraph includes {")
    print("  rankdir=TB; node [shape=box, fontname=sans];")
    for (a, b), n in sorted(arrows.items()):
        print(f'  "{label(a)}" -> "{label(b)}" [label="{n}"];')
    print("}")
else:
    print("Library-level arrows (number of includes):")
    for (a, b), n in sorted(arrows.items(), key=lambda kv: (label(kv[0][0]), label(kv[0][1]))):
        print(f"  {label(a):24} -> {label(b):24} {n:4}")

# Circles between libraries (consumers are leaves by nature and left out).
graph = collections.defaultdict(set)
for (a, b) in arrows:
    if a in libraries and b in libraries:
        graph[a].add(b)

def strongly_connected(nodes, edges):
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]
    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in edges.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on.discard(w)
                component.append(w)
                if w == v:
                    break
            out.append(component)
    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return out

for component in strongly_connected(set(libraries), graph):
    if len(component) > 1:
        problems.append("circle between libraries: " + " <-> ".join(sorted(label(c) for c in component)))

# The main window, the transport and the file list, file by file.
parts = {
    "main window": ("playback/mainfrm.h", "playback/mainfrm.cpp"),
    "transport": ("playback/transport.h", "playback/transport.cpp"),
    "file list": ("browser/filesview.h", "browser/filesview.cpp"),
}
reach = collections.defaultdict(set)
for a, files_a in parts.items():
    for b, files_b in parts.items():
        if a != b and any(t in files_b for f in files_a for t in files_graph.get(f, ())):
            reach[a].add(b)
for component in strongly_connected(set(parts), reach):
    if len(component) > 1:
        problems.append("circle between " + ", ".join(sorted(component)))
if "main window" in reach["transport"]:
    problems.append("the transport includes the main window")

print()
if allowed:
    print("Allowed uses of another library's insides:")
    for a in allowed:
        print("  " + a)
    print()
if problems:
    print(f"{len(problems)} problem(s):")
    for p in problems:
        print("  " + p)
    sys.exit(1)
print("Layers point one way: no platform -> program arrow, no public header into internal/,")
print("no internal/ header used from outside its library, no circle.")
PYTHON
