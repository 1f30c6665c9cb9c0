"""The 3-D picture's canvas and per-atom report against a plain model of the
scene built from the conformer's own coordinates: principal axes by Jacobi
rotations, signs from the sorted projections, bond halves cut back at the balls,
bounds, margins and the page mapping."""
import math

import pytest

import quorix

STYLES = {  # ball scale, bond radius, line spacing, points per Å
    "space-filling": (1.0, 0.0, 0.0, 24.0),
    "ball-and-stick": (0.23, 0.15, 0.35, 36.0),
    "stick": (0.0, 0.30, 0.0, 36.0),
    "wireframe": (0.0, 0.01, 0.25, 36.0),
}
EPS = 2.220446049250313e-16


def away(x):
    return int(math.copysign(math.floor(abs(x) + 0.5), x))


def jacobi(m):
    """Eigenvalues (descending) and unit eigenvectors of a symmetric 3 × 3 matrix."""
    a = [row[:] for row in m]
    v = [[float(i == j) for j in range(3)] for i in range(3)]
    for _ in range(100):
        p, q = max(((0, 1), (0, 2), (1, 2)), key=lambda pq: abs(a[pq[0]][pq[1]]))
        if abs(a[p][q]) < 1e-300:
            break
        theta = (a[q][q] - a[p][p]) / (2 * a[p][q])
        t = math.copysign(1.0, theta) / (abs(theta) + math.sqrt(theta * theta + 1))
        c = 1 / math.sqrt(t * t + 1)
        s = t * c
        for k in range(3):
            a[k][p], a[k][q] = c * a[k][p] - s * a[k][q], s * a[k][p] + c * a[k][q]
        for k in range(3):
            a[p][k], a[q][k] = c * a[p][k] - s * a[q][k], s * a[p][k] + c * a[q][k]
        for k in range(3):
            v[k][p], v[k][q] = c * v[k][p] - s * v[k][q], s * v[k][p] + c * v[k][q]
    pairs = sorted(((a[k][k], [v[i][k] for i in range(3)]) for k in range(3)), key=lambda e: -e[0])
    return [e[0] for e in pairs], [e[1] for e in pairs]


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def axes(coords):
    n = len(coords)
    c = [sum(p[k] for p in coords) / n for k in range(3)]
    d = [[p[k] - c[k] for k in range(3)] for p in coords]
    values, (e0, e1, _) = jacobi([[sum(q[a] * q[b] for q in d) for b in range(3)] for a in range(3)])
    best = None
    for s0, s1 in ((1, 1), (1, -1), (-1, 1), (-1, -1)):
        a0, a1 = [s0 * x for x in e0], [s1 * x for x in e1]
        frame = (a0, a1, cross(a0, a1))
        key = sorted(tuple(away(dot(ax, q) * 1e6) for ax in frame) for q in d)
        if best is None or key < best[0]:
            best = (key, frame)
    t = 1e-6 * max(abs(values[0]), 2.2250738585072014e-308)
    return c, best[1], abs(values[0] - values[1]) <= t or abs(values[1] - values[2]) <= t


def model(conf, style, element_radius):
    ball, bond_r, spacing, s = STYLES[style]
    c, frame, degenerate = axes(conf.coords)
    proj = [[dot(ax, [p[k] - c[k] for k in range(3)]) for ax in frame] for p in conf.coords]
    radii = [ball * r for r in element_radius]
    reach, pieces = [], 0  # (x, y, half extent) of everything drawn
    if bond_r > 0:
        for b, e, order in conf.mol.bonds:
            p, q = proj[b], proj[e]
            dx, dy, dz = q[0] - p[0], q[1] - p[1], q[2] - p[2]
            l2, l3 = math.hypot(dx, dy), math.sqrt(dx * dx + dy * dy + dz * dz)
            lines = {2.0: 2, 3.0: 3, 4.0: 3}.get(order, 1) if spacing > 0 and l2 > EPS else 1
            nx, ny = (dy / l2, -dx / l2) if l2 > EPS else (0.0, 0.0)
            for k in range(lines):
                o = spacing * (k - (lines - 1) / 2)
                a, bb = [p[0] + nx * o, p[1] + ny * o, p[2]], [q[0] + nx * o, q[1] + ny * o, q[2]]
                mid = [(a[0] + bb[0]) / 2, (a[1] + bb[1]) / 2, (p[2] + q[2]) / 2]
                for start, r in ((a, radii[b]), (bb, radii[e])):
                    cut = min(math.sqrt(max(r * r - o * o, 0.0)), l3 / 2)
                    length = math.dist(start, mid)
                    if cut >= length:
                        continue
                    moved = [start[k] + (mid[k] - start[k]) * cut / length for k in range(3)]
                    pieces += max(1, math.ceil(4 * abs(mid[2] - moved[2])))
                    reach += [(moved[0], moved[1], bond_r), (mid[0], mid[1], bond_r)]
    reach += [(p[0], p[1], r) for p, r in zip(proj, radii) if r > 0]
    lo_x = min((x - h for x, _, h in reach), default=0.0)
    hi_x = max((x + h for x, _, h in reach), default=0.0)
    lo_y = min((y - h for _, y, h in reach), default=0.0)
    hi_y = max((y + h for _, y, h in reach), default=0.0)
    atoms = [(8 + (p[0] - lo_x) * s, 8 + (hi_y - p[1]) * s, s * r, p[2]) for p, r in zip(proj, radii)]
    return (hi_x - lo_x) * s + 16, (hi_y - lo_y) * s + 16, atoms, degenerate, pieces


@pytest.mark.parametrize("smiles", ["CC(=O)Oc1ccccc1C(=O)O", "N[C@@H](C)C(=O)O", "C=C", "O", "ClC=CBr",
                                    "OC(=O)C#CC(F)(Cl)I", "C[S@@](=O)CC"])
def test_report_matches_the_model(smiles):
    conf = quorix.parse_smiles(smiles).conformer()
    element_radius = [a["radius"] / 24 for a in conf.depiction_3d_report("space-filling")["atoms"]]
    for style in STYLES:
        report = conf.depiction_3d_report(style)
        width, height, atoms, degenerate, pieces = model(conf, style, element_radius)
        assert report["degenerate"] is degenerate is False
        assert report["width"] == pytest.approx(width, abs=1e-6)
        assert report["height"] == pytest.approx(height, abs=1e-6)
        for got, want in zip(report["atoms"], atoms):
            assert (got["x"], got["y"], got["radius"], got["depth"]) == pytest.approx(want, abs=1e-6)
        assert conf.to_svg(style).count('stroke="url(#c') == pieces
