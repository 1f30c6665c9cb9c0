"""parse_molblock and Molblock: finishing, errors, getters, and stereo read from
hand-drawn wedges agreeing with the same molecules in 3-D."""
import pytest

import quorix


def atom_line(x, y, z, symbol):
    return f"{x:10.4f}{y:10.4f}{z:10.4f} {symbol:<3} 0  0  0  0  0  0  0  0  0  0  0  0\n"


def molblock(atoms, bonds, title=""):
    """atoms: (symbol, x, y, z); bonds: (first, second, type, stereo), 1-based."""
    text = f"{title}\n  test\n\n{len(atoms):3d}{len(bonds):3d}  0  0  0  0  0  0  0  0999 V2000\n"
    text += "".join(atom_line(x, y, z, s) for s, x, y, z in atoms)
    text += "".join(f"{a:3d}{b:3d}{t:3d}{s:3d}  0  0  0\n" for a, b, t, s in bonds)
    return text + "M  END\n"


ETHANOL = molblock([("C", 0, 0, 0), ("C", 1.5, 0, 0), ("O", 2.2, 1.2, 0)], [(1, 2, 1, 0), (2, 3, 1, 0)])


@pytest.mark.parametrize(
    "title, shown",
    [
        ("", "<quorix.Molblock 3 atoms 2D>"),
        ('a"b\\c\td\re', '<quorix.Molblock 3 atoms 2D "a\\"b\\\\c\\td\\re">'),
        ("e\u0301\x01", '<quorix.Molblock 3 atoms 2D "e\\u{301}\\u{1}">'),
    ],
)
def test_repr_quotes_the_title(title, shown):
    block = quorix.parse_molblock(molblock([("C", 0, 0, 0), ("C", 1.5, 0, 0), ("O", 2.2, 1.2, 0)],
                                           [(1, 2, 1, 0), (2, 3, 1, 0)], title))
    assert repr(block) == shown
    assert block.title == title


def test_getters_copy():
    block = quorix.parse_molblock(text=ETHANOL)
    assert block.coords == [(0.0, 0.0, 0.0), (1.5, 0.0, 0.0), (2.2, 1.2, 0.0)]
    assert block.is_3d is False
    mol = block.mol
    assert mol.to_canonical_smiles() == "CCO"
    assert block.mol is not mol
    empty = quorix.parse_molblock("\n\n\n  0  0\n")
    assert empty.coords == [] and empty.title == "" and repr(empty) == "<quorix.Molblock 0 atoms 2D>"


@pytest.mark.parametrize(
    "z, is_3d",
    [(0.0, False), ("    -1e-9", False), ("     1e-8", True)],
)
def test_dimension(z, is_3d):
    text = ETHANOL.splitlines(keepends=True)
    line = text[5]
    z_text = f"{z:10.4f}" if isinstance(z, float) else f"{z:>10}"
    text[5] = line[:20] + z_text + line[30:]
    assert quorix.parse_molblock("".join(text)).is_3d is is_3d


@pytest.mark.parametrize(
    "text, message",
    [
        ("a\nb\nc\n", "molblock 截断了:缺头四行"),
        (ETHANOL.replace(" O ", " Q "), "第 6 行:不认识的元素符号 `Q`"),
        (ETHANOL.replace("  2  3  1  0", "  2  1  1  0"), "第 8 行这两个原子之间已经有一根键"),
        (ETHANOL.replace("  3  2  0", "  3  1  0"), "第 3 行的计数行少算了:第 8 行是它没算上的键行"),
        (ETHANOL.replace("    2.2000", "     1e300"), "第 6 行x 超出 V2000 十位坐标栏的范围"),
    ],
)
def test_read_errors(text, message):
    with pytest.raises(ValueError) as e:
        quorix.parse_molblock(text)
    assert str(e.value) == message


