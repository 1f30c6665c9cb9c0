#!/usr/bin/env python3
"""Local geometry of conformers over the real data, for a before/after check.

    PYTHONPATH=BUILD python3 tools/conf_geometry.py [--bench BUILD/conformer_bounds]
        [--limit N] [--save FILE.jsonl] [--repeat K] [--jobs J]
    PYTHONPATH=BUILD python3 tools/conf_geometry.py --named-only [--save FILE.jsonl]
    PYTHONPATH=BUILD python3 tools/conf_geometry.py --groups [--limit N] [--save FILE.jsonl]
    python3 tools/conf_geometry.py --compare BEFORE.jsonl AFTER.jsonl

Every record of tests/data/molecules.smi and pubchem-1000.sdf, and a few named
molecules, gets one conformer from the module on the path. Reported:

- amide C-N bonds outside rings (carbonyl or thiocarbonyl carbon, nitrogen with
  three neighbours): the largest deviation from planar of the torsions
  X=C-N-Y over the nitrogen's other neighbours Y; the secondary ones (one
  hydrogen, one heavy neighbour that is not itself an acyl carbon) are cis
  when X=C-N-heavy is beyond 90 degrees;
- aromatic substituents: the angle between the bond from a ring atom with two
  aromatic ring bonds to its third neighbour and the plane of that ring (the
  smallest aromatic ring through the atom and both ring neighbours), apart
  for substituents that share a ring with the ring atom (fused or bridged);
- ring double bonds (C=C, C=N): the ring path torsion a-b=c-d around the
  smallest ring holding the bond, from the nearer of 0 and 180 degrees;
- three-connected, non-aromatic sp2 carbons: the sum of their three bond
  angles (360 when flat), by kind (carbonyls by what they carry, ring and
  chain C=C and C=N);
- amide C-N bonds outside rings: the worst R-C(=O)-N-X torsion off planar (R
  the carbonyl carbon's third neighbour), and amide C-N bonds in rings: the
  twist (the mean of R-C-N-Y and O=C-N-Y', blind to a pyramidal nitrogen),
  by ring size;
- amide C-N bonds, in rings and outside: how far the carbonyl carbon's third
  neighbour and the nitrogen's two others lie from the O=C-N plane;
- stored cis/trans: bonds every pair of whose substituents lies as stored, and
  bonds our reader gives the stored value from the conformer's own molblock;
- the widest bond angle at an sp3 carbon or nitrogen;
- spans (largest atom distance) of molecules in more than one piece;
- close contacts: heavy atoms not bonded to each other under 2.0 A apart;
- chirality: constraints right at the delivered coordinates;
- CPU time per conformer (the best of --repeat runs), median over the ChEMBL
  (drug-like) records;
- with --bench, the largest miss of the smoothed bounds per molecule, over the
  bonds and over every pair within a piece, and the atoms with a bond angle
  far outside its bounds, from bench/conformer_bounds (the bounds' own rules,
  without the conformer's trans amide windows).

Local geometry, after those (the named molecules are reported one by one):

- conjugated acyclic single bonds, as the deviation from planar of a torsion
  across them: from an aromatic atom with two aromatic bonds to a C=O carbon
  (by what it carries: ketone or aldehyde, amide, acid or ester), to an
  O-C(sp3) ether oxygen, a nitro group, C=C and C=N, measured from a ring
  neighbour of the aromatic atom and apart for an ortho atom carrying a heavy
  atom outside the ring (a fusion counts); C=C-C=O and C=C-C=C; esters'
  |O=C-O-C| (Z under 30) and acids' |O=C-O-H| (syn under 30);
- acyclic single bonds between sp3 C, N and O: eclipsed when any torsion over
  their substituents, hydrogens included, lies within 20 degrees of 0 or
  +-120; also the mean offset of those torsions from staggered;
- rings of five or six sp3 atoms joined by single bonds and not bridged (no
  other cycle of at most 8 atoms shares three of their atoms): six-rings are
  chairs when every ring torsion lies between 30 and 80 degrees with signs
  alternating; five-rings by their largest ring torsion;
- the angle sums of neutral three-connected nitrogens: amines (only
  hydrogens and sp3 carbons, single bonds), amides, sulfonamides, anilines;
- the fold between the mean (Newell) planes of two aromatic rings sharing a
  bond, the rings being the smallest through each aromatic bond;
- the angle at two-connected sp atoms: nitrile carbons, alkyne carbons, the
  centres of X=Y=Z, other;
- nitro groups N+(=O)O-: angle sum at N, both N-O lengths, O-N-O;
- an audit of bond lengths and angles by chemical class (element,
  hybridization, aromaticity, ring, what the atoms carry), the torsion
  classes and ring shapes, each median against a textbook value typed in by
  hand, OFF when beyond it by more than 0.02 A or 3 degrees.

Further classes, each by a plain rule on the graph (the named molecules one by one;
energy, convergence and iterations for each of them too):

- lengths: N-N and N-O where each N is neutral, non-aromatic, with three single
  bonds and no acyl or aromatic neighbour (O with two single bonds); N-N next to
  an acyl carbon (hydrazides); ring bonds C(=O)-N, C(=O)-O, the single bond of a
  ring C=C-C=O and C=C-C=C (all in one ring), aryl to a ring ketone carbon,
  C=C-N(C=O) in a ring; C-N+ of four-connected N+, the single C-N of amidines
  and guanidines, S-C of thiocyanates;
- angles: C=N-C(ar), C(ar)-NH-N, oxime C=N-O, imine C=N-H, O=S=O, C(ar)-NH-C(ar),
  H-N-H of aniline-type N;
- the twist between the ring planes of a biaryl bond (no ortho heavy substituent
  and with one), between an aniline-type N's three neighbours and its ring
  (N non-aromatic, neutral, on one aromatic C, its others H or sp3 C), and
  between an aryl nitro group's O-N-O plane and its ring; nitro O-N-O and the
  difference of the two N-O;
- the angle sum of the plain N above when bonded to N or O;
- bonds whose smallest ring has 12 atoms or more: sp3-sp3 ones eclipsed by the
  rule above, and the C-C-C angle at their sp3 carbons; the angle at ring sp atoms;
- the share of acyclic C(sp3) four-chains anti (|phi| > 150);
- refinement per data set: refusals, not converged, beyond 400 iterations,
  energy above 1e-2, the total CPU time of conformer(), and with --compare the
  share of molecules more than 3x slower than before (CPU time, so run both
  with the same --repeat on a quiet machine);
- for the named cages and C60: the C-C range and the widest sp3 angle, C60's
  radius; for a bowl (one five-ring of H-free carbons, CH carbons elsewhere)
  the mean distance of the CH carbons from that ring's plane; a refusal
  (exception type and message) when conformer() raises.

Large rings and less common centres (over the data, and the named molecules one by one):

- angles at sp3 C, N and O between their two ring neighbours whose bonds have their smallest
  ring (a shortest-path search per bond, any size) of 9 atoms or more, the centre in no 3- or
  4-ring: the share outside 100-125 degrees, by element too; named, the min and max;
- C-O lengths and C-O-C angles of such sp3 O between two sp3 carbons (crown ethers,
  cryptands, cyclodextrins);
- angles at non-aromatic Se, Te, As, Sb and I centres, at three-connected boron (and its
  angle sum), at four-connected P with a P=C bond (ylides), and at O between Si and Si or C;
- named only: a porphyrin core's (four N-and-four-C five-rings, none sp3, and the four meso
  carbons: 24 atoms) largest distance from its least-squares plane; the shorter diagonal of
  four-rings of three-connected sp2 carbons (squaric acid); H-H lengths.

--save writes one JSON record per molecule, the named ones keyed "named NAME";
--compare reads two such files and lists the molecules with more bonds (or
more pairs) beyond their bounds by more than 0.1 A, or fewer chiral centres
right, and counts identical coordinates, also over the molecules with no
non-aromatic sp2 carbon, no lactam and no angle fault before; then one
before/after table of every figure over the data and one of the named molecules'.
--jobs spreads the molecules over worker processes (each with its own bench),
each timing its molecules with its own CPU clock.

    PYTHONPATH=BUILD python3 tools/conf_geometry.py --readme [--jobs J]

--readme prints only the figures the README states about conformers: squaric
rings' bond lengths; four-ring bonds against the same bond in an open chain
(cyclobutane C-C less butane's mean C-C, oxetane C-O less diethyl ether's);
the twist between the ring planes of biphenyl and a few substituted biaryls;
the largest |z| of flat molecules and whether their molblocks read back as
2-D; the CPU time of a 1,000-atom conformer (the largest accepted); and over the data (molecules.smi, pubchem-1000.sdf) how the refinement
ends: conformers not converged and the iteration count they stopped at (300
is a continuation's cap, 400 the first run's or a retry's), iterations = 0
(the bounds-only first run left nothing to do) with their energy_before.
"""
import argparse
import hashlib
import json
import math
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data")

NAMED = [
    ("N-methylacetamide", "CNC(C)=O"),
    ("paracetamol", "CC(=O)Nc1ccc(O)cc1"),
    ("Leu-enkephalin", "N[C@@H](Cc1ccc(O)cc1)C(=O)NCC(=O)NCC(=O)N[C@@H](Cc1ccccc1)C(=O)N[C@@H](CC(C)C)C(=O)O"),
    ("toluene", "Cc1ccccc1"),
    ("cyclohexene", "C1=CCCCC1"),
    ("sodium acetate", "CC(=O)[O-].[Na+]"),
    ("Ala-Gly-Phe", "C[C@H](N)C(=O)NCC(=O)N[C@@H](Cc1ccccc1)C(=O)O"),
    ("aspirin", "CC(=O)Oc1ccccc1C(=O)O"),
    ("cyclohexenone", "O=C1CCCC=C1"),
    ("beta-lactam", "CC(C)(C)OC(/C=C1\\[C@@H]2N(C1=O)C(C([O-])=O)=C(CS2(=O)=O)COC(C)=O)=O.[Na+]"),
    ("tropane", "CCN(CC)C(=O)c1ccc(cc1)N([C@H]2C[C@H]3CC[C@@H](C2)N3)c4ccccc4"),
    ("cytisine-type", "CCOC(=O)c1ccc(Oc2c(C(F)(F)F)oc3c(CN4CC5Cn6c(=O)cccc6C(C4)C5)c(O)ccc3c2=O)cc1"),
    ("azabicycle", "C1C[C@H]2CCC(N2)C(=C1)c3ccnnc3"),
    ("quinuclidine", "Cn1cc(C2=NC[C@]3(CN4CC[C@@H]3C4)O2)c5ccccc15"),
]


# Small molecules whose local geometry a chemist knows by heart.
NAMED_GEOMETRY = [
    ("benzaldehyde", "O=Cc1ccccc1"),
    ("acetophenone", "CC(=O)c1ccccc1"),
    ("anisole", "COc1ccccc1"),
    ("nitrobenzene", "O=[N+]([O-])c1ccccc1"),
    ("styrene", "C=Cc1ccccc1"),
    ("acrolein", "C=CC=O"),
    ("ethyl acetate", "CCOC(C)=O"),
    ("acetic acid", "CC(=O)O"),
    ("butane", "CCCC"),
    ("hexane", "CCCCCC"),
    ("decane", "CCCCCCCCCC"),
    ("2,4-dimethylpentane", "CC(C)CC(C)C"),
    ("cyclohexane", "C1CCCCC1"),
    ("methylcyclohexane", "CC1CCCCC1"),
    ("trans-decalin", "C1CC[C@H]2CCCC[C@@H]2C1"),
    ("trimethylamine", "CN(C)C"),
    ("N-methylpiperidine", "CN1CCCCC1"),
    ("piperidine", "C1CCNCC1"),
    ("N-methylpyrrolidine", "CN1CCCC1"),
    ("methylamine", "CN"),
    ("N-methylazetidine", "CN1CCC1"),
    ("N-methylaziridine", "CN1CC1"),
    ("mitomycin C", "COC12C(COC(N)=O)C3=C(N1CC1NC12)C(=O)C(C)=C(N)C3=O"),
    ("naphthalene", "c1ccc2ccccc2c1"),
    ("benzofuran", "c1ccc2occc2c1"),
    ("indole", "c1ccc2[nH]ccc2c1"),
    ("caffeine", "Cn1cnc2c1c(=O)n(C)c(=O)n2C"),
    ("purine", "c1ncc2[nH]cnc2n1"),
    ("phenanthrene", "c1ccc2c(c1)ccc1ccccc12"),
    ("benzonitrile", "N#Cc1ccccc1"),
    ("heptanenitrile", "CCCCCCC#N"),
    ("but-2-yne-1,4-diol", "OCC#CCO"),
    ("phenylacetylene", "C#Cc1ccccc1"),
    ("nitromethane", "C[N+](=O)[O-]"),
]

# Molecules for the further classes, the curved aromatics and the strained cages.
NAMED_MORE = [
    ("C60", "c12c3c4c5c1c1c6c7c2c2c8c3c3c9c4c4c%10c5c5c1c1c6c6c%11c7c2c2c7c8c3c3c8c9c4c4c9c%10c5c5c1c1c6c6c%11"
            "c2c2c7c3c3c8c4c4c9c5c1c1c6c2c3c41"),
    ("corannulene", "c1cc2ccc3ccc4ccc5ccc1c1c2c3c4c51"),
    ("hydroxylamine", "NO"),
    ("N,N-dimethylhydroxylamine", "CN(C)O"),
    ("hydrazine", "NN"),
    ("1,1-dimethylhydrazine", "CN(C)N"),
    ("acetohydrazide", "CC(=O)NN"),
    ("phenylhydrazine", "NNc1ccccc1"),
    ("N-benzylideneaniline", "C(=Nc1ccccc1)c1ccccc1"),
    ("biphenyl", "c1ccc(cc1)-c1ccccc1"),
    ("4-phenylpyridine", "c1ccc(cc1)-c1ccncc1"),
    ("4,4'-bipyridine", "c1cc(ccn1)-c1ccncc1"),
    ("2-phenylpyridine", "c1ccc(cc1)-c1ccccn1"),
    ("aniline", "Nc1ccccc1"),
    ("N-methylaniline", "CNc1ccccc1"),
    ("N,N-dimethylaniline", "CN(C)c1ccccc1"),
    ("p-anisidine", "COc1ccc(N)cc1"),
    ("2-nitrotoluene", "Cc1ccccc1[N+](=O)[O-]"),
    ("methyl 2-nitrobenzoate", "COC(=O)c1ccccc1[N+](=O)[O-]"),
    ("1,2-dinitrobenzene", "[O-][N+](=O)c1ccccc1[N+](=O)[O-]"),
    ("2-chloronitrobenzene", "Clc1ccccc1[N+](=O)[O-]"),
    ("2-pyrrolidinone", "O=C1CCCN1"),
    ("caprolactam", "O=C1CCCCCN1"),
    ("gamma-butyrolactone", "O=C1CCCO1"),
    ("1,3-cyclohexadiene", "C1CC=CC=C1"),
    ("1-indanone", "O=C1CCc2ccccc21"),
    ("tetramethylammonium", "C[N+](C)(C)C"),
    ("acetamidine", "CC(=N)N"),
    ("methyl thiocyanate", "CSC#N"),
    ("acetone oxime", "CC(C)=NO"),
    ("acetaldimine", "CC=N"),
    ("dimethyl sulfone", "CS(C)(=O)=O"),
    ("diphenylamine", "c1ccc(Nc2ccccc2)cc1"),
    ("cyclodeca-3-ene-1,5-diyne", "C1#CC=CC#CCCCC1"),
    ("cyclooctyne", "C1CCCC#CCC1"),
    ("cyclotetradecane", "C1CCCCCCCCCCCCC1"),
    ("octane", "CCCCCCCC"),
    ("bicyclo[2.1.1] trans, impossible", "C1C[C@H]2C[C@H]1C2"),
    ("bicyclo[2.1.1] cis", "C1C[C@H]2C[C@@H]1C2"),
    ("bicyclo[2.2.0] trans, impossible", "[C@H]12CC[C@@H]1CC2"),
    ("bicyclo[2.2.0] cis", "[C@H]12CC[C@H]1CC2"),
    ("bicyclo[3.1.0] trans, impossible", "[C@H]12CCC[C@@H]1C2"),
    ("bicyclo[3.1.0] cis", "[C@H]12CCC[C@H]1C2"),
    ("cubane", "C12C3C4C1C5C2C3C45"),
    ("bicyclobutane", "C1C2CC12"),
    ("[1.1.1]propellane", "C1C23CC12C3"),
    ("acetanilide", "CC(=O)Nc1ccccc1"),
    ("benzanilide", "O=C(Nc1ccccc1)c1ccccc1"),
    ("phenylurea", "NC(=O)Nc1ccccc1"),
    ("2-methylacetanilide", "CC(=O)Nc1ccccc1C"),
    ("lidocaine", "CCN(CC)CC(=O)Nc1c(C)cccc1C"),
    ("morphine", "CN1CC[C@]23[C@@H]4[C@H]1CC5=C2C(=C(C=C5)O)O[C@H]3[C@H](C=C4)O"),
    ("codeine", "CN1CC[C@]23[C@@H]4[C@H]1CC5=C2C(=C(C=C5)OC)O[C@H]3[C@H](C=C4)O"),
    ("oxycodone", "CN1CC[C@]23[C@@H]4C(=O)CC[C@]2([C@H]1CC5=C3C(=C(C=C5)OC)O4)O"),
    ("naloxone", "C=CCN1CC[C@]23[C@@H]4C(=O)CC[C@]2([C@H]1CC5=C3C(=C(C=C5)O)O4)O"),
    ("dextromethorphan", "CN1CC[C@@]23CCCC[C@@H]2[C@@H]1CC4=C3C=C(C=C4)OC"),
    ("cocaine", "CN1[C@H]2CC[C@@H]1[C@H]([C@H](C2)OC(=O)c1ccccc1)C(=O)OC"),
    ("bicyclo[3.3.1]nonane", "C1CC2CCCC(C1)C2"),
    ("adamantane", "C1C2CC3CC1CC(C2)C3"),
]
# Large rings (crown ethers, a cryptand, macrolides, cyclic peptides, a cyclodextrin, porphyrins), centres of
# less common elements, ylides, squaric rings and H2.
NAMED_LARGE = [
    ("12-crown-4", "C1COCCOCCOCCO1"),
    ("15-crown-5", "C1COCCOCCOCCOCCO1"),
    ("18-crown-6", "C1COCCOCCOCCOCCOCCO1"),
    ("cryptand-222", "N12CCOCCOCCN(CCOCCOCC1)CCOCCOCC2"),
    ("erythromycin-A",
     "CC[C@H]1OC(=O)[C@H](C)[C@@H](O[C@H]2C[C@@](C)(OC)[C@@H](O)[C@H](C)O2)[C@H](C)[C@@H](O[C@@H]2O[C@H](C)C[C@H](N(C)"
     "C)[C@H]2O)[C@](C)(O)C[C@@H](C)C(=O)[C@H](C)[C@@H](O)[C@]1(C)O"),
    ("azithromycin",
     "CC[C@H]1OC(=O)[C@H](C)[C@@H](O[C@H]2C[C@@](C)(OC)[C@@H](O)[C@H](C)O2)[C@H](C)[C@@H](O[C@@H]2O[C@H](C)C[C@H](N(C)"
     "C)[C@H]2O)[C@](C)(O)C[C@@H](C)CN(C)[C@H](C)[C@@H](O)[C@]1(C)O"),
    ("cyclosporin-A",
     "C/C=C/C[C@@H](C)[C@@H](O)[C@H]1C(=O)N[C@@H](CC)C(=O)N(C)CC(=O)N(C)[C@@H](CC(C)C)C(=O)N[C@@H](C(C)C)C(=O)N(C)"
     "[C@@H](CC(C)C)C(=O)N[C@@H](C)C(=O)N[C@H](C)C(=O)N(C)[C@@H](CC(C)C)C(=O)N(C)[C@@H](CC(C)C)C(=O)N(C)[C@@H](C(C)C)"
     "C(=O)N1C"),
    ("rapamycin",
     "CC1CCC2CC(/C(=C/C=C/C=C/C(CC(C(=O)C(C(/C(=C/C(C(=O)CC(OC(=O)C3CCCCN3C(=O)C(=O)C1(O2)O)C(C)CC4CCC(C(C4)OC)O)C)/C)"
     "O)OC)C)C)/C)OC"),
    ("tacrolimus",
     "CC1CC(C2C(CC(C(O2)(C(=O)C(=O)N3CCCCC3C(=O)OC(C(C(CC(=O)C(/C=C(/C1)\\C)CC=C)O)C)/C(=C/C4CCC(C(C4)OC)O)/C)O)C)OC)"
     "OC"),
    ("alpha-cyclodextrin",
     "OC[C@H]1O[C@@H]2O[C@H]3[C@H](O)[C@@H](O)[C@@H](O[C@H]4[C@H](O)[C@@H](O)[C@@H](O[C@H]5[C@H](O)[C@@H](O)"
     "[C@@H](O[C@H]6[C@H](O)[C@@H](O)[C@@H](O[C@H]7[C@H](O)[C@@H](O)[C@@H](O[C@H]1[C@H](O)[C@H]2O)O[C@@H]7CO)"
     "O[C@@H]6CO)O[C@@H]5CO)O[C@@H]4CO)O[C@@H]3CO"),
    ("porphine", "C1=CC2=NC1=CC3=CC=C(N3)C=C4C=CC(=N4)C=C5C=CC(=C2)N5"),
    ("protoporphyrin-IX",
     "C1(C=C)=C(C)C2=NC1=CC3=C(C)C(C=C)=C(N3)C=C4C(C)=C(CCC(=O)O)C(=N4)C=C5C(CCC(=O)O)=C(C)C(=C2)N5"),
    ("tetraphenylporphyrin",
     "C1=CC2=NC1=C(c6ccccc6)C3=CC=C(N3)C(c6ccccc6)=C4C=CC(=N4)C(c6ccccc6)=C5C=CC(=C2c6ccccc6)N5"),
    ("dimethyl-selenide", "C[Se]C"),
    ("dimethyl-telluride", "C[Te]C"),
    ("diphenyl-selenide", "c1ccc(cc1)[Se]c1ccccc1"),
    ("bortezomib", "CC(C)C[C@H](NC(=O)[C@H](Cc1ccccc1)NC(=O)c1cnccn1)B(O)O"),
    ("trimethylborane", "CB(C)C"),
    ("hexamethyldisiloxane", "C[Si](C)(C)O[Si](C)(C)C"),
    ("TBS-methyl-ether", "CO[Si](C)(C)C(C)(C)C"),
    ("trimethylarsine", "C[As](C)C"),
    ("trimethylstibine", "C[Sb](C)C"),
    ("diphenyliodonium", "c1ccc(cc1)[I+]c1ccccc1"),
    ("ylide-ethylidene-PMe3", "CC=P(C)(C)C"),
    ("ylide-Ph3P=CH2", "C=P(c1ccccc1)(c1ccccc1)c1ccccc1"),
    ("squaric-acid", "OC1=C(O)C(=O)C1=O"),
    ("dimethylsquaramide", "CNC1=C(NC)C(=O)C1=O"),
    ("dihydrogen", "[H][H]"),
]
# Named molecules whose C-C range, widest sp3 angle and, for C60, radius are shown.
CAGES = {"C60", "cubane", "bicyclobutane", "[1.1.1]propellane"} | {n for n, _ in NAMED_MORE if n.startswith("bicyclo[")}


# Backbone C-C-C-C torsions of the alkanes, by heavy-atom index in the SMILES.
CHAIN = {
    "butane": [(0, 1, 2, 3)],
    "hexane": [(1, 2, 3, 4)],
    "decane": [(k, k + 1, k + 2, k + 3) for k in range(7)],
    "2,4-dimethylpentane": [(0, 1, 3, 4), (1, 3, 4, 5)],
}


def sub(p, q):
    return (p[0] - q[0], p[1] - q[1], p[2] - q[2])


def cross(u, v):
    return (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])


def dot(u, v):
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]


def norm(u):
    return math.sqrt(dot(u, u))


def torsion(x, a, b, c, d):
    """Torsion a-b-c-d in degrees, (-180, 180]."""
    b1, b2, b3 = sub(x[b], x[a]), sub(x[c], x[b]), sub(x[d], x[c])
    n1, n2 = cross(b1, b2), cross(b2, b3)
    return math.degrees(math.atan2(norm(b2) * dot(b1, n2), dot(n1, n2)))


def off_flat(phi):
    phi = abs(phi)
    return min(phi, 180.0 - phi)


class Graph:
    """The conformer's molecule as plain lists."""

    def __init__(self, mol):
        self.z = list(mol.atomic_nums)
        self.n = len(self.z)
        self.nbrs = [[] for _ in range(self.n)]
        self.order, self.ring_bond = {}, {}
        for (i, j, order), d in zip(mol.bonds, mol.bond_descriptors()):
            self.nbrs[i].append(j)
            self.nbrs[j].append(i)
            self.order[(i, j)] = self.order[(j, i)] = order
            self.ring_bond[(i, j)] = self.ring_bond[(j, i)] = d["is_in_ring"]

    def double_partner(self, a, elements):
        for b in self.nbrs[a]:
            if self.order[(a, b)] == 2.0 and self.z[b] in elements:
                return b
        return None

    def acyl_carbon(self, a):
        return self.z[a] == 6 and self.double_partner(a, (8, 16)) is not None

    def path(self, start, goal, allowed, avoid):
        """Shortest path start..goal through allowed atoms, not through avoid, not using start-goal directly."""
        prev = {start: None}
        queue = [start]
        for u in queue:
            for v in self.nbrs[u]:
                if v in prev or v == avoid or not allowed(u, v):
                    continue
                if u == start and v == goal:
                    continue
                prev[v] = u
                if v == goal:
                    out = [v]
                    while prev[out[-1]] is not None:
                        out.append(prev[out[-1]])
                    return out[::-1]
                queue.append(v)
        return None

    def pieces(self):
        piece = [-1] * self.n
        count = 0
        for s in range(self.n):
            if piece[s] >= 0:
                continue
            piece[s] = count
            stack = [s]
            while stack:
                u = stack.pop()
                for v in self.nbrs[u]:
                    if piece[v] < 0:
                        piece[v] = count
                        stack.append(v)
            count += 1
        return piece, count


