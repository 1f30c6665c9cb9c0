#include "conf/ring_context.hpp"

#include <algorithm>

#include "chem/sssr.hpp"
#include "conf/bounds.hpp"
#include "core/error.hpp"

namespace quorix::conf {

bool RingContext::contains(std::uint32_t r, std::uint32_t atom) const {
    const auto first = ring_atoms.begin() + ring_offsets[r], last = ring_atoms.begin() + ring_offsets[r + 1];
    return std::binary_search(first, last, atom);
}

namespace {

// Whether a double bond of the ring, in ring order, has a stored cis/trans
// that puts its ring neighbours trans.
bool holds_trans_double(const core::MolBuilder& mol, const chem::Ring& ring) {
    const std::size_t size = ring.atoms.size();
    if (ring.bonds.size() != size || size < 3) return false;
    for (std::size_t k = 0; k < size; ++k) {
        const core::Bond& bond = at(mol.bonds, ring.bonds[k]);
        if (bond.order != core::BondOrder::Double || !has_stored_configuration(bond)) continue;
        const std::uint32_t b = ring.atoms[k];
        const std::uint32_t a = ring.atoms[(k + size - 1) % size], d = ring.atoms[(k + 2) % size];
        if (!(bond.begin == b ? stored_cis(bond, a, d) : stored_cis(bond, d, a))) return true;
    }
    return false;
}

}  // namespace

void RingContext::build(const core::MolBuilder& mol) { build(mol, chem::sssr(mol)); }

void RingContext::build(const core::MolBuilder& mol, const std::vector<chem::Ring>& rings) {
    const std::uint32_t n = mol.num_atoms();
    ring_offsets.assign(1, 0);
    ring_atoms.clear();
    aromatic.clear();
    all_sp3.clear();
    trans_double.clear();
    smallest.assign(n, 0);
    atom_offsets.assign(std::size_t(n) + 1, 0);
    for (const chem::Ring& ring : rings) {
        bool arom = true, sp3 = true;
        for (std::uint32_t a : ring.atoms) {
            const core::Atom& atom = at(mol.atoms, a);
            arom = arom && (atom.flags & core::AROMATIC);
            sp3 = sp3 && atom.hybridization == core::Hybridization::Sp3;
            const auto size = static_cast<std::uint32_t>(ring.atoms.size());
            if (smallest[a] == 0 || size < smallest[a]) smallest[a] = size;
            atom_offsets[a + 1] += 1;
        }
        const std::size_t start = ring_atoms.size();
        ring_atoms.insert(ring_atoms.end(), ring.atoms.begin(), ring.atoms.end());
        std::sort(ring_atoms.begin() + static_cast<std::ptrdiff_t>(start), ring_atoms.end());
        ring_offsets.push_back(static_cast<std::uint32_t>(ring_atoms.size()));
        aromatic.push_back(arom);
        all_sp3.push_back(sp3);
        trans_double.push_back(holds_trans_double(mol, ring));
    }
    for (std::uint32_t a = 0; a < n; ++a) atom_offsets[a + 1] += atom_offsets[a];
    atom_rings.assign(atom_offsets[n], 0);
    std::vector<std::uint32_t> fill(atom_offsets.begin(), atom_offsets.end() - 1);
    for (std::uint32_t r = 0; r < rings.size(); ++r)
        for (std::uint32_t a : rings[r].atoms) atom_rings[fill[a]++] = r;
}

}  // namespace quorix::conf
