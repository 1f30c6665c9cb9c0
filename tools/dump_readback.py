"""Prints the texts of molecules read back from molblocks, the road on which
stereo comes from wedges and coordinates:

- every record of an SDF file: storage-order and canonical SMILES as read, and
  canonical SMILES without its explicit hydrogens;
- every STEP-th molecule of a SMILES file: the same for its own conformer's
  molblock read back (3-D), and for its 2-D drawing read back (wedges).

Two builds' dumps compared line by line show every read a change altered:

    PYTHONPATH=<old build> python tools/dump_readback.py tests/data/pubchem-1000.sdf tests/data/molecules.smi 7 > old.txt
    PYTHONPATH=<new build> python tools/dump_readback.py tests/data/pubchem-1000.sdf tests/data/molecules.smi 7 > new.txt
    diff old.txt new.txt
"""
import sys

import quorix


def first_line(error):
    return str(error).splitlines()[0] if str(error) else type(error).__name__


def texts(mol):
    out = [mol.to_smiles(), mol.to_canonical_smiles()]
    heavy = mol.copy()
    heavy.remove_hs()
    return out + [heavy.to_canonical_smiles()]


def read_back(block):
    try:
        return texts(quorix.parse_molblock(block).mol)
    except ValueError as e:
        return ["read error: " + first_line(e)]


def main(sdf_path, smiles_path, step):
    with open(sdf_path) as f:
        records = quorix.read_sdf(f.read())
    for k, record in enumerate(records):
        fields = ["error: " + record.error] if record.error is not None else texts(record.block.mol)
        print("sdf", k, *fields, sep="\t")
    with open(smiles_path) as f:
        lines = [line.split()[0] for line in f if line.strip()]
    for k in range(0, len(lines), step):
        smiles = lines[k]
        try:
            mol = quorix.parse_smiles(smiles)
            mol.sanitize()
        except ValueError as e:
            print("smi", k, smiles, "input error: " + first_line(e), sep="\t")
            continue
        try:
            three_d = read_back(mol.conformer().to_molblock())
        except ValueError as e:
            three_d = ["conformer error: " + first_line(e)]
        try:
            two_d = read_back(mol.to_molblock_2d())
        except ValueError as e:
            two_d = ["drawing error: " + first_line(e)]
        print("smi", k, smiles, "3d", *three_d, "2d", *two_d, sep="\t")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 1)
