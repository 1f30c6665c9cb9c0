#!/usr/bin/env python3
"""Lists, per molecule, the 2-D drawing's T shapes: atoms with exactly three
neighbours two of which lie in a straight line through it (within 0.5 degree,
from the to_molblock_2d coordinates). A T at the end of a double bond with
stored cis/trans is marked with '*'. Each line also gives the depiction
report's counts (crossings, unresolved clashes, misdrawn double bonds) and the
shortest distance between two unbonded atoms, so two builds' listings can be
set side by side for the molecules a change altered.

  PYTHONPATH=BUILD tools/straight_census.py SMILES_FILE [LINE_NUMBERS...]

Lines are numbered from 0 like bench/depict_2d_dump; with line numbers given,
only those molecules are listed.
"""
import math
import sys

import quorix


def drawing(block):
    lines = block.splitlines()
    na, nb = int(lines[3][:3]), int(lines[3][3:6])
    xy = [(float(l[:10]), float(l[10:20])) for l in lines[4:4 + na]]
    bonds = [(int(l[:3]) - 1, int(l[3:6]) - 1) for l in lines[4 + na:4 + na + nb]]
    return xy, bonds


def t_shapes(mol, xy, bonds):
    around = [[] for _ in xy]
    for i, j in bonds:
        around[i].append(j)
        around[j].append(i)
    stereo_ends = set()
    perceived = mol.copy()
    perceived.sanitize()
    for d in perceived.bond_descriptors():
        if d["stereo"] in ("cis", "trans"):
            stereo_ends.update((d["begin"], d["end"]))
    out = []
    for a, nbrs in enumerate(around):
        if len(set(nbrs)) != 3:
            continue
        dirs = [math.atan2(xy[n][1] - xy[a][1], xy[n][0] - xy[a][0]) for n in nbrs]
        straight = any(abs(abs(math.remainder(dirs[i] - dirs[k], 2 * math.pi)) - math.pi) < math.radians(0.5)
                       for i in range(3) for k in range(i + 1, 3))
        if straight:
            out.append(f"{a}{'*' if a in stereo_ends else ''}")
    return out


def closest_unbonded(xy, bonds):
    bonded = {(min(i, j), max(i, j)) for i, j in bonds}
    best = math.inf
    for i in range(len(xy)):
        for j in range(i + 1, len(xy)):
            if (i, j) not in bonded:
                best = min(best, math.dist(xy[i], xy[j]))
    return best


def main():
    lines = open(sys.argv[1]).read().splitlines()
    wanted = [int(x) for x in sys.argv[2:]] or range(len(lines))
    for n in wanted:
        smiles = lines[n].split()[0] if lines[n].split() else ""
        try:
            mol = quorix.parse_smiles(smiles)
            block = mol.to_molblock_2d()
            report = mol.depiction_report()
        except Exception as e:  # unreadable lines are listed, not fatal
            print(f"{n} error {type(e).__name__}")
            continue
        xy, bonds = drawing(block)
        ts = t_shapes(mol, xy, bonds)
        print(f"{n} T[{' '.join(ts)}] crossings={len(report['crossings'])} unresolved={len(report['unresolved'])} "
              f"misdrawn={len(report['misdrawn_stereo'])} closest={closest_unbonded(xy, bonds):.3f}")


if __name__ == "__main__":
    main()
