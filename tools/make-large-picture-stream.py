#!/usr/bin/env python3
"""Writes an MPEG-2 video stream of large pictures, for timing the decoder against the sizes a
file claims.

    make-large-picture-stream.py WIDTH HEIGHT OUT [--pictures N] [--sparse] [--skip-all]
                                 [--b-pictures] [--chroma 1|2|3] [--switch-to SIDE]

The first picture is an I picture whose every macroblock is coded (flat grey, DC only); the
others are P pictures of one slice with one macroblock. With --sparse the I picture has one
macroblock too, which makes the most pictures per byte. With --skip-all each P picture codes
its first and last macroblock and skips every one between, the most macroblocks per byte.
With --b-pictures the pictures after the second are B pictures predicting from both the I and
the P picture. --chroma sets the chroma format (4:2:0, 4:2:2, 4:4:4). With --switch-to
every picture has a sequence header of its own, and every second one is SIDExSIDE. Sizes up to
16383x16383.
"""
import argparse


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, count):
        for i in range(count - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                self.acc = self.n = 0

    def pattern(self, s):
        for c in s:
            self.put(int(c), 1)

    def align(self):
        while self.n:
            self.put(0, 1)

    def start_code(self, code):
        self.align()
        self.put(0x00000100 | code, 32)


def sequence(b, width, height, chroma=1):
    b.start_code(0xB3)
    b.put(width & 0xFFF, 12)
    b.put(height & 0xFFF, 12)
    b.put(1, 4)  # square pels
    b.put(3, 4)  # 25 fps
    b.put(0x3FFFF, 18)
    b.put(1, 1)
    b.put(112, 10)
    b.put(0, 3)  # constrained parameters, no matrices
    b.start_code(0xB5)
    b.put(1, 4)
    b.put(0x44, 8)  # high profile, high level
    b.put(1, 1)  # progressive
    b.put(chroma, 2)
    b.put(width >> 12, 2)
    b.put(height >> 12, 2)
    b.put(0, 12)
    b.put(1, 1)
    b.put(0, 8)
    b.put(0, 1)
    b.put(0, 7)
    b.start_code(0xB8)
    b.put(1 << 12, 25)  # 0:00:00:00 with its marker bit
    b.put(0b10, 2)  # closed


def picture(b, number, kind):
    """kind: 1 I, 2 P, 3 B."""
    b.start_code(0x00)
    b.put(number & 0x3FF, 10)
    b.put(kind, 3)
    b.put(0xFFFF, 16)
    for _ in range(kind - 1):
        b.put(0b0111, 4)  # full_pel_..._vector 0, ..._f_code 7
    b.put(0, 1)
    b.start_code(0xB5)
    b.put(8, 4)
    b.put({1: 0xFFFF, 2: 0x11FF, 3: 0x1111}[kind], 16)
    b.put(0, 2)  # intra_dc_precision
    b.put(3, 2)  # frame picture
    b.pattern("0100")  # top_field_first, frame_pred_frame_dct, concealment, q_scale_type
    b.pattern("000")  # intra_vlc_format, alternate_scan, repeat_first_field
    b.pattern("110")  # chroma_420_type, progressive_frame, composite_display_flag


def slice_header(b, row, height):
    b.start_code((row & 127) + 1)
    if height > 2800:
        b.put(row >> 7, 3)
    b.put(8, 5)  # quantiser_scale_code
    b.put(0, 1)  # extra_bit_slice


def intra_macroblock(b, chroma=1):
    # Increment 1, type intra; four luma blocks of DC size 0 then end of block, the chroma ones.
    b.pattern("1" "1" + "100" "10" * 4 + "00" "10" * (2 << chroma >> 1 if chroma < 3 else 8))


# macroblock_address_increment 1..33 and the escape that adds 33.
INCREMENTS = ["1", "011", "010", "0011", "0010", "00011", "00010", "0000111", "0000110",
              "00001011", "00001010", "00001001", "00001000", "00000111", "00000110",
              "0000010111", "0000010110", "0000010101", "0000010100", "0000010011",
              "0000010010", "00000100011", "00000100010", "00000100001", "00000100000",
              "00000011111", "00000011110", "00000011101", "00000011100", "00000011011",
              "00000011010", "00000011001", "00000011000"]
ESCAPE = "00000001000"


def predicted_macroblock(b, increment, kind):
    """A P or B macroblock with zero vectors (both for B) and no blocks, after skipping
    increment - 1."""
    escapes, rest = divmod(increment - 1, 33)
    b.pattern(ESCAPE * escapes + INCREMENTS[rest])
    b.pattern("001" "1" "1" if kind == 2 else "10" "1" "1" "1" "1")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("width", type=int)
    ap.add_argument("height", type=int)
    ap.add_argument("out")
    ap.add_argument("--pictures", type=int, default=1)
    ap.add_argument("--sparse", action="store_true")
    ap.add_argument("--skip-all", action="store_true")
    ap.add_argument("--b-pictures", action="store_true")
    ap.add_argument("--chroma", type=int, choices=[1, 2, 3], default=1)
    ap.add_argument("--switch-to", type=int, default=0)
    a = ap.parse_args()
    assert 0 < a.width < 16384 and 0 < a.height < 16384
    mb_width, mb_height = (a.width + 15) // 16, (a.height + 15) // 16
    b = Bits()
    sequence(b, a.width, a.height, a.chroma)
    picture(b, 0, 1)
    for row in range(1 if a.sparse else mb_height):
        slice_header(b, row, a.height)
        for _ in range(1 if a.sparse else mb_width):
            intra_macroblock(b, a.chroma)
    for n in range(1, a.pictures):
        kind = 3 if a.b_pictures and n > 1 else 2
        height = a.height
        if a.switch_to:
            side = a.switch_to if n % 2 else a.width
            height = a.switch_to if n % 2 else a.height
            sequence(b, side, height, a.chroma)
        picture(b, n, kind)
        slice_header(b, 0, height)
        predicted_macroblock(b, 1, kind)
        if a.skip_all and mb_width * mb_height > 1:
            predicted_macroblock(b, mb_width * mb_height - 1, kind)
    b.start_code(0xB7)
    with open(a.out, "wb") as f:
        f.write(b.out)


if __name__ == "__main__":
    main()
