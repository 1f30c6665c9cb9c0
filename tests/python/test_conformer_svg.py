"""Conformer.to_svg and depiction_3d_report: styles and their errors, the report,
well-formed deterministic SVG, and pictures a real browser draws."""
import inspect
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import pytest

import quorix
from png import read_png

STYLES = ["space-filling", "ball-and-stick", "stick", "wireframe"]
KNOWN = "space-filling、ball-and-stick、stick、wireframe"
MOLECULES = ["CC(=O)Oc1ccccc1C(=O)O", "C[C@H](N)C(=O)O", "O=C=O", "C#N", "[Na+].[Cl-]"]


def conf(smiles):
    return quorix.parse_smiles(smiles).conformer()


@pytest.fixture(scope="module")
def aspirin():
    return conf(MOLECULES[0])


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def test_default_style_and_argument_forms(aspirin):
    svg = aspirin.to_svg()
    assert svg == aspirin.to_svg("ball-and-stick") == aspirin.to_svg(style="ball-and-stick")
    assert svg.startswith('<svg xmlns="http://www.w3.org/2000/svg" width="') and svg.endswith("</svg>\n")
    assert len({aspirin.to_svg(s) for s in STYLES}) == 4
    for method in (quorix.Conformer.to_svg, quorix.Conformer.depiction_3d_report):
        assert str(inspect.signature(method)) == "(self, /, style='ball-and-stick')"


@pytest.mark.parametrize("name, shown", [
    ("Stick", '"Stick"'),
    ("", '""'),
    (" stick", '" stick"'),
    ('a"b\\', '"a\\"b\\\\"'),
    ("\t\n\r\0\x07", '"\\t\\n\\r\\0\\u{7}"'),
    ("球棍", '"球棍"'),
])
def test_unknown_style_names(aspirin, name, shown):
    for method in (aspirin.to_svg, aspirin.depiction_3d_report):
        with pytest.raises(ValueError) as err:
            method(name)
        assert str(err.value) == f"不认识的三维样式 {shown};认识的是:{KNOWN}"


@pytest.mark.parametrize("arg", [None, 3, b"stick"])
def test_style_must_be_text(aspirin, arg):
    with pytest.raises(TypeError, match=r"^argument 'style': '\w+' object cannot be cast as 'str'$"):
        aspirin.to_svg(arg)


def test_report(aspirin):
    n = aspirin.mol.num_atoms
    elements = aspirin.mol.atomic_nums
    for style in STYLES:
        r = aspirin.depiction_3d_report(style)
        assert list(r) == ["style", "width", "height", "degenerate", "atoms"]
        assert r["style"] == style and r["degenerate"] is False
        assert len(r["atoms"]) == n
        assert all(list(a) == ["x", "y", "radius", "depth"] for a in r["atoms"])
        assert all(8 - 1e-9 <= a["x"] <= r["width"] - 8 + 1e-9 for a in r["atoms"]) or style == "space-filling"
        svg = aspirin.to_svg(style)
        assert f'width="{r["width"]:.2f}" height="{r["height"]:.2f}"' in svg
    radii = {1: 1.2, 6: 1.7, 8: 1.55}  # van der Waals radii of the element table
    for a, z in zip(aspirin.depiction_3d_report("space-filling")["atoms"], elements):
        assert a["radius"] == pytest.approx(24 * f32(radii[z]), rel=1e-12)
    assert all(a["radius"] == 0.0 for a in aspirin.depiction_3d_report("stick")["atoms"])


@pytest.mark.parametrize("smiles", ["CC(=O)[O-].[Na+]", "[Fe+2].c1cc[cH-]c1.c1cc[cH-]c1", "O.O.[Cu+2].[O-]S(=O)(=O)[O-]"])
def test_salts_are_framed_whole(smiles):
    # Pieces far apart would make a canvas tens of thousands of points wide. A
    # lone ion has nothing to draw in the styles without balls.
    c = conf(smiles)
    bonded = {a for bond in c.mol.bonds for a in bond[:2]}
    for style in STYLES:
        r = c.depiction_3d_report(style)
        assert r["width"] < 600 and r["height"] < 600
        drawn = [a for i, a in enumerate(r["atoms"]) if a["radius"] > 0 or i in bonded]
        assert len(drawn) >= len(r["atoms"]) - 1
        assert all(a["radius"] <= a["x"] <= r["width"] - a["radius"] and
                   a["radius"] <= a["y"] <= r["height"] - a["radius"] for a in drawn)


