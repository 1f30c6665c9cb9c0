"""A first look at quorix: the road a chemist takes, a few lines a step."""
import quorix

print("quorix", quorix.__version__)

# Read and sanitise: rings, aromaticity, hydrogens and stereo are perceived in place.
aspirin = quorix.parse_smiles("CC(=O)Oc1ccccc1C(=O)O")
aspirin.sanitize()
print(aspirin)

# Canonical SMILES: two writings of one molecule give one text.
for text in ("OC(=O)c1ccccc1OC(C)=O", "C1=CC=C(C(=C1)C(=O)O)OC(=O)C"):
    other = quorix.parse_smiles(text)
    other.sanitize()
    print("canonical:", other.to_canonical_smiles(), other.to_canonical_smiles() == aspirin.to_canonical_smiles())

# Substructure search: each match lists molecule atoms in the query's atom order.
acid = quorix.parse_smarts("C(=O)[OX2H1]")
print("carboxylic acid atoms:", acid.match(aspirin))
print("ester atoms:", quorix.parse_smarts("[#6][CX3](=O)[OX2][#6]").match(aspirin))

# Gasteiger charges, with the other per-atom descriptors.
for i, d in enumerate(aspirin.atom_descriptors()):
    if d["atomic_num"] == 8:
        print(f"  oxygen {i}: charge {d['gasteiger_charge']:+.3f}")

# A reaction: an ester from an acid and an alcohol, with water accounted for.
esterify = quorix.parse_reaction("[C:1](=[O:2])[OH:3].[OH:4][C:5]>>[C:1](=[O:2])[O:4][C:5]")
acid, ethanol = quorix.parse_smiles("CC(=O)O"), quorix.parse_smiles("OCC")
acid.sanitize()
ethanol.sanitize()
for outcome in esterify.run([ethanol, acid], byproducts=True):
    print("ester:", [p.to_canonical_smiles() for p in outcome.products], outcome.byproduct_verdict,
          [b.to_canonical_smiles() for b in outcome.byproducts])

# SDF: one record per molecule, with its data fields; a bad record carries its error.
sdf = ("ethanol\n  demo\n\n  3  2  0  0  0  0  0  0  0  0999 V2000\n"
       "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
       "    1.2990    0.7500    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
       "    2.5981    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
       "  1  2  1  0\n  2  3  1  0\nM  END\n> <NAME>\nethanol\n\n$$$$\n"
       "broken\n\n\n  1  0\nM  END\n$$$$\n")
for record in quorix.read_sdf(sdf):
    print("sdf:", record.block.mol.to_canonical_smiles() if record.block else record.error, record.data)

# A bad SMILES says what and where.
try:
    quorix.parse_smiles("C1CC")
except ValueError as error:
    print("parse error:")
    print(error)
