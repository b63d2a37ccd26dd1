#!/usr/bin/env python3
"""Generates the Bitloupe icon set (SVG Tiny 1.2 compatible).

Conventions: 16x16 grid; "pixel" coordinates are integers, a pixel (x, y)
covers [x, x+1] x [y, y+1].  Designs are centred on pixel 8 (coordinate 8.5)
and use odd widths so centre lines fall on whole pixels.  1px outlines are
drawn as rects inset by half a pixel.
"""
import os
import sys

OUT_DIR = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "icons")

# ---------------------------------------------------------------- palette
INK = "#36404e"      # outlines, dark glyphs
GREY = "#7d8796"     # neutral strokes
LGREY = "#d9dee5"    # neutral fills
WHITE = "#ffffff"
PURPLE, PURPLE_D, LPURPLE = "#7e4fc9", "#5b34a0", "#e7ddf8"
TEAL, TEAL_D, LTEAL = "#14948f", "#0b6d69", "#cbefed"
BLUE, BLUE_D, LBLUE = "#2f6fd6", "#1c4fa6", "#d3e3fc"
GREEN, GREEN_D, LGREEN = "#2f9a48", "#1f7234", "#d4f0da"
SLATE, SLATE_D, LSLATE = "#5a6b85", "#3f4d63", "#dfe5ee"
RED, RED_D, LRED = "#dc3a31", "#a8241e", "#fbd6d3"
ORANGE, ORANGE_D = "#f28c0f", "#b86100"
YELLOW, YELLOW_D = "#f5c13c", "#b8860f"
TAN, TAN_D, LTAN = "#c98f4a", "#8f5f26", "#f2dcba"
# luma / chroma blocks
Y_FILL, Y_STROKE = "#eef1f5", "#5f6a7a"
CB_FILL, CB_STROKE = "#3d7fe0", "#1b4ea3"
CR_FILL, CR_STROKE = "#e4473e", "#9e211b"


# ---------------------------------------------------------------- helpers
def svg(body, size=16):
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        f'<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" '
        f'width="{size}" height="{size}" viewBox="0 0 {size} {size}">\n'
        + "".join("  " + e + "\n" for e in body if e)
        + "</svg>\n"
    )


def n(v):
    """Compact number formatting."""
    if abs(v - round(v)) < 1e-9:
        return str(int(round(v)))
    return ("%.3f" % v).rstrip("0").rstrip(".")


def fill(x0, y0, x1, y1, color, extra=""):
    """Solid pixels x0..x1, y0..y1 inclusive."""
    return (f'<rect x="{n(x0)}" y="{n(y0)}" width="{n(x1 - x0 + 1)}" '
            f'height="{n(y1 - y0 + 1)}" fill="{color}"{extra}/>')


def box(x0, y0, x1, y1, stroke, fillc="none", extra=""):
    """1px outline whose outer pixels are x0..x1, y0..y1 (inclusive)."""
    return (f'<rect x="{n(x0 + .5)}" y="{n(y0 + .5)}" width="{n(x1 - x0)}" '
            f'height="{n(y1 - y0)}" fill="{fillc}" stroke="{stroke}"{extra}/>')


def rbox(x0, y0, x1, y1, color):
    """Filled rectangle with its four corner pixels cut (crisp rounding)."""
    X0, Y0, X1, Y1 = x0, y0, x1 + 1, y1 + 1
    d = (f"M{X0 + 1} {Y0}H{X1 - 1}V{Y0 + 1}H{X1}V{Y1 - 1}H{X1 - 1}V{Y1}"
         f"H{X0 + 1}V{Y1 - 1}H{X0}V{Y0 + 1}H{X0 + 1}Z")
    return f'<path d="{d}" fill="{color}"/>'


def rbox_outline(x0, y0, x1, y1, stroke, fillc):
    """Outline drawn with cut corners: filled stroke colour, then inner fill."""
    return [rbox(x0, y0, x1, y1, stroke), fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fillc)]


def pixels(points, color):
    """Individual pixels merged into horizontal runs."""
    rows = {}
    for (x, y) in points:
        rows.setdefault(y, set()).add(x)
    out = []
    for y in sorted(rows):
        xs = sorted(rows[y])
        start = prev = xs[0]
        for x in xs[1:] + [None]:
            if x is not None and x == prev + 1:
                prev = x
                continue
            out.append(fill(start, y, prev, y, color))
            if x is not None:
                start = prev = x
    return out


