#include "conf/pieces.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/components.hpp"
#include "core/error.hpp"

namespace quorix::conf {

namespace {

using Vec = std::array<double, 3>;

double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The ways in which a piece may approach the ones already placed, in the order
// that breaks ties: the axes, then the face diagonals, then the body diagonals.
// Twenty-six are enough to find a snug side of any shape without the cost of
// a search over orientations.
std::array<Vec, 26> approach_directions() {
    std::array<Vec, 26> dirs{};
    std::size_t k = 0;
    for (int nonzero = 1; nonzero <= 3; ++nonzero) {
        const double unit = 1.0 / std::sqrt(static_cast<double>(nonzero));
        for (int axis_mask = 1; axis_mask < 8; ++axis_mask) {
            if (std::popcount(static_cast<unsigned>(axis_mask)) != nonzero) continue;
            for (int signs = 0; signs < 8; ++signs) {
                if ((signs & ~axis_mask) != 0) continue;
                Vec d{};
                for (int a = 0; a < 3; ++a)
                    if (axis_mask & (1 << a)) d[a] = (signs & (1 << a)) ? -unit : unit;
                dirs[k++] = d;
            }
        }
    }
    return dirs;
}

// A shift that is a multiple of 2^-20 Å adds exactly to coordinates given on
// that grid (or a coarser one), so such a piece moves without a rounding in
// its internal geometry; elsewhere a coordinate loses at most its last bit.
double on_grid(double shift) { return std::round(shift * 0x1p20) * 0x1p-20; }

// Atoms grouped by piece, ascending within each; pieces in component order.
struct Grouped {
    std::vector<std::uint32_t> atoms;
    std::vector<std::uint32_t> start;  // piece c holds atoms[start[c] .. start[c + 1])
};

Grouped group_by_piece(const std::vector<std::uint32_t>& component, std::uint32_t count) {
    Grouped g;
    g.start.assign(count + 1, 0);
    for (std::uint32_t c : component) ++g.start[c + 1];
    for (std::uint32_t c = 0; c < count; ++c) g.start[c + 1] += g.start[c];
    g.atoms.resize(component.size());
    std::vector<std::uint32_t> fill(g.start.begin(), g.start.end() - 1);
    for (std::uint32_t a = 0; a < component.size(); ++a) g.atoms[fill[component[a]]++] = a;
    return g;
}

Vec position(std::span<const double> flat, std::uint32_t atom) {
    return {flat[3 * atom], flat[3 * atom + 1], flat[3 * atom + 2]};
}

// How far along `d` the moving piece's centre sits, measured from the placed
// set's centre, when the piece comes in from far out along `d` and first
// touches the placed atoms at PIECE_GAP. Offsets are relative to those two
// centres. Each pair bars an open interval of s where |w + s d| < gap
// (w = q - p); the first touch is the largest upper end. Empty when the line
// passes every placed atom by more than the gap.
std::optional<double> first_touch(const std::vector<Vec>& placed, const std::vector<Vec>& moving, const Vec& d) {
    constexpr double gap2 = PIECE_GAP * PIECE_GAP;
    double touch = -std::numeric_limits<double>::infinity();
    bool barred = false;
    for (const Vec& q : moving)
        for (const Vec& p : placed) {
            const Vec w{q[0] - p[0], q[1] - p[1], q[2] - p[2]};
            const double b = dot(w, d);
            const double disc = b * b - (dot(w, w) - gap2);
            if (!(disc > 0.0)) continue;
            touch = std::max(touch, std::sqrt(disc) - b);
            barred = true;
        }
    if (!barred) return std::nullopt;
    return touch;
}

// Where the moving piece's centre comes to rest, relative to the placed
// centre: the most compact touching place, the one nearest that centre; the
// first direction wins a tie. A piece that no approach brings into touch
// passes clear of every placed atom along all of them, so it fits at the
// centre itself.
Vec resting_offset(const std::vector<Vec>& placed, const std::vector<Vec>& moving) {
    static const std::array<Vec, 26> directions = approach_directions();
    double best = std::numeric_limits<double>::infinity();
    Vec offset{};
    for (const Vec& d : directions) {
        const std::optional<double> s = first_touch(placed, moving, d);
        if (s && std::fabs(*s) < best) {
            best = std::fabs(*s);
            offset = {*s * d[0], *s * d[1], *s * d[2]};
        }
    }
    return offset;
}

}  // namespace

void place_pieces(const core::MolBuilder& mol, std::span<double> flat) {
    const std::size_t n = mol.atoms.size();
    if (flat.size() != 3 * n)
        internal_error("坐标数 " + std::to_string(flat.size()) + " 与原子数 " + std::to_string(n) + " 不符");
    const std::vector<std::uint32_t> component = core::connected_components(mol);
    std::uint32_t count = 0;
    for (std::uint32_t c : component) count = std::max(count, c + 1);
    if (count < 2) return;
    // A coordinate the refinement lost would make every later shift, and the
    // common centre, undefined: the pieces then stay where they were, so the
    // loss stays in its own piece.
    if (std::ranges::any_of(flat, [](double v) { return !std::isfinite(v); })) return;
    const Grouped groups = group_by_piece(component, count);
    auto size_of = [&](std::uint32_t c) { return groups.start[c + 1] - groups.start[c]; };

    // Largest first: the main molecule of a salt or hydrate stays the anchor
    // and its counter-ions and waters gather around it, each finding its
    // snuggest side; placed after them it would only be pushed to the edge.
    // Equal sizes go in the order the molecule lists them.
    std::vector<std::uint32_t> order(count);
    for (std::uint32_t c = 0; c < count; ++c) order[c] = c;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return size_of(a) != size_of(b) ? size_of(a) > size_of(b) : a < b;
    });

    std::vector<Vec> shift(count, Vec{});
    std::vector<Vec> moved(n);  // positions of the atoms placed so far
    Vec sum{};                  // of the placed positions, summed in placing order
    std::size_t placed_count = 0;
    std::vector<Vec> placed_rel, moving_rel;
    placed_rel.reserve(n);
    moving_rel.reserve(n);

    for (std::uint32_t step = 0; step < count; ++step) {
        const std::uint32_t c = order[step];
        const std::uint32_t begin = groups.start[c], end = groups.start[c + 1];
        if (step > 0) {
            Vec centre_q{}, centre_p{};
            for (std::uint32_t k = begin; k < end; ++k) {
                const Vec p = position(flat, groups.atoms[k]);
                for (int a = 0; a < 3; ++a) centre_q[a] += p[a];
            }
            for (int a = 0; a < 3; ++a) {
                centre_q[a] /= static_cast<double>(end - begin);
                centre_p[a] = sum[a] / static_cast<double>(placed_count);
            }
            moving_rel.clear();
            for (std::uint32_t k = begin; k < end; ++k) {
                const Vec p = position(flat, groups.atoms[k]);
                moving_rel.push_back({p[0] - centre_q[0], p[1] - centre_q[1], p[2] - centre_q[2]});
            }
            placed_rel.clear();
            for (std::uint32_t s = 0; s < step; ++s)
                for (std::uint32_t k = groups.start[order[s]]; k < groups.start[order[s] + 1]; ++k) {
                    const Vec& p = moved[groups.atoms[k]];
                    placed_rel.push_back({p[0] - centre_p[0], p[1] - centre_p[1], p[2] - centre_p[2]});
                }
            const Vec offset = resting_offset(placed_rel, moving_rel);
            for (int a = 0; a < 3; ++a) shift[c][a] = centre_p[a] + offset[a] - centre_q[a];
        }
        for (std::uint32_t k = begin; k < end; ++k) {
            const std::uint32_t atom = groups.atoms[k];
            const Vec p = position(flat, atom);
            for (int a = 0; a < 3; ++a) {
                moved[atom][a] = p[a] + shift[c][a];
                sum[a] += moved[atom][a];
            }
        }
        placed_count += end - begin;
    }

    // Centred as one: the embedding centred all pieces together, which left
    // each of them hundreds of ångström out. Each atom then moves once, by its
    // piece's whole shift.
    Vec centre{};
    for (std::size_t i = 0; i < n; ++i)
        for (int a = 0; a < 3; ++a) centre[a] += moved[i][a];
    for (int a = 0; a < 3; ++a) centre[a] /= static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i)
        for (int a = 0; a < 3; ++a) flat[3 * i + a] += on_grid(shift[component[i]][a] - centre[a]);
}

}  // namespace quorix::conf
