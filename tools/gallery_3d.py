#!/usr/bin/env python3
"""Writes the four 3-D styles of a few real molecules as SVG and PNG files (PNG
through headless Chromium), to look at by eye:

    build/venv/bin/python tools/gallery_3d.py [out_dir]
    build/venv/bin/python tools/gallery_3d.py out_dir --drugs paracetamol,morphine [--style ball-and-stick]

--drugs takes the named records of tests/data/famous_drugs.smi, as users paste them.
"""
import argparse
import math
import os
import shutil
import subprocess
import sys

import quorix

MOLECULES = {
    "aspirin": "CC(=O)Oc1ccccc1C(=O)O",
    "caffeine": "Cn1cnc2c1c(=O)n(C)c(=O)n2C",
    "alanine": "C[C@H](N)C(=O)O",
    "chloro_nitrile": "ClC=CC#N",
}
STYLES = ["space-filling", "ball-and-stick", "stick", "wireframe"]


def drugs(names):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "famous_drugs.smi")
    with open(path) as f:
        table = dict(reversed(line.split()) for line in f if line.strip())
    missing = [n for n in names if n not in table]
    if missing:
        sys.exit(f"not in famous_drugs.smi: {', '.join(missing)}")
    return {n: table[n] for n in names}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out", nargs="?", default="build/gallery")
    ap.add_argument("--drugs", help="comma-separated names from tests/data/famous_drugs.smi")
    ap.add_argument("--style", choices=STYLES, help="one style instead of all four")
    args = ap.parse_args()
    out = args.out
    os.makedirs(out, exist_ok=True)
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    molecules = drugs(args.drugs.split(",")) if args.drugs else MOLECULES
    for name, smiles in molecules.items():
        conf = quorix.parse_smiles(smiles).conformer()
        for style in [args.style] if args.style else STYLES:
            report = conf.depiction_3d_report(style)
            base = os.path.abspath(os.path.join(out, f"{name}_{style}"))
            with open(base + ".svg", "w") as f:
                f.write(conf.to_svg(style))
            if chromium:
                size = f"{math.ceil(report['width'])},{math.ceil(report['height'])}"
                subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                                f"--window-size={size}", f"--screenshot={base}.png", f"file://{base}.svg"],
                               capture_output=True, timeout=120, check=True)
            print(base + (".png" if chromium else ".svg"), "degenerate" if report["degenerate"] else "")


if __name__ == "__main__":
    main()
