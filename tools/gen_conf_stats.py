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
    hybridisation and the ring the angle lies in (rules below), except the rows
    in LENGTH_MENDED and ANGLE_MENDED, whose chemistry the rules cannot see and
    whose medians are typical crystal-structure values;
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
# (C-C 1.52, C-H 1.09, C-F 1.36, C-Si 1.87; aryl halides outnumber alkyl ones,
# so C-Cl 1.74, C-Br 1.90, C-I 2.09).
RADIUS = {"H": 0.33, "C": 0.762, "N": 0.70, "O": 0.66, "F": 0.60, "Si": 1.11, "P": 1.07,
          "S": 1.03, "Cl": 0.98, "Br": 1.14, "I": 1.33}
# Lone pairs on first-row atoms repel across a single bond and stretch it
# (hydrazine N-N 1.45 rather than the radius sum 1.40).
LONE_PAIRS = {"N": 1, "O": 2, "F": 3}
# Most N-N and N-O single bonds carry a conjugated nitrogen (hydrazones,
# hydrazides, oximes, hydroxamic acids), which undoes much of that stretch:
# N-N 1.37-1.41, N-O 1.39-1.42. A three-membered ring leaves no room for it.
CONJUGATED_SINGLE = {("N", "N"): 0.065, ("N", "O"): 0.025}
# Single bonds from Si, P or S to N, O or F are shorter than their radius sums
# (sulfonamide S-N 1.63, siloxane Si-O 1.64): the large electronegativity
# difference adds ionic character. Phosphorus is mostly P(V), which pulls in
# more (phosphate esters P-O 1.56-1.60, phosphoramides P-N 1.63-1.65).
POLAR_SINGLE = 0.1
SECOND_ROW = ("Si", "P", "S")
PHOSPHORYL_SINGLE = {"O": 0.06, "N": 0.03}
# Multiple bonds shorten a single bond by a roughly constant fraction
# (C=C 1.34 / 1.52, C#C 1.20 / 1.52, benzene 1.40 / 1.52); an S=O or P=O bond
# is shorter still, through its polarity, while pi overlap with a second-row
# atom is weak and keeps P=S (1.94), C=S (thioamides, thioureas 1.66-1.71) and
# C=P (ylides, phosphaalkenes 1.66-1.74) long.
ORDER_FACTOR = {"1": 1.0, "2": 0.87, "3": 0.785, "ar": 0.915}
DOUBLE_FACTOR = {("O", "S"): 0.85, ("O", "P"): 0.85, ("P", "S"): 0.925, ("C", "S"): 0.935, ("C", "P"): 0.93}
# An aromatic ring's O or S gives one lone pair to the pi system; its bonds to
# carbon stay near C(sp2)-X single bonds (furan C-O 1.37, thiophene C-S 1.72).
AROMATIC_CHALCOGEN_FACTOR = 0.965


def ring_shift(a, b, order, ring):
    """Bond-length change from ring strain: three-membered rings shorten C-C
    and double bonds (bent bonds with more p character outside the ring) but
    stretch single bonds to ring atoms with lone pairs, which crowd across the
    ring (epoxide C-O 1.44, aziridine C-N 1.47, thiirane C-S 1.82, oxaziridine
    N-O 1.49); four-membered rings lengthen bonds (1-3 repulsion across the
    ring), five- and six-membered ones barely; aromatic five-membered rings
    alternate more than benzene and their mean sits a little lower."""
    if ring == 3:
        crowded = sum(x in ("N", "O", "S") for x in (a, b)) if order == "1" else 0
        return 0.02 * crowded if crowded else -0.02
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
        if order == "1" and ring != 3:
            single -= CONJUGATED_SINGLE.get((a, b), 0.0)
    if order == "1" and {a, b} & set(SECOND_ROW) and {a, b} & set(LONE_PAIRS):
        single -= POLAR_SINGLE
        if "P" in (a, b):
            single -= PHOSPHORYL_SINGLE.get(a if b == "P" else b, 0.0)
    if order == "2":
        factor = DOUBLE_FACTOR.get((a, b), ORDER_FACTOR["2"])
    elif order == "ar" and "C" in (a, b) and {a, b} & {"O", "S"}:
        factor = AROMATIC_CHALCOGEN_FACTOR
    else:
        factor = ORDER_FACTOR[order]
    return single * factor + ring_shift(a, b, order, ring)


