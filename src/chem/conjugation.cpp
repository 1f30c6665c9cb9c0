#include "chem/conjugation.hpp"

#include <cstdint>
#include <vector>

#include "chem/aromaticity.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/scratch.hpp"
#include "core/valence.hpp"
#include "core/walk.hpp"

namespace quorix::chem {

namespace E = core::Element;

using core::Atom;
using core::Bond;
using core::BondOrder;
using core::ChiralTag;
using core::Hybridization;
using core::MolBuilder;
using core::Neighbor;

namespace {

// What both steps read of an atom, computed once per atom.
struct AtomState {
    std::int32_t valence;      // lenient explicit valence, declared hydrogens included
    std::int32_t implicit_hs;  // recomputed from that valence; 0 for FIXED_HS
    std::int32_t connections;  // degree plus stored hydrogens
    std::int32_t sigma;        // sigma_bond_count
    const core::ElementInfo* element;
};

// sigma_bond_count, for the atom walked here anyway.
std::int32_t sigma_bonds(const MolBuilder& mol, std::uint32_t atom) {
    std::int32_t count = std::int32_t(mol.degree[atom]);
    for (Neighbor nb : core::unchecked_neighbors(mol, atom)) {
        const Bond& b = mol.bonds[nb.bond];
        if (b.order == BondOrder::Unspecified || (b.order == BondOrder::Dative && b.begin == atom)) --count;
    }
    return count;
}

using States = std::vector<AtomState>;

void atom_states(const MolBuilder& mol, States& states) {
    states.resize(mol.num_atoms());
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
        core::AtomValence tv;
        core::lenient_valence_hs(mol, i, tv);
        states[i] = {tv.explicit_valence, tv.implicit_hs,
                     std::int32_t(mol.degree[i]) + std::int32_t(mol.atoms[i].total_hs()), sigma_bonds(mol, i),
                     core::element(mol.atoms[i].atomic_num)};
    }
}

// The same from the strict check's lists: where that check passes its numbers
// are the lenient ones, and FIXED_HS atoms have 0 implicit hydrogens in both.
void atom_states(const MolBuilder& mol, const ValenceLists& valences, States& states) {
    const std::uint32_t n = mol.num_atoms();
    if (valences.explicit_valence.size() != n || valences.implicit_hs.size() != n)
        internal_error("价态数组长度与原子数不符");
    states.resize(n);
    // Without unspecified and dative bonds every bond is a sigma connection, and
    // each atom's count is its degree.
    bool all_sigma = true;
    for (const Bond& b : mol.bonds)
        if (b.order == BondOrder::Unspecified || b.order == BondOrder::Dative) all_sigma = false;
    for (std::uint32_t i = 0; i < n; ++i)
        states[i] = {valences.explicit_valence[i], valences.implicit_hs[i],
                     std::int32_t(mol.degree[i]) + std::int32_t(mol.atoms[i].total_hs()),
                     all_sigma ? std::int32_t(mol.degree[i]) : sigma_bonds(mol, i),
                     core::element(mol.atoms[i].atomic_num)};
}

bool is_pi_bond(BondOrder order) {
    return order == BondOrder::Double || order == BondOrder::Triple || order == BondOrder::Quadruple ||
           order == BondOrder::Aromatic;
}

bool is_conjugation_candidate(const MolBuilder& mol, std::uint32_t atom, const AtomState& st) {
    const Atom& a = mol.atoms[atom];
    const core::ElementInfo* el = st.element;
    const int first_valence = (el && !el->valences.empty()) ? el->valences[0] : -1;
    if (a.formal_charge == 0 && first_valence >= 0 && st.valence + st.implicit_hs > first_valence) return false;
    if (el && a.atomic_num >= E::Na) {
        if (el->valence_electrons == 5) return false;
        if (el->valence_electrons == 6 && st.connections >= 2) return false;
    }
    // spare_electrons has no answer for these; most saturated atoms end here.
    if (!el || first_valence < 2 || st.sigma + std::int32_t(a.total_hs()) > 3) return false;
    const auto spare = spare_electrons(mol, atom, st.valence, st.sigma);
    return spare && *spare >= 1;
}

void conjugation(MolBuilder& mol, const std::vector<AtomState>& states) {
    for (Bond& b : mol.bonds) {
        if (b.flags & core::AROMATIC)
            b.flags |= core::CONJUGATED;
        else
            b.flags &= ~core::CONJUGATED;
    }
    const std::uint32_t n_atoms = mol.num_atoms();
    const auto candidate_lease = core::Scratch<std::vector<std::uint8_t>>::borrow(n_atoms);
    std::vector<std::uint8_t>& candidate = *candidate_lease;
    candidate.assign(n_atoms, 0);
    for (std::uint32_t i = 0; i < n_atoms; ++i) candidate[i] = is_conjugation_candidate(mol, i, states[i]) ? 1 : 0;

    // A candidate centre joins its multiple bond to a candidate partner with each
    // other bond to a candidate of at most three connections. Marks never feed
    // back into the candidate test, so they are set as they are found.
    for (std::uint32_t i = 0; i < n_atoms; ++i) {
        if (!candidate[i] || mol.degree[i] == 0) continue;
        if (states[i].connections != 2 && states[i].connections != 3) continue;
        for (Neighbor nb : core::unchecked_neighbors(mol, i)) {
            if (!is_pi_bond(mol.bonds[nb.bond].order) || !candidate[nb.atom]) continue;
            for (Neighbor other : core::unchecked_neighbors(mol, i)) {
                if (other.bond == nb.bond || !candidate[other.atom] || states[other.atom].connections > 3) continue;
                mol.bonds[nb.bond].flags |= core::CONJUGATED;
                mol.bonds[other.bond].flags |= core::CONJUGATED;
            }
        }
    }
}

Hybridization from_geometry(ChiralTag tag_value, std::int32_t n) {
    const auto tag = static_cast<std::uint8_t>(tag_value);
    if (core::is_tetrahedral(tag_value) && n == 4) return Hybridization::Sp3;
    if (tag == std::uint8_t(ChiralTag::SquarePlanar) && n >= 2 && n <= 4) return Hybridization::Sp2d;
    if (tag == std::uint8_t(ChiralTag::TrigonalBipyramidal) && n >= 2 && n <= 5) return Hybridization::Sp3d;
    if (tag == std::uint8_t(ChiralTag::Octahedral) && n >= 2 && n <= 6) return Hybridization::Sp3d2;
    return Hybridization::Unspecified;
}

void hybridization(MolBuilder& mol, const std::vector<AtomState>& states) {
    const std::uint32_t n_atoms = mol.num_atoms();
    for (std::uint32_t i = 0; i < n_atoms; ++i) {
        Atom& a = mol.atoms[i];
        if (a.atomic_num == E::Wildcard) {
            a.hybridization = Hybridization::Unspecified;
            continue;
        }
        const AtomState& st = states[i];
        if (const Hybridization declared = from_geometry(a.chiral_tag, st.connections);
            declared != Hybridization::Unspecified) {
            a.hybridization = declared;
            continue;
        }

        std::int32_t steric = a.atomic_num >= E::Ac ? st.connections : st.sigma + std::int32_t(a.total_hs());
        if (a.atomic_num != E::H) {
            const core::ElementInfo* el = st.element;
            const std::int32_t electrons = el ? el->valence_electrons : 0;
            const std::int32_t total = st.valence + st.implicit_hs;
            const std::int32_t charge = a.formal_charge;
            const std::int32_t radicals = a.num_radical_electrons;
            const std::int32_t lone = electrons - total - charge;
            // Below an octet the unpaired electrons each take an orbital.
            if (electrons - charge + total >= 8)
                steric += lone / 2;
            else
                steric += radicals + (lone - radicals) / 2;
        }

        Hybridization h = Hybridization::Unspecified;
        switch (steric) {
            case 0:
            case 1: h = Hybridization::S; break;
            case 2: h = Hybridization::Sp; break;
            case 3: h = Hybridization::Sp2; break;
            case 4: {
                h = Hybridization::Sp3;
                if (st.connections <= 3) {
                    for (Neighbor nb : core::unchecked_neighbors(mol, i)) {
                        if (mol.bonds[nb.bond].flags & core::CONJUGATED) {
                            h = Hybridization::Sp2;
                            break;
                        }
                    }
                }
                break;
            }
            case 5: h = Hybridization::Sp3d; break;
            case 6: h = Hybridization::Sp3d2; break;
            default: h = Hybridization::Unspecified; break;  // negative, or seven and more
        }
        a.hybridization = h;
    }
}

}  // namespace

void perceive_conjugation(MolBuilder& mol) {
    const auto states = core::Scratch<States>::borrow(mol.num_atoms());
    atom_states(mol, *states);
    conjugation(mol, *states);
}

void assign_hybridization(MolBuilder& mol) {
    const auto states = core::Scratch<States>::borrow(mol.num_atoms());
    atom_states(mol, *states);
    hybridization(mol, *states);
}

void perceive_conjugation_and_hybridization(MolBuilder& mol) {
    const auto states = core::Scratch<States>::borrow(mol.num_atoms());
    atom_states(mol, *states);
    conjugation(mol, *states);
    hybridization(mol, *states);
}

void perceive_conjugation_and_hybridization(MolBuilder& mol, const ValenceLists& valences) {
    const auto states = core::Scratch<States>::borrow(mol.num_atoms());
    atom_states(mol, valences, *states);
    conjugation(mol, *states);
    hybridization(mol, *states);
}

}  // namespace quorix::chem
