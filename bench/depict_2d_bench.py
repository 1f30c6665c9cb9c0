"""Mol.depiction_report and Mol.to_molblock_2d through Python on the real
molecules: per-molecule median and molecules per second over the set, one core,
the Python call included.

    python bench/depict_2d_bench.py [repeats]     (quorix importable, e.g. installed)
"""
import statistics
import sys
import time
from pathlib import Path

import quorix

DATA = Path(__file__).resolve().parents[1] / "tests" / "data"


def molecules():
    out = []
    for line in (DATA / "molecules.smi").read_text(encoding="utf-8").splitlines():
        m = quorix.parse_smiles(line.split()[0])
        try:
            m.copy().sanitize()
        except ValueError:
            continue
        out.append(m)
    return out


def timed(name, mols, repeats, call):
    per = [float("inf")] * len(mols)
    clock = time.perf_counter
    for _ in range(repeats):
        for i, m in enumerate(mols):
            t0 = clock()
            call(m)
            per[i] = min(per[i], clock() - t0)
    median = statistics.median(per)
    print(f"{name:18} {len(mols) / sum(per):8.0f} molecules/s (set), {1 / median:8.0f}/s at the median "
          f"({median * 1e6:.1f} us)")


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    mols = molecules()
    print(f"{len(mols)} molecules that sanitise")
    timed("depiction_report", mols, repeats, lambda m: m.depiction_report())
    timed("to_molblock_2d", mols, repeats, lambda m: m.to_molblock_2d())


if __name__ == "__main__":
    main()
