#include "conf/typical.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "conf/bounds.hpp"
#include "conf/context.hpp"
#include "conf/geometry.hpp"
#include "conf/holds.hpp"
#include "conf/ring_context.hpp"
#include "core/elements.hpp"

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

enum class Kind : std::uint8_t {
    Other,
    Sp3Carbon,
    AromaticCarbon,
    AlkeneCarbon,
    CarbonylCarbon,
    SpCarbon,
    AmineNitrogen,
    AmideNitrogen,
    BentAmideNitrogen,
    NitroNitrogen,
    AmmoniumNitrogen,
    EtherOxygen,
    EsterOxygen,
    HydroxylOxygen,
    AcidOxygen,
    CarboxylateOxygen,
    EnolateOxygen,
    SulfideSulfur,
    SulfonylSulfur,
    Fluorine,
    Chlorine,
    Bromine,
    Iodine,
};

std::uint8_t element(const core::MolBuilder& mol, std::uint32_t a) { return mol.atoms[a].atomic_num; }

std::size_t heavy_neighbours(const core::MolBuilder& mol, std::uint32_t a) {
    std::size_t heavy = 0;
    for (core::Neighbor nb : mol.neighbors(a)) heavy += element(mol, nb.atom) != core::Element::H;
    return heavy;
}

// A carbonyl of a chain or a non-aromatic ring: a pyridone's C=O belongs to
// its ring's pi system.
std::uint32_t plain_carbonyl_partner(const core::MolBuilder& mol, std::uint32_t c) {
    return is_aromatic(mol, c) ? NONE : carbonyl_partner(mol, c);
}

std::size_t carbonyl_neighbours(const core::MolBuilder& mol, std::uint32_t a) {
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(a))
        count += mol.bonds[nb.bond].order == BondOrder::Single && plain_carbonyl_partner(mol, nb.atom) != NONE;
    return count;
}

bool carbonyl_neighbour(const core::MolBuilder& mol, std::uint32_t a) { return carbonyl_neighbours(mol, a) != 0; }

// The carbon of a C=N that is no ring's aromatic atom: an amidine's or a
// guanidine's, whose single-bonded nitrogens share its pi system.
bool imine_carbon(const core::MolBuilder& mol, std::uint32_t c) {
    if (element(mol, c) != core::Element::C || is_aromatic(mol, c)) return false;
    for (core::Neighbor nb : mol.neighbors(c))
        if (mol.bonds[nb.bond].order == BondOrder::Double && element(mol, nb.atom) == core::Element::N) return true;
    return false;
}

bool carries_hydrogen(const core::MolBuilder& mol, std::uint32_t a) {
    for (core::Neighbor nb : mol.neighbors(a))
        if (element(mol, nb.atom) == core::Element::H) return true;
    return false;
}

Kind carbon_kind(const core::MolBuilder& mol, std::uint32_t c) {
    if (is_aromatic(mol, c)) return Kind::AromaticCarbon;
    switch (mol.atoms[c].hybridization) {
        case core::Hybridization::Sp3: return Kind::Sp3Carbon;
        case core::Hybridization::Sp: return Kind::SpCarbon;
        case core::Hybridization::Sp2: break;
        default: return Kind::Other;
    }
    if (plain_carbonyl_partner(mol, c) != NONE) return Kind::CarbonylCarbon;
    for (core::Neighbor nb : mol.neighbors(c))
        if (mol.bonds[nb.bond].order == BondOrder::Double) return Kind::AlkeneCarbon;
    return Kind::Other;
}

// A nitrogen bonded to a four-connected sulfur, phosphorus or silicon.
bool on_tetrahedral_centre(const core::MolBuilder& mol, std::uint32_t n) {
    for (core::Neighbor nb : mol.neighbors(n)) {
        const std::uint8_t z = element(mol, nb.atom);
        if (mol.degree[nb.atom] == 4 && (z == core::Element::S || z == core::Element::P || z == core::Element::Si))
            return true;
    }
    return false;
}

Kind nitrogen_kind(const core::MolBuilder& mol, std::uint32_t n) {
    const core::Atom& atom = mol.atoms[n];
    if (is_aromatic(mol, n)) return Kind::Other;
    if (mol.degree[n] == 4) return atom.formal_charge == 1 ? Kind::AmmoniumNitrogen : Kind::Other;
    if (mol.degree[n] != 3) return Kind::Other;
    if (nitro_oxide(mol, n) != NONE) return Kind::NitroNitrogen;
    if (atom.formal_charge != 0) return Kind::Other;
    // An amidine's amino nitrogen gives its lone pair to the C=N as an
    // amide's gives it to the C=O.
    if (carbonyl_neighbour(mol, n)) return Kind::AmideNitrogen;
    for (core::Neighbor nb : mol.neighbors(n))
        if (mol.bonds[nb.bond].order == BondOrder::Single && imine_carbon(mol, nb.atom)) return Kind::AmideNitrogen;
    // A nitrogen on a sulfonyl, phosphoryl or silyl centre is no amine (its
    // lone pair leans towards that centre), but its bonds to sp3 carbons are
    // as long as an amine's.
    const bool on_centre = atom.hybridization == core::Hybridization::Sp3 && on_tetrahedral_centre(mol, n);
    return amine_nitrogen(mol, n) || on_centre ? Kind::AmineNitrogen : Kind::Other;
}

Kind oxygen_kind(const core::MolBuilder& mol, std::uint32_t o) {
    if (is_aromatic(mol, o)) return Kind::Other;
    if (mol.degree[o] == 1) {
        if (mol.atoms[o].formal_charge != -1) return Kind::Other;
        if (carbonyl_neighbour(mol, o)) return Kind::CarboxylateOxygen;
        // A phenoxide's or enolate's charge spreads into the ring or the C=C.
        const std::uint32_t c = (*mol.neighbors(o).begin()).atom;
        const bool conjugated = element(mol, c) == core::Element::C &&
                                (carbon_kind(mol, c) == Kind::AromaticCarbon || carbon_kind(mol, c) == Kind::AlkeneCarbon);
        return conjugated ? Kind::EnolateOxygen : Kind::Other;
    }
    if (mol.degree[o] != 2 || mol.atoms[o].formal_charge != 0) return Kind::Other;
    if (carbonyl_neighbour(mol, o)) return carries_hydrogen(mol, o) ? Kind::AcidOxygen : Kind::EsterOxygen;
    return carries_hydrogen(mol, o) ? Kind::HydroxylOxygen : Kind::EtherOxygen;
}

Kind sulfur_kind(const core::MolBuilder& mol, std::uint32_t s) {
    if (is_aromatic(mol, s) || mol.atoms[s].formal_charge != 0) return Kind::Other;
    if (mol.degree[s] == 2) return Kind::SulfideSulfur;
    return sulfonyl_sulfur(mol, s) ? Kind::SulfonylSulfur : Kind::Other;
}

Kind kind_of(const core::MolBuilder& mol, std::uint32_t a) {
    switch (element(mol, a)) {
        case core::Element::C: return carbon_kind(mol, a);
        case core::Element::N: return nitrogen_kind(mol, a);
        case core::Element::O: return oxygen_kind(mol, a);
        case core::Element::S: return sulfur_kind(mol, a);
        case core::Element::F: return Kind::Fluorine;
        case core::Element::Cl: return Kind::Chlorine;
        case core::Element::Br: return Kind::Bromine;
        case core::Element::I: return Kind::Iodine;
        default: return Kind::Other;
    }
}

struct Length {
    Kind a, b;
    double length;
};

// Single bonds, after Allen et al.'s tables of bond lengths in organic
// crystal structures; a pair not listed keeps the statistics. The pairs are
// in `Kind` order.
constexpr std::array LENGTHS{
    Length{Kind::Sp3Carbon, Kind::AromaticCarbon, 1.510},
    Length{Kind::Sp3Carbon, Kind::AlkeneCarbon, 1.503},
    Length{Kind::Sp3Carbon, Kind::CarbonylCarbon, 1.510},
    Length{Kind::Sp3Carbon, Kind::SpCarbon, 1.466},
    Length{Kind::AromaticCarbon, Kind::AromaticCarbon, 1.487},  // biaryls
    Length{Kind::AromaticCarbon, Kind::AlkeneCarbon, 1.470},
    Length{Kind::AromaticCarbon, Kind::CarbonylCarbon, 1.488},
    Length{Kind::AromaticCarbon, Kind::SpCarbon, 1.440},
    Length{Kind::AlkeneCarbon, Kind::AlkeneCarbon, 1.455},  // dienes
    Length{Kind::AlkeneCarbon, Kind::CarbonylCarbon, 1.465},  // enones
    Length{Kind::AlkeneCarbon, Kind::SpCarbon, 1.431},
    Length{Kind::CarbonylCarbon, Kind::CarbonylCarbon, 1.530},
    Length{Kind::CarbonylCarbon, Kind::SpCarbon, 1.450},
    Length{Kind::CarbonylCarbon, Kind::AmideNitrogen, 1.350},  // refinement settles at its window's short end
    Length{Kind::Sp3Carbon, Kind::AmideNitrogen, 1.455},
    Length{Kind::AromaticCarbon, Kind::AmideNitrogen, 1.415},
    Length{Kind::AlkeneCarbon, Kind::AmideNitrogen, 1.370},  // enamides 1.38-1.40, amidines 1.34-1.36
    Length{Kind::AlkeneCarbon, Kind::BentAmideNitrogen, 1.405},
    Length{Kind::CarbonylCarbon, Kind::BentAmideNitrogen, 1.385},
    Length{Kind::Sp3Carbon, Kind::AmineNitrogen, 1.469},
    Length{Kind::Sp3Carbon, Kind::NitroNitrogen, 1.490},
    Length{Kind::AromaticCarbon, Kind::NitroNitrogen, 1.468},
    Length{Kind::AlkeneCarbon, Kind::NitroNitrogen, 1.450},
    // Ammonium C-N+ 1.49-1.51 in crystal structures of its salts; a
    // refinement settles at the short end, where the crowded neighbours of
    // a quaternary nitrogen press it 0.01-0.02 below what it is given.
    Length{Kind::Sp3Carbon, Kind::AmmoniumNitrogen, 1.504},
    Length{Kind::AromaticCarbon, Kind::AmmoniumNitrogen, 1.465},
    Length{Kind::AmineNitrogen, Kind::AmineNitrogen, 1.454},  // hydrazines
    Length{Kind::AmineNitrogen, Kind::AmideNitrogen, 1.415},  // hydrazides
    Length{Kind::AmineNitrogen, Kind::EtherOxygen, 1.453},    // hydroxylamines
    Length{Kind::AmineNitrogen, Kind::HydroxylOxygen, 1.453},
    Length{Kind::AmineNitrogen, Kind::EsterOxygen, 1.453},  // O-acyl hydroxylamines, as hydroxylamines
    // Nitrate esters' O-NO2: 1.40 in crystals, methyl nitrate's 1.40 in the
    // gas (microwave).
    Length{Kind::NitroNitrogen, Kind::EtherOxygen, 1.402},
    Length{Kind::CarbonylCarbon, Kind::EsterOxygen, 1.336},
    Length{Kind::CarbonylCarbon, Kind::AcidOxygen, 1.308},
    Length{Kind::CarbonylCarbon, Kind::CarboxylateOxygen, 1.255},
    // Phenoxides 1.28-1.32 in crystals (4-nitrophenolate 1.27), enolates
    // and acetylacetonate 1.26-1.29: the charge gives the bond a part of a
    // double bond.
    Length{Kind::AromaticCarbon, Kind::EnolateOxygen, 1.290},
    Length{Kind::AlkeneCarbon, Kind::EnolateOxygen, 1.275},
    Length{Kind::Sp3Carbon, Kind::EsterOxygen, 1.448},
    Length{Kind::AromaticCarbon, Kind::EsterOxygen, 1.401},
    Length{Kind::Sp3Carbon, Kind::EtherOxygen, 1.420},
    Length{Kind::AromaticCarbon, Kind::EtherOxygen, 1.365},
    Length{Kind::AlkeneCarbon, Kind::EtherOxygen, 1.354},
    Length{Kind::Sp3Carbon, Kind::HydroxylOxygen, 1.426},
    Length{Kind::AromaticCarbon, Kind::HydroxylOxygen, 1.362},
    Length{Kind::Sp3Carbon, Kind::SulfideSulfur, 1.817},
    Length{Kind::AromaticCarbon, Kind::SulfideSulfur, 1.773},
    Length{Kind::SpCarbon, Kind::SulfideSulfur, 1.690},  // thiocyanates
    Length{Kind::Sp3Carbon, Kind::SulfonylSulfur, 1.779},
    Length{Kind::AromaticCarbon, Kind::SulfonylSulfur, 1.763},
    Length{Kind::Sp3Carbon, Kind::Fluorine, 1.399},  // one fluorine; see `fluorinated_length`
    Length{Kind::Sp3Carbon, Kind::Chlorine, 1.790},
    Length{Kind::Sp3Carbon, Kind::Bromine, 1.966},
    Length{Kind::Sp3Carbon, Kind::Iodine, 2.162},
};

// A carbon with two or three fluorines holds each of them closer.
constexpr double FLUORINATED_CF = 1.336;

static_assert(std::all_of(LENGTHS.begin(), LENGTHS.end(), [](const Length& l) { return l.a <= l.b; }));

constexpr double H2_LENGTH = 0.741;

// A carboxylate's two C-O bonds share one charge and are equally long.
constexpr double CARBOXYLATE_CO = 1.255;
// An imide's nitrogen shares its lone pair between two carbonyls, and both
// its C-N bonds are longer than an amide's (succinimide and phthalimide
// 1.38-1.39); at the amide's length a five-ring imide cannot close flat.
constexpr double IMIDE_CN = 1.385;

// The rings about a nitrogen with three neighbours: how many of its angles
// lie in one, the sum of those rings' polygon angles, and the smallest.
struct NitrogenRings {
    std::size_t in_rings = 0, smallest = 0;
    double sum = 0.0;
};

NitrogenRings nitrogen_rings(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n) {
    std::array<std::uint32_t, 3> nbrs{};
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(n))
        if (count < 3) nbrs[count++] = nb.atom;
    NitrogenRings out;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t ring = rings.smallest_size(n, nbrs[i], nbrs[(i + 1) % 3]);
        if (ring == 0) continue;
        ++out.in_rings;
        out.sum += 180.0 - 360.0 / static_cast<double>(ring);
        out.smallest = out.smallest == 0 ? ring : std::min(out.smallest, ring);
    }
    return out;
}

// The pyramidal amide nitrogens (see `pyramidal_amide_nitrogen`) and those
// of three rings whose ring angles add up to well under 360 stay
// pyramidal, and their lone pair leaves the C=O and C=C: their bonds to it
// lengthen.
Kind bond_kind(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a) {
    const Kind k = kind_of(mol, a);
    if (k != Kind::AmideNitrogen || rings.smallest[a] == 0) return k;
    if (pyramidal_amide_nitrogen(mol, rings, a)) return Kind::BentAmideNitrogen;
    const NitrogenRings r = nitrogen_rings(mol, rings, a);
    return r.in_rings == 3 && r.sum < 350.0 ? Kind::BentAmideNitrogen : k;
}

// The ring statistics of a bond from an sp3 carbon to one of these fit its
// saturated rings; every other kind's length holds in rings as in chains.
bool saturated(Kind k) {
    return k == Kind::Sp3Carbon || k == Kind::AmineNitrogen || k == Kind::BentAmideNitrogen ||
           k == Kind::EtherOxygen || k == Kind::SulfideSulfur || k == Kind::SulfonylSulfur;
}

// An uncharged nitrogen outside aromatic rings with three heavy neighbours
// (a tertiary amine's, an N,N-disubstituted amide's): its third substituent
// crowds the groups beside it.
bool tertiary_nitrogen(const core::MolBuilder& mol, std::uint32_t n) {
    if (element(mol, n) != core::Element::N || mol.degree[n] != 3 || is_aromatic(mol, n) ||
        mol.atoms[n].formal_charge != 0)
        return false;
    for (core::Neighbor nb : mol.neighbors(n))
        if (element(mol, nb.atom) == core::Element::H) return false;
    return true;
}

// An ammonium's or iminium's nitrogen, not a nitro group's nor an
// aromatic ring's.
bool cationic_chain_nitrogen(const core::MolBuilder& mol, std::uint32_t n) {
    return element(mol, n) == core::Element::N && mol.atoms[n].formal_charge == 1 && !is_aromatic(mol, n) &&
           nitro_oxide(mol, n) == NONE;
}

// Trigonal centres whose three angles their neighbours' kinds set, where
// the statistics' and the polygon's even split would not.

// An O-alkyl S-alkyl thiocarbonate's carbonyl carbon, O=C(O)S: O=C-O 124.5,
// O=C-S 124, O-C-S 111.5, from its neighbours' groups, as the larger
// sulfur opens a carbonate's O-C-O (107-109 in crystal structures) as it
// opens a carbamate's N-C-O (109-112) to a dithiocarbamate's N-C-S
// (112-115); an even split left O-C-S at 121.
template <typename Pair>
std::optional<std::array<double, 3>> thiocarbonate_angles(const Pair& pair) {
    const auto ester_o = [](Kind k) { return k == Kind::EsterOxygen; };
    const auto sulfide = [](Kind k) { return k == Kind::SulfideSulfur; };
    return pair(ester_o, sulfide, {124.5, 124.0, 111.5});
}

