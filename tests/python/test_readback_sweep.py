"""Every text we write reads back to itself: the storage-order and canonical texts
of a sanitised molecule, read back and sanitised, give the same texts again (and
the storage-order text the same canonical one). An input we cannot write that way
must be refused with a clear error instead. Run over the cases once found wrong
and over the hostile corpus in tests/data (hostile.smi, hostile.sdf)."""
import os
import re

import pytest

import quorix

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")

# The errors a refusal may raise: a caret view, or a sanitisation failure.
CLEAR = re.compile(r"^(.*\n *\^ .+|价键计算失败:.+|kekulize 失败:.+)$", re.S)

def refused_clearly(call, *args):
    with pytest.raises(ValueError) as e:
        call(*args)
    assert CLEAR.match(str(e.value)), str(e.value)


def reads_back(mol):
    canonical, storage = mol.to_canonical_smiles(), mol.to_smiles()
    for text, write in ((canonical, quorix.Mol.to_canonical_smiles), (storage, quorix.Mol.to_smiles)):
        back = quorix.parse_smiles(text)
        back.sanitize()
        assert write(back) == text, (canonical, storage)
        assert back.to_canonical_smiles() == canonical, (canonical, storage)


def sweep_smiles(smiles):
    """Reads back, or is refused with a clear error; False when refused."""
    mol = quorix.parse_smiles(smiles)
    try:
        mol.sanitize()
    except ValueError as e:
        assert CLEAR.match(str(e)), str(e)
        return False
    reads_back(mol)
    return True


def product(reaction, reactant):
    mol = quorix.parse_smiles(reactant)
    mol.sanitize()
    outcome = quorix.parse_reaction(reaction).run([mol])
    [mol] = outcome[0].products
    mol.sanitize()
    return mol


@pytest.mark.parametrize(
    "smiles",
    [
        # A reference bond that is dative: the mark moves to the other substituent.
        "OC1CC/C(=C\\C)->C1",
        "OC1CC/C(=C/C)->C1",
        "C/C=C(/C)->[W]",
        "[W]<-C(/C)=C/C",
        # ... or, where none can carry it, the value is not half written.
        "C/C=C/([W])=O",
        "C1=CC=[N+2]C=C1",
        "[B-2]1=CC=CC=C1",
        "C1=CC=[O+3]C=C1",
        "[Sb]C1=CC=CC=1",
        "[Zn][N+]1=CC=CC=1",
    ],
)
def test_found_cases_read_back(smiles):
    sweep_smiles(smiles)


def test_dative_reference_keeps_the_isomer():
    # Written and read back, each isomer stays itself and the two stay apart.
    cis, trans = (quorix.parse_smiles(s) for s in ("OC1CC/C(=C\\C)->C1", "OC1CC/C(=C/C)->C1"))
    for m in (cis, trans):
        m.sanitize()
    texts = {m.to_canonical_smiles() for m in (cis, trans)}
    assert len(texts) == 2 and all("/" in t for t in texts)


@pytest.mark.parametrize("smiles", ["C/C=C(/C)->[W]", "C/C=C(\\C)->[W]", "OC1CC/C(=C\\C)->C1"])
def test_molblock_dative_reference_keeps_the_isomer(smiles):
    mol = quorix.parse_smiles(smiles)
    mol.sanitize()
    back = quorix.parse_molblock(mol.to_molblock_2d()).mol
    assert back.to_canonical_smiles() == mol.to_canonical_smiles()
    reads_back(back)


@pytest.mark.parametrize(
    "reaction, reactant",
    [("[CH3:1][C:2]>>[CH2:1]=[C:2]", "C/C=C/Cl")],
)
def test_found_products_read_back(reaction, reactant):
    reads_back(product(reaction, reactant))


@pytest.mark.parametrize(
    "read, text, caret",
    [
        # A template that bonds two bonded atoms again is refused, as SMILES is.
        (quorix.parse_reaction, "[C:1]=[C:2]>>[C:1]1[C:2]1", 24),
        (quorix.parse_smarts, "[C:1]1[C:2]1", 11),
        (quorix.parse_smarts, "C1(C1)", 4),
        (quorix.parse_smarts, "[$(C1C1)]", 6),
        (quorix.parse_smiles, "C1(C1)", 4),
    ],
)
def test_repeated_bond_refused(read, text, caret):
    with pytest.raises(ValueError) as e:
        read(text)
    assert str(e.value) == text + "\n" + " " * caret + "^ 环闭合标号 1 在同一对原子间重复"


def corpus_smiles():
    with open(os.path.join(DATA, "hostile.smi")) as f:
        return [line.rstrip("\n") for line in f if line.strip()]


def corpus_blocks():
    with open(os.path.join(DATA, "hostile.sdf")) as f:
        return [b for b in f.read().split("$$$$\n") if b.strip()]


@pytest.mark.parametrize(
    "smiles", corpus_smiles()
)
def test_hostile_smiles_read_back(smiles):
    sweep_smiles(smiles)


@pytest.mark.parametrize("block", corpus_blocks(), ids=lambda b: b.split("\n", 1)[0])
def test_hostile_molblocks_read_back(block):
    assert "  9  0  0  0  0\n" in block  # a dative bond
    try:
        mol = quorix.parse_molblock(block).mol
    except ValueError as e:
        assert CLEAR.match(str(e)), str(e)
        return
    reads_back(mol)
