#!/usr/bin/env bash
# The command-line contract: exit codes, refusal messages on stderr, the file item printed.
set -u
cli="$1"
data="$2"
fail=0
check() {  # description, condition
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi
}
for f in empty.bin one-byte.bin random.bin image.png; do
  out=$("$cli" tree "$data/$f" 2>/tmp/cli-err-$$); rc=$?
  check "$f exits 2" "[ $rc -eq 2 ]"
  check "$f message" "[ \"\$(cat /tmp/cli-err-$$)\" = 'This file is not a valid MPEG-1 or MPEG-2 video!' ]"
  check "$f file item" "echo \"\$out\" | grep -q \$'^\\tSize: '"
done
out=$("$cli" tree "$data/transport.ts" 2>/tmp/cli-err-$$); rc=$?
check "ts exits 2" "[ $rc -eq 2 ]"
check "ts message" "[ \"\$(cat /tmp/cli-err-$$)\" = 'TS MPEG-2 video has not been supported at current stage!' ]"
check "ts item" "echo \"\$out\" | grep -qx 'Transport Stream (MPEG-2, to be supported)'"
"$cli" tree /nonexistent.mpg >/dev/null 2>&1; rc=$?
check "missing file exits 1" "[ $rc -eq 1 ]"
"$cli" tree >/dev/null 2>&1; rc=$?
check "usage exits 1" "[ $rc -eq 1 ]"
"$cli" tree "$data/mpeg2-ps.mpg" --mode nonsense >/dev/null 2>&1; rc=$?
check "bad option exits 1" "[ $rc -eq 1 ]"
for f in mpeg1.m1v mpeg2-progressive.m2v mpeg2-ps.mpg mpeg1-system.mpg truncated.m2v; do
  for m in video ps both; do
    out=$("$cli" tree "$data/$f" --mode $m 2>/dev/null); rc=$?
    check "$f --mode $m exits 0" "[ $rc -eq 0 ]"
  done
  check "$f stream type" "echo \"\$out\" | grep -q \$'^\\tMPEG-Stream Type: MPEG-'"
  json=$("$cli" tree "$data/$f" --format json 2>/dev/null)
  command -v python3 >/dev/null && check "$f json" "echo \"\$json\" | python3 -c 'import json,sys; json.load(sys.stdin)'"
  crlf=$("$cli" tree "$data/$f" --crlf | head -1 | od -c | grep -c '\\r')
  check "$f crlf" "[ $crlf -ge 1 ]"
done
# Pictures of 8192x8192 that hold a macroblock or two: decoding the last one does the work of
# what the file holds, not of the sizes it claims (each picture drawn, or a change of size
# cleared byte by byte, took a tenth of a second).
for f in large-many-pictures.m2v:300 large-size-switches.m2v:399; do
  timeout 15 "$cli" decode "$data/${f%:*}" --picture "${f#*:}" -o /dev/null 2>/dev/null; rc=$?
  check "${f%:*} decodes picture ${f#*:} within 15 s" "[ $rc -eq 0 ]"
done
rm -f /tmp/cli-err-$$
exit $fail
