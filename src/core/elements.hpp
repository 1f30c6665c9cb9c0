#pragma once
// Constant element and isotope data; nothing is built at run time.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorix::core {

struct ElementInfo {
    std::optional<double> electronegativity;  // Pauling; absent for some elements
    std::string_view symbol;
    std::span<const std::int8_t> valences;
    double atomic_weight;
    double monoisotopic_mass;
    float covalent_radius;
    float vdw_radius;
    std::uint16_t mass_number;
    std::uint8_t atomic_num;
    std::uint8_t period;
    std::uint8_t valence_electrons;
};

struct IsotopeEntry {
    std::uint16_t mass_number;
    double exact_mass;
};

inline constexpr std::uint32_t NUM_ELEMENTS = 119;  // atomic numbers 0 (`*`) to 118

// One record per atomic number; record 0 is the wildcard `*`.
extern const std::array<ElementInfo, NUM_ELEMENTS> ELEMENTS;

// The record for an atomic number, or nullptr above 118.
const ElementInfo* element(std::uint32_t atomic_num);
// Same, but an atomic number above 118 is a broken invariant.
const ElementInfo& element_at(std::uint32_t atomic_num);
// The isotopes of an element, ascending by mass number (empty above 118).
std::span<const IsotopeEntry> isotopes(std::uint32_t atomic_num);
std::optional<double> isotope_mass(std::uint32_t atomic_num, std::uint32_t mass_number);
std::size_t total_isotope_entries();

namespace Element {
// Exact, case-sensitive symbol lookup ("*" is 0; "Uut" and "Uup" are accepted).
std::optional<std::uint8_t> from_symbol(std::string_view symbol);

// Atomic numbers of the elements that rules name; 0 is the wildcard `*`.
inline constexpr std::uint8_t Wildcard = 0, H = 1, He = 2, B = 5, C = 6, N = 7, O = 8, F = 9, Ne = 10, Na = 11,
                              Si = 14, P = 15, S = 16, Cl = 17, Ar = 18, As = 33, Se = 34, Br = 35, Kr = 36,
                              Te = 52, I = 53, Xe = 54, At = 85, Rn = 86, Ac = 89;

// The elements SMILES can write aromatic, in lower case: b, c, n, o, p, s, si,
// as, se, te. An atom of any other element is never read back aromatic.
constexpr bool has_aromatic_symbol(std::uint32_t z) {
    return z == B || z == C || z == N || z == O || z == P || z == S || z == Si || z == As || z == Se || z == Te;
}
}

}  // namespace quorix::core
