// Geometry to stereo. Tags mean what @ and @@ mean in SMILES, read against the
// atom's half-edge order with an implicit hydrogen or lone pair as the second
// ligand.
#include "io/wedge.hpp"

#include <algorithm>
#include <cmath>

#include "core/error.hpp"
#include "io/canon.hpp"
#include "io/stereo.hpp"

namespace quorix::io {

using core::Bond;
using core::BondOrder;
using core::BondStereo;
using core::ChiralTag;
using core::MolBuilder;
using core::NONE;

namespace {

constexpr std::uint8_t Z_P = 15;
constexpr std::uint8_t Z_S = 16;
constexpr std::uint8_t Z_AS = 33;
constexpr std::uint8_t Z_SE = 34;
constexpr std::uint8_t Z_TE = 52;

constexpr double FLAT_Z = 1e-9;

enum class Ligands { None, Four, ThreeAndImplicit };

// Which atoms can be tetrahedral centres, shared by both chirality readers.
Ligands ligand_rule(const MolBuilder& mol, std::uint32_t atom) {
    const core::Atom& a = mol.atoms[atom];
    const std::uint32_t degree = mol.degree[atom];
    const unsigned hs = std::min(255u, a.total_hs());
    if (degree == 4 && hs == 0) return Ligands::Four;
    if (degree != 3) return Ligands::None;
    if (hs == 1) return Ligands::ThreeAndImplicit;
    if (hs != 0) return Ligands::None;
    const std::uint8_t z = a.atomic_num;
    const bool chalcogen = (z == Z_S || z == Z_SE || z == Z_TE) && a.formal_charge <= 1;
    const bool pnictogen = (z == Z_P || z == Z_AS) && a.formal_charge <= 0;
    return chalcogen || pnictogen ? Ligands::ThreeAndImplicit : Ligands::None;
}

using Vec = std::array<double, 3>;

Vec sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double triple(const Vec& a, const Vec& b, const Vec& c) { return dot(a, cross(b, c)); }

// ---------------------------------------------------------------- ties without classes
// Symmetry classes refine the initial invariants, so neighbours of unequal
// invariants never share a class, and two terminal neighbours of one atom with
// equal invariants, equal plain bonds and no tetrahedral marks always do
// (swapping them is a symmetry while the centre carries no mark). Where these
// settle every question, the refinement is not run; its answer would be the same.

bool tetrahedral_mark(const core::Atom& a) {
    return a.chiral_tag == ChiralTag::Cw || a.chiral_tag == ChiralTag::Ccw;
}

bool terminal_twins(const MolBuilder& mol, std::uint32_t centre, const core::Neighbor& a, const core::Neighbor& b) {
    const BondOrder oa = mol.bonds[a.bond].order, ob = mol.bonds[b.bond].order;
    return mol.degree[a.atom] == 1 && mol.degree[b.atom] == 1 && oa == ob && oa != BondOrder::Dative &&
           !tetrahedral_mark(mol.atoms[centre]) && !tetrahedral_mark(mol.atoms[a.atom]) &&
           !tetrahedral_mark(mol.atoms[b.atom]);
}

enum class Tie { None, Twins, Unknown };

// The first pair of `atom`'s neighbours (half-edge order, skipping `partner`)
// that could share a class: none, a pair of terminal twins, or undecided.
template <class Invariants>
Tie first_tie(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner, Invariants& invariants) {
    std::array<core::Neighbor, 4> nbrs;
    std::size_t d = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (nb.atom == partner) continue;
        if (d == nbrs.size()) return Tie::Unknown;
        nbrs[d++] = nb;
    }
    for (std::size_t i = 0; i < d; ++i)
        for (std::size_t j = i + 1; j < d; ++j)
            if (invariants[nbrs[i].atom] == invariants[nbrs[j].atom])
                return terminal_twins(mol, atom, nbrs[i], nbrs[j]) ? Tie::Twins : Tie::Unknown;
    return Tie::None;
}

enum class CentreTies { None, RuledOut, Pair, Triple };

// What invariants settle of a centre's ties: a pair of terminal twins (which
// ties_rule_out_centre rejects), else three or more neighbours that could share
// a class (which the classes may reject), else two that could (which only the
// branches behind them decide), else none.
template <class Invariants>
CentreTies centre_ties(const MolBuilder& mol, std::uint32_t atom, Invariants& invariants) {
    std::array<core::Neighbor, 4> nbrs;
    std::size_t d = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (d == nbrs.size()) return CentreTies::Triple;
        nbrs[d++] = nb;
    }
    CentreTies result = CentreTies::None;
    for (std::size_t i = 0; i < d; ++i) {
        std::size_t equal = 0;
        for (std::size_t j = i + 1; j < d; ++j) {
            if (!(invariants[nbrs[i].atom] == invariants[nbrs[j].atom])) continue;
            if (terminal_twins(mol, atom, nbrs[i], nbrs[j])) return CentreTies::RuledOut;
            ++equal;
        }
        if (equal >= 2) result = CentreTies::Triple;
        else if (equal == 1 && result == CentreTies::None) result = CentreTies::Pair;
    }
    return result;
}

