#include "depict/stereo.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "core/scratch.hpp"
#include "io/stereo.hpp"

namespace quorix::depict {

namespace {

// The sides of the two reference atoms: cross(end - begin, s_i - begin); none
// when a reference atom is missing.
std::optional<std::pair<double, double>> reference_sides(const core::MolBuilder& mol, std::span<const Point> coords,
                                                         std::uint32_t bond) {
    const core::Bond& b = at(mol.bonds, bond);
    const std::uint32_t s0 = b.stereo_atoms[0], s1 = b.stereo_atoms[1];
    if (s0 == core::NONE || s1 == core::NONE) return std::nullopt;
    const Point B = at(coords, b.begin);
    const Point u = at(coords, b.end) - B;
    return std::pair(cross(u, at(coords, s0) - B), cross(u, at(coords, s1) - B));
}

bool is_cis_trans(core::BondStereo s) { return s == core::BondStereo::Cis || s == core::BondStereo::Trans; }

core::BondStereo side_sense(std::pair<double, double> c) {
    return c.first * c.second > 0 ? core::BondStereo::Cis : core::BondStereo::Trans;
}

}  // namespace

std::uint8_t drawn_double_bond_config(const core::MolBuilder& mol, std::span<const Point> coords,
                                      std::uint32_t bond) {
    const auto c = reference_sides(mol, coords, bond);
    if (!c || std::fabs(c->first) < 1e-9 || std::fabs(c->second) < 1e-9) return UNDECIDED_CONFIG;
    return static_cast<std::uint8_t>(side_sense(*c));
}

bool operator<(const WedgeCandidate& a, const WedgeCandidate& b) {
    return std::tie(a.first_key, a.second_key, a.non_terminal, a.neighbour_rank, a.neighbour, a.bond) <
           std::tie(b.first_key, b.second_key, b.non_terminal, b.neighbour_rank, b.neighbour, b.bond);
}

namespace {

using io::Wedge;
using io::WedgeKind;

// The bonds of `centre` not yet wedged that may carry a wedge as written, in
// half-edge order.
void wedge_candidates(const core::MolBuilder& mol, std::span<const core::Bond> written,
                      std::span<const std::uint8_t> used, std::span<const std::uint32_t> ranks,
                      bool stereo_neighbour_first, std::uint32_t centre, std::vector<WedgeCandidate>& out) {
    out.clear();
    for (core::Neighbor nb : mol.neighbors(centre)) {
        const core::Bond& bond = at(mol.bonds, nb.bond);
        if (at(used, nb.bond) || !carries_wedge(at(written, nb.bond))) continue;
        const auto in_ring = static_cast<std::uint8_t>((bond.flags & core::IN_RING) != 0);
        const auto stereo = static_cast<std::uint8_t>(core::is_tetrahedral(at(mol.atoms, nb.atom).chiral_tag));
        const auto non_terminal =
            static_cast<std::uint8_t>(nb.atom < mol.degree.size() && mol.degree[nb.atom] > 1);
        out.push_back({at(ranks, nb.atom), nb.atom, stereo_neighbour_first ? stereo : in_ring,
                       stereo_neighbour_first ? in_ring : stereo, non_terminal, nb.bond});
    }
}

struct Reader {
    const core::MolBuilder& mol;
    std::span<const io::Coord> coords;
    const std::vector<Wedge>& wedges;
    bool reads(std::uint32_t centre, core::ChiralTag tag) const {
        const auto got = io::stereo_from_wedges(mol, coords, wedges, centre);
        return got && *got == tag;
    }
};

// Places the first candidate, solid before hashed, that reads back as `tag`.
bool place_wedge(std::span<const WedgeCandidate> candidates, std::uint32_t centre, core::ChiralTag tag,
                 std::vector<Wedge>& wedges, std::vector<std::uint8_t>& used, const Reader& reader) {
    for (const WedgeCandidate& c : candidates) {
        for (WedgeKind kind : {WedgeKind::Solid, WedgeKind::Hashed}) {
            at(wedges, c.bond) = Wedge{kind, centre};
            if (reader.reads(centre, tag)) {
                used[c.bond] = 1;
                return true;
            }
        }
        wedges[c.bond] = Wedge{};
    }
    return false;
}

// A later wedge on a bond of an earlier centre can change how that centre reads:
// such centres lose their wedges and are reported, until every placed one reads.
void verify_placed(const core::MolBuilder& mol, std::vector<std::pair<std::uint32_t, core::ChiralTag>>& placed,
                   std::vector<Wedge>& wedges, std::vector<std::uint32_t>& unwedged, const Reader& reader) {
    for (bool again = true; again && !placed.empty();) {
        again = false;
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const auto [centre, tag] = placed[i];
            if (reader.reads(centre, tag)) continue;
            placed.erase(placed.begin() + static_cast<std::ptrdiff_t>(i));
            for (core::Neighbor nb : mol.neighbors(centre)) {
                Wedge& w = at(wedges, nb.bond);
                if (w.kind != WedgeKind::None && w.apex == centre) w = Wedge{};
            }
            unwedged.push_back(centre);
            again = true;
            break;
        }
    }
}

std::size_t wedged_ring_bonds(const core::MolBuilder& mol, std::span<const Wedge> wedges) {
    std::size_t n = 0;
    for (std::size_t b = 0; b < wedges.size(); ++b)
        n += wedges[b].kind != WedgeKind::None && (at(mol.bonds, b).flags & core::IN_RING) != 0;
    return n;
}

}  // namespace