// A carbonyl or thiocarbonyl carbon between two heteroatoms, X=C(n1)(n2):
// the angle between x and n1, between x and n2, then between n1 and n2
// (the three sum to 360). Carbamates (crystal structures of alkyl and Boc
// carbamates: O=C-N 124-126, O=C-O 123-125, N-C-O 109-112), ureas
// (N,N'-disubstituted ureas' crystal structures: O=C-N 121-123, N-C-N
// 114-118), thioureas (thiourea's crystal structure: S=C-N 121.6, N-C-N
// 116.8) and dithiocarbamates (their esters' crystal structures: S=C-N
// 123-125, S=C-S 121-123, N-C-S 112-115), S-alkyl thiocarbamates (O=C-N
// 124-125, O=C-S 122-124, N-C-S 111-114) and O-aryl or O-alkyl
// thiocarbamates (S=C-N 125-127, S=C-O 123-125, N-C-O 109-111), all from
// crystal structures. None for any other pair.
std::optional<std::array<double, 3>> hetero_carbonyl_angles(bool thio, Kind k0, Kind k1) {
    const auto amide_n = [](Kind k) { return k == Kind::AmideNitrogen; };
    const auto ester_o = [](Kind k) { return k == Kind::EsterOxygen || k == Kind::AcidOxygen; };
    const auto sulfide = [](Kind k) { return k == Kind::SulfideSulfur; };
    const auto pair = [&](auto first, auto second, std::array<double, 3> angles) -> std::optional<std::array<double, 3>> {
        if (first(k0) && second(k1)) return angles;
        if (second(k0) && first(k1)) return std::array{angles[1], angles[0], angles[2]};
        return std::nullopt;
    };
    if (thio) {
        if (const auto t = pair(amide_n, amide_n, {122.0, 122.0, 116.0})) return t;
        if (const auto t = pair(amide_n, ester_o, {126.0, 124.0, 110.0})) return t;
        return pair(amide_n, sulfide, {124.0, 122.0, 114.0});
    }
    if (const auto t = pair(amide_n, ester_o, {125.0, 124.0, 111.0})) return t;
    if (const auto t = thiocarbonate_angles(pair)) return t;
    if (const auto t = pair(amide_n, sulfide, {124.5, 123.0, 112.5})) return t;
    return pair(amide_n, amide_n, {122.0, 122.0, 116.0});
}

// A tertiary nitrogen on a thiocarbonyl carbon: its substituent syn to the
// large sulfur meets it and opens S=C-N, the sulfur leaning towards the
// other neighbour (crystal structures of N,N-dialkyl dithiocarbamate esters
// and O-aryl N,N-dialkyl thiocarbamates: S=C-N 124-128, some 2 past an
// NH's). In a thiourea the angle between the nitrogens gives way instead,
// the NH's S=C-N held by its own hydrogen bond (N,N-dialkyl-N'-aryl
// thioureas: N-C-N 113-116); two such nitrogens (tetraalkyl thioureas)
// press the sulfur evenly.
constexpr double THIO_TERTIARY_OPENING = 2.0;

std::optional<double> hetero_carbonyl_angle(const core::MolBuilder& mol, std::uint32_t x,
                                            const std::array<std::uint32_t, 2>& others, std::uint32_t a,
                                            std::uint32_t c) {
    const bool thio = element(mol, x) == core::Element::S;
    auto angles = hetero_carbonyl_angles(thio, kind_of(mol, others[0]), kind_of(mol, others[1]));
    if (!angles) return std::nullopt;
    if (thio && tertiary_nitrogen(mol, others[0]) != tertiary_nitrogen(mol, others[1])) {
        const std::size_t n = tertiary_nitrogen(mol, others[0]) ? 0 : 1;
        (*angles)[n] += THIO_TERTIARY_OPENING;
        (*angles)[element(mol, others[1 - n]) == core::Element::N ? 2 : 1 - n] -= THIO_TERTIARY_OPENING;
    }
    if (a != x && c != x) return (*angles)[2];
    const std::uint32_t far = a == x ? c : a;
    return far == others[0] ? (*angles)[0] : (*angles)[1];
}

// A secondary amide's nitrogen on an aryl ring (anilides, aryl ureas and
// carbamates) opens the angle between its acyl and aryl neighbours, their
// substituents pressed apart in the flat trans amide: acetanilide's
// crystal structure gives C(=O)-N-C(aryl) 128, and the two angles to the
// hydrogen share the rest.
std::optional<double> anilide_nitrogen_angle(const core::MolBuilder& mol, std::uint32_t n, std::uint32_t a,
                                             std::uint32_t c) {
    if (nitrogen_kind(mol, n) != Kind::AmideNitrogen) return std::nullopt;
    std::uint32_t acyl = NONE, aryl = NONE, hydrogen = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (element(mol, nb.atom) == core::Element::H) hydrogen = nb.atom;
        else if (kind_of(mol, nb.atom) == Kind::AromaticCarbon) aryl = nb.atom;
        else if (plain_carbonyl_partner(mol, nb.atom) != NONE) acyl = nb.atom;
    }
    if (acyl == NONE || aryl == NONE || hydrogen == NONE) return std::nullopt;
    constexpr double ACYL_ARYL = 128.0;
    return (a == acyl && c == aryl) || (a == aryl && c == acyl) ? ACYL_ARYL : (360.0 - ACYL_ARYL) / 2.0;
}

// How far a ring atom of a five-membered aromatic ring pushes its
// neighbour's exocyclic bond away (degrees, twice the lean): the bond
// leans from a ring oxygen by 8 degrees, from a sulfur or a two-connected
// nitrogen by 4 and from a three-connected nitrogen by 2.5 (2-methylfuran's
// microwave structure: Me-C2-O 116 against Me-C2-C3 134; crystal
// structures of 2-substituted thiophenes and thiazoles and of 1-substituted
// pyrazoles and indoles); a carbon is the reference.
double five_ring_push(const core::MolBuilder& mol, std::uint32_t ring_atom) {
    switch (element(mol, ring_atom)) {
        case core::Element::O: return 16.0;
        case core::Element::S: return 8.0;
        case core::Element::N: return mol.degree[ring_atom] == 2 ? 8.0 : 5.0;
        default: return 0.0;
    }
}

// How much further a ring double bond draws a flat five-ring's exocyclic
// bond towards itself than an aromatic ring's bonds do: as at an alkene's
// carbon, C=X-R opens past Y-C-R (crystal structures of 2-substituted
// 2-oxazolines and 2-amino-2-oxazolin-4-ones: R-C2=N3 126-129 against
// R-C2-O1 113-117).
constexpr double RING_DOUBLE_BOND_PULL = 6.0;

// A two-connected ring oxygen or sulfur: an enol or imino ether's, whose
// flat ring's carbon leans its exocyclic bond away from it. Beside a ring
// nitrogen (an enamine's: a carbapenem's carboxyl) the even split stands.
bool ring_chalcogen(const core::MolBuilder& mol, std::uint32_t x) {
    return (element(mol, x) == core::Element::O || element(mol, x) == core::Element::S) && mol.degree[x] == 2;
}

// A four-connected ring carbon: a cyclopentene's or a carbapenem's, whose
// ring carbon leans its exocyclic bond towards the double bond as an
// alkene's does (crystal structures of carbapenems' 2-thio substituents and
// 1-substituted cyclopentenes: R-C=C 125-129 against R-C-CH2 120-122).
bool ring_methylene(const core::MolBuilder& mol, std::uint32_t x) {
    return element(mol, x) == core::Element::C && mol.degree[x] == 4;
}

// ---- A five-ring imine X-C=N (X a ring oxygen or amine nitrogen): the
// 2-oxazolines and 2-imidazolines. Their imine carbon's ring angle opens
// well past a flat five-ring's 110 and the imine nitrogen's closes (crystal
// structures of 2-substituted 2-oxazolines: O1-C2-N3 117-119, C2-N3-C4
// 104-106; of 2-imidazolines and imidazolin-4-ones: N1-C2-N3 114-117).

// The ring angle at such an imine carbon; none at any other atom.
std::optional<double> five_ring_imine_inside(const core::MolBuilder& mol, const RingContext& rings,
                                             std::uint32_t centre) {
    if (element(mol, centre) != core::Element::C || mol.degree[centre] != 3 || is_aromatic(mol, centre) ||
        rings.smallest[centre] != 5)
        return std::nullopt;
    std::uint32_t imine = NONE, other = NONE;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const std::uint32_t x = nb.atom;
        if (rings.smallest_size(centre, x) != 5 || mol.atoms[x].formal_charge != 0) continue;
        const BondOrder o = mol.bonds[nb.bond].order;
        if (o == BondOrder::Double && element(mol, x) == core::Element::N && mol.degree[x] == 2) imine = x;
        else if (o == BondOrder::Single &&
                 ((element(mol, x) == core::Element::O && mol.degree[x] == 2) ||
                  (element(mol, x) == core::Element::N && mol.degree[x] == 3)))
            other = x;
    }
    if (imine == NONE || other == NONE || rings.smallest_size(centre, imine, other) != 5) return std::nullopt;
    return element(mol, other) == core::Element::O ? 118.0 : 116.0;
}

// The exocyclic angle a-centre-c at an atom of one five-membered aromatic
// ring with two ring bonds and one other, or at a trigonal atom of a flat
// five-ring with one ring double bond, an exocyclic single bond and a ring
// oxygen, sulfur or four-connected carbon beside it (see `ring_chalcogen`
// and `ring_methylene`), or at an aromatic
// ring's carbon where a six- to eight-ring fuses on its bond to a ring
// carbon (crystal structures of 4,5,6,7-tetrahydrobenzofurans and
// furanosteroids: O1-C7a-C7 119-122, C3a-C7a-C7 127-129): the two
// exocyclic angles share what the ring angle (the statistics', as the
// bounds read it) leaves of 360, leaning from the neighbour that pushes
// harder, and in the flat ring towards the double bond. None where both
// ring neighbours push alike (the even split stands) and for the ring
// angle.
std::optional<double> five_ring_exocyclic_angle(const core::MolBuilder& mol, const RingContext& rings,
                                                std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 5 || mol.degree[centre] != 3) return std::nullopt;
    const bool aromatic = is_aromatic(mol, centre);
    if (!aromatic && mol.atoms[centre].hybridization != core::Hybridization::Sp2) return std::nullopt;
    std::array<std::uint32_t, 2> ring{NONE, NONE};
    std::array<BondOrder, 2> order{};
    std::uint32_t exo = NONE;
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const BondOrder o = mol.bonds[nb.bond].order;
        const bool in_ring = aromatic ? o == BondOrder::Aromatic : rings.smallest_size(centre, nb.atom) == 5;
        if (!in_ring) exo = nb.atom;
        else if (count < 2) {
            order[count] = o;
            ring[count++] = nb.atom;
        }
    }
    if (count != 2 || exo == NONE || rings.smallest_size(centre, ring[0], ring[1]) != 5) return std::nullopt;
    const std::size_t fused0 = rings.smallest_size(centre, exo, ring[0]), fused1 = rings.smallest_size(centre, exo, ring[1]);
    if (fused0 != 0 || fused1 != 0) {
        // A ring fused through the exocyclic bond and the bond to a ring
        // carbon takes the lean in its own angle there.
        const std::size_t fused = std::max(fused0, fused1);
        const std::uint32_t beside = fused0 != 0 ? ring[0] : ring[1];
        if (!aromatic || (fused0 != 0 && fused1 != 0) || fused < 6 || fused >= LARGE_RING ||
            element(mol, beside) != core::Element::C)
            return std::nullopt;
    }
    double push0 = five_ring_push(mol, ring[0]), push1 = five_ring_push(mol, ring[1]);
    if (!aromatic) {
        const bool double0 = order[0] == BondOrder::Double, double1 = order[1] == BondOrder::Double;
        const std::uint32_t single = ring[double0 ? 1 : 0];
        if (mol.bonds[mol.bond_between(centre, exo)].order != BondOrder::Single || double0 == double1 ||
            order[double0 ? 1 : 0] != BondOrder::Single || !(ring_chalcogen(mol, single) || ring_methylene(mol, single)))
            return std::nullopt;
        (double0 ? push1 : push0) += RING_DOUBLE_BOND_PULL;
    }
    if (push0 == push1 || (a != exo && c != exo)) return std::nullopt;
    const double inside = five_ring_imine_inside(mol, rings, centre)
                              .value_or(estimate_bond_angle(element(mol, centre), 3, aromatic ? 1 : 0, 5, 5).angle *
                                        RAD_TO_DEG);
    const std::uint32_t toward = a == exo ? c : a;
    const double lean = (toward == ring[0] ? push1 - push0 : push0 - push1) / 2.0;
    return (360.0 - inside) / 2.0 + lean;
}

// The angle a-centre-c at a five-ring imine's carbon (its ring angle, or an
// even split of what that leaves where `five_ring_exocyclic_angle` sets no
// lean) or at its imine nitrogen; none elsewhere.
std::optional<double> five_ring_imine_angle(const core::MolBuilder& mol, const RingContext& rings,
                                            std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (element(mol, centre) == core::Element::N) {
        if (mol.degree[centre] != 2 || is_aromatic(mol, centre) || rings.smallest[centre] != 5) return std::nullopt;
        for (core::Neighbor nb : mol.neighbors(centre))
            if (mol.bonds[nb.bond].order == BondOrder::Double && five_ring_imine_inside(mol, rings, nb.atom))
                return 105.0;
        return std::nullopt;
    }
    const auto inside = five_ring_imine_inside(mol, rings, centre);
    if (!inside) return std::nullopt;
    if (rings.smallest_size(centre, a, c) == 5) return inside;
    if (const auto lean = five_ring_exocyclic_angle(mol, rings, centre, a, c)) return lean;
    return (360.0 - *inside) / 2.0;
}

// The angle inside ring r at its atom `centre` when r is an azine ring (see
// `azine_ring`); none for any other ring.
std::optional<double> azine_ring_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r,
                                       std::uint32_t centre);

// ---- The atom where a five- and a six-membered aromatic ring fuse
// (indoles, benzimidazoles, purines, benzofurans). Its angle from a
// five-ring neighbour to a six-ring neighbour is what the two ring angles
// leave of 360 (crystal structures of indoles and benzimidazoles: N1-C7a-C7
// 129-132, C3-C3a-C4 131-134), not an exocyclic 125: read at 125, the
// distances it sets between the two rings' substituents pull an N-methyl
// towards the six-ring. None for any other atom or angle.
std::optional<double> fused_five_six_angle(const core::MolBuilder& mol, const RingContext& rings,
                                           std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 5 || mol.degree[centre] != 3 || rings.smallest_size(centre, a, c) != 0)
        return std::nullopt;
    const std::size_t ring_a = rings.smallest_size(centre, a), ring_c = rings.smallest_size(centre, c);
    if (!((ring_a == 5 && ring_c == 6) || (ring_a == 6 && ring_c == 5))) return std::nullopt;
    const std::uint32_t five = ring_a == 5 ? a : c, six = ring_a == 5 ? c : a;
    if (!is_aromatic(mol, five) || !is_aromatic(mol, six)) return std::nullopt;
    const auto z = element(mol, centre);
    const double inside5 = estimate_bond_angle(z, 3, 1, 5, 5).angle * RAD_TO_DEG;
    const double inside6 = azine_ring_angle(mol, rings, rings.smallest_holding(centre, six), centre)
                               .value_or(estimate_bond_angle(z, 3, 1, 5, 6).angle * RAD_TO_DEG);
    return 360.0 - inside5 - inside6;
}

// ---- Six-membered aromatic rings of one oxygen and a ring carbonyl:
// 4-pyranones and chromones, 2-pyranones and coumarins. Their angles are
// no benzene's even 120: the oxygen closes its own and opens its
// neighbours', the carbonyl carbon closes its own.

// A ring's carbonyl carbon and its oxygen, with how many bonds round the
// ring part them (1 or 3).
struct Pyranone {
    std::uint32_t oxygen = NONE, carbonyl = NONE;
    std::size_t apart = 0;
};

// Bonds round six-ring r from its atom `from` to its atom x (0 to 3).
std::size_t six_ring_steps(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r,
                           std::uint32_t from, std::uint32_t x) {
    if (x == from) return 0;
    if (mol.bond_between(from, x) != NONE) return 1;
    for (core::Neighbor nb : mol.neighbors(from))
        if (rings.contains(r, nb.atom) && mol.bond_between(nb.atom, x) != NONE) return 2;
    return 3;
}

// Ring r as such a ring: aromatic, six carbons but one neutral oxygen, and
// one carbonyl; none for any other ring.
std::optional<Pyranone> pyranone_ring(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r) {
    if (r == NONE || !rings.aromatic[r] || rings.ring_size(r) != 6) return std::nullopt;
    Pyranone out;
    for (std::uint32_t i = rings.ring_offsets[r]; i < rings.ring_offsets[r + 1]; ++i) {
        const std::uint32_t x = rings.ring_atoms[i];
        if (element(mol, x) == core::Element::O) {
            if (out.oxygen != NONE || mol.degree[x] != 2 || mol.atoms[x].formal_charge != 0) return std::nullopt;
            out.oxygen = x;
            continue;
        }
        if (element(mol, x) != core::Element::C) return std::nullopt;
        for (core::Neighbor nb : mol.neighbors(x))
            if (mol.bonds[nb.bond].order == BondOrder::Double && element(mol, nb.atom) == core::Element::O &&
                mol.degree[nb.atom] == 1) {
                if (out.carbonyl != NONE) return std::nullopt;
                out.carbonyl = x;
            }
    }
    if (out.oxygen == NONE || out.carbonyl == NONE) return std::nullopt;
    out.apart = six_ring_steps(mol, rings, r, out.oxygen, out.carbonyl);
    if (out.apart != 1 && out.apart != 3) return std::nullopt;
    return out;
}

