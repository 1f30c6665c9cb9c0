#include "match/props.hpp"

#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::match {

using core::MolBuilder;

namespace {

void add_needs(const io::Query& query, PropNeeds& needs) {
    using io::AtomPrimitive;
    for (const io::AtomExpr& expr : query.atom_exprs) {
        for (const auto& node : expr.nodes()) {
            if (node.kind != io::ExprKind::Primitive) continue;
            switch (node.prim.kind) {
                case AtomPrimitive::RingSize:
                    // A size is read from the smallest ring; "in some ring" from the list.
                    if (node.prim.has_value && node.prim.value != 0) needs.ring_membership = true;
                    else needs.ring_list = true;
                    break;
                case AtomPrimitive::RingCount:
                case AtomPrimitive::RingConnectivity: needs.ring_list = true; break;
                case AtomPrimitive::Valence: needs.valence = true; break;
                default: break;
            }
        }
        for (const io::Query& sub : expr.subqueries()) add_needs(sub, needs);
    }
    for (const io::BondExpr& expr : query.bond_exprs)
        for (const auto& node : expr.nodes())
            if (node.kind == io::ExprKind::Primitive && node.prim == io::BondPrimitive::Ring)
                needs.ring_membership = true;
}

}  // namespace

PropNeeds query_needs(const io::Query& query) { return query_needs(std::span<const io::Query>(&query, 1)); }

PropNeeds query_needs(std::span<const io::Query> queries) {
    PropNeeds needs{false, false, false};
    for (const io::Query& q : queries) add_needs(q, needs);
    return needs;
}

QueryProps compute_query_props(const MolBuilder& mol, PropNeeds needs) {
    const std::uint32_t n = mol.num_atoms();
    const std::uint32_t nb = mol.num_bonds();

    QueryProps props;
    props.atoms.resize(n);
    props.bonds.resize(nb);

    if (needs.ring_list) {
        const std::vector<chem::Ring> rings = chem::sssr(mol);
        std::vector<std::uint8_t> sssr_bond(nb, 0);
        for (const chem::Ring& ring : rings) {
            for (std::uint32_t a : ring.atoms) ++at(props.atoms, a).ring_count;
            for (std::uint32_t b : ring.bonds) at(sssr_bond, b) = 1;
        }
        for (std::uint32_t b = 0; b < nb; ++b) {
            if (!sssr_bond[b]) continue;
            const core::Bond& bond = mol.bonds[b];
            ++at(props.atoms, bond.begin).ring_bonds;
            ++at(props.atoms, bond.end).ring_bonds;
        }
    }
    if (needs.ring_membership) {
        const chem::RingMembership membership = chem::ring_membership_of(mol);
        if (membership.smallest_ring.size() != n || membership.bond_in_ring.size() != nb)
            internal_error("环成员信息与分子大小不符");
        for (std::uint32_t i = 0; i < n; ++i) props.atoms[i].smallest_ring = membership.smallest_ring[i];
        for (std::uint32_t b = 0; b < nb; ++b) props.bonds[b].in_ring = membership.bond_in_ring[b] ? 1 : 0;
    }

    // Hydrogen neighbours from one pass over the bonds.
    for (const core::Bond& bond : mol.bonds) {
        if (at(mol.atoms, bond.end).atomic_num == core::Element::H) ++at(props.atoms, bond.begin).h_neighbors;
        if (at(mol.atoms, bond.begin).atomic_num == core::Element::H) ++at(props.atoms, bond.end).h_neighbors;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        const core::Atom& atom = mol.atoms[i];
        AtomProps& p = props.atoms[i];
        p.degree = i < mol.degree.size() ? static_cast<std::int32_t>(mol.degree[i]) : 0;
        if (needs.valence) {
            // Lenient valence: an atom that breaks the rules still gets a record.
            const std::int32_t valence = core::lenient_valence_hs(mol, i).total();
            p.valence = valence < 0 ? 0 : valence;
        }
        p.formal_charge = atom.formal_charge;
        p.implicit_h = atom.num_implicit_hs;
        p.total_h = static_cast<std::int32_t>(atom.num_explicit_hs) + atom.num_implicit_hs + p.h_neighbors;
        p.isotope = atom.isotope;
        p.atomic_num = atom.atomic_num;
        p.aromatic = (atom.flags & core::AROMATIC) ? 1 : 0;
        p.map_number = atom.map_num;
        p.chirality = static_cast<std::uint8_t>(atom.chiral_tag);
    }

    for (std::uint32_t b = 0; b < nb; ++b) {
        BondProps& p = props.bonds[b];
        p.dative_forward = 1;
        p.order = mol.bonds[b].order;
    }
    return props;
}

}  // namespace quorix::match