def test_sanitize_error():
    five = molblock([("C", 0, 0, 0)] + [("F", 1, k, 0) for k in range(5)], [(1, k + 2, 1, 0) for k in range(5)])
    with pytest.raises(ValueError, match="^价键计算失败:原子 #0\\(C\\)"):
        quorix.parse_molblock(five)


def test_argument_errors():
    with pytest.raises(TypeError, match="argument 'text': 'int' object cannot be cast as 'str'"):
        quorix.parse_molblock(3)
    with pytest.raises(TypeError, match=r"parse_molblock\(\) missing 1 required positional argument: 'text'"):
        quorix.parse_molblock()


# ----------------------------------------------------------------------------
# Stereo from wedges (2-D) and from coordinates (3-D) on hand-drawn molecules.
# Each drawing: atoms (symbol, x, y), bonds (first, second, type, stereo) with the
# wedge's narrow end first. The 3-D form lifts the wide end of every wedge 0.8 Å
# toward the viewer (solid) or away (hashed), as the drawing means. Expected
# SMILES checked by hand with the CIP rules (alanine S, ephedrine 1R,2S,
# pent-3-en-2-ol R,E); alkenes as drawn.

HEX = [(0.0, 1.0), (0.866, 0.5), (0.866, -0.5), (0.0, -1.0), (-0.866, -0.5), (-0.866, 0.5)]


DRAWINGS = {
    "L-alanine": (
        [("C", 0, 0), ("N", -0.866, -0.5), ("C", 0.866, -0.5), ("C", 0, 1), ("O", 0.866, -1.5), ("O", 1.732, 0)],
        [(1, 2, 1, 0), (1, 3, 1, 0), (1, 4, 1, 1), (3, 5, 2, 0), (3, 6, 1, 0)],
        "N[C@@H](C)C(=O)O",
    ),
    "ephedrine": (
        [("C", 0, 0), ("C", 0.866, 0.5), ("N", 1.732, 0), ("C", 2.598, 0.5), ("O", 0, -1), ("C", 0.866, 1.5)]
        + [("C", -0.866 + x - 0.866, 0.5 + y) for x, y in HEX[4:] + HEX[:4]],
        [(1, 2, 1, 0), (2, 3, 1, 0), (3, 4, 1, 0), (1, 5, 1, 6), (2, 6, 1, 6), (1, 7, 1, 0)]
        + [(7 + k, 7 + (k + 1) % 6, 4, 0) for k in range(6)],
        "CN[C@@H](C)[C@H](O)c1ccccc1",
    ),
    "R,E-pent-3-en-2-ol": (
        [("C", -0.866, -0.5), ("C", 0, 0), ("O", 0, 1), ("C", 0.866, -0.5), ("C", 1.732, 0), ("C", 2.598, -0.5)],
        [(1, 2, 1, 0), (2, 3, 1, 1), (2, 4, 1, 0), (4, 5, 2, 0), (5, 6, 1, 0)],
        "C[C@@H](O)/C=C/C",
    ),
    "cis-2-butene": (
        [("C", -0.5, 0.866), ("C", 0, 0), ("C", 1, 0), ("C", 1.5, 0.866)],
        [(1, 2, 1, 0), (2, 3, 2, 0), (3, 4, 1, 0)],
        "C/C=C\\C",
    ),
    "either-2-butene": (
        [("C", -0.5, 0.866), ("C", 0, 0), ("C", 1, 0), ("C", 1.5, -0.866)],
        [(1, 2, 1, 0), (2, 3, 2, 3), (3, 4, 1, 0)],
        "CC=CC",
    ),
    "cis-1,2-dimethylcyclohexane": (
        [("C", x, y) for x, y in HEX] + [("C", 0, 2), ("C", 1.732, 1.0)],
        [(k + 1, (k + 1) % 6 + 1, 1, 0) for k in range(6)] + [(1, 7, 1, 1), (2, 8, 1, 1)],
        None,
    ),
    "trans-1,2-dimethylcyclohexane": (
        [("C", x, y) for x, y in HEX] + [("C", 0, 2), ("C", 1.732, 1.0)],
        [(k + 1, (k + 1) % 6 + 1, 1, 0) for k in range(6)] + [(1, 7, 1, 1), (2, 8, 1, 6)],
        None,
    ),
}