std::vector<CanonInvariant> all_invariants(const MolBuilder& mol) {
    std::vector<CanonInvariant> out(mol.num_atoms());
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) out[a] = canon_invariant(mol, a);
    return out;
}

// The invariants of an unchanging molecule, each worked out when first asked
// for: the ties of a few double bond ends read a handful of atoms.
class LazyInvariants {
public:
    explicit LazyInvariants(const MolBuilder& mol) : mol_(mol) {}
    const CanonInvariant& operator[](std::uint32_t atom) {
        if (known_.empty()) {
            known_.assign(mol_.num_atoms(), 0);
            values_.resize(mol_.num_atoms());
        }
        if (!at(known_, atom)) {
            values_[atom] = canon_invariant(mol_, atom);
            known_[atom] = 1;
        }
        return values_[atom];
    }

private:
    const MolBuilder& mol_;
    std::vector<std::uint8_t> known_;
    std::vector<CanonInvariant> values_;
};

// in_small_ring, settled without a search when an end has no other bond.
bool double_bond_in_small_ring(const MolBuilder& mol, std::uint32_t bond) {
    const Bond& b = at(mol.bonds, bond);
    if (at(mol.degree, b.begin) == 1 || at(mol.degree, b.end) == 1) return false;
    return in_small_ring(mol, bond);
}

// The height a wedge gives the far atom of `bond` seen from `atom`. Only the
// narrow end reads a wedge: at the wide end the drawing says nothing about that
// atom's own configuration.
double wedge_height(const Wedge& w, std::uint32_t atom) {
    if (w.kind == WedgeKind::None || w.apex != atom) return 0.0;
    return w.kind == WedgeKind::Solid ? 1.0 : -1.0;
}

}  // namespace

bool is_3d(std::span<const Coord> coords) {
    for (const Coord& c : coords)
        if (std::fabs(c[2]) > FLAT_Z) return true;
    return false;
}