def test_symmetric_molecules_are_degenerate():
    assert conf("C").depiction_3d_report()["degenerate"] is True
    assert conf("C#C").depiction_3d_report()["degenerate"] is True


@pytest.mark.parametrize("smiles", MOLECULES)
def test_well_formed_with_every_reference_defined(smiles):
    c = conf(smiles)
    for style in STYLES:
        svg = c.to_svg(style)
        root = ET.fromstring(svg)
        ids = [e.get("id") for e in root.iter() if e.get("id")]
        assert len(ids) == len(set(ids))
        used = set(re.findall(r"url\(#([^)]+)\)", svg))
        assert used <= set(ids)
        assert "NaN" not in svg and "inf" not in svg
        circles = svg.count("<circle")
        assert circles == (c.mol.num_atoms if style in ("space-filling", "ball-and-stick") else 0)


def test_same_bytes_in_another_process(aspirin):
    code = ("import quorix, hashlib; c = quorix.parse_smiles('CC(=O)Oc1ccccc1C(=O)O').conformer();"
            "print(hashlib.sha256(''.join(c.to_svg(s) for s in %r).encode()).hexdigest())" % STYLES)
    import hashlib
    here = hashlib.sha256("".join(aspirin.to_svg(s) for s in STYLES).encode()).hexdigest()
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.strip()
    assert out == here
    assert aspirin.to_svg() == aspirin.to_svg()


def find_chromium():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def screenshot(svg, width, height, folder, name):
    src = os.path.join(folder, name + ".svg")
    png = os.path.join(folder, name + ".png")
    with open(src, "w") as f:
        f.write(svg)
    subprocess.run([find_chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    f"--window-size={width},{height}", f"--screenshot={png}", "file://" + src],
                   capture_output=True, timeout=120, check=True)
    with open(png, "rb") as f:
        return read_png(f.read())


