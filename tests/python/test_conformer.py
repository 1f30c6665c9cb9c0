"""Mol.conformer and the Conformer class: members, repr, identical bytes across
processes, molblock output and the exact error texts."""
import collections
import concurrent.futures
import math
import pathlib
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


DIPEPTIDE = "CC(C)C[C@H](NC(=O)[C@@H](N)Cc1ccccc1)C(=O)O"
# Its first embedding folds the bicycle wrongly, so its coordinates come from
# a fresh one.
TROPANE = "CCN(CC)C(=O)c1ccc(cc1)N([C@H]2C[C@H]3CC[C@@H](C2)N3)c4ccccc4"


@pytest.mark.parametrize("smiles", [DIPEPTIDE, TROPANE,
                                    "[Li+].[Li+].[Li+].[O-]C(=O)CC[C@H](NP(=S)([O-])c1ccccc1)C(=O)[O-]"])
def test_same_bytes_twice_and_in_a_fresh_process(smiles):
    first, second = conf(smiles), conf(smiles)
    assert coord_bytes(first) == coord_bytes(second)
    assert (first.energy, first.iterations) == (second.energy, second.iterations)
    code = ("import quorix,struct,sys;c=quorix.parse_smiles(sys.argv[1]).conformer();"
            "print(b''.join(struct.pack('<3d',*p) for p in c.coords).hex())")
    out = subprocess.run([sys.executable, "-c", code, smiles], capture_output=True, text=True, check=True)
    assert bytes.fromhex(out.stdout.strip()) == coord_bytes(first)


def test_same_bytes_across_threads():
    alone = [coord_bytes(conf(s)) for s in (DIPEPTIDE, TROPANE)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda s: coord_bytes(conf(s)), [DIPEPTIDE, TROPANE] * 4))
    assert together == alone * 4


@pytest.mark.parametrize("smiles", ["N[C@@H](C)C(=O)O", "N[C@H](C)C(=O)O", "C[S@@](=O)CC"])
def test_chiral_centres_come_out_right(smiles):
    c = conf(smiles)
    assert c.chiral_ok == c.chiral_total == 1


def test_lone_atoms_and_an_ion_pair():
    assert math.dist(*conf("[Na+].[Cl-]").coords) == pytest.approx(3.0, abs=1e-5)
    for smiles in ["[He]", "[Fe]"]:
        assert repr(conf(smiles)) == "<quorix.Conformer atoms=1 energy=0.000 converged=True chiral=0/0>"


def pieces_of(c):
    """Atom lists of the conformer's connected pieces."""
    piece = list(range(c.mol.num_atoms))

    def root(a):
        while piece[a] != a:
            a = piece[a]
        return a

    for a, b, _ in c.mol.bonds:
        piece[root(a)] = root(b)
    groups = {}
    for a in range(c.mol.num_atoms):
        groups.setdefault(root(a), []).append(a)
    return list(groups.values())


def span(points):
    return max((math.dist(p, q) for i, p in enumerate(points) for q in points[i + 1:]), default=0.0)


def check_side_by_side(c):
    """The pieces overlap nowhere, each touches another within 4 A so that all
    hang together, and the whole spans no more than its pieces laid in a row."""
    groups = pieces_of(c)
    xyz = [[c.coords[a] for a in g] for g in groups]
    gap = [[min(math.dist(p, q) for p in xyz[i] for q in xyz[j]) for j in range(len(xyz))] for i in range(len(xyz))]
    pairs = [(i, j) for i in range(len(xyz)) for j in range(len(xyz)) if i != j]
    assert min(gap[i][j] for i, j in pairs) >= 2.5
    reached, frontier = {0}, [0]
    while frontier:
        i = frontier.pop()
        for j in range(len(xyz)):
            if j not in reached and gap[i][j] <= 4.0:
                reached.add(j)
                frontier.append(j)
    assert len(reached) == len(xyz)
    whole = span(c.coords)
    assert whole <= sum(span(p) for p in xyz) + 4.0 * (len(xyz) - 1)
    return whole


@pytest.mark.parametrize("smiles, pieces, longest", [
    ("CC(=O)[O-].[Na+]", 2, 7.0),
    ("[Fe+2].c1cc[cH-]c1.c1cc[cH-]c1", 3, 11.0),
    ("O.O.O.O.O.[Cu+2].[O-]S(=O)(=O)[O-]", 7, 11.0),
    ("C[C@H](N)C(=O)O.Cl", 2, 8.0),
])
def test_pieces_sit_side_by_side(smiles, pieces, longest):
    c = conf(smiles)
    assert len(pieces_of(c)) == pieces
    assert check_side_by_side(c) < longest
    assert c.chiral_ok == c.chiral_total


