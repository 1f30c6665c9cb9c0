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

# A bad SMILES says what and where.
try:
    quorix.parse_smiles("C1CC")
except ValueError as error:
    print("parse error:")
    print(error)
