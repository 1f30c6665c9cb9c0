"""Mol.conformer and the Conformer class: members, repr, determinism (also
across processes), molblock output and the exact error texts."""
import math
import re
import struct
import subprocess
import sys

import pytest

import quorix
from conftest import make_mol, needs_hooks


def conf(smiles):
    return quorix.parse_smiles(smiles).conformer()


def coord_bytes(c):
    return b"".join(struct.pack("<3d", *p) for p in c.coords)


def dist(a, b):
    return math.dist(a, b)


def test_members_and_types():
    mol = quorix.parse_smiles("CCO")
    c = mol.conformer()
    assert type(c) is quorix.Conformer
    assert c.mol.num_atoms == 9 > mol.num_atoms
    assert len(c.coords) == 9
    assert all(type(p) is tuple and len(p) == 3 and all(type(v) is float for v in p) for p in c.coords)
    assert type(c.energy) is float and type(c.energy_before) is float
    assert type(c.converged) is bool
    assert type(c.iterations) is int and type(c.chiral_total) is int and type(c.chiral_ok) is int
    assert c.mol.atomic_nums[:3] == [6, 6, 8] and c.mol.atomic_nums[3:] == [1] * 6
    assert c.energy <= c.energy_before
    assert (c.chiral_total, c.chiral_ok) == (0, 0)


def test_repr():
    c = conf("C[C@H](N)O")
    shown = f"<quorix.Conformer atoms={len(c.coords)} energy={c.energy:.3f} converged={c.converged} chiral=1/1>"
    assert repr(c) == shown
    assert re.fullmatch(r"<quorix\.Conformer atoms=11 energy=\d+\.\d{3} converged=(True|False) chiral=1/1>", repr(c))


def test_receiver_unchanged_and_mol_getter_copies():
    mol = quorix.parse_smiles("OC(=O)c1ccccc1")
    before = mol.to_smiles()
    c = mol.conformer()
    assert mol.to_smiles() == before and mol.num_atoms == 9
    a, b = c.mol, c.mol
    assert a is not b
    a.remove_hs()
    assert b.num_atoms == c.mol.num_atoms == len(c.coords) == 15


def test_same_coordinates_twice_and_in_a_fresh_process():
    smiles = "CC(C)C[C@H](NC(=O)[C@@H](N)Cc1ccccc1)C(=O)O"
    first, second = conf(smiles), conf(smiles)
    assert coord_bytes(first) == coord_bytes(second)
    assert (first.energy, first.iterations, first.energy_before) == (second.energy, second.iterations,
                                                                      second.energy_before)
    code = ("import quorix,struct,sys;c=quorix.parse_smiles(sys.argv[1]).conformer();"
            "sys.stdout.write(b''.join(struct.pack('<3d',*p) for p in c.coords).hex())")
    out = subprocess.run([sys.executable, "-c", code, smiles], capture_output=True, text=True, check=True)
    assert bytes.fromhex(out.stdout) == coord_bytes(first)


def test_chiral_centres_come_out_right():
    for smiles in ["N[C@@H](C)C(=O)O", "N[C@H](C)C(=O)O", "C[C@H]1CC[C@@H](O)CC1", "C[S@@](=O)CC"]:
        c = conf(smiles)
        assert c.chiral_total >= 1
        assert c.chiral_ok == c.chiral_total, smiles


def test_enantiomers_are_mirror_images():
    a, b = conf("F[C@](Cl)(Br)I"), conf("F[C@@](Cl)(Br)I")
    def volume(c):
        p = c.coords
        u, v, w = ([p[i][k] - p[0][k] for k in range(3)] for i in (1, 2, 3))
        return (u[0] * (v[1] * w[2] - v[2] * w[1]) - u[1] * (v[0] * w[2] - v[2] * w[0])
                + u[2] * (v[0] * w[1] - v[1] * w[0]))
    assert volume(a) * volume(b) < 0


def test_geometry_of_benzene():
    c = conf("c1ccccc1")
    ring = c.coords[:6]
    for i in range(6):
        assert dist(ring[i], ring[(i + 1) % 6]) == pytest.approx(1.39, abs=0.05)
    for h in range(6, 12):
        assert min(dist(c.coords[h], r) for r in ring) == pytest.approx(1.08, abs=0.05)


@pytest.mark.parametrize("smiles, atoms", [("[Na+].[Cl-]", 2), ("[Cl-].[NH4+]", 6)])
def test_salt_fragments_come_out_far_apart(smiles, atoms):
    c = conf(smiles)
    assert len(c.coords) == atoms
    assert dist(c.coords[0], c.coords[1]) > 100


