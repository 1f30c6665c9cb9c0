#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "core/builder.hpp"

namespace quorix::chem {

struct AtomDescriptor {
    std::optional<double> electronegativity;
    double mass = 0.0;
    double gasteiger_charge = 0.0;
    std::uint32_t total_degree = 0;
    std::uint32_t total_num_hs = 0;
    std::uint8_t is_aromatic = 0;
    std::uint8_t is_in_ring = 0;
    std::uint8_t chiral_tag = 0;
    std::uint8_t hybridization = 0;
    std::uint8_t atomic_num = 0;
    std::int8_t formal_charge = 0;
};

inline constexpr std::uint32_t DESCRIPTOR_GASTEIGER_ITERATIONS = 12;

// Mass of one atom: the labelled isotope's exact mass, the label itself when the
// isotope is not tabulated, else the standard atomic weight (0 for `*`).
double atom_mass(const core::Atom& atom);

std::vector<AtomDescriptor> atom_descriptors(const core::MolBuilder& mol);

}  // namespace quorix::chem
