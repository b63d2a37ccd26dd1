#!/usr/bin/env python3
"""Writes an MPEG-2 video stream of large pictures, for timing the decoder against the sizes a
file claims.

    make-large-picture-stream.py WIDTH HEIGHT OUT [--pictures N] [--sparse]

The first picture is an I picture whose every macroblock is coded (flat grey, DC only); the
others are P pictures of one slice with one macroblock. With --sparse the I picture has one
macroblock too, which makes the most pictures per byte. Sizes up to 16383x16383.
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


def sequence(b, width, height):
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
    b.put(1, 2)  # 4:2:0
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


def picture(b, number, intra):
    b.start_code(0x00)
    b.put(number & 0x3FF, 10)
    b.put(1 if intra else 2, 3)
    b.put(0xFFFF, 16)
    if not intra:
        b.put(0b0111, 4)  # full_pel_forward_vector 0, forward_f_code 7
    b.put(0, 1)
    b.start_code(0xB5)
    b.put(8, 4)
    b.put(0xFFFF if intra else 0x11FF, 16)
    b.put(0, 2)  # intra_dc_precision
    b.put(3, 2)  # frame picture
    b.pattern("0100")  # top_field_first, frame_pred_frame_dct, concealment, q_scale_type
    b.pattern("000011")  # intra_vlc, alternate_scan, repeat_first, chroma_420, progressive
    b.put(0, 1)


def slice_header(b, row, height):
    b.start_code((row & 127) + 1)
    if height > 2800:
        b.put(row >> 7, 3)
    b.put(8, 5)  # quantiser_scale_code
    b.put(0, 1)  # extra_bit_slice


def intra_macroblock(b):
    # Increment 1, type intra; four luma blocks of DC size 0 then end of block, two chroma.
    b.pattern("1" "1" + "100" "10" * 4 + "00" "10" * 2)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("width", type=int)
    ap.add_argument("height", type=int)
    ap.add_argument("out")
    ap.add_argument("--pictures", type=int, default=1)
    ap.add_argument("--sparse", action="store_true")
    a = ap.parse_args()
    assert 0 < a.width < 16384 and 0 < a.height < 16384
    mb_width, mb_height = (a.width + 15) // 16, (a.height + 15) // 16
    b = Bits()
    sequence(b, a.width, a.height)
    picture(b, 0, True)
    for row in range(1 if a.sparse else mb_height):
        slice_header(b, row, a.height)
        for _ in range(1 if a.sparse else mb_width):
            intra_macroblock(b)
    for n in range(1, a.pictures):
        picture(b, n, False)
        slice_header(b, 0, a.height)
        b.pattern("1" "001" "1" "1")  # increment 1, forward motion only, zero vector
    b.start_code(0xB7)
    with open(a.out, "wb") as f:
        f.write(b.out)


if __name__ == "__main__":
    main()
