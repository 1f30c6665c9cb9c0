// Clean-up of a finished layout by rigid moves: bond-side flips, spiro-ring flips,
// branch swaps at four-bond centres, and 30-degree turns while atoms coincide.
#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

#include "chem/sssr.hpp"
#include "core/numeric.hpp"
#include "core/scratch.hpp"
#include "depict/chains.hpp"
#include "depict/refine.hpp"
#include "depict/stereo.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

namespace {
constexpr double DEGREES = 57.29577951308232;
constexpr double TURN = 0.5235987755982989;
constexpr std::int64_t RIGHT_ANGLE_MICRO = 89000000;

struct SpiroMove {
    std::vector<std::uint32_t> key;
    std::vector<std::uint32_t> moved;
    std::uint32_t first, second, centre;
};

struct SwapMove {
    std::array<std::uint32_t, 3> key;
    std::vector<std::uint32_t> first_branch, second_branch;
    std::uint32_t first, second, centre;
};

struct WalkScratch {
    std::vector<std::uint8_t> seen;
    std::vector<std::uint32_t> stack;
};

// Drawn atoms reachable from `start` without the bond `skip` or the atom `excluded`.
// Returns false when `stop` is reached.
bool drawn_walk(const core::MolBuilder& mol, const PositionMap& positions, std::uint32_t start, std::uint32_t skip,
                std::uint32_t excluded, std::uint32_t stop, std::vector<std::uint32_t>& out) {
    const auto scratch = core::Scratch<WalkScratch>::borrow(mol.atoms.size());
    std::vector<std::uint8_t>& seen = scratch->seen;
    std::vector<std::uint32_t>& stack = scratch->stack;
    seen.assign(mol.atoms.size(), 0);
    stack.assign(1, start);
    out.assign(1, start);
    at(seen, start) = 1;
    while (!stack.empty()) {
        const std::uint32_t x = stack.back();
        stack.pop_back();
        for (core::Neighbor nb : mol.neighbors(x)) {
            if (nb.bond == skip || nb.atom == excluded || !positions.contains(nb.atom)) continue;
            if (nb.atom == stop) return false;
            if (seen[nb.atom]) continue;
            seen[nb.atom] = 1;
            out.push_back(nb.atom);
            stack.push_back(nb.atom);
        }
    }
    std::sort(out.begin(), out.end());
    return true;
}

bool key_less(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

struct Refiner {
    const core::MolBuilder& mol;
    PositionMap& pos;
    std::span<const std::uint32_t> ranks;
    std::span<const double> radii;
    LayoutScore best;
    std::vector<Point> saved;
    ScoreKeeper keeper;
    // Moves change where atoms are, never which are drawn, so a bond's smaller
    // side is found once per refinement.
    std::vector<std::optional<std::vector<std::uint32_t>>> sides{};
    std::vector<std::uint8_t> side_known{};

    const std::optional<std::vector<std::uint32_t>>& side_of(std::uint32_t bond) {
        if (side_known.empty()) {
            sides.resize(mol.bonds.size());
            side_known.assign(mol.bonds.size(), 0);
        }
        if (!at(side_known, bond)) {
            sides[bond] = smaller_bond_side(mol, pos, bond, ranks);
            side_known[bond] = 1;
        }
        return sides[bond];
    }

    void save(std::span<const std::uint32_t> atoms) {
        saved.clear();
        for (std::uint32_t a : atoms) saved.push_back(point_of(pos, a));
    }
    void restore(std::span<const std::uint32_t> atoms) {
        for (std::size_t i = 0; i < atoms.size(); ++i) pos[atoms[i]] = saved[i];
    }
    void mirror(std::span<const std::uint32_t> atoms, Point p, Point d) {
        const Point dir = normalised(d);
        for (std::uint32_t a : atoms) {
            Point& q = pos[a];
            const Point r = q - p;
            q = p + (2.0 * dot(r, dir)) * dir - r;
        }
    }
    void turn(std::span<const std::uint32_t> atoms, Point p, double theta) {
        const double c = std::cos(theta), s = std::sin(theta);
        for (std::uint32_t a : atoms) {
            const Point d = point_of(pos, a) - p;
            pos[a] = Point{p.x + (d.x * c - d.y * s), p.y + (d.x * s + d.y * c)};
        }
    }

    // Mirrors `atoms` across the line through p along d; keeps the move when it
    // improves the score and leaves every stored cis/trans bond drawn as stored.
    bool try_mirror(std::span<const std::uint32_t> atoms, Point p, Point d) {
        save(atoms);
        mirror(atoms, p, d);
        const LayoutScore s = keeper.trial(mol, pos, radii, atoms);
        if (stereo_drawn_intact(mol, pos)) {
            const bool better = std::tie(s.coincident, s.crossings) < std::tie(best.coincident, best.crossings) ||
                                (s.coincident == best.coincident && s.crossings == best.crossings &&
                                 s.penalty < best.penalty - 1e-9);
            if (better) {
                keeper.accept();
                best = s;
                return true;
            }
        }
        restore(atoms);
        return false;
    }

    // The axis of a spiro flip or branch swap: through the centre and the midpoint
    // of the two neighbours, when the centre is equidistant from them.
    bool try_centre_mirror(std::span<const std::uint32_t> atoms, std::uint32_t centre, std::uint32_t first,
                           std::uint32_t second) {
        const Point U = point_of(pos, centre), A = point_of(pos, first), B = point_of(pos, second);
        const Point M{(A.x + B.x) / 2, (A.y + B.y) / 2};
        if (length(M - U) < 1e-9 || std::abs(length(U - A) - length(U - B)) > 1e-9) return false;
        return try_mirror(atoms, U, M - U);
    }

    bool escape();
};

struct TurnCandidate {
    std::vector<std::uint32_t> moved;
    std::uint32_t pivot;
    double angle;
    std::uint8_t flag;
};

std::vector<TurnCandidate> turn_candidates(Refiner& r) {
    const core::MolBuilder& mol = r.mol;
    const PositionMap& pos = r.pos;
    const std::span<const std::uint32_t> ranks = r.ranks;
    std::vector<TurnCandidate> out;
    const std::uint32_t nb = bond_count_u32(mol);
    for (std::uint32_t b = 0; b < nb; ++b) {
        const core::Bond& bond = mol.bonds[b];
        if ((bond.flags & core::IN_RING) || !pos.contains(bond.begin) || !pos.contains(bond.end)) continue;
        const auto& side = r.side_of(b);
        if (!side) continue;
        const bool end_inside = std::binary_search(side->begin(), side->end(), bond.end);
        const std::uint32_t p = end_inside ? bond.begin : bond.end, m = end_inside ? bond.end : bond.begin;
        const std::uint32_t deg = at(mol.degree, p);
        if (deg < 2 || (deg == 2 && runs_straight(mol, p))) continue;
        std::vector<std::uint32_t> others;
        for (core::Neighbor n : mol.neighbors(p))
            if (n.atom != m && pos.contains(n.atom)) others.push_back(n.atom);
        std::sort(others.begin(), others.end(), [&](std::uint32_t a, std::uint32_t c) {
            return std::pair(at(ranks, a), a) < std::pair(at(ranks, c), c);
        });
        others.erase(std::unique(others.begin(), others.end()), others.end());
        const Point P = point_of(pos, p), M = point_of(pos, m);
        double s = 0.0;
        for (std::uint32_t n : others) {
            const double c = cross(M - P, point_of(pos, n) - P);
            if (std::abs(c) > 1e-9) {
                s = c > 0 ? 1.0 : -1.0;
                break;
            }
        }
        if (s == 0.0) continue;
        out.push_back({*side, p, -s * TURN, 0});
        out.push_back({*side, p, s * TURN, 1});
    }
    return out;
}

bool Refiner::escape() {
    using Key = std::tuple<std::uint64_t, std::uint64_t, std::int64_t, std::uint32_t, std::uint32_t, std::uint8_t>;
    std::vector<TurnCandidate> cands = turn_candidates(*this);
    const TurnCandidate* chosen = nullptr;
    Key chosen_key{};
    for (const TurnCandidate& c : cands) {
        const double before = min_bond_angle(mol, pos, c.pivot);
        const Point P = point_of(pos, c.pivot);
        save(c.moved);
        turn(c.moved, P, c.angle);
        const LayoutScore s = keeper.trial(mol, pos, radii, c.moved);
        const double after = min_bond_angle(mol, pos, c.pivot);
        const bool stereo_ok = stereo_drawn_intact(mol, pos);
        restore(c.moved);
        const auto after_micro = core::round_saturating<std::int64_t>(after * 1e6);
        const auto before_micro = core::round_saturating<std::int64_t>(before * 1e6);
        if (!(s.coincident < best.coincident && stereo_ok &&
              (after_micro > RIGHT_ANGLE_MICRO || after_micro >= before_micro)))
            continue;
        const Key key{s.coincident, s.crossings, -after_micro, at(ranks, c.pivot), lowest_rank(ranks, c.moved),
                      c.flag};
        if (!chosen || key < chosen_key) {
            chosen = &c;
            chosen_key = key;
        }
    }
    if (!chosen) return false;
    turn(chosen->moved, point_of(pos, chosen->pivot), chosen->angle);
    best = keeper.reset(mol, pos, radii);
    return true;
}

std::vector<SpiroMove> spiro_moves(const core::MolBuilder& mol, const PositionMap& pos,
                                   std::span<const std::uint32_t> ranks) {
    const std::vector<chem::Ring> rings = chem::sssr(mol);
    std::vector<std::vector<std::uint32_t>> ring_keys(rings.size());
    for (std::size_t i = 0; i < rings.size(); ++i) ring_keys[i] = rank_key(rings[i].atoms, ranks);
    std::vector<std::vector<std::uint32_t>> rings_of(mol.atoms.size());
    for (std::uint32_t i = 0; i < rings.size(); ++i)
        for (std::uint32_t a : rings[i].atoms) at(rings_of, a).push_back(i);
    std::vector<SpiroMove> out;
    for (const auto& [u, pu] : pos) {
        if (u >= rings_of.size()) continue;
        std::vector<std::uint32_t> mine = rings_of[u];
        mine.erase(std::unique(mine.begin(), mine.end()), mine.end());
        if (mine.size() < 2) continue;
        std::stable_sort(mine.begin(), mine.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return key_less(ring_keys[a], ring_keys[b]); });
        for (std::uint32_t r : mine) {
            const auto& ra = rings[r].atoms;
            bool found = false;
            for (std::uint32_t o : mine) {
                if (o == r || rings[o].atoms.empty()) continue;
                std::size_t shared = 0;
                for (std::uint32_t a : rings[o].atoms) shared += std::count(ra.begin(), ra.end(), a) > 0;
                if (shared == 1) {
                    found = true;
                    break;
                }
            }
            if (!found) continue;
            std::vector<std::uint32_t> ends;
            for (std::uint32_t a : ra)
                if (a != u && mol.bond_between(u, a) != core::NONE) ends.push_back(a);
            if (ends.size() != 2 || !pos.contains(ends[0]) || !pos.contains(ends[1])) continue;
            auto branch = branch_atoms(mol, pos, ends[0], u);
            if (!branch || !std::binary_search(branch->begin(), branch->end(), ends[1]) ||
                std::binary_search(branch->begin(), branch->end(), u))
                continue;
            SpiroMove m;
            m.key.push_back(at(ranks, u));
            m.key.insert(m.key.end(), ring_keys[r].begin(), ring_keys[r].end());
            m.moved = std::move(*branch);
            m.first = ends[0];
            m.second = ends[1];
            m.centre = u;
            out.push_back(std::move(m));
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const SpiroMove& a, const SpiroMove& b) { return key_less(a.key, b.key); });
    return out;
}

std::vector<SwapMove> swap_moves(const core::MolBuilder& mol, const PositionMap& pos,
                                 std::span<const std::uint32_t> ranks) {
    std::vector<SwapMove> out;
    for (const auto& [c, pc] : pos) {
        if (c >= mol.degree.size() || mol.degree[c] != 4) continue;
        std::vector<std::uint32_t> nbrs;
        bool ring = false;
        for (core::Neighbor nb : mol.neighbors(c)) {
            ring |= (mol.bonds[nb.bond].flags & core::IN_RING) != 0;
            nbrs.push_back(nb.atom);
        }
        if (ring) continue;
        std::sort(nbrs.begin(), nbrs.end(), [&](std::uint32_t a, std::uint32_t b) {
            return std::pair(at(ranks, a), a) < std::pair(at(ranks, b), b);
        });
        nbrs.erase(std::unique(nbrs.begin(), nbrs.end()), nbrs.end());
        if (nbrs.size() != 4) continue;
        for (std::size_t i = 0; i + 1 < 4; ++i) {
            auto a = branch_atoms(mol, pos, nbrs[i], c), b = branch_atoms(mol, pos, nbrs[i + 1], c);
            if (!a || !b) continue;
            std::vector<std::uint32_t> common;
            std::set_intersection(a->begin(), a->end(), b->begin(), b->end(), std::back_inserter(common));
            if (!common.empty()) continue;
            const std::uint32_t r0 = at(ranks, nbrs[i]), r1 = at(ranks, nbrs[i + 1]);
            out.push_back({{at(ranks, c), std::min(r0, r1), std::max(r0, r1)},
                           std::move(*a), std::move(*b), nbrs[i], nbrs[i + 1], c});
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const SwapMove& a, const SwapMove& b) { return a.key < b.key; });
    return out;
}
}  // namespace