def dashed_box(x0, y0, x1, y1, color, on=2, off=1):
    """Pixel-exact dashed outline."""
    per = []
    for x in range(x0, x1 + 1):
        per.append((x, y0))
    for y in range(y0 + 1, y1 + 1):
        per.append((x1, y))
    for x in range(x1 - 1, x0 - 1, -1):
        per.append((x, y1))
    for y in range(y1 - 1, y0, -1):
        per.append((x0, y))
    pts = [p for i, p in enumerate(per) if (i % (on + off)) < on]
    return pixels(pts, color)


FONT = {
    "S": ["###", "#..", "###", "..#", "###"],
    "E": ["###", "#..", "##.", "#..", "###"],
    "Q": ["###", "#.#", "#.#", "###", "..#"],
    "G": ["###", "#..", "#.#", "#.#", "###"],
    "O": ["###", "#.#", "#.#", "#.#", "###"],
    "P": ["###", "#.#", "###", "#..", "#.."],
    "I": ["###", ".#.", ".#.", ".#.", "###"],
    "C": ["###", "#..", "#..", "#..", "###"],
    "L": ["#..", "#..", "#..", "#..", "###"],
    "H": ["#.#", "#.#", "###", "#.#", "#.#"],
    "M": ["#...#", "##.##", "#.#.#", "#...#", "#...#"],
    "B": ["##.", "#.#", "##.", "#.#", "##."],
    "0": ["###", "#.#", "#.#", "#.#", "###"],
    "1": [".#.", "##.", ".#.", ".#.", "###"],
}


def text_width(s):
    return sum(len(FONT[c][0]) for c in s) + len(s) - 1


def text(s, x, y, color):
    pts = []
    for c in s:
        g = FONT[c]
        for r, row in enumerate(g):
            for k, ch in enumerate(row):
                if ch == "#":
                    pts.append((x + k, y + r))
        x += len(g[0]) + 1
    return pixels(pts, color)


def badge(s, color, x0=1, x1=15, y0=4, y1=12):
    """Header mark: coloured badge with pixel lettering."""
    w = text_width(s)
    tx = x0 + (x1 - x0 + 1 - w) // 2
    ty = y0 + (y1 - y0 + 1 - 5) // 2
    return [rbox(x0, y0, x1, y1, color)] + text(s, tx, ty, WHITE)


def red_cross(x0=9, y0=9, x1=15, y1=15):
    """Red X with a white halo (pixel-aligned diagonals)."""
    a0, b0, a1, b1 = x0, y0, x1 + 1, y1 + 1
    d = f"M{a0 + 1} {b0 + 1}L{a1 - 1} {b1 - 1}M{a1 - 1} {b0 + 1}L{a0 + 1} {b1 - 1}"
    return [f'<path d="{d}" stroke="{WHITE}" stroke-width="4.2" stroke-linecap="round" fill="none"/>',
            f'<path d="{d}" stroke="{RED}" stroke-width="2" stroke-linecap="round" fill="none"/>']


# ---------------------------------------------------------------- shared glyphs
def macroblock(stroke, cell_fills, x0=1, y0=1, x1=15, y1=15, dashed=False):
    """2x2 grid of blocks; odd size so the dividers fall on whole pixels."""
    cx = (x0 + x1) // 2
    cy = (y0 + y1) // 2
    out = []
    if not dashed:
        out.append(fill(x0 + 1, y0 + 1, cx - 1, cy - 1, cell_fills[0]))
        out.append(fill(cx + 1, y0 + 1, x1 - 1, cy - 1, cell_fills[1]))
        out.append(fill(x0 + 1, cy + 1, cx - 1, y1 - 1, cell_fills[2]))
        out.append(fill(cx + 1, cy + 1, x1 - 1, y1 - 1, cell_fills[3]))
        out.append(box(x0, y0, x1, y1, stroke))
        out.append(fill(cx, y0 + 1, cx, y1 - 1, stroke))
        out.append(fill(x0 + 1, cy, x1 - 1, cy, stroke))
    else:
        out += dashed_box(x0, y0, x1, y1, stroke, 2, 1)
        pts = [(cx, y) for y in range(y0 + 2, y1 - 1) if (y - y0) % 3 != 0]
        pts += [(x, cy) for x in range(x0 + 2, x1 - 1) if (x - x0) % 3 != 0]
        out += pixels(pts, stroke)
    return out


