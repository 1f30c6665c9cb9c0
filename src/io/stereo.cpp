#include "io/stereo.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/scratch.hpp"
#include "core/sort.hpp"
#include "io/canon.hpp"

namespace quorix::io {

using core::Bond;
using core::BondDirection;
using core::BondOrder;
using core::BondStereo;
using core::MolBuilder;
using core::NONE;

namespace {

// Visited flags over all atoms, cleared through the list of atoms touched, so
// searches repeated per bond or per centre cost only what they visit.
struct VisitMarks {
    std::vector<std::uint8_t> flag;
    std::vector<std::uint32_t> touched;

    void fit(std::uint32_t n) {
        if (flag.size() < n) flag.assign(n, 0);
    }
    bool test_and_set(std::uint32_t a) {
        if (flag[a]) return true;
        flag[a] = 1;
        touched.push_back(a);
        return false;
    }
    void clear() {
        for (std::uint32_t a : touched) flag[a] = 0;
        touched.clear();
    }
};

bool is_aromatic(const Bond& b) { return (b.flags & core::AROMATIC) != 0; }

bool small_ring_search(const MolBuilder& mol, std::uint32_t bond, VisitMarks& visited,
                       std::vector<std::uint32_t>& layer, std::vector<std::uint32_t>& next) {
    const Bond& b = mol.bonds[bond];
    visited.clear();
    layer.assign(1, b.begin);
    visited.test_and_set(b.begin);
    bool found = false;
    for (int depth = 0; depth < 6 && !layer.empty() && !found; ++depth) {
        next.clear();
        for (std::uint32_t a : layer) {
            for (core::Neighbor nb : mol.neighbors(a)) {
                if (nb.bond == bond) continue;
                if (nb.atom == b.end) {
                    found = true;
                    break;
                }
                if (!visited.test_and_set(nb.atom)) next.push_back(nb.atom);
            }
            if (found) break;
        }
        layer.swap(next);
    }
    visited.clear();
    return found;
}

// Visited flags, all clear between uses, and the search's lists.
struct SearchScratch {
    VisitMarks visited;
    std::vector<std::uint32_t> first, second;
};

bool small_ring(const MolBuilder& mol, std::uint32_t bond) {
    const auto s = core::Scratch<SearchScratch>::borrow(mol.num_atoms());
    s->visited.fit(mol.num_atoms());
    return small_ring_search(mol, bond, s->visited, s->first, s->second);
}

// The cheap part of being a candidate for cis/trans; the ring test comes last.
bool plain_double_bond(const Bond& b) { return b.order == BondOrder::Double && !is_aromatic(b); }

// Substituents of `atom` besides `partner`, counting to 3.
std::uint32_t substituent_count(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner,
                                std::uint32_t (&found)[2]) {
    std::uint32_t count = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (nb.atom == partner) continue;
        if (count < 2) found[count] = nb.atom;
        if (++count > 2) break;
    }
    return count;
}

// end_is_distinguishable, asking for the classes only when two substituents need
// telling apart.
template <class Classes>
bool distinguishable_end(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner, Classes& classes) {
    std::uint32_t found[2] = {NONE, NONE};
    const std::uint32_t count = substituent_count(mol, atom, partner, found);
    if (count > 2) return false;
    if (count < 2) return true;
    const std::span<const std::uint32_t> c = classes();
    return at(c, found[0]) != at(c, found[1]);
}

// The molecule's symmetry classes, computed the first time they are asked for.
struct LazyClasses {
    const MolBuilder& mol;
    std::vector<std::uint32_t> classes{};
    bool have = false;

