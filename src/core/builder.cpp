#include "core/builder.hpp"

#include "core/error.hpp"

#include <string>
#include <type_traits>

namespace quorix::core {

double as_double(BondOrder order) {
    switch (order) {
        case BondOrder::Unspecified: return 0.0;
        case BondOrder::Single: return 1.0;
        case BondOrder::Double: return 2.0;
        case BondOrder::Triple: return 3.0;
        case BondOrder::Quadruple: return 4.0;
        case BondOrder::Aromatic: return 1.5;
        case BondOrder::Dative: return 1.0;
    }
    return 0.0;
}

MolBuilder MolBuilder::with_capacity(std::size_t num_atoms, std::size_t num_bonds) {
    MolBuilder m;
    m.atoms.reserve(num_atoms);
    m.first_half_edge.reserve(num_atoms);
    m.last_half_edge.reserve(num_atoms);
    m.degree.reserve(num_atoms);
    m.bonds.reserve(num_bonds);
    m.next_half_edge.reserve(2 * num_bonds);
    return m;
}

std::expected<std::uint32_t, BuilderError> MolBuilder::add_bond(const Bond& bond) {
    const std::uint32_t n = num_atoms();
    if (bond.begin >= n || bond.end >= n)
        return std::unexpected(AtomIndexOutOfRange{std::max(bond.begin, bond.end), n});
    if (bond.begin == bond.end) return std::unexpected(SelfLoop{bond.begin});
    return push_bond(bond);
}

std::expected<void, BuilderError> MolBuilder::reverse_bond(std::uint32_t bond) {
    if (bond >= bonds.size()) return std::unexpected(BondIndexOutOfRange{bond, num_bonds()});
    std::swap(bonds[bond].begin, bonds[bond].end);
    std::fill(first_half_edge.begin(), first_half_edge.end(), NONE);
    std::fill(last_half_edge.begin(), last_half_edge.end(), NONE);
    std::fill(degree.begin(), degree.end(), 0u);
    next_half_edge.clear();
    for (std::uint32_t b = 0; b < bonds.size(); ++b) {
        link_half_edge(bonds[b].begin, 2 * b);
        link_half_edge(bonds[b].end, 2 * b + 1);
    }
    return {};
}

NeighborRange MolBuilder::neighbors(std::uint32_t atom) const {
    return NeighborRange(this, at(first_half_edge, atom));
}

std::uint32_t MolBuilder::bond_between(std::uint32_t a, std::uint32_t b) const {
    const std::uint32_t n = num_atoms();
    const std::uint32_t da = a < n ? degree[a] : 0;
    const std::uint32_t db = b < n ? degree[b] : 0;
    std::uint32_t walked = a, other = b;
    if (db < da) std::swap(walked, other);
    if (walked >= n) return NONE;
    for (Neighbor nb : neighbors(walked))
        if (nb.atom == other) return nb.bond;
    return NONE;
}

std::string to_struct_text(const BuilderError& error) {
    const auto field = [](std::string& out, std::string_view name, auto value, bool last) {
        out += name;
        out += ": ";
        if constexpr (std::is_same_v<decltype(value), std::string_view>) out += value;
        else out += std::to_string(value);
        out += last ? " }" : ", ";
    };
    std::string out;
    if (const auto* e = std::get_if<AtomIndexOutOfRange>(&error)) {
        out = "AtomIndexOutOfRange { ";
        field(out, "index", e->index, false), field(out, "num_atoms", e->num_atoms, true);
    } else if (const auto* e = std::get_if<SelfLoop>(&error)) {
        out = "SelfLoop { ";
        field(out, "atom", e->atom, true);
    } else if (const auto* e = std::get_if<MolIndexOutOfRange>(&error)) {
        out = "MolIndexOutOfRange { ";
        field(out, "index", e->index, false), field(out, "num_mols", e->num_mols, true);
    } else if (const auto* e = std::get_if<BondIndexOutOfRange>(&error)) {
        out = "BondIndexOutOfRange { ";
        field(out, "index", e->index, false), field(out, "num_bonds", e->num_bonds, true);
    } else if (const auto* e = std::get_if<BatchTooLarge>(&error)) {
        out = "BatchTooLarge { ";
        field(out, "what", e->what, false), field(out, "count", e->count, true);
    }
    return out;
}

}  // namespace quorix::core
