#pragma once
// Shared by the SMARTS fuzz targets: walks every part of a query that was read,
// evaluates it on a few atoms and bonds, and stops hard when an invariant fails.
#include <cstdlib>
#include <string>

#include "io/smarts/mol.hpp"

namespace quorix::fuzz {

inline void require(bool ok) {
    if (!ok) std::abort();
}

inline io::AtomProps fuzz_atom(int variant) {
    io::AtomProps a;
    a.atomic_num = static_cast<std::uint8_t>(variant * 37 % 120);
    a.aromatic = static_cast<std::uint8_t>(variant & 1);
    a.degree = variant % 5;
    a.h_neighbors = variant % 3 == 0 ? a.degree / 2 : 0;
    a.total_h = a.h_neighbors + variant % 4;
    a.implicit_h = variant % 4;
    a.valence = variant % 6;
    a.ring_count = variant % 3;
    a.smallest_ring = a.ring_count ? 3 + variant % 5 : 0;
    a.ring_bonds = a.ring_count ? 2 + variant % 2 : 0;
    a.formal_charge = variant % 5 - 2;
    a.isotope = static_cast<std::uint16_t>(variant % 4 == 0 ? 13 : 0);
    return a;
}

// Evaluates the sub-query's first atom on the same atom, as the matcher's
// callback would for a one-atom match, recursing through nested groups.
struct Nested {
    const io::AtomProps* atom;
    int depth = 0;
    bool operator()(const io::Query& sub) {
        require(++depth <= 10000000);
        return !sub.atom_exprs.empty() && sub.atom_exprs[0].matches(*atom, *this);
    }
};

inline void exercise(const io::Query& q) {
    require(q.atom_exprs.size() == q.graph.num_atoms());
    require(q.bond_exprs.size() == q.graph.num_bonds());
    const std::string shape = q.to_string();
    const io::Query copy = q;
    require(copy.to_string() == shape);
    for (const io::AtomExpr& e : q.atom_exprs) {
        const io::ElementSet elements = e.possible_elements();
        (void)e.find_h_count();
        (void)e.find_map_number();
        (void)e.contains_map_number();
        const std::uint8_t chirality = e.find_chirality();
        require(chirality == 255 || chirality == 1 || chirality == 2);
        io::AtomExpr mirrored = e;
        mirrored.mirror_chirality();
        mirrored.mirror_chirality();
        require(mirrored.to_string() == e.to_string());
        for (int v = 0; v < 12; ++v) {
            const io::AtomProps a = fuzz_atom(v);
            Nested nested{&a};
            const bool holds = e.matches(a, nested);
            // An atom whose element is ruled out can never match.
            if (holds) require(elements.contains(a.atomic_num));
        }
    }
    for (const io::BondExpr& b : q.bond_exprs) {
        require(b.eq(b));
        (void)b.requires_multiple();
        for (int order = 0; order <= 6; ++order)
            for (int flags = 0; flags < 4; ++flags) {
                io::BondProps p;
                p.order = static_cast<core::BondOrder>(order);
                p.in_ring = static_cast<std::uint8_t>(flags & 1);
                p.dative_forward = static_cast<std::uint8_t>(flags >> 1);
                (void)b.matches(p);
            }
    }
}

}  // namespace quorix::fuzz
