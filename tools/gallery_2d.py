#!/usr/bin/env python3
"""Draws 2-D molblocks of real molecules (Mol.to_molblock_2d) as SVG contact
sheets with a small renderer of its own (lines, double and triple bonds, solid
and hashed wedges, element labels, charges), and turns each sheet into a PNG
through headless Chromium, to look at by eye:

    build/venv/bin/python tools/gallery_2d.py [out_dir] [count] [start]

Each cell shows the molecule's line number in tests/data/molecules.smi and the
non-empty entries of its depiction report.
"""
import math
import os
import shutil
import subprocess
import sys
from pathlib import Path

import quorix

DATA = Path(__file__).resolve().parents[1] / "tests" / "data"
EXTRA = {
    "ferrocene": "[Fe]%10%11%12%13%14%15%16%17%18%19.[CH]%101[CH]%11[CH]%12[CH]%13[CH]%141."
                 "[CH]%152[CH]%16[CH]%17[CH]%18[CH]%192",
    "cisplatin": "[NH3]->[Pt](<-[NH3])(Cl)Cl",
    "zinc porphyrin": "C1=CC2=CC3=CC=C4N3[Zn]N5C(=CC1=N2)C=CC5=CC6=NC(=C4)C=C6",
    "Pt(en)Cl2": "Cl[Pt]1(Cl)[NH2]CC[NH2]1",
    "bicyclo[4.4.4]": "C1CCCC2CCCCC(CCCC1)CCCC2",
    "ring trans": "F[C@H]1CCCC/C=C/CCC1",
}
CELL, SCALE, COLS, ROWS = 320, 26.0, 4, 3
COLOURS = {"N": "#2040d0", "O": "#d02020", "S": "#b0a000", "F": "#20a020", "Cl": "#20a020", "Br": "#a03020",
           "I": "#8020a0", "P": "#e08000"}


def read_block(text):
    lines = text.split("\n")
    n, m = int(lines[3][0:3]), int(lines[3][3:6])
    atoms = []
    for line in lines[4:4 + n]:
        atoms.append({"x": float(line[0:10]), "y": float(line[10:20]), "el": line[31:34].strip(), "chg": 0})
    bonds = []
    for line in lines[4 + n:4 + n + m]:
        bonds.append((int(line[0:3]) - 1, int(line[3:6]) - 1, int(line[6:9]), int(line[9:12])))
    for line in lines[4 + n + m:]:
        if line.startswith("M  CHG"):
            f = line.split()
            for k in range(int(f[2])):
                atoms[int(f[3 + 2 * k]) - 1]["chg"] = int(f[4 + 2 * k])
    return atoms, bonds


def labelled(atom, degree):
    return atom["el"] != "C" or atom["chg"] != 0 or degree == 0