// The ring angle at `centre`, by where it sits, from crystal structures:
// 4-pyranones and chromones C-O-C 118-119, O-C2-C3 124-125 at a C-H
// (chromone, isoflavones) and 121-122.5 at a substituted or fused carbon
// (flavones, C4a-C8a-O1), C2-C3-C4 119-121, C3-C4-C4a 115-116;
// 2-pyranones and coumarins C-O-C 121-122.5, O-C2-C3 116.5-117.5 at the
// carbonyl, C2-C3-C4 121-122, C4-C4a-C8a 117.5-118.5, C4a-C8a-O1 120.5-121.5.
double pyranone_ring_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r,
                           const Pyranone& p, std::uint32_t centre) {
    const std::size_t from_oxygen = six_ring_steps(mol, rings, r, p.oxygen, centre);
    if (p.apart == 3) {
        switch (from_oxygen) {
            case 0: return 118.5;
            case 1: return mol.degree[centre] == 2 || carries_hydrogen(mol, centre) ? 124.5 : 122.0;
            case 2: return 120.0;
            default: return 115.5;
        }
    }
    if (centre == p.carbonyl) return 117.0;
    switch (from_oxygen) {
        case 0: return 122.0;
        case 1: return 121.0;
        case 2: return mol.bond_between(centre, p.carbonyl) != NONE ? 121.5 : 118.0;
        default: return 120.5;
    }
}

// How far such a ring's oxygen leans its neighbour's exocyclic bond away
// (degrees): crystal structures of flavones and of 2-methylchromones and
// 6-methyl-2-pyranones give O1-C2-R 111-113 against C3-C2-R 126-127.
constexpr double PYRANONE_OXYGEN_LEAN = 7.0;

// The angle a-centre-c at an atom of such a ring: a ring angle, or at a
// carbon beside the oxygen (not the carbonyl), outside the other rings,
// the exocyclic angle leaning from the oxygen; none for any other.
std::optional<double> pyranone_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                     std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 6) return std::nullopt;
    const std::uint32_t r = rings.smallest_holding(centre, a, c);
    if (r != NONE) {
        if (rings.ring_size(r) != 6) return std::nullopt;
        const auto p = pyranone_ring(mol, rings, r);
        if (!p) return std::nullopt;
        return pyranone_ring_angle(mol, rings, r, *p, centre);
    }
    const std::uint32_t oxygen = element(mol, a) == core::Element::O ? a : c, exo = oxygen == a ? c : a;
    if (element(mol, oxygen) != core::Element::O || element(mol, centre) != core::Element::C ||
        mol.degree[centre] != 3 || rings.smallest_holding(centre, exo) != NONE)
        return std::nullopt;
    const std::uint32_t own = rings.smallest_holding(centre, oxygen);
    const auto p = pyranone_ring(mol, rings, own);
    if (!p || p->oxygen != oxygen || p->carbonyl == centre) return std::nullopt;
    return (360.0 - pyranone_ring_angle(mol, rings, own, *p, centre)) / 2.0 - PYRANONE_OXYGEN_LEAN;
}

// ---- Azine rings: six-membered aromatic rings of carbons and pyridine-type
// nitrogens (pyridines, pyrimidines, pyrazines, triazines, the six-ring of a
// purine). Their angles are no benzene's even 120: each nitrogen closes its
// own and opens its neighbours'. Every such shift sums to nothing round the
// ring, so the six angles keep the flat hexagon's 720.

// A pyridine-type nitrogen: aromatic, two neighbours, uncharged.
bool azine_nitrogen(const core::MolBuilder& mol, std::uint32_t x) {
    return element(mol, x) == core::Element::N && is_aromatic(mol, x) && mol.degree[x] == 2 &&
           mol.atoms[x].formal_charge == 0;
}

// A ring carbon's exocyclic double bond (a pyrimidinone's C=O, an imine
// tautomer's C=N) takes its ring out of this model.
bool exocyclic_double_bond(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r, std::uint32_t x) {
    for (core::Neighbor nb : mol.neighbors(x))
        if (mol.bonds[nb.bond].order == BondOrder::Double && !rings.contains(r, nb.atom)) return true;
    return false;
}

// Whether ring r is an azine ring: aromatic, six atoms, each an aromatic
// carbon without an exocyclic double bond or a pyridine-type nitrogen, at
// least one of them that nitrogen.
bool azine_ring(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r) {
    if (r == NONE || !rings.aromatic[r] || rings.ring_size(r) != 6) return false;
    bool nitrogen = false;
    for (std::uint32_t i = rings.ring_offsets[r]; i < rings.ring_offsets[r + 1]; ++i) {
        const std::uint32_t x = rings.ring_atoms[i];
        if (azine_nitrogen(mol, x)) nitrogen = true;
        else if (element(mol, x) != core::Element::C || exocyclic_double_bond(mol, rings, r, x)) return false;
    }
    return nitrogen;
}

// A ring nitrogen shifts the angles by its place from the atom (itself,
// ortho, meta, para): pyridine's microwave structure gives C-N-C 116.9,
// N-C2-C3 123.8, C2-C3-C4 118.5, C3-C4-C5 118.4 (the nitrogen's own shift
// taken as -3.0 so that the four sum to nothing). Added up they give
// pyrimidine's gas-phase angles (N-C-N 127.6, C-N-C 115.5, N-C4-C5 122.3,
// C4-C5-C6 116.8) and pyrazine's (115.6, 122.2) within 0.2 degrees.
constexpr std::array<double, 4> AZINE_NITROGEN_SHIFT{-3.0, 3.8, -1.5, -1.6};

// A fusion atom bonded to a five-ring's pyrrole-type nitrogen (a purine's
// C4 beside N9) opens its six-ring angle and its unfused neighbour closes
// as much: crystal structures of adenosine and 9-alkyladenines give
// N3-C4-C5 126-127 and C2-N3-C4 110.5-111.5, where the nitrogens alone give
// 122.2 and 115.5.
constexpr double AZINE_PYRROLE_FUSION_SHIFT = 3.5;

// Whether ring atom x of ring r fuses a five-ring through its bond to that
// ring's three-connected aromatic nitrogen; that nitrogen then.
std::uint32_t pyrrole_fusion_nitrogen(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r,
                                      std::uint32_t x) {
    if (mol.degree[x] != 3) return NONE;
    for (core::Neighbor nb : mol.neighbors(x)) {
        const std::uint32_t y = nb.atom;
        if (rings.contains(r, y)) continue;
        const bool pyrrole = element(mol, y) == core::Element::N && is_aromatic(mol, y) && mol.degree[y] == 3;
        return pyrrole && rings.smallest_size(x, y) == 5 ? y : NONE;
    }
    return NONE;
}

// The angle inside azine ring r at its atom `centre`.
double azine_inside_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r,
                          std::uint32_t centre) {
    double angle = 120.0;
    for (std::uint32_t i = rings.ring_offsets[r]; i < rings.ring_offsets[r + 1]; ++i) {
        const std::uint32_t x = rings.ring_atoms[i];
        const std::size_t steps = six_ring_steps(mol, rings, r, centre, x);
        if (azine_nitrogen(mol, x)) angle += AZINE_NITROGEN_SHIFT[steps];
        const std::uint32_t pyrrole = pyrrole_fusion_nitrogen(mol, rings, r, x);
        if (pyrrole == NONE) continue;
        if (steps == 0) angle += AZINE_PYRROLE_FUSION_SHIFT;
        else if (steps == 1 && mol.bond_between(centre, x) != NONE && rings.smallest_size(centre, x, pyrrole) != 5)
            angle -= AZINE_PYRROLE_FUSION_SHIFT;
    }
    return angle;
}

std::optional<double> azine_ring_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t r,
                                       std::uint32_t centre) {
    if (!azine_ring(mol, rings, r)) return std::nullopt;
    return azine_inside_angle(mol, rings, r, centre);
}

std::optional<double> azine_six_ring_angle(const core::MolBuilder& mol, const RingContext& rings,
                                           std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    return azine_ring_angle(mol, rings, rings.smallest_holding(centre, a, c), centre);
}

// The angle a-centre-c at an atom of an azine ring: inside the ring, its
// own; to an exocyclic neighbour, half of what the ring angle leaves; across
// a six-ring fused on, what the two rings' angles leave. None for any other
// angle (a 5-6 fusion atom's across angle is `fused_five_six_angle`'s).
std::optional<double> azine_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                  std::uint32_t a, std::uint32_t c) {
    if (const auto inside = azine_six_ring_angle(mol, rings, centre, a, c)) return inside;
    if (mol.degree[centre] != 3 || rings.smallest_size(centre, a, c) != 0) return std::nullopt;
    std::uint32_t third = NONE;
    for (core::Neighbor nb : mol.neighbors(centre))
        if (nb.atom != a && nb.atom != c) third = nb.atom;
    for (const auto& [own, other] : {std::pair{a, c}, std::pair{c, a}}) {
        const auto inside = azine_six_ring_angle(mol, rings, centre, own, third);
        if (!inside) continue;
        const std::size_t fused = rings.smallest_size(centre, other, third);
        if (fused == 0) return (360.0 - *inside) / 2.0;
        if (fused != 6) return std::nullopt;
        const double beside = azine_six_ring_angle(mol, rings, centre, other, third)
                                  .value_or(estimate_bond_angle(element(mol, centre), 3, 1, 6, 6).angle * RAD_TO_DEG);
        return 360.0 - *inside - beside;
    }
    return std::nullopt;
}

// ---- The ipso carbon of an aryl ether whose alkyl lies in the ring's plane
// (see `aryl_ether_side`): the alkyl meets the ortho hydrogen on its own
// side and tilts the C-O bond away from it. Crystal structures of anisoles
// and aryl alkyl ethers give C(ortho)-C-O 124.5 on the alkyl's side and
// 115.5 on the other (anisole's gas-phase structure alike); an even split
// of the ring's 120 left both near 120. Towards a ring nitrogen the alkyl
// meets no hydrogen, and the ring's own angle there opens to some 124: N-C-O
// 119.5 and C-C-O 116.5 in 2-alkoxypyridines and -pyrimidines.
std::optional<double> aryl_ether_ipso_angle(const core::MolBuilder& mol, const RingContext& rings,
                                            std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 6 || mol.degree[centre] != 3) return std::nullopt;
    const std::uint32_t o = element(mol, a) == core::Element::O ? a : element(mol, c) == core::Element::O ? c : NONE;
    if (o == NONE) return std::nullopt;
    const std::uint32_t ortho = o == a ? c : a, side = aryl_ether_side(mol, rings, centre, o);
    if (side == NONE) return std::nullopt;
    if (element(mol, side) == core::Element::N) return ortho == side ? 119.5 : 116.5;
    return ortho == side ? 124.5 : 115.5;
}

// ---- The ipso carbon of an anilide whose ring neighbours are both carbons
// (see `anilide_side`): as an aryl ether's alkyl does, the carbonyl oxygen
// meets the ortho hydrogen on its side and tilts the C-N bond away from
// it. Crystal structures of acetanilide and paracetamol give C(ortho)-C-N
// some 124 on the carbonyl's side and 117 on the other.
std::optional<double> anilide_ipso_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                         std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 6 || mol.degree[centre] != 3) return std::nullopt;
    const std::uint32_t n = element(mol, a) == core::Element::N ? a : element(mol, c) == core::Element::N ? c : NONE;
    if (n == NONE) return std::nullopt;
    const std::uint32_t ortho = n == a ? c : a, side = anilide_side(mol, rings, centre, n);
    if (side == NONE) return std::nullopt;
    for (core::Neighbor nb : mol.neighbors(centre))
        if (nb.atom != n && element(mol, nb.atom) != core::Element::C) return std::nullopt;
    return ortho == side ? 124.0 : 117.0;
}

// An sp3 carbon without hydrogens.
bool quaternary_carbon(const core::MolBuilder& mol, std::uint32_t x) {
    if (element(mol, x) != core::Element::C || !is_sp3(mol, x)) return false;
    for (core::Neighbor nb : mol.neighbors(x))
        if (element(mol, nb.atom) == core::Element::H) return false;
    return true;
}

// ---- At an sp3 carbon bonded to a nitrogen and an oxygen (a nucleoside's
// C1', a carbinolamine's), the N-C-O outside any ring closes below the
// tetrahedral angle: O4'-C1'-N 108.2 in crystal structures of nucleosides.
// It is given 107: the wider angles beside it (C2'-C1'-N 113-114) press a
// refinement a degree or two past it.
// None for an angle within a ring (an oxazolidine's closes with its ring)
// or at a three- or four-ring's carbon, whose ring opens its other angles.
std::optional<double> hemiaminal_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                       std::uint32_t a, std::uint32_t c) {
    const auto oxygen = [&](std::uint32_t o) {
        return element(mol, o) == core::Element::O && mol.degree[o] == 2 && mol.atoms[o].formal_charge == 0;
    };
    const bool pair = (element(mol, a) == core::Element::N && oxygen(c)) ||
                      (element(mol, c) == core::Element::N && oxygen(a));
    if (!pair || !is_sp3(mol, centre) || mol.degree[centre] != 4 || rings.smallest[centre] == 3 ||
        rings.smallest[centre] == 4 || rings.smallest_size(centre, a, c) != 0)
        return std::nullopt;
    return 107.0;
}

// ---- At a beta-lactam's C4, the sp3 carbon beside its nitrogen, an
// exocyclic substituent leans away from the short C4-N bond: crystal
// structures of 4-acyloxy, 4-thio and 4-alkyl azetidin-2-ones and of
// monobactams give N1-C4-X 110-113 and C3-C4-X 114-118, where the
// statistics' four-ring carbon is even at 113.8. None for an angle between
// two exocyclic atoms, or with an atom sharing another ring with C4.
std::optional<double> beta_lactam_c4_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                           std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 4 || mol.degree[centre] != 4 || !is_sp3(mol, centre)) return std::nullopt;
    if (element(mol, a) == core::Element::H || element(mol, c) == core::Element::H) return std::nullopt;
    const bool a_inside = rings.smallest_size(centre, a) == 4, c_inside = rings.smallest_size(centre, c) == 4;
    if (a_inside == c_inside) return std::nullopt;
    const std::uint32_t inside = a_inside ? a : c, outside = a_inside ? c : a;
    if (rings.smallest_size(centre, outside) != 0) return std::nullopt;
    const auto lactam_nitrogen = [&](std::uint32_t n) {
        if (element(mol, n) != core::Element::N || nitrogen_kind(mol, n) != Kind::AmideNitrogen) return false;
        for (core::Neighbor nb : mol.neighbors(n))
            if (plain_carbonyl_partner(mol, nb.atom) != NONE && rings.smallest_size(n, centre, nb.atom) == 4)
                return true;
        return false;
    };
    if (lactam_nitrogen(inside)) return 111.5;
    for (core::Neighbor nb : mol.neighbors(centre))
        if (nb.atom != inside && lactam_nitrogen(nb.atom) && rings.smallest_size(centre, nb.atom) == 4) return 116.0;
    return std::nullopt;
}

// ---- At a ring's quaternary carbon, between an ether or ester oxygen and
// an acyl carbon (a 17-acyloxy-20-keto steroid's C17, a 1-O-alkyl quinic
// acid's C1): the oxygen's substituent stands anti to a ring bond and so
// gauche to the acyl group, whose O-C-C opens as the gauche O-C-C of
// tert-butyl esters and ethers do (110-112 in crystal structures, the anti
// one 102-104). None for a hydroxyl's oxygen or any other angle.
std::optional<double> quaternary_acyl_ether_angle(const core::MolBuilder& mol, const RingContext& rings,
                                                  std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    const auto ether = [&](std::uint32_t o) {
        if (element(mol, o) != core::Element::O || mol.degree[o] != 2 || rings.smallest[o] != 0) return false;
        for (core::Neighbor nb : mol.neighbors(o))
            if (element(mol, nb.atom) == core::Element::H) return false;
        return true;
    };
    const auto acyl = [&](std::uint32_t x) {
        return element(mol, x) == core::Element::C && rings.smallest[x] == 0 && plain_carbonyl_partner(mol, x) != NONE;
    };
    if ((!ether(a) || !acyl(c)) && (!ether(c) || !acyl(a))) return std::nullopt;
    if (rings.smallest_size(centre, a, c) != 0 || !quaternary_carbon(mol, centre)) return std::nullopt;
    return 112.0;
}

// ---- A chain methylene between a carbon and a crowded or large neighbour
// opens its C-C-X past the statistics' 110: beside a quaternary carbon
// C-CH2-C 115.5 (2,2-dimethylbutane's gas-phase structure 116-117,
// neopentyl groups in crystal structures 115-117), between an sp3 carbon
// and a sulfide's or thiol's sulfur C-CH2-S 112.5 (alkyl sulfides 112-114
// in crystal structures, cysteine's 114); the methylene's hydrogens press
// a refinement a degree or two past either. A benzyl sulfide's keeps the
// statistics'. Between an sp3 carbon and an aromatic ring's nitrogen
// C-CH2-N 110.5 (N-ethyl indoles, carbazoles and azoles in crystal
// structures 112-114, the ring's ortho hydrogens pressing a refinement
// past it; beside a quaternary carbon its own rule), as between such a
// nitrogen, charged or not, and a carbonyl carbon (azolyl acetic esters and
// amides, N-phenacyl azolium salts 111-114), and between a carbon
// and a four-connected phosphorus C-CH2-P 114 (phosphonium salts 113-117,
// alkylphosphonates and phosphine oxides 112-116 in crystal structures).
// Between a carbonyl carbon and a tertiary nitrogen N-CH2-C(=O) 111.5: the
// nitrogen's third substituent presses on the methylene's carbonyl side
// (crystal structures of EDTA, N,N-dialkyl glycines and sarcosine residues
// 111-115), and a ring or acyl on the nitrogen presses a refinement a
// degree or two further; at a secondary nitrogen (peptides' glycine) the
// statistics' angle stands. Between a carbonyl carbon and an ammonium's or iminium's
// nitrogen 108.5: crystal structures of glycine's zwitterion (111.8),
// betaine esters and N-carbonylmethyl ammonium salts give 110-112, and the
// cation's crowded neighbours press a refinement some 3 past what it is
// given (at the statistics' 109.5 they ended 112-114). None for any other
// centre or angle.
std::optional<double> methylene_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                      std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 0 || !is_sp3(mol, centre) || mol.degree[centre] != 4) return std::nullopt;
    if (heavy_neighbours(mol, centre) != 2 || element(mol, a) == core::Element::H ||
        element(mol, c) == core::Element::H)
        return std::nullopt;
    const auto sulfide = [&](std::uint32_t x) {
        return element(mol, x) == core::Element::S && mol.degree[x] == 2 && mol.atoms[x].formal_charge == 0;
    };
    for (const auto& [x, y] : {std::pair{a, c}, std::pair{c, a}}) {
        if (element(mol, y) != core::Element::C) continue;
        if (quaternary_carbon(mol, x)) return 115.5;
        if (sulfide(x) && is_sp3(mol, y)) return 112.5;
        if (element(mol, x) == core::Element::N && is_aromatic(mol, x) && mol.degree[x] == 3 &&
            ((is_sp3(mol, y) && !quaternary_carbon(mol, y)) || carbon_kind(mol, y) == Kind::CarbonylCarbon))
            return 110.5;
        if (element(mol, x) == core::Element::P && mol.degree[x] == 4) return 114.0;
        if (tertiary_nitrogen(mol, x) && carbon_kind(mol, y) == Kind::CarbonylCarbon) return 111.5;
        if (cationic_chain_nitrogen(mol, x) && carbon_kind(mol, y) == Kind::CarbonylCarbon) return 108.5;
    }
    return std::nullopt;
}

