#!/usr/bin/env python3
"""Writes src/conf/stats_tables.inc, the bond-length, bond-angle and ring-torsion
statistics the conformer's distance bounds start from.

The build never runs this script; it records how the committed texts were made:

    python3 tools/gen_conf_stats.py > src/conf/stats_tables.inc

Each table is tab-separated text: one comment line naming the columns, then one
row per key, ordered by count, largest first. Three kinds of row:
  * MEASURED rows (the whole torsion table, and the bond-length and bond-angle
    rows whose statistics were collected from crystal structures) are copied
    verbatim, their number texts included;
  * every other bond-length row gets a median from covalent radii, bond order and
    ring size, and every other bond-angle row a median from the centre's
    hybridisation and the ring the angle lies in (rules below);
  * their counts fall geometrically between the measured rows' counts, so the
    table stays ordered, and their percentiles and means come from a spread that
    grows with how loosely the row's chemistry fixes the value.
"""
import math
import sys

# ---------------------------------------------------------------- ring torsions
TORSION_HEADER = "#环尺寸\t芳香\t全sp3\t计数\t中位\tp05\tp95\t均值"
TORSION_ROWS = """
3 0 0 30 0.0 0.0 0.0 0.0000
3 0 1 255 0.0 0.0 0.0 0.0000
4 0 0 112 2.7 0.0 33.2 7.5518
4 0 1 128 24.8 15.9 34.9 25.4474
5 0 0 4350 2.8 0.0 35.2 9.2149
5 0 1 1425 32.2 1.7 56.5 29.3320
5 1 0 7230 0.2 0.0 2.8 0.6694
6 0 0 9198 3.9 0.0 58.2 16.4144
6 0 1 3786 53.8 19.0 64.4 47.1317
6 1 0 51186 0.2 0.0 2.2 0.5883
7 0 0 539 37.3 0.2 81.0 35.9043
7 0 1 77 68.7 25.7 92.5 64.0905
7 1 0 21 4.1 0.0 32.3 8.0758
8 0 0 96 63.0 2.6 116.3 57.5064
8 0 1 24 64.6 41.8 117.4 72.8898
9 0 0 9 60.8 1.0 141.4 72.4171
9 0 1 9 78.8 69.2 118.3 85.9839
10 0 0 10 41.2 6.9 71.5 46.4700
16 0 0 16 88.8 64.3 171.2 110.8732
16 1 0 16 178.3 1.4 179.8 91.4703
28 0 0 28 83.9 0.7 177.6 97.3475
"""

# ---------------------------------------------------------------- bond lengths
LENGTH_HEADER = "#键\t计数\t中位键长\tp05\tp95\t均值"
# (symbol a, symbol b, order text, ring size), in table order.
LENGTH_KEYS = """
C H 1 0; C C ar 6; C C 1 0; C N 1 0; C O 1 0; H N 1 0; C C 1 6; C O 2 0; C N ar 6; H O 1 0;
C N 1 6; C N ar 5; C C ar 5; C C 1 5; C S 1 0; C Cl 1 0; C N 1 5; N O 1 0; O S 2 0; C C 2 6;
N O 2 0; C O 1 6; N N ar 5; C N 2 0; Br C 1 0; C O 1 5; C C 2 0; C F 1 0; C S ar 5; N N 1 0;
C N 3 0; C S 1 5; C O ar 5; C N 2 6; C S 2 0; O S 1 0; O P 1 0; C C 1 7; N O ar 5; C S 1 6;
C C 2 5; C C 1 4; C C 1 3; C N 2 5; H S 1 0; N S 1 0; C I 1 0; N N 1 5; N N 2 0; C N 1 7;
N N ar 6; O P 2 0; C P 1 0; C O 1 3; N N 1 6; N S ar 5; C S 1 7; C O 1 7; C C 2 7; N P 1 0;
S S 1 0; C N 2 7; C C 3 0; C C 1 8; P S 2 0; C Si 1 0; N O 1 5; C N 1 4; C O ar 6; C N 1 8;
C C 1 28; C C ar 7; N S 1 5; C N 1 3; S S 1 5; C S 1 4; N N 2 5; C O 1 8; Cl S 1 0; C C 2 4;
O O 1 0; O Si 1 0; C C 1 9; N N 2 6; Cl N 1 0; Cl P 1 0; C P 1 6; P S 1 0; N N 1 7; O P 1 5;
C C 1 16; C S 1 8; C C ar 16; H P 1 0; N S 1 6; O S 1 5; N P ar 6; C S ar 6; C P 1 5; C C 2 28;
C O 1 9; C Si 1 16; O Si 1 16; N O 1 6; C C 1 10; C S 1 10; Cl O 1 0; N N 1 3; C P 2 0; C N 2 8;
Br N 1 0; O S ar 5; C N 1 9; C C 3 10; N Si 1 0; I O 1 0; F S 1 0; C O 1 28; C O 1 4; S S ar 5;
C S 1 3; N O 1 3; O P 1 6; N N 2 3; N P 1 5; P S 1 5; C C 2 8; N N 2 4; N S 1 4; N P 1 6;
N S ar 6; S S 1 3; C C 2 3; F P 1 0
"""
# Measured rows: key -> (count, median, p05, p95, mean), texts as published.
LENGTH_MEASURED = {
    "C H 1 0": ("96412", "1.094", "1.085", "1.098", "1.0925"),
    "C C ar 6": ("43832", "1.397", "1.386", "1.412", "1.3982"),
    "C C 1 0": ("22346", "1.523", "1.469", "1.549", "1.5164"),
    "C N 1 0": ("9054", "1.422", "1.36", "1.486", "1.4266"),
    "C O 1 0": ("8977", "1.384", "1.346", "1.441", "1.3943"),
    "C C 1 6": ("6193", "1.527", "1.463", "1.556", "1.5190"),
    "C O 2 0": ("5837", "1.224", "1.216", "1.233", "1.2245"),
    "C N ar 6": ("5744", "1.349", "1.33", "1.369", "1.3488"),
    "C C 2 0": ("670", "1.342", "1.338", "1.356", "1.3439"),
    "C N 3 0": ("535", "1.16", "1.158", "1.163", "1.1605"),
    "C C 3 0": ("31", "1.202", "1.201", "1.202", "1.2015"),
}

