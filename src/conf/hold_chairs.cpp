// Chairs: which rings are held so, and in which of their two forms.
#include "conf/holds.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <span>

#include "conf/typical.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"
#include "conf/hold_kinds.hpp"

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

// The chair rings of a ring list (see `chair_rings`).
std::vector<std::uint32_t> chair_rings_of(const RingContext& rings) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t r = 0; r < rings.ring_count(); ++r) {
        if (rings.ring_size(r) != 6 || !rings.all_sp3[r]) continue;
        bool free = true;
        for (std::uint32_t k = 0; k < rings.ring_count() && free; ++k) {
            if (k == r) continue;
            std::size_t shared = 0;
            for (std::uint32_t i = rings.ring_offsets[r]; i < rings.ring_offsets[r + 1]; ++i)
                shared += rings.contains(k, rings.ring_atoms[i]);
            free = shared < 2 || (shared <= 3 && rings.ring_size(k) >= 5);
        }
        if (free) out.push_back(r);
    }
    return out;
}

// The ring path of a six-membered ring round the bond between its atoms
// k + 1 and k + 2.
std::array<std::uint32_t, 4> ring_path(const std::array<std::uint32_t, 6>& ring, std::size_t k) {
    return {ring[k], ring[(k + 1) % 6], ring[(k + 2) % 6], ring[(k + 3) % 6]};
}

// Two chairs fused at a bond: their paths round it and how far the second's
// torsion there lies from the first's (some 0 or 120 degrees, as the fusion's
// configuration sets it; a refinement keeps it).
struct Fusion {
    std::size_t first, first_path, second, second_path;
    double offset;
};

}  // namespace

// The chairs' ring paths, each chair in one of its two forms (torsions of
// alternating sign round the ring). A lone chair takes the form whose signs
// agree more with `start`; fused chairs take the forms that agree most
// together among those their fusions allow (a trans fusion allows one pair,
// a cis fusion two); chairs whose fusions allow none are not held.
std::vector<HeldTorsion> chair_terms(std::span<const HeldChair> chairs, std::span<const double> start) {
    constexpr double MIDDLE = (CHAIR_TORSION_LOW + CHAIR_TORSION_HIGH) / 2;
    constexpr double FUSION_SLACK = 40.0 * DEG_TO_RAD;
    constexpr double TWO_PI = 6.283185307179586;
    constexpr std::size_t MAX_JOINT = 10;  // rings decided together, at most 2^10 forms
    const std::size_t n = chairs.size();
    std::vector<std::array<double, 6>> phi(n);
    std::vector<double> agreement(n, 0.0);  // with the form whose first torsion is positive
    const auto bridged = [&](std::size_t r) { return std::ranges::any_of(chairs[r].bridged, std::identity{}); };
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t k = 0; k < 6; ++k) {
            phi[r][k] = torsion_angle(ring_path(chairs[r].atoms, k), start);
            const bool counts = chairs[r].bridged[k] || !bridged(r);
            if (counts && !std::isnan(phi[r][k])) agreement[r] += k % 2 == 0 ? phi[r][k] : -phi[r][k];
        }
    const auto target = [&](std::size_t k, bool positive) { return (k % 2 == 0) == positive ? MIDDLE : -MIDDLE; };
    // Per ring, how many heavy substituents each form puts equatorial. A
    // substituent keeps its place about its ring atom's bond to the next
    // (some 120 degrees from the ring atom before, as the configuration
    // sets), so its torsion in a form is the ring path's target plus that
    // offset, and near 180 degrees it is equatorial. A bridged ring has
    // only the form its bridge allows, wherever that puts them.
    std::vector<std::array<int, 2>> equatorial(n, {0, 0});
    for (std::size_t r = 0; r < n; ++r)
        for (const ChairSubstituent& sub : bridged(r) ? std::span<const ChairSubstituent>{} : chairs[r].substituents) {
            const auto& ring = chairs[r].atoms;
            const std::size_t i = sub.position, path = (i + 5) % 6;  // the path round ring[i]-ring[i+1]
            const double own = torsion_angle({sub.atom, ring[i], ring[(i + 1) % 6], ring[(i + 2) % 6]}, start);
            const double offset = std::remainder(own - phi[r][path], TWO_PI);
            if (std::isnan(offset)) continue;
            if (sub.place == ChairPlace::Either) continue;
            for (int form = 0; form < 2; ++form) {
                const bool eq = std::abs(std::remainder(target(path, form == 0) + offset, TWO_PI)) > TWO_PI / 3;
                if (sub.place == ChairPlace::Equatorial) equatorial[r][form] += eq;
                else equatorial[r][form] += eq ? 0 : 2;
            }
        }
    std::vector<Fusion> fusions;
    std::vector<std::size_t> group(n);
    for (std::size_t r = 0; r < n; ++r) group[r] = r;
    const auto root = [&](std::size_t r) {
        while (group[r] != r) r = group[r];
        return r;
    };
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t q = r + 1; q < n; ++q)
            for (std::size_t k = 0; k < 6; ++k)
                for (std::size_t j = 0; j < 6; ++j) {
                    const auto p = ring_path(chairs[r].atoms, k), o = ring_path(chairs[q].atoms, j);
                    if (!((p[1] == o[1] && p[2] == o[2]) || (p[1] == o[2] && p[2] == o[1]))) continue;
                    fusions.push_back({r, k, q, j, std::remainder(phi[q][j] - phi[r][k], TWO_PI)});
                    group[root(q)] = root(r);
                }
    // Heavy substituents best placed first, then agreement with the start.
    const auto score = [&](std::size_t r, bool positive) {
        return 1000.0 * equatorial[r][positive ? 0 : 1] + (positive ? agreement[r] : -agreement[r]);
    };
    std::vector<std::int8_t> form(n, 0);  // +1, -1, or 0 when not held
    for (std::size_t r = 0; r < n; ++r) {
        if (root(r) != r) continue;
        std::vector<std::size_t> members;
        for (std::size_t q = 0; q < n; ++q)
            if (root(q) == r) members.push_back(q);
        if (members.size() > MAX_JOINT) {
            for (std::size_t q : members) form[q] = score(q, false) > score(q, true) ? -1 : 1;
            continue;
        }
        double best = 0.0;
        bool found = false;
        std::size_t best_mask = 0;
        for (std::size_t mask = 0; mask < (std::size_t(1) << members.size()); ++mask) {
            const auto positive = [&](std::size_t ring) {
                const std::size_t at = std::find(members.begin(), members.end(), ring) - members.begin();
                return ((mask >> at) & 1) == 0;
            };
            bool allowed = true;
            for (const Fusion& f : fusions) {
                if (root(f.first) != r || std::isnan(f.offset)) continue;
                const double gap = std::remainder(target(f.second_path, positive(f.second)) -
                                                      target(f.first_path, positive(f.first)) - f.offset,
                                                  TWO_PI);
                allowed = allowed && std::abs(gap) < FUSION_SLACK;
            }
            if (!allowed) continue;
            double total = 0.0;
            for (std::size_t q : members) total += score(q, positive(q));
            if (!found || total > best) {
                found = true;
                best = total;
                best_mask = mask;
            }
        }
        if (!found) continue;
        for (std::size_t at = 0; at < members.size(); ++at) form[members[at]] = ((best_mask >> at) & 1) == 0 ? 1 : -1;
    }
    std::vector<HeldTorsion> out;
    for (std::size_t r = 0; r < n; ++r) {
        if (form[r] == 0) continue;
        for (std::size_t k = 0; k < 6; ++k)
            out.push_back({ring_path(chairs[r].atoms, k), TorsionWells::Chair, target(k, form[r] > 0) < 0});
    }
    return out;
}

