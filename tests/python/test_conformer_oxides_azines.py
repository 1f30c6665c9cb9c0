"""Azide and N-oxide bonds, aromatic rings' C-C(=O), sulfoxide and azoxy
angles and azine ring angles at the values crystal and gas-phase structures
give, on named molecules and real records, measured by the group rows of
tools/conf_geometry.py."""
import importlib.util
import pathlib
import statistics

import pytest

import quorix

ROOT = pathlib.Path(__file__).resolve().parents[2]
_spec = importlib.util.spec_from_file_location("conf_geometry", ROOT / "tools" / "conf_geometry.py")
geometry = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(geometry)

ROWS = {label: (smarts, kind, at, window, mols) for label, smarts, kind, at, window, mols in geometry.GROUP_ROWS}
LABELS = ["azide terminal N-N", "azide inner N-N", "aromatic N-oxide N-O", "nitrone N-O", "azoxy N-O",
          "azoxy N=N-O", "aromatic six-ring C-C(=O)", "sulfoxide C-S-C", "azine C-N-C away from a five-ring",
          "azine N-C-N", "purine C2-N3-C4"]


def values(mol, label):
    smarts, kind, at, _, _ = ROWS[label]
    conf = mol.conformer()
    assert conf.chiral_ok == conf.chiral_total
    return geometry.group_values(conf.mol, [tuple(p) for p in conf.coords], smarts, kind, at)


@pytest.mark.parametrize("label, name, smiles",
                         [(label, name, smiles) for label in LABELS for name, smiles in ROWS[label][4]])
def test_named_molecule_in_window(label, name, smiles):
    low, high = ROWS[label][3]
    found = values(quorix.parse_smiles(smiles), label)
    assert found and all(low <= v <= high for v in found), found


@pytest.mark.parametrize("label, least", [
    ("aromatic six-ring C-C(=O)", 20), ("azine C-N-C away from a five-ring", 20), ("azine N-C-N", 10),
    ("aromatic N-oxide N-O", 3)])
def test_real_records_take_their_windows(label, least):
    """Over every twentieth record carrying the group: the median inside the
    window, and nine in ten of the values."""
    query = quorix.parse_smarts(ROWS[label][0])
    low, high = ROWS[label][3]
    found = []
    lines = (ROOT / "tests" / "data" / "molecules.smi").read_text().splitlines()
    step = 1 if label == "aromatic N-oxide N-O" else 20
    for line in lines[::step]:
        try:
            mol = quorix.parse_smiles(line.split()[0])
            if not query.match(mol):
                continue
            found += values(mol, label)
        except ValueError:
            continue
    assert len(found) >= least
    assert low <= statistics.median(found) <= high
    assert sum(low <= v <= high for v in found) >= 0.9 * len(found), sorted(found)
