#!/usr/bin/env python3
"""Checks that the source tree keeps its layers.

Three checks, all over plain text so they run before anything is built:
  1. Include lines: a folder may include only itself and the folders below it in LAYERS.
     The codec library and the engine core include no Qt header at all.
  2. Library targets: the project's own libraries, with the LIBS each CMakeLists.txt gives
     kpv_glob_library, form a graph without cycles.
  3. Files of the application: no circle of includes passes through two folders. A source file
     stands behind its header here, since whoever includes the header needs what the source
     includes; within one folder files may lean on each other.

Usage: check-layers.py [ROOT]      exits 1 and lists every breach
       check-layers.py --self-test  checks the checker on small made-up trees
"""

import os
import re
import sys
import tempfile

# folder -> the include prefixes it may use besides its own. Order is bottom up.
LAYERS = {
    "platform/foundation": [],
    "platform/imageio": ["foundation"],
    "platform/appkit": ["foundation"],
    "platform/desktop": ["foundation", "imageio"],
    "app/Model": ["foundation", "imageio"],
    "app/Kit": ["Model", "foundation", "imageio", "appkit"],
    "app/View": ["Kit", "Model", "foundation", "imageio", "appkit", "desktop"],
    "app/Browse": ["View", "Kit", "Model", "foundation", "imageio", "appkit", "desktop"],
    "app/Edit": ["View", "Kit", "Model", "foundation", "imageio", "appkit", "desktop"],
    "app/Slideshow": ["View", "Kit", "Model", "foundation", "imageio", "appkit", "desktop",
                      "Dove", "Host"],
    "app/Share": ["View", "Kit", "Model", "foundation", "imageio", "appkit", "desktop"],
    "app/Shell": ["Browse", "Edit", "Slideshow", "Share", "View", "Kit", "Model", "foundation",
                  "imageio", "appkit", "desktop", "Dove", "Host"],
}
# Prefixes that name one of the folders above; an include with any other prefix ("QtCore/",
# "gtest/") is not ours and is not checked here.
OWN_PREFIXES = {os.path.basename(f) for f in LAYERS}
QT_FREE = ["codec", "postprocess", "bitmap", "scene3d"]
QT_ALLOWED_BELOW = ["scene3d/src/Host"]

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)
QT_INCLUDE = re.compile(r"^Q[A-Za-z]*(/|$)|^Qt[A-Za-z]+/")
LIBRARY = re.compile(r"kpv_glob_library\(\s*(\w+)(.*?)\)", re.S)
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp")


def sources(root, folder):
    base = os.path.join(root, folder)
    for dirpath, _, files in os.walk(base):
        for name in sorted(files):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.join(dirpath, name)


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    for m in INCLUDE.finditer(text):
        line = text.count("\n", 0, m.start()) + 1
        yield line, m.group(1)


def check_includes(root):
    breaches = []
    for folder, allowed in LAYERS.items():
        own = os.path.basename(folder)
        for path in sources(root, folder):
            for line, target in includes(path):
                prefix = target.split("/", 1)[0] if "/" in target else ""
                if prefix in OWN_PREFIXES and prefix != own and prefix not in allowed:
                    rel = os.path.relpath(path, root)
                    breaches.append(f"{rel}:{line}: {folder} may not include {target}")
    for folder in QT_FREE:
        for path in sources(root, folder):
            rel = os.path.relpath(path, root)
            if any(rel.startswith(p + "/") for p in QT_ALLOWED_BELOW):
                continue
            for line, target in includes(path):
                if QT_INCLUDE.match(target):
                    breaches.append(f"{rel}:{line}: {folder} is Qt-free and may not include {target}")
    return breaches


def library_graph(root):
    graph = {}
    for dirpath, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in ("build", "tests", "bench", "fuzz", ".git")
                   and not d.startswith("build-")]
        if "CMakeLists.txt" not in files:
            continue
        with open(os.path.join(dirpath, "CMakeLists.txt"), encoding="utf-8") as f:
            text = re.sub(r"#.*", "", f.read())
        for m in LIBRARY.finditer(text):
            words = m.group(2).split()
            libs = words[words.index("LIBS") + 1:] if "LIBS" in words else []
            graph[m.group(1)] = libs
    return {name: [d for d in deps if d in graph] for name, deps in graph.items()}


def find_cycle(graph):
    state = {}
    for start in sorted(graph):
        if state.get(start):
            continue
        stack = [(start, iter(graph[start]))]
        path = [start]
        state[start] = 1
        while stack:
            node, children = stack[-1]
            child = next(children, None)
            if child is None:
                state[node] = 2
                stack.pop()
                path.pop()
            elif state.get(child) == 1:
                return path[path.index(child):] + [child]
            elif not state.get(child):
                state[child] = 1
                stack.append((child, iter(graph[child])))
                path.append(child)
    return None


# Trees whose files may not include each other in a circle that spans folders.
CIRCLE_TREES = ["app"]