def test_real_salts_and_hydrates_sit_side_by_side():
    data = pathlib.Path(__file__).resolve().parents[1] / "data"
    mols = [quorix.parse_smiles(line.split()[0]) for line in (data / "molecules.smi").read_text().splitlines()]
    mols += [r.block.mol for r in quorix.read_sdf((data / "pubchem-1000.sdf").read_text())]
    salts = [m for m in mols if "." in m.to_smiles()]
    assert len(salts) == 291
    for m in salts:
        c = m.conformer()
        assert len(pieces_of(c)) > 1, m.to_smiles()
        check_side_by_side(c)
        assert c.chiral_ok == c.chiral_total, m.to_smiles()


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
    # A flat molecule such as benzene lies in the plane z = 0, which the
    # format cannot tell from a drawing; one with a tetrahedral centre reads
    # back as 3-D.
    assert quorix.parse_molblock(conf("CCO").to_molblock()).is_3d
    with pytest.raises(TypeError, match=r"^argument 'title': 'NoneType' object cannot be cast as 'str'$"):
        c.to_molblock(title=None)


# Flat molecules lie in the plane z = 0 exactly, whatever the refinement left
# of a tilt, and read back as drawings with their cis/trans unchanged.
@pytest.mark.parametrize("smiles", ["c1ccccc1", "c1ccc2ccccc2c1", "c1ccncc1", "c1ccoc1", "c1cc[nH]c1",
                                    "c1ccc2cc3ccccc3cc2c1", "F/C=C/F", "F/C=C\\F"])
def test_flat_molecules_lie_in_the_plane_z0(smiles):
    c = conf(smiles)
    assert all(z == 0.0 for _, _, z in c.coords)
    back = quorix.parse_molblock(c.to_molblock())
    assert not back.is_3d and back.mol.to_smiles() == c.mol.to_smiles()


def test_either_marks_over_real_molecules():
    """Every stereo-3 mark sits on a double bond whose two ends each hold an atom
    besides the partner (the conformer's hydrogens are atoms)."""
    data = pathlib.Path(__file__).resolve().parent.parent / "data" / "molecules.smi"
    chains = [s for s in (line.split()[0] for line in data.read_text(encoding="utf-8").splitlines())
              if re.search(r"C=C|C=N|N=C|N=N", s)]
    marks = 0
    for smiles in chains[::20]:
        lines = conf(smiles).to_molblock().split("\n")
        n, m = int(lines[3][0:3]), int(lines[3][3:6])
        bonds = [(int(l[0:3]), int(l[3:6]), int(l[6:9]), int(l[9:12])) for l in lines[4 + n:4 + n + m]]
        degree = collections.Counter(a for b in bonds for a in b[:2])
        for a, b, order, stereo in bonds:
            if stereo == 3:
                marks += 1
                assert order == 2 and degree[a] > 1 and degree[b] > 1, smiles
    assert marks > 0


def test_class_and_docstrings():
    with pytest.raises(TypeError, match=r"^cannot create 'quorix.Conformer' instances$"):
        quorix.Conformer()
    assert quorix.__all__.index("Conformer") == quorix.__all__.index("Mol") + 1
    assert quorix.Conformer.to_molblock.__text_signature__ == '($self, title="")'
    assert quorix.Mol.conformer.__text_signature__ == "($self)"
    assert "全程无随机数:同一个分子每次都给同一组坐标。" in quorix.Mol.conformer.__doc__
    assert quorix.Conformer.chiral_total.__doc__ == "手性中心总数。"
    assert quorix.Conformer.__doc__ == ("一个三维构型。\n\n由 `Mol.conformer()` 产出。里面既有坐标,也有**坐标对应的\n"
                                       "那个分子** —— 生成时补了显式氢,原子表与原分子不是同一份。")
    members = {m for m in vars(quorix.Conformer) if not m.startswith("__")}
    assert members == {"mol", "coords", "energy", "energy_before", "converged", "iterations", "chiral_total",
                       "chiral_ok", "to_svg", "depiction_3d_report", "to_molblock"}


GETTER_DOCS = {
    "mol": "坐标对应的那个分子(补过显式氢的那一份)。",
    "coords": "逐原子的 `(x, y, z)`,单位 Å,顺序与 [`mol`](Self::mol) 的原子表一致。",
    "energy": "精修之后的误差函数值。0 表示所有距离都落进了界内。",
    "energy_before": "精修**之前**的误差函数值 —— 与 [`energy`](Self::energy) 一起看才知道精修干了多少活。",
    "converged": "精修有没有收敛(梯度降到阈值以下)。",
    "iterations": "精修迭代了多少次。",
    "chiral_total": "手性中心总数。",
    "chiral_ok": "其中在交付坐标上号正确的个数。**应当等于\n[`chiral_total`](Self::chiral_total)** —— "
                 "不等就是把某个中心摆成了对映体。",
}