// ---- An open-chain alkene's =CH- on a quaternary carbon (tert-butyl and
// neopentyl-like alkenes, prenyl groups on a ring's quaternary carbon): the
// quaternary carbon's branches meet the far alkene carbon's substituents
// and open C=C-C past propene's 124.3 (gas-phase structure), to 126-130 in
// crystal structures of such alkenes, where the statistics' trigonal
// carbon is even at 120. It is given 125: the branches press a refinement
// to 126-132 (at 127 a cis neighbour's crowding took it to 134). The
// hydrogen's two angles share the rest (C=C-H 118-119). None for any other
// centre or angle.
std::optional<double> alkene_quaternary_angle(const core::MolBuilder& mol, const RingContext& rings,
                                              std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 0 || mol.degree[centre] != 3) return std::nullopt;
    std::uint32_t alkene = NONE, quaternary = NONE, hydrogen = NONE;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const BondOrder order = mol.bonds[nb.bond].order;
        if (order == BondOrder::Double && element(mol, nb.atom) == core::Element::C && !is_aromatic(mol, nb.atom))
            alkene = nb.atom;
        else if (order == BondOrder::Single && quaternary_carbon(mol, nb.atom)) quaternary = nb.atom;
        else if (element(mol, nb.atom) == core::Element::H) hydrogen = nb.atom;
    }
    if (alkene == NONE || quaternary == NONE || hydrogen == NONE) return std::nullopt;
    constexpr double OPEN = 125.0, ALKENE_H = 119.0;
    if (a != alkene && c != alkene) return 360.0 - OPEN - ALKENE_H;
    return (a == alkene ? c : a) == quaternary ? OPEN : ALKENE_H;
}

// ---- A six-ring alkene carbon beside a quaternary carbon of its ring, with a
// chain on it (the beta-ionone ring of ionones, retinoids and carotenoids,
// beta-cyclocitral): the gem-dimethyl presses the chain away, towards the
// ring double bond. Crystal structures of retinal, retinoic acid and
// beta-ionone derivatives give C1-C6-C7 some 117 (towards the quaternary
// C1) and C5=C6-C7 122-124; the statistics' trigonal carbon is even at 120,
// where the methyls pressed the chain to 122-131. The angle towards the
// double bond takes what the ring angle (the statistics', as the bounds read
// it) leaves of 360. None for the ring angle or any other centre.
std::optional<double> ring_alkene_quaternary_angle(const core::MolBuilder& mol, const RingContext& rings,
                                                   std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    const std::size_t own = rings.smallest[centre];
    if (own != 6 || mol.degree[centre] != 3 || is_aromatic(mol, centre) ||
        element(mol, centre) != core::Element::C)
        return std::nullopt;
    std::uint32_t exo = NONE, quaternary = NONE, partner = NONE;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const bool in_ring = rings.smallest_size(centre, nb.atom) != 0;
        const BondOrder order = mol.bonds[nb.bond].order;
        if (!in_ring && order == BondOrder::Single && element(mol, nb.atom) != core::Element::H) exo = nb.atom;
        else if (in_ring && order == BondOrder::Single && quaternary_carbon(mol, nb.atom)) quaternary = nb.atom;
        else if (in_ring && order == BondOrder::Double && element(mol, nb.atom) == core::Element::C) partner = nb.atom;
    }
    if (exo == NONE || quaternary == NONE || partner == NONE || (a != exo && c != exo)) return std::nullopt;
    constexpr double TOWARD_QUATERNARY = 117.0;
    if (a == quaternary || c == quaternary) return TOWARD_QUATERNARY;
    const double inside = estimate_bond_angle(core::Element::C, 3, 0, own, own).angle * RAD_TO_DEG;
    return 360.0 - inside - TOWARD_QUATERNARY;
}

// ---- A secondary amide's nitrogen on a tertiary alkyl carbon (N-tert-butyl,
// N-adamantyl, N-1-methylcyclohexyl amides, carbamates and thioamides):
// the alkyl's three branches meet the carbonyl oxygen cis to them in the
// flat trans amide and open C(=O)-N-C past a plain N-alkyl amide's 121-122,
// to 124-127 in crystal structures. Those contacts press a refinement some
// 3 past the angle it is given, so it is given 121.5; the hydrogen's two
// angles share the rest. A cyclopropyl carbon's branches are tied back and
// keep the plain amide's.
std::optional<double> tertiary_alkyl_amide_angle(const core::MolBuilder& mol, const RingContext& rings,
                                                 std::uint32_t n, std::uint32_t a, std::uint32_t c) {
    if (nitrogen_kind(mol, n) != Kind::AmideNitrogen) return std::nullopt;
    std::uint32_t acyl = NONE, alkyl = NONE, hydrogen = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (element(mol, nb.atom) == core::Element::H) hydrogen = nb.atom;
        else if (quaternary_carbon(mol, nb.atom) && rings.smallest[nb.atom] != 3) alkyl = nb.atom;
        else if (plain_carbonyl_partner(mol, nb.atom) != NONE) acyl = nb.atom;
    }
    if (acyl == NONE || alkyl == NONE || hydrogen == NONE) return std::nullopt;
    constexpr double ACYL_ALKYL = 121.5;
    return (a == acyl && c == alkyl) || (a == alkyl && c == acyl) ? ACYL_ALKYL : (360.0 - ACYL_ALKYL) / 2.0;
}

// At a carbonyl carbon X=C(n1)(n2): by what n1 and n2 are.
std::optional<double> carbonyl_angle(const core::MolBuilder& mol, std::uint32_t centre, std::uint32_t x,
                                     std::uint32_t a, std::uint32_t c) {
    if (mol.degree[centre] != 3) return std::nullopt;
    std::array<std::uint32_t, 2> others{NONE, NONE};
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(centre))
        if (nb.atom != x && count < 2) others[count++] = nb.atom;
    if (element(mol, x) != core::Element::O) return hetero_carbonyl_angle(mol, x, others, a, c);
    const Kind k0 = kind_of(mol, others[0]), k1 = kind_of(mol, others[1]);
    const auto is = [&](Kind k) { return k0 == k ? others[0] : k1 == k ? others[1] : NONE; };
    const auto carbon_or_h = [&](std::uint32_t n) {
        return element(mol, n) == core::Element::C || element(mol, n) == core::Element::H;
    };
    const std::uint32_t far = a == x ? c : a;  // the angle's atom other than x, if x is in it
    const bool with_x = a == x || c == x;
    // Each row: the angle between x and the group's heteroatom, between x and
    // the other substituent, and between the two substituents (summing 360).
    const auto pick = [&](std::uint32_t hetero, double x_hetero, double x_other, double between) {
        if (!with_x) return between;
        return far == hetero ? x_hetero : x_other;
    };
    if (const std::uint32_t o = is(Kind::CarboxylateOxygen); o != NONE && carbon_or_h(o == others[0] ? others[1] : others[0]))
        return pick(o, 125.5, 117.25, 117.25);
    if (const std::uint32_t n = is(Kind::AmideNitrogen); n != NONE && carbon_or_h(n == others[0] ? others[1] : others[0]))
        return pick(n, 122.5, 121.5, 116.0);
    for (Kind k : {Kind::EsterOxygen, Kind::AcidOxygen})
        if (const std::uint32_t o = is(k); o != NONE && carbon_or_h(o == others[0] ? others[1] : others[0]))
            return pick(o, 123.0, 125.0, 112.0);
    if (const auto hetero = hetero_carbonyl_angle(mol, x, others, a, c)) return hetero;
    if (!carbon_or_h(others[0]) || !carbon_or_h(others[1])) return std::nullopt;
    const bool h0 = element(mol, others[0]) == core::Element::H, h1 = element(mol, others[1]) == core::Element::H;
    if (h0 && h1) return std::nullopt;
    if (h0 || h1) return pick(h0 ? others[0] : others[1], 120.5, 124.5, 115.0);  // aldehydes
    return pick(NONE, 0.0, 121.25, 117.5);  // ketones
}

// ---- An imine carbon X=C(n1)(n2), X its nitrogen, whose neighbours'
// kinds set its angles where an even split would not: an imidate anion's
// (R-C(O-)=N, acyl sulfonamide and sulfonylurea anions), whose oxygen
// shares the charge with the nitrogen and opens the angle between them as a
// carboxylate's (O-C-N 126-130 in crystal structures of their salts), and
// a thioimidate's (R-C(SR')=N), whose sulfur leans towards the nitrogen
// (crystal structures of S-alkyl thioimidates and thiohydroximates: N=C-S
// 120-126, C-C-S 112-116; of dithioimidocarbonates S-C-S 112-114).

// An imidate anion's oxygen; a thioimidate's thiol or sulfide sulfur.
bool imidate_oxide(const core::MolBuilder& mol, std::uint32_t x) {
    return element(mol, x) == core::Element::O && mol.degree[x] == 1 && mol.atoms[x].formal_charge == -1;
}

bool imidate_sulfur(const core::MolBuilder& mol, std::uint32_t x) {
    return element(mol, x) == core::Element::S && mol.degree[x] == 2 && mol.atoms[x].formal_charge == 0;
}

// A neutral guanidine's imine carbon, X=C(NR2)2 (guanidines, a biguanide's
// terminal half): the double bond opens its two angles and the two amino
// nitrogens close theirs, N-C-N 115-118 against N=C-N 120-125 in crystal
// structures of neutral guanidines and biguanides; the statistics' even 120
// left metformin's H2N-C-NH2 some 10 above where MMFF94 settles it.
bool guanidine_amino(const core::MolBuilder& mol, std::uint32_t x) {
    return element(mol, x) == core::Element::N && mol.degree[x] == 3 && mol.atoms[x].formal_charge == 0 &&
           !is_aromatic(mol, x);
}

std::optional<double> imine_carbon_angle(const core::MolBuilder& mol, std::uint32_t centre, std::uint32_t a,
                                         std::uint32_t c) {
    if (element(mol, centre) != core::Element::C || mol.degree[centre] != 3 || is_aromatic(mol, centre))
        return std::nullopt;
    std::uint32_t x = NONE;
    std::array<std::uint32_t, 2> others{NONE, NONE};
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const BondOrder order = mol.bonds[nb.bond].order;
        if (order == BondOrder::Double && element(mol, nb.atom) == core::Element::N) x = nb.atom;
        else if (order == BondOrder::Single && count < 2) others[count++] = nb.atom;
    }
    if (x == NONE || count != 2) return std::nullopt;
    // The angle between x and the lead, between x and the other, and between
    // the lead and the other (summing 360).
    std::array<double, 3> angles{};
    std::size_t lead = 0;
    if (imidate_oxide(mol, others[0]) || imidate_oxide(mol, others[1])) {
        lead = imidate_oxide(mol, others[0]) ? 0 : 1;
        angles = {128.0, 113.5, 118.5};
    } else if (guanidine_amino(mol, others[0]) && guanidine_amino(mol, others[1]) &&
               mol.atoms[x].formal_charge == 0) {
        angles = {121.5, 121.5, 117.0};
    } else if (imidate_sulfur(mol, others[0]) && imidate_sulfur(mol, others[1])) {
        angles = {123.5, 123.5, 113.0};
    } else if (imidate_sulfur(mol, others[0]) || imidate_sulfur(mol, others[1])) {
        lead = imidate_sulfur(mol, others[0]) ? 0 : 1;
        const std::uint8_t z = element(mol, others[1 - lead]);
        if (z != core::Element::C && z != core::Element::H) return std::nullopt;
        angles = {124.0, 122.0, 114.0};
    } else {
        return std::nullopt;
    }
    if (a != x && c != x) return angles[2];
    return (a == x ? c : a) == others[lead] ? angles[0] : angles[1];
}

// ---- An N-substituted hydroxamic acid's or N-alkoxy amide's nitrogen,
// C(=O)-N(-O)-R: its oxygen draws its lone pair, and it lies a little
// pyramidal (angle sums 350-355), C(=O)-N-O 115-119, R-N-O 112-115 and
// C(=O)-N-R 122-126 in crystal structures of N-alkyl and N-aryl hydroxamic
// acids and Weinreb amides; an even split gave each O-N-C 120. None for any
// other nitrogen: a secondary one, C(=O)NHOH, lies flatter, its C(=O)-N-O
// near the even split's (117-120 in crystal structures).
std::optional<double> hydroxamic_nitrogen_angle(const core::MolBuilder& mol, std::uint32_t n, std::uint32_t a,
                                                std::uint32_t c) {
    if (mol.degree[n] != 3 || mol.atoms[n].formal_charge != 0 || is_aromatic(mol, n)) return std::nullopt;
    std::uint32_t oxygen = NONE;
    bool acyl = false;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (element(mol, nb.atom) == core::Element::H) return std::nullopt;
        if (element(mol, nb.atom) == core::Element::O && mol.degree[nb.atom] == 2 &&
            mol.bonds[nb.bond].order == BondOrder::Single && mol.atoms[nb.atom].formal_charge == 0)
            oxygen = nb.atom;
        acyl |= plain_carbonyl_partner(mol, nb.atom) != NONE;
    }
    if (oxygen == NONE || !acyl) return std::nullopt;
    constexpr double ACYL_O = 117.0, OTHER_O = 113.5, ACYL_OTHER = 124.0;
    const auto is_acyl = [&](std::uint32_t x) { return plain_carbonyl_partner(mol, x) != NONE; };
    if (a == oxygen || c == oxygen) return is_acyl(a == oxygen ? c : a) ? ACYL_O : OTHER_O;
    return ACYL_OTHER;
}

// The C-O-C of an aryl ether turned out of its ring's plane. Between two
// ortho substituents its alkyl leans against one of them, and the 1-3
// window, some 3 degrees either way at these lengths, lets a crowded fold
// settle at its top (omeprazole's pyridyl methoxy at 118.3, where a force
// field closes it to 110): such a methoxy is given the low end of the
// crystal structures' 113-116 (2,6-dimethylanisoles, 1,2,3-trimethoxyarenes'
// middle methoxy 113-114), the others their middle.
double off_plane_aryl_ether_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom) {
    return crowded_on_both_sides(mol, rings, ring_atom) ? 113.0 : 114.5;
}

// At a two-connected oxygen between carbons: by what the carbons are.
std::optional<double> oxygen_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t o,
                                   std::uint32_t a, std::uint32_t c) {
    Kind ka = kind_of(mol, a), kc = kind_of(mol, c);
    if (ka > kc) std::swap(ka, kc);
    using P = std::pair<Kind, Kind>;
    const P pair{ka, kc};
    if (pair == P{Kind::Sp3Carbon, Kind::Sp3Carbon}) return 112.0;
    // A perfluoroalkyl standing perpendicular to its ring: C-O-C 117-119
    // (trifluoromethoxybenzene in the gas, aryl trifluoromethyl ethers in
    // crystals); its fluorines meet the ortho atoms, and a refinement
    // settles a degree past the middle of the window.
    if (pair == P{Kind::Sp3Carbon, Kind::AromaticCarbon} &&
        aryl_ether_perpendicular(mol, rings, kind_of(mol, a) == Kind::AromaticCarbon ? a : c, o))
        return 117.0;
    // An aryl ether whose alkyl leaves the ring's plane meets no ortho
    // hydrogen: C-O-C 113-116 in crystal structures of 2,6-disubstituted
    // anisoles and 1,2,3-trimethoxyarenes' middle methoxy.
    if (pair == P{Kind::Sp3Carbon, Kind::AromaticCarbon} &&
        aryl_ether_off_plane(mol, rings, kind_of(mol, a) == Kind::AromaticCarbon ? a : c, o))
        return off_plane_aryl_ether_angle(mol, rings, kind_of(mol, a) == Kind::AromaticCarbon ? a : c);
    if (pair == P{Kind::Sp3Carbon, Kind::CarbonylCarbon}) return 116.5;
    // A vinyl or enol ester's oxygen is shared by two pi systems and opens as
    // a phenyl ester's does: C=C-O-C(=O) 117 in vinyl acetate's gas-phase
    // structure (electron diffraction), 115-119 in crystal structures of enol
    // esters; the statistics' ether row gave 108.
    if (pair == P{Kind::AlkeneCarbon, Kind::CarbonylCarbon}) return 117.0;
    if (pair == P{Kind::Sp3Carbon, Kind::AromaticCarbon} || pair == P{Kind::AromaticCarbon, Kind::CarbonylCarbon} ||
        pair == P{Kind::Sp3Carbon, Kind::AlkeneCarbon})
        return 117.5;
    // Diaryl ethers 118-121 in crystals (diphenyl ether 120); the ortho
    // atoms of each ring press against the other ring, and a refinement
    // settles at the window's upper edge, some 5 past its middle.
    if (pair == P{Kind::AromaticCarbon, Kind::AromaticCarbon}) return 116.0;
    return std::nullopt;
}