def file_graph(root, tree):
    """Files below tree -> the files they lean on: what they include (by the path below the tree,
    or beside the file), and for a header the sources that implement it; and each file's folder,
    a source's being its header's wherever the two lie."""
    files = {}
    for path in sources(root, tree):
        files[os.path.relpath(path, root)] = [target for _, target in includes(path)]
    graph = {f: set() for f in files}
    folder = {f: os.path.dirname(f) for f in files}
    for f, targets in files.items():
        found = []
        for target in targets:
            for candidate in (os.path.join(tree, target), os.path.join(os.path.dirname(f), target)):
                candidate = os.path.normpath(candidate)
                if candidate in files and candidate != f:
                    found.append(candidate)
                    break
        graph[f].update(found)
        if not f.endswith(".h"):
            stem, name = os.path.splitext(f)[0], os.path.basename(f)
            own = stem + ".h"
            # MainWndControllerMenus.cpp implements MainWndController.h, which it includes first.
            if own not in files and found and name.startswith(os.path.splitext(os.path.basename(found[0]))[0]):
                own = found[0]
            if own in files:
                graph[own].add(f)
                folder[f] = os.path.dirname(own)
    return graph, folder


def strong_components(graph):
    """Tarjan's components, without recursion (the graph may be deep)."""
    index, low, on_stack, stack, result = {}, {}, set(), [], []
    counter = 0
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            child = next(children, None)
            if child is not None:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph[child]))))
                elif child in on_stack:
                    low[node] = min(low[node], index[child])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                result.append(sorted(component))
    return result


def circle_through(graph, component, a, b):
    """The shortest way back from b to a inside the component, as a circle starting at a."""
    inside = set(component)
    previous = {b: None}
    queue = [b]
    for node in queue:
        if node == a:
            break
        for child in sorted(graph[node]):
            if child in inside and child not in previous:
                previous[child] = node
                queue.append(child)
    way = []
    node = a
    while node is not None:
        way.append(node)
        node = previous[node]
    return [a] + list(reversed(way))


def check_file_circles(root):
    breaches = []
    for tree in CIRCLE_TREES:
        graph, folder = file_graph(root, tree)
        for component in strong_components(graph):
            if len({folder[f] for f in component}) < 2:
                continue
            # One circle that crosses folders stands for the component; fixing it shows the next.
            a, b = next((a, b) for a in component for b in sorted(graph[a])
                        if b in component and folder[a] != folder[b])
            circle = circle_through(graph, component, a, b)
            breaches.append(f"include circle across folders ({len(component)} files): " + " -> ".join(circle))
    return breaches


def check(root):
    breaches = check_includes(root) + check_file_circles(root)
    cycle = find_cycle(library_graph(root))
    if cycle:
        breaches.append("library cycle: " + " -> ".join(cycle))
    return breaches


def write(root, rel, text):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def self_test():
    with tempfile.TemporaryDirectory() as root:
        write(root, "app/Model/CMakeLists.txt", "kpv_glob_library(app_model LIBS codec)\n")
        write(root, "app/Kit/CMakeLists.txt", "kpv_glob_library(app_kit QT LIBS app_model)\n")
        write(root, "app/Kit/A.h", '#include "Model/B.h"\n#include <QString>\n')
        write(root, "codec/C.h", "#include <stdint.h>\n")
        assert check(root) == [], check(root)

        write(root, "app/Model/B.h", '#include "Kit/A.h"\n')
        write(root, "codec/C.h", "#include <QtCore/QString>\n")
        write(root, "app/Model/CMakeLists.txt",
              "# app_kit is listed in a comment only\nkpv_glob_library(app_model\n  LIBS app_kit)\n")
        found = check(root)
        assert any("app/Model/B.h:1: app/Model may not include Kit/A.h" in b for b in found), found
        assert any("codec/C.h:1: codec is Qt-free" in b for b in found), found
        assert any(b.startswith("library cycle: app_") for b in found), found

    with tempfile.TemporaryDirectory() as root:
        # Within one folder files may lean on each other; across folders only one way.
        write(root, "app/Shell/Window/W.h", '#include "Shell/Window/V.h"\n')
        write(root, "app/Shell/Window/V.h", '#include "Shell/Window/W.h"\n')
        write(root, "app/Shell/Modes/M.h", '#include "Shell/Window/W.h"\n')
        assert check(root) == [], check(root)
        # The window's source includes a mode: whoever includes W.h needs M.h, which needs W.h.
        write(root, "app/Shell/Window/WMenus.cpp", '#include "Shell/Window/W.h"\n#include "Shell/Modes/M.h"\n')
        found = check(root)
        assert len(found) == 1 and found[0].startswith("include circle across folders (4 files): "), found
        circle = found[0].split(": ", 1)[1].split(" -> ")
        assert circle[0] == circle[-1] and "app/Shell/Modes/M.h" in circle, found
        assert "app/Shell/Window/WMenus.cpp" in circle, found

    with tempfile.TemporaryDirectory() as root:
        # A header and its source under src/ are one unit, not two folders.
        write(root, "app/Share/S.h", '#include "Share/T.h"\n')
        write(root, "app/Share/T.h", "")
        write(root, "app/Share/src/S.cpp", '#include "Share/S.h"\n#include "Share/T.h"\n')
        write(root, "app/Share/src/T.cpp", '#include "Share/T.h"\n#include "Share/S.h"\n')
        assert check(root) == [], check(root)
    print("check-layers self-test: 1 passed, 0 failed")


def main():
    if sys.argv[1:] == ["--self-test"]:
        self_test()
        return 0
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    breaches = check(os.path.abspath(root))
    for b in breaches:
        print(b)
    print(f"layers: {0 if breaches else 1} passed, {1 if breaches else 0} failed")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
