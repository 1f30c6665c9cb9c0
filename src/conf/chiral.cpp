#include "conf/chiral.hpp"

#include <string>

#include "core/elements.hpp"
#include "core/error.hpp"

namespace quorix::conf {
namespace {

// Three neighbours and a lone pair make a stereocentre of these elements:
// sulfoxides, sulfonium and their heavier analogues, phosphines and arsines.
bool lone_pair_centre(const core::Atom& atom) {
    namespace E = core::Element;
    switch (atom.atomic_num) {
        case E::S: case E::Se: case E::Te: return atom.formal_charge <= 1;
        case E::P: case E::As: return atom.formal_charge <= 0;
        default: return false;
    }
}

}  // namespace

void check_constraints(std::span<const ChiralConstraint> constraints, std::size_t atoms) {
    const std::string n = std::to_string(atoms);
    for (const ChiralConstraint& c : constraints) {
        if (c.centre >= atoms) internal_error("手性中心的中心原子下标 " + std::to_string(c.centre) + " 越界(原子数 " + n + ")");
        const std::size_t count = c.ligands[3] == core::NONE ? 3 : 4;
        for (std::size_t k = 0; k < count; ++k)
            if (c.ligands[k] >= atoms)
                internal_error("手性中心 " + std::to_string(c.centre) + " 的配体下标 " + std::to_string(c.ligands[k]) +
                               " 越界(原子数 " + n + ")");
    }
}

std::vector<ChiralConstraint> collect_chiral_centres(const core::MolBuilder& mol) {
    std::vector<ChiralConstraint> out;
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
        const core::Atom& atom = mol.atoms[i];
        if (!core::is_tetrahedral(atom.chiral_tag)) continue;
        ChiralConstraint c;
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(i)) {
            if (count < 4) c.ligands[count] = nb.atom;
            ++count;
        }
        if (count == 3 && lone_pair_centre(atom)) c.ligands[3] = core::NONE;
        else if (count != 4) continue;
        c.target = atom.chiral_tag == core::ChiralTag::Cw ? -1.0 : 1.0;
        c.centre = i;
        out.push_back(c);
    }
    return out;
}

double signed_volume(std::span<const std::array<double, 3>> coords, const ChiralConstraint& constraint) {
    const auto& c = at(coords, constraint.centre);
    const auto& p0 = at(coords, constraint.ligands[0]);
    const auto& p1 = at(coords, constraint.ligands[1]);
    const auto& p2 = at(coords, constraint.ligands[2]);
    const double a0x = p0[0] - c[0], a0y = p0[1] - c[1], a0z = p0[2] - c[2];
    const double a1x = p1[0] - c[0], a1y = p1[1] - c[1], a1z = p1[2] - c[2];
    const double a2x = p2[0] - c[0], a2y = p2[1] - c[1], a2z = p2[2] - c[2];
    return a0z * (a1x * a2y - a1y * a2x) + (a0x * (a1y * a2z - a1z * a2y) - a0y * (a1x * a2z - a1z * a2x));
}

}  // namespace quorix::conf
