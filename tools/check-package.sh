#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, checks its list of files, unpacks
# it into a scratch root and runs the unpacked bitloupe-cli on a test stream: its outline must
# equal the build's own.
#   tools/check-package.sh [BUILD]   (default: build)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls -t "$build"/bitloupe_*_*.deb | head -1)"
want="./usr/bin/bitloupe
./usr/bin/bitloupe-cli
./usr/share/applications/bitloupe.desktop
./usr/share/icons/hicolor/scalable/apps/bitloupe.svg
./usr/share/man/man1/bitloupe-cli.1
./usr/share/man/man1/bitloupe.1
./usr/share/mime/packages/bitloupe.xml"
got="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
if [ "$got" != "$want" ]; then
  echo "package $deb holds:"; echo "$got"; echo "expected:"; echo "$want"
  exit 1
fi
dpkg-deb -f "$deb" Package Version Depends
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
stream="$top/tests/data/mpeg2-ps-mplex.mpg"
"$root/usr/bin/bitloupe-cli" tree "$stream" --mode both | grep -v '^	Data ' >"$root/installed.txt"
"$build/src/cli/bitloupe-cli" tree "$stream" --mode both | grep -v '^	Data ' >"$root/built.txt"
cmp "$root/installed.txt" "$root/built.txt"
if command -v man >/dev/null; then
  for page in bitloupe bitloupe-cli; do
    MANWIDTH=100 man -l "$root/usr/share/man/man1/$page.1" >"$root/$page.txt" 2>/dev/null || true
    grep -q "^NAME" "$root/$page.txt" || { echo "$page.1 does not render"; exit 1; }
  done
fi
echo "package $(basename "$deb"): $(echo "$got" | wc -l) files, the installed bitloupe-cli agrees"