std::vector<std::uint32_t> flippable_bonds(const core::MolBuilder& mol, const PositionMap& positions) {
    const std::uint32_t nb = bond_count_u32(mol);
    std::vector<std::uint32_t> out;
    for (std::uint32_t b = 0; b < nb; ++b) {
        const core::Bond& bond = mol.bonds[b];
        if ((bond.flags & core::IN_RING) || at(mol.degree, bond.begin) < 2 || at(mol.degree, bond.end) < 2) continue;
        if (positions.contains(bond.begin) && positions.contains(bond.end)) out.push_back(b);
    }
    return out;
}

std::optional<std::vector<std::uint32_t>> smaller_bond_side(const core::MolBuilder& mol, const PositionMap& positions,
                                                            std::uint32_t bond, std::span<const std::uint32_t> ranks) {
    const core::Bond& b = at(mol.bonds, bond);
    std::vector<std::uint32_t> end_side, begin_side;
    if (!drawn_walk(mol, positions, b.end, bond, core::NONE, b.begin, end_side)) return std::nullopt;
    drawn_walk(mol, positions, b.begin, bond, core::NONE, b.end, begin_side);
    if (begin_side.size() != end_side.size())
        return begin_side.size() < end_side.size() ? std::move(begin_side) : std::move(end_side);
    return lowest_rank(ranks, begin_side) < lowest_rank(ranks, end_side) ? std::move(begin_side)
                                                                             : std::move(end_side);
}

