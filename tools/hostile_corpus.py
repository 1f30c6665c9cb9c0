"""Writes the hostile corpus the read-back sweep (tests/python/test_readback_sweep.py)
runs over: SMILES that read but sit where writing and reading back have gone wrong
(dative bonds beside marked double bonds, metals, charged aromatic rings, cumulenes,
odd ring closures), and molblocks with dative bonds (type 9) drawn from the dative
ones. Deterministic: a fixed seed, fixed lists, texts kept only when they read.

    PYTHONPATH=build/rel python3 tools/hostile_corpus.py tests/data
"""
import os
import random
import sys

import quorix

METALS = ["[W]", "[Fe]", "[Zn]", "[Pt]", "[Pd]", "[Cu+]", "[Sb]", "[Co]", "[Ru]", "[Ni-2]", "[Sn]", "[Hg]"]
SUBSTITUENTS = ["C", "O", "Cl", "N", "CC", "C(=O)O", "c1ccccc1", "[2H]", "F"]

# Marked double bonds next to bonds to metals, written single (sanitising may turn
# them dative) or dative outright, in chains and in rings; {M} a metal, {X} a group.
DATIVE = [
    "C/C=C/({M})=O", "C/C=C(/{M})=O", "{X}/C=C/({M})=O", "C/C=C(\\{X})->{M}", "C/C=C(/{X})->{M}",
    "{M}<-C(/{X})=C/C", "OC1CC/C(=C\\C)->C1", "OC1CC/C(=C\\{X})->C1", "C/C=N/{M}", "C/C=N\\{M}",
    "{X}/C=C/{M}", "{M}/C=C\\{M}", "C/C=C/1.{M}1", "C/N=C(\\{X})->{M}", "{M}<-N(/C)=C/{X}",
    "C/C=C(/C=C/{X})->{M}", "{X}\\C=C/C(=O)->{M}", "C1CC/C(=C/{X})->C1", "{M}1<-NC=CN->1",
    "{M}<-[N+](/C)=C/{X}", "C/C(->{M})=C(/C)C", "O=C(/C=C/{X}){M}", "C/C=C/C(->{M})=C/C",
]
# Aromatic rings with charges and atoms their Kekule form may not carry.
AROMATIC = [
    "C1=CC=[N+2]C=C1", "[B-2]1=CC=CC=C1", "C1=CC=[O+3]C=C1", "[Sb]C1=CC=CC=1", "[Zn][N+]1=CC=CC=1",
    "C1=CC=[N+]C=C1", "c1cc[n+]cc1", "c1cc[o+]cc1", "[CH-]1C=CC=C1", "c1cc[cH-]c1", "[CH+]1C=CC=CC=C1",
    "c1cc[nH+]cc1", "[n-]1cccc1", "c1ccc[s+]1", "[Se+]1=CC=CC=C1", "c1cc[b-]cc1", "[B-]1=CC=CC=C1",
    "{M}C1=CC=CC=1", "{M}[n+]1ccccc1", "{M}<-n1ccccc1", "c1cc[n+]({X})cc1", "C1=CC=[S+2]C=C1",
    "[P+]1=CC=CC=C1", "c1cc2cc[n+]cc2cc1", "[N+]1=CC=CC=C1{M}", "C1=C[N+2]=CC=C1",
]
# Cumulated double bonds, marked and not.
CUMULENES = [
    "C=C=C/Cl", "C/C=C=C/C", "C/C=C=C=C/C", "CC=C=C(C)C", "C=C=C=C", "F/C=C=C=C/F", "C/C=C=C(/C)Cl",
    "{X}/C=C=C/{X}", "C[C@H]=C=C[C@@H]C", "C/C=C=[N+]/C", "O=C=C/C=C/{X}", "C=C=C1CC1", "C1=C=CCCCCC1",
]
# Ring closures with labels, symbols and directions at odd places.
RINGS = [
    "C%10CC%10", "C%(100)CC%(100)", "C%(99999)CC%(99999)", "C1CC1C1CC1", "C=1CC=1", "C12(CC1)CC2",
    "C/1=C/CCCCCC\\1", "C\\1=C/CCCCCC/1", "C/1=C/CCCCC1", "C1CCCCCCC/C=C/1", "F/C=C/1.C1", "C1.C1",
    "C-1CC-1", "C:1:C:C:C:C:C:1", "c1ccccc1-c1ccccc1", "C12C3C4C1C5C2C3C45", "C1CC2CCC1CC2",
    "C%11CC%11C%11CC%11", "[C@@]12(F)CCC1CC2", "C1=CC=CC=C1/C=C/1CCCC1",
]


def variants(templates, rng, per):
    out = []
    for t in templates:
        if "{" not in t:
            out.append(t)
            continue
        for _ in range(per):
            out.append(t.replace("{M}", rng.choice(METALS)).replace("{X}", rng.choice(SUBSTITUENTS)))
    return out


def reads(text):
    try:
        quorix.parse_smiles(text)
        return True
    except ValueError:
        return False


def main(out_dir):
    rng = random.Random(58)
    smiles = variants(DATIVE, rng, 8) + variants(AROMATIC, rng, 4) + variants(CUMULENES, rng, 4) + RINGS
    # Two-part joins put the kinds next to each other in one molecule.
    pool = list(smiles)
    for _ in range(80):
        smiles.append(rng.choice(pool) + "." + rng.choice(pool))
    seen, kept = set(), []
    for s in smiles:
        if s not in seen and reads(s):
            seen.add(s)
            kept.append(s)
    with open(os.path.join(out_dir, "hostile.smi"), "w") as f:
        f.write("".join(s + "\n" for s in kept))
    blocks = []
    for s in kept:
        if "->" not in s and "<-" not in s and not any(m in s for m in METALS):
            continue
        m = quorix.parse_smiles(s)
        try:
            m.sanitize()
            block = m.to_molblock_2d()
        except ValueError:
            continue
        if any(len(l) == 21 and l[6:9] == "  9" for l in block.splitlines()):
            blocks.append(s + block[block.index("\n") :])  # the SMILES as title
    with open(os.path.join(out_dir, "hostile.sdf"), "w") as f:
        f.write("".join(b + "$$$$\n" for b in blocks))
    print(len(kept), "SMILES,", len(blocks), "molblocks with a dative bond")


if __name__ == "__main__":
    main(sys.argv[1])
