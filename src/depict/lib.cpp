#include "depict/lib.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <optional>
#include <set>

#include "chem/organometallics.hpp"
#include "core/scratch.hpp"
#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "core/scratch.hpp"
#include "depict/components.hpp"
#include "depict/refine.hpp"
#include "depict/rings.hpp"
#include "depict/stereo.hpp"
#include "depict/turns.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"

namespace quorix::depict {
namespace {


// A copy with every atom and the bonds that `keep` lets through, in order, each
// possibly rewritten by `edit`.
template <class Keep, class Edit>
core::MolBuilder copy_bonds(const core::MolBuilder& mol, Keep keep, Edit edit) {
    core::MolBuilder out = core::MolBuilder::with_capacity(mol.atoms.size(), mol.bonds.size());
    for (const core::Atom& a : mol.atoms) out.add_atom(a);
    for (std::uint32_t b = 0; b < mol.bonds.size(); ++b) {
        if (!keep(b)) continue;
        core::Bond bond = mol.bonds[b];
        edit(bond);
        out.push_bond(bond);
    }
    return out;
}

// A preparation copy is used when it sanitises, but as built: sanitising it
// would give bracket atoms that lost a bond radicals the drawn molecule does not
// have, and would turn over-valent donors back into dative bonds. Only its ring
// bits are brought up to date.
bool accept_as_built(core::MolBuilder& copy) {
    core::MolBuilder trial = copy;
    if (!chem::sanitize(trial)) return false;
    chem::ring_membership(copy);
    return true;
}

std::optional<core::MolBuilder> dative_free_copy(const core::MolBuilder& mol) {
    const bool any = std::any_of(mol.bonds.begin(), mol.bonds.end(),
                                 [](const core::Bond& b) { return b.order == core::BondOrder::Dative; });
    if (!any) return std::nullopt;
    core::MolBuilder copy = copy_bonds(mol, [](std::uint32_t) { return true; }, [](core::Bond& b) {
        if (b.order == core::BondOrder::Dative) b.order = core::BondOrder::Single;
    });
    if (!accept_as_built(copy)) return std::nullopt;
    return copy;
}

struct Hapto {
    std::vector<Degradation> records;
    std::vector<std::uint8_t> removed;  // per bond of the stereo molecule
};

// The ring atoms bonded to the metal form one unbroken run along the ring.
bool one_run(std::span<const std::uint32_t> ring, std::span<const std::uint8_t> is_neighbour) {
    std::uint32_t ends = 0;
    for (std::size_t i = 0; i < ring.size(); ++i)
        ends += is_neighbour[ring[i]] && !is_neighbour[ring[(i + 1) % ring.size()]];
    return ends == 1;
}

// Metals bound to three or more atoms of one ring keep one bond to it (to the
// ring atom of lowest rank) for the layout; the others are set aside.
Hapto find_hapto(const core::MolBuilder& mol, std::span<const std::uint32_t> ranks,
                 std::span<const std::uint32_t> metals) {
    Hapto out;
    if (metals.empty()) return out;
    std::vector<std::uint8_t> is_metal(mol.atoms.size(), 0);
    for (std::uint32_t m : metals) is_metal[m] = 1;
    core::MolBuilder stripped = copy_bonds(
        mol, [&](std::uint32_t b) { return !is_metal[mol.bonds[b].begin] && !is_metal[mol.bonds[b].end]; },
        [](core::Bond&) {});
    if (!chem::sanitize(stripped)) return out;
    const std::vector<chem::Ring> rings = chem::sssr(stripped);
    out.removed.assign(mol.bonds.size(), 0);
    std::vector<std::uint8_t> in_ring(mol.atoms.size(), 0), is_neighbour(mol.atoms.size(), 0);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> bonds;
    for (std::uint32_t m : metals) {
        for (core::Neighbor nb : mol.neighbors(m)) is_neighbour[nb.atom] = 1;
        for (const chem::Ring& ring : rings) {
            for (std::uint32_t a : ring.atoms) in_ring[a] = 1;
            bonds.clear();
            for (core::Neighbor nb : mol.neighbors(m))
                if (in_ring[nb.atom]) bonds.emplace_back(at(ranks, nb.atom), nb.bond);
            const bool whole = std::all_of(ring.atoms.begin(), ring.atoms.end(),
                                           [&](std::uint32_t a) { return is_neighbour[a] != 0; });
            for (std::uint32_t a : ring.atoms) in_ring[a] = 0;
            if (bonds.size() < 3 || !(whole || one_run(ring.atoms, is_neighbour))) continue;
            std::sort(bonds.begin(), bonds.end());
            for (std::size_t k = 1; k < bonds.size(); ++k) out.removed[bonds[k].second] = 1;
            std::vector<std::uint32_t> atoms = ring.atoms;
            std::sort(atoms.begin(), atoms.end(), [&](std::uint32_t x, std::uint32_t y) {
                return std::pair(at(ranks, x), x) < std::pair(at(ranks, y), y);
            });
            out.records.push_back(HaptoCoordination{m, std::move(atoms)});
        }
        for (core::Neighbor nb : mol.neighbors(m)) is_neighbour[nb.atom] = 0;
    }
    return out;
}

// Components side by side, left to right, 0.5 apart between their label-padded extents.
PositionMap pack(std::span<const ComponentLayout> layouts, std::span<const double> radii) {
    PositionMap out;
    std::size_t total = 0;
    for (const ComponentLayout& layout : layouts) total += layout.coords.size();
    out.reserve(total);
    double offset = 0.0;
    for (const ComponentLayout& layout : layouts) {
        double lo = 0.0, hi = 0.0;
        bool first = true;
        for (const auto& [a, p] : layout.coords) {
            const double r = at(radii, a);
            lo = first ? p.x - r : std::min(lo, p.x - r);
            hi = first ? p.x + r : std::max(hi, p.x + r);
            first = false;
        }
        for (const auto& [a, p] : layout.coords) out[a] = Point{offset + p.x - lo, p.y};
        offset += (hi - lo) + 0.5;
    }
    return out;
}

std::int64_t quantised(double v) {
    const double r = std::round(v);
    if (!(r > -9.2e18)) return r != r ? 0 : INT64_MIN;
    if (r > 9.2e18) return INT64_MAX;
    return static_cast<std::int64_t>(r);
}

// cos and sin of the twelve 30-degree turns, by the calls each turn once made; the
// step is read through a volatile so that no call is folded into a constant of
// the compiler's own rounding.
struct TurnTable {
    double cos[12], sin[12];
};

const TurnTable& turn_table() {
    static const TurnTable table = [] {
        static volatile double step = 0.5235987755982989;
        TurnTable t{};
        for (int k = 0; k < 12; ++k) {
            const double theta = k * step;
            t.cos[k] = std::cos(theta), t.sin[k] = std::sin(theta);
        }
        return t;
    }();
    return table;
}

// Working arrays of the orientation search, kept warm between drawings.
struct TurnScratch {
    std::vector<std::uint32_t> order;
    std::vector<double> lanes;
};

// The widest of 24 turns and mirror images about the centroid; ties go to the
// smaller rounded coordinates in (rank, index) order, then to the earlier turn.
std::vector<Point> oriented(std::vector<Point> pts, std::span<const std::uint32_t> ranks) {
    const std::size_t n = pts.size();
    if (n < 2) return pts;
    auto lease = core::Scratch<TurnScratch>::borrow(n);
    std::vector<std::uint32_t>& order = lease->order;
    order.resize(n);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        return std::pair(at(ranks, x), x) < std::pair(at(ranks, y), y);
    });
    Point sum;
    for (std::uint32_t a : order) sum = sum + pts[a];
    const Point centre = (1.0 / static_cast<double>(n)) * sum;