MB_CELLS = ["#c3cfdf", "#e6ebf2", "#e6ebf2", "#c3cfdf"]


def block(kind, x0=3, y0=3, x1=13, y1=13, hollow=False):
    f, s = {"Y": (Y_FILL, Y_STROKE), "Cb": (CB_FILL, CB_STROKE), "Cr": (CR_FILL, CR_STROKE)}[kind]
    if hollow:
        col = {"Y": "#7d8796", "Cb": CB_FILL, "Cr": CR_FILL}[kind]
        return dashed_box(x0, y0, x1, y1, col, 2, 1) + \
            [fill(x0 + 3, y0 + 3, x1 - 3, y1 - 3, {"Y": "#c9ced6", "Cb": "#b9d0f5", "Cr": "#f6c3bf"}[kind])]
    out = [box(x0, y0, x1, y1, s, f)]
    # light "coefficient" texture: a brighter top-left pixel block
    hl = {"Y": WHITE, "Cb": "#7aa9ef", "Cr": "#f08a83"}[kind]
    sh = {"Y": "#c4cad3", "Cb": "#2b66c4", "Cr": "#c4322a"}[kind]
    out.append(fill(x0 + 1, y0 + 1, x0 + 3, y0 + 3, hl))
    out.append(fill(x1 - 3, y1 - 3, x1 - 1, y1 - 1, sh))
    return out


def picture_frame(stroke=BLUE_D, bg=LBLUE, x0=1, y0=2, x1=15, y1=14):
    return [box(x0, y0, x1, y1, stroke, bg)]


def document(x0=3, y0=1, x1=13, y1=15, lines=True, fold=4):
    X0, Y0, X1, Y1 = x0 + .5, y0 + .5, x1 + .5, y1 + .5
    d = f"M{n(X0)} {n(Y0)}H{n(X1 - fold)}L{n(X1)} {n(Y0 + fold)}V{n(Y1)}H{n(X0)}Z"
    out = [f'<path d="{d}" fill="{WHITE}" stroke="{INK}" stroke-linejoin="round"/>',
           f'<path d="M{n(X1 - fold)} {n(Y0)}V{n(Y0 + fold)}H{n(X1)}" fill="{LGREY}" stroke="{INK}" stroke-linejoin="round"/>']
    if lines:
        for yy in range(y0 + 6, y1 - 1, 2):
            out.append(fill(x0 + 2, yy, x1 - 2, yy, "#aeb6c2"))
        out.append(fill(x0 + 2, y0 + 3, x1 - fold - 2, y0 + 3, "#aeb6c2"))
    return out


def field_picture(which, x0=1, y0=2, x1=15, y1=14, stroke=BLUE_D):
    """Frame with interlaced lines; which in {'top','bottom','both'}."""
    out = [box(x0, y0, x1, y1, stroke, WHITE)]
    mid = (y0 + y1) // 2
    # upper half rows y0+1 .. mid-1, lower half mid+1 .. y1-1, divider row = mid
    def stripes(ya, yb, c1, c2):
        o = []
        for i, yy in enumerate(range(ya, yb + 1)):
            o.append(fill(x0 + 1, yy, x1 - 1, yy, c1 if i % 2 == 0 else c2))
        return o
    if which in ("top", "both"):
        out += stripes(y0 + 1, mid, BLUE, "#8fb5f0")
    else:
        out.append(fill(x0 + 1, y0 + 1, x1 - 1, mid, "#eef3fb"))
    if which in ("bottom", "both"):
        out += stripes(mid + 1, y1 - 1, BLUE, "#8fb5f0") if which == "bottom" else \
            stripes(mid + 1, y1 - 1, "#8fb5f0", BLUE)
    else:
        out.append(fill(x0 + 1, mid + 1, x1 - 1, y1 - 1, "#eef3fb"))
    return out


