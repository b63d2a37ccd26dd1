#!/usr/bin/env python3
"""The include graph of src/ between layers: every arrow from one folder to another, and the
arrows that break the layer order.

    tools/include-graph.py [--check] [--dot]

LAYERS lists the folders from the bottom up. A folder may include its own files and those of
folders on lower lines only: an arrow to a folder on its own line or a higher one is a
violation, and so is a pair of folders that include each other; SEES narrows what the two
programs' folders may include. With --check the script exits 1
on any violation (the test run calls it so); --dot prints the graph for Graphviz instead."""
import os
import re
import sys
from collections import defaultdict

# Bottom first. Folders on one line share a level and must not include each other.
LAYERS = [
    ["core/base"],
    ["core/bits", "core/tree", "core/image"],
    ["core/syntax"],
    ["core/decode"],
    ["core/render"],
    ["core/session"],
    ["gui", "cli"],
    ["app"],
]

level = {folder: i for i, line in enumerate(LAYERS) for folder in line}

# The programs see less than every layer below them: the desktop the session, the tree (through
# its model), what the renderer makes (the picture and its image tools) and the interfaces it
# implements; the command line the session, the tree it prints and the frames it writes. The
# parsing and decoding layers reach them only through the session's own headers.
SEES = {
    "gui": {"core/session", "core/render", "core/tree", "core/image", "core/base"},
    "cli": {"core/session", "core/render", "core/tree"},
}


def graph(top=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")):
    """The arrows {(from, to): {files}} between the folders of top, and the folders no layer
    names."""
    arrows = defaultdict(set)  # (from, to) -> files
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)/[^"/]+"')
    unknown = set()
    for root, _, names in os.walk(top):
        folder = os.path.relpath(root, top)
        for name in sorted(names):
            if not name.endswith((".cpp", ".h")):
                continue
            if folder not in level:
                unknown.add(folder)
                continue
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                for line in f:
                    m = include.match(line)
                    if m and m.group(1) != folder:
                        arrows[(folder, m.group(1))].add(name)
    return arrows, unknown


def main():
    arrows, unknown = graph()
    bad = {(a, b) for (a, b) in arrows
           if level.get(b, 99) >= level[a] or (a in SEES and b not in SEES[a])}
    mutual = sorted({tuple(sorted(p)) for p in arrows if (p[1], p[0]) in arrows})
    if "--dot" in sys.argv:
        print("digraph layers {\n  rankdir=BT; node [shape=box, fontname=sans];")
        for i, line in enumerate(LAYERS):
            print("  { rank=same; " + " ".join(f'"{f}";' for f in line) + " }")
        for (a, b), files in sorted(arrows.items()):
            colour = ' color="red"' if (a, b) in bad else ""
            print(f'  "{a}" -> "{b}" [label="{len(files)}"{colour}];')
        print("}")
        return 0
    for (a, b), files in sorted(arrows.items()):
        mark = " AGAINST THE LAYERS" if (a, b) in bad else ""
        print(f"{a} -> {b} ({len(files)} file{'s' if len(files) != 1 else ''}){mark}")
    for folder in sorted(unknown):
        print(f"{folder}: a folder no layer names")
    print(f"{len(arrows)} arrows, {len(bad)} against the layers, {len(mutual)} pairs both ways"
          + (": " + ", ".join(f"{a}<->{b}" for a, b in mutual) if mutual else ""))
    if "--check" in sys.argv and (bad or mutual or unknown):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