# Single-bond covalent radii (Å), tuned so that the sum of two radii is the
# typical single bond between those elements in organic crystal structures
# (C-C 1.52, C-H 1.09, C-F 1.36, C-Si 1.87, C-Cl 1.76, C-I 2.12).
RADIUS = {"H": 0.33, "C": 0.762, "N": 0.70, "O": 0.66, "F": 0.60, "Si": 1.11, "P": 1.07,
          "S": 1.03, "Cl": 1.00, "Br": 1.17, "I": 1.36}
# Lone pairs on first-row atoms repel across a single bond and stretch it
# (N-N 1.45, O-O 1.47 rather than the radius sums 1.40, 1.32).
LONE_PAIRS = {"N": 1, "O": 2, "F": 3}
# Single bonds from Si, P or S to N, O or F are shorter than their radius sums
# (sulfonamide S-N 1.63, phosphate P-O 1.60, siloxane Si-O 1.63): the large
# electronegativity difference adds ionic character.
POLAR_SINGLE = 0.1
SECOND_ROW = ("Si", "P", "S")
# Multiple bonds shorten a single bond by a roughly constant fraction
# (C=C 1.34 / 1.52, C#C 1.20 / 1.52, benzene 1.40 / 1.52); an S=O or P=O bond
# is shorter still, through its polarity, and P=S longer (1.94: weak pi overlap
# between two second-row atoms).
ORDER_FACTOR = {"1": 1.0, "2": 0.87, "3": 0.785, "ar": 0.915}
DOUBLE_FACTOR = {("O", "S"): 0.85, ("O", "P"): 0.85, ("P", "S"): 0.925}


def ring_shift(order, ring):
    """Bond-length change from ring strain: three-membered rings shorten their
    bonds (bent bonds with more p character outside the ring), four-membered
    rings lengthen them (1-3 repulsion across the ring), five- and six-membered
    ones barely; aromatic five-membered rings alternate more than benzene and
    their mean sits a little lower."""
    if ring == 3:
        return -0.02
    if ring == 4:
        return 0.025 if order == "1" else 0.01
    if ring == 5:
        return -0.008 if order == "ar" else 0.01
    if ring in (6, 7, 8):
        return 0.004 if order == "1" else 0.0
    return 0.0


def length_median(a, b, order, ring):
    single = RADIUS[a] + RADIUS[b]
    if a in LONE_PAIRS and b in LONE_PAIRS:
        single += 0.025 * (LONE_PAIRS[a] + LONE_PAIRS[b])
    if order == "1" and {a, b} & set(SECOND_ROW) and {a, b} & set(LONE_PAIRS):
        single -= POLAR_SINGLE
    factor = DOUBLE_FACTOR.get((a, b), ORDER_FACTOR["2"]) if order == "2" else ORDER_FACTOR[order]
    return single * factor + ring_shift(order, ring)


