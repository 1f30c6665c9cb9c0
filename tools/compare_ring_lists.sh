#!/usr/bin/env bash
# Ring lists before and after a change: builds tools/ring_list_dump.cpp against
# the engine libraries of two build folders (each configured from its own source
# tree) and compares what they print.
#   tools/compare_ring_lists.sh OLD_SOURCE OLD_BUILD NEW_SOURCE NEW_BUILD
set -euo pipefail
[ $# = 4 ] || { echo "usage: $0 OLD_SOURCE OLD_BUILD NEW_SOURCE NEW_BUILD" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
for side in old new; do
  if [ $side = old ]; then src=$1 build=$2; else src=$3 build=$4; fi
  g++ -std=c++23 -O2 -I"$src/src" "$here/ring_list_dump.cpp" "$src/src/core/alloc.cpp" \
    "$build/libquorix_chem.a" "$build/libquorix_io.a" "$build/libquorix_core.a" -o "$out/$side"
  "$out/$side" "$here/../tests/data/molecules.smi" > "$out/$side.txt"
done
wc -l "$out/old.txt" "$out/new.txt"
cmp "$out/old.txt" "$out/new.txt" && echo "ring lists identical"