// A sulfonamide's C-S-N: 106-108 in crystal structures of aryl and alkyl
// sulfonamides, primary to tertiary. Each heavy substituent on the nitrogen
// crowds the sulfonyl's oxygens and carbon, and a refinement settles about a
// degree further above the angle it is given: 106.5 at an NH2, one less for
// each substituent. Any other pair of neighbours (sulfamides, sulfonates)
// closes to 106.5.
double sulfonamide_between(const core::MolBuilder& mol, const std::array<std::uint32_t, 2>& others) {
    for (const auto& [c, n] : {std::pair{others[0], others[1]}, std::pair{others[1], others[0]}}) {
        if (c == NONE || n == NONE || element(mol, c) != core::Element::C || element(mol, n) != core::Element::N)
            continue;
        return 106.5 - static_cast<double>(std::min<std::size_t>(heavy_neighbours(mol, n), 3) - 1);
    }
    return 106.5;
}

// At a sulfonyl sulfur: its two oxygens open to 120.5, the two other
// neighbours close to 104.5 in a sulfone and otherwise as
// `sulfonamide_between` gives, and each oxygen's angle to them follows from those two, as a
// four-connected centre's angles can only be met together: 119.5, 106.5 and
// four of 108 cannot, and the oxygens gave way to some 116.5. In a ring
// (sulfolane, sultams, saccharin) the oxygens open as far, 117-121 in
// crystals, and the ring's own angle is the statistics' for the ring.
std::optional<double> sulfonyl_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t s,
                                     std::uint32_t a, std::uint32_t c) {
    if (!sulfonyl_sulfur(mol, s)) return std::nullopt;
    const auto oxo = [&](std::uint32_t o) {
        return element(mol, o) == core::Element::O && mol.degree[o] == 1 &&
               mol.bonds[mol.bond_between(s, o)].order == BondOrder::Double;
    };
    constexpr double OXYGENS = 120.5;
    std::array<std::uint32_t, 2> others{NONE, NONE};
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(s))
        if (!oxo(nb.atom) && count < 2) others[count++] = nb.atom;
    const bool sulfone = count == 2 && element(mol, others[0]) == core::Element::C &&
                         element(mol, others[1]) == core::Element::C;
    const std::size_t own = rings.smallest[s], ring = count == 2 ? rings.smallest_size(s, others[0], others[1]) : 0;
    const bool in_ring = own != 0 && own < LARGE_RING;
    if (in_ring && ring != own) return std::nullopt;
    const double between = in_ring   ? estimate_bond_angle(core::Element::S, 4, 0, own, ring).angle * RAD_TO_DEG
                           : sulfone ? 104.5
                                     : sulfonamide_between(mol, others);
    const std::size_t in_angle = std::size_t(oxo(a)) + std::size_t(oxo(c));
    if (in_angle == 2) return OXYGENS;
    if (in_angle == 0) return in_ring ? std::nullopt : std::optional(between);
    // The two planes bisect each other at right angles.
    return std::acos(-std::cos(OXYGENS / 2.0 * DEG_TO_RAD) * std::cos(between / 2.0 * DEG_TO_RAD)) * RAD_TO_DEG;
}

// At a four-connected phosphorus with one or two terminal oxygens or
// sulfurs (phosphates, phosphonates, phosphoramidates, thiophosphates and
// their anions), as crystal structures give them: the other neighbours close
// to some 105 (trimethyl phosphate's O-P-O 103-106, a phosphonate's C-P-O
// 103-107) and a lone P=O or P=S opens from each to 113.7, as the four
// angles of a threefold centre can only be met together; two terminal
// oxygens (a phosphodiester anion's) open to 119.5 between them, each then
// some 108 to the others. In a ring the ring's own angle is the
// statistics'.
std::optional<double> phosphoryl_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t p,
                                       std::uint32_t a, std::uint32_t c) {
    if (mol.degree[p] != 4 || mol.atoms[p].formal_charge != 0) return std::nullopt;
    const auto terminal = [&](std::uint32_t x) {
        return (element(mol, x) == core::Element::O || element(mol, x) == core::Element::S) && mol.degree[x] == 1;
    };
    std::size_t terminals = 0;
    for (core::Neighbor nb : mol.neighbors(p)) terminals += terminal(nb.atom);
    if (terminals != 1 && terminals != 2) return std::nullopt;
    constexpr double OTHERS = 105.0, TERMINALS = 119.5;
    const std::size_t in_angle = std::size_t(terminal(a)) + std::size_t(terminal(c));
    const std::size_t own = rings.smallest[p];
    if (in_angle == 0) return own != 0 && own < LARGE_RING ? std::nullopt : std::optional(OTHERS);
    if (terminals == 1) {
        const double cos_others = std::cos(OTHERS * DEG_TO_RAD);
        return std::acos(-std::sqrt((1.0 + 2.0 * cos_others) / 3.0)) * RAD_TO_DEG;
    }
    if (in_angle == 2) return TERMINALS;
    return std::acos(-std::cos(TERMINALS / 2.0 * DEG_TO_RAD) * std::cos(OTHERS / 2.0 * DEG_TO_RAD)) * RAD_TO_DEG;
}

// At a nitrogen outside the rings. A two-connected one (imine, oxime,
// azo) bends about its lone pair, more tightly towards a hydrogen or an
// oxygen; a three-connected one between two aryl groups is conjugated with
// both and opens the angle between them, as is one between an aryl group
// and a nitrogen (aryl hydrazines).
std::optional<double> nitrogen_angle(const core::MolBuilder& mol, std::uint32_t n, std::uint32_t a, std::uint32_t c) {
    const core::Atom& atom = mol.atoms[n];
    if (atom.formal_charge != 0 || is_aromatic(mol, n)) return std::nullopt;
    if (mol.degree[n] == 2) {
        const core::Bond& ba = mol.bonds[mol.bond_between(n, a)];
        const core::Bond& bc = mol.bonds[mol.bond_between(n, c)];
        if ((ba.order == BondOrder::Double) == (bc.order == BondOrder::Double)) return std::nullopt;
        const std::uint32_t doubled = ba.order == BondOrder::Double ? a : c, single = doubled == a ? c : a;
        if ((ba.order != BondOrder::Single && bc.order != BondOrder::Single) || is_aromatic(mol, doubled))
            return std::nullopt;
        switch (element(mol, single)) {
            case core::Element::H: return 110.0;
            case core::Element::O: return 111.0;
            default: break;
        }
        if (element(mol, doubled) == core::Element::N) return 114.0;
        return element(mol, doubled) == core::Element::C ? std::optional(117.0) : std::nullopt;
    }
    if (mol.degree[n] != 3 || nitrogen_kind(mol, n) != Kind::Other || nitro_oxide(mol, n) != NONE) return std::nullopt;
    const auto aryl = [&](std::uint32_t x) { return kind_of(mol, x) == Kind::AromaticCarbon; };
    const std::size_t aryls = std::size_t(aryl(a)) + std::size_t(aryl(c));
    if (aryls == 2) return 127.0;
    std::size_t all_aryls = 0;
    for (core::Neighbor nb : mol.neighbors(n)) all_aryls += aryl(nb.atom);
    if (all_aryls == 2) return (360.0 - 127.0) / 2.0;
    if (aryls == 1 && element(mol, aryl(a) ? c : a) == core::Element::N) return 118.0;
    return std::nullopt;
}

std::optional<double> unstrained_length(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t bond,
                                        std::size_t ring_size) {
    const core::Bond& b = mol.bonds[bond];
    Kind ka = bond_kind(mol, rings, b.begin), kb = bond_kind(mol, rings, b.end);
    if (ka > kb) std::swap(ka, kb);
    if (ring_size != 0 && ring_size < LARGE_RING && ka == Kind::Sp3Carbon && saturated(kb)) return std::nullopt;
    if (b.order == BondOrder::Double) {
        // The C=O of a carboxylate.
        std::uint32_t carbon = b.begin, oxygen = b.end;
        if (element(mol, carbon) != core::Element::C) std::swap(carbon, oxygen);
        if (element(mol, oxygen) != core::Element::O || carbon_kind(mol, carbon) != Kind::CarbonylCarbon)
            return std::nullopt;
        for (core::Neighbor nb : mol.neighbors(carbon))
            if (kind_of(mol, nb.atom) == Kind::CarboxylateOxygen) return CARBOXYLATE_CO;
        return std::nullopt;
    }
    if (b.order != BondOrder::Single) return std::nullopt;
    // The statistics know no H-H bond, and the covalent radii give H2 0.62.
    if (element(mol, b.begin) == core::Element::H && element(mol, b.end) == core::Element::H) return H2_LENGTH;
    if (ka == Kind::Sp3Carbon && kb == Kind::Fluorine) {
        const std::uint32_t carbon = element(mol, b.begin) == core::Element::C ? b.begin : b.end;
        std::size_t fluorines = 0;
        for (core::Neighbor nb : mol.neighbors(carbon)) fluorines += element(mol, nb.atom) == core::Element::F;
        if (fluorines > 1) return FLUORINATED_CF;
    }
    if (ka == Kind::CarbonylCarbon && kb == Kind::AmideNitrogen &&
        carbonyl_neighbours(mol, element(mol, b.begin) == core::Element::N ? b.begin : b.end) > 1)
        return IMIDE_CN;
    for (const Length& l : LENGTHS)
        if (l.a == ka && l.b == kb) return l.length;
    return std::nullopt;
}

// A four-membered ring stretches its bonds: cyclobutane's C-C is 1.55, a
// beta-lactam's C(=O)-N 1.38 and a cyclobutanone's C-C(=O) 1.53, some 0.03
// beyond their open-chain lengths. Unstretched, the ring's diagonals close
// to under 2 A.
constexpr double FOUR_RING_STRETCH = 0.03;

// An aromatic four-membered ring is a squaric acid's, a squaramide's or a
// squaraine's: its bonds are 1.40 to 1.50 A (the statistics' aromatic rows
// give 1.38, and the ring's diagonals close to 1.95, where they are some
// 2.07).
constexpr double AROMATIC_FOUR_RING = 1.460;

// A bond of one ring only, that ring aromatic throughout: a squaric ring's
// own bonds, not a benzocyclobutene's fusion bond, which is its benzene's.
bool lone_aromatic_ring_bond(const RingContext& rings, const core::Bond& b) {
    std::size_t holding = 0;
    std::uint32_t ring = NONE;
    for (std::uint32_t k = rings.atom_offsets[b.begin]; k < rings.atom_offsets[b.begin + 1]; ++k)
        if (rings.contains(rings.atom_rings[k], b.end)) {
            ++holding;
            ring = rings.atom_rings[k];
        }
    return holding == 1 && rings.aromatic[ring];
}

// A nitro group's N-O bond to a terminal oxygen: both take the double
// bond's length, within half the usual width, since within the usual width
// each a refinement leaves them up to 0.02 A apart. A nitrate ester's third
// oxygen is single-bonded (see `LENGTHS`).
std::optional<TypicalLength> nitro_bond(const core::MolBuilder& mol, const core::Bond& b) {
    for (std::uint32_t n : {b.begin, b.end}) {
        const std::uint32_t o = n == b.begin ? b.end : b.begin;
        if (element(mol, o) != core::Element::O || mol.degree[o] != 1 || nitro_oxide(mol, n) == NONE) continue;
        return TypicalLength{estimate_bond_length(core::Element::N, core::Element::O, BondOrder::Double, 0).length,
                             LENGTH_HALF_WIDTH / 2};
    }
    return std::nullopt;
}

// An oxygen on silicon opens its angle, its lone pairs drawn towards the
// silicon: Si-O-Si 140-150 (hexamethyldisiloxane 148), Si-O-C 120-130 in
// silyl ethers; the statistics' oxygen row is the ethers' 109.
std::optional<double> silyl_oxygen_angle(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t c) {
    const auto silicon = [&](std::uint32_t x) { return element(mol, x) == core::Element::Si; };
    const auto carbon = [&](std::uint32_t x) { return element(mol, x) == core::Element::C; };
    if (silicon(a) && silicon(c)) return 148.0;
    if (carbon(a) || carbon(c)) return 125.0;
    return std::nullopt;
}

// A ring's Si-O-Si opens as far as the ring lets it: 131.6 in
// hexamethylcyclotrisiloxane (gas-phase electron diffraction, the ring
// flat), 142.5 in octamethylcyclotetrasiloxane's crystal, given 140 since
// its methyls, meeting across the ring, open it past its window by some 5;
// larger rings take the chain's. The ring statistics' oxygen rows are
// ethers', some 112, which close a cyclosiloxane to a strained 117.
std::optional<double> ring_siloxane_angle(const core::MolBuilder& mol, const RingContext& rings,
                                          std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (element(mol, a) != core::Element::Si || element(mol, c) != core::Element::Si) return std::nullopt;
    switch (rings.smallest_size(centre, a, c)) {
        case 6: return 131.5;
        case 8: return 140.0;
        default: return std::nullopt;
    }
}

// What a two-connected oxygen's neighbour other than carbon or silicon is,
// as its angle reads it.
enum class OxygenSide : std::uint8_t { Other, Sp3Carbon, Aryl, Phosphorus, Sulfonyl, NitroNitrogen };

OxygenSide oxygen_side(const core::MolBuilder& mol, std::uint32_t x) {
    switch (element(mol, x)) {
        case core::Element::C:
            switch (carbon_kind(mol, x)) {
                case Kind::Sp3Carbon: return OxygenSide::Sp3Carbon;
                case Kind::AromaticCarbon: return OxygenSide::Aryl;
                default: return OxygenSide::Other;
            }
        case core::Element::P: return OxygenSide::Phosphorus;
        case core::Element::S: return sulfonyl_sulfur(mol, x) ? OxygenSide::Sulfonyl : OxygenSide::Other;
        case core::Element::N: return nitro_oxide(mol, x) != NONE ? OxygenSide::NitroNitrogen : OxygenSide::Other;
        default: return OxygenSide::Other;
    }
}

struct OxygenAngle {
    OxygenSide a, c;
    double angle;
};

// The esters of inorganic acids, after crystal structures (Allen et al.'s
// tables and the Cambridge database surveys of phosphate, sulfonate and
// nitrate esters): the oxygen's lone pairs lean towards the acid's centre
// and open its angle past an ether's. Sides in `OxygenSide` order; the
// statistics' one oxygen row, an ether's 109, serves none of them.
constexpr std::array OXYGEN_ESTER_ANGLES{
    // Alkyl phosphates and phosphites 118-121 (trimethyl phosphate's 118 in
    // the gas), aryl phosphates 120-125, whose ortho atoms, as a diaryl
    // ether's, press the refinement to the window's upper edge.
    OxygenAngle{OxygenSide::Sp3Carbon, OxygenSide::Phosphorus, 118.5},
    OxygenAngle{OxygenSide::Aryl, OxygenSide::Phosphorus, 119.0},
    // Diphosphates 125-135 (pyrophosphate and ATP salts some 130): the
    // bridge keeps the two phosphoryl groups' oxygens some 3 A apart.
    OxygenAngle{OxygenSide::Phosphorus, OxygenSide::Phosphorus, 130.0},
    // Alkyl sulfonates and sulfates 116-119 (methyl mesylate 117), aryl
    // sulfonates 118-122.
    OxygenAngle{OxygenSide::Sp3Carbon, OxygenSide::Sulfonyl, 117.5},
    OxygenAngle{OxygenSide::Aryl, OxygenSide::Sulfonyl, 118.0},
    // Nitrate esters 113-116 (methyl nitrate 113 in the gas).
    OxygenAngle{OxygenSide::Sp3Carbon, OxygenSide::NitroNitrogen, 114.0},
};

static_assert(std::all_of(OXYGEN_ESTER_ANGLES.begin(), OXYGEN_ESTER_ANGLES.end(),
                          [](const OxygenAngle& o) { return o.a <= o.c; }));

// At a two-connected oxygen of an inorganic acid's ester or anhydride.
std::optional<double> ester_oxygen_angle(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t c) {
    OxygenSide sa = oxygen_side(mol, a), sc = oxygen_side(mol, c);
    if (sa > sc) std::swap(sa, sc);
    for (const OxygenAngle& o : OXYGEN_ESTER_ANGLES)
        if (o.a == sa && o.c == sc) return o.angle;
    return std::nullopt;
}

// Whether an element's bonds follow its valence shell's electron pairs:
// groups 13 to 18, whose centres the statistics barely know beyond C, N, O,
// P and S. A transition metal's d shell sets angles no such count gives.
bool p_block(std::uint8_t z) {
    const std::uint8_t period_starts[] = {5, 13, 31, 49, 81, 113};
    for (std::uint8_t start : period_starts)
        if (z >= start && z < start + 6) return true;
    return false;
}

