"""Mol.to_smiles and Mol.to_canonical_smiles as users call them."""
import pytest

import quorix
from conftest import sanitized


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


@pytest.mark.parametrize("smiles", ["[CH2:1]1[S:2][CH2:3][S:4][CH2:5][S:6]1", "[CH2:1]1[S:6][CH2:5][S:4][CH2:3][S:2]1"])
def test_map_numbers_order_atoms_otherwise_tied(smiles):
    # One mapped molecule, numbered round the ring either way.
    text = quorix.parse_smiles(smiles).to_canonical_smiles()
    assert text == "[CH2:1]1[S:2][CH2:3][S:4][CH2:5][S:6]1"
    assert quorix.parse_smiles(text).to_canonical_smiles() == text


def test_mapped_reaction_outputs_are_fixed_points():
    def canonical(m):
        m = m.copy()
        m.sanitize()
        return m.to_canonical_smiles()

    mols = []
    for line in open(__file__.rsplit("/", 2)[0] + "/data/molecules.smi"):
        try:
            mols.append(sanitized(line.split()[0]))
        except ValueError:
            pass
    esterify = quorix.parse_reaction("[C:1](=[O:2])[OH1:3].[OH1:4][C:5]>>[C:1](=[O:2])[O:4][C:5]")
    acids = [m for m in mols if esterify.run([m, sanitized("CO")])][:12]
    alcohols = [m for m in mols if esterify.run([sanitized("CC(O)=O"), m])][:12]
    checked = 0
    for a in acids:
        for b in alcohols:
            for o in esterify.run([a, b], atom_mapping=True, max_products=4):
                for m in o.reactants + o.products:
                    text = canonical(m)
                    assert canonical(quorix.parse_smiles(text)) == text
                    checked += 1
    assert checked > 500


def test_writers_do_not_change_the_molecule():
    m = quorix.parse_smiles("C/C=C/c1ccccc1")
    c = m.copy()
    c.sanitize()
    assert m.to_smiles() == "C/C=C/c1ccccc1"
    assert m.bond_descriptors()[1]["stereo"] == "none"


def test_signatures():
    assert quorix.Mol.to_smiles.__text_signature__ == "($self)"
    assert quorix.Mol.to_canonical_smiles.__text_signature__ == "($self)"
