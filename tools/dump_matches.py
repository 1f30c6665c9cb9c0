"""Prints one line per (query, molecule) pair: the match count and a digest of the
full match list of Query.match, over every query of queries.smarts against 300
real molecules, as read and sanitised. Two builds' dumps compared line by line
show every match list a change altered:

    PYTHONPATH=<old build> python tools/dump_matches.py > old.txt
    PYTHONPATH=<new build> python tools/dump_matches.py > new.txt
    cmp old.txt new.txt
"""
import hashlib
import os

import quorix

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def main():
    queries = []
    for line in open(os.path.join(DATA, "queries.smarts")):
        try:
            queries.append(quorix.parse_smarts(line.strip()))
        except ValueError:
            queries.append(None)
    mols = []
    for line in open(os.path.join(DATA, "molecules.smi")):
        m = quorix.parse_smiles(line.split()[0])
        s = m.copy()
        try:
            s.sanitize()
        except ValueError:
            continue
        mols += [m, s]
        if len(mols) == 600:
            break
    for qi, q in enumerate(queries):
        if q is None:
            print(qi, "unread")
            continue
        for mi, m in enumerate(mols):
            for kw in ({}, {"uniquify": False, "use_chirality": False}):
                found = q.match(m, **kw)
                digest = hashlib.md5(repr(found).encode()).hexdigest()[:12]
                print(qi, mi, len(found), digest)


if __name__ == "__main__":
    main()
