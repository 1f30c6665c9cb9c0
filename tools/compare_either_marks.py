"""Compares the molblocks two builds write, Mol.to_molblock_2d for every real
molecule (molecules.smi and the records of pubchem-1000.sdf) and
Conformer.to_molblock for every Nth one of molecules.smi, and checks that each
molblock that changed differs only in the stereo field of double bonds that
lost an "either" mark (3 -> 0) and have an end holding nothing but its partner
(no other neighbour, no hydrogen). Prints the counts and exits 1 on any other
difference:

    python3 tools/compare_either_marks.py OLD_BUILD NEW_BUILD [--stride N]
"""
import argparse
import json
import os
import pathlib
import subprocess
import sys

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"

# Run inside each build's module: one JSON list per writer, None where it refused.
DUMP = r"""
import json, sys, quorix
data, stride = sys.argv[1], int(sys.argv[2])
smiles = [l.split()[0] for l in open(data + "/molecules.smi") if l.strip()]
def write(f):
    try:
        return f()
    except ValueError:
        return None
def from_smiles(s, conformer):
    m = write(lambda: quorix.parse_smiles(s))
    if m is None:
        return None
    return write(lambda: m.conformer().to_molblock()) if conformer else write(m.to_molblock_2d)
flat = [from_smiles(s, False) for s in smiles]
records = quorix.read_sdf(open(data + "/pubchem-1000.sdf").read())
flat += [None if r.block is None else write(r.block.mol.to_molblock_2d) for r in records]
three = [from_smiles(s, True) for s in smiles[::stride]]
json.dump({"flat": flat, "three": three}, sys.stdout)
"""


def dump(build, stride):
    env = dict(os.environ, PYTHONPATH=build)
    out = subprocess.run([sys.executable, "-c", DUMP, str(DATA), str(stride)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def bare_ends(block, new_module):
    """Per atom (1-based) True when it holds nothing but one partner and no hydrogen."""
    mol = new_module.parse_molblock(block).mol
    return {i + 1: d["total_degree"] == 1 for i, d in enumerate(mol.atom_descriptors())}


def explain(old, new, quorix):
    """None when the only differences are dropped marks on bonds with a bare end."""
    a, b = old.split("\n"), new.split("\n")
    if len(a) != len(b):
        return "line count"
    n, m = int(a[3][0:3]), int(a[3][3:6])
    bare = None
    dropped = 0
    for i, (x, y) in enumerate(zip(a, b)):
        if x == y:
            continue
        if not 4 + n <= i < 4 + n + m:
            return f"line {i} is not a bond line"
        if x[:9] + x[12:] != y[:9] + y[12:]:
            return f"line {i} differs outside the stereo field"
        if (x[9:12], y[9:12], x[6:9]) != ("  3", "  0", "  2"):
            return f"line {i}: stereo {x[9:12]!r} -> {y[9:12]!r} on order {x[6:9]!r}"
        bare = bare or bare_ends(new, quorix)
        if not (bare[int(x[0:3])] or bare[int(x[3:6])]):
            return f"line {i}: neither end is bare"
        dropped += 1
    return None if dropped else "no difference found"


def compare(kind, old, new, quorix):
    changed = marks = 0
    bad = []
    for i, (x, y) in enumerate(zip(old, new)):
        if x == y:
            continue
        if x is None or y is None:
            bad.append((i, "written by one build only"))
            continue
        why = explain(x, y, quorix)
        if why:
            bad.append((i, why))
            continue
        changed += 1
        marks += sum(p != q for p, q in zip(x.split("\n"), y.split("\n")))
    same = sum(x == y for x, y in zip(old, new))
    print(f"{kind}: {len(old)} molblocks, {same} identical, {changed} differ only by {marks} dropped marks"
          f" on bonds with a bare end, {len(bad)} otherwise")
    for i, why in bad[:20]:
        print(f"  molecule {i}: {why}")
    return not bad and len(old) == len(new)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("old")
    p.add_argument("new")
    p.add_argument("--stride", type=int, default=25, help="every Nth molecule gets a conformer")
    args = p.parse_args()
    old, new = dump(args.old, args.stride), dump(args.new, args.stride)
    sys.path.insert(0, args.new)
    import quorix
    ok = compare("to_molblock_2d", old["flat"], new["flat"], quorix)
    ok = compare("Conformer.to_molblock", old["three"], new["three"], quorix) and ok
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