namespace {

// The drawn points as the wedge reading takes them, flat at height 0.
std::vector<io::Coord> flat_coords(const core::MolBuilder& mol, std::span<const Point> coords) {
    const std::uint32_t n = mol.num_atoms();
    std::vector<io::Coord> flat(n);
    for (std::uint32_t a = 0; a < n; ++a) flat[a] = {at(coords, a).x, at(coords, a).y, 0.0};
    return flat;
}

// Whether any confirmed mark is a tetrahedral centre, which alone takes a wedge.
bool any_centre(const core::MolBuilder& mol, std::span<const std::uint8_t> confirmed) {
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
        if (at(confirmed, a) && core::is_tetrahedral(mol.atoms[a].chiral_tag)) return true;
    return false;
}

// One pass's working lists, kept between calls.
struct PassScratch {
    std::vector<std::uint32_t> centres;
    std::vector<std::uint8_t> used;
    std::vector<std::pair<std::uint32_t, core::ChiralTag>> placed;
    std::vector<WedgeCandidate> candidates;
};

// `flat` is flat_coords of the drawing, made once the first pass needs it.
WedgeAssignment assign_pass(const core::MolBuilder& mol, std::span<const Point> coords,
                            std::span<const std::uint32_t> ranks, bool stereo_neighbour_first,
                            std::span<const std::uint8_t> confirmed, std::span<const core::Bond> written,
                            std::vector<io::Coord>& flat) {
    const std::uint32_t n = mol.num_atoms();
    WedgeAssignment out;
    out.wedges.assign(mol.bonds.size(), Wedge{});
    const auto lease = core::Scratch<PassScratch>::borrow(n);
    std::vector<std::uint32_t>& centres = lease->centres;
    centres.clear();
    for (std::uint32_t a = 0; a < n; ++a) {
        const core::ChiralTag tag = mol.atoms[a].chiral_tag;
        if (at(confirmed, a) && core::is_tetrahedral(tag)) centres.push_back(a);
        // Allene and polyhedral classes have no wedge drawing.
        if (static_cast<std::uint8_t>(tag) >= static_cast<std::uint8_t>(core::ChiralTag::Allene))
            out.unwedged.push_back(a);
    }
    if (centres.empty()) return out;
    std::sort(centres.begin(), centres.end(), [&](std::uint32_t x, std::uint32_t y) {
        return std::pair(at(ranks, x), x) < std::pair(at(ranks, y), y);
    });

    std::vector<std::uint8_t>& used = lease->used;
    used.assign(mol.bonds.size(), 0);
    std::vector<std::pair<std::uint32_t, core::ChiralTag>>& placed = lease->placed;
    placed.clear();
    if (flat.empty()) flat = flat_coords(mol, coords);
    const Reader reader{mol, flat, out.wedges};
    std::vector<WedgeCandidate>& candidates = lease->candidates;
    for (std::uint32_t c : centres) {
        const core::ChiralTag tag = mol.atoms[c].chiral_tag;
        wedge_candidates(mol, written, used, ranks, stereo_neighbour_first, c, candidates);
        std::sort(candidates.begin(), candidates.end());
        if (place_wedge(candidates, c, tag, out.wedges, used, reader)) placed.emplace_back(c, tag);
        else out.unwedged.push_back(c);
    }
    verify_placed(mol, placed, out.wedges, out.unwedged, reader);
    std::sort(out.unwedged.begin(), out.unwedged.end());
    return out;
}

}  // namespace

WedgeAssignment assign_wedges(const core::MolBuilder& mol, std::span<const Point> coords,
                              std::span<const std::uint32_t> ranks, bool stereo_neighbour_first) {
    atom_count_u32(mol);
    std::vector<io::Coord> flat;
    return assign_pass(mol, coords, ranks, stereo_neighbour_first, io::chiral_centres(mol), mol.bonds, flat);
}

WedgeAssignment choose_wedges(const core::MolBuilder& mol, std::span<const Point> coords,
                              std::span<const std::uint32_t> ranks) {
    atom_count_u32(mol);
    // Both passes share one reading of which marks are centres.
    return choose_wedges(mol, coords, ranks, io::chiral_centres(mol), mol.bonds);
}