    std::span<const std::uint32_t> operator()() {
        if (!have) {
            classes = symmetry_classes(mol);
            have = true;
        }
        return classes;
    }
};

// Whether a mark can sit beside `atom`, the end of a double bond to `partner`:
// some other bond of it is not double. A cumulated centre, whose other bonds
// are all double, has none, so no text can give the bond cis/trans.
bool has_side_bond(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner) {
    for (core::Neighbor nb : mol.neighbors(atom))
        if (nb.atom != partner && mol.bonds[nb.bond].order != BondOrder::Double) return true;
    return false;
}

// Whether a double bond can hold cis/trans at all: not aromatic, not in a
// small ring, and both ends with a bond that can carry a mark and substituents
// that can be told apart. Marks are read and stored values kept by this one test.
template <class Classes>
bool holds_cis_trans(const MolBuilder& mol, std::uint32_t d, Classes& classes) {
    const Bond& db = mol.bonds[d];
    return plain_double_bond(db) && has_side_bond(mol, db.begin, db.end) && has_side_bond(mol, db.end, db.begin) &&
           !small_ring(mol, d) && distinguishable_end(mol, db.begin, db.end, classes) &&
           distinguishable_end(mol, db.end, db.begin, classes);
}

// A single or other non-double bond of `atom` (besides the one to `partner`)
// carries a mark.
bool marked_side(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner) {
    for (core::Neighbor nb : mol.neighbors(atom)) {
        const Bond& sb = mol.bonds[nb.bond];
        if (nb.atom == partner || sb.order == BondOrder::Double) continue;
        if (sb.direction != BondDirection::None) return true;
    }
    return false;
}

// The tests are pure, so the cheap ones run first and the classes are asked for
// only by a double bond marked on both sides with a doubly substituted end.
template <class Classes>
std::vector<std::uint8_t> effective_marks(const MolBuilder& mol, Classes&& classes) {
    std::vector<std::uint8_t> flags(mol.num_bonds(), 0);
    const bool any = std::any_of(mol.bonds.begin(), mol.bonds.end(),
                                 [](const Bond& b) { return b.direction != BondDirection::None; });
    if (!any) return flags;
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        const Bond& db = mol.bonds[d];
        if (!plain_double_bond(db)) continue;
        // A mark on one side only counts for nothing.
        if (!marked_side(mol, db.begin, db.end) || !marked_side(mol, db.end, db.begin)) continue;
        if (!holds_cis_trans(mol, d, classes)) continue;
        for (std::uint32_t atom : {db.begin, db.end}) {
            const std::uint32_t partner = db.other(atom);
            for (core::Neighbor nb : mol.neighbors(atom)) {
                const Bond& sb = mol.bonds[nb.bond];
                if (nb.atom == partner || sb.order == BondOrder::Double) continue;
                if (sb.direction != BondDirection::None) flags[nb.bond] = 1;
            }
        }
    }
    return flags;
}


bool reach_marked(const MolBuilder& mol, std::uint32_t centre, std::uint32_t a, std::uint32_t b,
                  std::span<const std::uint8_t> marks, VisitMarks& visited, std::vector<std::uint32_t>& stack) {
    visited.clear();
    visited.test_and_set(centre);
    visited.test_and_set(a);
    visited.test_and_set(b);
    stack.assign({a, b});
    bool found = false;
    while (!stack.empty()) {
        const std::uint32_t x = stack.back();
        stack.pop_back();
        if (x != centre && at(marks, x)) {
            found = true;
            break;
        }
        for (core::Neighbor nb : mol.neighbors(x))
            if (!visited.test_and_set(nb.atom)) stack.push_back(nb.atom);
    }
    visited.clear();
    return found;
}

}  // namespace

BondDirection direction_from(const Bond& bond, std::uint32_t atom) {
    return bond.begin == atom ? bond.direction : core::reversed(bond.direction);
}

bool in_small_ring(const MolBuilder& mol, std::uint32_t bond) {
    if (bond >= mol.num_bonds()) return false;
    return small_ring(mol, bond);
}

bool end_is_distinguishable(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner,
                            std::span<const std::uint32_t> classes) {
    if (atom >= mol.num_atoms()) return true;
    std::uint32_t found[2] = {NONE, NONE};
    std::uint32_t count = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (nb.atom == partner) continue;
        if (count < 2) found[count] = nb.atom;
        if (++count > 2) return false;
    }
    if (count < 2) return true;
    return at(classes, found[0]) != at(classes, found[1]);
}

