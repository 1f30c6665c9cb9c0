"""Mol.remove_hs: which hydrogens fold into their neighbours, and what stays."""
import pytest

import quorix


def test_removal_counts_and_renumbers():
    m = quorix.parse_smiles("[H]C([H])([H])O[H]")
    assert m.remove_hs() == 4
    assert m.atomic_nums == [6, 8]
    assert m.bonds == [(0, 1, 1.0)]
    d = m.atom_descriptors()
    assert [a["total_num_hs"] for a in d] == [3, 1]


@pytest.mark.parametrize("smiles, expected", [("[H]CC", "CC"), ("[H]C", "C"), ("[H]O", "O"),
                                              ("c1ccn([H])c1", "c1cc[nH]c1")])
def test_removed_hydrogens_come_back_on_reading(smiles, expected):
    # Unsanitised and sanitised alike: the hydrogen is declared only where the
    # valence rules would not restore it.
    for sanitise in (False, True):
        m = quorix.parse_smiles(smiles)
        if sanitise:
            m.sanitize()
        m.remove_hs()
        assert m.to_smiles() == expected


def test_remove_hs_signature():
    assert quorix.Mol.remove_hs.__text_signature__ == "($self)"
    with pytest.raises(TypeError):
        quorix.parse_smiles("C").remove_hs(1)
