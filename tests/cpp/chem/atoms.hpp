#pragma once
// Small molecules spelled atom by atom, for rules that read single atoms.
#include <cstdint>
#include <tuple>
#include <vector>

#include "core/builder.hpp"

namespace quorix::test {

struct AtomSpec {
    std::uint8_t z;
    std::int8_t charge = 0;
    std::uint8_t hs = 0;     // declared hydrogens
    bool fixed = false;      // FIXED_HS
    bool aromatic = false;
    std::uint8_t radicals = 0;
};

struct BondSpec {
    std::uint32_t a, b;
    core::BondOrder order = core::BondOrder::Single;
};

inline core::MolBuilder build(const std::vector<AtomSpec>& atoms, const std::vector<BondSpec>& bonds) {
    core::MolBuilder m;
    for (const AtomSpec& s : atoms) {
        core::Atom a;
        a.atomic_num = s.z;
        a.formal_charge = s.charge;
        a.num_explicit_hs = s.hs;
        a.num_radical_electrons = s.radicals;
        a.flags = (s.fixed ? core::FIXED_HS : 0u) | (s.aromatic ? core::AROMATIC : 0u);
        m.add_atom(a);
    }
    for (const BondSpec& s : bonds) {
        core::Bond b;
        b.begin = s.a;
        b.end = s.b;
        b.order = s.order;
        if (s.order == core::BondOrder::Aromatic) b.flags = core::AROMATIC;
        m.push_bond(b);
    }
    return m;
}

// A centre atom (index 0) bonded by single bonds to `n` atoms of element `z`.
inline core::MolBuilder star(AtomSpec centre, std::uint32_t n, std::uint8_t z = 6) {
    std::vector<AtomSpec> atoms{centre};
    std::vector<BondSpec> bonds;
    for (std::uint32_t i = 0; i < n; ++i) {
        atoms.push_back({z});
        bonds.push_back({0, i + 1});
    }
    return build(atoms, bonds);
}

}  // namespace quorix::test
