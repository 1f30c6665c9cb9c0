#include "match/props.hpp"

#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::match {

using core::MolBuilder;

namespace {

// Fills the ring fields of `props` from the molecule's rings.
void add_ring_facts(const MolBuilder& mol, QueryProps& props) {
    const std::uint32_t n = mol.num_atoms();
    const std::uint32_t nb = mol.num_bonds();
    // Ring perception writes ring flags; keep the caller's molecule untouched.
    MolBuilder work = mol;
    const chem::RingMembership membership = chem::ring_membership(work);
    const std::vector<chem::Ring> rings = chem::sssr(work);
    if (membership.smallest_ring.size() != n || membership.bond_in_ring.size() != nb)
        internal_error("环成员信息与分子大小不符");

    std::vector<std::uint8_t> sssr_bond(nb, 0);
    for (const chem::Ring& ring : rings) {
        for (std::uint32_t a : ring.atoms) ++at(props.atoms, a).ring_count;
        for (std::uint32_t b : ring.bonds) at(sssr_bond, b) = 1;
    }
    for (std::uint32_t b = 0; b < nb; ++b) {
        if (sssr_bond[b]) {
            const core::Bond& bond = mol.bonds[b];
            ++at(props.atoms, bond.begin).ring_bonds;
            ++at(props.atoms, bond.end).ring_bonds;
        }
        props.bonds[b].in_ring = membership.bond_in_ring[b] ? 1 : 0;
    }
    for (std::uint32_t i = 0; i < n; ++i) props.atoms[i].smallest_ring = membership.smallest_ring[i];
}

// Ring membership from the ring blocks alone: what value-less ring tests read.
void add_ring_membership(const MolBuilder& mol, QueryProps& props) {
    chem::RingBlocks blocks;
    chem::find_ring_blocks(mol, blocks);
    for (std::uint32_t b : blocks.blocks.items) {
        const core::Bond& bond = at(mol.bonds, b);
        props.bonds[b].in_ring = 1;
        for (std::uint32_t a : {bond.begin, bond.end}) props.atoms[a].ring_count = props.atoms[a].ring_bonds = 1;
    }
}

RingFacts ring_facts_read(const io::Query& query) {
    RingFacts needed = RingFacts::Skip;
    std::vector<const io::Query*> pending{&query};
    while (!pending.empty()) {
        const io::Query* q = pending.back();
        pending.pop_back();
        for (const io::AtomExpr& e : q->atom_exprs) {
            for (const auto& node : e.nodes()) {
                if (node.kind != io::ExprKind::Primitive) continue;
                const auto k = node.prim.kind;
                if (k != io::AtomPrimitive::RingCount && k != io::AtomPrimitive::RingSize &&
                    k != io::AtomPrimitive::RingConnectivity)
                    continue;
                if (node.prim.has_value) return RingFacts::Compute;
                needed = RingFacts::Membership;
            }
            for (const io::Query& sub : e.subqueries()) pending.push_back(&sub);
        }
        for (const io::BondExpr& e : q->bond_exprs)
            for (const auto& node : e.nodes())
                if (node.kind == io::ExprKind::Primitive && node.prim == io::BondPrimitive::Ring)
                    needed = RingFacts::Membership;
    }
    return needed;
}

}  // namespace

RingFacts ring_facts_read_by(std::span<const io::Query> queries) {
    RingFacts needed = RingFacts::Skip;
    for (const io::Query& q : queries) {
        const RingFacts f = ring_facts_read(q);
        if (f == RingFacts::Compute) return f;
        if (f == RingFacts::Membership) needed = f;
    }
    return needed;
}

QueryProps compute_query_props(const MolBuilder& mol, RingFacts rings) {
    const std::uint32_t n = mol.num_atoms();
    const std::uint32_t nb = mol.num_bonds();

    QueryProps props;
    props.atoms.resize(n);
    props.bonds.resize(nb);
    if (rings == RingFacts::Compute) add_ring_facts(mol, props);
    else if (rings == RingFacts::Membership) add_ring_membership(mol, props);

    for (std::uint32_t i = 0; i < n; ++i) {
        const core::Atom& atom = mol.atoms[i];
        AtomProps& p = props.atoms[i];
        p.degree = i < mol.degree.size() ? static_cast<std::int32_t>(mol.degree[i]) : 0;
        std::int32_t h_neighbors = 0;
        if (p.degree > 0) {
            for (core::Neighbor nb_ : mol.neighbors(i))
                if (at(mol.atoms, nb_.atom).atomic_num == 1) ++h_neighbors;
        }
        // Lenient valence: an atom that breaks the rules still gets a record.
        std::int32_t valence = 0;
        if (auto ev = core::explicit_valence(mol, i, false, static_cast<float>(atom.num_explicit_hs))) {
            valence = *ev;
            if ((atom.flags & core::FIXED_HS) == 0) {
                if (auto ih = core::implicit_hs(mol, i, *ev, false)) valence += *ih;
            }
        }
        p.valence = valence < 0 ? 0 : valence;
        p.formal_charge = atom.formal_charge;
        p.implicit_h = atom.num_implicit_hs;
        p.total_h = static_cast<std::int32_t>(atom.num_explicit_hs) + atom.num_implicit_hs + h_neighbors;
        p.h_neighbors = h_neighbors;
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
