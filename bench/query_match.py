"""Query.match through the Python call: every real query of queries.smarts against
300 sanitised real molecules (every pair), and a query that cannot match on
ibuprofen. Prints microseconds per call; run with the module importable:

    PYTHONPATH=<build dir> taskset -c 0 python bench/query_match.py
"""
import os
import time

import quorix

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def best_of(runs, fn):
    best = float("inf")
    for _ in range(runs):
        t0 = time.perf_counter()
        n = fn()
        best = min(best, (time.perf_counter() - t0) / n)
    return best * 1e6


def main():
    queries = []
    for line in open(os.path.join(DATA, "queries.smarts")):
        text = line.strip()
        if text:
            try:
                queries.append(quorix.parse_smarts(text))
            except ValueError:
                pass
    mols = []
    for line in open(os.path.join(DATA, "molecules.smi")):
        m = quorix.parse_smiles(line.split()[0])
        try:
            m.sanitize()
        except ValueError:
            continue
        mols.append(m)
        if len(mols) == 300:
            break

    def all_pairs():
        for q in queries:
            match = q.match
            for m in mols:
                match(m)
        return len(queries) * len(mols)

    ibuprofen = quorix.parse_smiles("CC(C)Cc1ccc(cc1)C(C)C(=O)O")
    ibuprofen.sanitize()
    never = quorix.parse_smarts("[#99]")

    def no_match():
        for _ in range(100000):
            never.match(ibuprofen)
        return 100000

    print(f"{len(queries)} queries x {len(mols)} molecules: {best_of(3, all_pairs):.2f} us per pair")
    print(f"[#99] on ibuprofen: {best_of(5, no_match):.3f} us per call")


if __name__ == "__main__":
    main()