std::optional<std::vector<std::uint32_t>> branch_atoms(const core::MolBuilder& mol, const PositionMap& positions,
                                                       std::uint32_t start, std::uint32_t excluded) {
    if (!positions.contains(start)) return std::nullopt;
    std::vector<std::uint32_t> out;
    drawn_walk(mol, positions, start, core::NONE, excluded, core::NONE, out);
    return out;
}

std::vector<std::uint32_t> rank_key(std::span<const std::uint32_t> atoms, std::span<const std::uint32_t> ranks) {
    return rank_sorted_atoms(ranks, atoms);
}

double min_bond_angle(const core::MolBuilder& mol, const PositionMap& positions, std::uint32_t atom) {
    if (!positions.contains(atom)) return 180.0;
    std::vector<std::uint32_t> nbrs;
    for (core::Neighbor nb : mol.neighbors(atom))
        if (positions.contains(nb.atom)) nbrs.push_back(nb.atom);
    const Point c = point_of(positions, atom);
    double best = 180.0;
    for (std::size_t i = 0; i < nbrs.size(); ++i)
        for (std::size_t j = i + 1; j < nbrs.size(); ++j) {
            if (mol.bond_between(nbrs[i], nbrs[j]) != core::NONE) continue;
            const Point a = normalised(point_of(positions, nbrs[i]) - c);
            const Point b = normalised(point_of(positions, nbrs[j]) - c);
            best = std::min(best, std::acos(std::clamp(dot(a, b), -1.0, 1.0)) * DEGREES);
        }
    return best;
}

