import pytest

import quorix

# Molecules of many kinds (the engine tests sanitise all 7000 real ones); each
# must sanitise.
MOLECULES = {
    "penicillin G": "CC1(C)S[C@@H]2[C@H](NC(=O)Cc3ccccc3)C(=O)N2[C@H]1C(=O)O",
    "nitrofurantoin": "O=C1CN(/N=C/c2ccc(o2)[N+](=O)[O-])C(=O)N1",
    "ferrocene": "[cH-]1cccc1.[cH-]1cccc1.[Fe+2]",
    "copper ammine": "[NH3][Cu+2]([NH3])([NH3])[NH3]",
    "TEMPO": "CC1(C)CCCC(C)(C)N1[O]",
}


@pytest.mark.parametrize("smiles", MOLECULES.values(), ids=MOLECULES.keys())
def test_real_molecules_sanitise(smiles):
    mol = quorix.parse_smiles(smiles)
    assert mol.sanitize() is None
    # A second run on the perceived molecule succeeds too.
    assert mol.sanitize() is None


@pytest.mark.parametrize(
    "smiles, text",
    [
        ("C(C)(C)(C)(C)C", "价键计算失败:原子 #0(C):显式价超出允许范围,显式价 = 5"),
        ("CC(C)(C)(C)C", "价键计算失败:原子 #1(C):显式价超出允许范围,显式价 = 5"),
        ("c1cccc1", "kekulize 失败:该芳香体系不存在合法 Kekulé 结构,未配平的原子:[3]"),
    ],
)
def test_failure_texts_are_exact(smiles, text):
    mol = quorix.parse_smiles(smiles)
    with pytest.raises(ValueError) as caught:
        mol.sanitize()
    assert str(caught.value) == text
    assert type(caught.value) is ValueError


def test_valence_failure_keeps_the_normalised_groups():
    mol = quorix.parse_smiles("CN(=O)=O.C(C)(C)(C)(C)C")
    with pytest.raises(ValueError, match="^价键计算失败:原子 #4"):
        mol.sanitize()
    # The nitro normalisation ran before the failing valence check.
    assert mol.formal_charges[:4] == [0, 1, -1, 0]
    assert mol.bonds[1] == (1, 2, 1.0)
    # The ring step never ran.
    assert not any(d["is_in_ring"] for d in mol.bond_descriptors())


def test_kekulize_failure_keeps_ring_flags_and_the_object_usable():
    mol = quorix.parse_smiles("c1cccc1")
    assert not any(d["is_in_ring"] for d in mol.bond_descriptors())
    with pytest.raises(ValueError, match="^kekulize 失败:"):
        mol.sanitize()
    descriptors = mol.bond_descriptors()
    assert [d["is_in_ring"] for d in descriptors] == [True] * 5
    # The failed search left single bonds; nothing was restored.
    assert [b[2] for b in mol.bonds] == [1.0] * 5
    assert mol.num_atoms == 5
    assert mol.copy().bonds == mol.bonds


def test_copy_first_for_all_or_nothing():
    mol = quorix.parse_smiles("CN(=O)=O.C(C)(C)(C)(C)C")
    copy = mol.copy()
    with pytest.raises(ValueError):
        copy.sanitize()
    assert mol.formal_charges == [0] * 10
    assert copy.formal_charges != mol.formal_charges


@pytest.mark.parametrize("smiles, stereo", [("F/C=C/F", "trans"), ("F/C=C\\F", "cis")])
def test_difluoroethene_gets_its_stereo_from_sanitize(smiles, stereo):
    mol = quorix.parse_smiles(smiles)
    before = mol.bond_descriptors()[1]
    assert (before["order"], before["stereo"], before["stereo_atoms"]) == ("double", "none", None)
    mol.sanitize()
    after = mol.bond_descriptors()[1]
    assert (after["order"], after["stereo"], after["stereo_atoms"]) == ("double", stereo, (0, 3))


def test_bond_descriptors_show_perceived_flags():
    # Kekulé toluene written with a methyl group: ring bonds become aromatic,
    # in a ring and conjugated; the methyl bond stays a plain single bond.
    mol = quorix.parse_smiles("CC1=CC=CC=C1")
    mol.sanitize()
    descriptors = mol.bond_descriptors()
    assert (descriptors[0]["order"], descriptors[0]["is_in_ring"], descriptors[0]["is_conjugated"]) == (
        "single", False, False)
    for d in descriptors[1:]:
        assert (d["order"], d["is_in_ring"], d["is_conjugated"]) == ("aromatic", True, True)


def test_sanitize_docstring():
    doc = quorix.Mol.sanitize.__doc__
    assert doc.startswith("跑净化管线,再把双键的方向键换算成双键**自己的**顺反属性。")
    assert "**就地修改**,失败时抛 `ValueError`。" in doc
    assert "copy()" in doc
    assert quorix.Mol.sanitize.__text_signature__ == "($self)"