def save_arrow():
    """Green 'save' arrow into a tray, bottom right, with a white halo."""
    head = "M8.5 10.5H15.5L12 14Z"
    return [
        fill(8, 15, 15, 15, WHITE),
        f'<path d="M10 7.5H14V10H16V11L12 15L8 11V10H10Z" fill="{WHITE}"/>',
        fill(11, 7, 12, 7, WHITE),
        fill(11, 8, 12, 10, GREEN),
        f'<path d="M9 11H15L12 14Z" fill="{GREEN}"/>',
    ]


# ---------------------------------------------------------------- tree icons
T = {}

# 0 ordinary syntax field
T[0] = [box(5, 5, 11, 11, "#6f7d90", "#dde3ea"), fill(7, 7, 9, 9, "#8d9aab")]

# 1 video stream root: film strip
T[1] = [fill(1, 2, 15, 14, INK)]
T[1] += pixels([(x, 3) for x in range(2, 15, 2)] + [(x, 13) for x in range(2, 15, 2)], WHITE)
T[1] += [fill(2, 5, 7, 11, "#9cc0f4"), fill(9, 5, 14, 11, "#9cc0f4"),
         fill(2, 9, 7, 11, BLUE), fill(9, 8, 14, 11, BLUE)]

# 2 sequence header
T[2] = badge("SEQ", PURPLE)

# 3 GOP container: stacked frames
T[3] = [box(5, 2, 15, 10, TEAL_D, LTEAL), box(3, 4, 13, 12, TEAL_D, LTEAL),
        box(1, 6, 11, 14, TEAL_D, WHITE), fill(2, 10, 10, 13, TEAL),
        '<path d="M2 10L5 7.5L8 10Z" fill="%s"/>' % TEAL]

# 4 GOP header
T[4] = badge("GOP", TEAL)

# 5 frame picture: framed landscape
T[5] = [box(1, 2, 15, 14, BLUE_D, LBLUE),
        '<circle cx="11.5" cy="6" r="1.5" fill="%s"/>' % YELLOW,
        '<path d="M2 13V11L6 6.5L9.5 10.5L11 9L15 13Z" fill="%s"/>' % BLUE]

# 6/7 field pictures
T[6] = field_picture("top")
T[7] = field_picture("bottom")

# 8 picture header
T[8] = badge("PIC", BLUE)

# 9 slice: horizontal band across a frame
T[9] = [box(1, 2, 15, 14, GREY, WHITE),
        fill(1, 6, 15, 10, GREEN_D), fill(2, 7, 14, 9, GREEN)] + \
    pixels([(x, 8) for x in (5, 9, 12)], "#9ddcab")

# 10 slice header
T[10] = badge("SL", GREEN)

# 11 macroblock
T[11] = macroblock(SLATE_D, MB_CELLS)

# 12 skipped macroblock
T[12] = macroblock("#98a2b0", None, dashed=True)

# 13 macroblock header
T[13] = badge("MB", SLATE)

# 14-16 coded blocks
T[14] = block("Y")
T[15] = block("Cb")
T[16] = block("Cr")
# 17-19 skipped blocks
T[17] = block("Y", hollow=True)
T[18] = block("Cb", hollow=True)
T[19] = block("Cr", hollow=True)

# 20 variable-length code
T[20] = text("01", 5, 2, INK) + [
    box(1, 10, 15, 14, INK, WHITE), fill(2, 11, 9, 13, BLUE),
    fill(10, 11, 10, 13, INK)]

# 21 virtual / derived value: dotted outline with "="
T[21] = pixels([(x, 2) for x in range(2, 15, 2)] + [(x, 14) for x in range(2, 15, 2)]
               + [(2, y) for y in range(4, 14, 2)] + [(14, y) for y in range(4, 14, 2)],
               "#8a7bb0") + [fill(5, 6, 11, 7, PURPLE), fill(5, 9, 11, 10, PURPLE)]

# 22 end of video stream: arrow into a stop bar
T[22] = [fill(1, 7, 7, 9, PURPLE), '<path d="M7 3.5L12 8.5L7 13.5Z" fill="%s"/>' % PURPLE,
         fill(13, 2, 14, 14, PURPLE_D)]

