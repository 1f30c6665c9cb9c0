"""Dative bonds in the 2-D molblock, for the wedge comparison of
compare_dative_wedges.sh.

    python tools/dative_wedges.py variants [SMILES_FILE]
        Writes molecules with dative bonds made from the real ones (no real
        molecule has one): for every stereo-marked molecule, a donor oxygen on its
        first marked CH centre, once beside the hydrogen and once in its place, a
        copper on its first plain nitrogen and a zinc on its first plain oxygen, each kept only when the module on PYTHONPATH reads
        and sanitises it; then a few metal complexes and centres written by hand.

    PYTHONPATH=<build> python tools/dative_wedges.py wedged SMILES_FILE
        Prints, per input line, its number and the number of dative bond lines of
        its to_molblock_2d text that carry a wedge (stereo 1 or 6).
"""
import re
import sys

import quorix

BY_HAND = [
    "CCCCC[C@@H](CC)<-O",
    "O->[C@@]12CCCC[C@@H]1CCCC2",
    "C1CC[N@@]2(->[Cu])CCCC[C@@H]2C1",
    "N->[Zn@@](<-O)(<-S)<-P",
    "C[Zn@@](<-N)(<-O)Cl",
    "C[C@@H]1C(=O)O[Cu]<-[NH2]1",
    "C[C@@H]1C(=O)O[Pt](Cl)<-[NH2]1",
    "O=C1O[Cu]<-[N@@H]2CCC[C@H]12",
    "C[C@@H]1C(=O)O[Cu]2(OC(=O)[C@H](C)[NH2]->2)<-[NH2]1",
    "Cl[Pt]1(Cl)<-[NH2][C@@H]2CCCC[C@H]2[NH2]->1",
    "C1CCC2(CC1)CC[C@@H]2<-O",
]

# A plain atom symbol outside brackets, not the first letter of Cl or Br.
PLAIN = {"N": re.compile(r"N(?![a-z])"), "O": re.compile(r"O(?![a-z])")}


def outside_brackets(smiles, pattern):
    depth = 0
    for i, ch in enumerate(smiles):
        depth += ch == "["
        depth -= ch == "]"
        if depth == 0 and pattern.match(smiles, i):
            return i
    return None


def variants(smiles):
    out = []
    m = re.search(r"\[C@@?H\]", smiles)
    if m:
        out.append(smiles[:m.end()] + "(<-O)" + smiles[m.end():])
        # The donor in the hydrogen's place: a centre of four neighbours.
        out.append(smiles[:m.end() - 2] + "](<-O)" + smiles[m.end():])
    for symbol, metal in (("N", "[Cu]"), ("O", "[Zn]")):
        i = outside_brackets(smiles, PLAIN[symbol])
        if i is not None and "%98" not in smiles:
            out.append(smiles[:i + 1] + "->%98" + smiles[i + 1:] + "." + metal + "%98")
    return out


def readable(smiles):
    try:
        quorix.parse_smiles(smiles).sanitize()
    except ValueError:
        return False
    return True


def wedged_dative_lines(block):
    lines = block.split("\n")
    n, m = int(lines[3][0:3]), int(lines[3][3:6])
    return sum(line[6:9] == "  9" and line[9:12] in ("  1", "  6") for line in lines[4 + n:4 + n + m])


def main():
    if sys.argv[1] == "variants":
        path = sys.argv[2] if len(sys.argv) > 2 else "tests/data/molecules.smi"
        for line in open(path):
            smiles = line.split()[0] if line.split() else ""
            if "@" in smiles:
                for v in variants(smiles):
                    if readable(v):
                        print(v)
        for smiles in BY_HAND:
            print(smiles)
    else:
        for i, line in enumerate(open(sys.argv[2])):
            try:
                block = quorix.parse_smiles(line.split()[0]).to_molblock_2d()
            except ValueError:
                print(i, "error")
                continue
            print(i, wedged_dative_lines(block))


main()
