"""Prints, for every transform of transforms.rxn applied to real molecules, the
outcomes of Reaction.run: products as canonical SMILES, discarded atoms, and the
byproduct verdict and texts. Two builds' dumps compared line by line show every
outcome a change altered:

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
                products = ".".join(canonical(p) for p in o.products)
                byproducts = ".".join(canonical(p) for p in o.byproducts)
                print(ri, mi, products, o.discarded, o.byproduct_verdict, byproducts)


if __name__ == "__main__":
    main()
