#include "core/polyhedron.hpp"

#include <array>

namespace quorix::core {

namespace {

// Class permutations give, per vertex of the reference numbering, the position in
// the ligand list of the ligand at that vertex. Rotations are written in the same
// vertex numbering. Square: 0-1-2-3 round the ring. Bipyramid: 0 and 4 axial.
// Octahedron: opposite pairs 0/5, 1/3, 2/4.

constexpr std::array<std::array<std::uint8_t, 4>, 3> SQUARE_PLANAR_CLASSES{{
    {0, 1, 2, 3}, {0, 2, 1, 3}, {0, 1, 3, 2},
}};
constexpr std::array<std::array<std::uint8_t, 4>, 8> SQUARE_PLANAR_ROTATIONS{{
    {0, 1, 2, 3}, {0, 3, 2, 1}, {1, 0, 3, 2}, {1, 2, 3, 0},
    {2, 1, 0, 3}, {2, 3, 0, 1}, {3, 0, 1, 2}, {3, 2, 1, 0},
}};

constexpr std::array<std::array<std::uint8_t, 5>, 20> BIPYRAMID_CLASSES{{
    {0, 1, 2, 3, 4}, {0, 1, 3, 2, 4}, {0, 1, 2, 4, 3}, {0, 1, 4, 2, 3}, {0, 1, 3, 4, 2},
    {0, 1, 4, 3, 2}, {0, 2, 3, 4, 1}, {0, 2, 4, 3, 1}, {1, 0, 2, 3, 4}, {1, 0, 2, 4, 3},
    {1, 0, 3, 2, 4}, {1, 0, 4, 2, 3}, {1, 0, 3, 4, 2}, {1, 0, 4, 3, 2}, {2, 0, 1, 3, 4},
    {2, 0, 1, 4, 3}, {3, 0, 1, 2, 4}, {3, 0, 2, 1, 4}, {2, 0, 4, 1, 3}, {2, 0, 3, 1, 4},
}};
constexpr std::array<std::array<std::uint8_t, 5>, 6> BIPYRAMID_ROTATIONS{{
    {0, 1, 2, 3, 4}, {0, 2, 3, 1, 4}, {0, 3, 1, 2, 4},
    {4, 1, 3, 2, 0}, {4, 2, 1, 3, 0}, {4, 3, 2, 1, 0},
}};

constexpr std::array<std::array<std::uint8_t, 6>, 30> OCTAHEDRAL_CLASSES{{
    {0, 1, 2, 3, 4, 5}, {0, 1, 4, 3, 2, 5}, {0, 1, 2, 3, 5, 4}, {0, 1, 2, 4, 3, 5},
    {0, 1, 2, 5, 3, 4}, {0, 1, 2, 4, 5, 3}, {0, 1, 2, 5, 4, 3}, {0, 1, 3, 2, 4, 5},
    {0, 1, 3, 2, 5, 4}, {0, 1, 4, 2, 3, 5}, {0, 1, 5, 2, 3, 4}, {0, 1, 4, 2, 5, 3},
    {0, 1, 5, 2, 4, 3}, {0, 1, 3, 4, 2, 5}, {0, 1, 3, 5, 2, 4}, {0, 1, 5, 3, 2, 4},
    {0, 1, 4, 5, 2, 3}, {0, 1, 5, 4, 2, 3}, {0, 1, 3, 4, 5, 2}, {0, 1, 3, 5, 4, 2},
    {0, 1, 4, 3, 5, 2}, {0, 1, 5, 3, 4, 2}, {0, 1, 4, 5, 3, 2}, {0, 1, 5, 4, 3, 2},
    {0, 2, 3, 4, 5, 1}, {0, 2, 3, 5, 4, 1}, {0, 2, 4, 3, 5, 1}, {0, 2, 5, 3, 4, 1},
    {0, 2, 4, 5, 3, 1}, {0, 2, 5, 4, 3, 1},
}};
constexpr std::array<std::array<std::uint8_t, 6>, 24> OCTAHEDRAL_ROTATIONS{{
    {0, 1, 2, 3, 4, 5}, {0, 2, 3, 4, 1, 5}, {0, 3, 4, 1, 2, 5}, {0, 4, 1, 2, 3, 5},
    {1, 0, 4, 5, 2, 3}, {1, 2, 0, 4, 5, 3}, {1, 4, 5, 2, 0, 3}, {1, 5, 2, 0, 4, 3},
    {2, 0, 1, 5, 3, 4}, {2, 1, 5, 3, 0, 4}, {2, 3, 0, 1, 5, 4}, {2, 5, 3, 0, 1, 4},
    {3, 0, 2, 5, 4, 1}, {3, 2, 5, 4, 0, 1}, {3, 4, 0, 2, 5, 1}, {3, 5, 4, 0, 2, 1},
    {4, 0, 3, 5, 1, 2}, {4, 1, 0, 3, 5, 2}, {4, 3, 5, 1, 0, 2}, {4, 5, 1, 0, 3, 2},
    {5, 1, 4, 3, 2, 0}, {5, 2, 1, 4, 3, 0}, {5, 3, 2, 1, 4, 0}, {5, 4, 3, 2, 1, 0},
}};

template <std::size_t N, std::size_t C, std::size_t R>
std::optional<std::uint8_t> renumber(const std::array<std::array<std::uint8_t, N>, C>& classes,
                                     const std::array<std::array<std::uint8_t, N>, R>& rotations,
                                     std::uint8_t permutation, std::span<const std::uint32_t> stored_order,
                                     std::span<const std::uint32_t> new_order) {
    if (stored_order.size() != N || new_order.size() != N) return std::nullopt;
    if (permutation > C) return std::nullopt;
    const auto& p = classes[permutation - 1];

    // mapped[i]: where the ligand at vertex i stands in the new order.
    std::array<std::uint8_t, N> mapped{};
    for (std::size_t i = 0; i < N; ++i) {
        if (p[i] >= stored_order.size()) return std::nullopt;
        const std::uint32_t ligand = stored_order[p[i]];
        std::size_t pos = 0;
        while (pos < N && new_order[pos] != ligand) ++pos;
        if (pos == N) return std::nullopt;
        mapped[i] = static_cast<std::uint8_t>(pos);
    }

    for (std::size_t m = 0; m < C; ++m) {
        for (const auto& r : rotations) {
            bool same = true;
            for (std::size_t k = 0; k < N && same; ++k) same = classes[m][k] == mapped[r[k]];
            if (same) return static_cast<std::uint8_t>(m + 1);
        }
    }
    return std::nullopt;
}

}  // namespace

std::uint8_t polyhedron_class_count(ChiralTag tag) {
    switch (tag) {
    case ChiralTag::SquarePlanar: return SQUARE_PLANAR_CLASSES.size();
    case ChiralTag::TrigonalBipyramidal: return BIPYRAMID_CLASSES.size();
    case ChiralTag::Octahedral: return OCTAHEDRAL_CLASSES.size();
    default: return 0;
    }
}

std::uint8_t polyhedron_vertex_count(ChiralTag tag) {
    switch (tag) {
    case ChiralTag::SquarePlanar: return 4;
    case ChiralTag::TrigonalBipyramidal: return 5;
    case ChiralTag::Octahedral: return 6;
    default: return 0;
    }
}

std::optional<std::uint8_t> renumber_polyhedral_permutation(ChiralTag tag, std::uint8_t permutation,
                                                            std::span<const std::uint32_t> stored_order,
                                                            std::span<const std::uint32_t> new_order) {
    if (permutation == 0) return std::nullopt;
    switch (tag) {
    case ChiralTag::SquarePlanar:
        return renumber(SQUARE_PLANAR_CLASSES, SQUARE_PLANAR_ROTATIONS, permutation, stored_order, new_order);
    case ChiralTag::TrigonalBipyramidal:
        return renumber(BIPYRAMID_CLASSES, BIPYRAMID_ROTATIONS, permutation, stored_order, new_order);
    case ChiralTag::Octahedral:
        return renumber(OCTAHEDRAL_CLASSES, OCTAHEDRAL_ROTATIONS, permutation, stored_order, new_order);
    default:
        return std::nullopt;
    }
}

}  // namespace quorix::core