std::vector<SideNeighbour> side_neighbours(const MolBuilder& mol, std::uint32_t atom, std::uint32_t partner) {
    std::vector<SideNeighbour> out;
    if (atom >= mol.num_atoms()) return out;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (nb.atom == partner || mol.bonds[nb.bond].order == BondOrder::Double) continue;
        out.push_back({nb.atom, nb.bond});
    }
    return out;
}

bool stored_stereo_fits(const MolBuilder& mol, std::uint32_t bond, BondStereo stereo,
                        const std::array<std::uint32_t, 2>& atoms) {
    if (bond >= mol.num_bonds()) return false;
    const Bond& b = mol.bonds[bond];
    if (stereo == BondStereo::None || atoms[0] == NONE || atoms[1] == NONE) return false;
    return mol.bond_between(b.begin, atoms[0]) != NONE && mol.bond_between(b.end, atoms[1]) != NONE &&
           has_side_bond(mol, b.begin, b.end) && has_side_bond(mol, b.end, b.begin);
}

bool has_double_bond_stereo(const MolBuilder& mol, std::uint32_t bond) {
    if (bond >= mol.num_bonds()) return false;
    const Bond& b = mol.bonds[bond];
    return stored_stereo_fits(mol, bond, b.stereo, b.stereo_atoms);
}

std::vector<std::uint8_t> effective_direction_marks(const MolBuilder& mol) {
    return effective_marks(mol, LazyClasses{mol});
}

std::vector<std::uint8_t> effective_direction_marks(const MolBuilder& mol, std::span<const std::uint32_t> classes) {
    auto given = [&]() { return classes; };
    return effective_marks(mol, given);
}

std::optional<DirectionReference> double_bond_reference(const MolBuilder& mol, std::uint32_t atom,
                                                        std::uint32_t partner, std::span<const std::uint8_t> flags) {
    if (atom >= mol.num_atoms()) return std::nullopt;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (nb.atom == partner || !at(flags, nb.bond)) continue;
        return DirectionReference{nb.atom, direction_from(mol.bonds[nb.bond], atom)};
    }
    return std::nullopt;
}

std::uint32_t double_bond_stereo(MolBuilder& mol) {
    LazyClasses lazy{mol};
    // A value that reached the bond by another road than marks (a reaction
    // carrying it onto a bond that became symmetric or closed into a small
    // ring) would be written as marks that read back as nothing. Classes do
    // not see cis/trans, so clearing leaves them as they are.
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        Bond& b = mol.bonds[d];
        if (b.stereo == BondStereo::None || holds_cis_trans(mol, d, lazy)) continue;
        b.stereo = BondStereo::None;
        b.stereo_atoms = {NONE, NONE};
    }
    const std::vector<std::uint8_t> flags = effective_marks(mol, lazy);
    if (std::find(flags.begin(), flags.end(), 1) == flags.end()) return 0;
    struct Decided {
        std::uint32_t bond;
        BondStereo stereo;
        std::uint32_t r0, r1;
    };
    std::vector<Decided> decided;
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        const Bond& db = mol.bonds[d];
        if (!plain_double_bond(db) || has_double_bond_stereo(mol, d)) continue;
        auto r0 = double_bond_reference(mol, db.begin, db.end, flags);
        if (!r0) continue;
        auto r1 = double_bond_reference(mol, db.end, db.begin, flags);
        if (!r1) continue;
        if (small_ring(mol, d)) continue;
        decided.push_back({d, r0->direction == r1->direction ? BondStereo::Cis : BondStereo::Trans, r0->neighbour,
                           r1->neighbour});
    }
    for (const Decided& x : decided) {
        Bond& b = mol.bonds[x.bond];
        b.stereo = x.stereo;
        b.stereo_atoms = {x.r0, x.r1};
    }
    return static_cast<std::uint32_t>(decided.size());
}