def amides(g, x):
    """(kind, deviation, cis) per amide C-N bond outside rings."""
    out = []
    for (c, n), order in g.order.items():
        if order != 1.0 or g.z[c] != 6 or g.z[n] != 7 or len(g.nbrs[n]) != 3 or g.ring_bond[(c, n)]:
            continue
        o = g.double_partner(c, (8, 16))
        if o is None:
            continue
        others = [y for y in g.nbrs[n] if y != c]
        hs = [y for y in others if g.z[y] == 1]
        heavy = [y for y in others if g.z[y] != 1]
        dev = max(off_flat(torsion(x, o, c, n, y)) for y in others)
        kind = ("primary", "secondary", "tertiary")[len(heavy)] if len(hs) + len(heavy) == 2 else "other"
        cis = None
        if kind == "secondary" and g.acyl_carbon(heavy[0]):
            kind = "imide"
        if kind == "secondary":
            cis = abs(torsion(x, o, c, n, heavy[0])) > 90.0
        out.append((kind, dev, cis))
    return out


def newell_normal(x, ring):
    nx = ny = nz = 0.0
    for k, a in enumerate(ring):
        p, q = x[a], x[ring[(k + 1) % len(ring)]]
        nx += (p[1] - q[1]) * (p[2] + q[2])
        ny += (p[2] - q[2]) * (p[0] + q[0])
        nz += (p[0] - q[0]) * (p[1] + q[1])
    return (nx, ny, nz)


def substituents(g, x):
    """(angle, fused) per substituent of an aromatic ring atom."""
    out = []
    aromatic = lambda u, v: g.order[(u, v)] == 1.5
    for a in range(g.n):
        ring_nbrs = [b for b in g.nbrs[a] if g.order[(a, b)] == 1.5]
        if len(ring_nbrs) != 2:
            continue
        r1, r2 = ring_nbrs
        ring = g.path(r1, r2, aromatic, a)
        if ring is None:
            continue
        normal = newell_normal(x, [a] + ring)
        if norm(normal) == 0.0:
            continue
        for s in g.nbrs[a]:
            if s in ring_nbrs:
                continue
            bond = sub(x[s], x[a])
            sine = min(1.0, abs(dot(normal, bond)) / (norm(normal) * norm(bond)))
            out.append((math.degrees(math.asin(sine)), bool(g.ring_bond[(a, s)])))
    return out


def ring_double_bonds(g, x):
    """(deviation, ring size) per ring C=C or C=N bond whose ends are not linear."""
    out = []
    for (b, c), order in g.order.items():
        if b > c or order != 2.0 or not g.ring_bond[(b, c)] or g.z[b] not in (6, 7) or g.z[c] not in (6, 7):
            continue
        if any(g.order[(e, f)] >= 2.0 and f not in (b, c) for e in (b, c) for f in g.nbrs[e]):
            continue
        ring = g.path(b, c, lambda u, v: True, None)
        if ring is None or len(ring) < 4:
            continue
        out.append((off_flat(torsion(x, ring[1], b, c, ring[-2])), len(ring)))
    return out


def angle(x, a, b, c):
    """Angle a-b-c in degrees."""
    u, v = sub(x[a], x[b]), sub(x[c], x[b])
    return math.degrees(math.acos(max(-1.0, min(1.0, dot(u, v) / (norm(u) * norm(v))))))


def sp2_class(g, c):
    """What kind of three-connected sp2 carbon c is, by its double bond."""
    partner = g.double_partner(c, range(1, 119))
    if partner is None:
        return "other"
    others = [y for y in g.nbrs[c] if y != partner]
    ring = g.ring_bond[(c, partner)]
    if g.z[partner] in (8, 16) and len(g.nbrs[partner]) == 1:
        hetero = sorted(g.z[y] for y in others if g.z[y] in (7, 8, 16))
        n_bonds = [y for y in others if g.z[y] == 7]
        if hetero == [7]:
            return "ring amide C=O" if g.ring_bond[(c, n_bonds[0])] else "acyclic amide C=O"
        if 7 in hetero:
            return "urea and carbamate C=O"
        if hetero:
            return "ester and acid C=O"
        return "ring ketone C=O" if any(g.ring_bond[(c, y)] for y in others) else "chain ketone C=O"
    kind = {6: "C=C", 7: "C=N"}.get(g.z[partner], "C=X")
    return ("ring " if ring else "acyclic ") + kind


def sp2_carbons(g, x, descriptors):
    """(class, angle sum) per three-connected, non-aromatic sp2 carbon."""
    out = []
    for c in range(g.n):
        d = descriptors[c]
        if g.z[c] != 6 or len(g.nbrs[c]) != 3 or d["hybridization"] != "sp2" or d["is_aromatic"]:
            continue
        a, b, e = g.nbrs[c]
        out.append((sp2_class(g, c), angle(x, a, c, b) + angle(x, b, c, e) + angle(x, a, c, e)))
    return out


def amide_backbones(g, x):
    """Per amide C-N bond outside rings, the worst R-C(=O)-N-X off planar,
    R the carbonyl carbon's third neighbour, X the nitrogen's other ones."""
    out = []
    for (c, n), order in g.order.items():
        if order != 1.0 or g.z[c] != 6 or g.z[n] != 7 or len(g.nbrs[n]) != 3 or g.ring_bond[(c, n)]:
            continue
        o = g.double_partner(c, (8, 16))
        if o is None or len(g.nbrs[c]) != 3:
            continue
        r = next(y for y in g.nbrs[c] if y not in (o, n))
        out.append(max(off_flat(torsion(x, r, c, n, y)) for y in g.nbrs[n] if y != c))
    return out


def amide_planes(g, x):
    """(in ring, distance) per amide C-N bond: the largest distance (A) of the
    carbonyl carbon's third neighbour and the nitrogen's two others from the
    plane of O=C-N, so that a flat amide is flat through all six atoms."""
    out = []
    for (c, n), order in g.order.items():
        if order != 1.0 or g.z[c] != 6 or g.z[n] != 7 or len(g.nbrs[n]) != 3 or len(g.nbrs[c]) != 3:
            continue
        o = g.double_partner(c, (8, 16))
        if o is None:
            continue
        normal = cross(sub(x[o], x[c]), sub(x[n], x[c]))
        size = norm(normal)
        others = [y for y in g.nbrs[c] if y not in (o, n)] + [y for y in g.nbrs[n] if y != c]
        out.append((bool(g.ring_bond[(c, n)]), max(abs(dot(normal, sub(x[y], x[c]))) / size for y in others)))
    return out


def lactams(g, x):
    """(ring size, twist) per amide C-N bond in a ring. The twist is the mean
    of R-C-N-Y and O=C-N-Y' (R the carbonyl carbon's third neighbour, Y the
    nitrogen neighbour nearer cis to it, Y' the other), which a pyramidal
    nitrogen leaves unchanged."""
    out = []
    for (c, n), order in g.order.items():
        if order != 1.0 or g.z[c] != 6 or g.z[n] != 7 or len(g.nbrs[n]) != 3 or not g.ring_bond[(c, n)]:
            continue
        o = g.double_partner(c, (8, 16))
        if o is None or len(g.nbrs[c]) != 3:
            continue
        ring = g.path(c, n, lambda u, v: True, None)
        if ring is None:
            continue
        r = next(y for y in g.nbrs[c] if y not in (o, n))
        y1, y2 = [y for y in g.nbrs[n] if y != c]
        if abs(torsion(x, r, c, n, y1)) > abs(torsion(x, r, c, n, y2)):
            y1, y2 = y2, y1
        out.append((len(ring), abs(torsion(x, r, c, n, y1) + torsion(x, o, c, n, y2)) / 2))
    return out


def stored_double_bonds(g, x, bond_descriptors):
    """(right, total) over double bonds with a stored cis/trans: right when
    every pair of substituents across the bond lies as stored, so that a
    reader gets the stored value whichever neighbours it takes."""
    right = total = 0
    for d in bond_descriptors:
        if d["order"] != "double" or d["stereo"] not in ("cis", "trans") or None in d["stereo_atoms"]:
            continue
        b, c = d["begin"], d["end"]
        ref_b, ref_c = d["stereo_atoms"]
        total += 1
        ok = True
        for a in g.nbrs[b]:
            for e in g.nbrs[c]:
                if a == c or e == b or a == e:
                    continue
                cis = (d["stereo"] == "cis") == ((a == ref_b) == (e == ref_c))
                ok = ok and (abs(torsion(x, a, b, c, e)) < 90.0) == cis
        right += ok
    return right, total


def read_back_double_bonds(conf):
    """(right, total) over double bonds with a stored cis/trans: right when
    the molecule read back from the conformer's own molblock gives the bond
    the same configuration."""
    import quorix

    back = quorix.parse_molblock(conf.to_molblock()).mol.bond_descriptors()
    right = total = 0
    for d, e in zip(conf.mol.bond_descriptors(), back):
        if d["stereo"] not in ("cis", "trans") or None in d["stereo_atoms"]:
            continue
        total += 1
        if e["stereo"] not in ("cis", "trans") or None in e["stereo_atoms"]:
            continue
        a, b = d["stereo_atoms"]
        if (e["begin"], e["end"]) != (d["begin"], d["end"]):
            a, b = b, a
        ea, eb = e["stereo_atoms"]
        cis_read = (e["stereo"] == "cis") == ((a == ea) == (b == eb))
        right += cis_read == (d["stereo"] == "cis")
    return right, total


def widest_sp3(g, x, descriptors):
    """The widest bond angle at any sp3 carbon or nitrogen, 0 without one."""
    widest = 0.0
    for i in range(g.n):
        if g.z[i] not in (6, 7) or descriptors[i]["hybridization"] != "sp3":
            continue
        nb = g.nbrs[i]
        for k, a in enumerate(nb):
            for b in nb[k + 1:]:
                widest = max(widest, angle(x, a, i, b))
    return widest


def contacts_and_span(g, x):
    piece, pieces = g.pieces()
    bonded = set(g.order)
    heavy = [i for i in range(g.n) if g.z[i] != 1]
    close = 0
    for k, i in enumerate(heavy):
        for j in heavy[k + 1:]:
            if (i, j) not in bonded and norm(sub(x[i], x[j])) < 2.0:
                close += 1
    span = None
    if pieces > 1:
        span = max(norm(sub(x[i], x[j])) for i in range(g.n) for j in range(i + 1, g.n))
    return close, span, pieces


SYMBOL = {1: "H", 5: "B", 6: "C", 7: "N", 8: "O", 9: "F", 14: "Si", 15: "P", 16: "S", 17: "Cl", 35: "Br", 53: "I"}


def cycles(g, longest=8):
    """Every simple cycle of ring bonds with at most `longest` atoms, once each, in ring order."""
    out = []

    def grow(path, seen):
        for v in g.nbrs[path[-1]]:
            if not g.ring_bond[(path[-1], v)]:
                continue
            if v == path[0]:
                if len(path) > 2 and path[1] < path[-1]:
                    out.append(list(path))
            elif v > path[0] and v not in seen and len(path) < longest:
                seen.add(v)
                path.append(v)
                grow(path, seen)
                path.pop()
                seen.remove(v)

    for s in range(g.n):
        grow([s], {s})
    return out


def ring_bonds(ring):
    pairs = list(zip(ring, ring[1:] + ring[:1]))
    return pairs + [(v, u) for u, v in pairs]


def ring_torsions(x, ring):
    k = len(ring)
    return [torsion(x, ring[i], ring[(i + 1) % k], ring[(i + 2) % k], ring[(i + 3) % k]) for i in range(k)]


def aromatic_rings(g):
    """The smallest ring of aromatic bonds through each aromatic bond, once each, in ring order."""
    aromatic = lambda u, v: g.order[(u, v)] == 1.5
    rings, seen = [], set()
    for (u, v), order in g.order.items():
        if u < v and order == 1.5:
            ring = g.path(u, v, aromatic, None)
            if ring and frozenset(ring) not in seen:
                seen.add(frozenset(ring))
                rings.append(ring)
    return rings


def aryl_site(g, a):
    """(r1, r2, ortho) for an aromatic atom with exactly two aromatic bonds: its ring
    neighbours, and whether either carries a heavy atom outside the smallest ring
    through all three (a fusion counts, as the other ring presses on the substituent)."""
    ring_nbrs = [b for b in g.nbrs[a] if g.order[(a, b)] == 1.5]
    if len(ring_nbrs) != 2:
        return None
    r1, r2 = ring_nbrs
    ring = g.path(r1, r2, lambda u, v: g.order[(u, v)] == 1.5, a)
    if ring is None:
        return None
    own = {r1: (a, ring[1]), r2: (a, ring[-2])}
    ortho = any(g.z[y] != 1 and y not in own[r] for r in (r1, r2) for y in g.nbrs[r])
    return r1, r2, ortho


def carbonyl_kind(g, atoms, c):
    """What a non-aromatic C=O carbon carries: ketone (C and H only, aldehydes too), amide,
    ester, acid, carboxylate, or other (ureas, carbamates, acyl halides...); None for any
    other atom."""
    if g.z[c] != 6 or atoms[c]["is_aromatic"]:
        return None
    o = g.double_partner(c, (8,))
    if o is None or len(g.nbrs[o]) != 1:
        return None
    het = [y for y in g.nbrs[c] if y != o and g.z[y] not in (1, 6)]
    if not het:
        return "ketone"
    if len(het) > 1 or g.z[het[0]] not in (7, 8):
        return "other"
    y = het[0]
    if g.z[y] == 7:
        return "amide"
    far = [w for w in g.nbrs[y] if w != c]
    if not far and atoms[y]["formal_charge"] == -1:
        return "carboxylate"
    if len(far) == 1 and g.z[far[0]] in (1, 6):
        return "acid" if g.z[far[0]] == 1 else "ester"
    return "other"


def nitrogen_kind(g, atoms, n):
    """amine (H and sp3 carbons only, all single), amide (on a C=O carbon), sulfonamide or
    aniline for a neutral, non-aromatic nitrogen with three neighbours; None otherwise."""
    if g.z[n] != 7 or atoms[n]["is_aromatic"] or atoms[n]["formal_charge"] != 0 or len(g.nbrs[n]) != 3:
        return None
    nb = g.nbrs[n]
    sp3_carbon = lambda y: g.z[y] == 6 and atoms[y]["hybridization"] == "sp3" and not atoms[y]["is_aromatic"]
    if all(g.order[(n, y)] == 1.0 and (g.z[y] == 1 or sp3_carbon(y)) for y in nb):
        return "amine"
    if any(g.z[y] == 6 and g.double_partner(y, (8,)) is not None for y in nb):
        return "amide"
    if any(g.z[y] == 16 and sum(g.z[o] == 8 and g.order[(y, o)] == 2.0 for o in g.nbrs[y]) == 2 for y in nb):
        return "sulfonamide"
    if any(atoms[y]["is_aromatic"] for y in nb):
        return "aniline"
    return None


def nitro(g, atoms, n):
    """(O of N=O, O of N-O-) for a nitro nitrogen drawn N+(=O)O-, else None."""
    if g.z[n] != 7 or atoms[n]["formal_charge"] != 1 or len(g.nbrs[n]) != 3:
        return None
    ends = [o for o in g.nbrs[n] if g.z[o] == 8 and len(g.nbrs[o]) == 1]
    double = [o for o in ends if g.order[(n, o)] == 2.0]
    single = [o for o in ends if g.order[(n, o)] == 1.0 and atoms[o]["formal_charge"] == -1]
    return (double[0], single[0]) if len(double) == 1 and len(single) == 1 else None


def atom_types(g, atoms):
    """A short chemical type per atom, the key of the textbook classes."""
    out = []
    for i, z in enumerate(g.z):
        d, nb = atoms[i], g.nbrs[i]
        double = [y for y in nb if g.order[(i, y)] == 2.0]
        sym = SYMBOL.get(z, "X")
        if z == 1:
            t = "H"
        elif d["is_aromatic"]:
            t = sym + "ar"
        elif z == 6:
            kind = carbonyl_kind(g, atoms, i)
            if kind:
                t = "C(=O)" + kind
            elif d["hybridization"] in ("sp3", "sp"):
                t = {"sp3": "C4", "sp": "C1"}[d["hybridization"]]
            else:
                t = "C=" + SYMBOL.get(g.z[double[0]], "X") if len(double) == 1 else "C?"
        elif z == 7:
            t = "NO2" if nitro(g, atoms, i) else "N" + (nitrogen_kind(g, atoms, i) or "")
        elif z == 8:
            if len(nb) == 1:
                t = "O=" if double else "O-" if d["formal_charge"] == -1 else "O?"
            else:
                t = "OH" if any(g.z[y] == 1 for y in nb) else "O" if len(nb) == 2 else "O?"
        elif z == 16:
            oxo = sum(g.z[y] == 8 for y in double)
            t = {2: "SO2", 1: "SO"}.get(oxo) or ("S=" if double else "S" if len(nb) == 2 else "S?")
        else:
            t = sym
        out.append(t)
    return out


def conjugated_torsions(g, x, atoms):
    """(class, deviation from planar, ortho-substituted) per conjugated acyclic single bond:
    aryl to C=O (by what the carbon carries), O-C(sp3), NO2, C=C and C=N, measured on
    r1-a-c-X with r1 a ring neighbour of the aryl atom a; and C=C-C=O, C=C-C=C
    (ortho None)."""
    out = []
    for (a, c), order in g.order.items():
        if order != 1.0 or g.ring_bond[(a, c)] or atoms[c]["is_aromatic"]:
            continue
        if atoms[a]["is_aromatic"]:
            site = aryl_site(g, a)
            if site is None:
                continue
            kind, end = aryl_partner(g, atoms, a, c)
            if kind:
                out.append((kind, off_flat(torsion(x, site[0], a, c, end)), site[2]))
        elif a < c and g.z[a] == 6 and g.z[c] == 6:
            pa, pc = g.double_partner(a, (6, 8)), g.double_partner(c, (6, 8))
            if pa is None or pc is None or (g.z[pa], g.z[pc]) == (8, 8):
                continue
            if g.z[pa] == 8:
                a, c, pa, pc = c, a, pc, pa
            kind = "C=C-C=O" if g.z[pc] == 8 else "C=C-C=C"
            out.append((kind, off_flat(torsion(x, pa, a, c, pc)), None))
    return out


def aryl_partner(g, atoms, a, c):
    """(class, far atom) of a conjugating group c on aryl atom a, or (None, None)."""
    if g.z[c] == 6:
        kind = carbonyl_kind(g, atoms, c)
        if kind:
            label = {"ketone": "ketone/aldehyde", "amide": "amide", "other": "other"}.get(kind, "acid/ester")
            return "aryl-C(=O) " + label, g.double_partner(c, (8,))
        for z, label in ((6, "aryl-C=C"), (7, "aryl-C=N")):
            d = g.double_partner(c, (z,))
            if d is not None:
                return label, d
    if g.z[c] == 8 and len(g.nbrs[c]) == 2:
        e = next(y for y in g.nbrs[c] if y != a)
        if g.z[e] == 6 and atoms[e]["hybridization"] == "sp3":
            return "aryl-O-C(sp3)", e
    if g.z[c] == 7 and nitro(g, atoms, c):
        return "aryl-NO2", nitro(g, atoms, c)[0]
    return None, None


def ester_acid_torsions(g, x):
    """('ester' or 'acid', |O=C-O-X|) per acyclic C(=O)-O bond whose O has two neighbours,
    X a carbon (ester) or a hydrogen (acid)."""
    out = []
    for (c, o), order in g.order.items():
        if order != 1.0 or g.ring_bond[(c, o)] or g.z[c] != 6 or g.z[o] != 8 or len(g.nbrs[o]) != 2:
            continue
        od = g.double_partner(c, (8,))
        e = next(y for y in g.nbrs[o] if y != c)
        if od is None or g.z[e] not in (1, 6):
            continue
        out.append(("acid" if g.z[e] == 1 else "ester", abs(torsion(x, od, c, o, e))))
    return out


def sp3_bonds(g, x, atoms, cyc):
    """(elements, methyl rotor, closest torsion to eclipsed, mean torsion offset from
    staggered) per acyclic single bond between sp3 C, N or O, over every torsion of the
    substituents, hydrogens included. A bond to an atom of a three-membered ring, whose
    ring bonds stand 60 degrees apart and so cannot all be staggered, has the elements
    "3-ring"."""
    three = {a for ring in cyc if len(ring) == 3 for a in ring}
    out = []
    for (b, c), order in g.order.items():
        if b > c or order != 1.0 or g.ring_bond[(b, c)]:
            continue
        if any(g.z[e] not in (6, 7, 8) or atoms[e]["hybridization"] != "sp3" or atoms[e]["is_aromatic"]
               for e in (b, c)):
            continue
        tors = [torsion(x, a, b, c, d) for a in g.nbrs[b] if a != c for d in g.nbrs[c] if d != b]
        if not tors:
            continue
        eclipse = min(min(abs(t), abs(t - 120), abs(t + 120)) for t in tors)
        stagger = statistics.mean(min(abs(t - 60), abs(t + 60), 180 - abs(t)) for t in tors)
        methyl = any(g.z[e] == 6 and sum(g.z[h] == 1 for h in g.nbrs[e]) == 3 for e in (b, c))
        elements = "3-ring" if b in three or c in three else "-".join(sorted((SYMBOL[g.z[b]], SYMBOL[g.z[c]])))
        out.append((elements, methyl and elements != "3-ring", eclipse, stagger))
    return out


def saturated_rings(g, atoms, cyc):
    """Rings of five or six sp3 atoms joined by single bonds, not bridged (no other cycle
    of at most 8 atoms shares three of their atoms; fused rings share two):
    (size, 'carbocycle' or 'hetero' for N or O in the ring, ring) each."""
    out = []
    for ring in cyc:
        if len(ring) not in (5, 6) or any(g.order[e] != 1.0 for e in ring_bonds(ring)):
            continue
        if any(g.z[a] not in (6, 7, 8) or atoms[a]["hybridization"] != "sp3" for a in ring):
            continue
        members = set(ring)
        if any(other is not ring and len(members & set(other)) >= 3 for other in cyc):
            continue
        out.append((len(ring), "carbocycle" if all(g.z[a] == 6 for a in ring) else "hetero", ring))
    return out


def bridged_six_rings(g, atoms, cyc):
    """Six-rings of sp3 C, N and O joined by single bonds, no bond across them, that
    `saturated_rings` leaves out as bridged: ('one-atom bridge' when no other cycle of at most six atoms shares more than three
    of their atoms and one of five or six shares three, as in a morphinan's piperidine, a
    tropane or a bicyclo[3.3.1]nonane; 'other' otherwise, as in a bicyclo[2.2.2]octane), ring."""
    out = []
    plain = {tuple(r) for _, _, r in saturated_rings(g, atoms, cyc)}
    for ring in cyc:
        if len(ring) != 6 or tuple(ring) in plain or any(g.order[e] != 1.0 for e in ring_bonds(ring)):
            continue
        if any(g.z[a] not in (6, 7, 8) or atoms[a]["hybridization"] != "sp3" for a in ring):
            continue
        if any((ring[i], ring[j % 6]) in g.order for i in range(6) for j in range(i + 2, i + 5)):
            continue  # a cycle round two rings (a bond across it), not a ring
        members = set(ring)
        shared = [(len(other), len(members & set(other))) for other in cyc if other is not ring and len(other) <= 6]
        one = max(k for _, k in shared) == 3 and any(k == 3 and size >= 5 for size, k in shared)
        out.append(("one-atom bridge" if one else "other", ring))
    return out


def anilides(g, x, atoms):
    """(heavy ortho sides, 0 to 2; angle 0-90 between the ring's plane and the plane
    C(=O)-N-C(ipso)) per secondary anilide: a neutral non-aromatic N with single bonds to one
    H, one aromatic carbon with two aromatic bonds (the bond to it in no ring) and one
    non-aromatic C=O or C=S carbon."""
    out = []
    for n in range(g.n):
        if g.z[n] != 7 or atoms[n]["is_aromatic"] or atoms[n]["formal_charge"] != 0 or len(g.nbrs[n]) != 3:
            continue
        if any(g.order[(n, y)] != 1.0 for y in g.nbrs[n]):
            continue
        hs = [y for y in g.nbrs[n] if g.z[y] == 1]
        ar = [y for y in g.nbrs[n] if atoms[y]["is_aromatic"] and g.z[y] == 6]
        acyl = [y for y in g.nbrs[n] if g.z[y] == 6 and not atoms[y]["is_aromatic"]
                and g.double_partner(y, (8, 16)) is not None]
        if len(hs) != 1 or len(ar) != 1 or len(acyl) != 1:
            continue
        a = ar[0]
        ring = aryl_ring(g, a)
        if not ring or g.ring_bond[(n, a)]:
            continue
        r1, r2 = ring[0][1], ring[0][-1]
        own = {r1: (a, ring[0][2]), r2: (a, ring[0][-2])}
        sides = sum(any(g.z[y] != 1 and y not in own[r] for y in g.nbrs[r]) for r in (r1, r2))
        t = plane_angle(three_normal(x, acyl[0], n, a), newell_normal(x, ring[0]))
        if t is not None:
            out.append((sides, round(t, 2)))
    return out