# 23 audio stream: speaker with waves
T[23] = [f'<path d="M1.5 6.5H4.5L8.5 2.5V14.5L4.5 10.5H1.5Z" fill="{LGREY}" stroke="{INK}" stroke-linejoin="round"/>',
         f'<path d="M10.5 6A3.5 3.5 0 0 1 10.5 11" fill="none" stroke="{TEAL}" stroke-width="1.4" stroke-linecap="round"/>',
         f'<path d="M12.5 3.5A6.5 6.5 0 0 1 12.5 13.5" fill="none" stroke="{TEAL}" stroke-width="1.4" stroke-linecap="round"/>']

# 24 other streams: parcel
T[24] = [box(2, 6, 14, 14, TAN_D, LTAN), box(1, 3, 15, 6, TAN_D, TAN),
         fill(7, 4, 9, 5, "#f5e3c6"), fill(7, 7, 9, 13, "#e8c48f"),
         fill(4, 9, 5, 9, TAN_D), fill(4, 11, 5, 11, TAN_D)]

# 25 program stream root: multiplexed packets
T[25] = [fill(1, 2, 3, 4, BLUE_D), fill(4, 2, 10, 4, BLUE),
         fill(5, 7, 7, 9, TEAL_D), fill(8, 7, 15, 9, TEAL),
         fill(1, 12, 3, 14, PURPLE_D), fill(4, 12, 11, 14, PURPLE),
         fill(12, 2, 15, 4, "#b9c2cf"), fill(1, 7, 3, 9, "#b9c2cf"), fill(13, 12, 15, 14, "#b9c2cf")]

# 26 transport stream / not supported
T[26] = [box(1, 1, 5, 5, GREY, LGREY), box(7, 1, 11, 5, GREY, LGREY),
         box(1, 7, 5, 11, GREY, LGREY), fill(2, 2, 4, 2, GREY), fill(8, 2, 10, 2, GREY), fill(2, 8, 4, 8, GREY),
         '<circle cx="11" cy="11" r="5" fill="%s"/>' % WHITE,
         '<circle cx="11" cy="11" r="3.6" fill="none" stroke="%s" stroke-width="1.6"/>' % RED,
         '<path d="M8.6 13.4L13.4 8.6" stroke="%s" stroke-width="1.6"/>' % RED]

# 27 file root: document
T[27] = document()

# 28 decoded and shown: eye
T[28] = [f'<path d="M0.8 8.5C3 4.6 5.6 3.5 8.5 3.5S14 4.6 16.2 8.5C14 12.4 11.4 13.5 8.5 13.5S3 12.4 0.8 8.5Z" fill="{WHITE}" stroke="{INK}" stroke-linejoin="round"/>',
         f'<circle cx="8.5" cy="8.5" r="3.2" fill="{BLUE}"/>',
         f'<circle cx="8.5" cy="8.5" r="1.4" fill="{INK}"/>',
         f'<circle cx="9.6" cy="7.3" r="0.8" fill="{WHITE}"/>']

# 29 macroblock whose parse failed (the same red cross as the blocks with errors)
T[29] = macroblock(SLATE_D, MB_CELLS, 1, 1, 11, 11) + red_cross()

# 30 macroblock header where the parse failed
T[30] = badge("MB", SLATE, x0=0, x1=12, y0=2, y1=10) + red_cross()

# 31-33 blocks with errors
T[31] = block("Y", 1, 1, 11, 11) + red_cross()
T[32] = block("Cb", 1, 1, 11, 11) + red_cross()
T[33] = block("Cr", 1, 1, 11, 11) + red_cross()

# 34 slice whose macroblocks stopped on an error: the slice band with the red cross
T[34] = [box(1, 1, 13, 11, GREY, WHITE),
         fill(1, 4, 13, 8, GREEN_D), fill(2, 5, 12, 7, GREEN)] + red_cross()

# 35 error: red disc with "!"
T[35] = [f'<circle cx="8.5" cy="8.5" r="7" fill="{RED}"/>',
         f'<circle cx="8.5" cy="8.5" r="6.5" fill="none" stroke="{RED_D}"/>',
         fill(7, 3, 9, 9, WHITE), fill(7, 11, 9, 13, WHITE)]

# 36 not a valid video file
T[36] = document(x0=1, x1=11) + red_cross()


