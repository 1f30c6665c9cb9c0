"""Local geometry of conformers, counted over a fixed set of real drug-like
molecules and a few named ones: amides flat and secondary amides trans,
aromatic substituents in their ring's plane, ring double bonds flat. The
measures are those of tools/conf_geometry.py, which reports the same figures
over all of the real data."""
import importlib.util
import pathlib
import statistics

import pytest

import quorix

ROOT = pathlib.Path(__file__).resolve().parents[2]
_spec = importlib.util.spec_from_file_location("conf_geometry", ROOT / "tools" / "conf_geometry.py")
geometry = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(geometry)


def measure(smiles):
    c = quorix.parse_smiles(smiles).conformer()
    g = geometry.Graph(c.mol)
    x = [tuple(p) for p in c.coords]
    return c, geometry.amides(g, x), geometry.substituents(g, x), geometry.ring_double_bonds(g, x)


def drug_like():
    """Every 40th ChEMBL record of molecules.smi: 63 molecules."""
    lines = (ROOT / "tests" / "data" / "molecules.smi").read_text().splitlines()
    records = [line.split() for line in lines]
    return [r[0] for r in records if len(r) > 1 and r[1].startswith("chembl20:")][::40]


def test_real_molecules_meet_the_geometry_targets():
    amides, subs, rings = [], [], []
    for smiles in drug_like():
        c, a, s, r = measure(smiles)
        assert c.chiral_ok == c.chiral_total, smiles
        amides += a
        subs += [angle for angle, _ in s]
        rings += [dev for dev, _ in r]
    # The set holds enough of each to count.
    assert len(amides) >= 25 and len(subs) >= 500 and len(rings) >= 10
    assert sum(dev <= 15 for _, dev, _ in amides) >= 0.98 * len(amides)
    assert not [a for a in amides if a[2]], "cis secondary amides"
    assert statistics.median(subs) < 2.0
    assert sum(angle > 10 for angle in subs) <= 0.01 * len(subs)
    assert sum(dev <= 10 for dev in rings) >= 0.95 * len(rings)


@pytest.mark.parametrize("smiles, amides, ring_double_bonds", [
    ("CNC(C)=O", 1, 0),  # N-methylacetamide
    ("CC(=O)Nc1ccc(O)cc1", 1, 0),  # paracetamol
    ("N[C@@H](Cc1ccc(O)cc1)C(=O)NCC(=O)NCC(=O)N[C@@H](Cc1ccccc1)C(=O)N[C@@H](CC(C)C)C(=O)O", 4, 0),  # Leu-enkephalin
    ("CN(C)C(=O)c1ccccc1", 1, 0),
    ("Cc1ccccc1", 0, 0),  # toluene
    ("C1=CCCCC1", 0, 1),  # cyclohexene
    ("CC1=CC(=O)CC(C)(C)C1", 0, 1),
])
def test_named_molecules(smiles, amides, ring_double_bonds):
    c, a, s, r = measure(smiles)
    assert c.chiral_ok == c.chiral_total
    assert len(a) == amides and len(r) == ring_double_bonds
    assert all(dev <= 10 and not cis for _, dev, cis in a)
    assert all(angle <= 5 for angle, _ in s)
    assert all(dev <= 10 for dev, _ in r)
