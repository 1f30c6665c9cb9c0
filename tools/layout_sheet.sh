#!/usr/bin/env bash
# Contact sheet of layout pictures: SMILES lines on stdin -> one PNG of them all.
#   tools/layout_sheet.sh out.png < list.smi   (needs build/layout_pictures, chromium)
set -euo pipefail
out=$1
dir=$(mktemp -d)
build/layout_pictures "$dir"
{
  echo "<html><body style='margin:0;display:flex;flex-wrap:wrap;background:#eee'>"
  for f in $(ls "$dir"/*.svg | sort -V); do
    echo "<div style='margin:3px;background:white'><img src='file://$f' style='max-width:380px;max-height:300px'></div>"
  done
  echo "</body></html>"
} > "$dir/sheet.html"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1600,1200 \
  --screenshot="$out" "file://$dir/sheet.html" 2>/dev/null