std::optional<DoubleBondConfig> double_bond_config_from_directions(const MolBuilder& mol, std::uint32_t bond) {
    if (bond >= mol.num_bonds()) return std::nullopt;
    const Bond& db = mol.bonds[bond];
    if (db.order != BondOrder::Double || in_small_ring(mol, bond)) return std::nullopt;
    if (db.begin >= mol.num_atoms() || mol.degree[db.begin] == 0) return std::nullopt;
    auto first_marked = [&](std::uint32_t atom, std::uint32_t partner) -> std::optional<DirectionReference> {
        for (core::Neighbor nb : mol.neighbors(atom)) {
            if (nb.atom == partner) continue;
            const Bond& sb = mol.bonds[nb.bond];
            if (sb.direction != BondDirection::None) return DirectionReference{nb.atom, direction_from(sb, atom)};
        }
        return std::nullopt;
    };
    auto at_begin = first_marked(db.begin, db.end);
    if (!at_begin) return std::nullopt;
    auto at_end = first_marked(db.end, db.begin);
    if (!at_end) return std::nullopt;
    return DoubleBondConfig{at_begin->direction == at_end->direction ? BondStereo::Cis : BondStereo::Trans,
                            at_begin->neighbour, at_end->neighbour};
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> tied_neighbour_pair(const MolBuilder& mol, std::uint32_t atom,
                                                                          std::span<const std::uint32_t> classes) {
    if (atom >= mol.num_atoms() || mol.degree[atom] == 0) return std::nullopt;
    // Small lists compare pairwise; the lexicographically first pair (i, j)
    // is also the two earliest members of the class whose first member comes
    // first, which a sort finds for long lists. Short lists stay on the stack.
    if (mol.degree[atom] <= 16) {
        std::uint32_t small[16];
        std::size_t d = 0;
        bool fits = true;
        for (core::Neighbor nb : mol.neighbors(atom)) {
            if (d == 16) {
                fits = false;
                break;
            }
            small[d++] = nb.atom;
        }
        if (fits) {
            for (std::size_t i = 0; i < d; ++i)
                for (std::size_t j = i + 1; j < d; ++j)
                    if (at(classes, small[i]) == at(classes, small[j])) return std::pair{small[i], small[j]};
            return std::nullopt;
        }
    }
    std::vector<std::uint32_t> nbrs;
    nbrs.reserve(mol.degree[atom]);
    for (core::Neighbor nb : mol.neighbors(atom)) nbrs.push_back(nb.atom);
    const std::size_t d = nbrs.size();
    if (d <= 16) {
        for (std::size_t i = 0; i < d; ++i)
            for (std::size_t j = i + 1; j < d; ++j)
                if (at(classes, nbrs[i]) == at(classes, nbrs[j])) return std::pair{nbrs[i], nbrs[j]};
        return std::nullopt;
    }
    std::vector<std::uint32_t> idx(d);
    for (std::uint32_t i = 0; i < d; ++i) idx[i] = i;
    std::sort(idx.begin(), idx.end(), [&](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t cx = at(classes, nbrs[x]), cy = at(classes, nbrs[y]);
        return cx != cy ? cx < cy : x < y;
    });
    std::optional<std::pair<std::uint32_t, std::uint32_t>> best;  // as positions
    for (std::size_t k = 0; k + 1 < d;) {
        std::size_t e = k + 1;
        while (e < d && classes[nbrs[idx[e]]] == classes[nbrs[idx[k]]]) ++e;
        if (e - k >= 2 && (!best || idx[k] < best->first)) best = std::pair{idx[k], idx[k + 1]};
        k = e;
    }
    if (!best) return std::nullopt;
    return std::pair{nbrs[best->first], nbrs[best->second]};
}

bool tied_branches_reach_marked(const MolBuilder& mol, std::uint32_t centre, std::uint32_t a, std::uint32_t b,
                                std::span<const std::uint8_t> marks) {
    const std::uint32_t n = mol.num_atoms();
    if (centre >= n || a >= n || b >= n) return false;
    VisitMarks visited;
    visited.fit(n);
    std::vector<std::uint32_t> stack;
    return reach_marked(mol, centre, a, b, marks, visited, stack);
}

bool ties_rule_out_centre(const MolBuilder& mol, std::uint32_t atom, std::span<const std::uint32_t> classes) {
    if (atom >= mol.num_atoms() || mol.degree[atom] < 2) return false;
    // Swapping two such leaves, or cycling three alike branches, maps the
    // molecule onto itself whatever the rest holds, so no mark can tell the
    // two hands apart; a single pair of deeper branches can still be told
    // apart by a centre behind them.
    std::uint32_t small[16];
    std::vector<std::uint32_t> large;
    const std::uint32_t d = mol.degree[atom];
    std::uint32_t* nbrs = small;
    if (d > 16) {
        large.resize(d);
        nbrs = large.data();
    }
    std::uint32_t k = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (k == d) internal_error("邻居数超出度数");
        nbrs[k++] = nb.atom;
    }
    core::stable_small_sort(nbrs, nbrs + k,
                            [&](std::uint32_t x, std::uint32_t y) { return at(classes, x) < at(classes, y); });
    for (std::uint32_t i = 0; i < k;) {
        std::uint32_t e = i + 1;
        while (e < k && classes[nbrs[e]] == classes[nbrs[i]]) ++e;
        if (e - i >= 3) return true;
        if (e - i == 2 && mol.degree[nbrs[i]] == 1 && mol.degree[nbrs[i + 1]] == 1) return true;
        i = e;
    }
    return false;
}

