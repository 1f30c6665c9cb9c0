#!/usr/bin/env bash
# Compares the canonical texts of two builds: every real molecule as read and
# sanitised, its canonical ranks, random atom orders of each (canonical_dump), the
# Python-side texts (dump_texts.py), a set of many-piece symmetric inputs and stars,
# and peptides with many stereocentres. Both
# build folders need the benchmarks and the module, e.g.
#   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORIX_BUILD_BENCH=ON \
#         -DQUORIX_BUILD_MODULE=ON -DPython_EXECUTABLE=$(which python3)
# For the old build, check out the old commit in a worktree and build it the same
# way (canonical_dump.cpp can be copied into its bench/ when it predates it).
#
#   tools/canonical_compare.sh OLD_BUILD NEW_BUILD [ORDERS]
set -euo pipefail
old=$(realpath "$1")
new=$(realpath "$2")
orders=${3:-20}
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - >"$work/symmetric.smi" <<'PY'
rows = []
for k in (1, 2, 3, 7, 20, 60):
    rows += ['.'.join(['c1ccccc1'] * k), '.'.join(['O'] * k), '.'.join(['[Na+].[Cl-]'] * k),
             '[Si]' + '(C)' * k, '[Si]' + '(CC)' * k, '.'.join(['CCO'] * k), '.'.join(['C1CC1'] * k),
             'C' + '(F)' * min(k, 4), '.'.join(['[NH4+]', '[Cl-]'] * k), '.'.join(['N[C@@H](C)C(=O)O'] * k),
             '.'.join(['F/C=C/F'] * k), 'c1ccccc1.' + '.'.join(['O'] * k), '.'.join(['C1CCCCC1', 'C1CCCC1'] * k),
             '[Fe]' + '(Cl)' * k, '.'.join(['[2H]O[2H]', 'O'] * k), '.'.join(['[C@H](F)(Cl)Br'] * k),
             'C1CCCCC1' + '.C' * k, '[Si]' + '(O[Na])' * k,
             'N[C@@H](C)C(=O)O.' + '.'.join(['O'] * k)]
    if k <= 20:  # stereo searches the old code takes long over
        rows += ['.'.join(['N[C@@H](C)C(=O)O', 'N[C@H](C)C(=O)O'] * k), '.'.join(['C[C@H](O)[C@@H](C)O'] * k),
                 '.'.join(['F[C@](Cl)(Br)I', 'F[C@@](Cl)(Br)I', 'O'] * k), '[Si]' + '([C@H](F)Cl)' * min(k, 7),
                 '.'.join(['C[C@H]1CC[C@@H](C)CC1'] * k)]
# Ties that are swaps of whole arms, next to ones that only look alike.
for k in (2, 3, 5, 12, 40):
    rows += ['[Si]' + arm * k for arm in ('(CCC)', '(CCO)', '(C=C)', '(c1ccccc1)', '(C(C)C)', '(C(C)(C)C)',
                                           '(CC[C@H](F)Cl)', '(C[C@@H](C)O)', '(OC1CC1)')]
    rows += ['C' + '(' + 'C' * k + ')' * 2 + 'C' * k, 'c1ccc(cc1)' * 2 + 'C' * k,
             'N[C@@H](Cc1ccc(O)cc1)C(=O)' * k + 'O', 'OC(=O)[C@@H](N)CC(C)C' + '.O' * k]
rows += ['[Si](/C=C/C)(/C=C/C)(/C=C/C)/C=C/C', '[Si](/C=C/C)(/C=C/C)(/C=C\\C)/C=C\\C', 'F/C=C/C(CC)(CC)CC',
         'F/C=C/C=C\\F', 'F/C=C/C=C/F', 'C/C=C/c1ccccc1', 'CC(C)/C=C/C(C)C', 'F/C=C/[C@H](C)C(C)C',
         'OC[C@H]1O[C@@H](O)[C@H](O)[C@@H](O)[C@@H]1O', 'O[C@H]1[C@H](O)[C@@H](O)[C@H](O)[C@@H](O)[C@@H]1O',
         'C[C@@H]1C[C@H](C)C[C@@H](C)C1', 'C[C@H]1CC[C@H](C)CC1', 'CC(C)(C)[C@H](O)C(C)(C)C',
         'C[C@H](c1ccccc1)[C@@H](C)c1ccccc1', 'C1CC2(CC1)CCCC2', 'F[C@H]1C[C@@H](F)C1', 'C(C)(C)[C@@H]1CC[C@H](C(C)C)CC1',
         'c1ccc2ccccc2c1', 'C[C@H](N)C(=O)N[C@@H](C)C(=O)N[C@@H](C)C(=O)O', 'CC(C)C[C@H](NC(=O)[C@H](CC(C)C)N)C(=O)O']
