#!/usr/bin/env python3
"""The include graph of src/ between folders: every arrow from one folder to another, the pairs
of folders that include each other, and the arrows that run upward in the layer order.

    tools/include-graph.py [--check]

The layer order lists the folders from the bottom up; a folder may include only folders at its
own level or below. With --check the script exits 1 when any arrow runs upward or two folders
include each other (for the test run once the layers are in place)."""
import os
import re
import sys
from collections import defaultdict

# Bottom first. Folders on one line share a level.
LAYERS = [
    ["engine"],
    ["system", "video", "macroblock"],
    ["decode", "display", "imaging"],
    ["treeview"],
    ["cli", "app"],
]

top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
level = {folder: i for i, line in enumerate(LAYERS) for folder in line}
arrows = defaultdict(set)  # (from, to) -> files
include = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')
for folder in sorted(os.listdir(top)):
    path = os.path.join(top, folder)
    if not os.path.isdir(path):
        continue
    for name in sorted(os.listdir(path)):
        if not name.endswith((".cpp", ".h")):
            continue
        with open(os.path.join(path, name), encoding="utf-8", errors="replace") as f:
            for line in f:
                m = include.match(line)
                if m and m.group(1) != folder and os.path.isdir(os.path.join(top, m.group(1))):
                    arrows[(folder, m.group(1))].add(name)

upward = [(a, b) for (a, b) in arrows if level.get(b, -1) > level.get(a, -1)]
mutual = sorted({tuple(sorted(p)) for p in arrows if (p[1], p[0]) in arrows})
for (a, b), files in sorted(arrows.items()):
    mark = " UPWARD" if (a, b) in upward else ""
    print(f"{a} -> {b} ({len(files)} file{'s' if len(files) != 1 else ''}){mark}")
print(f"{len(arrows)} arrows, {len(upward)} upward, {len(mutual)} pairs both ways: "
      + ", ".join(f"{a}<->{b}" for a, b in mutual))
if "--check" in sys.argv and (upward or mutual):
    sys.exit(1)