@pytest.mark.skipif(find_chromium() is None, reason="chromium is not installed (tools/test.sh installs it)")
@pytest.mark.parametrize("smiles", MOLECULES[:3])
def test_browser_draws_inside_the_margins(smiles):
    c = conf(smiles)
    with tempfile.TemporaryDirectory() as folder:
        for style in STYLES:
            r = c.depiction_3d_report(style)
            w, h = math.ceil(r["width"]), math.ceil(r["height"])
            _, _, rows = screenshot(c.to_svg(style), w, h, folder, style)
            drawn = [(x, y) for y, row in enumerate(rows[:h]) for x in range(min(w, len(row) // 3))
                     if row[3 * x:3 * x + 3] != b"\xff\xff\xff"]
            assert len(drawn) > 50, style
            xs, ys = [p[0] for p in drawn], [p[1] for p in drawn]
            # The 8-point margins stay blank and the drawing reaches each of them.
            assert 5 <= min(xs) <= 10 and w - 11 <= max(xs) <= w - 6, (style, min(xs), max(xs), w)
            assert 5 <= min(ys) <= 10 and h - 11 <= max(ys) <= h - 6, (style, min(ys), max(ys), h)
            # Heavy atoms drawn as balls show colour around their centres, unless a
            # white hydrogen ball covers them from the front.
            drawn = set(drawn)
            heavy = [a for a, z in zip(r["atoms"], c.mol.atomic_nums) if z != 1 and a["radius"] > 0]
            seen = [a for a in heavy if any((i, j) in drawn for i in range(int(a["x"]) - 2, int(a["x"]) + 3)
                                            for j in range(int(a["y"]) - 2, int(a["y"]) + 3))]
            assert len(seen) >= 0.75 * len(heavy), (style, len(seen), len(heavy))


def away(x):
    """Nearest integer, halves away from zero."""
    return int(math.copysign(math.floor(abs(x) + 0.5), x))


def highlight(c, t):
    return tuple(min(255, max(0, away((255 - v) * t + v))) for v in c)


def shade(c, s):
    return tuple(min(255, away(v * s)) for v in c)


def hex_colour(c):
    return "#%02x%02x%02x" % c


def parse_colour(text):
    return tuple(int(text[k:k + 2], 16) for k in (0, 2, 4))


BAND_ID = re.compile(r"^c(m?\d+)_(m?\d+)_(m?\d+)_(m?\d+)_([0-9a-f]{6})$")


@pytest.mark.parametrize("smiles", MOLECULES + ["OC(=O)C=Cc1ccc(Br)cc1", "FC(F)(F)C#CI"])
def test_definitions_follow_from_their_ids(smiles):
    """Every gradient is re-derived from its id; the defs come sorted, balls first,
    and the circles are the report's atoms, painted from the back."""
    c = conf(smiles)
    for style in STYLES:
        svg, report = c.to_svg(style), c.depiction_3d_report(style)
        w, h = "%.2f" % report["width"], "%.2f" % report["height"]
        lines = svg.split("\n")
        assert lines[:2] == [f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" viewBox="0 0 {w} {h}">',
                             f'<rect width="{w}" height="{h}" fill="#fff"/>']
        balls, bands = [], []
        for line in lines:
            m = re.fullmatch(r'<radialGradient id="s([0-9a-f]{6})" (.*)', line)
            if m:
                col = parse_colour(m.group(1))
                balls.append(col)
                assert m.group(2) == ('cx="0.5" cy="0.5" r="0.55" fx="0.32" fy="0.30">'
                                      f'<stop offset="0" stop-color="{hex_colour(highlight(col, 0.55))}"/>'
                                      f'<stop offset="0.55" stop-color="{hex_colour(col)}"/>'
                                      f'<stop offset="1" stop-color="{hex_colour(shade(col, 0.55))}"/>'
                                      "</radialGradient>")
            m = re.fullmatch(r'<linearGradient id="([^"]+)" (.*)', line)
            if m:
                na, nb, off, hw = (int(v.replace("m", "-")) for v in BAND_ID.match(m.group(1)).groups()[:4])
                col = parse_colour(m.group(1)[-6:])
                bands.append((na, nb, off, hw, col))
                a, b, o, hh = na / 1000, nb / 1000, off / 1000, hw / 1000
                dark = hex_colour(shade(col, 1 - 0.42))
                assert m.group(2) == (f'gradientUnits="userSpaceOnUse" x1="{a * (o - hh):.3f}" y1="{b * (o - hh):.3f}" '
                                      f'x2="{a * (o + hh):.3f}" y2="{b * (o + hh):.3f}">'
                                      f'<stop offset="0" stop-color="{dark}"/>'
                                      f'<stop offset="0.4" stop-color="{hex_colour(col)}"/>'
                                      f'<stop offset="0.75" stop-color="{hex_colour(highlight(col, 0.42))}"/>'
                                      f'<stop offset="1" stop-color="{dark}"/></linearGradient>')
                # The normal is a unit vector turned towards the upper left.
                assert abs(math.hypot(na, nb) - 1000) < 2 and na + nb <= 0
        assert balls == sorted(set(balls)) and bands == sorted(set(bands))
        assert ("<defs>" in lines) == bool(balls or bands)
        if balls or bands:
            assert lines[2] == "<defs>" and lines[3 + len(balls) + len(bands)] == "</defs>"
            assert all(line.startswith("<radialGradient") for line in lines[3:3 + len(balls)])
        circles = re.findall(r'<circle cx="([^"]+)" cy="([^"]+)" r="([^"]+)" fill="url\(#s([0-9a-f]{6})\)" '
                             r'stroke="(#[0-9a-f]{6})" stroke-width="([^"]+)"/>', svg)
        assert len(circles) == svg.count("<circle")
        for cx, cy, r, col, stroke, width in circles:
            assert stroke == hex_colour(shade(parse_colour(col), 0.55))
            assert float(width) == pytest.approx(max(float(r) * 0.04, 0.25), abs=0.006)
        drawn = [a for a in report["atoms"] if a["radius"] > 0]
        assert sorted(c[:3] for c in circles) == sorted(("%.2f" % a["x"], "%.2f" % a["y"], "%.2f" % a["radius"])
                                                       for a in drawn)
        where = {("%.2f" % a["x"], "%.2f" % a["y"]): a["depth"] for a in drawn}
        depths = [where[cx, cy] for cx, cy, *_ in circles]
        assert all(later >= earlier - 1e-6 for earlier, later in zip(depths, depths[1:]))
        assert bool(bands) == (style != "space-filling" and c.mol.num_bonds > 0)
        assert lines[-2:] == ["</svg>", ""]
