"""Mol.conformer and the Conformer class: members, repr, identical bytes across
processes, molblock output and the exact error texts."""
import math
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


def test_members_repr_and_receiver():
    mol = quorix.parse_smiles("C[C@H](N)O")
    before = mol.to_smiles()
    c = mol.conformer()
    assert mol.to_smiles() == before and mol.num_atoms == 4
    assert c.mol.num_atoms == len(c.coords) == 11
    assert c.mol.atomic_nums[4:] == [1] * 7
    assert all(type(v) is float for p in c.coords for v in p)
    assert type(c.iterations) is int and type(c.converged) is bool and c.energy <= c.energy_before
    assert repr(c) == f"<quorix.Conformer atoms=11 energy={c.energy:.3f} converged={c.converged} chiral=1/1>"
    a, b = c.mol, c.mol
    a.remove_hs()
    assert b.num_atoms == c.mol.num_atoms == 11


def test_same_bytes_twice_and_in_a_fresh_process():
    smiles = "CC(C)C[C@H](NC(=O)[C@@H](N)Cc1ccccc1)C(=O)O"
    first, second = conf(smiles), conf(smiles)
    assert coord_bytes(first) == coord_bytes(second)
    assert (first.energy, first.iterations) == (second.energy, second.iterations)
    code = ("import quorix,struct,sys;c=quorix.parse_smiles(sys.argv[1]).conformer();"
            "print(b''.join(struct.pack('<3d',*p) for p in c.coords).hex())")
    out = subprocess.run([sys.executable, "-c", code, smiles], capture_output=True, text=True, check=True)
    assert bytes.fromhex(out.stdout.strip()) == coord_bytes(first)


@pytest.mark.parametrize("smiles", ["N[C@@H](C)C(=O)O", "N[C@H](C)C(=O)O", "C[S@@](=O)CC"])
def test_chiral_centres_come_out_right(smiles):
    c = conf(smiles)
    assert c.chiral_ok == c.chiral_total == 1


def test_salt_fragments_far_apart_and_lone_atoms():
    c = conf("[Na+].[Cl-]")
    assert math.dist(*c.coords) > 100
    for smiles in ["[He]", "[Fe]"]:
        assert repr(conf(smiles)) == "<quorix.Conformer atoms=1 energy=0.000 converged=True chiral=0/0>"


@pytest.mark.parametrize("smiles", ["Cl[Pt](Cl)([NH3])[NH3]", "[Cu+2].[O-]S(=O)(=O)[O-]", "C1=CC=CC=C1[Fe]",
                                    "F[P-](F)(F)(F)(F)F", "[Co](Cl)(Cl)(Cl)(Cl)(Cl)Cl"])
def test_metals_give_finite_coordinates(smiles):
    c = conf(smiles)
    assert len(c.coords) == c.mol.num_atoms and all(math.isfinite(v) for p in c.coords for v in p)


@needs_hooks
def test_empty_molecule_gives_an_empty_conformer():
    c = make_mol([]).conformer()
    assert c.coords == [] and c.iterations == 0
    assert repr(c) == "<quorix.Conformer atoms=0 energy=0.000 converged=True chiral=0/0>"


@pytest.mark.parametrize("smiles, text", [
    ("C(C)(C)(C)(C)C", "净化失败:价键计算失败:原子 #0(C):显式价超出允许范围,显式价 = 5"),
    ("C" * 2000, "原子数 6002 超出构型生成的上限 1000"),
])
def test_error_texts(smiles, text):
    with pytest.raises(ValueError) as e:
        conf(smiles)
    assert str(e.value) == text
    with pytest.raises(ValueError, match="^净化失败:kekulize 失败:"):
        conf("c1cccc1")


def test_to_molblock():
    c = conf("c1ccccc1")
    text = c.to_molblock(title="benzene")
    assert text == c.to_molblock("benzene") and text.endswith("M  END\n")
    lines = text.split("\n")
    assert lines[0] == "benzene" and lines[3].startswith(" 12 12")
    ring = [int(line[6:9]) for line in lines[16:28] if max(int(line[:3]), int(line[3:6])) <= 6]
    assert sorted(ring) == [1, 1, 1, 2, 2, 2]
    assert tuple(float(lines[4][k:k + 10]) for k in (0, 10, 20)) == tuple(round(v, 4) for v in c.coords[0])
    assert c.to_molblock().startswith("\n")
    assert quorix.parse_molblock(text).is_3d
    with pytest.raises(TypeError, match=r"^argument 'title': 'NoneType' object cannot be cast as 'str'$"):
        c.to_molblock(title=None)


def test_class_and_docstrings():
    with pytest.raises(TypeError, match=r"^cannot create 'quorix.Conformer' instances$"):
        quorix.Conformer()
    assert quorix.__all__.index("Conformer") == quorix.__all__.index("Mol") + 1
    assert quorix.Conformer.to_molblock.__text_signature__ == '($self, title="")'
    assert quorix.Mol.conformer.__text_signature__ == "($self)"
    assert "全程无随机数:同一个分子每次都给同一组坐标。" in quorix.Mol.conformer.__doc__
    assert quorix.Conformer.__doc__.startswith("一个三维构型。\n\n由 `Mol.conformer()` 产出。")
    members = {m for m in vars(quorix.Conformer) if not m.startswith("__")}
    assert members == {"mol", "coords", "energy", "energy_before", "converged", "iterations", "chiral_total",
                       "chiral_ok", "to_svg", "depiction_3d_report", "to_molblock"}
    assert quorix.Conformer.chiral_total.__doc__ == "手性中心总数。"
