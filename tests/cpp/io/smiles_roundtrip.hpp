#pragma once
// Shared by the SMILES writer and canonical SMILES tests: real molecules from the
// data set, and a comparison of two molecules under an atom mapping that checks
// atoms, bonds, tetrahedral and polyhedral chirality and cis/trans relations.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/builder.hpp"
#include "core/permutation.hpp"
#include "core/polyhedron.hpp"
#include "io/stereo.hpp"
#include "support.hpp"

namespace quorix::test {

// Records of molecules.smi; `stride` keeps every stride-th record.
inline std::vector<DataMolecule> data_molecules(std::size_t stride = 1) {
    std::vector<DataMolecule> out;
    const auto& all = data_records();
    for (std::size_t k = 0; k < all.size(); k += stride) out.push_back(all[k]);
    return out;
}

// The cis/trans relation of every double bond whose marks count, against the first
// marked substituent at each end; (bond, ref0, ref1, same side).
struct Relation {
    std::uint32_t bond, ref0, ref1;
    bool same;
};

inline std::vector<Relation> mark_relations(const core::MolBuilder& mol) {
    std::vector<Relation> out;
    const std::vector<std::uint8_t> flags = io::effective_direction_marks(mol);
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        const core::Bond& bond = mol.bonds[d];
        if (bond.order != core::BondOrder::Double) continue;
        std::uint32_t ref[2] = {core::NONE, core::NONE};
        std::uint8_t seen[2] = {0, 0};
        const std::uint32_t ends[2] = {bond.begin, bond.end};
        for (int e = 0; e < 2; ++e) {
            for (core::Neighbor nb : mol.neighbors(ends[e])) {
                if (nb.atom == ends[1 - e] || !flags[nb.bond]) continue;
                const auto dir = static_cast<std::uint8_t>(mol.bonds[nb.bond].direction);
                ref[e] = nb.atom;
                seen[e] = mol.bonds[nb.bond].begin == ends[e] ? dir : std::uint8_t(3 - dir);
                break;
            }
        }
        if (ref[0] != core::NONE && ref[1] != core::NONE) out.push_back({d, ref[0], ref[1], seen[0] == seen[1]});
    }
    return out;
}

// Relations from stored values.
inline std::vector<Relation> stored_relations(const core::MolBuilder& mol) {
    std::vector<Relation> out;
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        const core::Bond& b = mol.bonds[d];
        if (io::has_double_bond_stereo(mol, d) && (b.stereo == core::BondStereo::Cis || b.stereo == core::BondStereo::Trans))
            out.push_back({d, b.stereo_atoms[0], b.stereo_atoms[1], b.stereo == core::BondStereo::Cis});
    }
    return out;
}

// Whether `b` is `a` with atom i of `a` renamed map[i]. Returns an empty string when
// equal, else what differs. `b_relations` and `a_relations` are the cis/trans relations
// of both (marks or stored values).
inline std::string compare_mapped(const core::MolBuilder& a, const core::MolBuilder& b,
                                  const std::vector<std::uint32_t>& map, const std::vector<Relation>& a_rel,
                                  const std::vector<Relation>& b_rel) {
    using core::ChiralTag;
    if (a.num_atoms() != b.num_atoms()) return "atom count";
    if (a.num_bonds() != b.num_bonds()) return "bond count";
    for (std::uint32_t i = 0; i < a.num_atoms(); ++i) {
        const core::Atom& x = a.atoms[i];
        const core::Atom& y = b.atoms[map[i]];
        const std::string where = " of atom " + std::to_string(i);
        if (x.atomic_num != y.atomic_num) return "element" + where;
        if (x.formal_charge != y.formal_charge) return "charge" + where;
        if (x.isotope != y.isotope) return "isotope" + where;
        if (x.map_num != y.map_num) return "map number" + where;
        if (x.total_hs() != y.total_hs()) return "hydrogens" + where;
        if ((x.flags & core::AROMATIC) != (y.flags & core::AROMATIC)) return "aromatic flag" + where;
        if (a.degree[i] != b.degree[map[i]]) return "degree" + where;
    }
    for (const core::Bond& bond : a.bonds) {
        const std::uint32_t mb = b.bond_between(map[bond.begin], map[bond.end]);
        if (mb == core::NONE) return "missing bond";
        const core::Bond& other = b.bonds[mb];
        if (other.order != bond.order) return "bond order";
        if (bond.order == core::BondOrder::Dative && other.begin != map[bond.begin]) return "dative direction";
    }
    for (std::uint32_t i = 0; i < a.num_atoms(); ++i) {
        const core::Atom& x = a.atoms[i];
        const core::Atom& y = b.atoms[map[i]];
        std::vector<std::uint32_t> xs = neighbour_atoms(a, i), ys = neighbour_atoms(b, map[i]);
        for (auto& v : xs) v = map[v];
        const std::string where = " of atom " + std::to_string(i);
        switch (x.chiral_tag) {
            case ChiralTag::Unspecified:
                if (y.chiral_tag != ChiralTag::Unspecified) return "chirality appeared" + where;
                break;
            case ChiralTag::Cw:
            case ChiralTag::Ccw: {
                if (y.chiral_tag != ChiralTag::Cw && y.chiral_tag != ChiralTag::Ccw) return "tetrahedral tag" + where;
                const std::uint8_t p = core::permutation_parity(xs, ys);
                if (p == 2) return "neighbours" + where;
                if ((x.chiral_tag == y.chiral_tag) != (p == 0)) return "tetrahedral sense" + where;
                break;
            }
            case ChiralTag::SquarePlanar:
            case ChiralTag::TrigonalBipyramidal:
            case ChiralTag::Octahedral: {
                if (y.chiral_tag != x.chiral_tag) return "polyhedral class" + where;
                if (core::polyhedron_vertex_count(x.chiral_tag) == xs.size() + 1) {
                    xs.insert(xs.begin(), core::NONE);
                    ys.insert(ys.begin(), core::NONE);
                }
                const auto r = core::renumber_polyhedral_permutation(x.chiral_tag, x.chiral_permutation, xs, ys);
                if (r.has_value() ? *r != y.chiral_permutation : x.chiral_permutation != y.chiral_permutation)
                    return "polyhedral number" + where;
                break;
            }
            default:
                if (y.chiral_tag != x.chiral_tag) return "chiral tag" + where;
                break;
        }
    }
    if (a_rel.size() != b_rel.size()) return "cis/trans count";
    for (const Relation& r : a_rel) {
        const core::Bond& bond = a.bonds[r.bond];
        const std::uint32_t mb = b.bond_between(map[bond.begin], map[bond.end]);
        const Relation* s = nullptr;
        for (const Relation& t : b_rel)
            if (t.bond == mb) s = &t;
        if (!s) return "cis/trans lost";
        // Orient the other relation like this one, then compare against the same
        // references: a different substituent at one end flips the relation.
        const bool swapped = b.bonds[mb].begin != map[bond.begin];
        const std::uint32_t s0 = swapped ? s->ref1 : s->ref0, s1 = swapped ? s->ref0 : s->ref1;
        const bool flip = (s0 != map[r.ref0]) != (s1 != map[r.ref1]);
        if ((s->same != flip) != r.same) return "cis/trans relation";
    }
    return "";
}

// A random priority per atom.
inline std::vector<std::uint32_t> shuffled_priorities(std::uint32_t n, std::mt19937& rng) {
    std::vector<std::uint32_t> p(n);
    for (std::uint32_t i = 0; i < n; ++i) p[i] = i;
    std::shuffle(p.begin(), p.end(), rng);
    return p;
}

}  // namespace quorix::test