// A centre's typical angle from its element, its neighbours and its lone
// pairs: linear with two electron pairs, 120 with three and none lone, the
// tetrahedron's with four and none lone. A lone pair closes the others'
// angles, the more so the heavier the element, whose bonds use its p
// orbitals more: H2O 104.5 but H2S 92, NMe3 110.9 but PMe3 98.6, AsMe3 96,
// SbMe3 94; C-Se-C 96-100, C-Te-C 94, Ar-I(+)-Ar 93. None for a centre
// with aromatic, dative or quadruple bonds, an odd count of free electrons
// or more than four pairs.
std::optional<double> element_angle(const core::MolBuilder& mol, std::uint32_t centre) {
    const core::Atom& atom = mol.atoms[centre];
    if (!p_block(atom.atomic_num)) return std::nullopt;
    int bonded = atom.num_explicit_hs + atom.num_implicit_hs;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        switch (mol.bonds[nb.bond].order) {
            case BondOrder::Single: bonded += 1; break;
            case BondOrder::Double: bonded += 2; break;
            case BondOrder::Triple: bonded += 3; break;
            default: return std::nullopt;
        }
    }
    const core::ElementInfo& info = core::ELEMENTS[atom.atomic_num];
    const int free = int(info.valence_electrons) - atom.formal_charge - bonded - atom.num_radical_electrons;
    if (free < 0 || free % 2 != 0) return std::nullopt;
    const std::size_t lone = std::size_t(free / 2), pairs = mol.degree[centre] + lone;
    // By lone pairs, then by period (2, 3, 4, 5 and beyond).
    constexpr std::array<std::array<double, 4>, 3> TETRAHEDRAL{{
        {109.47, 109.47, 109.47, 109.47},
        {108.0, 100.0, 97.0, 94.0},
        {108.0, 100.0, 97.0, 94.0},
    }};
    const std::size_t row = std::min<std::size_t>(std::max<std::size_t>(info.period, 2), 5) - 2;
    switch (pairs) {
        case 2: return 180.0;
        case 3: return lone == 0 ? 120.0 : std::array{117.0, 102.0, 98.0, 96.0}[row];
        case 4: return TETRAHEDRAL[lone < 3 ? lone : 2][row];
        default: return std::nullopt;
    }
}

// An sp3 carbon's angle between two heavy neighbours along a large ring:
// the statistics' 109.4 is mostly H-C-H and H-C-C, and a ring closed at it
// puckers (cyclododecane's C-C-C are 114 to 117, macrolides' 112 to 116).
constexpr double LARGE_RING_TETRAHEDRAL = 114.0;

// The half-width (degrees) of an `Element` centre's angle window along a
// large ring: a little wider than a chain's, so that the ring closes round
// its flat amides and esters without twisting them (a cyclic depsipeptide's
// amides came out 0.2 A off flat at the chain's 2.5).
constexpr double LARGE_RING_HALF_WIDTH = 3.0;

// The window of an angle at an `Element` centre. Small rings keep their
// statistics and polygons; a chain angle keeps the statistics' row where
// there is one, as the bounds would read it.
std::optional<double> element_centre_angle(const core::MolBuilder& mol, const RingContext& rings,
                                           std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    const std::size_t ring = rings.smallest_size(centre, a, c), own = rings.smallest[centre];
    if (ring != 0 && ring < LARGE_RING) return std::nullopt;
    const std::size_t chain_own = own < LARGE_RING ? own : 0;
    const core::Atom& atom = mol.atoms[centre];
    const AngleEstimate stats = estimate_bond_angle(atom.atomic_num, mol.degree[centre], 0, chain_own, 0);
    if (stats.from_statistics) {
        if (ring == 0 && own < LARGE_RING) return std::nullopt;
        if (ring != 0 && atom.atomic_num == core::Element::C && mol.degree[centre] == 4 &&
            element(mol, a) != core::Element::H && element(mol, c) != core::Element::H)
            return LARGE_RING_TETRAHEDRAL;
        return stats.angle * RAD_TO_DEG;
    }
    return element_angle(mol, centre);
}

// How many neighbours atoms a and b share: the three-rings on bond a-b.
std::size_t common_neighbours(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t b) {
    std::size_t count = 0;
    for (core::Neighbor na : mol.neighbors(a))
        for (core::Neighbor nb : mol.neighbors(b)) count += na.atom == nb.atom;
    return count;
}

// Three-rings a-centre-d and c-centre-d fold about their shared bond some
// 120 degrees, closing a-centre-c far below any cyclopropane's exocyclic
// angle: 95 at a [1.1.1]propellane's bridgehead (three rings on the bond;
// gas-phase electron diffraction, C1-C3 1.60 and C1-C2 1.525 A), 99 at a
// bicyclo[1.1.0]butane's (two; microwave, the rings 122.7 apart).
std::optional<double> folded_three_rings_angle(const core::MolBuilder& mol, std::uint32_t centre, std::uint32_t a,
                                               std::uint32_t c) {
    if (mol.bond_between(a, c) != NONE) return std::nullopt;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const std::uint32_t d = nb.atom;
        if (d == a || d == c || mol.bond_between(d, a) == NONE || mol.bond_between(d, c) == NONE) continue;
        return common_neighbours(mol, centre, d) >= 3 ? 95.0 : 99.0;
    }
    return std::nullopt;
}

// ---- A five-ring's quaternary carbon beside the ring's sulfonyl sulfur (a
// penicillin sulfone's C2): the sulfone opens its own ring angle past a
// sulfide's (C-S-C 95-96 against 92-94) and the gem-disubstituted carbon,
// the ring's softest angle, gives it back: S1-C2-C3 101-104 in crystal
// structures of penicillin sulfones, where the statistics' five-ring
// quaternary carbon has 105-106. The fused ring's pucker presses a
// refinement some 2 above the angle it is given, so it is given 101. Its
// other angles keep the statistics'.
std::optional<double> ring_sulfone_quaternary_angle(const core::MolBuilder& mol, const RingContext& rings,
                                                    std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 5 || rings.smallest_size(centre, a, c) != 5 || !quaternary_carbon(mol, centre))
        return std::nullopt;
    return sulfonyl_sulfur(mol, a) || sulfonyl_sulfur(mol, c) ? std::optional(101.0) : std::nullopt;
}

// A [1.1.1]propellane's central bond, shared by three three-rings: 1.60 A
// (gas-phase electron diffraction); the statistics' three-ring C-C is 1.51.
constexpr double PROPELLANE_CC = 1.600;

// ---- Charged and lone-pair centres' bonds: phosphate anions, phosphites,
// sulfoxides, phosphonium, amidinium and guanidinium ions, N-alkyl aromatic
// nitrogens; and a crowded carbon's C-S. The statistics key these bonds by
// their elements and formal orders, which here misstate them.

bool terminal_oxygen(const core::MolBuilder& mol, std::uint32_t x) {
    return element(mol, x) == core::Element::O && mol.degree[x] == 1;
}

// A phosphate or phosphonate anion's terminal oxygens share its charge, the
// formal P=O and P-O- alike (crystal structures): 1.485 when two are
// terminal (a phosphodiester anion's), 1.510 when three are (monoester
// mono- and dianions).
std::optional<double> phosphate_anion_length(const core::MolBuilder& mol, std::uint32_t p, std::uint32_t o) {
    if (element(mol, p) != core::Element::P || mol.degree[p] != 4 || mol.atoms[p].formal_charge != 0 ||
        !terminal_oxygen(mol, o))
        return std::nullopt;
    std::size_t terminals = 0, charged = 0;
    for (core::Neighbor nb : mol.neighbors(p)) {
        terminals += terminal_oxygen(mol, nb.atom);
        charged += terminal_oxygen(mol, nb.atom) && mol.atoms[nb.atom].formal_charge == -1;
    }
    if (charged == 0 || terminals < 2) return std::nullopt;
    return terminals == 2 ? 1.485 : 1.510;
}

// A phosphite's P-O, 1.60-1.63 in crystal structures of trialkyl and
// triaryl phosphites: a phosphate's single P-O (1.57) is shortened by its
// P=O.
constexpr double PHOSPHITE_PO = 1.615;

bool phosphite_phosphorus(const core::MolBuilder& mol, std::uint32_t p) {
    if (element(mol, p) != core::Element::P || mol.degree[p] != 3 || mol.atoms[p].formal_charge != 0) return false;
    for (core::Neighbor nb : mol.neighbors(p))
        if (element(mol, nb.atom) != core::Element::O || mol.bonds[nb.bond].order != BondOrder::Single) return false;
    return true;
}

// A sulfoxide's S=O, 1.497 (Allen et al.): a lone pair on the sulfur
// leaves it longer than a sulfone's 1.436.
constexpr double SULFOXIDE_SO = 1.497;

bool sulfoxide_sulfur(const core::MolBuilder& mol, std::uint32_t s) {
    if (element(mol, s) != core::Element::S || mol.degree[s] != 3 || mol.atoms[s].formal_charge != 0) return false;
    std::size_t carbons = 0;
    for (core::Neighbor nb : mol.neighbors(s))
        carbons += element(mol, nb.atom) == core::Element::C && mol.bonds[nb.bond].order == BondOrder::Single;
    return carbons == 2;
}

// A phosphonium ion's P-C, 1.78-1.80 in crystal structures of its salts:
// the statistics' P-C is a phosphine's or phosphonate's, some 1.83.
constexpr double PHOSPHONIUM_PC = 1.795;

// A phosphonate's, phosphinate's or phosphine oxide's P-C, and their
// thio analogues': 1.79-1.81 to an alkyl or aryl carbon in crystal
// structures (triphenylphosphine oxide 1.80, its sulfide 1.81); the P=O or
// P=S shortens it from a phosphine's 1.84-1.85, the statistics' pair. A
// bisphosphonate's or a tertiary carbon's, crowded, keep that.
constexpr double PHOSPHORYL_PC = 1.800;

bool phosphoryl_carbon_bond(const core::MolBuilder& mol, std::uint32_t p, std::uint32_t c) {
    if (element(mol, p) != core::Element::P || mol.degree[p] != 4 || mol.atoms[p].formal_charge != 0 ||
        element(mol, c) != core::Element::C || !(is_aromatic(mol, c) || (is_sp3(mol, c) && carries_hydrogen(mol, c))))
        return false;
    for (core::Neighbor nb : mol.neighbors(p)) {
        const std::uint32_t x = nb.atom;
        if ((element(mol, x) == core::Element::O || element(mol, x) == core::Element::S) && mol.degree[x] == 1 &&
            mol.bonds[nb.bond].order == BondOrder::Double)
            return true;
    }
    return false;
}

// An amidinium or guanidinium carbon: a C=N+ whose carbon carries another
// three-connected nitrogen, all outside the aromatic rings.
bool amidinium_carbon(const core::MolBuilder& mol, std::uint32_t c) {
    if (element(mol, c) != core::Element::C || mol.degree[c] != 3 || is_aromatic(mol, c)) return false;
    bool cation = false;
    std::size_t amino = 0;
    for (core::Neighbor nb : mol.neighbors(c)) {
        const std::uint32_t n = nb.atom;
        if (element(mol, n) != core::Element::N || mol.degree[n] != 3 || is_aromatic(mol, n)) continue;
        const BondOrder order = mol.bonds[nb.bond].order;
        cation |= order == BondOrder::Double && mol.atoms[n].formal_charge == 1;
        amino += order == BondOrder::Single && mol.atoms[n].formal_charge == 0;
    }
    return cation && amino != 0;
}

// The C-N bonds of an amidinium or guanidinium ion share its charge and its
// double bond: 1.30-1.32 in amidinium salts, 1.32-1.34 in guanidinium's
// (crystal structures), where the formal C=N+ takes an imine's 1.28 and
// the others an amidine's 1.37.
std::optional<double> amidinium_length(const core::MolBuilder& mol, std::uint32_t c, std::uint32_t n) {
    if (!amidinium_carbon(mol, c) || element(mol, n) != core::Element::N || mol.degree[n] != 3 || is_aromatic(mol, n))
        return std::nullopt;
    std::size_t nitrogens = 0;
    for (core::Neighbor nb : mol.neighbors(c))
        nitrogens += element(mol, nb.atom) == core::Element::N && mol.degree[nb.atom] == 3 && !is_aromatic(mol, nb.atom);
    return nitrogens == 3 ? 1.326 : 1.312;
}

// An sp3 carbon's bond to a three-connected aromatic nitrogen: 1.465 to a
// pyrrole-type one (N-alkyl azoles and pyrimidinones, nucleosides' C1'-N
// 1.46-1.48), 1.485 to a pyridinium (N-methylpyridinium 1.47-1.49), in
// crystal structures; the statistics' aromatic C-N is the ring's own.
std::optional<double> alkyl_aromatic_nitrogen_length(const core::MolBuilder& mol, std::uint32_t c, std::uint32_t n) {
    if (element(mol, c) != core::Element::C || !is_sp3(mol, c) || element(mol, n) != core::Element::N ||
        !is_aromatic(mol, n) || mol.degree[n] != 3)
        return std::nullopt;
    return mol.atoms[n].formal_charge == 1 ? 1.485 : 1.465;
}

// A sulfide's bond to a carbon with four heavy neighbours, in rings as in
// chains: 1.84-1.86 (penicillins' S1-C2 in crystal structures,
// di-tert-butyl sulfide in the gas), where the crowded carbon's
// substituents push the sulfur off; the statistics' 1.80-1.82 is a
// methylene's.
constexpr double QUATERNARY_CS = 1.850;

bool quaternary_sulfide_bond(const core::MolBuilder& mol, std::uint32_t c, std::uint32_t s) {
    return quaternary_carbon(mol, c) && kind_of(mol, s) == Kind::SulfideSulfur;
}

// A five-ring's S-N where the nitrogen's other ring neighbour is a
// nitrogen or an acyl carbon: 1.68-1.71 in 1,2,3-thiadiazoles and
// thiatriazoles (microwave and crystal structures) and in isothiazol-3-ones
// and 1,2-benzisothiazol-3-ones (crystal structures), where the lone pairs
// of the two neighbours meet across the bond; the statistics' 1.62 is a
// 1,2,5-thiadiazole's or an isothiazole's (1.63).
constexpr double LONG_RING_SN = 1.690;

bool long_ring_sn(const core::MolBuilder& mol, std::uint32_t s, std::uint32_t n, std::size_t ring_size) {
    if (ring_size != 5 || element(mol, s) != core::Element::S || mol.degree[s] != 2 ||
        element(mol, n) != core::Element::N)
        return false;
    for (core::Neighbor nb : mol.neighbors(n)) {
        const std::uint32_t x = nb.atom;
        if (x == s || mol.degree[x] < 2) continue;
        if (element(mol, x) == core::Element::N || plain_carbonyl_partner(mol, x) != NONE) return true;
        if (element(mol, x) != core::Element::C || !is_aromatic(mol, x)) continue;
        // An aromatic ring's C=O (a pyridone-like isothiazolone).
        for (core::Neighbor nx : mol.neighbors(x))
            if (terminal_oxygen(mol, nx.atom) && mol.bonds[nx.bond].order == BondOrder::Double) return true;
    }
    return false;
}

// ---- A single bond between two sp3 carbons that carry no more than one
// hydrogen, one of them none: each end's three heavy substituents push the
// other's away and stretch the bond. Allen et al.'s tables of bond lengths
// in organic crystal structures (J. Chem. Soc. Perkin Trans. 2, 1987, S1)
// give CH-C 1.556 and C-C 1.588 against CH2-CH2's 1.524, the statistics'
// usual sp3 C-C; a taxane's fused quaternary carbons came out at 1.50-1.52
// where a force field opens them to 1.60. Three- and four-rings keep
// their own lengths.
constexpr double TERTIARY_QUATERNARY_CC = 1.556, QUATERNARY_QUATERNARY_CC = 1.588;

std::optional<double> crowded_alkane_length(const core::MolBuilder& mol, const core::Bond& b, std::size_t ring_size) {
    if (b.order != BondOrder::Single || ring_size == 3 || ring_size == 4) return std::nullopt;
    std::array<std::size_t, 2> hydrogens{};
    for (std::size_t k = 0; k < 2; ++k) {
        const std::uint32_t c = k == 0 ? b.begin : b.end;
        if (element(mol, c) != core::Element::C || !is_sp3(mol, c) || mol.degree[c] != 4 ||
            mol.atoms[c].formal_charge != 0)
            return std::nullopt;
        for (core::Neighbor nb : mol.neighbors(c)) hydrogens[k] += element(mol, nb.atom) == core::Element::H;
    }
    if (std::min(hydrogens[0], hydrogens[1]) != 0 || std::max(hydrogens[0], hydrogens[1]) > 1) return std::nullopt;
    return hydrogens[0] + hydrogens[1] == 0 ? QUATERNARY_QUATERNARY_CC : TERTIARY_QUATERNARY_CC;
}

// Those bonds' lengths, by whichever end carries the rule; none for any
// other bond.
std::optional<double> statistics_blind_length(const core::MolBuilder& mol, const core::Bond& b, std::size_t ring_size) {
    for (const auto& [x, y] : {std::pair{b.begin, b.end}, std::pair{b.end, b.begin}}) {
        if (const auto anion = phosphate_anion_length(mol, x, y)) return anion;
        if (const auto amidinium = amidinium_length(mol, x, y)) return amidinium;
        if (b.order == BondOrder::Double && sulfoxide_sulfur(mol, x) && terminal_oxygen(mol, y)) return SULFOXIDE_SO;
        if (long_ring_sn(mol, x, y, ring_size)) return LONG_RING_SN;
        if (b.order != BondOrder::Single) continue;
        if (ring_size == 0 && phosphite_phosphorus(mol, x)) return PHOSPHITE_PO;
        if (element(mol, x) == core::Element::P && mol.degree[x] == 4 && mol.atoms[x].formal_charge == 1 &&
            element(mol, y) == core::Element::C && is_sp3(mol, y))
            return PHOSPHONIUM_PC;
        if (phosphoryl_carbon_bond(mol, x, y)) return PHOSPHORYL_PC;
        if (ring_size == 0)
            if (const auto alkyl = alkyl_aromatic_nitrogen_length(mol, x, y)) return alkyl;
        if (quaternary_sulfide_bond(mol, x, y)) return QUATERNARY_CS;
    }
    return std::nullopt;
}


// ---- Angles of ions and lone-pair centres: sulfonate and sulfate anions,
// phosphites, ammonium ions, and the methylene of a benzodioxole. The
// statistics' rows for these elements are their neutral or tetrahedral
// centres'.

// The angle between three bonds of a threefold centre's one set of equal
// angles `equal` and its fourth bond: the four can only be met together.
double threefold_axis_angle(double equal) {
    return std::acos(-std::sqrt((1.0 + 2.0 * std::cos(equal * DEG_TO_RAD)) / 3.0)) * RAD_TO_DEG;
}