def chair(tors):
    """All six ring torsions between 30 and 80 degrees, signs alternating round the ring."""
    return all(30 < abs(t) < 80 for t in tors) and all(t * u < 0 for t, u in zip(tors, tors[1:] + tors[:1]))


def nitrogen_sums(g, x, atoms):
    """(kind, sum of the three bond angles) per amine, amide, sulfonamide and aniline N."""
    out = []
    for n in range(g.n):
        kind = nitrogen_kind(g, atoms, n)
        if kind:
            a, b, c = g.nbrs[n]
            out.append((kind, angle(x, a, n, b) + angle(x, b, n, c) + angle(x, a, n, c)))
    return out


def fused_folds(g, x, rings):
    """Per two aromatic rings sharing a bond, the angle between their mean (Newell)
    planes, folded to 0-90."""
    out = []
    for k, p in enumerate(rings):
        for q in rings[k + 1:]:
            shared = set(p) & set(q)
            if not any((u, v) in g.order for u in shared for v in shared):
                continue
            n1, n2 = newell_normal(x, p), newell_normal(x, q)
            cosine = min(1.0, abs(dot(n1, n2)) / (norm(n1) * norm(n2)))
            out.append(math.degrees(math.acos(cosine)))
    return out


def sp_angles(g, x, atoms):
    """(class, angle) per two-connected sp atom: nitrile C, alkyne C, the centre of
    X=Y=Z (allenes, heterocumulenes, azides) or other (isonitrile N...)."""
    out = []
    for i in range(g.n):
        if atoms[i]["hybridization"] != "sp" or len(g.nbrs[i]) != 2:
            continue
        triple = [y for y in g.nbrs[i] if g.order[(i, y)] == 3.0]
        kind = "cumulated centre" if all(g.order[(i, y)] == 2.0 for y in g.nbrs[i]) else "other"
        if g.z[i] == 6 and triple:
            kind = {7: "nitrile C", 6: "alkyne C"}.get(g.z[triple[0]], "other")
        out.append((kind, angle(x, g.nbrs[i][0], i, g.nbrs[i][1])))
    return out


def nitro_groups(g, x, atoms):
    """(angle sum at N, N=O, N-O-, O-N-O) per nitro group."""
    out = []
    for n in range(g.n):
        ends = nitro(g, atoms, n)
        if ends:
            a, b, c = g.nbrs[n]
            od, os_ = ends
            out.append((angle(x, a, n, b) + angle(x, b, n, c) + angle(x, a, n, c),
                        norm(sub(x[od], x[n])), norm(sub(x[os_], x[n])), angle(x, od, n, os_)))
    return out


# Textbook references (A, degrees) typed in by hand: gas-phase and crystal averages
# of the usual tables, a range where the two or common substitution differ.
LENGTHS = {
    "C(sp3)-C(sp3)": (1.52, 1.54), "C-C cyclopropane": (1.50, 1.51), "C-C cyclobutane": (1.55, 1.55),
    "C(sp3)-C(ar)": (1.50, 1.51), "C(sp3)-C(=O)": (1.50, 1.52), "C(sp3)-C(sp2)=C": (1.50, 1.50),
    "C(sp3)-C(sp)": (1.46, 1.47), "C(ar)-C(ar) benzene ring": (1.38, 1.40), "C(ar)-C(ar) biaryl": (1.48, 1.49),
    "C(ar)-C(=O)": (1.48, 1.50), "C(ar)-C(sp2)=C": (1.47, 1.48), "C(ar)-C(sp)": (1.43, 1.44),
    "C(sp2)-C(sp2) diene": (1.45, 1.47), "C(sp2)-C(=O) enone": (1.46, 1.48), "C=C": (1.33, 1.34),
    "C#C": (1.18, 1.20), "C#N nitrile": (1.14, 1.16), "C=N imine": (1.27, 1.29),
    "C(ar)-N(ar) six-ring": (1.33, 1.34), "C(=O)-N amide": (1.33, 1.35), "C(sp3)-N amine": (1.46, 1.47),
    "C(sp3)-N amide N": (1.45, 1.47), "C(ar)-N aniline-type": (1.37, 1.42), "C(ar)-NO2": (1.46, 1.48),
    "C(sp3)-NO2": (1.49, 1.50), "C=O ketone/aldehyde": (1.20, 1.22), "C=O amide": (1.22, 1.24),
    "C=O ester": (1.20, 1.21), "C=O acid": (1.20, 1.22), "C=O carboxylate": (1.25, 1.26),
    "C-O- carboxylate": (1.25, 1.26), "C(=O)-O ester": (1.33, 1.35), "C(=O)-OH acid": (1.31, 1.36),
    "C(sp3)-OH alcohol": (1.42, 1.43), "C(sp3)-O ether": (1.42, 1.43), "C(sp3)-O ester": (1.44, 1.46),
    "C(ar)-OH phenol": (1.36, 1.37), "C(ar)-O-C(sp3) ether": (1.36, 1.37), "C(ar)-O(ar) furan-type": (1.36, 1.37),
    "C=S": (1.66, 1.68), "C(ar)-S(ar) thiophene-type": (1.71, 1.72), "C(sp3)-S": (1.81, 1.82),
    "C(ar)-S": (1.76, 1.78), "C(ar)-SO2": (1.76, 1.77), "C(sp3)-SO2": (1.78, 1.79), "S=O sulfonyl": (1.43, 1.44),
    "S=O sulfoxide": (1.49, 1.50), "S-N sulfonamide": (1.62, 1.64), "N-O nitro": (1.21, 1.23),
    "C(ar)-F": (1.35, 1.36), "C(sp3)-F in CF2/CF3": (1.33, 1.34), "C(sp3)-F": (1.39, 1.40),
    "C(ar)-Cl": (1.73, 1.74), "C(sp3)-Cl": (1.78, 1.79), "C(ar)-Br": (1.89, 1.90), "C(sp3)-Br": (1.94, 1.97),
    "C(ar)-I": (2.08, 2.10), "C(sp3)-I": (2.14, 2.16), "C(sp3)-H": (1.09, 1.10), "C(ar)-H": (1.08, 1.085),
    "C(sp2)-H alkene": (1.08, 1.09), "N-H amine": (1.01, 1.02), "N-H amide": (1.00, 1.01), "O-H": (0.96, 0.97),
}

ANGLES = {
    "H-C-H methyl": (107.5, 108.5), "H-C-H methylene": (106, 108), "H-C-C(sp3)": (109.5, 111),
    "C-CH2-C chain": (112, 113.5), "C-N-C amine": (110, 112), "H-N-H amine": (106, 107),
    "C-O-C dialkyl ether": (111, 112.5), "C(ar)-O-C(sp3) ether": (117, 118), "C(=O)-O-C(sp3) ester": (115, 117),
    "C-O-H alcohol": (108, 109), "C(ar)-O-H phenol": (108.5, 110), "C(=O)-O-H acid": (106, 107),
    "O=C-C ketone": (120.5, 122), "C-C(=O)-C ketone": (116, 117.5), "O=C-N amide": (122, 123.5),
    "C-C(=O)-N amide": (115, 117), "O=C-O ester": (122.5, 124), "C-C(=O)-O ester": (110.5, 112),
    "O=C-O acid": (122, 124), "O-C-O carboxylate": (124, 126), "C(=O)-N-C(sp3) amide": (120.5, 122.5),
    "C=C-C alkene": (123, 125.5), "C-N-C aromatic six-ring": (115.5, 117.5), "O=S=O sulfonyl": (118.5, 120.5),
    "C-S-C dialkyl sulfide": (99, 102), "O-N-O nitro": (123, 125.5), "X-C#N nitrile C": (178, 180),
    "X-C#C alkyne C": (178, 180), "C-C-C cyclopropane": (60, 60), "C-C-C cyclobutane": (87, 89),
    "C-C-C cyclopentane": (104, 106), "C-C-C cyclohexane": (110.5, 111.5), "C-C-C benzene ring": (120, 120),
}

HYDROGEN_BONDS = {"C4": "C(sp3)-H", "Car": "C(ar)-H", "C=C": "C(sp2)-H alkene", "Namine": "N-H amine",
                  "Namide": "N-H amide", "OH": "O-H"}
CC_SINGLE = {("C4", "Car"): "C(sp3)-C(ar)", ("C(=O)", "C4"): "C(sp3)-C(=O)", ("C4", "C=C"): "C(sp3)-C(sp2)=C",
             ("C1", "C4"): "C(sp3)-C(sp)", ("Car", "Car"): "C(ar)-C(ar) biaryl", ("C(=O)", "Car"): "C(ar)-C(=O)",
             ("C=C", "Car"): "C(ar)-C(sp2)=C", ("C1", "Car"): "C(ar)-C(sp)", ("C=C", "C=C"): "C(sp2)-C(sp2) diene",
             ("C(=O)", "C=C"): "C(sp2)-C(=O) enone"}
HETERO_SINGLE = {
    ("C(=O)amide", "Namide"): "C(=O)-N amide", ("C4", "Namine"): "C(sp3)-N amine", ("C4", "Namide"): "C(sp3)-N amide N",
    ("Car", "Naniline"): "C(ar)-N aniline-type", ("Car", "NO2"): "C(ar)-NO2", ("C4", "NO2"): "C(sp3)-NO2",
    ("C(=O)ester", "O"): "C(=O)-O ester", ("C(=O)acid", "OH"): "C(=O)-OH acid",
    ("C(=O)carboxylate", "O-"): "C-O- carboxylate", ("C4", "OH"): "C(sp3)-OH alcohol",
    ("Car", "OH"): "C(ar)-OH phenol", ("C4", "S"): "C(sp3)-S", ("Car", "S"): "C(ar)-S", ("Car", "SO2"): "C(ar)-SO2",
    ("C4", "SO2"): "C(sp3)-SO2", ("NO2", "O="): "N-O nitro", ("NO2", "O-"): "N-O nitro",
    ("Nsulfonamide", "SO2"): "S-N sulfonamide", ("Car", "F"): "C(ar)-F", ("Car", "Cl"): "C(ar)-Cl",
    ("C4", "Cl"): "C(sp3)-Cl", ("Car", "Br"): "C(ar)-Br", ("C4", "Br"): "C(sp3)-Br", ("Car", "I"): "C(ar)-I",
    ("C4", "I"): "C(sp3)-I",
}


def bond_class(g, t, rings, i, j):
    """The textbook class of bond i-j, None for bonds outside the classes."""
    a, b = sorted((i, j), key=lambda k: (g.z[k], t[k]))
    ta, tb, order = t[a], t[b], g.order[(a, b)]
    if ta == "H":
        return HYDROGEN_BONDS.get(tb)
    if (g.z[a], g.z[b]) == (6, 6):
        if order != 1.0:
            return {1.5: "C(ar)-C(ar) benzene ring" if (a, b) in rings["benzenoid"] else None,
                    2.0: "C=C" if ta == tb == "C=C" else None, 3.0: "C#C"}.get(order)
        if (ta, tb) == ("C4", "C4"):
            return {3: "C-C cyclopropane", 4: "C-C cyclobutane"}.get(rings["size"].get((a, b)), "C(sp3)-C(sp3)")
        base = lambda s: "C(=O)" if s.startswith("C(=O)") else s
        return CC_SINGLE.get(tuple(sorted((base(ta), base(tb)))))
    if order == 3.0 and (g.z[a], g.z[b]) == (6, 7):
        return "C#N nitrile"
    if order == 2.0:
        if ta.startswith("C(=O)") and tb == "O=":
            return "C=O " + {"ketone": "ketone/aldehyde"}.get(ta[5:], ta[5:])
        if ta == "C=N" and tb[:3] != "Nar" and sum(g.z[y] == 7 for y in g.nbrs[a]) == 1:
            return "C=N imine"
        if ta == "C=S":
            return "C=S"
        if (ta, tb) == ("O=", "SO2"):
            return "S=O sulfonyl"
        if (ta, tb) == ("O=", "SO"):
            return "S=O sulfoxide"
        return None
    if order == 1.5:
        if ta == "Car" and tb == "Nar" and len(g.nbrs[b]) == 2 and (a, b) in rings["arom6"]:
            return "C(ar)-N(ar) six-ring"
        return {"Oar": "C(ar)-O(ar) furan-type", "Sar": "C(ar)-S(ar) thiophene-type"}.get(tb) if ta == "Car" else None
    if order != 1.0:
        return None
    if tb == "O":
        far = t[next(y for y in g.nbrs[b] if y != a)]
        if ta == "C4":
            return "C(sp3)-O ether" if far in ("C4", "Car") else "C(sp3)-O ester" if far == "C(=O)ester" else None
        if ta == "Car":
            return "C(ar)-O-C(sp3) ether" if far == "C4" else None
    if (ta, tb) == ("C4", "F"):
        return "C(sp3)-F in CF2/CF3" if sum(g.z[y] == 9 for y in g.nbrs[a]) >= 2 else "C(sp3)-F"
    return HETERO_SINGLE.get((ta, tb))


CENTRE_ANGLES = {
    ("C4", "C4", "H"): "H-C-C(sp3)", ("Namine", "C4", "C4"): "C-N-C amine", ("Namine", "H", "H"): "H-N-H amine",
    ("O", "C4", "C4"): "C-O-C dialkyl ether", ("O", "C4", "Car"): "C(ar)-O-C(sp3) ether",
    ("O", "C(=O)ester", "C4"): "C(=O)-O-C(sp3) ester", ("OH", "C4", "H"): "C-O-H alcohol",
    ("OH", "Car", "H"): "C(ar)-O-H phenol", ("OH", "C(=O)acid", "H"): "C(=O)-O-H acid",
    ("S", "C4", "C4"): "C-S-C dialkyl sulfide", ("SO2", "O=", "O="): "O=S=O sulfonyl",
    ("NO2", "O-", "O="): "O-N-O nitro", ("C(=O)amide", "Namide", "O="): "O=C-N amide",
    ("C(=O)ester", "O", "O="): "O=C-O ester", ("C(=O)acid", "O=", "OH"): "O=C-O acid",
    ("C(=O)carboxylate", "O-", "O="): "O-C-O carboxylate",
}
CARBONYL_ANGLES = {("ketone", "O="): "O=C-C ketone", ("ketone", "C"): "C-C(=O)-C ketone",
                   ("amide", "Namide"): "C-C(=O)-N amide", ("ester", "O"): "C-C(=O)-O ester"}


def angle_class(g, t, atoms, rings, a, b, c):
    """The textbook class of angle a-b-c (b the centre), None outside the classes.
    Angles at ring atoms are left to the ring classes."""
    a, c = sorted((a, c), key=lambda k: t[k])
    tb, key = t[b], (t[b], t[a], t[c])
    if tb == "C1":
        triple = [y for y in g.nbrs[b] if g.order[(b, y)] == 3.0]
        return {7: "X-C#N nitrile C", 6: "X-C#C alkyne C"}.get(g.z[triple[0]]) if triple else None
    if key in (("SO2", "O=", "O="), ("NO2", "O-", "O=")):
        return CENTRE_ANGLES[key]
    if tb == "Nar":
        six = all((b, y) in rings["arom6"] for y in (a, c))
        return "C-N-C aromatic six-ring" if six and len(g.nbrs[b]) == 2 and g.z[a] == g.z[c] == 6 else None
    if atoms[b]["is_in_ring"]:
        return None
    hs = sum(g.z[y] == 1 for y in g.nbrs[b])
    if tb == "C4":
        if t[a] == t[c] == "H":
            return {3: "H-C-H methyl", 2: "H-C-H methylene"}.get(hs)
        if t[a] == t[c] == "C4":
            return "C-CH2-C chain" if hs == 2 else None
    if tb.startswith("C(=O)"):
        if key in CENTRE_ANGLES:
            return CENTRE_ANGLES[key]
        kind = tb[5:]
        if g.z[a] == 6:
            return CARBONYL_ANGLES.get((kind, "C" if g.z[c] == 6 else t[c]))
        return None
    if key == ("Namide", "C(=O)amide", "C4") and hs == 1:
        return "C(=O)-N-C(sp3) amide"
    if tb == "C=C" and hs == 1 and t[a] == "C4" and g.order[(b, c)] == 2.0:
        return "C=C-C alkene"
    return CENTRE_ANGLES.get(key)


def ring_angles(g, x, atoms, cyc, saturated, aromatic):
    """(class, angle) per internal angle of saturated carbocycles of three to six atoms
    (five and six not bridged) and of six-rings of aromatic carbons."""
    names = {3: "C-C-C cyclopropane", 4: "C-C-C cyclobutane", 5: "C-C-C cyclopentane", 6: "C-C-C cyclohexane"}
    rings = [r for r in cyc if len(r) in (3, 4) and all(g.z[a] == 6 and atoms[a]["hybridization"] == "sp3" for a in r)
             and all(g.order[e] == 1.0 for e in ring_bonds(r))]
    out = [(names[len(r)], r) for r in rings] + [(names[k], r) for k, kind, r in saturated if kind == "carbocycle"]
    out += [("C-C-C benzene ring", r) for r in aromatic if len(r) == 6 and all(g.z[a] == 6 for a in r)]
    return [(name, angle(x, r[i - 1], r[i], r[(i + 1) % len(r)])) for name, r in out for i in range(len(r))]


def local_geometry(g, x, atoms):
    """The local-geometry measures of one conformer, as fields of its JSON record."""
    cyc = cycles(g)
    arom = aromatic_rings(g)
    t = atom_types(g, atoms)
    size = {}
    for ring in cyc:
        for e in ring_bonds(ring):
            size[e] = min(size.get(e, 99), len(ring))
    rings = {
        "size": size,
        "arom6": {e for r in arom if len(r) == 6 for e in ring_bonds(r)},
        "benzenoid": {e for r in arom if len(r) == 6 and all(g.z[a] == 6 for a in r) for e in ring_bonds(r)},
    }
    lengths, angles = {}, {}
    for (i, j) in g.order:
        cls = bond_class(g, t, rings, i, j) if i < j else None
        if cls in LENGTHS:
            lengths.setdefault(cls, []).append(round(norm(sub(x[i], x[j])), 4))
    for b in range(g.n):
        nb = g.nbrs[b]
        for k, a in enumerate(nb):
            for c in nb[k + 1:]:
                cls = angle_class(g, t, atoms, rings, a, b, c)
                if cls in ANGLES:
                    angles.setdefault(cls, []).append(round(angle(x, a, b, c), 2))
    saturated = saturated_rings(g, atoms, cyc)
    for cls, value in ring_angles(g, x, atoms, cyc, saturated, arom):
        angles.setdefault(cls, []).append(round(value, 2))
    r2 = lambda rows: [[round(v, 3) if isinstance(v, float) else v for v in row] for row in rows]
    six = [(kind, chair(ring_torsions(x, ring)), statistics.mean(abs(v) for v in ring_torsions(x, ring)))
           for k, kind, ring in saturated if k == 6]
    five = [(kind, max(abs(v) for v in ring_torsions(x, ring))) for k, kind, ring in saturated if k == 5]
    bridged = [(kind, chair(ring_torsions(x, ring)), statistics.mean(abs(v) for v in ring_torsions(x, ring)))
               for kind, ring in bridged_six_rings(g, atoms, cyc)]
    return {
        "conj": r2(conjugated_torsions(g, x, atoms)),
        "esters": r2(ester_acid_torsions(g, x)),
        "sp3_bonds": r2(sp3_bonds(g, x, atoms, cyc)),
        "rings6": r2(six),
        "rings5": r2(five),
        "rings6_bridged": r2(bridged),
        "anilides": r2(anilides(g, x, atoms)),
        "n_sums": r2(nitrogen_sums(g, x, atoms)),
        "folds": [round(v, 3) for v in fused_folds(g, x, arom)],
        "sp": r2(sp_angles(g, x, atoms)),
        "nitro": r2(nitro_groups(g, x, atoms)),
        "lengths": lengths,
        "angles": angles,
        **more_geometry(g, x, atoms, cyc),
    }


# Further classes, each perceived from the graph by a plain rule. Lengths and angles go
# by class into "cls_len" and "cls_ang"; twists, sums and shares into fields of their own.


def unit(v):
    s = norm(v)
    return (v[0] / s, v[1] / s, v[2] / s) if s else None


def plane_angle(n1, n2):
    """Angle between two planes given by their normals, folded to 0-90."""
    if not norm(n1) or not norm(n2):
        return None
    return math.degrees(math.acos(min(1.0, abs(dot(n1, n2)) / (norm(n1) * norm(n2)))))


def three_normal(x, a, b, c):
    return cross(sub(x[b], x[a]), sub(x[c], x[a]))


def aryl_ring(g, a):
    """(smallest aromatic ring through a and both its aromatic neighbours, ortho heavy
    substituent as aryl_site counts it) for an atom with two aromatic bonds, else None."""
    site = aryl_site(g, a)
    if site is None:
        return None
    r1, r2, ortho = site
    return [a] + g.path(r1, r2, lambda u, v: g.order[(u, v)] == 1.5, a), ortho


def acyl(g, atoms, c):
    return g.z[c] == 6 and not atoms[c]["is_aromatic"] and g.double_partner(c, (8, 16)) is not None


def plain_n(g, atoms, n):
    """A neutral, non-aromatic N with three single bonds and no acyl or aromatic neighbour:
    the nitrogen an sp3 hydrazine or hydroxylamine has."""
    if g.z[n] != 7 or atoms[n]["is_aromatic"] or atoms[n]["formal_charge"] != 0 or len(g.nbrs[n]) != 3:
        return False
    return all(g.order[(n, y)] == 1.0 and not atoms[y]["is_aromatic"] and not acyl(g, atoms, y) for y in g.nbrs[n])


def aniline_n(g, atoms, n):
    """The aromatic carbon of an aniline-type N (neutral, non-aromatic, three neighbours: one
    aromatic carbon, the others H or sp3 carbons, single bonds), else None."""
    if g.z[n] != 7 or atoms[n]["is_aromatic"] or atoms[n]["formal_charge"] != 0 or len(g.nbrs[n]) != 3:
        return None
    if any(g.order[(n, y)] != 1.0 for y in g.nbrs[n]):
        return None
    ar = [y for y in g.nbrs[n] if atoms[y]["is_aromatic"] and g.z[y] == 6]
    rest = [y for y in g.nbrs[n] if y not in ar]
    if len(ar) != 1 or not all(g.z[y] == 1 or (g.z[y] == 6 and atoms[y]["hybridization"] == "sp3"
                                               and not atoms[y]["is_aromatic"]) for y in rest):
        return None
    return ar[0]


def in_one_ring(cyc, atoms_):
    return any(set(atoms_) <= set(ring) for ring in cyc)


def smallest_ring_sizes(g, cyc):
    """Size of the smallest ring through each ring bond; a shortest-path search for those
    the short cycle list misses (macrocycles)."""
    size = {}
    for ring in cyc:
        for e in ring_bonds(ring):
            size[e] = min(size.get(e, 99), len(ring))
    for (u, v), ring in g.ring_bond.items():
        if ring and u < v and (u, v) not in size:
            p = g.path(u, v, lambda a, b: True, None)
            if p:
                size[(u, v)] = size[(v, u)] = len(p)
    return size


def class_lengths(g, x, atoms, cyc):
    out = {}
    add = lambda cls, i, j: out.setdefault(cls, []).append(round(norm(sub(x[i], x[j])), 4))
    for (i, j), order in g.order.items():
        if i > j:
            continue
        zi, zj = g.z[i], g.z[j]
        ar_i, ar_j = atoms[i]["is_aromatic"], atoms[j]["is_aromatic"]
        ring = g.ring_bond[(i, j)]
        if order == 1.0 and not ar_i and not ar_j and (zi, zj) == (7, 7):
            if plain_n(g, atoms, i) and plain_n(g, atoms, j):
                add("N-N sp3", i, j)
            if any(acyl(g, atoms, y) for n in (i, j) for y in g.nbrs[n]):
                add("N-N acyl hydrazide", i, j)
        if order == 1.0 and {zi, zj} == {7, 8} and not ar_i and not ar_j:
            n, o = (i, j) if zi == 7 else (j, i)
            if plain_n(g, atoms, n) and len(g.nbrs[o]) == 2 and atoms[o]["formal_charge"] == 0 and all(
                    g.order[(o, y)] == 1.0 for y in g.nbrs[o]):
                add("N-O sp3", n, o)
        if order != 1.0:
            continue
        for c, y in ((i, j), (j, i)):
            if g.z[c] != 6 or atoms[c]["is_aromatic"]:
                continue
            o = g.double_partner(c, (8,))
            if ring and o is not None and g.z[y] == 7 and not atoms[y]["is_aromatic"]:
                add("C(=O)-N lactam, ring bond", c, y)
            if ring and o is not None and g.z[y] == 8 and len(g.nbrs[y]) == 2:
                add("C(=O)-O lactone, ring bond", c, y)
            cc = g.double_partner(c, (6,))
            if ring and cc is not None and g.z[y] == 6 and not atoms[y]["is_aromatic"]:
                yo, yc = g.double_partner(y, (8,)), g.double_partner(y, (6,))
                if yo is not None and in_one_ring(cyc, (cc, c, y)):
                    add("C-C ring enone single bond", c, y)
                if yc is not None and c < y and in_one_ring(cyc, (cc, c, y, yc)):
                    add("C-C ring diene single bond", c, y)
            if ring and cc is not None and g.z[y] == 7 and not atoms[y]["is_aromatic"] and any(
                    acyl(g, atoms, w) for w in g.nbrs[y] if w != c):
                add("C-N ring enamide, C=C-N(C=O)", c, y)
            if o is not None and g.z[y] == 6 and atoms[y]["is_aromatic"] and atoms[c]["is_in_ring"] and \
                    carbonyl_kind(g, atoms, c) == "ketone":
                add("C(ar)-C(=O) ketone, carbonyl C in a ring", y, c)
            dn = g.double_partner(c, (7,))
            if dn is not None and y != dn and g.z[y] == 7 and not atoms[y]["is_aromatic"] and \
                    not atoms[dn]["is_aromatic"]:
                add("C-N amidine/guanidine single", c, y)
            if g.z[y] == 16 and any(g.order[(c, w)] == 3.0 and g.z[w] == 7 for w in g.nbrs[c]):
                add("S-C(sp) thiocyanate", y, c)
        for n, c in ((i, j), (j, i)):
            if g.z[n] == 7 and g.z[c] == 6 and atoms[n]["formal_charge"] == 1 and len(g.nbrs[n]) == 4:
                add("C-N+ ammonium", c, n)
    return out


