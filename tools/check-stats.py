#!/usr/bin/env python3
"""Compares bitloupe-cli stats with ffprobe on streams: picture count and types in stream and
display order, and (for program streams) the PTS of the pictures that carry one.

    tools/check-stats.py CLI FILE...

Field pairs count as one frame, as ffprobe counts them. Prints one line per file and exits 1
when any differs."""
import json
import subprocess
import sys


def ours(cli, path):
    out = subprocess.run([cli, "stats", path, "--format", "json"], capture_output=True,
                         text=True, check=True).stdout
    pictures = json.loads(out)
    frames = []
    for p in pictures:
        # The second field of a pair is the same frame as the first.
        if p["structure"] != "frame" and frames and frames[-1]["field_pair_open"]:
            frames[-1]["field_pair_open"] = False
            continue
        frames.append({"type": p["type"], "display": p["display"], "pts": p.get("pts"),
                       "field_pair_open": p["structure"] != "frame"})
    return frames


def theirs(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_frames",
                          "-show_entries", "frame=pict_type,coded_picture_number,pts",
                          "-of", "json", path], capture_output=True, text=True,
                         check=True).stdout
    return json.loads(out).get("frames", [])


def main():
    cli, files = sys.argv[1], sys.argv[2:]
    bad = 0
    for path in files:
        mine = ours(cli, path)
        ref = theirs(path)
        stream_types = "".join(f["type"] for f in mine)
        display_types = "".join(f["type"] for f in sorted(mine, key=lambda f: f["display"]))
        ref_display = "".join(f.get("pict_type", "?") for f in ref)
        ref_stream = "".join(f.get("pict_type", "?") for f in
                             sorted(ref, key=lambda f: f.get("coded_picture_number", 0)))
        ok = len(mine) == len(ref) and display_types == ref_display and stream_types == ref_stream
        pts_checked = pts_wrong = 0
        if path.endswith(".mpg"):
            by_display = sorted(mine, key=lambda f: f["display"])
            for f, r in zip(by_display, ref):
                if f["pts"] is None or "pts" not in r:
                    continue
                pts_checked += 1
                pts_wrong += f["pts"] != int(r["pts"])
        ok = ok and pts_wrong == 0
        bad += not ok
        print(f"{'ok  ' if ok else 'DIFF'} {path}: {len(mine)} frames (ffprobe {len(ref)}), "
              f"display {display_types[:40]} / {ref_display[:40]}, stream order "
              f"{'same' if stream_types == ref_stream else stream_types[:40] + ' / ' + ref_stream[:40]}"
              f", PTS {pts_checked - pts_wrong}/{pts_checked} equal")
    sys.exit(1 if bad else 0)


main()