namespace {

// tied_neighbour_pair with a caller's buffer for the neighbour list.
std::optional<std::pair<std::uint32_t, std::uint32_t>> tied_pair(const MolBuilder& mol, std::uint32_t atom,
                                                                 std::span<const std::uint32_t> classes,
                                                                 std::vector<std::uint32_t>& nbrs) {
    if (mol.degree[atom] == 0) return std::nullopt;
    if (mol.degree[atom] > 16) return tied_neighbour_pair(mol, atom, classes);
    nbrs.clear();
    for (core::Neighbor nb : mol.neighbors(atom)) nbrs.push_back(nb.atom);
    const std::size_t d = nbrs.size();
    if (d > 16) return tied_neighbour_pair(mol, atom, classes);
    for (std::size_t i = 0; i < d; ++i)
        for (std::size_t j = i + 1; j < d; ++j)
            if (at(classes, nbrs[i]) == at(classes, nbrs[j])) return std::pair{nbrs[i], nbrs[j]};
    return std::nullopt;
}

template <class Classes>
std::vector<std::uint8_t> centres(const MolBuilder& mol, Classes&& get_classes) {
    const std::uint32_t n = mol.num_atoms();
    std::vector<std::uint8_t> flags(n, 0);
    if (n == 0) return flags;
    std::vector<std::uint8_t> tagged(n, 0);
    bool any = false;
    for (std::uint32_t a = 0; a < n; ++a) {
        const auto tag = mol.atoms[a].chiral_tag;
        if (core::is_tetrahedral(tag)) tagged[a] = 1, any = true;
    }
    if (!any) return flags;
    const std::span<const std::uint32_t> classes = get_classes();
    const auto s = core::Scratch<SearchScratch>::borrow(n);
    s->visited.fit(n);
    VisitMarks& visited = s->visited;
    std::vector<std::uint32_t>& stack = s->first;
    std::vector<std::uint32_t>& nbrs = s->second;
    for (std::uint32_t x = 0; x < n; ++x) {
        if (!tagged[x]) continue;
        if (auto pair = tied_pair(mol, x, classes, nbrs)) {
            flags[x] = reach_marked(mol, x, pair->first, pair->second, tagged, visited, stack) ? 1 : 0;
        } else {
            flags[x] = 1;
        }
    }
    return flags;
}

}  // namespace

std::vector<std::uint8_t> chiral_centres(const MolBuilder& mol) {
    std::vector<std::uint32_t> classes;
    return centres(mol, [&]() -> std::span<const std::uint32_t> {
        classes = symmetry_classes(mol);
        return classes;
    });
}

std::vector<std::uint8_t> chiral_centres(const MolBuilder& mol, std::span<const std::uint32_t> classes) {
    return centres(mol, [&]() { return classes; });
}

}  // namespace quorix::io