METHOD_DOCS = {
    "depiction_3d_report": (
        '($self, style="ball-and-stick")',
        "三维图的诊断:视角定不定得下来,以及每个原子落在画布哪里。\n\n返回的字典:\n\n| 键 | 内容 |\n|---|---|\n"
        "| `style` | 用的哪套样式 |\n| `width`、`height` | 画布尺寸(磅) |\n"
        "| `degenerate` | **主轴不唯一**。对称性强制两个主惯量相等时为真(甲烷、四氯化碳、氨、乙炔)。"
        "图不是错的,但它的取向没有承载任何信息 —— 别照着它比两个分子的姿态 |\n"
        "| `atoms` | 每个原子一项:`x`、`y`(画布坐标,磅)、`radius`(球半径,磅,不画球的样式是 0)、"
        "`depth`(深度,Å,越大越靠前) |\n\n想在图上加标注就用 `atoms` —— SVG 里的圆没有原子号,从图形反推是猜。"),
    "to_molblock": (
        '($self, title="")',
        "写成 V2000 molblock(`.mol` 文件的内容),末尾带 `M  END`。\n\n拼 `.sdf` 时每条后面接数据字段和 `$$$$`:\n\n"
        '```python\nwith open("out.sdf", "w") as f:\n    for smi in smiles_list:\n'
        "        conf = quorix.parse_smiles(smi).conformer()\n        f.write(conf.to_molblock(title=smi))\n"
        '        f.write("$$$$\\n")\n```\n\n**芳香键会先凯库勒化** —— molblock 里没有"芳香键"这回事,留着它写出去\n'
        "要么歧义、要么被读成饱和环。凯库勒化失败(比如芳香体系里有通配原子)时\n"
        "抛 `ValueError`,不写一个读回来是另一个分子的文件。\n\n"
        "第二行写的是程序名,**不写时间戳** —— 同一个分子每次写出都逐字节相同。"),
}


@pytest.mark.parametrize("name", sorted(GETTER_DOCS))
def test_getter_docstrings(name):
    assert getattr(quorix.Conformer, name).__doc__ == GETTER_DOCS[name]


@pytest.mark.parametrize("name", sorted(METHOD_DOCS))
def test_method_docstrings(name):
    method = getattr(quorix.Conformer, name)
    assert (method.__text_signature__, method.__doc__) == METHOD_DOCS[name]


def test_to_svg_docstring():
    doc = quorix.Conformer.to_svg.__doc__
    assert quorix.Conformer.to_svg.__text_signature__ == '($self, style="ball-and-stick")'
    assert doc.startswith("画成**三维分子图**,返回一段 SVG。\n")
    assert ("| `style` | 球半径 | 键(圆柱)半径 | 看什么 |\n|---|---|---|---|\n"
            '| `"space-filling"` | 100% 范德华半径 | 不画 | 分子占多大地方 |\n'
            '| `"ball-and-stick"`(默认) | 23% vdW | 0.15 Å | 键长键角、构型 |\n'
            '| `"stick"` | 与键同粗 | 0.30 Å | 骨架走向 |\n'
            '| `"wireframe"` | 不画 | 0.01 Å | 大体系、快速预览 |') in doc
    assert "**键的两半各随自己那一端的颜色**" in doc and '"CC(=O)Oc1ccccc1C(=O)O"' in doc and '"aspirin.svg"' in doc
    assert doc.endswith("画的是 [`mol`](Self::mol) 那一份(补过显式氢的)—— 三维图里氢是看得见的\n"
                        "实体,不画的话读图的人看到的是另一个分子。\n\n`style` 不认识时抛 `ValueError`,并把认识的四个列出来。")
    assert quorix.Conformer.chiral_total.__doc__ == "手性中心总数。"

