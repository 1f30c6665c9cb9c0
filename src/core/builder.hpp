#pragma once
// The molecule: atoms, bonds and a half-edge adjacency. Bond b is half-edge 2b at
// its `begin` atom and 2b+1 at its `end` atom; each atom's list keeps the order in
// which its bonds were linked, and chirality is read against that order.
#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/error.hpp"

namespace quorix::core {

inline constexpr std::uint32_t NONE = 0xFFFFFFFFu;
inline constexpr std::uint32_t MAX_BONDS = 2147483647u;

enum class BondOrder : std::uint8_t {
    Unspecified = 0, Single = 1, Double = 2, Triple = 3, Quadruple = 4, Aromatic = 5, Dative = 6,
};
double as_double(BondOrder order);

enum class BondStereo : std::uint8_t { None = 0, Z = 1, E = 2, Cis = 3, Trans = 4 };
enum class BondDirection : std::uint8_t { None = 0, Slash = 1, Backslash = 2 };
enum class ChiralTag : std::uint8_t {
    Unspecified = 0, Cw = 1, Ccw = 2, Allene = 3, SquarePlanar = 4, TrigonalBipyramidal = 5, Octahedral = 6,
};

// `@@` and `@`, the two tetrahedral arrangements, and each one's mirror image.
constexpr bool is_tetrahedral(ChiralTag t) { return t == ChiralTag::Cw || t == ChiralTag::Ccw; }
constexpr ChiralTag mirrored(ChiralTag t) {
    return t == ChiralTag::Cw ? ChiralTag::Ccw : t == ChiralTag::Ccw ? ChiralTag::Cw : t;
}
// An allene centre's `chiral_permutation`: 1 and 2 name its two arrangements,
// any other value none.
constexpr bool allene_configured(std::uint8_t n) { return n == 1 || n == 2; }
constexpr std::uint8_t mirrored_allene(std::uint8_t n) { return allene_configured(n) ? std::uint8_t(3 - n) : n; }
// A direction read from the bond's other end.
constexpr BondDirection reversed(BondDirection d) {
    return d == BondDirection::Slash ? BondDirection::Backslash : d == BondDirection::Backslash ? BondDirection::Slash : d;
}

enum class Hybridization : std::uint8_t {
    Unspecified = 0, S = 1, Sp = 2, Sp2 = 3, Sp3 = 4, Sp2d = 5, Sp3d = 6, Sp3d2 = 7,
};

// Atom flag bits.
inline constexpr std::uint32_t AROMATIC = 1u;
inline constexpr std::uint32_t IN_RING = 2u;
inline constexpr std::uint32_t FIXED_HS = 4u;
// Bond flag bits (AROMATIC and IN_RING share the atom values).
inline constexpr std::uint32_t CONJUGATED = 4u;

struct Atom {
    std::uint32_t flags = 0;
    std::uint16_t isotope = 0;
    std::uint16_t map_num = 0;
    std::uint8_t atomic_num = 0;
    std::int8_t formal_charge = 0;
    std::uint8_t num_explicit_hs = 0;
    std::uint8_t num_implicit_hs = 0;
    std::uint8_t num_radical_electrons = 0;
    std::uint8_t chiral_permutation = 0;
    Hybridization hybridization = Hybridization::Unspecified;
    ChiralTag chiral_tag = ChiralTag::Unspecified;

    unsigned total_hs() const { return unsigned(num_explicit_hs) + num_implicit_hs; }
    bool operator==(const Atom&) const = default;
};

struct Bond {
    std::array<std::uint32_t, 2> stereo_atoms{NONE, NONE};
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    std::uint32_t flags = 0;
    BondOrder order = BondOrder::Unspecified;
    BondStereo stereo = BondStereo::None;
    BondDirection direction = BondDirection::None;