# Large enough for the splits that sort in linear passes (512 atoms and more).
rows += ['.'.join(['c1ccccc1'] * 150), '.'.join(['C1CCCCC1'] * 100), '[Si]' + '(CC)' * 600,
         '.'.join(['c1ccccc1'] * 100 + ['O'] * 600), '.'.join(['CC(C)(C)C'] * 120), 'C' + 'C' * 1200,
         'C1' + 'C' * 1200 + 'C1']
print('\n'.join(rows))
PY

# Peptides of a repeating five-residue unit, four of the residues chiral (the
# sequence of bench/canonical_peptide_bench.cpp); the long ones in fewer orders.
python3 - "$work/peptides.smi" "$work/long_peptides.smi" <<'PY'
import sys
unit = ['N[C@@H](Cc1ccccc1)C(=O)', 'N[C@@H](C)C(=O)', 'NCC(=O)', 'N[C@@H](CO)C(=O)', 'N[C@@H](CC(C)C)C(=O)']
def peptide(n):
    return ''.join(unit[k % 5] for k in range(n)) + 'O'
# Every residue kind, in a made-up sequence.
side = {'A': 'C', 'R': 'CCCNC(=N)N', 'N': 'CC(N)=O', 'D': 'CC(=O)O', 'C': 'CS', 'E': 'CCC(=O)O', 'Q': 'CCC(N)=O',
        'H': 'Cc1c[nH]cn1', 'I': '[C@@H](C)CC', 'L': 'CC(C)C', 'K': 'CCCCN', 'M': 'CCSC', 'F': 'Cc1ccccc1', 'S': 'CO',
        'T': '[C@@H](C)O', 'W': 'Cc1c[nH]c2ccccc12', 'Y': 'Cc1ccc(O)cc1', 'V': 'C(C)C'}
sequence = 'MKTAYIAKQRQISFVKSHFSRQLEERLGLIEVQAPILSRVGDGTQDNLSGAEKAVQVKVKALPDAQFEVVHSLAKWKRQTLGQHDFSAGEGLYTHMKALRPDEDR'
def protein(seq):
    return ''.join('NCC(=O)' if a == 'G' else 'N1CCC[C@H]1C(=O)' if a == 'P' else 'N[C@@H](' + side[a] + ')C(=O)'
                   for a in seq) + 'O'
with open(sys.argv[1], 'w') as out:
    for n in (1, 2, 3, 5, 7, 12, 30, 100, 200, 400):
        print(peptide(n), file=out)
        print(peptide(n).replace('@@', '!').replace('@', '@@').replace('!', '@'), file=out)
    for n in (3, 30, 200):  # a cis/trans cap: marks next to the ties
        print('C/C=C/C(=O)' + peptide(n), file=out)
    for n in (10, 40, len(sequence)):
        print(protein(sequence[:n]), file=out)
with open(sys.argv[2], 'w') as out:
    for n in (800, 1600):
        print(peptide(n), file=out)
PY

status=0
compare() {
    local what=$1
    if cmp -s "$work/old.$what" "$work/new.$what"; then
        echo "$what: identical ($(wc -l <"$work/new.$what") lines, $(awk -F'\t' '{n += NF - 2} END {print n}' "$work/new.$what") fields)"
    else
        echo "$what: DIFFERENT"
        diff "$work/old.$what" "$work/new.$what" | head -20 || true
        status=1
    fi
}
for side in old new; do
    build=${!side}
    "$build/canonical_dump" tests/data/molecules.smi "$orders" >"$work/$side.molecules"
    "$build/canonical_dump" "$work/symmetric.smi" "$orders" >"$work/$side.symmetric"
    "$build/canonical_dump" "$work/peptides.smi" "$orders" >"$work/$side.peptides"
    "$build/canonical_dump" "$work/long_peptides.smi" 2 >"$work/$side.long_peptides"
    PYTHONPATH="$build" python3 tools/dump_texts.py tests/data/molecules.smi >"$work/$side.python"
done
compare molecules
compare symmetric
compare peptides
compare long_peptides
compare python
exit $status
