#include "depict/templates.hpp"

#include <algorithm>
#include <map>

#include "chem/sanitize.hpp"
#include "depict/arcs.hpp"
#include "depict/spring.hpp"
#include "io/canon.hpp"
#include "io/smiles/canonical.hpp"

namespace quorix::depict {
namespace {

#include "depict/ring_templates.inc"

// The sanitised skeleton, or nothing when it cannot be built or sanitised; the
// key and the template placement both read the same one.
std::optional<core::MolBuilder> sanitised_skeleton(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                                   std::span<const std::uint32_t> ranks) {
    auto skeleton = ring_skeleton(mol, atoms, ranks);
    if (!skeleton || !chem::sanitize(*skeleton)) return std::nullopt;
    return skeleton;
}

// The skeleton's key, or nothing when there is none.
std::optional<std::string> skeleton_key(const core::MolBuilder& skeleton, std::span<const std::uint32_t> atoms) {
    std::string text = io::canonical_smiles(skeleton).text;
    if (text.empty() && !atoms.empty()) return std::nullopt;
    return text;
}

std::optional<BuiltinTemplate> find_template(std::string_view key, const RingTemplate* extra) {
    const auto same = [&](std::string_view candidate) {
        return candidate.size() == key.size() && std::equal(candidate.begin(), candidate.end(), key.begin());
    };
    if (extra != nullptr && extra->smiles) {
        if (!same(*extra->smiles)) return std::nullopt;
        return BuiltinTemplate{*extra->smiles, extra->coords, extra->atom_count};
    }
    for (const BuiltinTemplate& t : ring_templates())
        if (same(t.smiles)) return t;
    return std::nullopt;
}

// Template coordinates by canonical number; nothing when the template does not fit.
std::optional<PositionMap> template_positions(const core::MolBuilder& skeleton, std::span<const std::uint32_t> atoms,
                                              std::span<const std::uint32_t> ranks, const BuiltinTemplate& t) {
    const std::vector<std::uint32_t> numbers = io::canonical_numbering(skeleton);
    if (numbers.size() != t.atom_count || t.coords.size() < t.atom_count) return std::nullopt;
    for (std::uint32_t k : numbers)
        if (k >= t.atom_count) return std::nullopt;
    std::vector<std::uint32_t> order(atoms.begin(), atoms.end());
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::pair{at(ranks, a), a} < std::pair{at(ranks, b), b};
    });
    PositionMap out;
    for (std::size_t i = 0; i < order.size(); ++i) out[order[i]] = t.coords[numbers[i]];
    return out;
}

}  // namespace

std::span<const BuiltinTemplate> ring_templates() { return RING_TEMPLATES; }

std::optional<core::MolBuilder> ring_skeleton(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                              std::span<const std::uint32_t> ranks) {
    std::vector<std::uint32_t> order(atoms.begin(), atoms.end());
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::pair{at(ranks, a), a} < std::pair{at(ranks, b), b};
    });
    std::map<std::uint32_t, std::uint32_t> local;
    for (std::uint32_t i = 0; i < order.size(); ++i) local[order[i]] = i;
    std::size_t bond_count = 0;
    for (const core::Bond& b : mol.bonds) bond_count += local.contains(b.begin) && local.contains(b.end);
    core::MolBuilder skeleton = core::MolBuilder::with_capacity(order.size(), bond_count);
    core::Atom carbon;
    carbon.atomic_num = 6;
    for (std::size_t i = 0; i < order.size(); ++i) skeleton.add_atom(carbon);
    for (const core::Bond& b : mol.bonds) {
        const auto p = local.find(b.begin), q = local.find(b.end);
        if (p == local.end() || q == local.end()) continue;
        if (p->second == q->second) return std::nullopt;
        core::Bond single;
        single.begin = p->second;
        single.end = q->second;
        single.order = core::BondOrder::Single;
        skeleton.push_bond(single);
    }
    return skeleton;
}

TemplateResult place_ring_template(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                   std::span<const std::uint32_t> ranks, std::span<const chem::Ring* const> rings,
                                   const RingTemplate* extra) {
    TemplateResult result;
    const std::optional<core::MolBuilder> skeleton = sanitised_skeleton(mol, atoms, ranks);
    if (const auto key = skeleton ? skeleton_key(*skeleton, atoms) : std::nullopt) {
        result.lookup = TemplateLookup::NotInTable;
        if (const auto t = find_template(*key, extra)) {
            if (auto positions = template_positions(*skeleton, atoms, ranks, *t)) {
                result.positions = std::move(*positions);
                result.lookup = TemplateLookup::Hit;
                return result;
            }
        }
    }
    if (!rings.empty()) {
        if (auto arcs = arc_placement(ranks, rings)) {
            result.positions = std::move(*arcs);
            return result;
        }
    }
    result.positions = seeded_spring_layout(mol, atoms, ranks, rings);
    return result;
}

}  // namespace quorix::depict