    std::uint32_t other(std::uint32_t atom) const { return atom == begin ? end : begin; }
    bool operator==(const Bond&) const = default;
};

struct AtomIndexOutOfRange { std::uint32_t index, num_atoms; bool operator==(const AtomIndexOutOfRange&) const = default; };
struct SelfLoop { std::uint32_t atom; bool operator==(const SelfLoop&) const = default; };
struct MolIndexOutOfRange { std::uint32_t index, num_mols; bool operator==(const MolIndexOutOfRange&) const = default; };
struct BondIndexOutOfRange { std::uint32_t index, num_bonds; bool operator==(const BondIndexOutOfRange&) const = default; };
// A batch of molecules, atoms or bonds bigger than its index type can count.
struct BatchTooLarge { std::string_view what; std::uint64_t count; bool operator==(const BatchTooLarge&) const = default; };

using BuilderError = std::variant<AtomIndexOutOfRange, SelfLoop, MolIndexOutOfRange, BondIndexOutOfRange, BatchTooLarge>;

// Struct form: "SelfLoop { atom: 3 }", fields in declared order.
std::string to_struct_text(const BuilderError& error);

// One step of a neighbour walk.
struct Neighbor {
    std::uint32_t half_edge;
    std::uint32_t bond;
    std::uint32_t atom;  // the far atom
};

class MolBuilder;

// Walk of one atom's half-edge list; allocation-free.
class NeighborRange {
public:
    class iterator {
    public:
        iterator(const MolBuilder* m, std::uint32_t h) : mol_(m), h_(h) {}
        Neighbor operator*() const;
        iterator& operator++();
        bool operator!=(const iterator& o) const { return h_ != o.h_; }
        bool operator==(const iterator& o) const { return h_ == o.h_; }
    private:
        const MolBuilder* mol_;
        std::uint32_t h_;
    };
    NeighborRange(const MolBuilder* m, std::uint32_t first) : mol_(m), first_(first) {}
    iterator begin() const { return {mol_, first_}; }
    iterator end() const { return {mol_, NONE}; }
private:
    const MolBuilder* mol_;
    std::uint32_t first_;
};

class MolBuilder {
public:
    std::vector<Atom> atoms;
    std::vector<Bond> bonds;
    std::vector<std::uint32_t> first_half_edge;
    std::vector<std::uint32_t> last_half_edge;
    std::vector<std::uint32_t> next_half_edge;
    std::vector<std::uint32_t> degree;

    MolBuilder() = default;
    static MolBuilder with_capacity(std::size_t num_atoms, std::size_t num_bonds);

    std::uint32_t num_atoms() const { return static_cast<std::uint32_t>(atoms.size()); }
    std::uint32_t num_bonds() const { return static_cast<std::uint32_t>(bonds.size()); }

    std::uint32_t add_atom(const Atom& atom);
    std::expected<std::uint32_t, BuilderError> add_bond(const Bond& bond);
    // Appends a bond record and links both half-edges without validating the
    // ends beyond the internal checks; for builders that know their indices.
    std::uint32_t push_bond(const Bond& bond);
    void link_half_edge(std::uint32_t atom, std::uint32_t half_edge);
    std::expected<void, BuilderError> reverse_bond(std::uint32_t bond);

    NeighborRange neighbors(std::uint32_t atom) const;
    // NONE when there is no such bond (or either atom does not exist).
    std::uint32_t bond_between(std::uint32_t a, std::uint32_t b) const;

    bool operator==(const MolBuilder&) const = default;
};

inline std::uint32_t half_edge_bond(std::uint32_t h) { return h >> 1; }

// Inline: readers pass every atom and bond of a text through these.
inline std::uint32_t MolBuilder::add_atom(const Atom& atom) {
    const auto index = static_cast<std::uint32_t>(atoms.size());
    atoms.push_back(atom);
    first_half_edge.push_back(NONE);
    last_half_edge.push_back(NONE);
    degree.push_back(0);
    return index;
}

inline std::uint32_t MolBuilder::push_bond(const Bond& bond) {
    if (bonds.size() >= MAX_BONDS) internal_error("键数超出半边编号能表示的范围");
    const auto b = static_cast<std::uint32_t>(bonds.size());
    bonds.push_back(bond);
    link_half_edge(bond.begin, 2 * b);
    link_half_edge(bond.end, 2 * b + 1);
    return b;
}

inline void MolBuilder::link_half_edge(std::uint32_t atom, std::uint32_t half_edge) {
    if (atom >= atoms.size()) internal_error("半边所属原子下标越界");
    next_half_edge.push_back(NONE);
    std::uint32_t& last = last_half_edge[atom];
    // `last` is a half-edge already linked, so it indexes next_half_edge.
    if (last == NONE) first_half_edge[atom] = half_edge;
    else next_half_edge[last] = half_edge;
    last = half_edge;
    degree[atom] += 1;
}

inline Neighbor NeighborRange::iterator::operator*() const {
    const Bond& b = mol_->bonds[h_ >> 1];
    return Neighbor{h_, h_ >> 1, (h_ & 1u) ? b.begin : b.end};
}
inline NeighborRange::iterator& NeighborRange::iterator::operator++() {
    h_ = mol_->next_half_edge[h_];
    return *this;
}

}  // namespace quorix::core