RefineResult refine_layout(const core::MolBuilder& mol, PositionMap& positions, std::span<const std::uint32_t> ranks,
                           double bond_length, double font_size) {
    const std::vector<double> radii = label_radii(mol, bond_length, font_size);
    return refine_layout(mol, positions, ranks, radii);
}

RefineResult refine_layout(const core::MolBuilder& mol, PositionMap& positions, std::span<const std::uint32_t> ranks,
                           std::span<const double> radii) {
    if (radii.size() != mol.atoms.size()) internal_error("标签半径与原子数不符");
    Refiner r{mol, positions, ranks, radii, {}, {}, {}};
    r.best = r.keeper.reset(mol, positions, r.radii);
    if (r.best == LayoutScore{}) return {};

    std::vector<std::uint32_t> flips = flippable_bonds(mol, positions);
    std::vector<std::array<std::uint32_t, 3>> flip_keys;
    for (std::uint32_t b : flips) {
        const std::uint32_t r0 = at(ranks, mol.bonds[b].begin), r1 = at(ranks, mol.bonds[b].end);
        flip_keys.push_back({std::min(r0, r1), std::max(r0, r1), b});
    }
    std::sort(flip_keys.begin(), flip_keys.end());
    const std::vector<SpiroMove> spiros = spiro_moves(mol, positions, ranks);
    const std::vector<SwapMove> swaps = swap_moves(mol, positions, ranks);
    const std::size_t limit = 2 * std::max<std::size_t>(1, spiros.size() + swaps.size() + 3 * flips.size());

    for (std::size_t passes = 0;;) {
        bool changed = false;
        for (const auto& [r0, r1, b] : flip_keys) {
            const auto& side = r.side_of(b);
            if (!side) continue;
            const Point P = point_of(positions, mol.bonds[b].begin);
            changed |= r.try_mirror(*side, P, point_of(positions, mol.bonds[b].end) - P);
        }
        for (const SpiroMove& m : spiros) changed |= r.try_centre_mirror(m.moved, m.centre, m.first, m.second);
        for (const SwapMove& m : swaps) {
            std::vector<std::uint32_t> both = m.first_branch;
            both.insert(both.end(), m.second_branch.begin(), m.second_branch.end());
            changed |= r.try_centre_mirror(both, m.centre, m.first, m.second);
        }
        ++passes;
        if (changed || r.best.coincident == 0) {
            if (changed && passes < limit) continue;
            break;
        }
        if (!r.escape() || passes >= limit) break;
    }
    Clashes final = find_clashes(mol, positions, r.radii);
    return {std::move(final.atoms), std::move(final.crossings)};
}

}  // namespace quorix::depict