WedgeAssignment choose_wedges(const core::MolBuilder& mol, std::span<const Point> coords,
                              std::span<const std::uint32_t> ranks, std::span<const std::uint8_t> confirmed,
                              std::span<const core::Bond> written) {
    atom_count_u32(mol);
    if (written.size() != mol.bonds.size()) internal_error("写出的分子和排楔形的分子键数不同");
    std::vector<io::Coord> flat;
    WedgeAssignment a = assign_pass(mol, coords, ranks, false, confirmed, written, flat);
    // Without a centre the passes differ in nothing, and ties keep the first.
    if (!any_centre(mol, confirmed)) return a;
    WedgeAssignment b = assign_pass(mol, coords, ranks, true, confirmed, written, flat);
    const auto key = [&](const WedgeAssignment& w) {
        return std::pair(w.unwedged.size(), wedged_ring_bonds(mol, w.wedges));
    };
    return key(b) < key(a) ? std::move(b) : std::move(a);
}

std::optional<std::vector<std::uint32_t>> bond_side_atoms(const core::MolBuilder& mol, std::uint32_t bond,
                                                          std::uint32_t atom) {
    const core::Bond& b = at(mol.bonds, bond);
    const std::uint32_t far = atom == b.end ? b.begin : b.end;
    std::vector<std::uint8_t> seen(mol.atoms.size(), 0);
    std::vector<std::uint32_t> visited{atom}, stack{atom};
    at(seen, atom) = 1;
    while (!stack.empty()) {
        const std::uint32_t x = stack.back();
        stack.pop_back();
        for (core::Neighbor nb : mol.neighbors(x)) {
            if (nb.bond == bond) continue;
            if (nb.atom == far) return std::nullopt;
            if (seen[nb.atom]) continue;
            seen[nb.atom] = 1;
            visited.push_back(nb.atom);
            stack.push_back(nb.atom);
        }
    }
    std::sort(visited.begin(), visited.end());
    return visited;
}

namespace {
void mirror_side(std::span<Point> coords, std::span<const std::uint32_t> side, Point B, Point E) {
    const Point w = normalised(E - B);
    for (std::uint32_t a : side) {
        const Point d = coords[a] - B;
        coords[a] = B + (2.0 * dot(d, w)) * w - d;
    }
}
}  // namespace

std::vector<std::uint32_t> repair_double_bonds(const core::MolBuilder& mol, std::span<Point> coords,
                                               std::span<const std::uint32_t> ranks) {
    const std::uint32_t nb = bond_count_u32(mol);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> order;
    for (std::uint32_t i = 0; i < nb; ++i) {
        const core::Bond& b = mol.bonds[i];
        if (!is_cis_trans(b.stereo)) continue;
        const std::uint32_t r0 = at(ranks, b.begin), r1 = at(ranks, b.end);
        order.emplace_back(std::min(r0, r1), std::max(r0, r1), i);
    }
    std::sort(order.begin(), order.end());
    std::vector<std::uint32_t> repaired;
    for (const auto& [lo, hi, i] : order) {
        const core::Bond& b = mol.bonds[i];
        const auto stored = static_cast<std::uint8_t>(b.stereo);
        if (drawn_double_bond_config(mol, coords, i) == stored) continue;
        const auto begin_side = bond_side_atoms(mol, i, b.begin);
        const auto end_side = bond_side_atoms(mol, i, b.end);
        if (!begin_side && !end_side) continue;
        const std::vector<std::uint32_t>* chosen = nullptr;
        if (!begin_side) chosen = &*end_side;
        else if (!end_side) chosen = &*begin_side;
        else {
            const std::uint32_t mb = lowest_rank(ranks, *begin_side), me = lowest_rank(ranks, *end_side);
            chosen = mb > me ? &*begin_side : &*end_side;
        }
        for (std::uint32_t a : *chosen) (void)at(coords, a);
        const Point B = coords[b.begin], E = coords[b.end];
        mirror_side(coords, *chosen, B, E);
        if (drawn_double_bond_config(mol, coords, i) == stored) repaired.push_back(i);
        else mirror_side(coords, *chosen, B, E);
    }
    return repaired;
}

std::vector<std::uint32_t> find_misdrawn_double_bonds(const core::MolBuilder& mol, std::span<const Point> coords) {
    const std::uint32_t nb = bond_count_u32(mol);
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < nb; ++i) {
        if (!is_cis_trans(mol.bonds[i].stereo)) continue;
        const auto c = reference_sides(mol, coords, i);
        const bool shown = c && std::fabs(c->first) >= 1e-9 && std::fabs(c->second) >= 1e-9 &&
                           side_sense(*c) == mol.bonds[i].stereo;
        if (!shown) out.push_back(i);
    }
    return out;
}

}  // namespace quorix::depict
