"""A first look at quorix: read a molecule, look at it, see what a bad SMILES says."""
import quorix

print("quorix", quorix.__version__)

alanine = quorix.parse_smiles("C[C@H](N)C(=O)O")
print(alanine)
print("atomic numbers:", alanine.atomic_nums)
for begin, end, order in alanine.bonds:
    print(f"  bond {begin}-{end}, order {order}")

for d in quorix.parse_smiles("C<-N").bond_descriptors():
    print("  dative bond:", d["begin"], "->", d["end"], d["order"])

copy = alanine.copy()
print("copy:", copy, "is a new object:", copy is not alanine)

try:
    quorix.parse_smiles("C1CC")
except ValueError as error:
    print("parse error:")
    print(error)