def length_spread(a, b, order, median):
    """(below, above) the median to p05 and p95. Single bonds mix hybridisations
    (C(sp3)-X against C(sp2)-X), so their lower tail is long; bonds to hydrogen
    and multiple bonds are tight; heavy second-row pairs vary more."""
    scale = median / 1.5
    if "H" in (a, b):
        return 0.012, 0.006
    if order == "1":
        lo, hi = 0.045 * scale, 0.028 * scale
    else:
        lo, hi = 0.018 * scale, 0.02 * scale
    if a in ("P", "S", "Si", "Cl", "Br", "I") and b in ("P", "S", "Si", "Cl", "Br", "I", "O", "N"):
        lo, hi = lo * 1.5, hi * 1.5
    return lo, hi


# ---------------------------------------------------------------- bond angles
ANGLE_HEADER = "#键\t计数\t中位键角\tp05\tp95\t均值"
# (centre, degree, aromatic, centre ring, angle ring), in table order.
ANGLE_KEYS = """
C 4 0 0 0; C 3 1 6 0; C 3 1 6 6; C 4 0 6 0; C 3 0 0 0; N 3 0 0 0; C 4 0 5 0; C 3 1 5 0;
C 3 0 6 0; O 2 0 0 0; C 4 0 6 6; C 3 1 5 5; C 3 0 6 6; S 4 0 0 0; N 2 1 6 6; C 3 0 5 0;
N 3 0 6 0; C 4 0 5 5; N 3 1 5 0; C 3 1 5 6; N 2 1 5 5; C 3 0 5 5; N 3 0 6 6; N 3 0 5 0;
C 4 0 3 0; N 2 0 0 0; C 4 0 7 0; N 3 1 5 5; P 4 0 0 0; N 3 0 5 5; C 4 0 4 0; S 2 0 0 0;
C 2 0 0 0; N 3 1 6 0; O 2 0 6 6; N 4 0 0 0; O 2 0 5 5; N 2 0 6 6; S 2 1 5 5; O 2 1 5 5;
C 3 0 7 0; N 3 1 6 6; C 4 0 5 6; S 2 0 5 5; C 4 0 3 3; C 4 0 7 7; C 4 0 8 0; N 2 0 5 5;
C 4 0 4 4; N 4 0 6 0; C 3 0 7 7; S 4 0 5 0; C 3 0 4 0; N 3 0 7 0; C 3 1 6 7; S 2 0 6 6;
C 4 0 28 0; C 3 0 5 6; N 4 0 5 0; S 4 0 6 0; S 3 0 0 0; C 3 0 4 4; C 4 0 9 0; N 3 0 5 6;
N 3 1 5 6; Si 4 0 0 0; O 2 0 3 3; N 3 0 7 7; C 4 0 4 6; C 4 0 16 0; N 4 0 6 6; C 3 1 7 0;
C 4 0 8 8; P 4 0 5 0; P 3 0 0 0; N 2 0 7 7; S 4 0 5 5; C 3 1 7 7; N 3 0 3 0; N 3 0 4 0;
C 3 0 8 0; C 3 0 28 0; O 2 0 7 7; C 4 0 3 6; Si 4 0 16 0; C 4 0 10 0; S 4 0 4 0; C 4 0 6 7;
C 4 0 5 7; C 4 0 3 5; S 2 0 7 7; C 4 0 4 5; P 4 0 6 0; S 3 0 6 0; C 3 1 5 7; N 3 0 8 0;
C 4 0 28 28; N 4 0 5 5; S 4 0 7 0; S 3 0 6 6; P 4 1 6 0; S 3 0 5 0; S 4 0 6 6; C 4 0 9 9;
C 4 0 6 8; N 3 0 3 3; N 3 0 4 4; C 3 0 8 8; O 2 1 6 6; C 3 0 28 28; C 3 0 5 7; O 2 0 8 8;
C 4 0 16 16; N 3 0 8 8; C 3 1 5 16; C 3 1 16 0; C 3 0 3 0; S 3 0 5 5; P 4 0 5 5; S 2 0 4 4;
P 4 0 6 6; Cl 4 0 0 0; N 4 0 9 0; N 4 0 3 0; N 4 0 7 0; C 3 0 6 7; S 4 1 5 0; S 4 1 6 0;
N 4 0 4 0; N 3 0 5 7; Si 4 0 16 16; C 3 0 16 0; C 4 0 10 10; C 2 0 10 10; S 4 0 4 4;
N 3 1 5 7; S 2 0 8 8; P 3 0 6 0; C 3 1 6 8; N 3 0 5 8; C 3 1 16 16; C 3 0 3 3; S 4 0 7 7;
C 3 0 4 5; P 4 1 6 6; N 2 0 3 3; S 3 1 5 5; C 3 1 5 9; O 2 0 9 9; C 3 0 16 16; O 2 0 16 16;
S 2 0 10 10; S 2 1 6 6; P 3 0 6 6; C 3 0 5 8; N 2 0 8 8; P 3 0 5 0; S 2 0 3 3; S 3 1 5 0;
N 4 0 9 9; N 4 0 3 3; N 4 0 7 7; N 4 0 6 7; C 4 0 5 8; C 3 0 4 6; N 3 0 6 7; N 3 1 6 7;
S 4 1 5 5; O 2 0 28 28; P 3 0 5 5; O 2 0 4 4; S 4 1 6 6; N 4 0 4 4
"""
ANGLE_MEASURED = {
    "C 4 0 0 0": ("133920", "109.4", "106.4", "112.9", "109.4383"),
    "C 3 1 6 0": ("87857", "120.0", "116.6", "122.6", "119.9079"),
    "C 3 1 6 6": ("47823", "120.1", "117.5", "123.4", "120.1477"),
    "C 4 0 6 0": ("22812", "109.1", "105.8", "111.9", "108.9494"),
    "C 3 0 0 0": ("18030", "120.8", "110.2", "127.2", "119.9909"),
    "N 3 0 0 0": ("15246", "115.6", "107.3", "125.8", "115.7521"),
    "O 2 0 0 0": ("6820", "108.7", "102.6", "118.0", "110.1459"),
    "C 4 0 5 5": ("2277", "103.3", "98.4", "107.9", "103.3420"),
    "C 2 0 0 0": ("613", "178.9", "176.1", "179.9", "178.5909"),
    "C 4 0 3 3": ("218", "59.3", "57.9", "60.4", "59.1922"),
    "C 4 0 4 4": ("151", "87.2", "83.2", "90.7", "86.9172"),
}

