#include "chem/radicals.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "core/elements.hpp"

namespace quorix::chem {

namespace {

constexpr std::int8_t UNRESTRICTED[] = {-1};

float bond_valence(const core::MolBuilder& mol, std::uint32_t a) {
    float sum = 0.0f;
    for (core::Neighbor nb : mol.neighbors(a)) {
        const core::Bond& b = mol.bonds[nb.bond];
        switch (b.order) {
            case core::BondOrder::Unspecified: break;
            case core::BondOrder::Single: sum += 1.0f; break;
            case core::BondOrder::Double: sum += 2.0f; break;
            case core::BondOrder::Triple: sum += 3.0f; break;
            case core::BondOrder::Quadruple: sum += 4.0f; break;
            case core::BondOrder::Aromatic: sum += 1.5f; break;
            case core::BondOrder::Dative: sum += b.end == a ? 1.0f : 0.0f; break;
        }
    }
    return sum;
}

}  // namespace

void assign_radicals(core::MolBuilder& mol) {
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        core::Atom& atom = mol.atoms[a];
        if (atom.atomic_num == 0 || !(atom.flags & core::FIXED_HS)) continue;
        const core::ElementInfo* info = core::element(atom.atomic_num);
        const std::int64_t q = atom.formal_charge;
        const std::int64_t e = info ? info->valence_electrons : 0;
        const std::span<const std::int8_t> list = info ? info->valences : std::span<const std::int8_t>(UNRESTRICTED);
        if (list.size() == 1 && list[0] == -1) {
            atom.num_radical_electrons = mol.degree[a] > 0 ? 0 : ((e - q) >= 0 && (e - q) % 2 == 1 ? 1 : 0);
            continue;
        }
        const float sum = bond_valence(mol, a) + static_cast<float>(atom.num_explicit_hs);
        const std::int64_t b = static_cast<std::int64_t>(sum + 0.1f);
        const std::int64_t shell = atom.atomic_num < 3 ? 2 : 8;
        std::int64_t x = q + shell - e - b;
        if (x < 0) {
            std::int64_t found = 0;
            if (list.size() >= 2) {
                for (std::int8_t entry : list)
                    if (q - b + entry >= 0) {
                        found = q - b + entry;
                        break;
                    }
            }
            x = found;
        }
        const std::int64_t z = e - (q + b);
        const std::int64_t count = z < 0 ? x : std::min(z, x);
        if (count >= 0 && count < 256) atom.num_radical_electrons = static_cast<std::uint8_t>(count);
    }
}

}  // namespace quorix::chem
