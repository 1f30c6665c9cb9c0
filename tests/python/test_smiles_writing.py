"""Mol.to_smiles and Mol.to_canonical_smiles as users call them."""
import pytest

import quorix


@pytest.mark.parametrize("smiles", ["c1ccccc1", "C[C@H](N)C(=O)O", "F/C=C/F", "[13CH3]O.[Na+]"])
def test_storage_order_text_reads_back_as_written(smiles):
    assert quorix.parse_smiles(smiles).to_smiles() == smiles


def test_canonical_text_ignores_atom_numbering():
    sanitized = set()
    for s in ["Oc1ccccc1C", "Cc1ccccc1O", "c1ccc(C)c(O)c1"]:
        m = quorix.parse_smiles(s)
        m.sanitize()
        sanitized.add(m.to_canonical_smiles())
    assert len(sanitized) == 1


def test_canonical_text_of_real_molecules_is_a_fixed_point():
    lines = [l.split("\t")[0] for l in open(__file__.rsplit("/", 2)[0] + "/data/molecules.smi")]
    fixed = 0
    for smiles in lines:
        m = quorix.parse_smiles(smiles)
        try:
            m.sanitize()
        except ValueError:
            continue
        fixed += 1
        text = m.to_canonical_smiles()
        again = quorix.parse_smiles(text)
        again.sanitize()
        assert again.to_canonical_smiles() == text, smiles
    assert fixed > 6900


def test_writers_do_not_change_the_molecule():
    m = quorix.parse_smiles("C/C=C/c1ccccc1")
    c = m.copy()
    c.sanitize()
    assert m.to_smiles() == "C/C=C/c1ccccc1"
    assert m.bond_descriptors()[1]["stereo"] == "none"


def test_signatures():
    assert quorix.Mol.to_smiles.__text_signature__ == "($self)"
    assert quorix.Mol.to_canonical_smiles.__text_signature__ == "($self)"