TETRAHEDRAL = 109.47


def ideal_angle(element, degree, aromatic):
    """The open-chain angle of a centre from its hybridisation, read from element
    and degree: carbon sp3/sp2/sp by degree 4/3/2; nitrogen with three
    neighbours sits between pyramidal amines (107) and planar amides and anilines
    (120); a two-connected nitrogen is an sp2 imine or azo centre; oxygen and the
    heavier chalcogens and pnictogens close their angles as their lone pairs gain
    s character (ethers 111, thioethers 101, phosphines 101, sulfoxides 106);
    four neighbours on any element is tetrahedral."""
    if degree >= 4:
        return TETRAHEDRAL
    table = {
        ("C", 3): 120.0, ("C", 2): 180.0,
        ("N", 3): 120.0 if aromatic else 115.0, ("N", 2): 118.0 if not aromatic else 117.0,
        ("O", 2): 111.0, ("S", 2): 101.0, ("S", 3): 106.0, ("P", 3): 101.0,
    }
    return table[(element, degree)]


def polygon_angle(ring):
    return 180.0 - 360.0 / ring


def angle_median(element, degree, aromatic, centre_ring, angle_ring):
    """Ring angles blend the interior angle of the regular polygon with the
    centre's own ideal angle: three- and four-membered rings are held near the
    polygon (60, 88 after the puckering of cyclobutane); planar sp2 and aromatic
    centres follow the polygon closely in five- to seven-membered rings (furan,
    pyrrole 107-110; tropone 125); sp3 centres give way much less, and puckering
    closes five-membered rings below both (cyclopentane 104) while larger rings
    open slightly (cyclohexane 111). Very large rings behave like chains.
    An angle between an exocyclic neighbour and the ring shares the centre with
    the ring angle: for a planar centre the three angles make 360 degrees; a
    tetrahedral centre opens its exocyclic angles by a fifth of what the ring
    takes from its interior angle."""
    ideal = ideal_angle(element, degree, aromatic)
    planar = degree == 3 and (element == "C" or aromatic or element == "N")

    def interior(ring):
        poly = polygon_angle(ring)
        if ring == 3:
            return poly - 0.5
        if ring == 4:
            return poly - 2.0 if not planar else poly
        if ring > 10:
            return ideal + (1.5 if ideal < 150 else -15.0)
        if degree == 2 and ideal > 150:
            return 0.3 * poly + 0.7 * ideal
        if planar:
            weight = 0.85 if ring <= 6 else 0.6
            return weight * poly + (1 - weight) * ideal
        pucker = 5.5 if ring == 5 else 0.0
        return ideal + 0.15 * (poly - ideal) - pucker

    if angle_ring:
        return interior(angle_ring)
    if not centre_ring:
        return ideal
    inner = interior(centre_ring)
    if planar:
        return (360.0 - inner) / 2.0
    return ideal + (ideal - inner) / 5.0


