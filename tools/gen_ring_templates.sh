#!/usr/bin/env bash
# Regenerates src/depict/ring_templates.inc from the keys and the given drawings,
# using the engine libraries of a release build (default build/rel, built with
# the depict layer), and writes the pictures of every template to build/templates.svg.
#   tools/gen_ring_templates.sh [BUILD]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/rel}
out=$(mktemp -d)
g++ -std=c++23 -O2 -Wall -Wextra -ffp-contract=off -I"$root/src" "$here/gen_ring_templates.cpp" "$root/src/core/alloc.cpp" \
  "$build/libquorix_depict.a" "$build/libquorix_chem.a" "$build/libquorix_io.a" "$build/libquorix_core.a" -o "$out/gen"
"$out/gen" "$here/ring_template_keys.txt" "$here/ring_templates_given.txt" "$out/ring_templates.inc" "$out/dump.txt"
cp "$out/ring_templates.inc" "$root/src/depict/ring_templates.inc"
python3 "$here/draw_layout.py" "$out/dump.txt" "$root/build/templates.svg"
echo "wrote src/depict/ring_templates.inc and build/templates.svg"