# Rows whose chemistry the rules above cannot see: key -> (median, basis).
LENGTH_MENDED = {
    "H N 1 0": (1.015, "neutron N-H 1.01 in amines and amides, 1.03 in ammonium"),
    "H S 1 0": (1.338, "thiol S-H 1.34"),
    "N O 2 0": (1.220, "nitro N=O 1.21-1.23, C-nitroso N=O 1.21"),
    "O O 1 0": (1.465, "peroxides and endoperoxides O-O 1.46-1.48"),
    "S S 1 0": (2.035, "disulfides S-S 2.02-2.05"),
    "Cl O 1 0": (1.425, "perchlorate, the usual Cl-O in organic salts, 1.40-1.44"),
    "Cl S 1 0": (2.040, "sulfonyl and sulfenyl chlorides S-Cl 2.02-2.06"),
    "I O 1 0": (2.100, "iodine(III) carboxylates and benziodoxoles I-O 2.05-2.15"),
    "F S 1 0": (1.565, "sulfonyl fluorides S-F 1.55-1.57, SF5 1.56-1.59"),
    "O Si 1 0": (1.640, "silyl ethers and siloxanes Si-O 1.63-1.65"),
    "O Si 1 16": (1.635, "cyclosiloxanes Si-O 1.62-1.64"),
    "N Si 1 0": (1.735, "silylamines and silazanes Si-N 1.72-1.75"),
    "C N ar 5": (1.350, "azoles: C=N 1.30-1.33 and pyrrole-type C-N 1.35-1.39 in like numbers"),
    "N N ar 5": (1.350, "pyrazoles, triazoles, tetrazoles, indazoles N-N 1.30-1.37"),
    "N O ar 5": (1.415, "isoxazoles, 1,2,4-oxadiazoles N-O 1.40-1.43"),
    "N S ar 5": (1.640, "isothiazoles 1.63-1.66, 1,2,5- and 2,1,3-thiadiazoles 1.61-1.63"),
    "N S ar 6": (1.640, "ring S-N of thiadiazine dioxides 1.62-1.66"),
    "O S ar 5": (1.600, "ring S-O as in sultones and cyclic sulfates 1.57-1.62"),
    "S S ar 5": (2.050, "1,2-dithiole-3-thiones, 1,2,4-dithiazoles S-S 2.03-2.08"),
    "N P ar 6": (1.590, "cyclotriphosphazenes P-N 1.57-1.60"),
}