std::optional<ChiralTag> stereo_from_wedges(const MolBuilder& mol, std::span<const Coord> coords,
                                            std::span<const Wedge> wedges, std::uint32_t atom) {
    at(mol.atoms, atom);
    const Ligands rule = ligand_rule(mol, atom);
    if (rule == Ligands::None) return std::nullopt;
    const Coord& c = at(coords, atom);
    // Slots: four neighbours, or [L1, implicit, L2, L3].
    std::array<Vec, 4> q{};
    std::size_t explicit_slot[3] = {0, 2, 3};
    std::size_t k = 0;
    double s = 0.0;
    bool wedged = false;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        const std::size_t slot = rule == Ligands::Four ? k : explicit_slot[k];
        const Coord& p = at(coords, nb.atom);
        const double w = wedge_height(at(wedges, nb.bond), atom);
        q[slot] = {p[0] - c[0], p[1] - c[1], w};
        s += w;
        wedged |= w != 0.0;
        ++k;
    }
    // Cancelling wedges leave no side for an implicit ligand; four drawn
    // ligands with one bond up and one down are the usual drawing of a centre
    // and are decided by their volume.
    if (!wedged || (rule == Ligands::ThreeAndImplicit && std::fabs(s) < 1e-9)) return std::nullopt;
    if (rule == Ligands::ThreeAndImplicit) {
        const double d = triple(q[0], q[2], q[3]);
        if (std::fabs(d) <= 0.1) return std::nullopt;
        double sx = 0.0, sy = 0.0;
        for (std::size_t slot : explicit_slot) {
            const double h = std::hypot(q[slot][0], q[slot][1]);
            if (h < 1e-9) return std::nullopt;
            sx += q[slot][0] / h;
            sy += q[slot][1] / h;
        }
        q[1] = {-sx, -sy, s > 0 ? -1.0 : 1.0};
    }
    const double v = triple(sub(q[1], q[0]), sub(q[2], q[0]), sub(q[3], q[0]));
    if (std::fabs(v) < 1e-12) return std::nullopt;
    return v < 0 ? ChiralTag::Ccw : ChiralTag::Cw;
}

std::uint32_t chirality_from_wedges(MolBuilder& mol, std::span<const Coord> coords, std::span<const Wedge> wedges) {
    if (is_3d(coords) || std::ranges::none_of(wedges, [](const Wedge& w) { return w.kind != WedgeKind::None; }))
        return 0;
    const std::uint32_t n = mol.num_atoms();
    std::vector<std::optional<ChiralTag>> tags(n);
    bool any = false;
    for (std::uint32_t x = 0; x < n; ++x) {
        tags[x] = stereo_from_wedges(mol, coords, wedges, x);
        any |= tags[x].has_value();
    }
    if (!any) return 0;
    // Classes, when needed, read the tags as they stood before this call: a
    // tag written on one branch would split three alike branches, so every
    // verdict is reached before any tag is written.
    LazyInvariants invariants(mol);
    std::vector<std::uint32_t> classes;
    for (std::uint32_t x = 0; x < n; ++x) {
        if (!tags[x]) continue;
        // Two alike branches are left to whoever reads the tags; only three
        // neighbours of equal invariants need the classes.
        const CentreTies ties = centre_ties(mol, x, invariants);
        if (ties == CentreTies::Triple && classes.empty()) classes = symmetry_classes(mol);
        if (ties == CentreTies::RuledOut || (ties == CentreTies::Triple && ties_rule_out_centre(mol, x, classes)))
            tags[x].reset();
    }
    std::uint32_t count = 0;
    for (std::uint32_t x = 0; x < n; ++x)
        if (tags[x]) {
            mol.atoms[x].chiral_tag = *tags[x];
            ++count;
        }
    return count;
}

