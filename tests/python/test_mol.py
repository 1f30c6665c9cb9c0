"""Mol: getters, representation, copies and bond descriptors."""
import gc

import pytest

import quorix
from conftest import needs_hooks, make_mol

pytestmark = needs_hooks

NONE = 0xFFFFFFFF
# Bond flag bits of the engine.
AROMATIC, IN_RING, CONJUGATED = 1, 2, 4


def test_empty_molecule():
    m = make_mol([])
    assert (m.num_atoms, m.num_bonds) == (0, 0)
    assert m.atomic_nums == [] and m.formal_charges == [] and m.bonds == []
    assert m.bond_descriptors() == []
    assert repr(m) == str(m) == "<quorix.Mol 0 atoms, 0 bonds>"


def test_per_atom_lists_are_lists_of_int_in_storage_order():
    m = make_mol([(6, 0), (0, 0), (8, -1), (26, 3), (53, -128), (1, 127)])
    assert type(m.atomic_nums) is list
    assert m.atomic_nums == [6, 0, 8, 26, 53, 1]
    assert m.formal_charges == [0, 0, -1, 3, -128, 127]
    assert all(type(v) is int for v in m.atomic_nums + m.formal_charges)


def test_returned_lists_are_fresh():
    m = make_mol([(6, 0), (8, 0)], [(0, 1, 2)])
    nums = m.atomic_nums
    nums.append(99)
    bonds = m.bonds
    bonds.clear()
    assert m.atomic_nums == [6, 8] and m.bonds == [(0, 1, 2.0)]
    assert m.atomic_nums is not m.atomic_nums


@pytest.mark.parametrize("code, value, name", [
    (0, 0.0, "unspecified"), (4, 4.0, "quadruple"), (5, 1.5, "aromatic"), (6, 1.0, "dative"),
])
def test_bond_orders(code, value, name):
    m = make_mol([(7, 0), (5, 0)], [(0, 1, code)])
    (bond,) = m.bonds
    assert bond == (0, 1, value)
    assert [type(x) for x in bond] == [int, int, float]
    assert m.bond_descriptors()[0]["order"] == name


def test_bonds_keep_direction_and_storage_order():
    m = make_mol([(6, 0)] * 4, [(2, 0, 1), (0, 3, 2), (3, 1, 6)])
    assert m.bonds == [(2, 0, 1.0), (0, 3, 2.0), (3, 1, 1.0)]
    d = m.bond_descriptors()
    assert [(x["begin"], x["end"]) for x in d] == [(2, 0), (0, 3), (3, 1)]
    # A dative bond's begin is its donor, as stored.
    assert d[2]["order"] == "dative" and d[2]["begin"] == 3


def test_bond_descriptor_keys_and_types():
    m = make_mol([(6, 0), (6, 0)], [(0, 1, 1)])
    (d,) = m.bond_descriptors()
    assert list(d) == ["begin", "end", "order", "is_conjugated", "is_in_ring", "stereo", "stereo_atoms"]
    assert d == {"begin": 0, "end": 1, "order": "single", "is_conjugated": False, "is_in_ring": False,
                 "stereo": "none", "stereo_atoms": None}


@pytest.mark.parametrize("flags, conjugated, in_ring", [
    (AROMATIC, False, False), (IN_RING, False, True), (AROMATIC | IN_RING | CONJUGATED, True, True),
])
def test_bond_descriptor_flags(flags, conjugated, in_ring):
    m = make_mol([(6, 0), (6, 0)], [(0, 1, 5, flags)])
    d = m.bond_descriptors()[0]
    assert d["is_conjugated"] is conjugated and d["is_in_ring"] is in_ring


@pytest.mark.parametrize("stereo, refs, name, pair", [
    (0, (0, 3), "none", None),            # no stereo: references are not shown
    (2, (3, 0), "e", (3, 0)),             # stored order kept
    (4, (0, 3), "trans", (0, 3)),
    (3, (NONE, 3), "cis", None),          # a missing reference atom
])
def test_bond_descriptor_stereo(stereo, refs, name, pair):
    m = make_mol([(6, 0)] * 4, [(0, 1, 1), (1, 2, 2, 0, stereo, *refs), (2, 3, 1)])
    d = m.bond_descriptors()[1]
    assert d["stereo"] == name
    assert d["stereo_atoms"] == pair
    if pair is not None:
        assert type(d["stereo_atoms"]) is tuple


def test_copy_is_independent_and_equal():
    m = make_mol([(6, 0), (7, 1), (8, -1)], [(0, 1, 1), (1, 2, 2, CONJUGATED, 3, 0, 2)])
    c = m.copy()
    assert type(c) is quorix.Mol and c is not m
    assert (c.atomic_nums, c.formal_charges, c.bonds, c.bond_descriptors()) == (
        m.atomic_nums, m.formal_charges, m.bonds, m.bond_descriptors())
    expected = m.bond_descriptors()
    del m
    gc.collect()
    # The copy owns its molecule outright.
    assert c.bond_descriptors() == expected
    assert c.copy().copy().bonds == c.bonds


@pytest.mark.parametrize("call", [
    lambda m: m.copy(1), lambda m: m.bond_descriptors(x=1), lambda m: quorix.Mol.copy(5),
])
def test_wrong_receivers_and_arguments_are_type_errors(call):
    with pytest.raises(TypeError):
        call(make_mol([(6, 0)]))