# Audit record: every modelled bond-length median that changed when the rules
# and the rows above were checked against typical crystal-structure values.
#   key  was -> is  basis
#   H N 1 0    1.030 -> 1.015  neutron N-H 1.01 in amines and amides, 1.03 in ammonium
#   C N ar 5   1.330 -> 1.350  azoles: C=N 1.30-1.33 and pyrrole-type C-N 1.35-1.39 in like numbers
#   C Cl 1 0   1.762 -> 1.742  radii: aryl C-Cl 1.74 dominates
#   N O 1 0    1.435 -> 1.410  conjugated N-O: oximes, hydroxamic acids 1.39-1.42
#   N O 2 0    1.248 -> 1.220  nitro N=O 1.21-1.23, C-nitroso N=O 1.21
#   N N ar 5   1.319 -> 1.350  pyrazoles, triazoles, tetrazoles, indazoles N-N 1.30-1.37
#   Br C 1 0   1.932 -> 1.902  radii: aryl C-Br 1.90 dominates
#   C S ar 5   1.632 -> 1.721  aromatic chalcogen: thiophenes, thiazoles 1.71-1.74
#   N N 1 0    1.450 -> 1.385  conjugated N-N: hydrazones, hydrazides 1.37-1.42
#   C O ar 5   1.293 -> 1.364  aromatic chalcogen: furans, oxazoles 1.35-1.38
#   C S 2 0    1.559 -> 1.676  weak pi: thioamides, thioureas C=S 1.66-1.71
#   O P 1 0    1.630 -> 1.570  P(V): phosphate, phosphonate esters 1.56-1.60, P-OH 1.54-1.57
#   N O ar 5   1.305 -> 1.415  isoxazoles, 1,2,4-oxadiazoles N-O 1.40-1.43
#   H S 1 0    1.360 -> 1.338  thiol S-H 1.34
#   C I 1 0    2.122 -> 2.092  radii: aryl C-I 2.09-2.10 dominates
#   N N 1 5    1.460 -> 1.395  conjugated N-N: pyrazolines, pyrazolidinones 1.38-1.42
#   C O 1 3    1.402 -> 1.442  three-ring lone pairs: epoxide C-O 1.44
#   N N 1 6    1.454 -> 1.389  conjugated N-N: cyclic hydrazones, hydrazides 1.37-1.42
#   N S ar 5   1.575 -> 1.640  isothiazoles 1.63-1.66, 1,2,5- and 2,1,3-thiadiazoles 1.61-1.63
#   N P 1 0    1.670 -> 1.640  P(V): phosphoramides, phosphoramidates 1.63-1.66
#   S S 1 0    2.060 -> 2.035  disulfides S-S 2.02-2.05
#   N O 1 5    1.445 -> 1.420  conjugated N-O: isoxazolines 1.41-1.43
#   C O ar 6   1.301 -> 1.372  aromatic chalcogen: coumarins, chromones 1.36-1.38
#   C N 1 3    1.442 -> 1.482  three-ring lone pairs: aziridine C-N 1.47-1.49
#   Cl S 1 0   2.030 -> 2.040  sulfonyl and sulfenyl chlorides S-Cl 2.02-2.06
#   O O 1 0    1.420 -> 1.465  peroxides and endoperoxides O-O 1.46-1.48
#   O Si 1 0   1.670 -> 1.640  silyl ethers and siloxanes Si-O 1.63-1.65
#   Cl N 1 0   1.700 -> 1.680  radii: N-chloroimides 1.67-1.70
#   Cl P 1 0   2.070 -> 2.050  radii: P-Cl 1.99 (P(V)) to 2.10 (P(III))
#   N N 1 7    1.454 -> 1.389  conjugated N-N: cyclic hydrazones, hydrazides 1.37-1.42
#   O P 1 5    1.640 -> 1.580  P(V): 1,3,2-dioxaphospholane oxides 1.57-1.60
#   N P ar 6   1.620 -> 1.590  cyclotriphosphazenes P-N 1.57-1.60
#   C S ar 6   1.640 -> 1.729  aromatic chalcogen: thiopyrylium, thiocoumarins 1.70-1.74
#   O Si 1 16  1.670 -> 1.635  cyclosiloxanes Si-O 1.62-1.64
#   N O 1 6    1.439 -> 1.414  conjugated N-O: 1,2-oxazines 1.40-1.45
#   Cl O 1 0   1.660 -> 1.425  perchlorate, the usual Cl-O in organic salts, 1.40-1.44
#   N N 1 3    1.430 -> 1.490  three-ring lone pairs: diaziridine N-N 1.48-1.50
#   C P 2 0    1.594 -> 1.704  weak pi: ylides, phosphaalkenes P=C 1.66-1.74
#   Br N 1 0   1.870 -> 1.840  radii: N-bromoimides 1.83-1.85
#   O S ar 5   1.538 -> 1.600  ring S-O as in sultones and cyclic sulfates 1.57-1.62
#   N Si 1 0   1.710 -> 1.735  silylamines and silazanes Si-N 1.72-1.75
#   I O 1 0    2.020 -> 2.100  iodine(III) carboxylates and benziodoxoles I-O 2.05-2.15
#   F S 1 0    1.530 -> 1.565  sulfonyl fluorides S-F 1.55-1.57, SF5 1.56-1.59
#   S S ar 5   1.877 -> 2.050  1,2-dithiole-3-thiones, 1,2,4-dithiazoles S-S 2.03-2.08
#   C S 1 3    1.772 -> 1.812  three-ring lone pairs: thiirane C-S 1.81-1.83
#   N O 1 3    1.415 -> 1.475  three-ring lone pairs: oxaziridine N-O 1.47-1.50
#   O P 1 6    1.634 -> 1.574  P(V): dioxaphosphinanes, cyclophosphamide 1.57-1.59
#   N P 1 5    1.680 -> 1.650  P(V): diazaphospholidine oxides 1.64-1.67
#   N P 1 6    1.674 -> 1.644  P(V): cyclophosphamide P-N 1.62-1.65
#   N S ar 6   1.583 -> 1.640  ring S-N of thiadiazine dioxides 1.62-1.66
#   S S 1 3    2.040 -> 2.100  three-ring lone pairs (no common example)


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