def check_trivial(c, atoms):
    assert len(c.coords) == c.mol.num_atoms == atoms
    assert c.energy == 0.0 and c.converged
    assert repr(c) == f"<quorix.Conformer atoms={atoms} energy=0.000 converged=True chiral=0/0>"


@pytest.mark.parametrize("smiles", ["[He]", "[Fe]"])
def test_lone_atom(smiles):
    check_trivial(conf(smiles), 1)


@needs_hooks
def test_empty_molecule_gives_an_empty_conformer():
    c = make_mol([]).conformer()
    check_trivial(c, 0)
    assert c.coords == [] and c.iterations == 0


@pytest.mark.parametrize("smiles", ["Cl[Pt](Cl)([NH3])[NH3]", "[Cu+2].[O-]S(=O)(=O)[O-]", "C1=CC=CC=C1[Fe]",
                                    "F[P-](F)(F)(F)(F)F", "[Co](Cl)(Cl)(Cl)(Cl)(Cl)Cl"])
def test_metals_give_a_conformer_or_the_error_text(smiles):
    try:
        c = conf(smiles)
    except ValueError as e:
        assert re.match(r"(净化失败:|界矩阵自相矛盾:|嵌入失败:)", str(e)), str(e)
    else:
        assert len(c.coords) == c.mol.num_atoms
        assert all(math.isfinite(v) for p in c.coords for v in p)


@pytest.mark.parametrize("smiles, text", [
    ("C(C)(C)(C)(C)C", "净化失败:价键计算失败:原子 #0(C):显式价超出允许范围,显式价 = 5"),
    ("c1cccc1", None),
])
def test_sanitisation_failure_texts(smiles, text):
    mol = quorix.parse_smiles(smiles)
    with pytest.raises(ValueError) as e:
        mol.conformer()
    if text is None:
        assert str(e.value).startswith("净化失败:kekulize 失败:")
    else:
        assert str(e.value) == text
    assert mol.num_atoms == quorix.parse_smiles(smiles).num_atoms


def test_huge_molecules_are_refused_quickly():
    with pytest.raises(ValueError) as e:
        conf("C" * 2000)
    assert str(e.value) == "原子数 6002 超出构型生成的上限 1000"


def test_to_molblock():
    c = conf("c1ccccc1")
    text = c.to_molblock(title="benzene")
    assert text == c.to_molblock("benzene")
    lines = text.split("\n")
    assert lines[0] == "benzene"
    assert lines[3].startswith(" 12 12")
    ring_orders = [int(line[6:9]) for line in lines[16:28] if int(line[:3]) <= 6 and int(line[3:6]) <= 6]
    assert sorted(ring_orders) == [1, 1, 1, 2, 2, 2]
    x, y, z = (float(lines[4][k:k + 10]) for k in (0, 10, 20))
    assert (x, y, z) == tuple(round(v, 4) for v in c.coords[0])
    assert text.endswith("M  END\n")
    assert c.to_molblock().split("\n")[0] == ""
    back = quorix.parse_molblock(text)
    assert back.is_3d and back.mol.num_atoms == 12


def test_to_molblock_arguments():
    c = conf("C")
    with pytest.raises(TypeError) as e:
        c.to_molblock(5)
    assert str(e.value) == "argument 'title': 'int' object cannot be cast as 'str'"
    with pytest.raises(TypeError) as e:
        c.to_molblock(title=None)
    assert str(e.value) == "argument 'title': 'NoneType' object cannot be cast as 'str'"
    with pytest.raises(TypeError) as e:
        c.to_molblock("a", "b")
    assert str(e.value) == "Conformer.to_molblock() takes from 0 to 1 positional arguments but 2 were given"


def test_class_and_docstrings():
    with pytest.raises(TypeError) as e:
        quorix.Conformer()
    assert str(e.value) == "cannot create 'quorix.Conformer' instances"
    assert quorix.__all__.index("Conformer") == quorix.__all__.index("Mol") + 1
    assert quorix.Conformer.to_molblock.__text_signature__ == '($self, title="")'
    assert quorix.Mol.conformer.__text_signature__ == "($self)"
    assert quorix.Conformer.chiral_total.__doc__ == "手性中心总数。"
    assert "全程无随机数:同一个分子每次都给同一组坐标。" in quorix.Mol.conformer.__doc__
    assert quorix.Conformer.__doc__.startswith("一个三维构型。\n\n由 `Mol.conformer()` 产出。")
    members = {m for m in vars(quorix.Conformer) if not m.startswith("__")}
    assert members == {"mol", "coords", "energy", "energy_before", "converged", "iterations", "chiral_total",
                       "chiral_ok", "to_svg", "depiction_3d_report", "to_molblock"}