std::uint32_t chirality_from_3d(MolBuilder& mol, std::span<const Coord> coords) {
    if (!is_3d(coords)) return 0;
    const std::uint32_t n = mol.num_atoms();
    std::vector<ChiralTag> tags(n, ChiralTag::Unspecified);
    std::vector<std::uint8_t> candidate(n, 0);
    bool any = false;
    for (std::uint32_t x = 0; x < n; ++x) {
        if (ligand_rule(mol, x) == Ligands::None || x >= coords.size()) continue;
        std::array<std::uint32_t, 3> p{};
        std::size_t k = 0;
        for (core::Neighbor nb : mol.neighbors(x)) {
            if (k == 3) break;
            p[k++] = nb.atom;
        }
        if (p[0] >= coords.size() || p[1] >= coords.size() || p[2] >= coords.size()) continue;
        const Coord& c = coords[x];
        const double v = triple(sub(coords[p[0]], c), sub(coords[p[1]], c), sub(coords[p[2]], c));
        if (std::fabs(v) <= 0.1) continue;
        tags[x] = v > 0 ? ChiralTag::Ccw : ChiralTag::Cw;
        candidate[x] = 1;
        any = true;
    }
    if (!any) return 0;

    // A centre with a pair of terminal twins drops out (nothing lies beyond
    // them); one without any possible tie keeps its tag. Only an undecided tie
    // needs the classes.
    const std::vector<CanonInvariant> invariants = all_invariants(mol);
    bool settled = true;
    for (std::uint32_t x = 0; x < n && settled; ++x)
        if (candidate[x]) {
            const CentreTies ties = centre_ties(mol, x, invariants);
            settled = ties == CentreTies::None || ties == CentreTies::RuledOut;
        }
    if (settled) {
        std::uint32_t count = 0;
        for (std::uint32_t x = 0; x < n; ++x) {
            if (!candidate[x] || centre_ties(mol, x, invariants) == CentreTies::RuledOut) continue;
            mol.atoms[x].chiral_tag = tags[x];
            ++count;
        }
        return count;
    }

    // Classes read the tags as they stood before this call.
    const std::vector<std::uint32_t> classes = symmetry_classes(mol);
    for (std::uint32_t x = 0; x < n; ++x)
        if (candidate[x] && ties_rule_out_centre(mol, x, classes)) candidate[x] = 0;
    struct Pending {
        std::uint32_t centre, a, b;
    };
    std::vector<Pending> pending;
    for (std::uint32_t x = 0; x < n; ++x) {
        if (!candidate[x]) continue;
        if (auto pair = tied_neighbour_pair(mol, x, classes)) pending.push_back({x, pair->first, pair->second});
    }
    // A centre with two equal-class neighbours survives only while another
    // candidate lies beyond them; each pass sees the candidates of the last.
    std::vector<std::uint32_t> dropped;
    for (;;) {
        dropped.clear();
        std::size_t kept = 0;
        for (const Pending& e : pending) {
            if (tied_branches_reach_marked(mol, e.centre, e.a, e.b, candidate)) {
                pending[kept++] = e;
            } else {
                dropped.push_back(e.centre);
            }
        }
        pending.resize(kept);
        if (dropped.empty()) break;
        for (std::uint32_t x : dropped) candidate[x] = 0;
    }
    std::uint32_t count = 0;
    for (std::uint32_t x = 0; x < n; ++x) {
        if (!candidate[x]) continue;
        mol.atoms[x].chiral_tag = tags[x];
        ++count;
    }
    return count;
}

