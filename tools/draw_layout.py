#!/usr/bin/env python3
"""Draws 2-D layouts as one SVG grid, for looking at them.

Input: blocks of lines, each block a drawing:
  # title
  A index x y symbol     (one per atom, layout units)
  B i j                  (one per bond)
  D note                 (optional lines printed under the title)
Usage: draw_layout.py DUMP OUT.svg [columns]
Then e.g.: chromium --headless --screenshot=out.png --window-size=1800,2400 OUT.svg
"""
import html
import math
import sys

CELL = 300
PAD = 30


def read_blocks(path):
    blocks = []
    for line in open(path):
        line = line.rstrip("\n")
        if line.startswith("# "):
            blocks.append({"title": line[2:], "atoms": {}, "bonds": [], "notes": []})
        elif line.startswith("A "):
            _, i, x, y, sym = line.split()[:5]
            blocks[-1]["atoms"][int(i)] = (float(x), float(y), sym)
        elif line.startswith("B "):
            _, i, j = line.split()[:3]
            blocks[-1]["bonds"].append((int(i), int(j)))
        elif line.startswith("D "):
            blocks[-1]["notes"].append(line[2:])
    return blocks


def cell(block, ox, oy):
    atoms = block["atoms"]
    out = [f'<rect x="{ox}" y="{oy}" width="{CELL}" height="{CELL}" fill="white" stroke="#ccc"/>']
    out.append(f'<text x="{ox + 4}" y="{oy + 14}" font-size="11" font-family="sans-serif">{html.escape(block["title"])}</text>')
    for k, note in enumerate(block["notes"]):
        out.append(f'<text x="{ox + 4}" y="{oy + 27 + 12 * k}" font-size="10" fill="#a00" font-family="sans-serif">{html.escape(note)}</text>')
    if not atoms:
        return out
    xs = [a[0] for a in atoms.values()]
    ys = [a[1] for a in atoms.values()]
    span = max(max(xs) - min(xs), max(ys) - min(ys), 1.0)
    scale = min((CELL - 2 * PAD) / span, 40.0)
    cx, cy = (max(xs) + min(xs)) / 2, (max(ys) + min(ys)) / 2

    def at(i):
        x, y, _ = atoms[i]
        return ox + CELL / 2 + (x - cx) * scale, oy + CELL / 2 + 8 - (y - cy) * scale

    for i, j in block["bonds"]:
        if i in atoms and j in atoms:
            (x1, y1), (x2, y2) = at(i), at(j)
            length = math.hypot(atoms[i][0] - atoms[j][0], atoms[i][1] - atoms[j][1])
            colour = "black" if abs(length - 1) < 0.05 else "#d60"
            out.append(f'<line x1="{x1:.1f}" y1="{y1:.1f}" x2="{x2:.1f}" y2="{y2:.1f}" stroke="{colour}" stroke-width="1.5"/>')
    for i, (x, y, sym) in atoms.items():
        px, py = at(i)
        fill = "#36c" if sym == "C" else "#c33"
        out.append(f'<circle cx="{px:.1f}" cy="{py:.1f}" r="2.5" fill="{fill}"/>')
        out.append(f'<text x="{px + 3:.1f}" y="{py - 3:.1f}" font-size="8" fill="#555" font-family="sans-serif">{i}</text>')
    return out


def main():
    blocks = read_blocks(sys.argv[1])
    columns = int(sys.argv[3]) if len(sys.argv) > 3 else 6
    rows = max(1, math.ceil(len(blocks) / columns))
    width, height = columns * CELL, rows * CELL
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}">']
    for k, block in enumerate(blocks):
        parts += cell(block, (k % columns) * CELL, (k // columns) * CELL)
    parts.append("</svg>")
    with open(sys.argv[2], "w") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
