#!/usr/bin/env python3
"""Writes the four 3-D styles of a few real molecules as SVG and PNG files (PNG
through headless Chromium), to look at by eye:

    build/venv/bin/python tools/gallery_3d.py [out_dir]
"""
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


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "build/gallery"
    os.makedirs(out, exist_ok=True)
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    for name, smiles in MOLECULES.items():
        conf = quorix.parse_smiles(smiles).conformer()
        for style in STYLES:
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