def draw_cell(out, atoms, bonds, ox, oy, caption, notes, misdrawn=()):
    if atoms:
        xs = [a["x"] for a in atoms]
        ys = [a["y"] for a in atoms]
        span = max(max(xs) - min(xs), max(ys) - min(ys), 1e-9)
        scale = min(SCALE, (CELL - 50) / span)
        cx, cy = (max(xs) + min(xs)) / 2, (max(ys) + min(ys)) / 2
    else:
        scale, cx, cy = SCALE, 0.0, 0.0
    # Molblock y grows upwards, SVG y downwards.
    pts = [(ox + CELL / 2 + (a["x"] - cx) * scale, oy + CELL / 2 + 8 - (a["y"] - cy) * scale) for a in atoms]
    degree = [0] * len(atoms)
    for a, b, _, _ in bonds:
        degree[a] += 1
        degree[b] += 1
    lab = [labelled(atoms[i], degree[i]) for i in range(len(atoms))]
    out.append(f'<rect x="{ox}" y="{oy}" width="{CELL}" height="{CELL}" fill="white" stroke="#ccc"/>')
    for index, (a, b, order, stereo) in enumerate(bonds):
        (x1, y1), (x2, y2) = pts[a], pts[b]
        dx, dy = x2 - x1, y2 - y1
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length, dx / length
        # Trim bond ends at labelled atoms.
        t1 = 7 / length if lab[a] else 0
        t2 = 7 / length if lab[b] else 0
        sx, sy, ex, ey = x1 + dx * t1, y1 + dy * t1, x2 - dx * t2, y2 - dy * t2
        if stereo == 1:
            w = 0.12 * scale
            out.append(f'<polygon points="{sx:.1f},{sy:.1f} {ex + nx * w:.1f},{ey + ny * w:.1f} '
                       f'{ex - nx * w:.1f},{ey - ny * w:.1f}" fill="black"/>')
        elif stereo == 6:
            for k in range(1, 8):
                f = k / 7
                px, py, w = sx + (ex - sx) * f, sy + (ey - sy) * f, 0.12 * scale * f
                out.append(f'<line x1="{px + nx * w:.1f}" y1="{py + ny * w:.1f}" x2="{px - nx * w:.1f}" '
                           f'y2="{py - ny * w:.1f}" stroke="black" stroke-width="1"/>')
        else:
            offsets = {1: [0], 2: [-2.2, 2.2], 3: [-3.5, 0, 3.5]}.get(order, [0])
            # Dative bonds dashed; double bonds drawn against their cis/trans in red.
            dash = ' stroke-dasharray="3,2"' if order == 9 else ""
            colour = "#c00" if index in misdrawn else "black"
            for off in offsets:
                out.append(f'<line x1="{sx + nx * off:.1f}" y1="{sy + ny * off:.1f}" x2="{ex + nx * off:.1f}" '
                           f'y2="{ey + ny * off:.1f}" stroke="{colour}" stroke-width="1.2"{dash}/>')
    for i, atom in enumerate(atoms):
        if not lab[i]:
            continue
        x, y = pts[i]
        text = atom["el"]
        if atom["chg"]:
            c = atom["chg"]
            text += ("+" if c > 0 else "−") + (str(abs(c)) if abs(c) > 1 else "")
        colour = COLOURS.get(atom["el"], "#000")
        out.append(f'<text x="{x:.1f}" y="{y + 4:.1f}" font-family="Arial" font-size="11" fill="{colour}" '
                   f'text-anchor="middle" stroke="white" stroke-width="3" paint-order="stroke">{text}</text>')
    out.append(f'<text x="{ox + 4}" y="{oy + 13}" font-family="Arial" font-size="11" fill="#333">{caption}</text>')
    for k, note in enumerate(notes):
        out.append(f'<text x="{ox + 4}" y="{oy + CELL - 6 - 12 * k}" font-family="Arial" font-size="9" '
                   f'fill="#a00">{note}</text>')


def notes_of(report):
    out = []
    for key, value in report.items():
        if value:
            text = f"{key}: {value}"
            out.append(text if len(text) < 60 else text[:57] + "...")
    return out


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "build/gallery_2d"
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 36
    start = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    os.makedirs(out_dir, exist_ok=True)
    lines = (DATA / "molecules.smi").read_text(encoding="utf-8").splitlines()
    picked = list(EXTRA.items())
    # Chiral and cis/trans molecules first: they are what the wedges are for.
    step = max(1, (len(lines) - start) // (count * 3))
    for i in range(start, len(lines), step):
        smiles = lines[i].split()[0]
        if len(picked) >= count + len(EXTRA):
            break
        if "@" in smiles or "/" in smiles or len(picked) % 3 == 0:
            picked.append((f"#{i + 1}", smiles))
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    per_sheet = COLS * ROWS
    for sheet in range(0, len(picked), per_sheet):
        cells = []
        for k, (name, smiles) in enumerate(picked[sheet:sheet + per_sheet]):
            mol = quorix.parse_smiles(smiles)
            try:
                atoms, bonds = read_block(mol.to_molblock_2d(name))
                report = mol.depiction_report()
                notes, misdrawn = notes_of(report), set(report["misdrawn_stereo"])
            except ValueError as e:
                atoms, bonds, notes, misdrawn = [], [], [str(e)[:60]], set()
            draw_cell(cells, atoms, bonds, (k % COLS) * CELL, (k // COLS) * CELL, name, notes, misdrawn)
        w, h = COLS * CELL, ROWS * CELL
        svg = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" viewBox="0 0 {w} {h}">'
               + "".join(cells) + "</svg>\n")
        base = os.path.abspath(os.path.join(out_dir, f"sheet_{sheet // per_sheet:02d}"))
        with open(base + ".svg", "w") as f:
            f.write(svg)
        if chromium:
            subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                            f"--window-size={w},{h}", f"--screenshot={base}.png", f"file://{base}.svg"],
                           capture_output=True, timeout=120, check=True)
        print(base + (".png" if chromium else ".svg"))


if __name__ == "__main__":
    main()
