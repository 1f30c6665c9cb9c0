import pytest

import quorix

@pytest.mark.parametrize("smiles", ["[cH-]1cccc1.[cH-]1cccc1.[Fe+2]", "CC1(C)CCCC(C)(C)N1[O]"])
def test_sanitising_twice_succeeds(smiles):
    mol = quorix.parse_smiles(smiles)
    assert mol.sanitize() is None
    assert mol.sanitize() is None


@pytest.mark.parametrize(
    "smiles, text",
    [
        ("C(C)(C)(C)(C)C", "价键计算失败:原子 #0(C):显式价超出允许范围,显式价 = 5"),
        ("c1cccc1", "kekulize 失败:该芳香体系不存在合法 Kekulé 结构,未配平的原子:[3]"),
    ],
)
def test_failure_texts_are_exact(smiles, text):
    mol = quorix.parse_smiles(smiles)
    with pytest.raises(ValueError) as caught:
        mol.sanitize()
    assert str(caught.value) == text
    assert type(caught.value) is ValueError


# The last two fail only in their second ring system, after the first was kekulized.
@pytest.mark.parametrize("smiles", ["c1cccc1", "n1cccc1", "O=C(c1ccccc1)c1cccc1", "c1ccc2ccccc2c1-c1cccc1"])
def test_a_failed_kekule_form_fails_again_everywhere(smiles):
    mol = quorix.parse_smiles(smiles)
    with pytest.raises(ValueError) as first:
        mol.sanitize()
    text = str(first.value)
    assert text.startswith("kekulize 失败:")
    # Never the saturated ring that all-single bonds would spell.
    with pytest.raises(ValueError) as conformer:
        mol.conformer()
    assert str(conformer.value) == "净化失败:" + text
    with pytest.raises(ValueError) as flat:
        mol.to_molblock_2d()
    assert str(flat.value) == text
    with pytest.raises(ValueError) as again:
        mol.sanitize()
    assert str(again.value) == text


def test_valence_failure_keeps_the_normalised_groups():
    mol = quorix.parse_smiles("CN(=O)=O.C(C)(C)(C)(C)C")
    with pytest.raises(ValueError, match="^价键计算失败:原子 #4"):
        mol.sanitize()
    # The nitro normalisation ran before the failing valence check.
    assert mol.formal_charges[:4] == [0, 1, -1, 0]
    assert mol.bonds[1] == (1, 2, 1.0)
    # The ring step never ran.
    assert not any(d["is_in_ring"] for d in mol.bond_descriptors())


def test_copy_first_for_all_or_nothing():
    mol = quorix.parse_smiles("CN(=O)=O.C(C)(C)(C)(C)C")
    copy = mol.copy()
    with pytest.raises(ValueError):
        copy.sanitize()
    assert mol.formal_charges == [0] * 10
    assert copy.formal_charges != mol.formal_charges


def test_difluoroethene_gets_its_stereo_from_sanitize():
    mol = quorix.parse_smiles("F/C=C\\F")
    before = mol.bond_descriptors()[1]
    assert (before["order"], before["stereo"], before["stereo_atoms"]) == ("double", "none", None)
    mol.sanitize()
    after = mol.bond_descriptors()[1]
    assert (after["order"], after["stereo"], after["stereo_atoms"]) == ("double", "cis", (0, 3))


def test_sanitize_docstring():
    doc = quorix.Mol.sanitize.__doc__
    assert doc.startswith("跑净化管线,再把双键的方向键换算成双键**自己的**顺反属性。")
    assert "**就地修改**,失败时抛 `ValueError`。" in doc
    assert "copy()" in doc
    assert quorix.Mol.sanitize.__text_signature__ == "($self)"