def test_conformer_method_docstring_and_binding_errors():
    doc = quorix.Mol.conformer.__doc__
    assert doc.startswith("生成一个三维构型。\n\n") and doc.endswith("\n\n净化过不去、界矩阵自相矛盾时抛 `ValueError`。")
    assert "`conformer_for`" in doc
    c = conf("CO")
    for call, text in [
        (lambda: c.to_molblock("a", "b"), "Conformer.to_molblock() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda: c.to_molblock(name="a"), "Conformer.to_molblock() got an unexpected keyword argument 'name'"),
        (lambda: c.to_molblock("a", title="b"), "Conformer.to_molblock() got multiple values for argument 'title'"),
        (lambda: c.to_molblock(b"a"), "argument 'title': 'bytes' object cannot be cast as 'str'"),
    ]:
        with pytest.raises(TypeError) as e:
            call()
        assert str(e.value) == text


def test_contradictory_bounds_name_the_pair():
    # Wildcards have no radius: the chain between the two caesium atoms is far
    # shorter than the van der Waals distance their five bonds demand.
    with pytest.raises(ValueError) as e:
        conf("[Cs]****[Cs]")
    m = re.fullmatch(r"界矩阵自相矛盾:原子 (\d+) 与 (\d+) 之间的上下界交空", str(e.value))
    assert m and int(m[1]) < int(m[2]) < 6


IMPOSSIBLE = "手性中心 {} 的构型在三维中不可能存在:只有把中心原子挤出四个配体围成的四面体才能满足"


@pytest.mark.parametrize("smiles, centres", [
    ("[C@H]12CC[C@@H]1CC2", "0、3"),            # trans-fused: [2.2.0]
    ("[C@H]12CCC[C@@H]1C2", "0、4"),            # [3.1.0]
    ("[C@@H]12C[C@H]1C2", "0、2"),              # [1.1.0]
    ("C1C[C@H]2C[C@H]1C2", "2、4"),             # one bridgehead turned in: [2.1.1]
    ("C1C[C@H]2CC[C@H]1C2", "2、5"),            # [2.2.1]
    ("C1C[C@H]2CC[C@H]1CC2", "2、5"),           # [2.2.2]
    ("[C@H]12CCC[C@@H](CCC1)C2", "0、4"),       # [3.3.1]
    ("CC1(C)[C@H]2CC[C@@]1(C)C(=O)C2", "3、6"),  # camphor with one bridgehead marked the other way
    ("C1C[C@H]2C[C@H]1C[C@@H]1CCC[C@H]12", "2、4"),  # [3.2.1] fused to a five-ring
    ("CC[C@]12C[C@]1(C)C2", "2、4"),            # a substituted bicyclobutane turned in
])
def test_a_bridgehead_turned_into_bridges_too_short_is_refused(smiles, centres):
    # Either centre of the pair can be written the other way to mend it.
    with pytest.raises(ValueError) as e:
        conf(smiles)
    assert str(e.value) == IMPOSSIBLE.format(centres)


@pytest.mark.parametrize("smiles", [
    "[C@H]12CC[C@H]1CC2", "[C@H]12CCC[C@H]1C2", "[C@@H]12C[C@@H]1C2", "[C@H]12C[C@H]1C2",  # cis-fused
    "C1C[C@H]2C[C@@H]1C2", "C1C[C@H]2CC[C@@H]1C2", "C1C[C@H]2CC[C@@H]1CC2",  # both outward
    "CC1(C)[C@@H]2CC[C@@]1(C)C(=O)C2",                                # camphor
    "[C@@H]12CCCC[C@H]1CCC2", "C1CC[C@H]2CCCC[C@@H]2C1", "[C@H]12CCC[C@@H]1CCC2",  # trans-fused, 5 and 6
    "[C@H]12CCCC[C@@H](CCCC1)C2",                                     # inside-outside, large enough
    "C12C3C4C1C5C2C3C45", "C1C2CC12", "C1C23CC12C3",                   # cubane, bicyclobutane, propellane
    # A bicyclobutane's bridgeheads lie outside their ligands' tetrahedron
    # in the one form there is.
    "CC[C@@]12C[C@]1(C)C2", "OC[C@@]12C[C@]1(C)C2",
])
def test_bridgeheads_the_rings_can_carry_are_built(smiles):
    c = conf(smiles)
    assert c.chiral_ok == c.chiral_total and c.energy <= 0.05


def test_an_inside_outside_bicycle_of_ten_rings_is_built_strained():
    # in,out-bicyclo[4.4.4]tetradecane: its inward hydrogen presses on the far
    # bridgehead, as in the crystal of its derivatives.
    c = conf("[C@H]12CCCC[C@@H](CCCC1)CCCC2")
    assert c.chiral_ok == c.chiral_total and c.energy <= 0.1


def test_hydrogens_follow_canonical_order_of_their_heavy_atoms():
    def parents(smiles):
        c = conf(smiles)
        nums = c.mol.atomic_nums
        heavy = sum(1 for z in nums if z != 1)
        by_h = {b: a for a, b, _ in c.mol.bonds if b >= heavy}
        return [nums[by_h[h]] for h in range(heavy, len(nums))]
    assert parents("CCO") == parents("OCC") == parents("C(O)C")
    assert parents("NCC(=O)O") == parents("OC(=O)CN")


def test_molblock_of_a_wildcard_ring_keeps_its_kekule_form():
    # A ring with a wildcard is never perceived aromatic, so its orders can be
    # written as they are and read back.
    c = conf("*1=CC=CN1")
    back = quorix.parse_molblock(c.to_molblock()).mol
    assert back.to_canonical_smiles() == c.mol.to_canonical_smiles() == "*1=C([H])C([H])=C([H])N1[H]"
