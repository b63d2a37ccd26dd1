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
# fields lists what tree --format json says of the same elements, in the same order.
if command -v python3 >/dev/null; then
  for f in mpeg2-ps.mpg:both mpeg1-system.mpg:both mpeg2-interlaced.m2v:video; do
    name=${f%%:*}; mode=${f##*:}
    "$cli" fields "$data/$name" --mode $mode --mbs --format json -e f_code \
      -e system_clock_reference -e motion_code -e packet_length -e picture \
      >/tmp/cli-fields-$$ 2>/dev/null
    "$cli" tree "$data/$name" --mode $mode --mbs --format json >/tmp/cli-tree-$$ 2>/dev/null
    same=$(python3 - /tmp/cli-fields-$$ /tmp/cli-tree-$$ <<'PY'
import json, sys
want = {"f_code", "system_clock_reference", "motion_code", "packet_length", "picture"}
keys = ("field", "index", "offset", "bit", "bits", "end", "value")
rows = [{k: r[k] for k in keys if k in r} for r in json.load(open(sys.argv[1]))]
items = []
def walk(i):
    if i.get("field") in want: items.append({k: i[k] for k in keys if k in i})
    for c in i["children"]: walk(c)
for r in json.load(open(sys.argv[2])): walk(r)
print("yes" if rows == items and rows else "no %d %d" % (len(rows), len(items)))
PY
)
    check "$name fields agree with the tree" "[ \"$same\" = yes ]"
  done
  rm -f /tmp/cli-fields-$$ /tmp/cli-tree-$$
fi
# Pictures of 8192x8192 that hold a macroblock or two: decoding the last one does the work of
# what the file holds, not of the sizes it claims (each picture drawn, or a change of size
# cleared byte by byte, took a tenth of a second).
for f in large-many-pictures.m2v:300 large-size-switches.m2v:399; do
  timeout 15 "$cli" decode "$data/${f%:*}" --picture "${f#*:}" -o /dev/null 2>/dev/null; rc=$?
  check "${f%:*} decodes picture ${f#*:} within 15 s" "[ $rc -eq 0 ]"
done
# Argument errors: exit 1 and the message each kind of mistake has always printed.
# at: the deepest item at a byte, its ancestors above; offsets that are not numbers are refused.
at_out=$("$cli" at "$data/mpeg2-ps.mpg" 0x2E --mode both 2>/dev/null)
check "at names the field under the byte" "echo \"\$at_out\" | tail -1 | grep -q '45.0-49 sequence_header_code='"
"$cli" at "$data/mpeg2-ps.mpg" 12x >/dev/null 2>&1; rc=$?
check "at refuses a bad offset" "[ $rc -eq 1 ]"

# check: exit 0 on a clean stream, 3 when the worst is a warning, 4 with an error.
for f in mpeg2-ps.mpg:0 open-gop-start.m2v:3 small-vbv.m2v:4; do
  "$cli" check "$data/${f%:*}" >/dev/null 2>&1; rc=$?
  check "check ${f%:*} exits ${f#*:}" "[ $rc -eq ${f#*:} ]"
done

first_err() {  # command line; its exit code, then the first two lines of its stderr
  "$cli" "$@" >/dev/null 2>/tmp/cli-err-$$; echo "$? $(head -2 /tmp/cli-err-$$ | tr '\n' '|')"
}
s="$data/mpeg1.m1v"
check "unknown option, then usage" "[ \"\$(first_err tree $s --bogus)\" = '1 bitloupe-cli: unknown option --bogus|usage:|' ]"
check "lone dash is an option to tree" "[ \"\$(first_err tree $s -)\" = '1 bitloupe-cli: unknown option -|usage:|' ]"
check "lone dash is a file to frames" "[ \"\$(first_err frames - -o /dev/null)\" = '1 Failed to open the file!|' ]"
check "missing value" "[ \"\$(first_err tree $s --mode)\" = '1 bitloupe-cli: --mode needs a value|' ]"
check "bad word for tree: usage only" "[ \"\$(first_err tree $s --filter x)\" = '1 usage:|  bitloupe-cli tree FILE [--mode video|ps|both] [--mbs] [--filter all|non-virtual|ycbcr]|' ]"
check "missing byte offset" "[ \"\$(first_err tree $s --start-offset)\" = '1 bitloupe-cli: --start-offset needs a value|bitloupe-cli: --start-offset takes a byte offset|' ]"
check "a value that looks like an option" "[ \"\$(first_err tree $s --start-offset -1)\" = '1 bitloupe-cli: --start-offset takes a byte offset|' ]"
check "start picture beyond int" "[ \"\$(first_err tree $s --start-picture I:2147483648)\" = '1 bitloupe-cli: --start-picture takes any|I|P|B|D:N with N >= 1|' ]"
check "missing picture number" "[ \"\$(first_err decode $s -o x.bmp --picture)\" = '1 bitloupe-cli: --picture takes a picture number from 1|' ]"
check "picture number is decimal" "[ \"\$(first_err decode $s -o x.bmp --picture 0x1)\" = '1 bitloupe-cli: --picture takes a picture number from 1|' ]"
check "bad word for decode" "[ \"\$(first_err decode $s --picture 1 -o x.bmp --colour pink)\" = '1 bitloupe-cli: --colour does not take pink|' ]"
check "missing output of frames" "[ \"\$(first_err frames $s -o)\" = '1 bitloupe-cli: -o needs a file name (- for standard output)|' ]"
check "json stays on after text" "\"$cli\" tree $s --format json --format text | head -c1 | grep -q '\\['"
rm -f /tmp/cli-err-$$
exit $fail