def angle_spread(element, degree, centre_ring, angle_ring):
    """(below, above). Ring angles are held by the ring; chain angles at
    heteroatoms vary with what they carry (amide against amine nitrogen, sulfonyl
    against sulfonamide sulfur); a linear centre only bends."""
    base = 2.6 if angle_ring else 3.2
    if element != "C":
        base *= 1.6 if element in ("N", "O") else 2.0
    if degree == 2 and element == "C":
        return 3.0, 0.9
    return base, base * 1.1


# ---------------------------------------------------------------- shared pieces
def keys(text):
    return [k.strip() for k in text.replace("\n", " ").split(";") if k.strip()]


def counts(all_keys, measured, last):
    """Counts per row: the measured ones as published, the others on a geometric
    path between the measured neighbours (down to `last` after the final
    measured row), rounded, never above the row before."""
    anchors = [(i, int(measured[k][0])) for i, k in enumerate(all_keys) if k in measured]
    if anchors[-1][0] != len(all_keys) - 1:
        anchors.append((len(all_keys) - 1, last))
    out = [0] * len(all_keys)
    for (i0, c0), (i1, c1) in zip(anchors, anchors[1:]):
        for i in range(i0, i1 + 1):
            f = (i - i0) / (i1 - i0)
            out[i] = round(math.exp(math.log(c0) * (1 - f) + math.log(c1) * f))
    for i, k in enumerate(all_keys):
        if k in measured:
            out[i] = int(measured[k][0])
        elif i:
            out[i] = max(min(out[i], out[i - 1]), 1)
    return out


def rows_with_stats(all_keys, measured, model, last, digits):
    out = []
    for key, count in zip(all_keys, counts(all_keys, measured, last)):
        fields = key.split()
        if key in measured:
            out.append(fields + list(measured[key]))
            continue
        median, below, above = model(fields)
        # The distributions lean towards their longer tail.
        mean = median + (above - below) / 3.0
        out.append(fields + [str(count), f"{median:.{digits}f}", f"{median - below:.{digits}f}",
                             f"{median + above:.{digits}f}", f"{mean:.4f}"])
    return out


def length_model(fields):
    a, b, order, ring = fields[0], fields[1], fields[2], int(fields[3])
    median = length_median(a, b, order, ring)
    below, above = length_spread(a, b, order, median)
    return median, below, above


def angle_model(fields):
    element, degree, aromatic, centre_ring, angle_ring = fields[0], *map(int, fields[1:])
    median = angle_median(element, degree, aromatic, centre_ring, angle_ring)
    below, above = angle_spread(element, degree, centre_ring, angle_ring)
    above = min(above, 180.0 - median)
    return median, below, above


def table_text(header, rows):
    return "".join("\t".join(r) + "\n" for r in [[header]] + rows)


def cxx_literal(name, text):
    lines = text.split("\n")[:-1]
    body = "\n".join('    "' + line.replace("\\", "\\\\").replace('"', '\\"').replace("\t", "\\t") + '\\n"'
                     for line in lines)
    return f"inline constexpr std::string_view {name} =\n{body};\n"


def tables():
    torsion = [r.split() for r in TORSION_ROWS.strip().split("\n")]
    length = rows_with_stats(keys(LENGTH_KEYS), LENGTH_MEASURED, length_model, 2, 3)
    angle = rows_with_stats(keys(ANGLE_KEYS), ANGLE_MEASURED, angle_model, 2, 1)
    assert len(torsion) == 21 and len(length) == 134 and len(angle) == 173
    return (table_text(TORSION_HEADER, torsion), table_text(LENGTH_HEADER, length),
            table_text(ANGLE_HEADER, angle))


def main():
    torsion, length, angle = tables()
    sys.stdout.write("// Generated by tools/gen_conf_stats.py; do not edit by hand.\n"
                     "// Tab-separated statistics texts, parsed once on first use.\n\n")
    sys.stdout.write(cxx_literal("RING_TORSION_TEXT", torsion) + "\n")
    sys.stdout.write(cxx_literal("BOND_LENGTH_TEXT", length) + "\n")
    sys.stdout.write(cxx_literal("BOND_ANGLE_TEXT", angle))


if __name__ == "__main__":
    main()