def class_angles(g, x, atoms):
    out = {}
    add = lambda cls, a, b, c: out.setdefault(cls, []).append(round(angle(x, a, b, c), 2))
    for b in range(g.n):
        nb = g.nbrs[b]
        if g.z[b] == 16:
            oxo = [o for o in nb if g.z[o] == 8 and g.order[(b, o)] == 2.0 and len(g.nbrs[o]) == 1]
            if len(oxo) == 2:
                add("O=S=O sulfonyl", oxo[0], b, oxo[1])
        if g.z[b] != 7 or atoms[b]["is_aromatic"]:
            continue
        dc = [y for y in nb if g.order[(b, y)] == 2.0 and g.z[y] == 6 and not atoms[y]["is_aromatic"]]
        if len(nb) == 2 and len(dc) == 1:
            y = next(w for w in nb if w != dc[0])
            if g.z[y] == 6 and atoms[y]["is_aromatic"]:
                add("C=N-C(ar) imine", dc[0], b, y)
            elif g.z[y] == 8:
                add("C=N-O oxime", dc[0], b, y)
            elif g.z[y] == 1:
                add("C=N-H imine", dc[0], b, y)
        if len(nb) == 3 and atoms[b]["formal_charge"] == 0 and all(g.order[(b, y)] == 1.0 for y in nb):
            ar = [y for y in nb if g.z[y] == 6 and atoms[y]["is_aromatic"]]
            hs = [y for y in nb if g.z[y] == 1]
            ns = [y for y in nb if g.z[y] == 7]
            if len(ar) == 1 and len(hs) == 1 and len(ns) == 1:
                add("C(ar)-NH-N", ar[0], b, ns[0])
            if len(ar) == 2 and len(hs) == 1:
                add("C(ar)-NH-C(ar) diarylamine", ar[0], b, ar[1])
            if aniline_n(g, atoms, b) is not None and len(hs) == 2:
                add("H-N-H aniline", hs[0], b, hs[1])
    return out


def biaryls(g, x, atoms):
    """(twist between the two ring planes 0-90, ortho heavy substituent on either ring) per
    acyclic single bond between two aromatic atoms."""
    out = []
    for (a, c), order in g.order.items():
        if a > c or order != 1.0 or g.ring_bond[(a, c)] or not atoms[a]["is_aromatic"] or \
                not atoms[c]["is_aromatic"]:
            continue
        ra, rc = aryl_ring(g, a), aryl_ring(g, c)
        if ra and rc:
            t = plane_angle(newell_normal(x, ra[0]), newell_normal(x, rc[0]))
            if t is not None:
                out.append((round(t, 2), ra[1] or rc[1]))
    return out


def aniline_twists(g, x, atoms):
    """Angle (0-90) between the plane of an aniline-type N's three neighbours and its ring."""
    out = []
    for n in range(g.n):
        a = aniline_n(g, atoms, n)
        ring = aryl_ring(g, a) if a is not None else None
        if ring:
            t = plane_angle(three_normal(x, *g.nbrs[n]), newell_normal(x, ring[0]))
            if t is not None:
                out.append(round(t, 2))
    return out


def nitro_twists(g, x, atoms):
    """(ortho, angle 0-90 between the O-N-O plane and the ring) per aryl nitro group."""
    out = []
    for n in range(g.n):
        ends = nitro(g, atoms, n)
        if not ends:
            continue
        a = next((y for y in g.nbrs[n] if y not in ends and atoms[y]["is_aromatic"]), None)
        ring = aryl_ring(g, a) if a is not None else None
        if ring:
            t = plane_angle(three_normal(x, ends[0], n, ends[1]), newell_normal(x, ring[0]))
            if t is not None:
                out.append((ring[1], round(t, 2)))
    return out


def hetero_n_sums(g, x, atoms):
    """Angle sum per plain N (see plain_n) bonded to N or O."""
    out = []
    for n in range(g.n):
        if plain_n(g, atoms, n) and any(g.z[y] in (7, 8) for y in g.nbrs[n]):
            a, b, c = g.nbrs[n]
            out.append(round(angle(x, a, n, b) + angle(x, b, n, c) + angle(x, a, n, c), 2))
    return out


def macrocycles(g, x, atoms, size):
    """Over bonds whose smallest ring has 12 atoms or more: per sp3-sp3 bond (C, N, O) the
    torsion over its substituents nearest eclipsed (as sp3_bonds), and per sp3 carbon
    between two such bonds to carbons its ring angle."""
    macro = lambda u, v: size.get((u, v), 0) >= 12
    sp3 = lambda a: g.z[a] in (6, 7, 8) and atoms[a]["hybridization"] == "sp3" and not atoms[a]["is_aromatic"]
    bonds, angles = [], []
    for (b, c) in g.order:
        if b < c and macro(b, c) and g.order[(b, c)] == 1.0 and sp3(b) and sp3(c):
            tors = [torsion(x, a, b, c, d) for a in g.nbrs[b] if a != c for d in g.nbrs[c] if d != b]
            if tors:
                bonds.append(round(min(min(abs(t), abs(t - 120), abs(t + 120)) for t in tors), 2))
    for b in range(g.n):
        if g.z[b] != 6 or not sp3(b):
            continue
        ring = [a for a in g.nbrs[b] if macro(a, b) and g.z[a] == 6]
        if len(ring) == 2:
            angles.append(round(angle(x, ring[0], b, ring[1]), 2))
    return bonds, angles


def ring_sp_angles(g, x, atoms):
    """Angle at each two-connected sp atom with a triple bond, in a ring."""
    return [round(angle(x, g.nbrs[i][0], i, g.nbrs[i][1]), 2) for i in range(g.n)
            if atoms[i]["is_in_ring"] and len(g.nbrs[i]) == 2 and any(g.order[(i, y)] == 3.0 for y in g.nbrs[i])]


def chain_anti(g, x, atoms):
    """[anti (|phi| > 150), total] over C-C-C-C torsions of sp3 carbons, all three bonds acyclic."""
    sp3c = lambda a: g.z[a] == 6 and atoms[a]["hybridization"] == "sp3" and not atoms[a]["is_aromatic"]
    free = lambda u, v: g.order[(u, v)] == 1.0 and not g.ring_bond[(u, v)]
    anti = total = 0
    for (b, c) in g.order:
        if b > c or not free(b, c) or not sp3c(b) or not sp3c(c):
            continue
        for a in g.nbrs[b]:
            if a == c or not sp3c(a) or not free(a, b):
                continue
            for d in g.nbrs[c]:
                if d in (b, a) or not sp3c(d) or not free(c, d):
                    continue
                total += 1
                anti += abs(torsion(x, a, b, c, d)) > 150
    return [anti, total]


def shape_figures(g, x, atoms, cyc):
    """C-C bond range, radius (mean distance of heavy atoms from their centroid) and, with a
    five-ring of carbons bearing no H and CH carbons elsewhere (a bowl), the mean signed
    distance of the CH carbons from the five-ring's plane: for the named molecules."""
    out = {}
    cc = [norm(sub(x[i], x[j])) for (i, j) in g.order if i < j and g.z[i] == g.z[j] == 6]
    if cc:
        out["cc"] = [round(min(cc), 4), round(max(cc), 4)]
    heavy = [i for i in range(g.n) if g.z[i] != 1]
    if heavy:  # H2 has none
        centre = [sum(x[i][k] for i in heavy) / len(heavy) for k in range(3)]
        out["radius"] = round(statistics.mean(norm(sub(x[i], centre)) for i in heavy), 4)
    has_h = lambda a: any(g.z[y] == 1 for y in g.nbrs[a])
    hubs = [r for r in cyc if len(r) == 5 and all(g.z[a] == 6 and not has_h(a) for a in r)]
    rim = [i for i in range(g.n) if g.z[i] == 6 and has_h(i)]
    if len(hubs) == 1 and rim:
        hub = hubs[0]
        n = unit(newell_normal(x, hub))
        c = [sum(x[a][k] for a in hub) / 5 for k in range(3)]
        out["bowl"] = round(abs(statistics.mean(dot(n, sub(x[i], c)) for i in rim)), 4)
    return out


def plane_normal(points):
    """Unit normal of the least-squares plane through points (the covariance's eigenvector
    of the smallest eigenvalue, from the closed-form eigenvalues of a symmetric 3x3)."""
    n = len(points)
    c = [sum(p[k] for p in points) / n for k in range(3)]
    q = [sub(p, c) for p in points]
    m = [[sum(v[i] * v[j] for v in q) for j in range(3)] for i in range(3)]
    off = m[0][1] ** 2 + m[0][2] ** 2 + m[1][2] ** 2
    mean = (m[0][0] + m[1][1] + m[2][2]) / 3
    spread = math.sqrt(((m[0][0] - mean) ** 2 + (m[1][1] - mean) ** 2 + (m[2][2] - mean) ** 2 + 2 * off) / 6)
    if spread == 0.0:
        return None
    b = [[(m[i][j] - (mean if i == j else 0.0)) / spread for j in range(3)] for i in range(3)]
    det = (b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) - b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0])
           + b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]))
    phi = math.acos(max(-1.0, min(1.0, det / 2))) / 3
    low = mean + 2 * spread * math.cos(phi + 2 * math.pi / 3)
    rows = [[m[i][j] - (low if i == j else 0.0) for j in range(3)] for i in range(3)]
    # The eigenvector is orthogonal to every row of M - low I: the longest cross product of two rows.
    best = max((cross(rows[i], rows[j]) for i, j in ((0, 1), (0, 2), (1, 2))), key=norm)
    return unit(best)


def porphyrin_cores(g, atoms, cyc):
    """The 24 atoms (four five-rings of one N and four C, none sp3, and the four meso carbons
    bonded to two of them) of each porphyrin-type core."""
    fives = [r for r in cyc if len(r) == 5 and sorted(g.z[a] for a in r) == [6, 6, 6, 6, 7]
             and all(atoms[a]["hybridization"] != "sp3" for a in r)]
    ring_of = {a: k for k, r in enumerate(fives) for a in r}
    meso = [a for a in range(g.n) if g.z[a] == 6 and a not in ring_of
            and len({ring_of[y] for y in g.nbrs[a] if y in ring_of}) == 2]
    members = set(ring_of) | set(meso)
    cores, seen = [], set()
    for s in members:
        if s in seen:
            continue
        part, stack = [], [s]
        seen.add(s)
        while stack:
            u = stack.pop()
            part.append(u)
            for v in g.nbrs[u]:
                if v in members and v not in seen:
                    seen.add(v)
                    stack.append(v)
        if len(part) == 24 and sum(a in meso for a in part) == 4:
            cores.append(sorted(part))
    return cores


# Elements whose angles the usual classes leave out: the label of each angle at them.
UNCOMMON = {34: "at Se", 52: "at Te", 33: "at As", 51: "at Sb", 53: "at I"}
CENTRE_LABELS = tuple(UNCOMMON.values()) + ("at B, three-connected", "B angle sum", "at P(=C), four-connected",
                                           "Si-O-Si", "Si-O-C", "Si-O-X")


def centre_label(g, atoms, b):
    """The class of the angles at atom b when it is a less common centre, else None."""
    z, nb = g.z[b], g.nbrs[b]
    if atoms[b]["is_aromatic"] or len(nb) < 2:
        return None
    if z in UNCOMMON:
        return UNCOMMON[z]
    if z == 5 and len(nb) == 3:
        return "at B, three-connected"
    if z == 15 and len(nb) == 4 and any(g.order[(b, y)] == 2.0 and g.z[y] == 6 for y in nb):
        return "at P(=C), four-connected"
    if z == 8 and len(nb) == 2 and 14 in (g.z[nb[0]], g.z[nb[1]]):
        kinds = sorted(SYMBOL.get(g.z[y], "X") for y in nb)
        return "Si-O-Si" if kinds == ["Si", "Si"] else "Si-O-C" if kinds == ["C", "Si"] else "Si-O-X"
    return None


def large_rings_and_centres(g, x, atoms, cyc, size):
    """Angles at sp3 C, N and O between their two ring neighbours in rings of 9 or more (bonds
    whose smallest ring has 9 atoms or more, the centre in no 3- or 4-ring); C-O lengths and
    C-O-C angles of sp3 C-O-C in such rings; angles at centres of the less common elements and
    three-connected boron's angle sum; each porphyrin core's largest distance from its
    least-squares plane; the shorter diagonal of four-rings of sp2 carbons; H-H lengths."""
    small = {a for ring in cyc if len(ring) <= 4 for a in ring}
    sp3 = lambda a: atoms[a]["hybridization"] == "sp3" and not atoms[a]["is_aromatic"]
    large, co, coc, centres = [], [], [], {}
    for b in range(g.n):
        nb = g.nbrs[b]
        if g.z[b] in (6, 7, 8) and sp3(b) and b not in small:
            ring = [a for a in nb if size.get((a, b), 0) >= 9]
            if len(ring) == 2:
                large.append([SYMBOL[g.z[b]], round(angle(x, ring[0], b, ring[1]), 2)])
                if g.z[b] == 8 and all(g.z[a] == 6 and sp3(a) for a in ring):
                    co += [round(norm(sub(x[a], x[b])), 4) for a in ring]
                    coc.append(round(angle(x, ring[0], b, ring[1]), 2))
        label = centre_label(g, atoms, b)
        if label:
            v = centres.setdefault(label, [])
            v += [round(angle(x, a, b, c), 2) for k, a in enumerate(nb) for c in nb[k + 1:]]
            if g.z[b] == 5:
                centres.setdefault("B angle sum", []).append(round(sum(v[-3:]), 2))
    plane = []
    for core in porphyrin_cores(g, atoms, cyc):
        n = plane_normal([x[a] for a in core])
        c = [sum(x[a][k] for a in core) / len(core) for k in range(3)]
        plane.append(round(max(abs(dot(n, sub(x[a], c))) for a in core), 4) if n else 0.0)
    diag = [round(min(norm(sub(x[r[0]], x[r[2]])), norm(sub(x[r[1]], x[r[3]]))), 4) for r in cyc
            if len(r) == 4 and all(g.z[a] == 6 and len(g.nbrs[a]) == 3 and not sp3(a) for a in r)]
    hh = [round(norm(sub(x[i], x[j])), 4) for (i, j) in g.order if i < j and g.z[i] == g.z[j] == 1]
    return {"ring9_angles": large, "ring9_co": co, "ring9_coc": coc, "centres": centres, "core_plane": plane,
            "four_diag": diag, "hh": hh}

# The named molecules of the trigonal rows (see TRIGONAL_WINDOWS).
NAMED_TRIGONAL = [
    ("Boc-glycine", "CC(C)(C)OC(=O)NCC(=O)O"),
    ("N,N'-dimethylurea", "CNC(=O)NC"),
    ("acetanilide", "CC(=O)Nc1ccccc1"),
    ("2-methylfuran", "Cc1ccco1"),
    ("5-methylisoxazole", "Cc1ccno1"),
    ("1-methylpyrazole", "Cn1cccn1"),
    ("2-methylthiophene", "Cc1cccs1"),
    ("penicillin G", "CC1(C)S[C@@H]2[C@H](NC(=O)Cc3ccccc3)C(=O)N2[C@H]1C(=O)O"),
    ("meropenem", "C[C@H]1C(S[C@H]2C[C@@H](C(=O)N(C)C)NC2)=C(C(=O)O)N2C(=O)[C@H]([C@@H](C)O)[C@@H]12"),
    ("N-acetylaziridine", "CC(=O)N1CC1"),
    ("N,N'-dimethylthiourea", "CNC(=S)NC"),
    ("methyl dimethyldithiocarbamate", "CN(C)C(=S)SC"),
    ("cyclododecane", "C1CCCCCCCCCCC1"),
    ("cyclotetradecane", "C1CCCCCCCCCCCCC1"),
    ("cyclohexadecane", "C1CCCCCCCCCCCCCCC1"),
    ("cycloicosane", "C1CCCCCCCCCCCCCCCCCCC1"),
]

# Named molecules whose heavy atoms four or more bonds apart came within 2.2 A.
NAMED_CONTACTS = [
    ("hydroxy difluorophenyl azole", "CCCCCS[C@H](C)[C@](O)(Cn1cncn1)c2ccc(F)cc2F"),
    ("perfluorotributylamine",
     "FC(F)(F)C(F)(F)C(F)(F)C(F)(F)N(C(F)(F)C(F)(F)C(F)(F)C(F)(F)F)C(F)(F)C(F)(F)C(F)(F)C(F)(F)F"),
]


def far_contact(g, x):
    """The closest pair of heavy atoms four or more bonds apart (A), or None."""
    best = None
    for s in range(g.n):
        if g.z[s] == 1:
            continue
        hops, queue = {s: 0}, [s]
        for u in queue:
            if hops[u] < 3:
                for v in g.nbrs[u]:
                    if v not in hops:
                        hops[v] = hops[u] + 1
                        queue.append(v)
        for t in range(s):
            if g.z[t] != 1 and t not in hops:
                d = norm(sub(x[s], x[t]))
                best = d if best is None or d < best else best
    return best


# Trigonal centres by their neighbours' kinds, pyramidal amide nitrogens of fused
# beta-lactams and acyl aziridines: one list of (row, value) per molecule, and the
# windows crystal and gas-phase structures give each row.
TRIGONAL_WINDOWS = {
    "carbamate N-C(=O)-O": (106, 114),
    "urea N-C(=O)-N": (114, 118),
    "thiourea N-C(=S)-N": (114, 118),
    "dithiocarbamate N-C(=S)-S": (112, 116),
    "anilide C(=O)-N-C(aryl)": (123, 131),
    "five-ring exocyclic angle toward O": (113, 122),
    "five-ring exocyclic angle toward S or N": (113, 122),
    "fused beta-lactam N angle sum": (325, 345),
    "acyl aziridine C(=O)-N-C": (100, 130),
    "large cycloalkane ring C-C-C median": (111, 117),
}


def carbonyl_o(g, c):
    return g.double_partner(c, (8,)) if g.z[c] == 6 and len(g.nbrs[c]) == 3 else None


def amide_n(g, atoms, n):
    """A neutral, non-aromatic nitrogen with three neighbours, one of them a C=O carbon."""
    return (g.z[n] == 7 and not atoms[n]["is_aromatic"] and atoms[n]["formal_charge"] == 0
            and len(g.nbrs[n]) == 3 and any(carbonyl_o(g, y) is not None for y in g.nbrs[n]))


def ester_o(g, atoms, o):
    return g.z[o] == 8 and len(g.nbrs[o]) == 2 and not atoms[o]["is_aromatic"]


def carbonyl_rows(g, x, atoms, cyc):
    out = []
    for c in range(g.n):
        o = carbonyl_o(g, c)
        if o is None or any(c in ring for ring in cyc):
            continue
        a, b = [y for y in g.nbrs[c] if y != o]
        for p, q in ((a, b), (b, a)):
            if amide_n(g, atoms, p) and ester_o(g, atoms, q):
                out.append(("carbamate N-C(=O)-O", angle(x, p, c, q)))
        if amide_n(g, atoms, a) and amide_n(g, atoms, b):
            out.append(("urea N-C(=O)-N", angle(x, a, c, b)))
    for c in range(g.n):
        s = g.double_partner(c, (16,)) if g.z[c] == 6 and len(g.nbrs[c]) == 3 else None
        if s is None or any(c in ring for ring in cyc):
            continue
        a, b = [y for y in g.nbrs[c] if y != s]
        n = [y for y in (a, b) if g.z[y] == 7 and len(g.nbrs[y]) == 3 and not atoms[y]["is_aromatic"]]
        if len(n) == 2:
            out.append(("thiourea N-C(=S)-N", angle(x, a, c, b)))
        elif len(n) == 1 and g.z[a + b - n[0]] == 16 and len(g.nbrs[a + b - n[0]]) == 2:
            out.append(("dithiocarbamate N-C(=S)-S", angle(x, a, c, b)))
    return out


def anilide_rows(g, x, atoms, cyc):
    out = []
    for n in range(g.n):
        if not amide_n(g, atoms, n) or any(n in ring for ring in cyc):
            continue
        h = [y for y in g.nbrs[n] if g.z[y] == 1]
        aryl = [y for y in g.nbrs[n] if g.z[y] == 6 and atoms[y]["is_aromatic"]]
        acyl = [y for y in g.nbrs[n] if carbonyl_o(g, y) is not None]
        if len(h) == 1 and len(aryl) == 1 and len(acyl) == 1:
            out.append(("anilide C(=O)-N-C(aryl)", angle(x, acyl[0], n, aryl[0])))
    return out


def five_ring_rows(g, x, atoms, cyc):
    """The exocyclic angle toward a ring O, S or N at a five-ring aromatic atom whose other
    ring neighbour is a carbon, the exocyclic atom heavy and in no ring with it."""
    out = []
    for ring in cyc:
        if len(ring) != 5 or not all(atoms[a]["is_aromatic"] for a in ring):
            continue
        for k, c in enumerate(ring):
            if sum(c in r for r in cyc) != 1:
                continue
            exo = [y for y in g.nbrs[c] if y not in ring and g.z[y] != 1]
            r1, r2 = ring[k - 1], ring[(k + 1) % 5]
            if len(exo) != 1 or g.ring_bond[(c, exo[0])]:
                continue
            for het, other in ((r1, r2), (r2, r1)):
                if g.z[other] == 6 and g.z[het] in (7, 8, 16):
                    row = "toward O" if g.z[het] == 8 else "toward S or N"
                    out.append(("five-ring exocyclic angle " + row, angle(x, exo[0], c, het)))
    return out


def pyramidal_amide_rows(g, x, atoms, cyc):
    out = []
    for n in range(g.n):
        if not amide_n(g, atoms, n):
            continue
        rings = [r for r in cyc if n in r]
        heavy = g.nbrs[n]
        if any(len(r) == 4 for r in rings) and len(rings) >= 2:
            out.append(("fused beta-lactam N angle sum",
                        sum(angle(x, heavy[i], n, heavy[(i + 1) % 3]) for i in range(3))))
        elif len(rings) == 1 and len(rings[0]) == 3:
            acyl = [y for y in heavy if carbonyl_o(g, y) is not None and y not in rings[0]]
            out += [("acyl aziridine C(=O)-N-C", angle(x, acyl[0], n, y)) for y in heavy
                    if acyl and y in rings[0]]
    return out


def carbocycle_rows(g, x, atoms, cyc):
    """The median ring C-C-C of a lone ring of nine or more sp3 carbons that shares no atom
    with another ring, and its count of anti ring torsions (|t| > 150)."""
    ring_n = lambda a: [y for y in g.nbrs[a] if g.ring_bond[(a, y)]]
    out, seen = [], set()
    for s in range(g.n):
        if s in seen or g.z[s] != 6 or len(ring_n(s)) != 2:
            continue
        ring = [s]
        while True:
            nxt = [y for y in ring_n(ring[-1]) if len(ring) == 1 or y != ring[-2]]
            if not nxt or nxt[0] == s or len(ring_n(nxt[0])) != 2:
                break
            ring.append(nxt[0])
        seen.update(ring)
        n = len(ring)
        if n < 9 or any(g.z[a] != 6 or atoms[a]["hybridization"] != "sp3" for a in ring) or s not in ring_n(ring[-1]):
            continue
        ccc = sorted(angle(x, ring[k - 1], ring[k], ring[(k + 1) % n]) for k in range(n))
        out.append(("large cycloalkane ring C-C-C median", statistics.median(ccc)))
        out.append(("large cycloalkane anti ring torsions",
                    sum(abs(torsion(x, ring[k - 1], ring[k], ring[(k + 1) % n], ring[(k + 2) % n])) > 150
                        for k in range(n))))
    return out


def trigonal_rows(g, x, atoms, cyc):
    """(row, value) of every trigonal and pyramidal-amide centre TRIGONAL_WINDOWS names, and
    of large cycloalkanes."""
    return [(k, round(v, 2)) for k, v in carbonyl_rows(g, x, atoms, cyc) + anilide_rows(g, x, atoms, cyc) +
            five_ring_rows(g, x, atoms, cyc) + pyramidal_amide_rows(g, x, atoms, cyc) +
            carbocycle_rows(g, x, atoms, cyc)]