std::vector<std::uint32_t> chair_rings(const MoleculeContext& context) {
    // A cyclotrisiloxane lies flat, its Si-O-Si opened to 131 degrees.
    std::vector<std::uint32_t> out = chair_rings_of(context.rings);
    std::erase_if(out, [&](std::uint32_t r) { return siloxane_ring(context.mol, context.rings, r); });
    return out;
}

namespace {

// A sulfonamide's ring nitrogen lies near flat, its sulfonyl group close to
// the ring's mean plane, where an equatorial substituent on the carbon
// beside it would eclipse an S=O: crystal structures of 2-substituted
// N-sulfonyl piperidines put that substituent axial (and the nitrogen's
// angles near 350): that strain outweighs an equatorial substituent's
// preference elsewhere on the ring, so an axial one there counts twice.
// The nitrogen's own substituent goes where the ring puts it.
ChairPlace chair_place(const core::MolBuilder& mol, const HeldChair& chair, std::size_t position) {
    const auto flat_sulfonyl = [&](std::uint32_t a) {
        return mol.atoms[a].atomic_num == core::Element::N && mol.degree[a] == 3 && sulfonamide_nitrogen(mol, a);
    };
    if (flat_sulfonyl(chair.atoms[position])) return ChairPlace::Either;
    const bool beside = flat_sulfonyl(chair.atoms[(position + 1) % 6]) || flat_sulfonyl(chair.atoms[(position + 5) % 6]);
    return beside && mol.atoms[chair.atoms[position]].atomic_num == core::Element::C ? ChairPlace::Axial
                                                                                      : ChairPlace::Equatorial;
}

}  // namespace

std::vector<HeldChair> held_chairs(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<HeldChair> out;
    const RingContext& rings = context.rings;
    for (std::uint32_t r : chair_rings(context)) {
        HeldChair& chair = out.emplace_back();
        chair.ring = r;
        std::copy(context.ring_list[r].atoms.begin(), context.ring_list[r].atoms.end(), chair.atoms.begin());
        for (std::uint32_t k = 0; k < rings.ring_count(); ++k) {
            std::size_t shared = 0;
            for (std::uint32_t a : chair.atoms) shared += rings.contains(k, a);
            if (k == r || shared != 3) continue;
            for (std::size_t p = 0; p < 6; ++p) {
                const bool shared_bond =
                    rings.contains(k, chair.atoms[(p + 1) % 6]) && rings.contains(k, chair.atoms[(p + 2) % 6]);
                chair.bridged[p] = chair.bridged[p] || shared_bond;
            }
        }
        for (std::size_t i = 0; i < 6; ++i)
            for (core::Neighbor nb : mol.neighbors(chair.atoms[i]))
                if (mol.atoms[nb.atom].atomic_num != core::Element::H && !rings.contains(r, nb.atom))
                    chair.substituents.push_back({i, nb.atom, chair_place(mol, chair, i)});
    }
    return out;
}

}  // namespace quorix::conf
