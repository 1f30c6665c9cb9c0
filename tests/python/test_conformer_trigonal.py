"""Trigonal centres at the angles their neighbours' kinds give (carbamates,
ureas, anilides, five-ring aromatics' exocyclic bonds) and amide nitrogens
their rings hold pyramidal, on named molecules and real records, measured as
tools/conf_geometry.py reports them."""
import importlib.util
import pathlib
import statistics

import pytest

import quorix

ROOT = pathlib.Path(__file__).resolve().parents[2]
_spec = importlib.util.spec_from_file_location("conf_geometry", ROOT / "tools" / "conf_geometry.py")
geometry = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(geometry)


def rows(mol):
    c = mol.conformer()
    g, x = geometry.Graph(c.mol), [tuple(p) for p in c.coords]
    assert c.chiral_ok == c.chiral_total
    return geometry.trigonal_rows(g, x, c.mol.atom_descriptors(), geometry.cycles(g))


NAMED = dict(geometry.NAMED_TRIGONAL)


@pytest.mark.parametrize("name, row", [
    ("Boc-glycine", "carbamate N-C(=O)-O"),
    ("N,N'-dimethylurea", "urea N-C(=O)-N"),
    ("N,N'-dimethylthiourea", "thiourea N-C(=S)-N"),
    ("methyl dimethyldithiocarbamate", "dithiocarbamate N-C(=S)-S"),
    ("acetanilide", "anilide C(=O)-N-C(aryl)"),
    ("2-methylfuran", "five-ring exocyclic angle toward O"),
    ("5-methylisoxazole", "five-ring exocyclic angle toward O"),
    ("1-methylpyrazole", "five-ring exocyclic angle toward S or N"),
    ("2-methylthiophene", "five-ring exocyclic angle toward S or N"),
    ("penicillin G", "fused beta-lactam N angle sum"),
    ("meropenem", "fused beta-lactam N angle sum"),
    ("N-acetylaziridine", "acyl aziridine C(=O)-N-C"),
])
def test_named_centre_in_its_window(name, row):
    low, high = geometry.TRIGONAL_WINDOWS[row]
    values = [v for k, v in rows(quorix.parse_smiles(NAMED[name])) if k == row]
    assert values and all(low <= v <= high for v in values), values


def test_real_records_take_their_windows():
    lines = (ROOT / "tests" / "data" / "molecules.smi").read_text().splitlines()
    found = {}
    for line in lines[::4]:
        smiles = line.split()[0]
        if not any(s in smiles for s in ("C(=O)", "c1", "o1", "n1", "s1")):
            continue
        try:
            mol = quorix.parse_smiles(smiles)
            found_rows = rows(mol)
        except ValueError:
            continue
        for k, v in found_rows:
            found.setdefault(k, []).append(v)
    for row in ("carbamate N-C(=O)-O", "urea N-C(=O)-N", "anilide C(=O)-N-C(aryl)",
                "five-ring exocyclic angle toward O"):
        low, high = geometry.TRIGONAL_WINDOWS[row]
        assert len(found.get(row, [])) >= 10, row
        assert low <= statistics.median(found[row]) <= high, (row, statistics.median(found[row]))


@pytest.mark.parametrize("name, anti", [
    ("cyclododecane", 4), ("cyclotetradecane", 4), ("cyclohexadecane", 6), ("cycloicosane", 8)])
def test_large_cycloalkanes_take_chain_angles(name, anti):
    """Their ring C-C-C as in a chain, and staggered sides with anti torsions (cyclododecane's
    square has four)."""
    found = dict(rows(quorix.parse_smiles(NAMED[name])))
    low, high = geometry.TRIGONAL_WINDOWS["large cycloalkane ring C-C-C median"]
    assert low <= found["large cycloalkane ring C-C-C median"] <= high
    assert found["large cycloalkane anti ring torsions"] >= anti


@pytest.mark.parametrize("name, smiles", geometry.NAMED_CONTACTS)
def test_lone_pair_atoms_four_bonds_apart_keep_their_distance(name, smiles):
    """An OH and a ring fluorine, and the fluorines of a crowded perfluoroalkylamine, no
    closer than a hydrogen bond holds two such atoms (2.6 A; crystals of perfluoroalkyl
    chains 2.5-2.6), after the last run as before it."""
    c = quorix.parse_smiles(smiles).conformer()
    assert geometry.far_contact(geometry.Graph(c.mol), [tuple(p) for p in c.coords]) >= 2.5


@pytest.mark.parametrize("smiles", [
    # paclitaxel and docetaxel in atom orders whose first embedding folds the eight-ring against
    # its windows, and a bridged aroyl amide whose first embeddings put the bridge inside out
    "c1(ccccc1)C(=O)O[C@@H]1[C@]2(O)C[C@@H](C(=C(C2(C)C)[C@H](C([C@@]2(C)[C@H]1[C@@]1(CO[C@@H]1C[C@@H]2O)"
    "OC(C)=O)=O)OC(C)=O)C)OC(=O)[C@H](O)[C@H](c1ccccc1)NC(c1ccccc1)=O",
    "O=C(c1ccccc1)O[C@H]1[C@@H]2[C@@]3(OC(C)=O)[C@H](OC3)C[C@H](O)[C@@]2(C)C([C@@H](C2=C([C@H](C[C@]1(O)"
    "C2(C)C)OC([C@H](O)[C@@H](NC(=O)OC(C)(C)C)c1ccccc1)=O)C)O)=O",
    "O=C(c1cnccn1)N1CC2Cn3c(=O)ccc(-c4ccc(OC(F)(F)F)cc4)c3C(C1)C2",
])
def test_amides_stay_flat_when_the_first_fold_is_wrong(smiles):
    c = quorix.parse_smiles(smiles).conformer()
    assert c.chiral_ok == c.chiral_total
    twists = [dev for _, dev, _ in geometry.amides(geometry.Graph(c.mol), [tuple(p) for p in c.coords])]
    assert twists and max(twists) <= 25.0, twists
