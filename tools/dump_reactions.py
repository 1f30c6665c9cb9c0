"""Prints, for every transform of transforms.rxn applied to real molecules, the
outcomes of Reaction.run: products as canonical SMILES, discarded atoms, and the
byproduct verdict and texts; then two-reactant reactions on pairs of real
molecules, given in both orders (so that the assignment search runs too), and
Reaction.run_on_substrate on single molecules and on pairs, with atom maps;
last, reactions whose reactant templates repeat a map number.
Two builds' dumps compared line by line show every outcome a change altered:

    PYTHONPATH=<old build> python tools/dump_reactions.py > old.txt
    PYTHONPATH=<new build> python tools/dump_reactions.py > new.txt
    cmp old.txt new.txt
"""
import os

import quorix

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def canonical(m):
    c = m.copy()
    try:
        c.sanitize()
    except ValueError as e:
        return "unsanitisable: " + str(e).splitlines()[0]
    return c.to_canonical_smiles()


def main():
    reactions = []
    for line in open(os.path.join(DATA, "transforms.rxn")):
        if line.strip() and not line.startswith("#"):
            reactions.append(quorix.parse_reaction(line.split("\t", 1)[1].strip()))
    mols = []
    for line in open(os.path.join(DATA, "molecules.smi")):
        m = quorix.parse_smiles(line.split()[0])
        try:
            m.sanitize()
        except ValueError:
            continue
        mols.append(m)
        if len(mols) == 400:
            break
    for ri, r in enumerate(reactions):
        for mi, m in enumerate(mols):
            for o in r.run([m], byproducts=True, max_products=20):
                print(ri, mi, describe(o))
    pairs = [quorix.parse_reaction(t) for t in PAIR_REACTIONS]
    few = mols[:70]
    for ri, r in enumerate(pairs):
        for ai, a in enumerate(few):
            for bi, b in enumerate(few):
                if ai == bi:
                    continue
                for o in r.run([a, b], byproducts=True, atom_mapping=True, max_products=12):
                    print("pair", ri, ai, bi, describe(o, mapped=True))
                if bi == ai + 1:
                    for o in r.run_on_substrate([a, b], byproducts=True, atom_mapping=True, max_products=12):
                        print("joined", ri, ai, bi, describe(o, mapped=True))
        for mi, m in enumerate(mols):
            for o in r.run_on_substrate([m], byproducts=True, max_products=12):
                print("substrate", ri, mi, describe(o))
    # Map numbers repeated among the reactant templates, as real mapped
    # reactions write symmetric groups: single molecules, then pairs.
    for ri, text in enumerate(REPEATED_MAP_REACTIONS):
        try:
            r = quorix.parse_reaction(text)
        except ValueError as e:
            print("repeated", ri, "refused:", str(e).splitlines()[-1].strip())
            continue
        if r.num_reactant_templates == 1:
            for mi, m in enumerate(mols):
                for o in r.run([m], byproducts=True, atom_mapping=True, max_products=12):
                    print("repeated", ri, mi, describe(o, mapped=True))
            continue
        for ai, a in enumerate(few):
            for bi, b in enumerate(few):
                if ai != bi:
                    for o in r.run([a, b], byproducts=True, atom_mapping=True, max_products=12):
                        print("repeated", ri, ai, bi, describe(o, mapped=True))
                if bi == ai + 1:
                    for o in r.run_on_substrate([a, b], byproducts=True, atom_mapping=True, max_products=12):
                        print("repeated joined", ri, ai, bi, describe(o, mapped=True))


PAIR_REACTIONS = [
    "[C:1](=[O:2])[OH1:3].[OH1:4][C:5]>>[C:1](=[O:2])[O:4][C:5]",
    "[C:1](=[O:2])[OH1].[N;H1,H2;!$(NC=O):3]>>[C:1](=[O:2])[N:3]",
    "[c:1][Cl,Br,I].[c:2]>>[c:1]-[c:2]",
    "[C:1]=[C:2].[C:3]=[C:4]>>[C:1]1[C:2][C:3][C:4]1",
]

REPEATED_MAP_REACTIONS = [
    "[C:1][O:2][C:1]>>[C:1][OH1:2]",
    "[CH3:1][N:2]([c:3])[CH3:1]>>[CH3:1][NH1:2][c:3]",
    "[C:1](=[O:2])[OH1:3].[OH1:3][C:4]>>[C:1](=[O:2])[O:3][C:4]",
]


def describe(o, mapped=False):
    products = ".".join(canonical(p) for p in o.products)
    byproducts = ".".join(canonical(p) for p in o.byproducts)
    text = f"{products} {o.discarded} {o.byproduct_verdict} {byproducts}"
    if mapped:
        text += " " + ".".join(r.to_smiles() for r in o.reactants)
        text += " " + ".".join(p.to_smiles() for p in o.products)
    return text


if __name__ == "__main__":
    main()
