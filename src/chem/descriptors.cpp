#include "chem/descriptors.hpp"

#include "chem/gasteiger.hpp"
#include "core/elements.hpp"

namespace quorix::chem {

namespace E = core::Element;

using namespace quorix::core;

double atom_mass(const Atom& atom) {
    const ElementInfo* e = element(atom.atomic_num);
    if (atom.isotope != 0) {
        if (atom.atomic_num != E::Wildcard && e) {
            if (auto m = isotope_mass(atom.atomic_num, atom.isotope)) return *m;
        }
        return atom.atomic_num == E::Wildcard ? 0.0 : static_cast<double>(atom.isotope);
    }
    return e ? e->atomic_weight : 0.0;
}

std::vector<AtomDescriptor> atom_descriptors(const MolBuilder& mol) {
    const std::vector<double> charges = gasteiger_charges(mol, DESCRIPTOR_GASTEIGER_ITERATIONS);
    std::vector<AtomDescriptor> out(mol.num_atoms());
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
        const Atom& atom = mol.atoms[i];
        AtomDescriptor& d = out[i];
        if (const ElementInfo* e = element(atom.atomic_num)) d.electronegativity = e->electronegativity;
        d.mass = atom_mass(atom);
        d.gasteiger_charge = charges[i];
        d.total_num_hs = atom.total_hs();
        d.total_degree = mol.degree[i] + d.total_num_hs;
        d.is_aromatic = (atom.flags & AROMATIC) ? 1 : 0;
        d.is_in_ring = (atom.flags & IN_RING) ? 1 : 0;
        d.chiral_tag = static_cast<std::uint8_t>(atom.chiral_tag);
        d.hybridization = static_cast<std::uint8_t>(atom.hybridization);
        d.atomic_num = atom.atomic_num;
        d.formal_charge = atom.formal_charge;
    }
    return out;
}

}  // namespace quorix::chem
