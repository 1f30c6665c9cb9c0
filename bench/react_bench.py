"""Reaction.run through Python: every one-reactant transform of transforms.rxn
against the real molecule set, in (template, molecule) pairs per second, one
core, the Python call included; then esterification with byproducts=True; then
three inputs on which an exhaustive search would run for minutes, each asked
for one product.

    python bench/react_bench.py [repeats]     (quorix importable, e.g. installed)
"""
import statistics
import sys
import time
from pathlib import Path

import quorix

DATA = Path(__file__).resolve().parents[1] / "tests" / "data"


def sanitised_molecules():
    out = []
    for line in (DATA / "molecules.smi").read_text(encoding="utf-8").splitlines():
        m = quorix.parse_smiles(line.split()[0])
        try:
            m.sanitize()
        except ValueError:
            continue
        out.append(m)
    return out


def transforms():
    lines = (DATA / "transforms.rxn").read_text(encoding="utf-8").splitlines()
    return [quorix.parse_reaction(line.split("\t")[1]) for line in lines if line and not line.startswith("#")]


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    mols, rxns = sanitised_molecules(), transforms()
    pairs = len(mols) * len(rxns)
    print(f"{len(mols)} molecules, {len(rxns)} one-reactant transforms, {pairs} pairs")
    best, outcomes = float("inf"), 0
    for _ in range(repeats):
        t0 = time.perf_counter()
        outcomes = 0
        for r in rxns:
            run = r.run
            for m in mols:
                outcomes += len(run([m]))
        best = min(best, time.perf_counter() - t0)
    print(f"Reaction.run sweep: {outcomes} outcomes, {best / pairs * 1e6:.3f} us per pair, {pairs / best:.0f} pairs/s")

    ester = quorix.parse_reaction("[C:1](=[O:2])[OH1:3].[OH1:4][C:5]>>[C:1](=[O:2])[O:4][C:5]")
    acid, alcohol = quorix.parse_smiles("CC(=O)O"), quorix.parse_smiles("OCC")
    acid.sanitize()
    alcohol.sanitize()
    calls = 20000
    for flag in (True, False):
        per_call = []
        for _ in range(repeats):
            t0 = time.perf_counter()
            for _ in range(calls):
                ester.run([acid, alcohol], byproducts=flag)
            per_call.append((time.perf_counter() - t0) / calls * 1e6)
        print(f"esterification, byproducts={flag}: median {statistics.median(per_call):.2f} us per call")

    for name, method, reaction, smiles in hostile_cases():
        r = quorix.parse_reaction(reaction)
        ms = [quorix.parse_smiles(s) for s in smiles]
        for m in ms:
            m.sanitize()
        best = float("inf")
        for _ in range(repeats):
            t0 = time.perf_counter()
            out = getattr(r, method)(ms, max_products=1)
            best = min(best, time.perf_counter() - t0)
        print(f"{name}: {len(out)} outcome(s), {best * 1e3:.3f} ms")


def hostile_cases():
    def numbered(atom, first, last, tail=""):
        return ".".join(f"[{atom}:{i}]{tail}" for i in range(first, last + 1))

    side = 12
    grid = "".join(
        ("." if k == 0 and r else "") + "C" + (f"%({100 + k})" if r else "") + (f"%({100 + k})" if r + 1 < side else "")
        for r in range(side)
        for k in range(side)
    )
    return [
        ("13 templates, no pairing", "run", numbered("C", 1, 11) + "." + numbered("N", 12, 13) + ">>[C:1]",
         ["C"] * 12 + ["N"]),
        ("9 templates on n-icosane", "run_on_substrate", numbered("C", 1, 9) + ">>[C:1]", ["C" * 20]),
        ("6 neopentane templates on neopentane", "run_on_substrate", numbered("C", 1, 6, "(C)(C)(C)C") + ">>[C:1]",
         ["CC(C)(C)C"]),
        ("15-atom path on a 12 x 12 grid", "run", "[C:1]" + "C" * 14 + ">>[C:1]", [grid]),
        ("16-atom path on a 12 x 12 grid", "run", "[C:1]" + "C" * 15 + ">>[C:1]", [grid]),
    ]


if __name__ == "__main__":
    main()