// At a sulfonate's or sulfate monoester's sulfur, the three terminal
// oxygens share the charge and the double bonds: O-S-O 112-114 in crystal
// structures of their salts (methanesulfonates, taurine), C-S-O or O-S-O to
// the fourth neighbour 104-107, as the threefold centre then gives. A
// sulfone's rule would part one oxygen from the other two.
std::optional<double> sulfonate_anion_angle(const core::MolBuilder& mol, std::uint32_t s, std::uint32_t a,
                                            std::uint32_t c) {
    if (element(mol, s) != core::Element::S || mol.degree[s] != 4 || mol.atoms[s].formal_charge != 0)
        return std::nullopt;
    std::size_t terminals = 0;
    for (core::Neighbor nb : mol.neighbors(s)) terminals += terminal_oxygen(mol, nb.atom);
    if (terminals != 3) return std::nullopt;
    constexpr double OXYGENS = 113.0;
    return terminal_oxygen(mol, a) && terminal_oxygen(mol, c) ? OXYGENS : threefold_axis_angle(OXYGENS);
}

// At a phosphite's phosphorus, its lone pair closes O-P-O to 95-102 in
// crystal structures of trialkyl and triaryl phosphites (PCl3 100, PMe3
// 98.6 in the gas), where the statistics' three-connected phosphorus has
// 104-108. A ring's phosphite keeps the ring's statistics.
std::optional<double> phosphite_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t p) {
    if (!phosphite_phosphorus(mol, p) || (rings.smallest[p] != 0 && rings.smallest[p] < LARGE_RING))
        return std::nullopt;
    return 99.5;
}

// The exocyclic C-N+-C at a tertiary ammonium nitrogen of a five- or
// six-membered ring: 111-113 in crystal structures of N-alkylpiperidinium
// and -pyrrolidinium salts, as the open chain's, and 113-116 towards a ring
// carbon with a substituent of its own, which stands gauche to the
// exocyclic carbon. The ring's amine rows give 110.5, under which that
// gauche pair closed it to 107-109. Other angles keep the ring's rows.
std::optional<double> ring_ammonium_exocyclic_angle(const core::MolBuilder& mol, const RingContext& rings,
                                                    std::uint32_t n, std::size_t hydrogens, std::uint32_t a,
                                                    std::uint32_t c) {
    const std::size_t own = rings.smallest[n];
    if (hydrogens != 1 || (own != 5 && own != 6) || element(mol, a) != core::Element::C ||
        element(mol, c) != core::Element::C || rings.smallest_size(n, a, c) != 0)
        return std::nullopt;
    const std::uint32_t ring_atom = rings.smallest_size(n, a) != 0 ? a : c;
    return heavy_neighbours(mol, ring_atom) > 2 ? 114.5 : 112.0;
}

// At an ammonium nitrogen outside small rings, by how many hydrogens it
// carries: a secondary one opens C-N+-C to 113-117 (dialkylammonium salts'
// crystal structures) and closes H-N+-H to some 107, a tertiary one's three
// C-N+-C are 110-114 (trialkylammonium salts), each H-N+-C then as the
// threefold centre gives; the statistics' four-connected nitrogen is a
// tetrahedron, as a quaternary ion's is.
std::optional<double> ammonium_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n,
                                     std::uint32_t a, std::uint32_t c) {
    if (element(mol, n) != core::Element::N || mol.degree[n] != 4 || mol.atoms[n].formal_charge != 1 ||
        is_aromatic(mol, n))
        return std::nullopt;
    std::size_t hydrogens = 0;
    for (core::Neighbor nb : mol.neighbors(n)) hydrogens += element(mol, nb.atom) == core::Element::H;
    if (rings.smallest[n] != 0 && rings.smallest[n] < LARGE_RING)
        return ring_ammonium_exocyclic_angle(mol, rings, n, hydrogens, a, c);
    const std::size_t in_angle = std::size_t(element(mol, a) == core::Element::H) +
                                 std::size_t(element(mol, c) == core::Element::H);
    if (hydrogens == 1) {
        constexpr double CARBONS = 112.0;
        return in_angle == 0 ? CARBONS : threefold_axis_angle(CARBONS);
    }
    if (hydrogens != 2) return std::nullopt;
    constexpr double CARBONS = 115.0, HYDROGENS = 107.0;
    if (in_angle != 1) return in_angle == 0 ? CARBONS : HYDROGENS;
    // The two planes bisect each other at right angles.
    return std::acos(-std::cos(CARBONS / 2.0 * DEG_TO_RAD) * std::cos(HYDROGENS / 2.0 * DEG_TO_RAD)) * RAD_TO_DEG;
}

// The methylene between a benzodioxole's oxygens: its near-flat ring opens
// O-C-O to 107-110 in crystal structures of methylenedioxyarenes, where
// the ring statistics' five-ring sp3 carbon has a puckered ring's 105; the
// ring's other angles press a refinement some 1 below the middle.
std::optional<double> methylenedioxy_angle(const core::MolBuilder& mol, const RingContext& rings,
                                           std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (element(mol, centre) != core::Element::C || !is_sp3(mol, centre) || rings.smallest_size(centre, a, c) != 5)
        return std::nullopt;
    const auto aryl_oxygen = [&](std::uint32_t o) {
        if (element(mol, o) != core::Element::O || mol.degree[o] != 2) return false;
        for (core::Neighbor nb : mol.neighbors(o))
            if (nb.atom != centre && kind_of(mol, nb.atom) == Kind::AromaticCarbon) return true;
        return false;
    };
    return aryl_oxygen(a) && aryl_oxygen(c) ? std::optional(109.0) : std::nullopt;
}

// Those centres' angles; none for any other centre.
std::optional<double> ion_or_lone_pair_angle(const core::MolBuilder& mol, const RingContext& rings,
                                             std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    switch (element(mol, centre)) {
        case core::Element::S: return sulfonate_anion_angle(mol, centre, a, c);
        case core::Element::P: return phosphite_angle(mol, rings, centre);
        case core::Element::N: return ammonium_angle(mol, rings, centre, a, c);
        case core::Element::C: return methylenedioxy_angle(mol, rings, centre, a, c);
        default: return std::nullopt;
    }
}

// ---- A tertiary alcohol's carbon in a chain: its three carbons spread to
// C-C-C 110.5-111.5 and close C-C-O to 107-108 in crystal structures of
// tertiary alcohols and diaryl and triaryl carbinols (tert-butanol's
// gas-phase structure alike), where the statistics' sp3 carbon is even.
std::optional<double> tertiary_carbinol_angle(const core::MolBuilder& mol, const RingContext& rings,
                                              std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    if (rings.smallest[centre] != 0 || !quaternary_carbon(mol, centre)) return std::nullopt;
    std::size_t carbons = 0, hydroxyls = 0;
    for (core::Neighbor nb : mol.neighbors(centre)) {
        carbons += element(mol, nb.atom) == core::Element::C;
        hydroxyls += kind_of(mol, nb.atom) == Kind::HydroxylOxygen;
    }
    if (carbons != 3 || hydroxyls != 1) return std::nullopt;
    constexpr double CARBONS = 110.5;
    const bool both_carbons = element(mol, a) == core::Element::C && element(mol, c) == core::Element::C;
    return both_carbons ? CARBONS : threefold_axis_angle(CARBONS);
}

// ---- Charge-separated N-N and N-O bonds, the ring bonds at an aromatic
// ring's carbonyl carbon, and the angles of sulfoxides and azoxy groups:
// the statistics key these by formal order and element, which misstate
// them.

// An azide's two N=N bonds, R-N=[N+]=[N-] after normalisation: the inner
// 1.21-1.25 and the terminal 1.12-1.14 in crystal structures of organic
// azides, 1.216 and 1.113 in methyl azide's gas-phase structure; the
// terminal one is nearly a triple bond, where the statistics' N=N is an
// azo group's 1.26.
constexpr double AZIDE_INNER_NN = 1.230, AZIDE_TERMINAL_NN = 1.130;

std::optional<double> azide_length(const core::MolBuilder& mol, const core::Bond& b) {
    if (b.order != BondOrder::Double || element(mol, b.begin) != core::Element::N ||
        element(mol, b.end) != core::Element::N)
        return std::nullopt;
    for (const auto& [centre, other] : {std::pair{b.begin, b.end}, std::pair{b.end, b.begin}}) {
        if (mol.atoms[centre].formal_charge != 1 || mol.degree[centre] != 2) continue;
        bool azide = true;
        for (core::Neighbor nb : mol.neighbors(centre))
            azide &= element(mol, nb.atom) == core::Element::N && mol.bonds[nb.bond].order == BondOrder::Double;
        if (!azide) continue;
        return mol.degree[other] == 1 && mol.atoms[other].formal_charge == -1 ? AZIDE_TERMINAL_NN : AZIDE_INNER_NN;
    }
    return std::nullopt;
}

// The N-O of an N-oxide whose nitrogen shares a double bond, which gives it
// a part of one: 1.28-1.33 in crystal structures of aromatic N-oxides
// (pyridine N-oxide 1.290 in the gas), 1.27-1.31 in nitrones', 1.26-1.29 in
// azoxyarenes'; the statistics' N-O is a hydroxylamine's 1.41. An amine
// oxide's keeps it.
constexpr double AROMATIC_N_OXIDE_NO = 1.300, NITRONE_NO = 1.290, AZOXY_NO = 1.275;

std::optional<double> n_oxide_length(const core::MolBuilder& mol, const core::Bond& b) {
    if (b.order != BondOrder::Single) return std::nullopt;
    const std::uint32_t n = element(mol, b.begin) == core::Element::N ? b.begin : b.end, o = n == b.begin ? b.end : b.begin;
    if (element(mol, n) != core::Element::N || mol.atoms[n].formal_charge != 1 || mol.degree[n] != 3 ||
        element(mol, o) != core::Element::O || mol.degree[o] != 1 || mol.atoms[o].formal_charge != -1 ||
        nitro_oxide(mol, n) != NONE)
        return std::nullopt;
    if (is_aromatic(mol, n)) return AROMATIC_N_OXIDE_NO;
    for (core::Neighbor nb : mol.neighbors(n))
        if (mol.bonds[nb.bond].order == BondOrder::Double)
            return element(mol, nb.atom) == core::Element::N ? AZOXY_NO : NITRONE_NO;
    return std::nullopt;
}

// An aromatic six-ring's carbonyl carbon (2- and 4-pyridones, quinolones,
// pyranones, chromones, coumarins, pyrimidinones): its ring bonds to carbons
// are single bonds in all but name, 1.42-1.46 in crystal structures beside
// a ring CH or a substituted carbon and 1.46-1.48 to a fusion carbon (the
// C4-C4a of 4-quinolones and chromones); the statistics' aromatic C-C is
// benzene's 1.40.
constexpr double RING_CARBONYL_CC = 1.445, RING_CARBONYL_FUSION_CC = 1.465;

bool ring_carbonyl_carbon(const core::MolBuilder& mol, std::uint32_t x) {
    if (element(mol, x) != core::Element::C || !is_aromatic(mol, x)) return false;
    for (core::Neighbor nb : mol.neighbors(x))
        if (mol.bonds[nb.bond].order == BondOrder::Double && terminal_oxygen(mol, nb.atom)) return true;
    return false;
}

std::optional<double> ring_carbonyl_length(const core::MolBuilder& mol, const core::Bond& b, std::size_t ring_size) {
    if (b.order != BondOrder::Aromatic || ring_size != 6 || element(mol, b.begin) != core::Element::C ||
        element(mol, b.end) != core::Element::C)
        return std::nullopt;
    for (const auto& [x, y] : {std::pair{b.begin, b.end}, std::pair{b.end, b.begin}})
        if (ring_carbonyl_carbon(mol, x)) return fusion_atom(mol, y) ? RING_CARBONYL_FUSION_CC : RING_CARBONYL_CC;
    return std::nullopt;
}

// Those bonds' lengths; none for any other bond.
std::optional<double> charge_separated_or_ring_carbonyl_length(const core::MolBuilder& mol, const core::Bond& b,
                                                               std::size_t ring_size) {
    if (const auto azide = azide_length(mol, b)) return azide;
    if (const auto oxide = n_oxide_length(mol, b)) return oxide;
    return ring_carbonyl_length(mol, b, ring_size);
}

// At a sulfoxide's sulfur its lone pair closes C-S-C to 96-99 in crystal
// structures of dialkyl and alkyl aryl sulfoxides (96.6 in DMSO's microwave
// structure) and C-S-O to 105-107 (DMSO 106.7); the statistics'
// three-connected sulfur, 106, is even. Crowded neighbours (omeprazole's)
// press a refinement some 3 above the angle it is given. A ring's own
// angle keeps the ring's statistics.
std::optional<double> sulfoxide_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t s,
                                      std::uint32_t a, std::uint32_t c) {
    if (!sulfoxide_sulfur(mol, s)) return std::nullopt;
    if (terminal_oxygen(mol, a) || terminal_oxygen(mol, c)) return 106.5;
    if (rings.smallest[s] != 0 && rings.smallest[s] < LARGE_RING) return std::nullopt;
    return 96.5;
}

// The oxide and the double-bonded neighbour of an azoxy group's or a
// nitrone's oxidised nitrogen, R-N(+)(O-)=X; none at any other nitrogen.
std::optional<std::pair<std::uint32_t, std::uint32_t>> n_oxide_double_bond(const core::MolBuilder& mol,
                                                                         std::uint32_t n) {
    if (mol.atoms[n].formal_charge != 1 || mol.degree[n] != 3 || is_aromatic(mol, n)) return std::nullopt;
    std::uint32_t oxide = NONE, doubled = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (terminal_oxygen(mol, nb.atom) && mol.atoms[nb.atom].formal_charge == -1) oxide = nb.atom;
        const std::uint8_t z = element(mol, nb.atom);
        if (mol.bonds[nb.bond].order == BondOrder::Double && (z == core::Element::N || z == core::Element::C))
            doubled = nb.atom;
    }
    if (oxide == NONE || doubled == NONE) return std::nullopt;
    return std::pair{oxide, doubled};
}

// At such a nitrogen outside rings the oxygen and the double bond open
// X=N-O, as crystal structures give them: azoxyarenes N=N-O 124-127, R-N=N
// and R-N-O 116-119; aldonitrones C=N-O 121-124, C=N-R 121-123, R-N-O
// 114-117. An even split gave X=N-O 116-120.
std::optional<double> n_oxide_angle(const core::MolBuilder& mol, std::uint32_t n, std::uint32_t a, std::uint32_t c) {
    const auto group = n_oxide_double_bond(mol, n);
    if (!group) return std::nullopt;
    const auto [oxide, doubled] = *group;
    const bool azoxy = element(mol, doubled) == core::Element::N;
    const double x_o = azoxy ? 125.5 : 122.5, x_r = azoxy ? 117.0 : 122.0;
    if (a != oxide && c != oxide) return x_r;
    return a == doubled || c == doubled ? x_o : 360.0 - x_o - x_r;
}

// How far a ring nitrone's exocyclic oxygen leans towards its double bond
// (degrees) from the even split of what the ring angle leaves: crystal
// structures of cyclic nitrones (1-pyrroline N-oxides, benzodiazepine
// 4-oxides) give C=N-O 122-125 and C-N-O 113-117. None at any other angle.
constexpr double RING_NITRONE_LEAN = 4.0;

std::optional<double> ring_nitrone_lean(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n,
                                        std::uint32_t a, std::uint32_t c) {
    const auto group = n_oxide_double_bond(mol, n);
    if (!group || rings.smallest_size(n, a, c) != 0) return std::nullopt;
    const auto [oxide, doubled] = *group;
    if (a != oxide && c != oxide) return std::nullopt;
    return a == doubled || c == doubled ? RING_NITRONE_LEAN : -RING_NITRONE_LEAN;
}

