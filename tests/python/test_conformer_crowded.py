"""Crowded groups at the values crystal structures give: a methoxy between two
ortho substituents, a tertiary amine's chain C-N-C in every atom order, and
sp3 C-C bonds between fully substituted carbons; measured by the group rows
of tools/conf_geometry.py on named molecules and real records."""
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
METHOXY = "C-O-C of a methoxy between two ortho substituents"
AMINE = "tertiary amine C-N-C in a chain"
ALKANE = "sp3 C-C, quaternary to tertiary or quaternary"


def values(smiles, label):
    smarts, kind, at, _, _ = ROWS[label]
    conf = quorix.parse_smiles(smiles).conformer()
    assert conf.chiral_ok == conf.chiral_total
    return geometry.group_values(conf.mol, [tuple(p) for p in conf.coords], smarts, kind, at)


@pytest.mark.parametrize("label, name, smiles",
                         [(label, name, smiles) for label in (METHOXY, ALKANE) for name, smiles in ROWS[label][4]])
def test_named_molecule_in_window(label, name, smiles):
    low, high = ROWS[label][3]
    found = values(smiles, label)
    assert found and all(low <= v <= high for v in found), found


# Chloroquine as pasted and in atom orders where a fold squeezed one angle
# of its diethylamino nitrogen and opened another past 120.
@pytest.mark.parametrize("smiles", [
    "CCN(CC)CCCC(C)NC1=C2C=CC(=CC2=NC=C1)Cl",
    "C(CCCN(CC)CC)(Nc1c2c(ncc1)cc(cc2)Cl)C",
    "C(C(C)Nc1c2c(ncc1)cc(Cl)cc2)CCN(CC)CC",
    "C(C)N(CC)CCCC(C)Nc1c2ccc(Cl)cc2ncc1",
])
def test_tertiary_amine_angles_in_every_order(smiles):
    low, high = ROWS[AMINE][3]
    found = values(smiles, AMINE)
    assert len(found) == 3 and all(low <= v <= high for v in found), found


@pytest.mark.parametrize("label, low, high, least", [(METHOXY, 113.0, 116.0, 5), (ALKANE, 1.54, 1.57, 30)])
def test_real_records_median(label, low, high, least):
    """Over every fifth record carrying the group, the median within the
    crystal structures' range."""
    query = quorix.parse_smarts(ROWS[label][0])
    found = []
    for line in (ROOT / "tests" / "data" / "molecules.smi").read_text().splitlines()[::5]:
        try:
            mol = quorix.parse_smiles(line.split()[0])
            mol.sanitize()
            if query.match(mol):
                found += values(line.split()[0], label)
        except ValueError:
            continue
    assert len(found) >= least
    assert low <= statistics.median(found) <= high, statistics.median(found)