# Rows where the hybridisation-and-polygon rule above misleads:
# key -> (median, basis).
ANGLE_MENDED = {
    # Three-connected ring nitrogen. Aziridine N is always pyramidal.
    "N 3 0 3 0": (118.0, "aziridine N substituents 115-121, pyramidal"),
    # Beta-lactams outnumber azetidines; their N is nearly planar (penams less so).
    "N 3 0 4 0": (130.0, "beta-lactam N exocyclic 125-134, azetidine 115-121"),
    # A saturated six-membered ring holds N near 111-114 whether amine or amide;
    # most such N are near-planar (N-acyl, N-aryl, N-sulfonyl: exocyclic 115-125),
    # the rest pyramidal amines (110-112); sum 347.
    "N 3 0 6 6": (113.0, "piperidine, piperazine, morpholine ring N 110-115"),
    "N 3 0 6 0": (117.0, "six-ring N exocyclic: amine 110-112, N-aryl 115-117, N-acyl 120-125"),
    # Two-connected ring nitrogen: its lone pair closes the ring angle.
    "N 2 1 5 5": (105.5, "imidazole, oxazole, pyrazole, triazole N 103-107; thiazole 110"),
    "N 2 0 5 5": (107.0, "imidazolines, oxazolines 105-106; pyrazolines 107-108; thiazolines 110"),
    "N 2 0 3 3": (63.0, "2H-azirine N 61, diazirine N 65"),
    "C 3 0 3 3": (64.0, "cyclopropene and methylenecyclopropane sp2 C 63-65"),
    "O 2 1 6 6": (121.0, "coumarins, chromones, pyrylium ring O 118-124"),
    "O 2 0 4 4": (91.5, "oxetane C-O-C 91-92"),
    # Long bonds to S and P let these centres close their ring angles.
    "S 2 1 5 5": (90.5, "thiazole 89, thiophene 92, benzothiazole 88-89"),
    "S 2 0 5 5": (92.5, "thiolanes, thiazolidines, thiazolines C-S-C 90-95"),
    "S 2 0 6 6": (98.0, "thianes, thiomorpholines, phenothiazines C-S-C 96-100"),
    "S 2 0 7 7": (101.5, "benzothiazepines, dibenzothiepines C-S-C 100-104"),
    "S 2 0 8 8": (103.0, "eight-membered thioethers C-S-C 101-105, near the chain value"),
    "S 2 0 10 10": (103.0, "ten-membered thioethers C-S-C as in chains, 101-105"),
    "S 2 0 4 4": (77.5, "thietane C-S-C 76-79"),
    "S 2 0 3 3": (48.5, "thiirane C-S-C 48"),
    "S 3 0 5 5": (94.0, "thiolane S-oxides, cyclic sulfites 92-97"),
    "S 3 0 6 6": (98.5, "thiane S-oxides, six-membered cyclic sulfites 96-102"),
    "S 3 1 5 5": (92.0, "aromatic five-ring S 88-95"),
    "S 4 0 5 5": (95.5, "sulfolanes, gamma-sultams 92-98"),
    "S 4 0 6 6": (102.5, "thiane dioxides, delta-sultams 100-105"),
    "S 4 0 7 7": (106.0, "seven-membered sulfones and sultams 103-108"),
    "S 4 0 4 4": (80.5, "thietane dioxides, beta-sultams 79-82"),
    "S 4 1 5 5": (94.0, "saccharin-type N-S-C 92-96"),
    "S 4 1 6 6": (102.0, "benzothiadiazine dioxides N-S-C 100-104"),
    "P 4 0 5 5": (97.5, "1,3,2-dioxaphospholane oxides, phospholane oxides 94-100"),
    "P 4 0 6 6": (104.5, "1,3,2-dioxaphosphinanes, cyclophosphamide 102-107"),
    "P 4 1 6 6": (117.5, "cyclotriphosphazene N-P-N 116-119"),
    # Aromatic seven-membered rings are planar heptagons (azulene, tropolone).
    "C 3 1 7 7": (128.5, "azulene seven-ring angles 126-130"),
    "C 3 1 7 0": (115.7, "azulene exocyclic angles 115-117"),
    # A benzene fusion carbon keeps near 120 degrees for its fused medium ring.
    "C 3 1 6 7": (122.0, "benzazepines, benzodiazepines, dibenzazepines 120-124"),
    "C 3 1 6 8": (122.5, "benzo-fused eight-membered rings 120-125"),
    "C 3 0 8 8": (123.5, "cyclooctenes, cyclooctatetraenes, eight-ring ketones and lactams 117-127"),
    "C 3 0 8 0": (118.2, "eight-ring sp2 C exocyclic angles, planar sum"),
    # Porphyrins: the 16-ring through the meso carbons.
    "C 3 1 5 16": (125.5, "porphyrin N-Ca-Cmeso 125-126"),
    "C 3 1 16 16": (125.0, "porphyrin Ca-Cmeso-Ca 123-127"),
    "C 3 1 16 0": (117.5, "porphyrin meso substituent angles 116-119, planar sum"),
    # A cyclopropane fused to a ring opens the fusion carbon's other ring angle.
    "C 4 0 3 6": (120.5, "bicyclo[4.1.0]heptane fusion C in the six-ring 118-122"),
    "C 4 0 3 5": (108.0, "bicyclo[3.1.0]hexane fusion C in the five-ring 106-110"),
}