def drawn(name, mirror=False, flip=False, three_d=False):
    atoms, bonds, _ = DRAWINGS[name]
    sign = -1 if mirror else 1
    bonds = [(a, b, t, {1: 6, 6: 1}.get(s, s) if flip else s) for a, b, t, s in bonds]
    z = [0.0] * len(atoms)
    if three_d:
        z[0] = 0.01  # some |z| above the threshold even without wedges
        for a, b, _, s in bonds:
            if s in (1, 6):
                z[b - 1] = 0.8 if s == 1 else -0.8
    rows = [(sym, sign * x, y, z[k]) for k, (sym, x, y) in enumerate(atoms)]
    return molblock(rows, bonds)


def canonical(smiles):
    mol = quorix.parse_smiles(smiles)
    mol.sanitize()
    return mol.to_canonical_smiles()


def mirror_smiles(smiles):
    return smiles.replace("@@", "\0").replace("@", "@@").replace("\0", "@")


@pytest.mark.parametrize("name", sorted(DRAWINGS))
@pytest.mark.parametrize("three_d", [False, True], ids=["2d", "3d"])
@pytest.mark.parametrize("mirror, flip", [(False, False), (True, False), (False, True), (True, True)],
                         ids=["drawn", "mirrored", "wedges_flipped", "both"])
def test_wedges_and_coordinates_agree(name, three_d, mirror, flip):
    block = quorix.parse_molblock(drawn(name, mirror, flip, three_d))
    assert block.is_3d is three_d
    got = block.mol.to_canonical_smiles()
    # 2-D wedges and 3-D coordinates of the same molecule give the same stereo.
    other = quorix.parse_molblock(drawn(name, mirror, flip, not three_d)).mol.to_canonical_smiles()
    assert got == other
    expected = DRAWINGS[name][2]
    if expected is not None:
        if mirror != flip:
            expected = mirror_smiles(expected)
        assert got == canonical(expected)


@pytest.mark.parametrize("three_d", [False, True], ids=["2d", "3d"])
def test_ring_with_two_centres(three_d):
    cis = quorix.parse_molblock(drawn("cis-1,2-dimethylcyclohexane", three_d=three_d)).mol.to_canonical_smiles()
    cis_mirror = quorix.parse_molblock(drawn("cis-1,2-dimethylcyclohexane", mirror=True, three_d=three_d))
    trans = quorix.parse_molblock(drawn("trans-1,2-dimethylcyclohexane", three_d=three_d)).mol.to_canonical_smiles()
    trans_mirror = quorix.parse_molblock(drawn("trans-1,2-dimethylcyclohexane", mirror=True, three_d=three_d))
    assert cis.count("[C@") == 2 and cis != trans  # two marked centres: meso, not unmarked
    assert cis_mirror.mol.to_canonical_smiles() == cis  # meso: its own mirror image
    assert trans_mirror.mol.to_canonical_smiles() != trans  # chiral
    assert "@" in trans


def canonical_heavy(mol):
    mol = mol.copy()
    mol.remove_hs()
    return mol.to_canonical_smiles()


def from_own_conformer(smiles):
    conformer = quorix.parse_smiles(smiles).conformer()
    return conformer.mol, quorix.parse_molblock(conformer.to_molblock()).mol


