"""Prints, for every molecule of a SMILES file, the texts quorix writes for it:
storage-order and canonical SMILES as read, canonical SMILES after sanitising and
without its stereo marks. Two builds' dumps compared line by line show every text a
change altered:

    PYTHONPATH=<old build> python tools/dump_texts.py tests/data/molecules.smi > old.txt
    PYTHONPATH=<new build> python tools/dump_texts.py tests/data/molecules.smi > new.txt
    diff old.txt new.txt
"""
import sys

import quorix


def texts(smiles):
    out = []
    try:
        m = quorix.parse_smiles(smiles)
    except ValueError:
        return ["parse error"]
    out += [m.to_smiles(), m.to_canonical_smiles()]
    try:
        m.sanitize()
    except ValueError as e:
        return out + ["sanitize error: " + str(e).splitlines()[0]]
    out.append(m.to_canonical_smiles())
    flat = smiles.replace("@", "").replace("/", "").replace("\\", "")
    try:
        f = quorix.parse_smiles(flat)
        f.sanitize()
        out.append(f.to_canonical_smiles())
    except ValueError:
        out.append("flat error")
    return out


def main(path):
    for line in open(path):
        smiles = line.split()[0] if line.strip() else ""
        if smiles:
            print(smiles, *texts(smiles), sep="\t")


if __name__ == "__main__":
    main(sys.argv[1])