# Audit record: every modelled bond-angle median that changed when the rules
# and the rows above were checked against typical crystal-structure values.
#   key  was -> is  basis
#   N 3 0 6 0    120.4 -> 117.0  six-ring N exocyclic: amine 110-112, N-aryl 115-117, N-acyl 120-125
#   N 2 1 5 5    110.2 -> 105.5  imidazole, oxazole, pyrazole, triazole N 103-107; thiazole 110
#   N 3 0 6 6    119.2 -> 113.0  piperidine, piperazine, morpholine ring N 110-115
#   S 2 1 5 5     96.5 ->  90.5  thiazole 89, thiophene 92, benzothiazole 88-89
#   S 2 0 5 5     96.5 ->  92.5  thiolanes, thiazolidines, thiazolines C-S-C 90-95
#   N 2 0 5 5    111.0 -> 107.0  imidazolines, oxazolines 105-106; pyrazolines 107-108; thiazolines 110
#   C 3 1 6 7    125.1 -> 122.0  benzazepines, benzodiazepines, dibenzazepines 120-124
#   S 2 0 6 6    103.8 ->  98.0  thianes, thiomorpholines, phenothiazines C-S-C 96-100
#   C 3 1 7 0    117.4 -> 115.7  azulene exocyclic angles 115-117
#   S 4 0 5 5    103.7 ->  95.5  sulfolanes, gamma-sultams 92-98
#   C 3 1 7 7    125.1 -> 128.5  azulene seven-ring angles 126-130
#   N 3 0 3 0    150.2 -> 118.0  aziridine N substituents 115-121, pyramidal
#   N 3 0 4 0    135.0 -> 130.0  beta-lactam N exocyclic 125-134, azetidine 115-121
#   C 3 0 8 0    115.5 -> 118.2  eight-ring sp2 C exocyclic angles, planar sum
#   C 4 0 3 6    111.0 -> 120.5  bicyclo[4.1.0]heptane fusion C in the six-ring 118-122
#   C 4 0 3 5    103.7 -> 108.0  bicyclo[3.1.0]hexane fusion C in the five-ring 106-110
#   S 2 0 7 7    105.1 -> 101.5  benzothiazepines, dibenzothiepines C-S-C 100-104
#   S 3 0 6 6    108.1 ->  98.5  thiane S-oxides, six-membered cyclic sulfites 96-102
#   S 4 0 6 6    111.0 -> 102.5  thiane dioxides, delta-sultams 100-105
#   C 3 0 8 8    129.0 -> 123.5  cyclooctenes, cyclooctatetraenes, eight-ring ketones and lactams 117-127
#   O 2 1 6 6    112.3 -> 121.0  coumarins, chromones, pyrylium ring O 118-124
#   C 3 1 5 16   121.5 -> 125.5  porphyrin N-Ca-Cmeso 125-126
#   C 3 1 16 0   119.2 -> 117.5  porphyrin meso substituent angles 116-119, planar sum
#   S 3 0 5 5    100.8 ->  94.0  thiolane S-oxides, cyclic sulfites 92-97
#   P 4 0 5 5    103.7 ->  97.5  1,3,2-dioxaphospholane oxides, phospholane oxides 94-100
#   S 2 0 4 4     88.0 ->  77.5  thietane C-S-C 76-79
#   P 4 0 6 6    111.0 -> 104.5  1,3,2-dioxaphosphinanes, cyclophosphamide 102-107
#   S 4 0 4 4     88.0 ->  80.5  thietane dioxides, beta-sultams 79-82
#   S 2 0 8 8    106.1 -> 103.0  eight-membered thioethers C-S-C 101-105, near the chain value
#   C 3 1 6 8    129.0 -> 122.5  benzo-fused eight-membered rings 120-125
#   C 3 1 16 16  121.5 -> 125.0  porphyrin Ca-Cmeso-Ca 123-127
#   C 3 0 3 3     59.5 ->  64.0  cyclopropene and methylenecyclopropane sp2 C 63-65
#   S 4 0 7 7    112.3 -> 106.0  seven-membered sulfones and sultams 103-108
#   P 4 1 6 6    111.0 -> 117.5  cyclotriphosphazene N-P-N 116-119
#   N 2 0 3 3     59.5 ->  63.0  2H-azirine N 61, diazirine N 65
#   S 3 1 5 5    107.7 ->  92.0  aromatic five-ring S 88-95
#   S 2 0 10 10  107.5 -> 103.0  ten-membered thioethers C-S-C as in chains, 101-105
#   S 2 0 3 3     59.5 ->  48.5  thiirane C-S-C 48
#   S 4 1 5 5    103.7 ->  94.0  saccharin-type N-S-C 92-96
#   O 2 0 4 4     88.0 ->  91.5  oxetane C-O-C 91-92
#   S 4 1 6 6    111.0 -> 102.0  benzothiadiazine dioxides N-S-C 100-104


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
    mended = LENGTH_MENDED.get(" ".join(fields))
    median = mended[0] if mended else length_median(a, b, order, ring)
    below, above = length_spread(a, b, order, median)
    return median, below, above


def angle_model(fields):
    element, degree, aromatic, centre_ring, angle_ring = fields[0], *map(int, fields[1:])
    mended = ANGLE_MENDED.get(" ".join(fields))
    median = mended[0] if mended else angle_median(element, degree, aromatic, centre_ring, angle_ring)
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