namespace {

bool flag_clear(std::span<const std::uint8_t> either, std::uint32_t bond) {
    return bond < either.size() && either[bond] == 0;
}

// The tests of a candidate that need no symmetry classes; a bond failing them
// is no candidate whatever the classes say.
bool plain_candidate(const MolBuilder& mol, std::span<const std::uint8_t> either, std::uint32_t bond) {
    if (bond >= mol.num_bonds()) return false;
    const Bond& d = mol.bonds[bond];
    if (d.order != BondOrder::Double || (d.flags & core::AROMATIC)) return false;
    if (!flag_clear(either, bond)) return false;
    return !double_bond_in_small_ring(mol, bond) && !has_double_bond_stereo(mol, bond);
}

std::uint32_t first_reference(const MolBuilder& mol, std::span<const std::uint8_t> either, std::uint32_t atom,
                              std::uint32_t partner) {
    for (const SideNeighbour& side : side_neighbours(mol, atom, partner))
        if (flag_clear(either, side.bond)) return side.atom;
    return NONE;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> candidate_with(const MolBuilder& mol,
                                                                      std::span<const std::uint8_t> either,
                                                                      std::uint32_t bond,
                                                                      std::span<const std::uint32_t> classes) {
    const Bond& d = mol.bonds[bond];
    if (!end_is_distinguishable(mol, d.begin, d.end, classes) || !end_is_distinguishable(mol, d.end, d.begin, classes))
        return std::nullopt;
    const std::uint32_t r0 = first_reference(mol, either, d.begin, d.end);
    if (r0 == NONE) return std::nullopt;
    const std::uint32_t r1 = first_reference(mol, either, d.end, d.begin);
    if (r1 == NONE) return std::nullopt;
    return std::pair{r0, r1};
}

enum class Distinguishable { Yes, No, Unknown };

// end_is_distinguishable at both ends, where invariants settle it.
Distinguishable ends_distinguishable(const MolBuilder& mol, const Bond& d, LazyInvariants& invariants) {
    Distinguishable result = Distinguishable::Yes;
    for (const auto& [atom, partner] : {std::pair{d.begin, d.end}, std::pair{d.end, d.begin}}) {
        std::uint32_t substituents = 0;
        for (core::Neighbor nb : mol.neighbors(atom)) substituents += nb.atom != partner;
        if (substituents > 2) return Distinguishable::No;
        if (substituents < 2) continue;
        switch (first_tie(mol, atom, partner, invariants)) {
            case Tie::None: break;
            case Tie::Twins: return Distinguishable::No;
            case Tie::Unknown: result = Distinguishable::Unknown; break;
        }
    }
    return result;
}

// An end holding nothing but its partner, not even a hydrogen (a carbonyl's or a
// sulfoxide's oxygen), has nothing that could lie cis or trans. Readers take an
// "either" mark at its word and drop the configuration of a centre at the other
// end, so such a bond is never marked.
bool bare_end(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner) {
    if (at(mol.atoms, atom).total_hs() != 0) return false;
    for (core::Neighbor nb : mol.neighbors(atom))
        if (nb.atom != partner) return false;
    return true;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> references(const MolBuilder& mol,
                                                                  std::span<const std::uint8_t> either,
                                                                  const Bond& d) {
    const std::uint32_t r0 = first_reference(mol, either, d.begin, d.end);
    const std::uint32_t r1 = first_reference(mol, either, d.end, d.begin);
    if (r0 == NONE || r1 == NONE) return std::nullopt;
    return std::pair{r0, r1};
}

struct Decided {
    std::uint32_t bond;
    BondStereo stereo;
    std::uint32_t r0, r1;
};

std::optional<BondStereo> decide_2d(std::span<const Coord> coords, std::uint32_t b, std::uint32_t e,
                                    std::uint32_t r0, std::uint32_t r1) {
    const Coord &pb = coords[b], &pe = coords[e], &p0 = coords[r0], &p1 = coords[r1];
    const double dx = pe[0] - pb[0], dy = pe[1] - pb[1];
    const double c0 = dx * (p0[1] - pb[1]) - dy * (p0[0] - pb[0]);
    const double c1 = dx * (p1[1] - pb[1]) - dy * (p1[0] - pb[0]);
    if (std::fabs(c0) < 1e-9 || std::fabs(c1) < 1e-9) return std::nullopt;
    return c0 * c1 > 0 ? BondStereo::Cis : BondStereo::Trans;
}

std::optional<BondStereo> decide_3d(std::span<const Coord> coords, std::uint32_t b, std::uint32_t e,
                                    std::uint32_t r0, std::uint32_t r1) {
    const Vec a = sub(coords[e], coords[b]);
    const double aa = dot(a, a);
    if (aa < 1e-9) return std::nullopt;
    const Vec v0 = sub(coords[r0], coords[b]);
    const Vec v1 = sub(coords[r1], coords[e]);
    const double t0 = dot(a, v0) / aa, t1 = dot(a, v1) / aa;
    const Vec p0{v0[0] - t0 * a[0], v0[1] - t0 * a[1], v0[2] - t0 * a[2]};
    const Vec p1{v1[0] - t1 * a[0], v1[1] - t1 * a[1], v1[2] - t1 * a[2]};
    const double n0 = std::sqrt(dot(p0, p0)), n1 = std::sqrt(dot(p1, p1));
    if (n0 < 1e-9 || n1 < 1e-9) return std::nullopt;
    const double cosine = dot(p0, p1) / (n0 * n1);
    if (std::fabs(cosine) < 1e-9) return std::nullopt;
    return cosine > 0 ? BondStereo::Cis : BondStereo::Trans;
}

// Decides every bond first, then writes, in ascending bond order.
template <class Decide>
std::uint32_t coordinate_double_bonds(MolBuilder& mol, std::span<const Coord> coords,
                                      std::span<const std::uint8_t> either, Decide decide) {
    std::vector<std::uint32_t> classes;
    bool have_classes = false;
    LazyInvariants invariants(mol);
    std::vector<Decided> decided;
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        if (!plain_candidate(mol, either, d)) continue;
        // References need no classes: a bond without them (a carbonyl, say)
        // costs no refinement.
        const Bond& db = mol.bonds[d];
        if (first_reference(mol, either, db.begin, db.end) == NONE ||
            first_reference(mol, either, db.end, db.begin) == NONE)
            continue;
        const auto ends = ends_distinguishable(mol, db, invariants);
        if (ends == Distinguishable::No) continue;
        if (ends == Distinguishable::Unknown && !have_classes) {
            classes = symmetry_classes(mol);
            have_classes = true;
        }
        auto refs = ends == Distinguishable::Yes ? references(mol, either, db) : candidate_with(mol, either, d, classes);
        if (!refs) continue;
        const Bond& bond = mol.bonds[d];
        const auto [r0, r1] = *refs;
        const std::size_t n = coords.size();
        if (bond.begin >= n || bond.end >= n || r0 >= n || r1 >= n) continue;
        if (auto s = decide(coords, bond.begin, bond.end, r0, r1)) decided.push_back({d, *s, r0, r1});
    }
    for (const Decided& x : decided) {
        Bond& bond = mol.bonds[x.bond];
        bond.stereo = x.stereo;
        bond.stereo_atoms = {x.r0, x.r1};
    }
    return static_cast<std::uint32_t>(decided.size());
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::uint32_t>> coordinate_stereo_candidate(
    const MolBuilder& mol, std::span<const std::uint8_t> either, std::uint32_t bond,
    std::span<const std::uint32_t> classes) {
    if (!plain_candidate(mol, either, bond)) return std::nullopt;
    return candidate_with(mol, either, bond, classes);
}

std::uint32_t double_bond_stereo_from_2d(MolBuilder& mol, std::span<const Coord> coords,
                                         std::span<const std::uint8_t> either) {
    if (is_3d(coords)) return 0;
    return coordinate_double_bonds(mol, coords, either, decide_2d);
}

std::uint32_t double_bond_stereo_from_3d(MolBuilder& mol, std::span<const Coord> coords,
                                         std::span<const std::uint8_t> either) {
    if (!is_3d(coords)) return 0;
    return coordinate_double_bonds(mol, coords, either, decide_3d);
}

std::vector<std::uint8_t> either_double_bonds(const MolBuilder& mol) {
    std::vector<std::uint8_t> flags(mol.num_bonds(), 0);
    std::vector<std::uint32_t> classes;
    bool have_classes = false;
    LazyInvariants invariants(mol);
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        const Bond& bond = mol.bonds[d];
        if (bond.order != BondOrder::Double || (bond.flags & core::AROMATIC)) continue;
        if (double_bond_in_small_ring(mol, d) || has_double_bond_stereo(mol, d)) continue;
        if (bare_end(mol, bond.begin, bond.end) || bare_end(mol, bond.end, bond.begin)) continue;
        // Most ends (a carbonyl's, say) are settled by invariants alone, without
        // the refinement behind the classes.
        const Distinguishable ends = ends_distinguishable(mol, bond, invariants);
        if (ends != Distinguishable::Unknown) {
            flags[d] = ends == Distinguishable::Yes;
            continue;
        }
        if (!have_classes) {
            classes = symmetry_classes(mol);
            have_classes = true;
        }
        if (end_is_distinguishable(mol, bond.begin, bond.end, classes) &&
            end_is_distinguishable(mol, bond.end, bond.begin, classes))
            flags[d] = 1;
    }
    return flags;
}

}  // namespace quorix::io