# Marks on centres that twin leaves or three alike branches rule out; the
# drawing of each marked molecule wedges them.
RULED_OUT = {
    "cyclohexane": "[C@]1([H])([H])" + "[C@@]([H])([H])" * 4 + "[C@]1([H])[H]",
    "cyclododecane": "[C@]1([H])([H])" + "[C@@]([H])([H])" * 10 + "[C@]1([H])[H]",
    "adamantane": "C1[C@@H]2C[C@@H]3C[C@H]1C[C@H](C2)C3",
    "cubane": "[C@H]12[C@@H]3[C@H]4[C@@H]1[C@H]5[C@@H]2[C@H]3[C@@H]45",
    "bicyclooctane": "C1C[C@H]2CC[C@@H]1CC2",
}


@pytest.mark.parametrize("name", sorted(RULED_OUT))
def test_ruled_out_centres_carry_no_stereo_by_any_road(name):
    marked = RULED_OUT[name]
    plain = marked.replace("@", "")
    expected = canonical(plain)
    assert "@" not in expected
    assert canonical(marked) == expected
    with_hs, read_3d = from_own_conformer(plain)
    assert read_3d.to_canonical_smiles() == with_hs.to_canonical_smiles()
    assert "@" not in read_3d.to_smiles()
    assert canonical_heavy(read_3d) == canonical_heavy(quorix.parse_smiles(plain))
    marked_mol = quorix.parse_smiles(marked)
    marked_mol.sanitize()
    drawing = marked_mol.to_molblock_2d()
    assert any(len(line) == 21 and line[9:12].strip() in ("1", "6") for line in drawing.splitlines())
    read_2d = quorix.parse_molblock(drawing).mol
    assert "@" not in read_2d.to_smiles()
    assert canonical_heavy(read_2d) == canonical_heavy(quorix.parse_smiles(plain))


# Centres that stay: real ones, and bridgeheads whose two alike ring neighbours
# lead to another centre. Text read back from the molecule's own conformer.
KEPT = [
    ("camphor", "CC1(C)[C@@H]2CC[C@@]1(C)C(=O)C2", "CC1(C)[C@H]2CC([C@]1(C)CC2)=O"),
    ("cis_dimethylcyclohexane", "C[C@H]1CC[C@@H](C)CC1", "C[C@@H]1CC[C@H](C)CC1"),
    ("trans_dimethylcyclohexane", "C[C@H]1CC[C@H](C)CC1", "C[C@@H]1CC[C@@H](C)CC1"),
    ("norbornane", "C1CC2CCC1C2", "C1[C@@H]2CC[C@H]1CC2"),
    ("amantadine", "NC12CC3CC(CC(C3)C1)C2", "C1[C@@H]2C[C@@H]3CC1(C[C@@H](C3)C2)N"),
]


@pytest.mark.parametrize("name, smiles, from_3d", KEPT, ids=[k[0] for k in KEPT])
def test_kept_centres_read_back_from_3d(name, smiles, from_3d):
    _, read_3d = from_own_conformer(smiles)
    assert canonical_heavy(read_3d) == from_3d
    assert canonical(from_3d) == from_3d
    if "@" in smiles:
        assert canonical(smiles) == from_3d
    # Marks written on the amine carbon as well: only that one goes.
    if name == "amantadine":
        assert canonical("N[C@]12C[C@@H]3C[C@@H](C[C@@H](C3)C1)C2") == from_3d


# A centre with three alike branches, each itself a centre, drawn with the
# centre first and last: every verdict is reached on the tags as drawn, before
# any branch's tag is read back.
@pytest.mark.parametrize("smiles, centre", [
    ("[C@H]([C@@H](F)Cl)([C@@H](F)Cl)[C@@H](F)Cl", 0),
    ("F[C@@H](Cl)[C@H]([C@@H](F)Cl)[C@@H](F)Cl", 3),
])
def test_three_alike_branches_read_back_from_wedges_without_a_tag(smiles, centre):
    back = quorix.parse_molblock(quorix.parse_smiles(smiles).to_molblock_2d()).mol
    tags = [d["chiral_tag"] for d in back.atom_descriptors()]
    assert tags[centre] == "unspecified"
    assert sum(t in ("cw", "ccw") for t in tags) == 3
