#!/usr/bin/env bash
# Pictures of the ring-system layout of the hard cases (ring_layout_cases.smi, or
# a file given) as build/ring_layouts.svg and .png, using a release build's
# engine libraries (default build/rel). Needs chromium for the PNG.
#   tools/ring_layout_pictures.sh [CASES] [BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
cases=${1:-$here/ring_layout_cases.smi}
build=${2:-$root/build/rel}
out=$(mktemp -d)
g++ -std=c++23 -O2 -Wall -Wextra -ffp-contract=off -I"$root/src" "$here/ring_layout_dump.cpp" "$root/src/core/alloc.cpp" \
  "$build/libquorix_depict.a" "$build/libquorix_chem.a" "$build/libquorix_io.a" "$build/libquorix_core.a" -o "$out/dump"
"$out/dump" < "$cases" > "$out/dump.txt"
python3 "$here/draw_layout.py" "$out/dump.txt" "$root/build/ring_layouts.svg" 4
if command -v chromium >/dev/null; then
  chromium --headless --no-sandbox --disable-gpu --screenshot="$root/build/ring_layouts.png" \
    --window-size=1200,$(( ( ($(grep -c '^# ' "$out/dump.txt") + 3) / 4) * 300 )) "$root/build/ring_layouts.svg" 2>/dev/null
fi
grep '^#\|^D' "$out/dump.txt"
