#!/usr/bin/env bash
# Compares the 2-D depictions of two builds molecule by molecule: for every real
# molecule a hash of the whole depiction result and of the to_molblock_2d text
# (bench/depict_2d_dump). Both build folders need the benchmarks, e.g.
#   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORIX_BUILD_BENCH=ON -DQUORIX_BUILD_MODULE=OFF
# A saved listing can stand in for the old build.
#
#   tools/compare_depiction.sh OLD_BUILD_OR_LISTING NEW_BUILD [SMILES_FILE]
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
listing() {
    if [[ -f "$1" ]]; then cat "$1"; else "$1/depict_2d_dump" ${2:+"$2"}; fi
}
listing "$1" "${3:-}" >"$work/old"
listing "$2" "${3:-}" >"$work/new"
if cmp -s "$work/old" "$work/new"; then
    echo "identical: $(wc -l <"$work/new") molecules"
else
    diff "$work/old" "$work/new" | head -40 || true
    echo "differences in $(diff "$work/old" "$work/new" | grep -c "^>" || true) molecules"
    exit 1
fi