// The typical angle (degrees) a-centre-c at a carbonyl or thiocarbonyl
// carbon (ketone, aldehyde, amide, ester or acid, carboxylate, carbamate,
// urea, thiourea, dithiocarbamate, thiocarbamate), an imidate anion's,
// thioimidate's or neutral guanidine's carbon, a methylene beside a quaternary carbon or a sulfur,
// an ether or ester oxygen, a sulfonyl sulfur and an imine, oxime,
// diarylamine, aryl hydrazine, hydroxamic, anilide or N-tert-alkyl amide
// nitrogen that lie in no ring; in rings too, a sulfonyl sulfur's or
// phosphoryl phosphorus's angles to its oxygens, a cyclosiloxane's Si-O-Si
// and the fold between three-rings sharing a bond; a six-ring alkene
// carbon's chain beside a quaternary ring carbon; the exocyclic angle at
// an atom of a five-membered aromatic or flat ring or at an aryl ether's or
// anilide's ipso atom; a five-ring imine's angles and a 5-6 aromatic fusion
// atom's angle across its two rings; the angles of a pyranone's or coumarin's ring; an ion's or lone-pair
// centre's (see `ion_or_lone_pair_angle`); none for any other centre or
// angle.
std::optional<double> group_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                                  std::uint32_t a, std::uint32_t c) {
    if (const auto own = ion_or_lone_pair_angle(mol, rings, centre, a, c)) return own;
    if (is_aromatic(mol, centre)) {
        if (const auto six = pyranone_angle(mol, rings, centre, a, c)) return six;
        if (const auto azine = azine_six_ring_angle(mol, rings, centre, a, c)) return azine;
        if (const auto ipso = aryl_ether_ipso_angle(mol, rings, centre, a, c)) return ipso;
        if (const auto ipso = anilide_ipso_angle(mol, rings, centre, a, c)) return ipso;
        if (const auto fused = fused_five_six_angle(mol, rings, centre, a, c)) return fused;
        if (const auto azine = azine_angle(mol, rings, centre, a, c)) return azine;
        return five_ring_exocyclic_angle(mol, rings, centre, a, c);
    }
    const bool small_ring = rings.smallest[centre] != 0 && rings.smallest[centre] < LARGE_RING;
    switch (element(mol, centre)) {
        case core::Element::C: {
            if (small_ring) {
                if (const auto imine = five_ring_imine_angle(mol, rings, centre, a, c)) return imine;
                if (const auto five = five_ring_exocyclic_angle(mol, rings, centre, a, c)) return five;
                if (const auto lactam = beta_lactam_c4_angle(mol, rings, centre, a, c)) return lactam;
                if (const auto acyl = quaternary_acyl_ether_angle(mol, rings, centre, a, c)) return acyl;
                if (const auto hemiaminal = hemiaminal_angle(mol, rings, centre, a, c)) return hemiaminal;
                if (const auto sulfone = ring_sulfone_quaternary_angle(mol, rings, centre, a, c)) return sulfone;
                if (const auto gem = ring_alkene_quaternary_angle(mol, rings, centre, a, c)) return gem;
                return folded_three_rings_angle(mol, centre, a, c);
            }
            if (const auto carbinol = tertiary_carbinol_angle(mol, rings, centre, a, c)) return carbinol;
            if (const auto hemiaminal = hemiaminal_angle(mol, rings, centre, a, c)) return hemiaminal;
            if (const auto methylene = methylene_angle(mol, rings, centre, a, c)) return methylene;
            if (const auto alkene = alkene_quaternary_angle(mol, rings, centre, a, c)) return alkene;
            const std::uint32_t x = plain_carbonyl_partner(mol, centre);
            return x == NONE ? imine_carbon_angle(mol, centre, a, c) : carbonyl_angle(mol, centre, x, a, c);
        }
        case core::Element::O:
            if (mol.degree[centre] != 2) return std::nullopt;
            if (small_ring) return ring_siloxane_angle(mol, rings, centre, a, c);
            if (element(mol, a) == core::Element::Si || element(mol, c) == core::Element::Si)
                return silyl_oxygen_angle(mol, a, c);
            if (element(mol, a) != core::Element::C || element(mol, c) != core::Element::C)
                return ester_oxygen_angle(mol, a, c);
            return oxygen_angle(mol, rings, centre, a, c);
        case core::Element::N: {
            if (const auto oxide = n_oxide_angle(mol, centre, a, c)) return oxide;
            if (small_ring) return five_ring_imine_angle(mol, rings, centre, a, c);
            if (const auto hydroxamic = hydroxamic_nitrogen_angle(mol, centre, a, c)) return hydroxamic;
            if (const auto anilide = anilide_nitrogen_angle(mol, centre, a, c)) return anilide;
            if (const auto tertiary = tertiary_alkyl_amide_angle(mol, rings, centre, a, c)) return tertiary;
            return nitrogen_angle(mol, centre, a, c);
        }
        case core::Element::S:
            if (const auto sulfoxide = sulfoxide_angle(mol, rings, centre, a, c)) return sulfoxide;
            return sulfonyl_angle(mol, rings, centre, a, c);
        case core::Element::P: return phosphoryl_angle(mol, rings, centre, a, c);
        default: return std::nullopt;
    }
}

// A ring size as the typical angles read it: a large ring's centres are
// chain-like.
std::size_t chain_like(std::size_t ring) { return ring < LARGE_RING ? ring : 0; }

// Amine angles as crystal structures give them: 110-111 in open chains
// (trimethylamine 110.9) and six-membered rings, 106 between two hydrogens;
// in smaller rings the ring closes its own angle (pyrrolidine 105, azetidine
// 90) and opens the others, up to some 116 beside an aziridine.
double amine_angle(std::size_t angle_ring, std::size_t centre_ring, bool two_hydrogens) {
    switch (angle_ring) {
        case 4: return 90.0;
        case 5: return 105.0;
        case 6: return 111.0;
        case 0: break;
        default: return 113.0;
    }
    if (two_hydrogens) return 106.5;
    if (centre_ring == 3 || centre_ring == 4) return 116.0;
    if (centre_ring == 5) return 112.0;
    return 110.5;
}

// An amine nitrogen's angle in a five-ring beside a flat nitrogen of that
// ring (an N-acyl pyrazolidine's, a bicyclic pyrazolidinone's N1): the flat
// neighbour's lone pair keeps it from folding the ring as a pyrrolidine's
// does, C-N-N 105-108 in crystal structures of such rings (a pyrrolidine's
// C-N-C 104-105). None for any other angle.
std::optional<double> hydrazine_ring_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n,
                                           std::uint32_t a, std::uint32_t c) {
    if (rings.smallest_size(n, a, c) != 5) return std::nullopt;
    const auto flat_nitrogen = [&](std::uint32_t x) {
        return element(mol, x) == core::Element::N && mol.degree[x] == 3 &&
               mol.atoms[x].hybridization == core::Hybridization::Sp2;
    };
    if (!flat_nitrogen(a) && !flat_nitrogen(c)) return std::nullopt;
    return 106.5;
}

// An aniline nitrogen lies near flat, its lone pair shared with the ring
// (sums 350 to 354): 118 beside the ring, 114 between two hydrogens
// (aniline's 113, whose window's lower edge a refinement tends to), 116 and
// 118 where alkyls open them.
double aniline_angle(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t c) {
    const auto heavy = [&](std::uint32_t x) { return element(mol, x) != core::Element::H; };
    return is_aromatic(mol, a) || is_aromatic(mol, c) ? 118.0 : 114.0 + 2.0 * (heavy(a) + heavy(c));
}

// A substituent on the ring carbon beside the nitrogen of a five-ring
// crowds the sulfonyl group, and a refinement opens the angle between them
// some 3 past what it is given (to 122-123 in N-sulfonyl prolines, where
// crystal structures keep it at 118-121): it is given 2.5 less. A six-ring
// turns that substituent axial instead (see `held_chairs`).
double sulfonamide_crowding(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n, std::uint32_t a,
                            std::uint32_t c) {
    const std::uint32_t carbon = rings.smallest_size(n, a) != 0 ? a : c;
    if (element(mol, carbon) != core::Element::C || !is_sp3(mol, carbon)) return 0.0;
    return heavy_neighbours(mol, carbon) >= 3 ? 2.5 : 0.0;
}

// ---- A sulfonamide's nitrogen in a five- or six-membered ring. Its lone
// pair leans towards the sulfonyl group but does not leave it flat, as an
// amide's does: in crystal structures of N-sulfonyl pyrrolidines the
// angles at the nitrogen sum to some 350 (C-N-C 110-112, C-N-S 118-121),
// of N-sulfonyl piperidines and morpholines to some 345 (C-N-C 112-113,
// C-N-S 115-117). Held flat, its exocyclic angles opened to 124-125. None
// for an acyl sulfonamide's (sp2) nitrogen or one in another ring.
std::optional<double> sulfonamide_ring_angle(const core::MolBuilder& mol, const RingContext& rings,
                                             std::uint32_t n, std::uint32_t a, std::uint32_t c) {
    if (!sulfonamide_nitrogen(mol, n) || mol.atoms[n].hybridization == core::Hybridization::Sp2) return std::nullopt;
    const std::size_t own = rings.smallest[n], ring = rings.smallest_size(n, a, c);
    if (own != 5 && own != 6) return std::nullopt;
    switch (ring) {
        case 0: return own == 5 ? 119.5 - sulfonamide_crowding(mol, rings, n, a, c) : 116.5;
        case 5: return 111.0;
        case 6: return 112.5;
        default: return std::nullopt;
    }
}

// ---- An amine nitrogen of a six-ring between two sp3 carbons with an aryl
// group outside the ring (N-aryl piperidines, piperazines, morpholines).
// Its lone pair is shared with the aryl ring but the ring keeps it partly
// pyramidal: crystal structures of 1-arylpiperazines and 1-arylpiperidines
// give C-N-C in the ring 110-114 (to 116 beside a nitro- or heteroaryl,
// whose nitrogen is flatter) and C(aryl)-N-C 115-119, some 346 in all;
// held flat, the ring angle opened to 120-124. The ring angle is given 110:
// the chair's torsions press a refinement some 3 past it (to 112-115).
std::optional<double> aryl_ring_amine_angle(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n,
                                            std::uint32_t a, std::uint32_t c) {
    const core::Atom& atom = mol.atoms[n];
    if (atom.atomic_num != core::Element::N || atom.formal_charge != 0 || mol.degree[n] != 3 ||
        rings.smallest[n] != 6)
        return std::nullopt;
    std::size_t ring_carbons = 0, aryls = 0;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (mol.bonds[nb.bond].order != BondOrder::Single) return std::nullopt;
        if (rings.smallest_size(n, nb.atom) == 6 && element(mol, nb.atom) == core::Element::C && is_sp3(mol, nb.atom))
            ++ring_carbons;
        else if (rings.smallest_holding(n, nb.atom) == NONE && kind_of(mol, nb.atom) == Kind::AromaticCarbon)
            ++aryls;
    }
    if (ring_carbons != 2 || aryls != 1) return std::nullopt;
    return rings.smallest_size(n, a, c) == 6 ? 110.0 : 117.0;
}

// A flat nitrogen's angles in a ring of that size: close to the ring
// polygon's in small rings, nearer the trigonal 120 in larger ones; outside
// the ring, what is left of 360 shared by its two other angles.
double flat_ring_angle(std::size_t angle_ring, std::size_t centre_ring) {
    const auto inside = [](std::size_t ring) {
        const double polygon = 180.0 - 360.0 / static_cast<double>(ring);
        if (ring <= 4) return ring == 3 ? polygon - 0.5 : polygon;
        if (ring <= 6) return 0.85 * polygon + 0.15 * 120.0;
        if (ring <= 10) return 0.6 * polygon + 0.4 * 120.0;
        return 121.5;
    };
    return angle_ring != 0 ? inside(angle_ring) : (360.0 - inside(centre_ring)) / 2.0;
}

// A nitro nitrogen is flat: O-N-O 126, each R-N-O 117. Crystal structures
// give 123 to 125; a refinement settles at the window's lower edge, some 4
// degrees below its middle.
double nitro_angle(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t c) {
    const auto oxide = [&](std::uint32_t x) { return element(mol, x) == core::Element::O && mol.degree[x] == 1; };
    return oxide(a) && oxide(c) ? 126.0 : 117.0;
}

// A pyramidal amide nitrogen's angles: in a three- or four-membered ring,
// that ring's (an aziridine's 59.5; a beta-lactam's C-N-C 91-94 in crystal
// structures of penicillins and cephalosporins); each other one 119 beside
// a three-ring (N-acyl aziridines) and 122 at a fused beta-lactam, whose
// nitrogen's angles sum to 331-337 (penicillin crystal structures; its
// five- or six-ring closes its own angle below the window).
double pyramidal_amide_angle(const RingContext& rings, std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    switch (rings.smallest_size(centre, a, c)) {
        case 3: return 59.5;
        case 4: return 92.0;
        default: return rings.smallest[centre] == 3 ? 119.0 : 122.0;
    }
}

// A fusion atom at the rim of a bowl lies near flat, its rings' angles
// closed and the one between them opened, as at corannulene's spokes (114.3
// and 130.4): the statistics' flat 120 would fold the bowl deeper.
double bowl_rim_angle(const RingContext& rings, std::uint32_t centre, std::uint32_t a, std::uint32_t c) {
    return rings.smallest_size(centre, a, c) != 0 ? 114.3 : 130.4;
}

}  // namespace

std::optional<TypicalLength> typical_bond_length(const core::MolBuilder& mol, const RingContext& rings,
                                                 std::uint32_t bond) {
    const core::Bond& b = mol.bonds[bond];
    if (const auto nitro = nitro_bond(mol, b)) return nitro;
    const std::size_t ring_size = rings.smallest_size(b.begin, b.end);
    if (b.order == BondOrder::Single && element(mol, b.begin) == core::Element::C &&
        element(mol, b.end) == core::Element::C && common_neighbours(mol, b.begin, b.end) >= 3)
        return TypicalLength{PROPELLANE_CC, LENGTH_HALF_WIDTH};
    if (b.order == BondOrder::Aromatic && ring_size == 4 && lone_aromatic_ring_bond(rings, b))
        return TypicalLength{AROMATIC_FOUR_RING, LENGTH_HALF_WIDTH};
    if (const auto own = charge_separated_or_ring_carbonyl_length(mol, b, ring_size))
        return TypicalLength{*own, LENGTH_HALF_WIDTH};
    if (const auto charged = statistics_blind_length(mol, b, ring_size))
        return TypicalLength{ring_size == 4 ? *charged + FOUR_RING_STRETCH : *charged, LENGTH_HALF_WIDTH};
    if (const auto crowded = crowded_alkane_length(mol, b, ring_size)) return TypicalLength{*crowded, LENGTH_HALF_WIDTH};
    const auto length = unstrained_length(mol, rings, bond, ring_size);
    if (!length) return std::nullopt;
    return TypicalLength{ring_size == 4 ? *length + FOUR_RING_STRETCH : *length, LENGTH_HALF_WIDTH};
}

bool pyramidal_amide_nitrogen(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n) {
    if (element(mol, n) != core::Element::N || mol.degree[n] != 3 || rings.smallest[n] == 0 ||
        nitrogen_kind(mol, n) != Kind::AmideNitrogen)
        return false;
    const NitrogenRings r = nitrogen_rings(mol, rings, n);
    return (r.in_rings == 1 && r.smallest == 3) || (r.in_rings == 2 && 360.0 - r.sum >= 150.0 - 1e-9);
}

bool ammonium_carbon_bond(const core::MolBuilder& mol, const core::Bond& bond) {
    if (bond.order != BondOrder::Single) return false;
    const bool n_first = element(mol, bond.begin) == core::Element::N;
    const std::uint32_t n = n_first ? bond.begin : bond.end, c = n_first ? bond.end : bond.begin;
    return element(mol, n) == core::Element::N && mol.atoms[n].formal_charge == 1 &&
           nitrogen_kind(mol, n) == Kind::AmmoniumNitrogen && element(mol, c) == core::Element::C &&
           carbon_kind(mol, c) == Kind::Sp3Carbon && heavy_neighbours(mol, c) >= 3;
}

bool five_ring_exocyclic_lean(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                              std::uint32_t a, std::uint32_t c) {
    return five_ring_exocyclic_angle(mol, rings, centre, a, c).has_value();
}

bool group_angle_centre(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre) {
    for (core::Neighbor na : mol.neighbors(centre))
        for (core::Neighbor nc : mol.neighbors(centre))
            if (na.atom < nc.atom && group_angle(mol, rings, centre, na.atom, nc.atom)) return true;
    return false;
}

bool siloxane_ring(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring) {
    for (std::uint32_t i = rings.ring_offsets[ring]; i < rings.ring_offsets[ring + 1]; ++i) {
        const std::uint32_t o = rings.ring_atoms[i];
        if (element(mol, o) != core::Element::O || mol.degree[o] != 2 || rings.smallest[o] != rings.ring_size(ring))
            continue;
        std::array<std::uint32_t, 2> nbrs{};
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(o)) nbrs[count++] = nb.atom;
        if (ring_siloxane_angle(mol, rings, o, nbrs[0], nbrs[1])) return true;
    }
    return false;
}

bool element_angle_centre(const core::MolBuilder& mol, std::uint32_t centre) {
    return !is_aromatic(mol, centre) && mol.degree[centre] >= 2 && mol.degree[centre] <= 4;
}

std::optional<std::pair<double, double>> typical_angle_window(CentreAngles kind, const core::MolBuilder& mol,
                                                              const RingContext& rings, std::uint32_t centre,
                                                              std::uint32_t a, std::uint32_t c) {
    double angle = 0.0;
    switch (kind) {
        case CentreAngles::None: return std::nullopt;
        case CentreAngles::Element: {
            const auto typical = element_centre_angle(mol, rings, centre, a, c);
            if (!typical) return std::nullopt;
            angle = *typical;
            break;
        }
        case CentreAngles::Group: {
            const auto typical = group_angle(mol, rings, centre, a, c);
            if (!typical) return std::nullopt;
            angle = *typical;
            break;
        }
        case CentreAngles::Amine:
            if (const auto hydrazine = hydrazine_ring_angle(mol, rings, centre, a, c)) {
                angle = *hydrazine;
                break;
            }
            angle = amine_angle(chain_like(rings.smallest_size(centre, a, c)), chain_like(rings.smallest[centre]),
                                element(mol, a) == core::Element::H && element(mol, c) == core::Element::H);
            break;
        case CentreAngles::Aniline: angle = aniline_angle(mol, a, c); break;
        case CentreAngles::PlanarRingNitrogen:
            if (const auto sulfonamide = sulfonamide_ring_angle(mol, rings, centre, a, c)) {
                angle = *sulfonamide;
                break;
            }
            if (const auto aryl_amine = aryl_ring_amine_angle(mol, rings, centre, a, c)) {
                angle = *aryl_amine;
                break;
            }
            angle = flat_ring_angle(rings.smallest_size(centre, a, c), rings.smallest[centre]) +
                    ring_nitrone_lean(mol, rings, centre, a, c).value_or(0.0);
            break;
        case CentreAngles::Nitro: angle = nitro_angle(mol, a, c); break;
        case CentreAngles::Straight: return std::pair{175.0, 180.0};
        case CentreAngles::RingSp: return std::pair{RING_SP_LOWER, 180.0};
        case CentreAngles::BowlRim: angle = bowl_rim_angle(rings, centre, a, c); break;
        case CentreAngles::PyramidalAmide: angle = pyramidal_amide_angle(rings, centre, a, c); break;
    }
    const bool hinge = kind == CentreAngles::Element && rings.smallest_size(centre, a, c) >= LARGE_RING;
    const double half_width = hinge ? LARGE_RING_HALF_WIDTH : ANGLE_HALF_WIDTH;
    return std::pair{angle - half_width, angle + half_width};
}

}  // namespace quorix::conf
