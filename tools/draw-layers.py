#!/usr/bin/env python3
"""Draws the layers of src/ and the include arrows between their folders as an SVG picture
(docs/layers.svg), from the same graph tools/include-graph.py checks.

    tools/draw-layers.py [OUT.svg]"""
import os
import runpy
import sys
from html import escape

here = os.path.dirname(os.path.abspath(__file__))
graph = runpy.run_path(os.path.join(here, "include-graph.py"))

WHAT = {
    "core/base": "SIMD helpers, zeroed memory, the program's texts, host and dialog interfaces",
    "core/bits": "file and PES payload readers, bit cursor, start-code scan",
    "core/tree": "tree store, item kinds, export, tree rules, item colours",
    "core/image": "picture bitmap, colour modes, filters, gamma, DCT mask",
    "core/syntax": "parse context, emitters, system / video / macroblock syntax, VLC, IDCT",
    "core/decode": "frame stores, prediction, reconstruction, the picture decoder and its own reader",
    "core/render": "selection presenter, picture facts, overlay geometry, frame output",
    "core/session": "the session: open, drivers, pause, tree commands, headless engine",
    "gui": "Qt: main frame, commands, parsing dialog, tree model and view, picture pane, dialogs",
    "cli": "bitloupe-cli: tree, decode, frames",
    "app": "the desktop program's main()",
}

W, ROW, BOXH, MARGIN = 1100, 92, 54, 20


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "docs", "layers.svg")
    arrows, _ = graph["graph"]()
    rows = len(graph["LAYERS"])
    height = rows * ROW + 2 * MARGIN + 30
    place = {}
    for i, line in enumerate(graph["LAYERS"]):
        y = MARGIN + 30 + (rows - 1 - i) * ROW
        width = (W - 2 * MARGIN - 20 * (len(line) - 1)) / len(line)
        for j, folder in enumerate(line):
            x = MARGIN + j * (width + 20)
            place[folder] = (x, y, width)
    svg = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{height}" '
           f'font-family="sans-serif">',
           '<defs><marker id="a" viewBox="0 0 10 10" refX="10" refY="5" markerWidth="7" '
           'markerHeight="7" orient="auto"><path d="M0,0 L10,5 L0,10 z" fill="#7a869a"/></marker>'
           '</defs>',
           f'<rect width="{W}" height="{height}" fill="white"/>',
           f'<text x="{MARGIN}" y="{MARGIN + 8}" font-size="15" font-weight="bold">Layers of '
           'src/: a folder includes only folders drawn below it (tools/include-graph.py '
           '--check)</text>']
    for (a, b), files in sorted(arrows.items()):
        if a not in place or b not in place:
            continue
        ax, ay, aw = place[a]
        bx, by, bw = place[b]
        # Spread the ends over the boxes' widths so that parallel arrows stay apart.
        x1 = ax + aw * (0.2 + 0.6 * (sum(map(ord, b)) % 97) / 96)
        x2 = bx + bw * (0.2 + 0.6 * (sum(map(ord, a)) % 89) / 88)
        svg.append(f'<line x1="{x1:.0f}" y1="{ay + BOXH}" x2="{x2:.0f}" y2="{by}" '
                   f'stroke="#7a869a" stroke-opacity="0.55" stroke-width="{1 + min(len(files), 6) / 3:.1f}" '
                   'marker-end="url(#a)"/>')
    for folder, (x, y, w) in place.items():
        fill = "#dbe8f7" if folder.startswith("core/") else "#f4e3c8"
        svg.append(f'<rect x="{x:.0f}" y="{y}" width="{w:.0f}" height="{BOXH}" rx="6" '
                   f'fill="{fill}" stroke="#41556b"/>')
        svg.append(f'<text x="{x + 10:.0f}" y="{y + 21}" font-size="14" font-weight="bold">'
                   f'src/{escape(folder)}/</text>')
        svg.append(f'<text x="{x + 10:.0f}" y="{y + 41}" font-size="11" fill="#333">'
                   f'{escape(WHAT.get(folder, ""))}</text>')
    svg.append("</svg>")
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(svg) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