# ---------------------------------------------------------------- toolbar
TB = {}
TB["tb-open"] = [
    f'<path d="M1.5 13.5V2.5H6L7.5 4H13.5V6.5" fill="{YELLOW}" stroke="{YELLOW_D}" stroke-linejoin="round"/>',
    f'<path d="M1.5 13.5L4 7.5H15.5L13 13.5Z" fill="#fbe08f" stroke="{YELLOW_D}" stroke-linejoin="round"/>',
]
TB["tb-save-frame"] = field_picture("both", 0, 1, 12, 11) + save_arrow()
TB["tb-save-top"] = field_picture("top", 0, 1, 12, 11) + save_arrow()
TB["tb-save-bottom"] = field_picture("bottom", 0, 1, 12, 11) + save_arrow()
TB["tb-save-snapshot"] = [
    f'<path d="M5 4.5L6.5 2.5H10.5L12 4.5Z" fill="{INK}"/>',
    rbox(1, 4, 15, 14, INK),
    fill(2, 6, 3, 6, ORANGE),
    f'<circle cx="8.5" cy="9.5" r="4" fill="{WHITE}"/>',
    f'<circle cx="8.5" cy="9.5" r="2.8" fill="{BLUE}"/>',
    f'<circle cx="7.6" cy="8.6" r="0.9" fill="{LBLUE}"/>',
]
TB["tb-save-mb-big"] = macroblock(SLATE_D, MB_CELLS, 0, 0, 12, 12) + save_arrow()
TB["tb-save-mb-small"] = macroblock(SLATE_D, MB_CELLS, 1, 1, 7, 7) + save_arrow()
TB["tb-about"] = [f'<circle cx="8.5" cy="8.5" r="7" fill="{BLUE}"/>',
                  f'<circle cx="8.5" cy="8.5" r="6.5" fill="none" stroke="{BLUE_D}"/>',
                  fill(7, 3, 9, 5, WHITE), fill(6, 7, 9, 7, WHITE), fill(7, 8, 9, 12, WHITE),
                  fill(6, 13, 10, 13, WHITE)]
TB["tb-exit"] = [
    box(1, 1, 10, 15, INK, LGREY),
    f'<path d="M1.5 1.5L7.5 3.5V15.5L1.5 14.5Z" fill="{TAN}" stroke="{TAN_D}" stroke-linejoin="round"/>',
    fill(5, 8, 5, 9, TAN_D),
    fill(8, 7, 12, 9, RED),
    f'<path d="M11 3.5L16 8L11 12.5Z" fill="{RED}"/>',
]


def magnifier(lens_stroke, lens_fill, handle, glint):
    return [f'<circle cx="6.5" cy="6.5" r="4.75" fill="{lens_fill}" stroke="{lens_stroke}" stroke-width="1.5"/>',
            f'<path d="M10.2 10.2L14.2 14.2" stroke="{handle}" stroke-width="2.6" stroke-linecap="round"/>',
            f'<path d="M4 6.2A2.6 2.6 0 0 1 6.4 3.8" fill="none" stroke="{glint}" stroke-width="1.1" stroke-linecap="round"/>']


TB["search"] = magnifier(INK, WHITE, INK, "#b3bac4")
TB["search-hot"] = magnifier(BLUE_D, LBLUE, BLUE, WHITE)
TB["colors"] = [
    f'<path d="M8.5 1.5C12.6 1.5 15.5 4.2 15.5 7.6C15.5 10.4 13.4 11 11.8 10.8C10.2 10.6 9.6 11.6 10.2 12.8C10.9 14.2 9.9 15.5 8 15.5C4.1 15.5 1.5 12.3 1.5 8.5C1.5 4.6 4.5 1.5 8.5 1.5Z" fill="{LTAN}" stroke="{TAN_D}" stroke-linejoin="round"/>',
    f'<circle cx="5" cy="9" r="1.6" fill="{RED}"/>',
    f'<circle cx="5.6" cy="5" r="1.6" fill="{YELLOW}"/>',
    f'<circle cx="9.4" cy="4.1" r="1.6" fill="{GREEN}"/>',
    f'<circle cx="12.6" cy="6.7" r="1.6" fill="{BLUE}"/>',
    f'<circle cx="6.8" cy="12.6" r="1.3" fill="{PURPLE}"/>',
]