    // Coordinates one array per axis, turned two points at a time; the six
    // arrays share one block.
    std::vector<double>& lanes = lease->lanes;
    lanes.resize(6 * n);
    double* const base = lanes.data();
    const std::span<double> xs(base, n), ys(base + n, n);
    std::span<double> tx(base + 2 * n, n), ty(base + 3 * n, n), bx(base + 4 * n, n), by(base + 5 * n, n);
    for (std::size_t a = 0; a < n; ++a) xs[a] = pts[a].x - centre.x, ys[a] = pts[a].y - centre.y;
    std::int64_t best_score = 0;
    bool have_best = false;
    const auto better_key = [&]() {
        for (std::uint32_t a : order) {
            const std::int64_t t1 = quantised(tx[a] * RESOLUTION), b1 = quantised(bx[a] * RESOLUTION);
            if (t1 != b1) return t1 < b1;
            const std::int64_t t2 = quantised(ty[a] * RESOLUTION), b2 = quantised(by[a] * RESOLUTION);
            if (t2 != b2) return t2 < b2;
        }
        return false;
    };
    const TurnTable& table = turn_table();
    for (int mirror = 0; mirror < 2; ++mirror)
        for (int k = 0; k < 12; ++k) {
            const double c = table.cos[k], s = table.sin[k];
            const Extent e = mirror ? turn_points<true>(xs, ys, c, s, tx, ty) : turn_points<false>(xs, ys, c, s, tx, ty);
            const std::int64_t score = quantised((e.yhi - e.ylo) / std::max(e.xhi - e.xlo, 1e-9) * RESOLUTION);
            if (!have_best || score < best_score || (score == best_score && better_key())) {
                // The turn's arrays are rewritten whole by the next turn: the kept
                // one can trade places with them.
                std::swap(bx, tx);
                std::swap(by, ty);
                best_score = score;
                have_best = true;
            }
        }
    for (std::size_t a = 0; a < n; ++a) pts[a] = {bx[a], by[a]};
    return pts;
}

}  // namespace

