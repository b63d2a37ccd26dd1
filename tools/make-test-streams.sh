#!/usr/bin/env bash
# Regenerates the sample streams in tests/data/ and the reference luma planes
# in tests/data/ref/. Re-runnable: every output is overwritten.
#
# Usage: tools/make-test-streams.sh [OUTDIR]     (default: tests/data)
#
# Needs ffmpeg/ffprobe, mpeg2enc/mplex (mjpegtools) and python3; installs them
# with apt-get when missing and running as root.
#
# Every encode runs single-threaded with bit-exact flags so a rerun with the
# same tool versions gives the same bytes. tests/data/README.md describes the
# output; refresh it when this script changes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../tests/data"}
mkdir -p "$out/ref"
out=$(cd "$out" && pwd)

# --- tools -------------------------------------------------------------------
need=()
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || need+=(ffmpeg)
command -v mpeg2enc >/dev/null && command -v mplex >/dev/null || need+=(mjpegtools)
command -v python3 >/dev/null || need+=(python3)
if ((${#need[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "missing: ${need[*]} (run as root or install them)" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Common ffmpeg flags: quiet, no prompts, deterministic output.
ff() {
    ffmpeg -hide_banner -nostdin -loglevel error -y "$@"
}
BITEXACT=(-fflags +bitexact -map_metadata -1 -threads 1)

# Writes the luma plane of every decoded picture, in display order, as raw
# 8-bit samples (width x height bytes per picture, no padding).
ref_luma() { # stream name
    ff -flags +bitexact -idct simple -i "$1" -map 0:v:0 -fps_mode passthrough \
        -vf extractplanes=y -f rawvideo -pix_fmt gray "$out/ref/$2.gray"
}

# Writes the two chroma planes of every decoded picture, in display order, at the
# stream's own chroma resolution: per picture the Cb plane, then the Cr plane, as
# ffmpeg's rawvideo output holds them after the luma plane.
ref_chroma() { # stream name pix_fmt width height
    ff -flags +bitexact -idct simple -i "$1" -map 0:v:0 -fps_mode passthrough \
        -f rawvideo -pix_fmt "$3" "$tmp/$2.yuv"
    python3 - "$tmp/$2.yuv" "$out/ref/$2.cbcr" "$3" "$4" "$5" <<'EOF'
import sys
src, dst, fmt, w, h = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
sx = 0 if fmt == "yuv444p" else 1
sy = 1 if fmt == "yuv420p" else 0
luma, chroma = w * h, ((w + sx) >> sx) * ((h + sy) >> sy)
data = open(src, "rb").read()
frame = luma + 2 * chroma
assert len(data) % frame == 0, "not whole frames"
with open(dst, "wb") as f:
    for i in range(0, len(data), frame):
        f.write(data[i + luma:i + frame])
EOF
}

cd "$out"

# --- 1. MPEG-1 video elementary stream ---------------------------------------
# 168x120 is not a multiple of 16 in either direction, so the coded picture is
# larger than the displayed one. Two GOPs (the second open) of I/P/B pictures.
ff -f lavfi -i "testsrc2=size=168x120:rate=25,scroll=h=0.015:v=0.01" -frames:v 10 \
    -c:v mpeg1video -flags +bitexact -bf 2 -g 6 -b:v 300k -maxrate 400k -bufsize 160k \
    "${BITEXACT[@]}" -f mpeg1video mpeg1.m1v

# --- 2. MPEG-1 system stream: the video above plus MPEG-1 Layer II audio -----
ff -i mpeg1.m1v -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=0.4" \
    -map 0:v -map 1:a -c:v copy -c:a mp2 -b:a 64k -ac 1 -flags +bitexact \
    "${BITEXACT[@]}" -f mpeg mpeg1-system.mpg

# The same two elementary streams through mplex, which writes a pack every
# 2048 bytes (ffmpeg's MPEG-1 muxer puts everything in one pack here) and an
# end code. mplex loses the tail of the last picture when the video does not
# end in a sequence end code, so one is appended to its input; the demuxed
# video is mpeg1.m1v plus those four bytes.
{ cat mpeg1.m1v; printf '\0\0\1\267'; } >"$tmp/mpeg1-end.m1v"
ff -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=0.4" \
    -c:a mp2 -b:a 64k -ac 1 -flags +bitexact "${BITEXACT[@]}" -f mp2 "$tmp/mpeg1.mp2"
mplex -v 0 -f 0 -o mpeg1-system-mplex.mpg "$tmp/mpeg1-end.m1v" "$tmp/mpeg1.mp2"

# --- 3. MPEG-2 progressive video elementary stream ---------------------------
ff -f lavfi -i "testsrc=size=176x144:rate=24,scroll=h=-0.02:v=0.012" -frames:v 10 \
    -c:v mpeg2video -flags +bitexact -bf 2 -g 6 -b:v 400k -maxrate 600k -bufsize 224k \
    -aspect 4:3 "${BITEXACT[@]}" -f mpeg2video mpeg2-progressive.m2v

# --- 3b. MPEG-2 with loaded quantiser matrices and the less common coding tools
# Both matrices are deliberately not symmetric (weights grow faster down than
# across for intra, the other way round for non-intra) so a transposed matrix
# shows up. Also: non-linear quantiser scale, alternate scan, the second intra
# VLC table (intra_vlc_format 1), 10-bit intra DC, one B picture between
# references. ffmpeg codes alternate scan as interlaced (progressive_sequence 0).
intra=() inter=()
for y in 0 1 2 3 4 5 6 7; do
    for x in 0 1 2 3 4 5 6 7; do
        intra+=($((8 + 2 * x + 4 * y)))
        inter+=($((16 + 3 * x + y)))
    done
done
intra_m=$(IFS=,; echo "${intra[*]}")
inter_m=$(IFS=,; echo "${inter[*]}")
ff -f lavfi -i "mandelbrot=size=176x144:rate=25,scroll=h=0.01:v=-0.02" -frames:v 8 \
    -c:v mpeg2video -flags +bitexact -bf 1 -g 8 -b:v 500k -maxrate 700k -bufsize 224k \
    -intra_matrix "$intra_m" -inter_matrix "$inter_m" \
    -non_linear_quant 1 -qmax 28 -alternate_scan 1 -intra_vlc 1 -dc 10 \
    "${BITEXACT[@]}" -f mpeg2video mpeg2-custom-matrix.m2v

# --- 4. MPEG-2 interlaced frame pictures -------------------------------------
# The source runs at 60000/1001 progressive frames and is woven into
# 30000/1001 interlaced frames, so the two fields of a frame really differ and
# field DCT / field prediction get used.
ff -f lavfi -i "testsrc2=size=176x144:rate=60000/1001,scroll=h=0.01:v=0.015,tinterlace=mode=interleave_top" \
    -frames:v 8 -c:v mpeg2video -flags +bitexact+ildct+ilme -top 1 -field_order tt \
    -bf 2 -g 12 -b:v 500k -maxrate 700k -bufsize 224k -aspect 16:9 \
    "${BITEXACT[@]}" -f mpeg2video mpeg2-interlaced.m2v

# --- 5. MPEG-2 4:2:2 profile --------------------------------------------------
ff -f lavfi -i "testsrc2=size=176x144:rate=25,scroll=h=-0.015:v=-0.01,format=yuv422p" \
    -frames:v 8 -c:v mpeg2video -profile:v 422 -pix_fmt yuv422p -flags +bitexact \
    -bf 2 -g 12 -b:v 400k -maxrate 600k -bufsize 448k \
    "${BITEXACT[@]}" -f mpeg2video mpeg2-422.m2v

# --- 6. MPEG-2 field pictures (made by a purpose-built encoder, see README) --
# Taken from the shared test data next to the repository; if that is not
# there, the copy already in tests/data is kept.
fieldpic_src=${FIELDPIC_SRC:-"$here/../../shared/testdata/fieldpic-cif-ipb.m2v"}
if [[ -f $fieldpic_src ]]; then
    cp -f "$fieldpic_src" mpeg2-fieldpic.m2v
    chmod 644 mpeg2-fieldpic.m2v
elif [[ ! -f mpeg2-fieldpic.m2v ]]; then
    echo "fieldpic-cif-ipb.m2v not found; set FIELDPIC_SRC" >&2
    exit 1
fi

# --- 7. MPEG-2 program streams -----------------------------------------------
# ffmpeg's DVD-style muxer: the progressive video above plus AC-3 audio in
# private stream 1.
ff -i mpeg2-progressive.m2v -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=0.42" \
    -map 0:v -map 1:a -c:v copy -c:a ac3 -b:a 96k -ac 2 -flags +bitexact \
    "${BITEXACT[@]}" -f vob mpeg2-ps.mpg

# A second encoder and a second muxer: mpeg2enc with its "tmpgenc" matrices,
# mplex in DVD mode (with navigation packs), MPEG-1 Layer II audio at 48 kHz.
ff -f lavfi -i "testsrc2=size=176x144:rate=25,scroll=h=0.02:v=0.01" -frames:v 8 \
    "${BITEXACT[@]}" -f yuv4mpegpipe -pix_fmt yuv420p "$tmp/mplex.y4m"
mpeg2enc -v 0 -M 0 -f 3 -b 800 -K tmpgenc -g 6 -G 6 -R 2 -a 2 \
    -o "$tmp/mplex.m2v" <"$tmp/mplex.y4m"
ff -f lavfi -i "sine=frequency=660:sample_rate=48000:duration=0.32" \
    -c:a mp2 -b:a 128k -ac 2 -flags +bitexact "${BITEXACT[@]}" -f mp2 "$tmp/mplex.mp2"
mplex -v 0 -f 8 -o mpeg2-ps-mplex.mpg "$tmp/mplex.m2v" "$tmp/mplex.mp2"

# --- 7b. Video of the other version than the packs' --------------------------
# What ffmpeg writes for .mpg by default: MPEG-2 video in an MPEG-1 system stream,
# once alone and once with AC-3 audio in private stream 1; and MPEG-1 video in a
# DVD-style MPEG-2 program stream. The video is copied, so each demuxes to
# mpeg2-progressive.m2v or mpeg1.m1v byte for byte.
ff -i mpeg2-progressive.m2v -c:v copy "${BITEXACT[@]}" -f mpeg mpeg2-in-mpeg1-system.mpg
ff -i mpeg2-progressive.m2v -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=0.5" \
    -map 0:v -map 1:a -c:v copy -c:a ac3 -b:a 96k -flags +bitexact \
    "${BITEXACT[@]}" -f mpeg mpeg2-ac3-in-mpeg1-system.mpg
ff -i mpeg1.m1v -c:v copy "${BITEXACT[@]}" -f vob mpeg1-in-mpeg2-ps.mpg

# --- 8. Transport stream --------------------------------------------------------
ff -f lavfi -i "smptebars=size=176x144:rate=25,scroll=h=0.03" \
    -f lavfi -i "sine=frequency=500:sample_rate=48000:duration=0.2" \
    -frames:v 5 -map 0:v -map 1:a -c:v mpeg2video -flags +bitexact -bf 0 -g 5 -q:v 8 \
    -c:a mp2 -b:a 64k -ac 1 "${BITEXACT[@]}" -f mpegts transport.ts

# --- 8b. A still picture: P pictures equal to their reference ------------------
# A flat field with a macroblock-aligned white square: the I picture decodes exactly, so the
# P pictures after it code nothing and equal it sample for sample.
ff -f lavfi -i "color=c=0x4060a0:size=64x48:rate=25,drawbox=x=16:y=16:w=16:h=16:c=white:t=fill" \
    -frames:v 3 -c:v mpeg2video -flags +bitexact -bf 0 -g 3 -q:v 2 "${BITEXACT[@]}" \
    -f mpeg2video still.m2v

# --- 9. Files that are not (complete) MPEG streams -----------------------------
: >empty.bin
printf '\0' >one-byte.bin
# 4096 bytes from a fixed-seed xorshift64 generator: same bytes on every run.
python3 - <<'EOF'
x = 0x9E3779B97F4A7C15
out = bytearray()
while len(out) < 4096:
    x ^= (x << 13) & 0xFFFFFFFFFFFFFFFF
    x ^= x >> 7
    x ^= (x << 17) & 0xFFFFFFFFFFFFFFFF
    out += x.to_bytes(8, "little")
open("random.bin", "wb").write(out)
EOF
ff -f lavfi -i "testsrc=size=64x48:rate=1" -frames:v 1 -flags +bitexact \
    "${BITEXACT[@]}" -f image2 -c:v png image.png
# mpeg2-progressive.m2v cut in the middle of the slice data of its fourth
# picture in coded order (halfway between that picture's first slice start
# code and the next start code that is not a slice).
python3 - <<'EOF'
data = open("mpeg2-progressive.m2v", "rb").read()
codes = []
i = data.find(b"\0\0\1")
while i >= 0:
    codes.append((i, data[i + 3]))
    i = data.find(b"\0\0\1", i + 3)
pics = [k for k, (_, c) in enumerate(codes) if c == 0x00]
k = pics[3]
s = next(j for j in range(k, len(codes)) if 0x01 <= codes[j][1] <= 0xAF)
first_slice = codes[s][0]
end = next((p for p, c in codes[s:] if not 0x01 <= c <= 0xAF), len(data))
cut = (first_slice + end) // 2
open("truncated.m2v", "wb").write(data[:cut])
print(f"truncated.m2v: cut at byte {cut} (picture at {codes[k][0]}, slices {first_slice}..{end})")
EOF

# --- reference luma planes -------------------------------------------------------
# Streams whose video is a byte-for-byte copy of another file share its planes:
# mpeg1-system.mpg and mpeg1-system-mplex.mpg -> mpeg1.gray,
# mpeg2-ps.mpg -> mpeg2-progressive.gray; the three of 7b likewise.
for f in mpeg1.m1v mpeg2-progressive.m2v mpeg2-custom-matrix.m2v mpeg2-interlaced.m2v \
    mpeg2-422.m2v mpeg2-fieldpic.m2v mpeg2-ps-mplex.mpg; do
    ref_luma "$f" "${f%.*}"
done
ref_chroma mpeg1.m1v mpeg1 yuv420p 168 120
for f in mpeg2-progressive.m2v mpeg2-custom-matrix.m2v mpeg2-interlaced.m2v \
    mpeg2-ps-mplex.mpg; do
    ref_chroma "$f" "${f%.*}" yuv420p 176 144
done
ref_chroma mpeg2-422.m2v mpeg2-422 yuv422p 176 144
ref_chroma mpeg2-fieldpic.m2v mpeg2-fieldpic yuv420p 352 288

ls -l "$out" "$out/ref"