# ---------------------------------------------------------------- app icon
def app_icon():
    e = []
    e.append('<linearGradient id="bg" x1="0" y1="0" x2="0" y2="64" gradientUnits="userSpaceOnUse">'
             '<stop offset="0" stop-color="#27406f"/><stop offset="1" stop-color="#14213d"/></linearGradient>')
    e.append('<linearGradient id="rim" x1="18" y1="12" x2="50" y2="46" gradientUnits="userSpaceOnUse">'
             '<stop offset="0" stop-color="#ffd46b"/><stop offset="1" stop-color="#e98a0c"/></linearGradient>')
    e.append('<rect x="3" y="3" width="58" height="58" rx="12" fill="url(#bg)"/>')
    # picture made of 8x8-ish blocks
    cols = ["#3d7fe0", "#5b9bf0", "#2a5fb8", "#19a39d", "#7ecfe0", "#7e4fc9", "#9fc3f7", "#2f9a48"]
    pattern = [
        "01234",
        "12046",
        "60213",
        "27105",
        "42617",
    ]
    x0, y0, step, size = 9, 9, 9, 8
    for r, row in enumerate(pattern):
        for c, ch in enumerate(row):
            e.append(f'<rect x="{x0 + c * step}" y="{y0 + r * step}" width="{size}" height="{size}" '
                     f'rx="1" fill="{cols[int(ch)]}"/>')
    # handle
    e.append('<path d="M40 40L54 54" stroke="#0f1830" stroke-width="10" stroke-linecap="round"/>')
    e.append('<path d="M40 40L54 54" stroke="url(#rim)" stroke-width="7" stroke-linecap="round"/>')
    # lens: magnified 2x2 macroblock made of four quarter sectors
    cx, cy, rr = 30, 30, 14
    quad = ["#e4473e", "#f6f8fb", "#3d7fe0", "#f5c13c"]
    e.append(f'<circle cx="{cx}" cy="{cy}" r="{rr + 5}" fill="#0f1830"/>')
    sec = [
        (f"M{cx} {cy}H{cx - rr}A{rr} {rr} 0 0 1 {cx} {cy - rr}Z", quad[0]),
        (f"M{cx} {cy}V{cy - rr}A{rr} {rr} 0 0 1 {cx + rr} {cy}Z", quad[1]),
        (f"M{cx} {cy}H{cx + rr}A{rr} {rr} 0 0 1 {cx} {cy + rr}Z", quad[3]),
        (f"M{cx} {cy}V{cy + rr}A{rr} {rr} 0 0 1 {cx - rr} {cy}Z", quad[2]),
    ]
    for d, c in sec:
        e.append(f'<path d="{d}" fill="{c}"/>')
    e.append(f'<path d="M{cx - rr} {cy}H{cx + rr}M{cx} {cy - rr}V{cy + rr}" stroke="#14213d" stroke-width="2"/>')
    # rim
    e.append(f'<circle cx="{cx}" cy="{cy}" r="{rr + 1.5}" fill="none" stroke="url(#rim)" stroke-width="5"/>')
    e.append(f'<path d="M{cx - 9} {cy - 5}A10 10 0 0 1 {cx - 3} {cy - 10}" fill="none" stroke="#ffffff" '
             f'stroke-opacity="0.75" stroke-width="2.5" stroke-linecap="round"/>')
    return svg(e, 64)


# ---------------------------------------------------------------- write
def main():
    os.makedirs(OUT_DIR, exist_ok=True)
    names = []
    for i in range(37):
        name = "tree-%02d.svg" % i
        with open(os.path.join(OUT_DIR, name), "w") as f:
            f.write(svg(T[i]))
        names.append(name)
    for k, v in TB.items():
        name = k + ".svg"
        with open(os.path.join(OUT_DIR, name), "w") as f:
            f.write(svg(v))
        names.append(name)
    with open(os.path.join(OUT_DIR, "bitloupe.svg"), "w") as f:
        f.write(app_icon())
    names.append("bitloupe.svg")
    qrc = os.path.join(os.path.dirname(OUT_DIR.rstrip("/")), "icons.qrc")
    with open(qrc, "w") as f:
        f.write('<!DOCTYPE RCC>\n<RCC version="1.0">\n  <qresource prefix="/icons">\n')
        for nm in names:
            f.write(f'    <file alias="{nm}">icons/{nm}</file>\n')
        f.write("  </qresource>\n</RCC>\n")
    print("\n".join(names))


if __name__ == "__main__":
    main()
