#include "chem/radicals.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

#include "core/elements.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

namespace E = core::Element;

namespace {

constexpr std::int8_t UNRESTRICTED[] = {-1};

}  // namespace

void assign_radicals(core::MolBuilder& mol) {
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        core::Atom& atom = mol.atoms[a];
        if (atom.atomic_num == E::Wildcard || !(atom.flags & core::FIXED_HS)) continue;
        const core::ElementInfo* info = core::element(atom.atomic_num);
        const std::int64_t q = atom.formal_charge;
        const std::int64_t e = info ? info->valence_electrons : 0;
        const std::span<const std::int8_t> list = info ? info->valences : std::span<const std::int8_t>(UNRESTRICTED);
        if (list.size() == 1 && list[0] == -1) {
            atom.num_radical_electrons = mol.degree[a] > 0 ? 0 : ((e - q) >= 0 && (e - q) % 2 == 1 ? 1 : 0);
            continue;
        }
        const float sum = core::bond_valence_sum(mol, a) + static_cast<float>(atom.num_explicit_hs);
        const std::int64_t b = static_cast<std::int64_t>(sum + 0.1f);
        const std::int64_t shell = atom.atomic_num <= E::He ? 2 : 8;
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