def contact_rows(g, x):
    d = far_contact(g, x)
    return [] if d is None else [("closest heavy contact, four bonds or more (A)", round(d, 3))]


def trigonal_figures(ok):
    """Median of each trigonal row over the records, with its window."""
    rows = []
    for label, window in TRIGONAL_WINDOWS.items():
        v = [d for r in ok for k, d in r.get("trigonal", []) if k == label]
        mark = "" if not v or window[0] <= statistics.median(v) <= window[1] else " OFF"
        rows.append(("trigonal %s (window %g-%g)" % ((label,) + window), figure(v, "%.1f") + mark))
    return rows


def more_geometry(g, x, atoms, cyc):
    size = smallest_ring_sizes(g, cyc)
    macro_bonds, macro_angles = macrocycles(g, x, atoms, size)
    return {
        "cls_len": class_lengths(g, x, atoms, cyc),
        "cls_ang": class_angles(g, x, atoms),
        "biaryl": biaryls(g, x, atoms),
        "aniline_twist": aniline_twists(g, x, atoms),
        "nitro_twist": nitro_twists(g, x, atoms),
        "n_hetero_sums": hetero_n_sums(g, x, atoms),
        "macro_bonds": macro_bonds,
        "macro_angles": macro_angles,
        "ring_sp": ring_sp_angles(g, x, atoms),
        "chain_anti": chain_anti(g, x, atoms),
        "trigonal": trigonal_rows(g, x, atoms, cyc),
        **large_rings_and_centres(g, x, atoms, cyc, size),
    }


def molecules(limit):
    """(meta, source) per record; a source is ("smi", SMILES) or ("sdf", index), so that
    worker processes can make the molecule themselves."""
    count = 0
    with open(os.path.join(DATA, "molecules.smi")) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 2:
                continue
            if limit and count >= limit:
                break
            count += 1
            yield {"key": "smi " + fields[0], "id": fields[1], "drug": fields[1].startswith("chembl20:")}, (
                "smi", fields[0])
    for k, rec in enumerate(sdf_records()):
        if limit and k >= limit:
            return
        if rec.block is None:
            continue
        yield {"key": "sdf %d" % k, "id": "pubchem:%d" % k, "drug": False}, ("sdf", k)


_SDF = []


def sdf_records():
    import quorix

    if not _SDF:
        with open(os.path.join(DATA, "pubchem-1000.sdf")) as f:
            _SDF.extend(quorix.read_sdf(f.read()))
    return _SDF


def make(source):
    import quorix

    kind, value = source
    return quorix.parse_smiles(value) if kind == "smi" else sdf_records()[value].block.mol


def measure(mol, repeat):
    best, conf = None, None
    for _ in range(repeat):
        t0 = time.process_time()
        conf = mol.conformer()
        t = time.process_time() - t0
        best = t if best is None else min(best, t)
    g = Graph(conf.mol)
    x = [tuple(p) for p in conf.coords]
    close, span, pieces = contacts_and_span(g, x)
    atoms = conf.mol.atom_descriptors()
    return conf, g, x, {
        "ms": best * 1e3,
        "atoms": g.n,
        "coords": hashlib.sha1(repr(conf.coords).encode()).hexdigest(),
        "chiral": [conf.chiral_ok, conf.chiral_total],
        "energy": conf.energy,
        "converged": conf.converged,
        "iterations": conf.iterations,
        "amides": amides(g, x),
        "subs": substituents(g, x),
        "ring_db": ring_double_bonds(g, x),
        "sp2": sp2_carbons(g, x, atoms),
        "backbone": amide_backbones(g, x),
        "lactams": lactams(g, x),
        "amide_planes": amide_planes(g, x),
        "db": stored_double_bonds(g, x, conf.mol.bond_descriptors()),
        "db_read": read_back_double_bonds(conf),
        "sp3_widest": widest_sp3(g, x, atoms),
        "close": close,
        "span": span,
        "pieces": pieces,
        **local_geometry(g, x, atoms),
    }


def bench_line(key, g, x):
    fields = [key, str(g.n)]
    for z, p in zip(g.z, x):
        fields.append("%d %r %r %r" % (z, p[0], p[1], p[2]))
    return " ".join(fields)


def pct(part, whole):
    return 100.0 * part / whole if whole else 0.0


