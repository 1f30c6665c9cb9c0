"""Mol.atom_descriptors: keys, types, names and the Gasteiger validity flag."""
import math


import quorix
from conftest import sanitized

KEYS = ["atomic_num", "total_degree", "formal_charge", "chiral_tag", "total_num_hs", "hybridization",
        "is_aromatic", "is_in_ring", "mass", "electronegativity", "gasteiger_charge", "gasteiger_valid"]


def test_keys_in_order_and_types():
    d = quorix.parse_smiles("[13CH3][C@@H](N)C(=O)[O-]").atom_descriptors()
    assert len(d) == 6
    for atom in d:
        assert list(atom) == KEYS
        assert [type(atom[k]) for k in KEYS if k not in ("total_num_hs", "electronegativity")] == [
            int, int, int, str, str, bool, bool, float, float, bool]
    assert d[0]["mass"] == 13.00335484
    assert d[0]["total_num_hs"] == 3 and d[0]["total_degree"] == 4
    assert d[1]["chiral_tag"] == "cw"
    assert d[5]["formal_charge"] == -1
    assert d[2]["electronegativity"] == 3.04


def test_names_of_categorical_values():
    tags = {
        "[C@@](F)(Cl)(Br)I": "cw",
        "[Pt@SP1](F)(Cl)(Br)I": "square_planar",
        "[Co@OH1](F)(Cl)(Br)(I)(N)O": "octahedral",
        "C": "unspecified",
    }
    for smiles, name in tags.items():
        assert quorix.parse_smiles(smiles).atom_descriptors()[0]["chiral_tag"] == name
    # Before sanitising, hybridisation is the parser's placeholder.
    assert quorix.parse_smiles("C").atom_descriptors()[0]["hybridization"] == "unspecified"


def test_metal_outside_the_table_invalidates_charges():
    d = sanitized("[Fe]OCCO").atom_descriptors()
    assert not d[0]["gasteiger_valid"]
    assert math.isnan(d[0]["gasteiger_charge"]) or math.isinf(d[0]["gasteiger_charge"])
    # The non-finite charge spreads through the graph.
    assert not any(a["gasteiger_valid"] for a in d)
    assert all(a["gasteiger_valid"] for a in sanitized("OCCO").atom_descriptors())


def test_descriptors_do_not_change_the_molecule():
    m = sanitized("CC(=O)O")
    first = m.atom_descriptors()
    assert m.atom_descriptors() == first
    assert [a["hybridization"] for a in first] == ["sp3", "sp2", "sp2", "sp2"]
