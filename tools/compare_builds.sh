#!/usr/bin/env bash
# Every output of two builds over the real data, side by side: the texts
# (storage-order and canonical SMILES), the 2-D depictions, the reactions
# must match byte for byte; the conformers are listed as changed or not.
# Each build folder holds the module and the benchmarks, e.g.
#   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORIX_BUILD_BENCH=ON
#
#   tools/compare_builds.sh OLD_BUILD NEW_BUILD
set -euo pipefail
cd "$(dirname "$0")/.."
old=$(realpath "$1") new=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
same() {  # name, old file, new file
    if cmp -s "$2" "$3"; then echo "$1: identical ($(wc -l <"$3") lines)"; else
        echo "$1: DIFFERENT"; diff "$2" "$3" | head -10 || true; status=1; fi
}
for build in old new; do
    dir=${!build}
    PYTHONPATH=$dir python3 tools/dump_texts.py tests/data/molecules.smi >"$work/texts.$build"
    PYTHONPATH=$dir python3 tools/dump_reactions.py >"$work/reactions.$build"
    for data in molecules.smi pubchem-1000.sdf; do
        PYTHONPATH=$dir python3 tools/dump_conformers.py --jobs "$(nproc)" "tests/data/$data" >"$work/conf.$data.$build"
    done
done
same texts "$work/texts.old" "$work/texts.new"
same reactions "$work/reactions.old" "$work/reactions.new"
bash tools/compare_depiction.sh "$old" "$new" || status=1
for data in molecules.smi pubchem-1000.sdf; do
    echo "conformers of $data:"
    python3 tools/dump_conformers.py --compare "$work/conf.$data.old" "$work/conf.$data.new" >"$work/conf.compare"
    head -6 "$work/conf.compare"
done
exit $status