std::vector<std::vector<std::uint32_t>> components_of(const core::MolBuilder& mol) {
    const std::uint32_t n = atom_count_u32(mol);
    // Component numbers in order of each component's smallest atom; the lists then
    // fill in atom order, so each comes out ascending without a sort.
    // Borrowed: the stack would otherwise regrow by doubling on every call.
    const auto number_lease = core::Scratch<std::vector<std::uint32_t>>::borrow(n);
    const auto sizes_lease = core::Scratch<std::vector<std::uint32_t>>::borrow(n);
    const auto stack_lease = core::Scratch<std::vector<std::uint32_t>>::borrow(n);
    std::vector<std::uint32_t>& number = *number_lease;
    std::vector<std::uint32_t>& sizes = *sizes_lease;
    std::vector<std::uint32_t>& stack = *stack_lease;
    number.assign(n, core::NONE);
    sizes.clear();
    for (std::uint32_t s = 0; s < n; ++s) {
        if (number[s] != core::NONE) continue;
        const auto c = static_cast<std::uint32_t>(sizes.size());
        std::uint32_t size = 1;
        number[s] = c;
        stack.assign(1, s);
        while (!stack.empty()) {
            const std::uint32_t a = stack.back();
            stack.pop_back();
            for (core::Neighbor nb : mol.neighbors(a))
                if (number[nb.atom] == core::NONE) {
                    number[nb.atom] = c;
                    ++size;
                    stack.push_back(nb.atom);
                }
        }
        sizes.push_back(size);
    }
    std::vector<std::vector<std::uint32_t>> out(sizes.size());
    for (std::size_t c = 0; c < sizes.size(); ++c) out[c].reserve(sizes[c]);
    for (std::uint32_t a = 0; a < n; ++a) out[number[a]].push_back(a);
    return out;
}

std::vector<RingSystemRecord> ring_records(const core::MolBuilder& mol, const std::vector<chem::Ring>& rings,
                                           std::span<const std::uint32_t> ranks) {
    std::vector<RingSystemRecord> out;
    std::vector<std::vector<std::uint32_t>> systems = chem::ring_systems(mol);
    out.reserve(systems.size());
    // The system's atoms marked with its number: a ring is the system's when
    // every atom of it carries the mark.
    const auto mark_lease = core::Scratch<std::vector<std::uint32_t>>::borrow(mol.atoms.size());
    std::vector<std::uint32_t>& mark = *mark_lease;
    mark.assign(mol.atoms.size(), core::NONE);
    for (std::uint32_t s = 0; s < systems.size(); ++s) {
        std::vector<std::uint32_t>& atoms = systems[s];
        for (std::uint32_t a : atoms) at(mark, a) = s;
        RingSystemRecord r;
        for (const chem::Ring& ring : rings)
            if (std::all_of(ring.atoms.begin(), ring.atoms.end(),
                            [&](std::uint32_t a) { return a < mark.size() && mark[a] == s; }))
                r.rings.push_back(&ring);
        r.atoms = std::move(atoms);
        out.push_back(std::move(r));
    }
    if (out.size() < 2) return out;
    std::vector<std::pair<std::vector<std::uint32_t>, std::size_t>> keys;
    keys.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) keys.emplace_back(rank_sorted_atoms(ranks, out[i].atoms), i);
    std::sort(keys.begin(), keys.end());
    std::vector<RingSystemRecord> sorted;
    sorted.reserve(out.size());
    for (const auto& [key, i] : keys) sorted.push_back(std::move(out[i]));
    return sorted;
}