def summary(records, out=sys.stdout):
    w = lambda *a: print(*a, file=out)
    ok = [r for r in records if "error" not in r]
    w("molecules: %d conformers, %d refused" % (len(ok), len(records) - len(ok)))
    am = [a for r in ok for a in r["amides"]]
    sec = [a for a in am if a[0] == "secondary"]
    w("amide C-N bonds outside rings: %d (%s)" % (len(am), ", ".join(
        "%s %d" % (k, sum(a[0] == k for a in am)) for k in ("primary", "secondary", "tertiary", "imide", "other"))))
    if am:
        w("  within 15 deg of planar: %.1f%%; beyond 30: %d; median deviation %.1f deg, worst %.1f" % (
            pct(sum(a[1] <= 15 for a in am), len(am)), sum(a[1] > 30 for a in am),
            statistics.median(a[1] for a in am), max(a[1] for a in am)))
    if sec:
        w("  secondary: %d, cis %d, beyond 30 deg of planar %d" % (
            len(sec), sum(a[2] for a in sec), sum(a[1] > 30 for a in sec)))
    subs = [s for r in ok for s in r["subs"]]
    plain = [s[0] for s in subs if not s[1]]
    fused = [s[0] for s in subs if s[1]]
    for name, v in (("aromatic substituents", [s[0] for s in subs]), ("  not sharing a ring", plain),
                    ("  fused or bridged", fused)):
        if v:
            w("%s: %d, median %.2f deg out of plane, above 10 deg %.2f%%, above 5 %.2f%%, worst %.1f" % (
                name, len(v), statistics.median(v), pct(sum(a > 10 for a in v), len(v)),
                pct(sum(a > 5 for a in v), len(v)), max(v)))
    rdb = [d for r in ok for d in r["ring_db"]]
    if rdb:
        w("ring double bonds: %d, within 10 deg of flat %.1f%%, beyond 30 %d, median %.1f deg, worst %.1f" % (
            len(rdb), pct(sum(d[0] <= 10 for d in rdb), len(rdb)), sum(d[0] > 30 for d in rdb),
            statistics.median(d[0] for d in rdb), max(d[0] for d in rdb)))
    sp2 = [c for r in ok for c in r["sp2"]]
    if sp2:
        sums = [v for _, v in sp2]
        w("three-connected sp2 carbons: %d, median angle sum %.2f deg, at 357 or more %.1f%%" % (
            len(sp2), statistics.median(sums), pct(sum(v >= 357 for v in sums), len(sums))))
        for kind in sorted({k for k, _ in sp2}):
            v = [s for k, s in sp2 if k == kind]
            w("  %-24s %5d, median %.2f, below 357: %d" % (kind, len(v), statistics.median(v), sum(x < 357 for x in v)))
    bb = [d for r in ok for d in r["backbone"]]
    if bb:
        w("acyclic amides, worst R-C(=O)-N-X: %d, median %.1f deg off planar, beyond 15: %d (%.1f%%)" % (
            len(bb), statistics.median(bb), sum(d > 15 for d in bb), pct(sum(d > 15 for d in bb), len(bb))))
    for ring, name in ((False, "acyclic"), (True, "ring")):
        v = [d for r in ok for k, d in r.get("amide_planes", []) if k == ring]
        if v:
            w("  %s amides, six atoms off the O=C-N plane: %d, median %.3f A, beyond 0.1 A %d, beyond 0.25 A %d" % (
                name, len(v), statistics.median(v), sum(d > 0.1 for d in v), sum(d > 0.25 for d in v)))
    lac = [l for r in ok for l in r["lactams"]]
    for size in sorted({k for k, _ in lac}):
        v = [d for k, d in lac if k == size]
        w("  ring amides in %d-rings: %d, median twist %.1f deg, worst %.1f, beyond 15: %d" % (
            size, len(v), statistics.median(v), max(v), sum(d > 15 for d in v)))
    with_db = [r for r in ok if r["db"][1] > 0]
    w("stored cis/trans: %d of %d bonds as stored; molecules with one the other way: %s" % (
        sum(r["db"][0] for r in with_db), sum(r["db"][1] for r in with_db),
        [r["key"] for r in with_db if r["db"][0] < r["db"][1]][:10] or "none"))
    read = [r for r in ok if r["db_read"][1] > 0]
    w("stored cis/trans read back from the conformer's molblock: %d of %d; molecules read the other way: %s" % (
        sum(r["db_read"][0] for r in read), sum(r["db_read"][1] for r in read),
        [r["key"] for r in read if r["db_read"][0] < r["db_read"][1]][:10] or "none"))
    drug = [r for r in ok if r.get("drug")]
    w("drug-like molecules with an sp3 C or N angle above 140 deg: %d, at 150 or more: %d of %d %s" % (
        sum(r["sp3_widest"] > 140 for r in drug), sum(r["sp3_widest"] >= 150 for r in drug), len(drug),
        ["%s %.0f" % (r["key"], r["sp3_widest"]) for r in drug if r["sp3_widest"] > 140][:12]))
    spans = [r["span"] for r in ok if r["span"] is not None]
    if spans:
        w("multi-piece molecules: %d, span median %.1f A, max %.1f A, under 30 A %d" % (
            len(spans), statistics.median(spans), max(spans), sum(s < 30 for s in spans)))
    w("close contacts (heavy, not bonded, < 2.0 A): %d pairs in %d molecules" % (
        sum(r["close"] for r in ok), sum(r["close"] > 0 for r in ok)))
    chiral = [r for r in ok if r["chiral"][1] > 0]
    w("chirality: %d of %d molecules with centres all right; %d of %d centres" % (
        sum(r["chiral"][0] == r["chiral"][1] for r in chiral), len(chiral),
        sum(r["chiral"][0] for r in chiral), sum(r["chiral"][1] for r in chiral)))
    bounded = [r for r in ok if "bond" in r]
    if bounded:
        w("bounds: %d molecules with a bond beyond its bounds by > 0.1 A (%d bonds), worst %.3f A" % (
            sum(r["bond"] > 0.1 for r in bounded), sum(r["bonds_over"] for r in bounded),
            max(r["bond"] for r in bounded)))
        w("        %d molecules with any pair within a piece beyond > 0.1 A (%d pairs), worst %.3f A" % (
            sum(r["pair"] > 0.1 for r in bounded), sum(r["pairs_over"] for r in bounded),
            max(r["pair"] for r in bounded)))
    ms = sorted(r["ms"] for r in ok if r.get("drug"))
    if ms:
        w("time: %d drug-like molecules, median %.3f ms, p90 %.3f ms, max %.1f ms; all molecules median %.3f ms" % (
            len(ms), ms[len(ms) // 2], ms[int(0.9 * len(ms))], ms[-1],
            statistics.median(r["ms"] for r in ok)))
    geometry_summary(ok, out)
    w("refinement:")
    for label, value in refinement_figures(records):
        w("  %s: %s" % (label, value))
    w("further classes:")
    for label, value in more_figures(ok) + trigonal_figures(ok):
        w("  %s: %s" % (label, value))


CONJ_CLASSES = ("aryl-C(=O) ketone/aldehyde", "aryl-C(=O) amide", "aryl-C(=O) acid/ester", "aryl-C(=O) other",
                "aryl-O-C(sp3)", "aryl-NO2", "aryl-C=C", "aryl-C=N", "C=C-C=O", "C=C-C=C")
# Planar is the textbook minimum of each, save aryl amides, whose twist runs
# from some 20 degrees (N-H) to far more (tertiary), the mixed "other", and
# styrenes, whose flat minimum is shallow.
# Real conjugated links and staggered bonds scatter some 10 degrees about
# their wells: a median beyond that (the window plus the audit's 3) is off.
TORSION_SCATTER = (0, 7)
CONJ_REFS = {"aryl-C(=O) amide": None, "aryl-C(=O) other": None}
SP3_CLASSES = (("C-C", lambda b: b[0] == "C-C"), ("C-N", lambda b: b[0] == "C-N"), ("C-O", lambda b: b[0] == "C-O"),
               ("N-N, N-O, O-O", lambda b: b[0] in ("N-N", "N-O", "O-O")), ("methyl rotors", lambda b: b[1]),
               ("to a three-membered ring", lambda b: b[0] == "3-ring"))


def figure(v, fmt="%.1f", *shares):
    """'n N, median M' and, per (label, test), the share of v passing the test."""
    if not v:
        return "n 0"
    parts = ["n %d, median %s" % (len(v), fmt % statistics.median(v))]
    parts += ["%s %.1f%%" % (label, pct(sum(map(test, v)), len(v))) for label, test in shares]
    return ", ".join(parts)


def geometry_figures(ok):
    """(label, value) per local-geometry figure over the data records."""
    rows = []
    conj = [c for r in ok for c in r.get("conj", [])]
    for kind in CONJ_CLASSES:
        for ortho in ((False, True) if kind.startswith("aryl") else (None,)):
            v = [d for k, d, o in conj if k == kind and o == ortho]
            tag = {False: " no ortho", True: " ortho-substituted"}.get(ortho, "")
            rows.append(("%s%s, deg off planar" % (kind, tag), figure(v, "%.1f", ("beyond 30", lambda d: d > 30))))
    ea = [e for r in ok for e in r.get("esters", [])]
    rows.append(("esters |O=C-O-C|", figure([d for k, d in ea if k == "ester"], "%.1f",
                                            ("Z (< 30)", lambda d: d < 30))))
    rows.append(("carboxylic acids |O=C-O-H|", figure([d for k, d in ea if k == "acid"], "%.1f",
                                                      ("syn (< 30)", lambda d: d < 30), ("< 90", lambda d: d < 90))))
    bonds = [b for r in ok for b in r.get("sp3_bonds", [])]
    for name, test in SP3_CLASSES:
        v = [b for b in bonds if test(b)]
        eclipsed = sum(b[2] < 20 for b in v)
        offset = "%.1f deg" % statistics.median(b[3] for b in v) if v else "-"
        rows.append(("acyclic sp3-sp3 bonds, %s" % name, "n %d, eclipsed %.1f%% (%d), median offset from staggered %s"
                     % (len(v), pct(eclipsed, len(v)), eclipsed, offset)))
    six = [s for r in ok for s in r.get("rings6", [])]
    for kind, name in (("carbocycle", "six-carbocycles"), ("hetero", "six-rings with N or O")):
        v = [s for s in six if s[0] == kind]
        rows.append(("saturated %s, not bridged" % name, "n %d, chair %.1f%%, median mean |ring torsion| %s" % (
            len(v), pct(sum(s[1] for s in v), len(v)), "%.1f" % statistics.median(s[2] for s in v) if v else "-")))
    bridged = [s for r in ok for s in r.get("rings6_bridged", [])]
    for kind in ("one-atom bridge", "other"):
        v = [s for s in bridged if s[0] == kind]
        rows.append(("saturated six-rings, bridged, %s" % kind, "n %d, chair %.1f%%, median mean |ring torsion| %s" % (
            len(v), pct(sum(s[1] for s in v), len(v)), "%.1f" % statistics.median(s[2] for s in v) if v else "-")))
    an = [a for r in ok for a in r.get("anilides", [])]
    for sides in (0, 1, 2):
        rows.append(("secondary anilide ring from amide plane, %d ortho sides heavy" % sides,
                     figure([t for k, t in an if k == sides], "%.1f", ("beyond 40", lambda d: d > 40))))
    five = [m for r in ok for k, m in r.get("rings5", []) if k == "carbocycle"]
    rows.append(("saturated five-carbocycles, max |ring torsion|",
                 figure(five, "%.1f", ("below 15 (flat)", lambda d: d < 15))))
    sums = [s for r in ok for s in r.get("n_sums", [])]
    rows.append(("amine N angle sum", figure([v for k, v in sums if k == "amine"], "%.1f",
                                             ("at 355 or more", lambda d: d >= 355))))
    for kind in ("amide", "aniline", "sulfonamide"):
        rows.append(("%s N angle sum" % kind, figure([v for k, v in sums if k == kind], "%.1f")))
    rows.append(("fused aromatic pairs, fold", figure([f for r in ok for f in r.get("folds", [])], "%.2f",
                                                      ("above 10", lambda d: d > 10))))
    sp = [s for r in ok for s in r.get("sp", [])]
    for kind in ("nitrile C", "alkyne C", "cumulated centre", "other"):
        v = [a for k, a in sp if k == kind]
        rows.append(("sp %s angle" % kind, figure(v, "%.1f") + (", min %.1f, below 172: %d" % (
            min(v), sum(a < 172 for a in v)) if v else "")))
    nitros = [n for r in ok for n in r.get("nitro", [])]
    rows.append(("nitro N angle sum", figure([n[0] for n in nitros], "%.1f", ("at 358 or more", lambda d: d >= 358))))
    for k, name in ((1, "N=O"), (2, "N-O-")):
        rows.append(("nitro %s length" % name, figure([n[k] for n in nitros], "%.3f")))
    rows.append(("nitro longer N-O length", figure([max(n[1], n[2]) for n in nitros], "%.3f")))
    rows.append(("nitro O-N-O angle", figure([n[3] for n in nitros], "%.1f")))
    return rows


SETS = (("molecules.smi", "smi "), ("pubchem", "sdf "))
LENGTH_CLASSES = ("N-N sp3", "N-O sp3", "N-N acyl hydrazide", "C(=O)-N lactam, ring bond",
                  "C(=O)-O lactone, ring bond", "C-C ring enone single bond", "C-C ring diene single bond",
                  "C(ar)-C(=O) ketone, carbonyl C in a ring", "C-N ring enamide, C=C-N(C=O)", "C-N+ ammonium",
                  "C-N amidine/guanidine single", "S-C(sp) thiocyanate")
ANGLE_CLASSES = ("C=N-C(ar) imine", "C(ar)-NH-N", "C=N-O oxime", "C=N-H imine", "O=S=O sulfonyl",
                 "C(ar)-NH-C(ar) diarylamine", "H-N-H aniline")


def refinement_figures(records):
    """Per data set: refusals, convergence, iterations, energy and CPU time."""
    rows = []
    for name, prefix in SETS:
        mine = [r for r in records if r["key"].startswith(prefix)]
        ok = [r for r in mine if "error" not in r and "converged" in r]
        share = lambda test: "%.2f%% (%d)" % (pct(sum(map(test, ok)), len(ok)), sum(map(test, ok)))
        rows += [
            ("%s: conformers, refused" % name, "%d, %d" % (len(ok), len(mine) - len(ok))),
            ("%s: not converged" % name, share(lambda r: not r["converged"])),
            ("%s: iterations > 400" % name, share(lambda r: r["iterations"] > 400)),
            ("%s: energy > 1e-2" % name, share(lambda r: r["energy"] > 1e-2)),
            ("%s: median iterations" % name, "%d" % statistics.median(r["iterations"] for r in ok) if ok else "-"),
            ("%s: total CPU time of conformer() (s)" % name, "%.2f" % (sum(r["ms"] for r in ok) / 1e3)),
        ]
    return rows


def more_figures(ok):
    """(label, value) per figure of the further classes over the data records."""
    rows = []
    lens = lambda cls: [v for r in ok for v in r.get("cls_len", {}).get(cls, [])]
    angs = lambda cls: [v for r in ok for v in r.get("cls_ang", {}).get(cls, [])]
    for cls in LENGTH_CLASSES:
        v = lens(cls)
        rows.append(("length %s" % cls, figure(v, "%.3f") + (", min %.3f, max %.3f" % (min(v), max(v)) if v else "")))
    for cls in ANGLE_CLASSES:
        v = angs(cls)
        rows.append(("angle %s" % cls, figure(v, "%.1f") + (", min %.1f, max %.1f" % (min(v), max(v)) if v else "")))
    bi = [b for r in ok for b in r.get("biaryl", [])]
    above = ("above 75", lambda d: d > 75)
    rows.append(("biaryl twist, all", figure([t for t, _ in bi], "%.1f", above)))
    rows.append(("biaryl twist, no ortho heavy substituent", figure([t for t, o in bi if not o], "%.1f", above)))
    rows.append(("biaryl twist, ortho heavy substituent", figure([t for t, o in bi if o], "%.1f", above)))
    rows.append(("aniline-type N twist from ring plane", figure([t for r in ok for t in r.get("aniline_twist", [])],
                                                                "%.1f", ("above 45", lambda d: d > 45))))
    nitros = [n for r in ok for n in r.get("nitro", [])]
    rows.append(("nitro O-N-O angle, min", "%.1f" % min(n[3] for n in nitros) if nitros else "-"))
    rows.append(("nitro |N-O1 - N-O2|, max", "%.3f" % max(abs(n[1] - n[2]) for n in nitros) if nitros else "-"))
    tw = [t for r in ok for t in r.get("nitro_twist", [])]
    rows.append(("aryl nitro twist, ortho heavy substituent", figure([t for o, t in tw if o], "%.1f")))
    rows.append(("aryl nitro twist, no ortho", figure([t for o, t in tw if not o], "%.1f")))
    rows.append(("N on N or O (not acyl, aryl), angle sum", figure(
        [v for r in ok for v in r.get("n_hetero_sums", [])], "%.1f", ("at 355 or more", lambda d: d >= 355))))
    mb = [b for r in ok for b in r.get("macro_bonds", [])]
    rows.append(("macrocycles (ring of 12+): molecules", "%d" % sum(bool(r.get("macro_bonds") or r.get("macro_angles"))
                                                               for r in ok)))
    rows.append(("macrocycle sp3-sp3 ring bonds eclipsed", "%.1f%% (%d of %d)" % (
        pct(sum(b < 20 for b in mb), len(mb)), sum(b < 20 for b in mb), len(mb))))
    rows.append(("macrocycle sp3 C-C-C angle", figure([a for r in ok for a in r.get("macro_angles", [])], "%.1f")))
    sp = [a for r in ok for a in r.get("ring_sp", [])]
    rows.append(("ring sp angle", figure(sp, "%.1f") + (", min %.1f, in %d molecules" % (
        min(sp), sum(bool(r.get("ring_sp")) for r in ok)) if sp else "")))
    large = [a for r in ok for a in r.get("ring9_angles", [])]
    rows.append(("large rings (9+): molecules", "%d" % sum(bool(r.get("ring9_angles")) for r in ok)))
    outside = lambda d: not 100 <= d <= 125
    for element in ("C/N/O", "C", "N", "O"):
        v = [a for e, a in large if e in element.split("/")]
        rows.append(("large-ring sp3 %s angle" % element, figure(v, "%.1f", ("outside 100-125", outside)) + (
            ", outside: %d, min %.1f, max %.1f" % (sum(map(outside, v)), min(v), max(v)) if v else "")))
    for field, name, fmt in (("ring9_co", "length sp3 C-O", "%.3f"), ("ring9_coc", "angle sp3 C-O-C", "%.1f")):
        v = [d for r in ok for d in r.get(field, [])]
        rows.append(("large-ring %s" % name, figure(v, fmt) + ((", min " + fmt + ", max " + fmt) % (min(v), max(v))
                                                               if v else "")))
    centres = {}
    for r in ok:
        for label, v in r.get("centres", {}).items():
            centres.setdefault(label, []).extend(v)
    for label in CENTRE_LABELS:
        v = centres.get(label, [])
        rows.append(("less common centre, %s" % label, figure(v, "%.1f") + (
            ", min %.1f, max %.1f" % (min(v), max(v)) if v else "")))
    smi = [r for r in ok if r["key"].startswith("smi ")]
    anti, total = (sum(r.get("chain_anti", [0, 0])[k] for r in smi) for k in (0, 1))
    rows.append(("molecules.smi acyclic sp3 C-C-C-C anti", "%.1f%% (%d of %d)" % (pct(anti, total), anti, total)))
    rows.append(("widest sp3 angle, max over all", "%.1f" % max(r["sp3_widest"] for r in ok) if ok else "-"))
    rows.append(("molecules with an sp3 angle above 140", "%d" % sum(r["sp3_widest"] > 140 for r in ok)))
    rows.append(("chiral centres right", "%d of %d" % (sum(r["chiral"][0] for r in ok), sum(r["chiral"][1] for r in ok))))
    return rows


def slower_figures(before, after):
    """Per data set, the share of molecules more than 3x slower than before (CPU time)."""
    rows = []
    for name, prefix in SETS:
        pairs = [(before[k]["ms"], a["ms"]) for k, a in after.items() if k.startswith(prefix) and k in before
                 and "ms" in a and "ms" in before[k]]
        slow = [p for p in pairs if p[1] > 3 * max(p[0], 1e-3)]
        rows.append(("%s: more than 3x slower than before" % name, "%.2f%% (%d of %d), of them over 1 ms now: %d" % (
            pct(len(slow), len(pairs)), len(slow), len(pairs), sum(p[1] > 1 for p in slow))))
        ratio = [a / b for b, a in pairs if b > 0]
        rows.append(("%s: median time ratio after/before" % name, "%.2f" % statistics.median(ratio) if ratio else "-"))
    return rows


def audit_rows(ok):
    """(kind, class, values, reference window or None) per audit class."""
    rows = []
    for kind, field, table in (("length", "lengths", LENGTHS), ("angle", "angles", ANGLES)):
        rows += [(kind, cls, [v for r in ok for v in r.get(field, {}).get(cls, [])], w) for cls, w in table.items()]
    conj = [c for r in ok for c in r.get("conj", [])]
    for kind in CONJ_CLASSES:
        v = [d for k, d, o in conj if k == kind and not o]
        rows.append(("torsion", kind + (" no ortho" if kind.startswith("aryl") else "") + ", off planar", v,
                     CONJ_REFS.get(kind, TORSION_SCATTER)))
    ea = [e for r in ok for e in r.get("esters", [])]
    rows.append(("torsion", "ester |O=C-O-C|", [d for k, d in ea if k == "ester"], TORSION_SCATTER))
    rows.append(("torsion", "acid |O=C-O-H|", [d for k, d in ea if k == "acid"], TORSION_SCATTER))
    rows.append(("torsion", "acyclic amide C-N, off planar", [a[1] for r in ok for a in r["amides"]], (0, 0)))
    bonds = [b for r in ok for b in r.get("sp3_bonds", [])]
    for name, test in SP3_CLASSES:
        rows.append(("torsion", "sp3-sp3 %s, offset from staggered" % name, [b[3] for b in bonds if test(b)],
                     None if name == "to a three-membered ring" else TORSION_SCATTER))
    six = [s for r in ok for s in r.get("rings6", [])]
    rows.append(("ring", "six-carbocycle, mean |torsion|", [s[2] for s in six if s[0] == "carbocycle"], (54, 56)))
    rows.append(("ring", "six-ring with N or O, mean |torsion|", [s[2] for s in six if s[0] == "hetero"], (54, 58)))
    rows.append(("ring", "five-carbocycle, max |torsion|",
                 [m for r in ok for k, m in r.get("rings5", []) if k == "carbocycle"], (38, 46)))
    return rows


def audit_flag(kind, v, window):
    if not v:
        return "none"
    tol = 0.02 if kind == "length" else 3.0
    m = statistics.median(v)
    off = window is not None and not window[0] - tol <= m <= window[1] + tol
    return ("OFF" if off else "") + (" few" if len(v) < 10 else "")


def audit_figures(ok):
    fmt = lambda kind: "%.3f" if kind == "length" else "%.1f"
    return [("audit %s %s" % (kind, cls), (figure(v, fmt(kind)) + " " + audit_flag(kind, v, w)).strip())
            for kind, cls, v, w in audit_rows(ok)]


def old_figures(ok):
    """The chief figures of the earlier summary lines, for the before/after table."""
    med = lambda v, f="%.2f": f % statistics.median(v) if v else "-"
    am = [a for r in ok for a in r["amides"]]
    sec = [a for a in am if a[0] == "secondary"]
    plain = [s[0] for r in ok for s in r["subs"] if not s[1]]
    rdb = [d[0] for r in ok for d in r["ring_db"]]
    sp2 = [v for r in ok for _, v in r["sp2"]]
    bb = [d for r in ok for d in r["backbone"]]
    lac = [l for r in ok for l in r["lactams"]]
    drug = [r for r in ok if r.get("drug")]
    chiral = [r for r in ok if r["chiral"][1] > 0]
    bounded = [r for r in ok if "bond" in r]
    rows = [
        ("molecules with a conformer", "%d" % len(ok)),
        ("acyclic amide C-N, deg off planar", figure([a[1] for a in am], "%.1f", ("within 15", lambda d: d <= 15))),
        ("secondary amides cis", "%d of %d" % (sum(bool(a[2]) for a in sec), len(sec))),
        ("aromatic substituents not sharing a ring, deg out of plane",
         figure(plain, "%.2f", ("above 10", lambda d: d > 10))),
        ("ring double bonds, deg off flat", figure(rdb, "%.1f", ("within 10", lambda d: d <= 10))),
        ("three-connected sp2 carbons, angle sum", figure(sp2, "%.2f", ("at 357 or more", lambda d: d >= 357))),
        ("acyclic amides, worst R-C(=O)-N-X", figure(bb, "%.1f", ("beyond 15", lambda d: d > 15))),
    ]
    for ring, name in ((False, "acyclic"), (True, "ring")):
        v = [d for r in ok for k, d in r.get("amide_planes", []) if k == ring]
        rows.append(("%s amides, six atoms off O=C-N plane (A)" % name,
                     figure(v, "%.3f", ("beyond 0.1", lambda d: d > 0.1))))
    for size in sorted({k for k, _ in lac}):
        rows.append(("ring amides in %d-rings, twist" % size, figure([d for k, d in lac if k == size], "%.1f")))
    of = lambda field, k: sum(r[field][k] for r in ok)
    over = lambda field: "%d" % sum(r[field] > 0.1 for r in bounded) if bounded else "-"
    rows += [
        ("stored cis/trans as stored", "%d of %d" % (of("db", 0), of("db", 1))),
        ("stored cis/trans read back", "%d of %d" % (of("db_read", 0), of("db_read", 1))),
        ("drug-like molecules with an sp3 angle above 140", "%d of %d" % (
            sum(r["sp3_widest"] > 140 for r in drug), len(drug))),
        ("close contacts (pairs)", "%d" % sum(r["close"] for r in ok)),
        ("molecules with chiral centres all right", "%d of %d" % (
            sum(r["chiral"][0] == r["chiral"][1] for r in chiral), len(chiral))),
        ("molecules with a bond beyond bounds by > 0.1 A", over("bond")),
        ("molecules with a pair beyond bounds by > 0.1 A", over("pair")),
        ("median time, drug-like (ms)", med([r["ms"] for r in drug], "%.3f")),
    ]
    return rows


def geometry_summary(ok, out=sys.stdout):
    w = lambda *a: print(*a, file=out)
    w("local geometry:")
    for label, value in geometry_figures(ok):
        w("  %s: %s" % (label, value))
    w("local-geometry audit: median against a textbook reference, OFF beyond 0.02 A or 3 deg of it, few under 10:")
    w("  %-7s %-52s %7s %8s  %-13s %s" % ("kind", "class", "n", "median", "reference", "flag"))
    for kind, cls, v, window in audit_rows(ok):
        fmt = "%.3f" if kind == "length" else "%.1f"
        ref = "-" if window is None else fmt % window[0] if window[0] == window[1] else (fmt + "-" + fmt) % window
        w("  %-7s %-52s %7d %8s  %-13s %s" % (kind, cls, len(v), fmt % statistics.median(v) if v else "-", ref,
                                               audit_flag(kind, v, window)))


def named_figures(r):
    """(label, value) per local-geometry figure a named molecule has."""
    show = lambda v, f="%.1f": ", ".join(f % d for d in v[:6]) + (" ... (%d)" % len(v) if len(v) > 6 else "")
    of = lambda field, kind: [row[1] for row in r.get(field, []) if row[0] == kind]
    rows = [(kind + " off planar", show(of("conj", kind))) for kind in CONJ_CLASSES if of("conj", kind)]
    rows += [(label, show(of("esters", kind))) for kind, label in (("ester", "|O=C-O-C|"), ("acid", "|O=C-O-H|"))
             if of("esters", kind)]
    bonds = r.get("sp3_bonds", [])
    if bonds:
        rows.append(("eclipsed sp3-sp3 bonds", "%d of %d" % (sum(b[2] < 20 for b in bonds), len(bonds))))
    if r.get("chain"):
        rows.append(("C-C-C-C", show(r["chain"])))
    if r.get("rings6"):
        rows.append(("six-ring chair", ", ".join("yes" if s[1] else "no" for s in r["rings6"])))
    if r.get("rings6_bridged"):
        rows.append(("bridged six-ring chair", ", ".join("yes" if s[1] else "no" for s in r["rings6_bridged"])))
    if r.get("anilides"):
        rows.append(("anilide ring from amide plane", show([t for _, t in r["anilides"]])))
    rows += [("%s N angle sum" % kind, show(of("n_sums", kind)))
             for kind in ("amine", "amide", "aniline", "sulfonamide") if of("n_sums", kind)]
    if r.get("folds"):
        rows.append(("max fused fold", "%.2f" % max(r["folds"])))
    if r.get("sp"):
        rows.append(("smallest sp angle", "%.1f" % min(a for _, a in r["sp"])))
    rows += [("nitro N sum, N=O, N-O-, O-N-O", "%.1f, %.3f, %.3f, %.1f" % tuple(n)) for n in r.get("nitro", [])]
    rows += [(cls, show(v, "%.3f")) for cls, v in sorted(r.get("cls_len", {}).items())]
    rows += [(cls, show(v)) for cls, v in sorted(r.get("cls_ang", {}).items())]
    if r.get("biaryl"):
        rows.append(("biaryl twist", show([t for t, _ in r["biaryl"]])))
    if r.get("aniline_twist"):
        rows.append(("aniline N twist", show(r["aniline_twist"])))
    if r.get("nitro_twist"):
        rows.append(("nitro twist", show([t for _, t in r["nitro_twist"]])))
    if r.get("n_hetero_sums"):
        rows.append(("N (on N or O) angle sum", show(r["n_hetero_sums"])))
    if r.get("macro_bonds"):
        rows.append(("macrocycle eclipsed sp3-sp3 bonds", "%d of %d" % (
            sum(b < 20 for b in r["macro_bonds"]), len(r["macro_bonds"]))))
    if r.get("macro_angles"):
        rows.append(("macrocycle C-C-C median", "%.1f" % statistics.median(r["macro_angles"])))
    if r.get("ring_sp"):
        rows.append(("smallest ring sp angle", "%.1f" % min(r["ring_sp"])))
    if r.get("chain_anti", [0, 0])[1]:
        rows.append(("C-C-C-C anti", "%d of %d" % tuple(r["chain_anti"])))
    span = lambda v, f="%.1f": (f + ", " + f) % (min(v), max(v))
    if r.get("ring9_angles"):
        rows.append(("large-ring sp3 angle min, max", span([a for _, a in r["ring9_angles"]])))
    if r.get("ring9_co"):
        rows.append(("large-ring C-O min, max", span(r["ring9_co"], "%.3f")))
        rows.append(("large-ring C-O-C min, max", span(r["ring9_coc"])))
    for label, v in sorted(r.get("centres", {}).items()):
        rows.append(("%s min, max" % label, span(v)))
    if r.get("core_plane"):
        rows.append(("porphyrin core off plane (A)", show(r["core_plane"], "%.3f")))
    if r.get("four_diag"):
        rows.append(("sp2 four-ring shorter diagonal", show(r["four_diag"], "%.3f")))
    if r.get("hh"):
        rows.append(("H-H", show(r["hh"], "%.3f")))
    if r.get("id") in CAGES and "sp3_widest" in r:  # a refused one has none
        if r.get("cc"):
            rows.append(("C-C min, max", "%.3f, %.3f" % tuple(r["cc"])))
        rows.append(("widest sp3 angle", "%.1f" % r["sp3_widest"]))
    for label in list(TRIGONAL_WINDOWS) + ["large cycloalkane anti ring torsions",
                                           "closest heavy contact, four bonds or more (A)"]:
        v = [d for k, d in r.get("trigonal", []) if k == label]
        if v:
            rows.append((label, show(v)))
    if r.get("chiral", [0, 0])[1]:
        rows.append(("chiral centres right", "%d of %d" % tuple(r["chiral"])))
    if r.get("id") == "C60":
        rows.append(("radius", "%.3f" % r["radius"]))
    if "bowl" in r:
        rows.append(("bowl depth", "%.3f" % r["bowl"]))
    if "converged" in r:
        rows.append(("energy, converged, iterations", "%.3g, %s, %d" % (r["energy"], r["converged"], r["iterations"])))
    return rows


def named_rows(records):
    """(label, value) per named-molecule figure, a refusal included."""
    out = []
    for r in records:
        if not r["key"].startswith("named "):
            continue
        if "error" in r:
            out.append(("%s: conformer" % r["id"], "refused (%s)" % r["error"]))
        out += [("%s: %s" % (r["id"], label), value) for label, value in named_figures(r)]
    return out


def figure_table(before, after):
    """One before/after table of every figure over the data, then one of the named
    molecules. Over every record, repeated keys too, so that it matches the summary."""
    def rows(records):
        data = [r for r in records if not r["key"].startswith("named ")]
        ok = [r for r in data if "error" not in r]
        out = old_figures(ok) + geometry_figures(ok) + audit_figures(ok)
        if any("converged" in r for r in ok):
            out += refinement_figures(data) + more_figures(ok) + trigonal_figures(ok)
        return out, named_rows(records)

    data = lambda rs: {r["key"]: r for r in rs if not r["key"].startswith("named ") and "error" not in r}
    slower = slower_figures(data(before), data(after))
    (b, bn), (a, an) = rows(before), rows(after)
    # The time ratios exist only between two files: "(pair)" keeps them out of the change count.
    b += [(k, "(pair)") for k, _ in slower]
    for title, b, a in (("figure", b, a + [(k, v) for k, v in slower]), ("named molecule: figure", bn, an)):
        b, a = dict(b), [(k, v) for k, v in a]
        labels = [k for k, _ in a] + [k for k in b if k not in dict(a)]
        a = dict(a)
        print()
        changed = sum(b.get(k) != a.get(k) and b.get(k) != "(pair)" for k in labels)
        print("%s rows changed: %d of %d" % (title.split(":")[0], changed, len(labels)))
        print("| %s | before | after |" % title)
        print("|---|---|---|")
        cell = lambda s: s.replace("|", "\\|")
        for label in labels:
            print("| %s | %s | %s |" % (cell(label), cell(b.get(label, "-")), cell(a.get(label, "-"))))



# Rows of group geometry, each a SMARTS, what it measures over the match
# (positions in it), the window crystal and gas-phase structures give, and
# named molecules that carry it. "bridge" is the closest pair of oxygens on
# the two phosphorus atoms of a P-O-P bridge (positions 0 and 2); "syn" and
# "anti" the angle at an aryl ether's ipso atom (positions alkyl, O, ipso,
# ortho, ortho) towards the ortho atom nearer its alkyl, and the other;
# "fold" a torsion's distance from the nearer of 0 and 180 degrees.
GROUP_ROWS = [
    ("nitrate ester O-N", "[#6]-[#8X2]-[#7+](=[#8])-[#8-]", "bond", (1, 2), (1.36, 1.44),
     [("methyl nitrate", "CO[N+](=O)[O-]"),
      ("nitroglycerin", "C(C(CO[N+](=O)[O-])O[N+](=O)[O-])O[N+](=O)[O-]")]),
    ("aryl or enol C-O-", "[#6;a,$([#6]=[#6])]-[#8X1-]", "bond", (0, 1), (1.24, 1.32),
     [("phenoxide", "[O-]c1ccccc1"), ("4-nitrophenolate", "[O-]c1ccc(cc1)[N+](=O)[O-]"),
      ("acetylacetonate", "CC(=O)/C=C(/C)[O-]")]),
    ("C-O-P", "[#6]-[#8X2]-[#15]", "angle", (0, 1, 2), (113, 125),
     [("trimethyl phosphate", "COP(=O)(OC)OC"), ("trimethyl phosphite", "COP(OC)OC"),
      ("triphenyl phosphate", "O=P(Oc1ccccc1)(Oc1ccccc1)Oc1ccccc1")]),
    ("P-O-P", "[#15]-[#8X2]-[#15]", "angle", (0, 1, 2), (120, 140),
     [("tetraethyl pyrophosphate", "CCOP(=O)(OCC)OP(=O)(OCC)OCC"),
      ("ATP", "Nc1ncnc2c1ncn2[C@@H]1O[C@H](COP(=O)(O)OP(=O)(O)OP(=O)(O)O)[C@@H](O)[C@H]1O")]),
    ("P-O-P: O...O across", "[#15]-[#8X2]-[#15]", "bridge", (0, 1, 2), (2.5, 4.0),
     [("tetraethyl pyrophosphate", "CCOP(=O)(OCC)OP(=O)(OCC)OCC"),
      ("ATP", "Nc1ncnc2c1ncn2[C@@H]1O[C@H](COP(=O)(O)OP(=O)(O)OP(=O)(O)O)[C@@H](O)[C@H]1O")]),
    ("O-P-O of a phosphate triester", "[#8X2]-[#15X4](=[#8])-[#8X2]", "angle", (0, 1, 3), (100, 108),
     [("trimethyl phosphate", "COP(=O)(OC)OC"), ("tetraethyl pyrophosphate", "CCOP(=O)(OCC)OP(=O)(OCC)OCC")]),
    ("C-O-S(=O)2", "[#6]-[#8X2]-[#16X4](=[#8])=[#8]", "angle", (0, 1, 2), (113, 122),
     [("methyl mesylate", "COS(C)(=O)=O"), ("ethyl tosylate", "CCOS(=O)(=O)c1ccc(C)cc1")]),
    ("Si-O-Si, six-ring", "[Si]-[#8;r6]-[Si]", "angle", (0, 1, 2), (128, 140),
     [("D3 siloxane", "C[Si]1(C)O[Si](C)(C)O[Si](C)(C)O1")]),
    ("Si-O-Si, larger ring", "[Si]-[#8;R;!r6;!r4]-[Si]", "angle", (0, 1, 2), (135, 155),
     [("D4 siloxane", "C[Si]1(C)O[Si](C)(C)O[Si](C)(C)O[Si](C)(C)O1")]),
    ("ring O=S=O", "[#8]=[#16;R](=[#8])", "angle", (0, 1, 2), (115, 123),
     [("sulfolane", "O=S1(=O)CCCC1"), ("propane sultam", "O=S1(=O)CCCN1"),
      ("saccharin", "O=C1NS(=O)(=O)c2ccccc21")]),
    ("glycosidic C-O-C between ring methines", "[#6X4H1;R]-[#8X2;!R]-[#6X4H1;R]", "angle", (0, 1, 2), (112, 119),
     [("maltose", "OC[C@H]1O[C@H](O[C@H]2[C@H](O)[C@@H](O)[C@H](O)O[C@@H]2CO)[C@H](O)[C@@H](O)[C@@H]1O"),
      ("lactose", "OC[C@H]1O[C@@H](O[C@H]2[C@H](O)[C@@H](O)[C@H](O)O[C@@H]2CO)[C@H](O)[C@@H](O)[C@H]1O")]),
    ("C-O-P and C-O-S(=O)2 at a methine", "[#6X4H1]-[#8X2]-[#15X4,#16X4]", "angle", (0, 1, 2), (114, 122),
     [("isopropyl methylphosphonate", "CC(C)OP(C)(=O)O"), ("diisopropyl methylphosphonate", "CC(C)OP(C)(=O)OC(C)C"),
      ("isopropyl mesylate", "CC(C)OS(C)(=O)=O")]),
    ("exocyclic R-C=C of a cyclopentene", "[#6X4,#16X2;!R]-[#6X3;r5;!a](-[#6X4;r5])=[#6;r5]", "angle", (0, 1, 3),
     (124, 131),
     [("1-methylcyclopentene", "CC1=CCCC1"),
      ("meropenem", "C[C@H]1C(S[C@H]2C[C@@H](C(=O)N(C)C)NC2)=C(C(=O)O)N2C(=O)[C@H]([C@@H](C)O)[C@@H]12"),
      ("thienamycin", "C[C@@H](O)[C@H]1C(=O)N2C(C(=O)O)=C(SCCN)C[C@H]12")]),
    ("ring ammonium C(exo)-N+-C(substituted)", "[CH3]-[#7X4+;R]-[#6X4H1;R]", "angle", (0, 1, 2), (112, 118),
     [("1,2-dimethylpiperidinium", "C[NH+]1CCCCC1C"), ("nicotinium", "C[NH+]1CCC[C@H]1c1cccnc1")]),
    ("diaryl ether C-O-C", "c-[#8X2;!R]-c", "angle", (0, 1, 2), (115, 122),
     [("diphenyl ether", "c1ccc(Oc2ccccc2)cc1")]),
    ("di-ortho methoxy C-O-C", "[CH3]-[#8X2]-[#6;R](~[#6;R]!@[!#1])~[#6;R]!@[!#1]", "angle", (0, 1, 2),
     (105, 120),
     [("2-methoxy-3-methylbenzoquinone", "COC1=C(C)C(=O)C=CC1=O")]),
    ("[1.1.1]propellane central C-C", "[#6X4;x4;r3]-[#6X4;x4;r3]", "bond", (0, 1), (1.50, 1.65),
     [("[1.1.1]propellane", "C123C(C1)(C2)C3")]),
    ("sulfonate O-S-O", "[#8X1]~[#16X4](~[#8X1])~[#8X1]", "angle", (0, 1, 2), (110.5, 115.5),
     [("methanesulfonate", "CS(=O)(=O)[O-]"), ("taurine", "[NH3+]CCS(=O)(=O)[O-]"),
      ("methyl sulfate", "COS(=O)(=O)[O-]")]),
    ("phosphate anion P-O terminal", "[#8X1]~[#15X4]~[#8X1-]", "bond", (0, 1), (1.475, 1.53),
     [("dimethyl phosphate anion", "COP(=O)([O-])OC"), ("methyl phosphate dianion", "COP(=O)([O-])[O-]")]),
    ("phosphite O-P-O", "[#8X2]-[#15X3](-[#8X2])-[#8X2]", "angle", (0, 1, 2), (95, 105),
     [("tris(2-ethylhexyl) phosphite", "CCCCC(CC)COP(OCC(CC)CCCC)OCC(CC)CCCC")]),
    ("phosphite P-O", "[#8X2]-[#15X3]", "bond", (0, 1), (1.59, 1.64),
     [("trimethyl phosphite", "COP(OC)OC"), ("triphenyl phosphite", "P(Oc1ccccc1)(Oc1ccccc1)Oc1ccccc1")]),
    ("secondary ammonium C-N+-C", "[#6]-[NX4H2+;!R]-[#6]", "angle", (0, 1, 2), (112, 118),
     [("dimethylammonium", "C[NH2+]C"), ("dipropylammonium", "CCC[NH2+]CCC")]),
    ("tertiary ammonium C-N+-C", "[#6]-[NX4H1+;!R](-[#6])-[#6]", "angle", (0, 1, 2), (110, 115),
     [("trimethylammonium", "C[NH+](C)C"), ("ethyldimethylammonium", "C[NH+](C)CC")]),
    ("glycine N-CH2-C(=O) at a tertiary nitrogen", "[#7X3;H0;!a;+0]-[CH2X4]-[#6X3;!a]=[#8]", "angle", (0, 1, 2),
     (110.5, 115),
     [("N,N-dimethylglycine", "CN(C)CC(=O)O"), ("N-acetylsarcosine", "CC(=O)N(C)CC(=O)O"),
      ("N-acetylsarcosine methylamide", "CNC(=O)CN(C)C(C)=O")]),
    ("glycine N+-CH2-C(=O) at an ammonium or iminium", "[#7+;!a;!$([#7]~[#8X1])]-[CH2X4]-[#6X3;!a]=[#8]",
     "angle", (0, 1, 2), (109, 114),
     [("carbamoylmethylpyrrolidinium", "NC(=O)C[NH+]1CCCC1")]),
    ("S=C-N at a tertiary nitrogen", "[#16X1]=[#6X3](-[#7X3;H0;!a;+0])-[#8X2,#16X2]", "angle", (0, 1, 2),
     (124, 128),
     [("O-phenyl N-methyl-N-phenylthiocarbamate", "CN(c1ccccc1)C(=S)Oc1ccccc1"),
      ("S-methyl N,N-diethyldithiocarbamate", "CCN(CC)C(=S)SC")]),
    ("thiourea N-C-N at one tertiary nitrogen", "[#7X3;H0;!a;+0]-[#6X3](=[#16X1])-[#7X3;H1]", "angle", (0, 1, 3),
     (113, 117),
     [("N,N-dimethyl-N'-phenylthiourea", "CN(C)C(=S)Nc1ccccc1")]),
    ("benzodioxole O-C-O", "c-[#8X2]-[CH2]-[#8X2]-c", "angle", (1, 2, 3), (107, 110),
     [("1,3-benzodioxole", "c1ccc2OCOc2c1"), ("safrole", "C=CCc1ccc2OCOc2c1")]),
    ("sulfoxide S=O", "[#6]-[#16X3](-[#6])=[#8]", "bond", (1, 3), (1.47, 1.52),
     [("dimethyl sulfoxide", "CS(C)=O"), ("methyl phenyl sulfoxide", "CS(=O)c1ccccc1")]),
    ("amidinium C-N", "[#7X3;!a]-[#6X3;!a]=[#7X3+;!a]", "bond", (0, 1), (1.29, 1.35),
     [("guanidinium", "NC(N)=[NH2+]"), ("acetamidinium", "CC(N)=[NH2+]"),
      ("arginine side chain", "CC(=O)NCCCNC(N)=[NH2+]")]),
    ("amidinium C=N+", "[#7X3;!a]-[#6X3;!a]=[#7X3+;!a]", "bond", (1, 2), (1.29, 1.35),
     [("guanidinium", "NC(N)=[NH2+]"), ("acetamidinium", "CC(N)=[NH2+]")]),
    ("N-alkyl pyridinium C-N+", "[CX4]-[n+]", "bond", (0, 1), (1.46, 1.51),
     [("1-methylpyridinium", "C[n+]1ccccc1"), ("1-benzylpyridinium", "c1ccccc1C[n+]1ccccc1")]),
    ("N-methyl toward the fusion atom of a fused azole", "[CH3]-[nX3;r5]:[c;x3]", "angle", (0, 1, 2), (124.5, 128.5),
     [("1-methylindole", "Cn1ccc2ccccc21"), ("1-methylbenzimidazole", "Cn1cnc2ccccc21"),
      ("caffeine", "Cn1cnc2c1c(=O)n(C)c(=O)n2C"), ("9-methyladenine", "Cn1cnc2c(N)ncnc21")]),
    ("five-ring imine X-C=N", "[#7X2;r5;!a]=[#6X3;r5]-[#8X2,#7X3;r5]", "angle", (0, 1, 2), (114, 120),
     [("2-phenyl-2-oxazoline", "c1ccccc1C1=NCCO1"), ("2-phenyl-2-imidazoline", "c1ccccc1C1=NCCN1"),
      ("2-methyl-2-imidazoline", "CC1=NCCN1")]),
    ("five-ring imine C=N-C", "[#6X3;r5]=[#7X2;r5;!a]-[#6X4;r5]", "angle", (0, 1, 2), (103, 108),
     [("2-phenyl-2-oxazoline", "c1ccccc1C1=NCCO1"), ("2-phenyl-2-imidazoline", "c1ccccc1C1=NCCN1"),
      ("2-methyl-2-imidazoline", "CC1=NCCN1")]),
    ("N-alkyl azole C-N", "[CX4]-[nX3+0]", "bond", (0, 1), (1.44, 1.49),
     [("1-methylimidazole", "Cn1ccnc1"), ("1-methylpyrrole", "Cn1cccc1"), ("thymidine", "Cc1cn([C@H]2C[C@H](O)[C@@H](CO)O2)c(=O)[nH]c1=O")]),
    ("phosphonium P-C", "[CX4]-[P+]", "bond", (0, 1), (1.77, 1.82),
     [("tetrabutylphosphonium", "CCCC[P+](CCCC)(CCCC)CCCC")]),
    ("ring sulfonamide C-N-S", "[#6;R]-[#7X3;R]-[#16X4;!R](=[#8])=[#8]", "angle", (0, 1, 2), (114, 122),
     [("1-(methylsulfonyl)pyrrolidine", "CS(=O)(=O)N1CCCC1"), ("1-(phenylsulfonyl)pyrrolidine", "O=S(=O)(c1ccccc1)N1CCCC1")]),
    ("six-ring sulfonamide C-N-C", "[#6;R]-[#7X3;r6](-[#16X4;!R](=[#8])=[#8])-[#6;R]", "angle", (0, 1, 5), (109, 115),
     [("1-(methylsulfonyl)piperidine", "CS(=O)(=O)N1CCCCC1"), ("4-(methylsulfonyl)morpholine", "CS(=O)(=O)N1CCOCC1")]),
    ("sulfonamide C-S-N", "[#6]-[#16X4](=[#8])(=[#8])-[#7X3]", "angle", (0, 1, 4), (105, 109),
     [("N,N-dimethyl-p-toluenesulfonamide", "Cc1ccc(cc1)S(=O)(=O)N(C)C"),
      ("N-tosylpiperidine", "Cc1ccc(cc1)S(=O)(=O)N1CCCCC1"),
      ("N-methylmethanesulfonamide", "CNS(C)(=O)=O")]),
    ("2-substituted ring sulfonamide C-N-S", "[#6X4;R;!H2]-[#7X3;R]-[#16X4;!R](=[#8])=[#8]", "angle", (0, 1, 2),
     (114, 122),
     [("N-tosylpipecolic acid methyl ester", "COC(=O)C1CCCCN1S(=O)(=O)c1ccc(C)cc1"),
      ("1-tosyl-2-methylpiperidine", "CC1CCCCN1S(=O)(=O)c1ccc(C)cc1")]),
    ("phosphoryl P-C", "[#6X4;!H0]-[#15X4]=[#8]", "bond", (0, 1), (1.78, 1.82),
     [("diethyl ethylphosphonate", "CCOP(=O)(CC)OCC"), ("methylphosphonic acid", "CP(=O)(O)O"),
      ("trimethylphosphine oxide", "CP(C)(C)=O")]),
    ("five-ring S-N beside N or C=O", "[#16X2;r5]~[#7;r5]~[#7,$([#6]=[#8])]", "bond", (0, 1), (1.65, 1.72),
     [("1,2,3-thiadiazole", "c1csnn1"), ("1,2-benzisothiazol-3-one", "O=C1NSc2ccccc21"),
      ("5-amino-1,2,3,4-thiatriazole", "Nc1nnns1")]),
    ("sulfide C-S at a quaternary carbon", "[CX4;H0;!$(C~[!#6;!#16])]-[#16X2]", "bond", (0, 1), (1.83, 1.87),
     [("penicillin G", "CC1(C)S[C@@H]2[C@H](NC(=O)Cc3ccccc3)C(=O)N2[C@H]1C(=O)O"),
      ("tert-butyl methyl sulfide", "CSC(C)(C)C")]),
    ("N-tert-alkyl amide C(=O)-N-C", "[#6X3;!a](=[#8,#16])-[#7X3;H1]-[#6X4;H0;!r3]", "angle", (0, 2, 3),
     (123, 128.5),
     [("N-(1-adamantyl)benzamide", "O=C(NC12CC3CC(CC(C3)C1)C2)c1ccccc1"),
      ("benzyl N-tert-butylcarbamate", "O=C(OCc1ccccc1)NC(C)(C)C"),
      ("N-(1-methylcyclohexyl)acetamide", "CC(=O)NC1(C)CCCCC1"), ("N-tert-butyl-N'-phenylurea", "CC(C)(C)NC(=O)Nc1ccccc1")]),
    ("tertiary alcohol C-C-O", "[#6]-[CX4;H0;!R](-[#6])(-[#6])-[OX2;H1]", "angle", (0, 1, 4), (106, 109.2),
     [("tert-butanol", "CC(C)(C)O"), ("2-phenyl-2-propanol", "CC(C)(O)c1ccccc1")]),
    ("ortho-fluoroaryl carbinol O...F", "[OX2;H1]-[#6X4;H0;!R]-c:c-F", "bond", (0, 4), (2.75, 4.5),
     [("fluconazole propyl thioether", "CCCS[C@H](C)[C@](O)(Cn1cncn1)c2ccc(F)cc2F"),
      ("fluconazole", "OC(Cn1cncn1)(Cn1cncn1)c1ccc(F)cc1F")]),
    ("penicillin sulfone S1-C2-C3", "[#16X4;r5](=[#8])(=[#8])@[#6X4;H0;r5]@[#6;r5]", "angle", (0, 3, 4),
     (100, 105.5), [("sulbactam", "CC1(C)[C@@H](C(=O)O)N2C(=O)C[C@H]2S1(=O)=O")]),
    ("O-acyl hydroxylamine N-O", "[NX3;!$(N~[#6])]-[#8X2]-[#6]=[#8]", "bond", (0, 1), (1.43, 1.48),
     [("O-acetylhydroxylamine", "CC(=O)ON")]),
    ("thiocarbonate O-C-S", "[#6]-[#8X2]-[#6X3](=[#8])-[#16X2]-[#6]", "angle", (1, 2, 4), (108, 115),
     [("O-ethyl S-methyl thiocarbonate", "CCOC(=O)SC"), ("O-isobutyl S-ethyl thiocarbonate", "CC(C)COC(=O)SCC")]),
    ("pyranone O1-C2-C3 at a C-H", "[#8;a;r6]:[#6H1;a;r6]:[#6;a;r6]:[#6;a;r6]=[#8X1]", "angle", (0, 1, 2), (122.5, 127),
     [("chromone", "O=c1ccoc2ccccc12"), ("4-pyranone", "O=c1ccocc1"), ("isoflavone", "O=c1c(-c2ccccc2)coc2ccccc12")]),
    ("pyranone C3-C4-C4a", "[#8X1]=[#6;a]1:[#6;a]:[#6;a]:[#8;a]:[#6;a]:[#6;a]:1", "angle", (2, 1, 6), (113, 118),
     [("chromone", "O=c1ccoc2ccccc12"), ("flavone", "O=c1cc(-c2ccccc2)oc2ccccc12")]),
    ("pyranone exocyclic R-C2-O1", "[#8X1]=[#6;a]1:[#6;a]:[#6;a](-[!#1]):[#8;a]:[#6;a]:[#6;a]:1", "angle", (4, 3, 5),
     (109, 116),
     [("flavone", "O=c1cc(-c2ccccc2)oc2ccccc12"), ("2-methylchromone", "Cc1cc(=O)c2ccccc2o1"),
      ("2-(trifluoromethyl)chromone", "O=c1cc(C(F)(F)F)oc2ccccc12")]),
    ("2-pyranone O1-C2-C3", "[#8X1]=[#6;a]1:[#8;a]:[#6;a]:[#6;a]:[#6;a]:[#6;a]:1", "angle", (2, 1, 6), (115, 119.5),
     [("coumarin", "O=c1ccc2ccccc2o1"), ("6-methyl-2-pyranone", "Cc1cccc(=O)o1")]),
    ("flat five-ring R-C2-O1 beside C=N", "[!#1;!R]-[#6X3;r5;!a](=[#7;r5])-[#8;r5]", "angle", (0, 1, 3), (111, 119.5),
     [("pemoline", "NC1=NC(=O)C(O1)c1ccccc1"), ("2-methyl-2-oxazoline", "CC1=NCCO1")]),
    ("fused furan O1-C7a-C7", "[#6X4;R]-[#6;a;r5]:[#8;a;r5]", "angle", (0, 1, 2), (117, 124),
     [("4,5,6,7-tetrahydrobenzofuran", "c1coc2c1CCCC2")]),
    ("aryl ether ipso C-C-O, the alkyl's side", "[CH3,CH2;X4]-[#8X2;!R]-c(:[cH]):c", "syn", (0, 1, 2, 3, 4),
     (122.5, 126.5),
     [("anisole", "COc1ccccc1"), ("4-methylanisole", "COc1ccc(C)cc1"), ("veratrole", "COc1ccccc1OC"),
      ("phenetole", "CCOc1ccccc1")]),
    ("aryl ether ipso C-C-O, the other side", "[CH3,CH2;X4]-[#8X2;!R]-c(:[cH]):c", "anti", (0, 1, 2, 3, 4),
     (113.5, 117.5),
     [("anisole", "COc1ccccc1"), ("4-methylanisole", "COc1ccc(C)cc1"), ("veratrole", "COc1ccccc1OC"),
      ("phenetole", "CCOc1ccccc1")]),
    ("branched alkyl aryl ether C-O-C", "[CX4;H1,H0]-[#8X2;!R]-c", "angle", (0, 1, 2), (112, 122),
     [("isopropoxybenzene", "CC(C)Oc1ccccc1"), ("cyclopentyloxybenzene", "C1CCC(C1)Oc1ccccc1"),
      ("3-cyclopentyloxy-4-methoxytoluene", "COc1ccc(C)cc1OC1CCCC1"), ("tert-butoxybenzene", "CC(C)(C)Oc1ccccc1"),
      ("clofibric acid", "CC(C)(Oc1ccc(Cl)cc1)C(=O)O")]),
    ("C-CH2-C beside a quaternary carbon", "[CX4]-[CH2X4;!R]-[CX4H0]", "angle", (0, 1, 2), (113, 122),
     [("2,2-dimethylbutane", "CCC(C)(C)C"), ("2,2-dimethylhexane", "CCCCC(C)(C)C"),
      ("3,3-dimethylpentane", "CCC(C)(C)CC")]),
    ("C-CH2-S of sulfides and thiols", "[CX4]-[CH2X4;!R]-[#16X2]", "angle", (0, 1, 2), (110.5, 117.5),
     [("ethanethiol", "CCS"), ("diethyl sulfide", "CCSCC"), ("cysteine", "N[C@@H](CS)C(=O)O")]),
    ("S-thiocarbamate N-C-S", "[#7X3]-[#6X3;!R](=[#8])-[#16X2]-[#6]", "angle", (0, 1, 3), (110, 116),
     [("S-ethyl dipropylthiocarbamate", "CCCN(CCC)C(=O)SCC"), ("S-ethyl thiocarbamate", "CCSC(=O)NC")]),
    ("O-thiocarbamate N-C-O", "[#7X3]-[#6X3;!R](=[#16])-[#8X2]-[#6]", "angle", (0, 1, 3), (107, 115),
     [("O-phenyl dimethylthiocarbamate", "CN(C)C(=S)Oc1ccccc1"),
      ("tolnaftate", "Cc1cccc(N(C)C(=S)Oc2ccc3ccccc3c2)c1")]),
    ("imidate anion O-C=N", "[#8X1-]-[#6X3;!R]=[#7]", "angle", (0, 1, 2), (125, 131),
     [("N-acetylbenzenesulfonamide anion", "CC([O-])=NS(=O)(=O)c1ccccc1"),
      ("tolbutamide anion", "CCCCNC([O-])=NS(=O)(=O)c1ccc(C)cc1")]),
    ("thioimidate N=C-S", "[#7]=[#6X3;!R](-[#16X2])-[#6]", "angle", (0, 1, 2), (120, 127),
     [("methyl N-methylthioacetimidate", "CSC(C)=NC"), ("methomyl", "CSC(C)=NOC(=O)NC")]),
    ("thioimidate C-C-S", "[#7]=[#6X3;!R](-[#16X2])-[#6]", "angle", (3, 1, 2), (111, 117),
     [("methyl N-methylthioacetimidate", "CSC(C)=NC"), ("methomyl", "CSC(C)=NOC(=O)NC")]),
    ("hydroxamic C-N-O", "[#8]=[#6]-[#7X3;!R](-[#8X2])-[#6;!$([#6]=[#8])]", "angle", (4, 2, 3), (111, 117),
     [("N-methylacetohydroxamic acid", "CC(=O)N(C)O"), ("N-methoxy-N-methylbenzamide", "CON(C)C(=O)c1ccccc1"),
      ("N-phenylbenzohydroxamic acid", "ON(C(=O)c1ccccc1)c1ccccc1")]),
    ("benzylic CH2 chain out of the ring plane", "a:a-[CH2X4;!R]-[CX4]", "torsion", (0, 1, 2, 3), (70, 110),
     [("ethylbenzene", "CCc1ccccc1"), ("1-neopentyl-1,2,4-triazole", "CC(C)(C)Cn1cncn1"),
      ("fluconazole thioether", "CCCCCS[C@H](C)[C@](O)(Cn1cncn1)c2ccc(F)cc2F"),
      ("fluconazole sulfone", "C[C@H]([C@](O)(Cn1cncn1)c2ccc(F)cc2F)S(=O)(=O)C")]),
    ("azolylmethyl C-N1-N2", "[CH2X4]-[n;r5]:[n;r5]", "angle", (0, 1, 2), (117, 125.5),
     [("1-benzyl-1,2,4-triazole", "c1ccccc1Cn1cncn1"), ("fluconazole thioether", "CCCS[C@H](C)[C@](O)(Cn1cncn1)c2ccc(F)cc2F"),
      ("fluconazole pentyl thioether", "CCCCCS[C@H](C)[C@](O)(Cn1cncn1)c2ccc(F)cc2F")]),
    ("aryl trifluoromethyl ether C-C-O-C off the plane", "[CX4](F)(F)(F)-[#8X2]-c:c", "fold", (6, 5, 4, 0), (70, 90),
     [("trifluoromethoxybenzene", "FC(F)(F)Oc1ccccc1"), ("4-(trifluoromethoxy)aniline", "Nc1ccc(OC(F)(F)F)cc1"),
      ("riluzole", "Nc1nc2ccc(OC(F)(F)F)cc2s1")]),
    ("aryl trifluoromethyl ether C-O-C", "[CX4](F)(F)(F)-[#8X2]-c", "angle", (0, 4, 5), (115.5, 121),
     [("trifluoromethoxybenzene", "FC(F)(F)Oc1ccccc1"), ("4-(trifluoromethoxy)aniline", "Nc1ccc(OC(F)(F)F)cc1"),
      ("riluzole", "Nc1nc2ccc(OC(F)(F)F)cc2s1")]),
    ("C-CH2-N of N-alkyl aromatic nitrogens", "[CX4;!H0]-[CH2X4;!R]-[nX3]", "angle", (0, 1, 2), (110, 116),
     [("1-ethylpyrrole", "CCn1cccc1"), ("9-ethylcarbazole", "CCn1c2ccccc2c2ccccc21"),
      ("1-propylimidazole", "CCCn1ccnc1")]),
    ("five-ring C=C-N link of an acyl nitrogen off flat", "[#6;r5]=[#6;r5]-[#7X3;r5;!a](-[#6]=[#8])-[#6,#7;r5]", "fold",
     (0, 1, 2, 4), (0, 15),
     [("1-acetyl-2-pyrroline", "CC(=O)N1CCC=C1"), ("bicyclic pyrazolidinone", "O=C1CCN2CC=CN12"),
      ("bicyclic pyrazolidinone antibacterial", "CO/N=C(/C(=O)N[C@H]1CN2CC=C(N2C1=O)C(=O)O)c1csc(N)n1")]),
    ("C-N-N at a pyrazoline's sp3 nitrogen beside an acyl nitrogen",
     "[#6X4;r5]-[#7X3;r5;!a]-[#7X3;r5;!a](-[#6]=[#8])-[#6;r5]=[#6;r5]", "angle", (0, 1, 2), (103, 109),
     [("bicyclic pyrazolidinone", "O=C1CCN2CC=CN12"),
      ("bicyclic pyrazolidinone antibacterial", "CO/N=C(/C(=O)N[C@H]1CN2CC=C(N2C1=O)C(=O)O)c1csc(N)n1")]),
    ("nucleoside O4'-C1'-N", "[#8X2;r5]-[#6X4;r5]!@[#7]", "angle", (0, 1, 2), (106, 111),
     [("adenosine", "Nc1ncnc2c1ncn2[C@@H]1O[C@H](CO)[C@@H](O)[C@H]1O"),
      ("thymidine", "Cc1cn([C@H]2C[C@H](O)[C@@H](CO)O2)c(=O)[nH]c1=O"),
      ("uridine", "O=c1ccn([C@@H]2O[C@H](CO)[C@@H](O)[C@H]2O)c(=O)[nH]1")]),
    ("O-C-C(=O) at a ring's quaternary carbon carrying an ether or ester oxygen",
     "[#8X2;!R;!H1]-[#6X4;R;H0]!@[#6;!R]=[#8]", "angle", (0, 1, 2), (109, 116),
     [("17-acetoxyprogesterone", "CC(=O)O[C@]1(C(C)=O)CC[C@H]2[C@@H]3CCC4=CC(=O)CC[C@]4(C)[C@H]3CC[C@@]21C"),
      ("methyl 1-O-methylquinate", "CO[C@@]1(C(=O)OC)C[C@@H](O)[C@@H](O)[C@H](O)C1")]),
    ("C-CH2-P at a four-connected phosphorus", "[#6]-[CH2X4;!R]-[PX4]", "angle", (0, 1, 2), (111, 118),
     [("tetraethylphosphonium", "CC[P+](CC)(CC)CC"), ("diethyl ethylphosphonate", "CCOP(=O)(CC)OCC"),
      ("ethephon", "OP(=O)(O)CCCl"), ("tripropylphosphine oxide", "CCCP(=O)(CCC)CCC")]),
    ("C-C-C between two chains on a ring's quaternary carbon", "[!#1]-[CH2X4;!R]-[CX4;R;H0]-[CH2X4;!R]-[!#1]",
     "angle", (1, 2, 3), (106, 114),
     [("barbital", "CCC1(CC)C(=O)NC(=O)NC1=O"), ("metharbital", "CCC1(CC)C(=O)NC(=O)N(C)C1=O"),
      ("diethyl fluorene-9,9-dipropanoate", "CCOC(=O)CCC1(CCC(=O)OCC)c2ccccc2-c2ccccc21"),
      ("a cyclohexane-1,1-diacetic monoamide", "O=C([O-])CC1(CC(=O)N2CCN3C(=O)N(CCO)C(=O)C3C2)CCCC1")]),
    ("N1-C4-X at a beta-lactam's C4", "[#6X3;r4](=[#8])-[#7;r4]-[#6X4;r4]-[!#1;!R]", "angle", (2, 3, 4), (109, 114.5),
     [("1-acetyl-4-(methylthio)azetidin-2-one", "CC(=O)N1C(CC1=O)SC"),
      ("an N-carbamoyl 4-thioazetidin-2-one", "C[C@@H](NC(=O)N1C(CC1=O)SCc2ccccn2)c3ccccc3")]),
    ("C=C-C of an alkene's =CH- on a quaternary carbon", "[#6;!a]=[#6X3H1;!R]-[#6X4H0]", "angle", (0, 1, 2),
     (124.5, 133),
     [("3,3-dimethylbut-1-ene", "C=CC(C)(C)C"), ("(E)-4,4-dimethylpent-2-ene", "C/C=C/C(C)(C)C"),
      ("2,4,4-trimethylpent-2-ene", "CC(C)=CC(C)(C)C")]),
    ("N-aryl six-ring amine C-N-C", "[#6X4;r6]-[#7X3;r6;!$([#7]-[#6,#16]=[#8,#16,#7])](-c)-[#6X4;r6]", "angle",
     (0, 1, 3), (109.5, 116),
     [("1-phenylpiperazine", "c1ccccc1N1CCNCC1"), ("1-phenylpiperidine", "c1ccccc1N1CCCCC1"),
      ("ciprofloxacin", "C1CC1N2C=C(C(=O)C3=CC(=C(C=C32)N4CCNCC4)F)C(=O)O")]),
    ("allylic methine H-C-C=C", "[#1]-[#6X4H1;!r3]-!@[#6X3H1;!a]=[#6]", "torsion", (0, 1, 2, 3), (0, 40),
     [("quinine", "COC1=CC2=C(C=CN=C2C=C1)[C@H]([C@@H]3C[C@@H]4CCN3C[C@@H]4C=C)O"),
      ("3-methylbut-1-ene", "C=CC(C)C"), ("(Z)-4-methylhex-2-ene", "C/C=C\\C(C)CC")]),
    ("ammonium C-N+ on a branched carbon", "[#6X4;!$([#6](-[#1])(-[#1]))]-!@[#7X4+]", "bond", (0, 1), (1.48, 1.53),
     [("a ring methine's methylammonium", "CN(C)CC1OC(CO)C(O)C1[NH+](C)CCc1ccccc1"),
      ("isopropyldimethylammonium", "CC(C)[NH+](C)C")]),
    # Groups whose angles a crowded flat link, a fold or a generic value once
    # opened well past their window.
    ("biguanide N=C-N at the imine carbon", "[#7X3]-[#6X3;!R](=[#7X2])-[#7X2]=[#6X3;!R](-[#7X3])-[#7X3]", "angle",
     (2, 1, 3), (116, 125),
     [("metformin", "CN(C)C(=N)N=C(N)N"), ("phenformin", "NC(N)=NC(=N)NCCc1ccccc1"),
      ("buformin", "CCCCNC(=N)N=C(N)N")]),
    ("guanidine N-C-N between its amino nitrogens", "[#7X3;+0;!a]-[#6X3;!R](=[#7;+0])-[#7X3;+0;!a]", "angle",
     (0, 1, 3), (113, 120),
     [("metformin", "CN(C)C(=N)N=C(N)N"), ("tetramethylguanidine", "CN(C)C(=N)N(C)C"),
      ("1,3-diphenylguanidine", "N=C(Nc1ccccc1)Nc1ccccc1")]),
    ("ester O=C-O beside a cis acyl", "[#8X1]=[#6X3](-[#8X2]-[#6])-[#6;$([#6]:[#6]-[#6]=[#8]),$([#6]=[#6]-[#6]=[#8])]",
     "angle", (0, 1, 2), (120, 127),
     [("diethyl phthalate", "CCOC(=O)c1ccccc1C(=O)OCC"), ("dimethyl phthalate", "COC(=O)c1ccccc1C(=O)OC"),
      ("triethyl aconitate", "CCOC(=O)CC(=CC(=O)OCC)C(=O)OCC"),
      ("triethyl cis-aconitate", "CCOC(=O)C/C(=C/C(=O)OCC)C(=O)OCC")]),
    ("vinyl ester C=C-O-C(=O)", "[#6]=[#6;!a]-[#8X2;!R]-[#6]=[#8]", "angle", (1, 2, 3), (113, 120),
     [("vinyl acetate", "CC(=O)OC=C"), ("vinyl benzoate", "C=COC(=O)c1ccccc1")]),
    ("N-CH2-C(=O) and N-CH2-P at a secondary amine", "[#7X3;H1;!a;+0]-[CH2X4]-[#6X3,#15X4;$([#6]=[#8]),#15]",
     "angle", (0, 1, 2), (106, 114),
     [("glyphosate", "C(C(=O)O)NCP(=O)(O)O"), ("iminodiacetic acid", "OC(=O)CNCC(=O)O"),
      ("sarcosine", "CNCC(=O)O")]),
    ("N-C-P of an aminomethylphosphonic acid", "[#7X3;!a]-[CH2X4]-[#15X4]", "angle", (0, 1, 2), (106, 114),
     [("glyphosate", "C(C(=O)O)NCP(=O)(O)O"),
      ("nitrilotris(methylenephosphonic acid)", "C(N(CP(=O)(O)O)CP(=O)(O)O)P(=O)(O)O")]),
    ("ring C=C-C(chain) toward the ring's quaternary carbon", "[#6;!R]-[#6X3;R](=[#6;R])-[#6X4H0;R]", "angle",
     (0, 1, 3), (112, 122),
     [("beta-ionone", "CC(=O)/C=C/C1=C(C)CCCC1(C)C"),
      ("retinol", "CC1=C(C(C)(C)CCC1)/C=C/C(C)=C/C=C/C(C)=C/CO"),
      ("beta-carotene half (beta-cyclocitral)", "CC1=C(C=O)C(C)(C)CCC1")]),
    ("macrocyclic ketone C-C(=O)-C", "[#6X4;R]-[#6X3;R;!r3;!r4;!r5;!r6;!r7;!r8](=[#8X1])-[#6X4;R]", "angle",
     (0, 1, 3), (112, 125),
     [("erythromycin A", "CC[C@@H]1[C@@]([C@@H]([C@H](C(=O)[C@@H](C[C@@]([C@@H]([C@H]([C@@H]([C@H](C(=O)O1)C)O[C@H]2C[C@@]([C@H]([C@@H](O2)C)O)(C)OC)C)O[C@H]3[C@@H]([C@H](C[C@H](O3)C)N(C)C)O)(C)O)C)C)O)(C)O")]),
    ("tertiary ammonium C-N+-C of chains", "[#6X4]-[NX4H1+;!R](-[#6X4])-[#6X4]", "angle", (0, 1, 2), (108, 116),
     [("triethylammonium", "CC[NH+](CC)CC"), ("tributylammonium", "CCCC[NH+](CCCC)CCCC"),
      ("protonated Hunig's base", "CC[NH+](C(C)C)C(C)C")]),
]

# Charge-separated N-N and N-O bonds, aromatic rings' carbonyl carbons,
# sulfoxides and azine rings.
GROUP_ROWS += [
    ("azide terminal N-N", "[#7]=[#7+]=[#7X1-]", "bond", (1, 2), (1.10, 1.17),
     [("methyl azide", "CN=[N+]=[N-]"),
      ("zidovudine", "CC1=CN(C(=O)NC1=O)[C@H]2C[C@@H]([C@H](O2)CO)N=[N+]=[N-]")]),
    ("azide inner N-N", "[#6]-[#7]=[#7+]=[#7X1-]", "bond", (1, 2), (1.20, 1.26),
     [("methyl azide", "CN=[N+]=[N-]"), ("phenyl azide", "[N-]=[N+]=Nc1ccccc1")]),
    ("aromatic N-oxide N-O", "[n+]-[#8X1-]", "bond", (0, 1), (1.25, 1.33),
     [("pyridine N-oxide", "[O-][n+]1ccccc1"), ("minoxidil N-oxide", "Nc1cc(N2CCCCC2)nc(N)[n+]1[O-]")]),
    ("nitrone N-O", "[#6]=[#7+;!a]-[#8X1-]", "bond", (1, 2), (1.25, 1.33),
     [("chlordiazepoxide", "CNC1=NC2=C(C=C(C=C2)Cl)C(=[N+](C1)[O-])C3=CC=CC=C3"),
      ("N-methyl-C-phenylnitrone", "C/[N+]([O-])=C/c1ccccc1")]),
    ("azoxy N-O", "[#7]=[#7+]-[#8X1-]", "bond", (1, 2), (1.25, 1.31),
     [("E-azoxybenzene", "c1ccccc1/[N+]([O-])=N/c1ccccc1"), ("azoxymethane", "C/[N+]([O-])=N/C")]),
    ("azoxy N=N-O", "[#7]=[#7+]-[#8X1-]", "angle", (0, 1, 2), (122, 128),
     [("E-azoxybenzene", "c1ccccc1/[N+]([O-])=N/c1ccccc1"), ("azoxymethane", "C/[N+]([O-])=N/C")]),
    ("aromatic six-ring C-C(=O)", "[#6;a;r6]:[#6;a;r6]=[#8X1]", "bond", (0, 1), (1.43, 1.48),
     [("2-pyridone", "O=c1cccc[nH]1"), ("4-pyridone", "O=c1cc[nH]cc1"), ("chromone", "O=c1ccoc2ccccc12"),
      ("coumarin", "O=c1ccc2ccccc2o1"),
      ("ciprofloxacin", "OC(=O)C1=CN(C2CC2)C2=CC(N3CCNCC3)=C(F)C=C2C1=O"),
      ("warfarin", "CC(=O)CC(C1=CC=CC=C1)C2=C(C3=CC=CC=C3OC2=O)O")]),
    ("sulfoxide C-S-C", "[#6]-[#16X3;!R](=[#8X1])-[#6]", "angle", (0, 1, 3), (95, 101),
     [("dimethyl sulfoxide", "CS(C)=O"), ("methyl phenyl sulfoxide", "CS(=O)c1ccccc1"),
      ("omeprazole", "CC1=CN=C(C(=C1OC)C)CS(=O)C2=NC3=C(N2)C=CC(=C3)OC")]),
    ("sulfoxide C-S=O", "[#6]-[#16X3;!R](=[#8X1])-[#6]", "angle", (0, 1, 2), (104, 109),
     [("dimethyl sulfoxide", "CS(C)=O"), ("methyl phenyl sulfoxide", "CS(=O)c1ccccc1")]),
    ("azine C-N-C away from a five-ring", "[#6;a;x2;!$(*=*)]:[nX2;r6]:[#6;a;!$(*=*);!$(*:[#7;r5])]", "angle",
     (0, 1, 2), (113, 118.5),
     [("pyridine", "c1ccncc1"), ("pyrimidine", "c1cncnc1"), ("pyrazine", "c1cnccn1"),
      ("trimethoprim", "COc1cc(Cc2cnc(N)nc2N)cc(OC)c1OC")]),
    ("azine N-C-N", "[nX2;r6]:[#6;a;!$(*=*)]:[nX2;r6]", "angle", (0, 1, 2), (124.5, 130.5),
     [("pyrimidine", "c1cncnc1"), ("adenosine", "C1=NC(=C2C(=N1)N(C=N2)[C@H]3[C@@H]([C@@H]([C@H](O3)CO)O)O)N"),
      ("1,3,5-triazine", "c1ncncn1")]),
    ("purine C2-N3-C4", "[#6;a;x2]:[nX2;r6]:[#6;a;x3]:[#7;r5;X3]", "angle", (0, 1, 2), (109, 115),
     [("adenosine", "C1=NC(=C2C(=N1)N(C=N2)[C@H]3[C@@H]([C@@H]([C@H](O3)CO)O)O)N"),
      ("ATP", "C1=NC(=C2C(=N1)N(C=N2)[C@H]3[C@@H]([C@@H]([C@H](O3)COP(=O)(O)OP(=O)(O)OP(=O)(O)O)O)O)N"),
      ("9-methylpurine", "Cn1cnc2cncnc21")]),
]

# Crowded ethers, amines and alkanes: a methoxy between two ortho
# substituents, a tertiary amine's chain C-N-C, sp3 C-C bonds between
# carbons that carry at most one hydrogen, one of them none.
GROUP_ROWS += [
    ("C-O-C of a methoxy between two ortho substituents", "[CH3]-[#8X2]-c(:c-!@[!#1]):c-!@[!#1]", "angle",
     (0, 1, 2), (111, 117),
     [("omeprazole", "CC1=CN=C(C(=C1OC)C)CS(=O)C2=NC3=C(N2)C=CC(=C3)OC"),
      ("2,6-dimethylanisole", "COc1c(C)cccc1C"), ("1,2,3-trimethoxybenzene", "COc1cccc(OC)c1OC")]),
    ("tertiary amine C-N-C in a chain", "[#6X4]-!@[#7X3;+0;!$([#7]~[!#6]);!$([#7]~[#6;!X4])]-!@[#6X4]", "angle",
     (0, 1, 2), (106, 116),
     [("chloroquine", "CCN(CC)CCCC(C)NC1=C2C=CC(=CC2=NC=C1)Cl"), ("triethylamine", "CCN(CC)CC")]),
    ("sp3 C-C, quaternary to tertiary or quaternary",
     "[#6X4;!r3;!r4;!$([#6]~[#1])]-[#6X4;!r3;!r4;!$([#6](~[#1])~[#1])]", "bond", (0, 1), (1.54, 1.60),
     [("paclitaxel", "CC1=C2[C@H](C(=O)[C@@]3([C@H](C[C@@H]4[C@]([C@H]3[C@@H]([C@@](C2(C)C)(C[C@@H]1OC(=O)"
       "[C@@H]([C@H](C5=CC=CC=C5)NC(=O)C6=CC=CC=C6)O)O)OC(=O)C7=CC=CC=C7)(CO4)OC(=O)C)O)C)OC(=O)C"),
      ("hexamethylethane", "CC(C)(C)C(C)(C)C")]),
]

_QUERIES = {}


def group_values(mol, x, smarts, kind, at):
    """Each match's value of one row in a conformer's coordinates."""
    import quorix

    if smarts not in _QUERIES:
        _QUERIES[smarts] = quorix.parse_smarts(smarts)
    query = _QUERIES[smarts]
    g = Graph(mol)
    out = []
    for match in query.match(mol):
        p = [match[i] for i in at]
        if kind == "bond":
            out.append(norm(sub(x[p[0]], x[p[1]])))
        elif kind == "angle":
            out.append(angle(x, *p))
        elif kind == "fold":
            t = abs(torsion(x, *p))
            out.append(min(t, 180 - t))
        elif kind in ("syn", "anti"):
            alkyl, o, ipso, *ortho = p
            near, far = sorted(ortho, key=lambda r: norm(sub(x[r], x[alkyl])))
            out.append(angle(x, near if kind == "syn" else far, ipso, o))
        elif kind == "torsion":
            out.append(abs(torsion(x, *p)))
        else:
            oxygens = lambda a: [y for y in g.nbrs[a] if g.z[y] == 8 and y != p[1]]
            out.append(min(norm(sub(x[o], x[q])) for o in oxygens(p[0]) for q in oxygens(p[2])))
    return out


def group_row_values(mol, x):
    """Per row label, the values over every match in one conformer."""
    return {label: group_values(mol, x, smarts, kind, at) for label, smarts, kind, at, _, _ in GROUP_ROWS}


def group_one(source):
    import quorix

    try:
        conf = (quorix.parse_smiles(source) if isinstance(source, str) else make(source)).conformer()
    except ValueError:
        return {}
    return group_row_values(conf.mol, [tuple(p) for p in conf.coords])


def group_report(limit, pool=None, out=sys.stdout):
    """Each row on its named molecules, then over the real records (median, count,
    share inside the window); returns the figures as a record."""
    named = [smiles for *_, mols in GROUP_ROWS for _, smiles in mols]
    sources = [s for _, s in molecules(limit)]
    run = (lambda f, xs: list(pool.imap(f, xs, chunksize=4))) if pool else (lambda f, xs: [f(s) for s in xs])
    named_values = dict(zip(named, run(group_one, named)))
    real = run(group_one, sources)
    figures = {}
    for label, _, kind, _, (lo, hi), mols in GROUP_ROWS:
        fmt = "%.3f" if kind in ("bond", "bridge") else "%.1f"
        for name, smiles in mols:
            values = named_values[smiles].get(label, [])
            figures["%s: %s" % (label, name)] = [round(v, 3) for v in values]
            shown = ", ".join(fmt % v for v in values) or "none"
            print("%s, %s: %s (window %s-%s)" % (label, name, shown, fmt % lo, fmt % hi), file=out)
        values = [v for r in real for v in r.get(label, [])]
        inside = sum(lo <= v <= hi for v in values)
        figures[label] = [round(statistics.median(values), 3) if values else None, len(values), inside]
        if values:
            print("%s, real records: median %s over %d, %d inside" % (label, fmt % statistics.median(values),
                                                                    len(values), inside), file=out)
    return figures


def named_one(task):
    """The record of one named molecule, with the lines to print under "_lines"."""
    import quorix

    name, smiles, repeat = task
    meta = {"key": "named " + name, "id": name, "drug": False}
    try:
        conf, g, x, r = measure(quorix.parse_smiles(smiles), repeat)
    except Exception as e:
        # Refusal is itself a figure for the impossible cages; the type tells a
        # deliberate ValueError from a crash.
        meta["error"] = "%s: %s" % (type(e).__name__, e)
        meta["_lines"] = ["%s: refused (%s)" % (name, meta["error"])]
        return meta
    r["chain"] = [round(torsion(x, *q), 2) for q in CHAIN.get(name, [])]
    if (name, smiles) in NAMED_CONTACTS:
        r["trigonal"] = r.get("trigonal", []) + contact_rows(g, x)
    r.update(shape_figures(g, x, conf.mol.atom_descriptors(), cycles(g)))
    meta.update(r)
    geometry = "; ".join("%s %s" % row for row in named_figures(meta))
    if (name, smiles) not in NAMED:
        meta["_lines"] = ["%s: %s" % (name, geometry)]
        return meta
    parts = ["%s: energy %.2g" % (name, r["energy"])]
    if r["amides"]:
        parts.append("amides " + ", ".join("%s %.1f%s" % (k, d, " cis" if c else "") for k, d, c in r["amides"]))
    if name == "Leu-enkephalin":
        peptide = []
        for (c, n), order in g.order.items():
            o = g.double_partner(c, (8,)) if g.z[c] == 6 and g.z[n] == 7 and order == 1.0 else None
            if o is not None:
                heavy = [y for y in g.nbrs[n] if y != c and g.z[y] != 1]
                if heavy:
                    peptide.append("%.0f" % torsion(x, o, c, n, heavy[0]))
        parts.append("O=C-N-C " + " ".join(peptide))
    subs = [s[0] for s in r["subs"]]
    if subs:
        parts.append("substituents worst %.1f median %.1f deg" % (max(subs), statistics.median(subs)))
    if r["ring_db"]:
        parts.append("ring C=C " + ", ".join("%.1f" % d for d, _ in r["ring_db"]))
    if r["span"] is not None:
        parts.append("span %.1f A" % r["span"])
    if r["sp2"]:
        parts.append("sp2 sums min %.1f" % min(v for _, v in r["sp2"]))
    if r["backbone"]:
        parts.append("R-C(=O)-N-X " + ", ".join("%.1f" % d for d in r["backbone"]))
    if r["db"][1]:
        parts.append("cis/trans %d/%d, read back %d/%d" % tuple(r["db"] + r["db_read"]))
    parts.append("sp3 widest %.0f" % r["sp3_widest"])
    parts.append("converged %s" % conf.converged)
    meta["_lines"] = ["; ".join(parts)] + (["  " + geometry] if geometry else [])
    return meta


def named_report(repeat, out=sys.stdout, pool=None):
    tasks = [(name, smiles, repeat)
             for name, smiles in NAMED + NAMED_GEOMETRY + NAMED_MORE + NAMED_LARGE + NAMED_TRIGONAL +
             NAMED_CONTACTS]
    records = list(pool.imap(named_one, tasks)) if pool else [named_one(t) for t in tasks]
    for r in records:
        for line in r.pop("_lines"):
            print(line, file=out)
    return records


def compare(before_path, after_path):
    records = lambda p: [json.loads(line) for line in open(p)]
    before_all, after_all = records(before_path), records(after_path)
    load = lambda rs: {r["key"]: r for r in rs if not r["key"].startswith("named ")}
    before, after = load(before_all), load(after_all)
    same = judged = 0
    gained = {"bond": [], "pair": [], "chiral": []}
    for key, a in after.items():
        b = before.get(key)
        if b is None or "error" in a or "error" in b:
            continue
        same += a["coords"] == b["coords"]
        if "bond" in a and "bond" in b:
            judged += 1
            if a["bonds_over"] > b["bonds_over"]:
                gained["bond"].append("%d bonds beyond 0.1 A (were %d), worst %.3f A (was %.3f) %s" % (
                    a["bonds_over"], b["bonds_over"], a["bond"], b["bond"], key))
            if a["pairs_over"] > b["pairs_over"]:
                gained["pair"].append("%d pairs beyond 0.1 A (were %d), worst %.3f A (was %.3f) %s" % (
                    a["pairs_over"], b["pairs_over"], a["pair"], b["pair"], key))
        if a["chiral"][0] < b["chiral"][0]:
            gained["chiral"].append("chiral %s (was %s) %s" % (a["chiral"], b["chiral"], key))
    print("%d molecules in both; identical coordinates %d; bounds judged on %d" % (
        len(set(before) & set(after)), same, judged))
    # Molecules the holds of sp2 carbons and lactams leave alone and whose
    # first conformer had no angle fault must keep their bytes.
    if not any("angle_faults" in b for b in before.values()):
        print("the before file has no angle faults (saved without --bench, or with a bench that does not count them)")
    untouched = [k for k, a in after.items() if k in before and "error" not in a and "error" not in before[k]
                 and not a.get("sp2") and not a.get("lactams") and before[k].get("angle_faults") == 0]
    moved = [k for k in untouched if after[k]["coords"] != before[k]["coords"]]
    print("without a non-aromatic sp2 carbon, a lactam or an earlier angle fault: %d, coordinates changed: %d %s" % (
        len(untouched), len(moved), moved[:10]))
    print("molecules with more bonds beyond their bounds by > 0.1 A: %d" % len(gained["bond"]))
    print("molecules with more pairs (within a piece) beyond their bounds by > 0.1 A: %d" % len(gained["pair"]))
    print("molecules with fewer right chiral centres: %d" % len(gained["chiral"]))
    for kind in ("bond", "chiral", "pair"):
        for e in gained[kind][:15]:
            print("  " + e)
    figure_table(before_all, after_all)


README_SQUARIC = [("squaric acid", "OC1=C(O)C(=O)C1=O"), ("squarate", "[O-]C1=C([O-])C(=O)C1=O"),
                  ("squaramide", "NC1=C(N)C(=O)C1=O")]
# (four-ring, open chain, the bond's two elements)
README_FOUR_RINGS = [("cyclobutane", "C1CCC1", "butane", "CCCC", (6, 6)),
                     ("oxetane", "C1COC1", "diethyl ether", "CCOCC", (6, 8))]
README_BIARYLS = [("biphenyl", "c1ccccc1-c1ccccc1"), ("4,4'-dimethylbiphenyl", "Cc1ccc(cc1)-c1ccc(C)cc1"),
                  ("4-phenylpyridine", "c1cc(ccn1)-c1ccccc1"), ("2-phenylpyridine", "c1ccc(cc1)-c1ccccn1"),
                  ("2-methylbiphenyl", "Cc1ccccc1-c1ccccc1"), ("2,2'-dimethylbiphenyl", "Cc1ccccc1-c1ccccc1C")]
README_FLAT = [("benzene", "c1ccccc1"), ("naphthalene", "c1ccc2ccccc2c1"), ("pyridine", "c1ccncc1"),
               ("furan", "c1ccoc1"), ("pyrrole", "c1cc[nH]c1"), ("anthracene", "c1ccc2cc3ccccc3cc2c1")]


def readme_named():
    """Lines of the named molecules' README figures."""
    import quorix

    def made(smiles):
        c = quorix.parse_smiles(smiles).conformer()
        return c, Graph(c.mol), [tuple(p) for p in c.coords]

    def lengths(g, x, pairs):
        return [math.dist(x[a], x[b]) for a, b in pairs]

    lines = []
    for name, smiles in README_SQUARIC:
        _, g, x = made(smiles)
        ring = next(r for r in cycles(g, 4) if len(r) == 4)
        d = lengths(g, x, zip(ring, ring[1:] + ring[:1]))
        lines.append("squaric ring bonds, %s: %.3f-%.3f A" % (name, min(d), max(d)))
    for ring_name, ring_smiles, chain_name, chain_smiles, elements in README_FOUR_RINGS:
        mean = []
        for smiles in (ring_smiles, chain_smiles):
            _, g, x = made(smiles)
            pairs = [(a, b) for (a, b) in g.order if a < b and sorted((g.z[a], g.z[b])) == list(elements)]
            mean.append(statistics.mean(lengths(g, x, pairs)))
        lines.append("four-ring bond, %s %.3f A less %s %.3f A: %+.3f A" % (
            ring_name, mean[0], chain_name, mean[1], mean[0] - mean[1]))
    for name, smiles in README_BIARYLS:
        c, g, x = made(smiles)
        twists = biaryls(g, x, c.mol.atom_descriptors())
        lines.append("biaryl twist, %s: %s deg" % (name, ", ".join("%.1f" % t for t, _ in twists)))
    c, _, _ = made("CCO")
    lines.append("ethanol: energy_before %.1f, iterations %d, energy %.1f" % (c.energy_before, c.iterations, c.energy))
    for name, smiles in README_FLAT:
        c, _, x = made(smiles)
        lines.append("flat, %s: largest |z| %.1e A, read back as 3-D: %s" % (
            name, max(abs(p[2]) for p in x), quorix.parse_molblock(c.to_molblock()).is_3d))
    # The largest molecule the conformer accepts, on this process's CPU clock.
    mol = quorix.parse_smiles("C" * 332 + "N")
    start = time.process_time()
    c = mol.conformer()
    lines.append("largest conformer, C332 amine: %d atoms with hydrogens, %.1f s CPU" % (
        len(c.coords), time.process_time() - start))
    return lines


def readme_refinement(task):
    """How the refinement of one data molecule ended (run in a worker process)."""
    meta, source = task
    try:
        c = make(source).conformer()
    except ValueError:
        return None
    return meta["key"], c.iterations, c.converged, c.energy_before, c.energy, all(p[2] == 0.0 for p in c.coords)


def readme_report(jobs):
    for line in readme_named():
        print(line)
    tasks = list(molecules(0))
    if jobs > 1:
        import multiprocessing

        with multiprocessing.get_context("fork").Pool(jobs) as pool:
            ends = [e for e in pool.imap(readme_refinement, tasks, chunksize=8) if e]
    else:
        ends = [e for e in map(readme_refinement, tasks) if e]
    stuck = [e for e in ends if not e[2]]
    at = lambda cap: sum(e[1] == cap for e in stuck)
    print("data: %d conformers (%d refused); not converged %d (%.1f%%): at 300 iterations %d, at 400 %d, "
          "elsewhere %d" % (len(ends), len(tasks) - len(ends), len(stuck), pct(len(stuck), len(ends)), at(300),
                            at(400), len(stuck) - at(300) - at(400)))
    idle = [e for e in ends if e[1] == 0]
    print("data: iterations = 0 for %d, energy_before %.2g-%.2g, energy above 0 for %d; most iterations %d, "
          "median %d" % (len(idle), min((e[3] for e in idle), default=0), max((e[3] for e in idle), default=0),
                         sum(e[4] > 0 for e in idle), max(e[1] for e in ends),
                         statistics.median(e[1] for e in ends)))
    print("data: every z exactly 0 for %d" % sum(e[5] for e in ends))


_BENCH = None


def start_worker(bench_path):
    global _BENCH
    if bench_path:
        _BENCH = subprocess.Popen([bench_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)


def measure_one(task):
    """The record of one data molecule (run in a worker process)."""
    meta, source, repeat = task
    try:
        conf, g, x, r = measure(make(source), repeat)
    except ValueError as e:
        meta["error"] = str(e)
        return meta
    meta.update(r)
    if _BENCH:
        _BENCH.stdin.write(bench_line(meta["key"], g, x) + "\n")
        _BENCH.stdin.flush()
        verdict = _BENCH.stdout.readline().split()
        if verdict and verdict[0] == "ok":
            meta["bond"], meta["pair"] = float(verdict[1]), float(verdict[2])
            meta["bonds_over"], meta["pairs_over"] = int(verdict[3]), int(verdict[4])
            if len(verdict) > 5:
                meta["angle_faults"] = int(verdict[5])
        else:
            meta["bench_error"] = " ".join(verdict)
    return meta


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bench", help="path of the conformer_bounds benchmark")
    ap.add_argument("--limit", type=int, default=0, help="first N records of each file")
    ap.add_argument("--repeat", type=int, default=1, help="time the best of K runs")
    ap.add_argument("--jobs", type=int, default=min(8, os.cpu_count() or 1), help="worker processes")
    ap.add_argument("--save", help="write per-molecule records (JSON lines)")
    ap.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    ap.add_argument("--named-only", action="store_true", help="only the named molecules")
    ap.add_argument("--readme", action="store_true", help="only the figures the README states")
    ap.add_argument("--groups", action="store_true", help="only the group rows (GROUP_ROWS)")
    args = ap.parse_args()
    if args.compare:
        compare(*args.compare)
        return
    if args.readme:
        readme_report(args.jobs)
        return
    tasks = [] if args.named_only else [(meta, source, args.repeat) for meta, source in molecules(args.limit)]
    pool = None
    if args.jobs > 1:
        import multiprocessing

        pool = multiprocessing.get_context("fork").Pool(args.jobs, start_worker, (args.bench,))
    else:
        start_worker(args.bench)
    if args.named_only:
        save(args.save, named_report(args.repeat, pool=pool))
        return
    if args.groups:
        save(args.save, [group_report(args.limit, pool=pool)])
        return
    started = time.perf_counter()
    records = list(pool.imap(measure_one, tasks, chunksize=8)) if pool else [measure_one(t) for t in tasks]
    if args.bench:
        mismatched = [r["key"] for r in records if "bench_error" in r]
        if mismatched:
            print("bench could not judge %d molecules, e.g. %s" % (len(mismatched), mismatched[:3]))
    summary(records)
    named = named_report(args.repeat, pool=pool)
    print("named molecules:")
    for label, value in named_rows(named):
        print("  %s: %s" % (label, value))
    print("wall time %.1f s with %d worker(s)" % (time.perf_counter() - started, max(1, args.jobs)))
    save(args.save, records + named)


def save(path, records):
    if path:
        with open(path, "w") as f:
            for r in records:
                f.write(json.dumps(r) + "\n")


if __name__ == "__main__":
    main()
