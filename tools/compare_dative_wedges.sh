#!/usr/bin/env bash
# Compares the 2-D depictions of two builds on molecules with dative bonds (made
# from the real ones by tools/dative_wedges.py, which the real data lacks) and
# checks that every molecule whose depiction changed had, in the old build, a
# wedge on a dative bond line. Both build folders need the benchmarks and the
# module (see compare_depiction.sh).
#
#   tools/compare_dative_wedges.sh OLD_BUILD NEW_BUILD [SMILES_FILE]
set -euo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
PYTHONPATH="$new" python3 tools/dative_wedges.py variants ${3:+"$3"} >"$work/dative.smi"
"$old/depict_2d_dump" "$work/dative.smi" >"$work/old"
"$new/depict_2d_dump" "$work/dative.smi" >"$work/new"
PYTHONPATH="$old" python3 tools/dative_wedges.py wedged "$work/dative.smi" >"$work/old_wedged"
PYTHONPATH="$new" python3 tools/dative_wedges.py wedged "$work/dative.smi" >"$work/new_wedged"
# Lexical order, as comm wants it.
awk '$2 != 0' "$work/old_wedged" | cut -d' ' -f1 | sort >"$work/had"
{ diff "$work/old" "$work/new" || true; } | sed -n 's/^> //p' | cut -d' ' -f1 | sort >"$work/changed"
echo "molecules: $(wc -l <"$work/dative.smi")"
echo "old build, wedge on a dative bond: $(wc -l <"$work/had")"
echo "new build, wedge on a dative bond: $(awk '$2 != 0' "$work/new_wedged" | wc -l)"
echo "changed: $(wc -l <"$work/changed")"
echo "changed without an old dative wedge: $(comm -23 "$work/changed" "$work/had" | wc -l)"
echo "old dative wedge, unchanged: $(comm -13 "$work/changed" "$work/had" | wc -l)"
echo "examples:"
head -5 "$work/changed" | while read -r i; do sed -n "$((i + 1))p" "$work/dative.smi"; done
comm -23 "$work/changed" "$work/had" | head -5 | while read -r i; do echo "unexpected: $(sed -n "$((i + 1))p" "$work/dative.smi")"; done
[[ -z $(comm -23 "$work/changed" "$work/had") && -z $(awk '$2 != 0' "$work/new_wedged") ]]