PreparedLayout prepare_layout(const core::MolBuilder& drawn, std::span<const std::uint32_t> ranks) {
    PreparedLayout out;
    out.dative_free = dative_free_copy(drawn);
    const core::MolBuilder& stereo = out.dative_free ? *out.dative_free : drawn;
    atom_count_u32(stereo);
    // The centres of the drawn molecule: a dative bond made single changes no degree.
    Hapto hapto = find_hapto(stereo, ranks, metal_centres(drawn));
    out.hapto = std::move(hapto.records);
    if (std::find(hapto.removed.begin(), hapto.removed.end(), 1) != hapto.removed.end()) {
        out.hapto_free = copy_bonds(stereo, [&](std::uint32_t b) { return !hapto.removed[b]; }, [](core::Bond&) {});
        if (!accept_as_built(*out.hapto_free)) out.hapto_free.reset();
    }
    return out;
}

std::vector<std::uint32_t> metal_centres(const core::MolBuilder& mol) {
    const std::uint32_t n = atom_count_u32(mol);
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = 0; a < n; ++a)
        if (chem::is_metal(mol.atoms[a].atomic_num) && a < mol.degree.size() && mol.degree[a] > 2) out.push_back(a);
    return out;
}

std::uint64_t style_fingerprint(const Style2d& style) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (double v : {style.font_size / style.bond_length, style.chain_angle}) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            h ^= (bits >> (8 * i)) & 0xFF;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

std::string degradation_text(const Degradation& degradation) {
    const auto list = [](std::string& out, std::span<const std::uint32_t> atoms) {
        out += '[';
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            if (i) out += ", ";
            out += std::to_string(atoms[i]);
        }
        out += ']';
    };
    std::string out;
    if (const auto* b = std::get_if<BridgedRingSystem>(&degradation)) {
        static constexpr const char* NAMES[] = {"Hit", "NotInTable", "NoFingerprint"};
        out = "BridgedRingSystem { atoms: ";
        list(out, b->atoms);
        out += ", template: ";
        out += NAMES[static_cast<std::size_t>(b->template_lookup)];
    } else {
        const auto& h = std::get<HaptoCoordination>(degradation);
        out = "HaptoCoordination { metal: " + std::to_string(h.metal) + ", ring: ";
        list(out, h.ring);
    }
    out += " }";
    return out;
}

