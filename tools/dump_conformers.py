"""Prints, for every molecule of a SMILES or SD file (or every Nth), its conformer as
quorix writes it: a header with the piece count, span and chiral tally, the
molblock, and the SHA-256 of the default 3-D SVG. Two builds' dumps compared
show every conformer a change altered, split by one-piece and multi-piece
molecules, with the spans of the multi-piece ones:

    PYTHONPATH=<old build> python tools/dump_conformers.py tests/data/molecules.smi > old.txt
    PYTHONPATH=<new build> python tools/dump_conformers.py tests/data/molecules.smi > new.txt
    python tools/dump_conformers.py --compare old.txt new.txt

A path ending in .sdf is read as records, each conformer made from the record's
molecule. --every N keeps molecules 0, N, 2N, ...; --jobs J runs J processes
(output order is the file's either way).
"""
import argparse
import hashlib
import math
import statistics
import sys
from multiprocessing import Pool


def pieces(num_atoms, bonds):
    parent = list(range(num_atoms))

    def root(a):
        while parent[a] != a:
            parent[a] = parent[parent[a]]
            a = parent[a]
        return a

    for a, b, _ in bonds:
        parent[root(a)] = root(b)
    return [root(a) for a in range(num_atoms)]


def span(coords):
    return max((math.dist(p, q) for i, p in enumerate(coords) for q in coords[i + 1:]), default=0.0)


def record(item):
    import quorix
    index, text, name = item
    head = f"#{index} {name}" + ("" if text.startswith("sdf:") else f" {text}")
    try:
        if text.startswith("sdf:"):
            c = quorix.read_sdf(text[4:])[0].block.mol.conformer()
        else:
            c = quorix.parse_smiles(text).conformer()
    except ValueError as e:
        return f"{head}\nerror: {e}\n"
    count = len(set(pieces(c.mol.num_atoms, c.mol.bonds)))
    lines = [f"{head} pieces={count} span={span(c.coords):.3f} chiral={c.chiral_ok}/{c.chiral_total}"]
    try:
        lines.append(c.to_molblock(name).rstrip("\n"))
    except ValueError as e:
        lines.append(f"molblock error: {e}")
    lines.append("svg " + hashlib.sha256(c.to_svg().encode()).hexdigest())
    if count > 1:
        lines.append("xyz " + " ".join(repr(v) for p in c.coords for v in p))
    return "\n".join(lines) + "\n"


def dump(path, every, jobs):
    items = []
    if path.endswith(".sdf"):
        records = open(path).read().split("$$$$\n")
        for index, block in enumerate(records[:-1]):
            if index % every == 0:
                items.append((index, "sdf:" + block + "$$$$\n", block.split("\n", 1)[0]))
    else:
        for index, line in enumerate(open(path)):
            fields = line.split()
            if fields and index % every == 0:
                items.append((index, fields[0], fields[1] if len(fields) > 1 else ""))
    if jobs > 1:
        with Pool(jobs) as pool:
            for text in pool.imap(record, items, chunksize=8):
                sys.stdout.write(text)
    else:
        for item in items:
            sys.stdout.write(record(item))


def parse(path):
    out, key = {}, None
    for line in open(path):
        if line.startswith("#"):
            key = line.split()[0]
            out[key] = [line]
        else:
            out[key].append(line)
    return out


def header_field(rec, name):
    for word in rec[0].split():
        if word.startswith(name + "="):
            return word[len(name) + 1:]
    return None


def shift_spread(old_rec, new_rec):
    """How far the atoms of one piece moved differently (0 for a pure translation);
    pieces are read from the molblock's bond block."""
    def xyz(rec):
        line = next((l for l in rec if l.startswith("xyz ")), None)
        values = [float(v) for v in line.split()[1:]] if line else []
        return [values[k:k + 3] for k in range(0, len(values), 3)]
    before, after = xyz(old_rec), xyz(new_rec)
    if not before or len(before) != len(after):
        return 0.0
    counts = new_rec[4]  # the molblock's counts line follows the header and its three lines
    atoms, bonds = int(counts[:3]), int(counts[3:6])
    bond_lines = new_rec[5 + atoms:5 + atoms + bonds]
    edges = [(int(l[:3]) - 1, int(l[3:6]) - 1) for l in bond_lines]
    piece = pieces(len(before), [(a, b, None) for a, b in edges])
    first, worst = {}, 0.0
    for a, (p, q) in enumerate(zip(before, after)):
        move = [q[k] - p[k] for k in range(3)]
        ref = first.setdefault(piece[a], move)
        worst = max(worst, max(abs(move[k] - ref[k]) for k in range(3)))
    return worst


def compare(old_path, new_path):
    old, new = parse(old_path), parse(new_path)
    if old.keys() != new.keys():
        sys.exit("the two dumps cover different molecules")
    tally = {}
    spans_old, spans_new, changed_single = [], [], []
    worst_shift = 0.0
    for key in old:
        count = header_field(new[key], "pieces")
        kind = "error" if count is None else ("one piece" if count == "1" else "multi-piece")
        same = old[key] == new[key]
        tally.setdefault(kind, [0, 0])[0 if same else 1] += 1
        if kind == "one piece" and not same:
            changed_single.append(key)
        if kind == "multi-piece":
            spans_old.append(float(header_field(old[key], "span")))
            spans_new.append(float(header_field(new[key], "span")))
            worst_shift = max(worst_shift, shift_spread(old[key], new[key]))
            if header_field(old[key], "chiral") != header_field(new[key], "chiral"):
                print(f"{key}: chiral tally {header_field(old[key], 'chiral')} -> {header_field(new[key], 'chiral')}")
    for kind, (same, diff) in sorted(tally.items()):
        print(f"{kind}: {same} identical, {diff} changed")
    if spans_old:
        print(f"multi-piece span before: median {statistics.median(spans_old):.2f} max {max(spans_old):.2f}")
        print(f"multi-piece span after:  median {statistics.median(spans_new):.2f} max {max(spans_new):.2f}")
        print(f"largest difference between two atoms' moves within one piece: {worst_shift:.3g} A")
    for key in changed_single[:20]:
        print("one-piece molecule changed:", key)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="+")
    parser.add_argument("--every", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--compare", action="store_true")
    args = parser.parse_args()
    if args.compare:
        compare(*args.paths)
    else:
        dump(args.paths[0], args.every, args.jobs)


if __name__ == "__main__":
    main()