DepictionResult depict_2d(const core::MolBuilder& mol, const Style2d& style, const RingTemplate* extra) {
    DepictionResult result;
    result.style_name = style.name;
    result.style_fingerprint = style_fingerprint(style);

    // 1. The drawn molecule: the given one plus the hydrogens that carry wedges.
    std::optional<core::MolBuilder> with_hydrogens;
    atom_count_u32(mol);
    // One refinement gives its classes now and, unless hydrogens are added, the ranks.
    std::optional<io::CanonicalRefinement> refinement(std::in_place, mol);
    // The given molecule's centres; the wedges read them again when they are drawn on it.
    const std::vector<std::uint8_t> confirmed = io::chiral_centres(mol, refinement->classes());
    if (auto plan = plan_wedge_hydrogens(mol, confirmed)) {
        if (!plan->hydrogens.empty()) with_hydrogens = add_wedge_hydrogens(*plan, mol);
        result.hydrogens = std::move(*plan);
    }
    const core::MolBuilder& drawn = with_hydrogens ? *with_hydrogens : mol;
    // Added hydrogens make another molecule, refined once for its ranks and for
    // the centres its wedges read.
    std::vector<std::uint8_t> drawn_confirmed;
    if (with_hydrogens) {
        refinement.emplace(drawn);
        drawn_confirmed = io::chiral_centres(drawn, refinement->classes());
    }
    std::vector<std::uint32_t> ranks = refinement->ranks(with_hydrogens ? drawn_confirmed : confirmed);
    // Back to the pool before the layout: held through it, its buffers slow the
    // large layouts down.
    refinement.reset();

    // 2. Stereo and layout molecules: dative bonds as plain ones, hapto rings on one bond.
    PreparedLayout prepared = prepare_layout(drawn, ranks);
    const core::MolBuilder& stereo = prepared.dative_free ? *prepared.dative_free : drawn;
    const core::MolBuilder& layout_mol = prepared.hapto_free ? *prepared.hapto_free : stereo;

    // 4. Each component laid out; layouts in order of their lowest rank.
    const std::vector<chem::Ring> rings = chem::sssr(layout_mol);
    const std::vector<RingSystemRecord> records = ring_records(layout_mol, rings, ranks);
    // The layout and refinement measure the layout molecule; packing measures the
    // stereo molecule, which differs only when hapto bonds were set aside.
    const std::vector<double> layout_radii = label_radii(layout_mol, style.bond_length, style.font_size);
    const std::vector<std::vector<std::uint32_t>> components = components_of(layout_mol);
    std::vector<ComponentLayout> layouts;
    layouts.reserve(components.size());
    for (const std::vector<std::uint32_t>& component : components)
        layouts.push_back(layout_components(layout_mol, component, records, ranks, style, extra, layout_radii));
    std::vector<ComponentLayout> sorted;
    // A single layout is already in order.
    if (layouts.size() < 2) {
        sorted = std::move(layouts);
    } else {
        std::vector<std::uint32_t> lowest(layouts.size());
        for (std::size_t i = 0; i < layouts.size(); ++i) {
            lowest[i] = core::NONE;
            for (const auto& [a, p] : layouts[i].coords) lowest[i] = std::min(lowest[i], at(ranks, a));
        }
        std::vector<std::size_t> by_rank(layouts.size());
        std::iota(by_rank.begin(), by_rank.end(), std::size_t{0});
        std::stable_sort(by_rank.begin(), by_rank.end(),
                         [&](std::size_t x, std::size_t y) { return lowest[x] < lowest[y]; });
        sorted.reserve(layouts.size());
        for (std::size_t i : by_rank) sorted.push_back(std::move(layouts[i]));
    }
    for (ComponentLayout& layout : sorted)
        for (Degradation& d : layout.degraded) result.degraded.push_back(std::move(d));
    for (Degradation& d : prepared.hapto) result.degraded.push_back(std::move(d));

    // 5. Packing, cis/trans repair, refinement.
    std::vector<double> stereo_radii;
    if (&stereo != &layout_mol) stereo_radii = label_radii(stereo, style.bond_length, style.font_size);
    PositionMap positions = pack(sorted, &stereo == &layout_mol ? layout_radii : stereo_radii);
    std::vector<Point> coords(drawn.num_atoms());
    for (const auto& [a, p] : positions) at(coords, a) = p;
    repair_double_bonds(stereo, coords, ranks);
    for (auto& [a, p] : positions) p = coords[a];
    RefineResult refined = refine_layout(layout_mol, positions, ranks, layout_radii);
    result.unresolved = std::move(refined.unresolved);
    result.crossings = prepared.hapto_free ? find_crossings(stereo, positions) : std::move(refined.crossings);

    // 6. Orientation, wedges, the double bonds still drawn against their value.
    std::fill(coords.begin(), coords.end(), Point{});
    for (const auto& [a, p] : positions) coords[a] = p;
    result.coords = oriented(std::move(coords), ranks);
    // The stereo molecule may be the dative-free copy: the drawn molecule's bonds,
    // which are the ones written, say which bonds may carry a wedge.
    WedgeAssignment wedges =
        &stereo == &mol     ? choose_wedges(stereo, result.coords, ranks, confirmed, drawn.bonds)
        : &stereo == &drawn ? choose_wedges(stereo, result.coords, ranks, drawn_confirmed, drawn.bonds)
                            : choose_wedges(stereo, result.coords, ranks, io::chiral_centres(stereo), drawn.bonds);
    result.wedges = std::move(wedges.wedges);
    result.unwedged = std::move(wedges.unwedged);
    result.misdrawn_stereo = find_misdrawn_double_bonds(stereo, result.coords);
    result.ranks = std::move(ranks);
    return result;
}

}  // namespace quorix::depict
