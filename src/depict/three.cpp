#include "depict/three.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "conf/linalg.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/numeric.hpp"
#include "core/scratch.hpp"
#include "depict/orient.hpp"
#include "io/smiles/canonical.hpp"

namespace quorix::depict {

namespace {

constexpr double EPSILON = 2.220446049250313e-16;
constexpr double MARGIN = 8.0;  // points on each side
// Depth pieces per bond half: one per quarter Å, capped so that a wildly long
// bond cannot turn into millions of items.
constexpr double PIECES_PER_ANGSTROM = 4.0;
constexpr std::int64_t MAX_PIECES = 1024;

constexpr Rgb rgb(std::uint32_t hex) {
    return {std::uint8_t(hex >> 16), std::uint8_t(hex >> 8), std::uint8_t(hex)};
}

std::int64_t quantise(double v) { return core::round_saturating<std::int64_t>(v * 1000000.0); }

double dot(const Point3& a, const Point3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Point3 cross(const Point3& a, const Point3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// A scene item in Å in the projected frame, with its drawing-order key.
struct Pending {
    std::int64_t depth;
    std::uint8_t layer;  // 0 ball, 1 bond segment
    std::array<std::int64_t, 4> geometry;
    Rgb colour;
    double size;  // ball radius or line width
    double x1, y1, x2, y2;

    auto key() const { return std::tie(depth, layer, geometry, colour); }
};

bool draws_before(const Pending& a, const Pending& b) {
    if (a.key() != b.key()) return a.key() < b.key();
    // Equal keys draw alike; the exact values only pin the order down.
    const double va[5] = {a.size, a.x1, a.y1, a.x2, a.y2}, vb[5] = {b.size, b.x1, b.y1, b.x2, b.y2};
    for (int k = 0; k < 5; ++k)
        if (total_order_key(va[k]) != total_order_key(vb[k])) return total_order_key(va[k]) < total_order_key(vb[k]);
    return false;
}

struct SceneWork {
    std::vector<Point3> projected;
    std::vector<double> radii;  // Å, per atom
    std::vector<Pending> pending;
    std::vector<std::uint32_t> order;
    std::vector<std::array<std::int64_t, 3>> triples, best;
};

void push_bond_half(std::vector<Pending>& items, const Point3& s, const Point3& e, Rgb colour, double cut,
                    double width) {
    const Point3 se{e[0] - s[0], e[1] - s[1], e[2] - s[2]};
    const double length = std::sqrt(dot(se, se));
    if (cut >= length) return;
    Point3 start = s;
    if (cut > 0.0)
        for (int k = 0; k < 3; ++k) start[k] = s[k] + se[k] * cut / length;
    const Point3 delta{e[0] - start[0], e[1] - start[1], e[2] - start[2]};
    const std::int64_t pieces = std::clamp<std::int64_t>(
        core::saturating_cast<std::int64_t>(std::ceil(PIECES_PER_ANGSTROM * std::abs(delta[2]))), 1, MAX_PIECES);
    for (std::int64_t k = 0; k < pieces; ++k) {
        const double t0 = double(k) / double(pieces), t1 = double(k + 1) / double(pieces);
        Pending p{};
        p.layer = 1;
        p.colour = colour;
        p.size = width;
        p.x1 = start[0] + delta[0] * t0;
        p.y1 = start[1] + delta[1] * t0;
        p.x2 = start[0] + delta[0] * t1;
        p.y2 = start[1] + delta[1] * t1;
        p.depth = quantise(((start[2] + delta[2] * t0) + (start[2] + delta[2] * t1)) / 2.0);
        p.geometry = {quantise(p.x1), quantise(p.y1), quantise(p.x2), quantise(p.y2)};
        items.push_back(p);
    }
}

std::size_t line_count(core::BondOrder order, double spacing, double l2) {
    if (!(spacing > 0.0 && l2 > EPSILON)) return 1;
    switch (order) {
        case core::BondOrder::Double: return 2;
        case core::BondOrder::Triple:
        case core::BondOrder::Quadruple: return 3;
        default: return 1;
    }
}

void push_bonds(const core::MolBuilder& mol, const Style3d& style, SceneWork& w) {
    for (const core::Bond& bond : mol.bonds) {
        const Point3& p = at(w.projected, bond.begin);
        const Point3& q = at(w.projected, bond.end);
        const double dx = q[0] - p[0], dy = q[1] - p[1], dz = q[2] - p[2];
        const double l2 = std::sqrt(dx * dx + dy * dy);
        const double l3 = std::sqrt(dx * dx + dy * dy + dz * dz);
        const std::size_t lines = line_count(bond.order, style.bond_spacing, l2);
        const double nx = l2 > EPSILON ? dy / l2 : 0.0, ny = l2 > EPSILON ? -dx / l2 : 0.0;
        const Rgb ca = element_colour(mol.atoms[bond.begin].atomic_num);
        const Rgb cb = element_colour(mol.atoms[bond.end].atomic_num);
        const double ra = w.radii[bond.begin], rb = w.radii[bond.end];
        for (std::size_t k = 0; k < lines; ++k) {
            const double o = style.bond_spacing * (double(k) - double(lines - 1) / 2.0);
            const Point3 a{p[0] + nx * o, p[1] + ny * o, p[2]};
            const Point3 b{q[0] + nx * o, q[1] + ny * o, q[2]};
            const Point3 m{(a[0] + b[0]) / 2.0, (a[1] + b[1]) / 2.0, (p[2] + q[2]) / 2.0};
            const double cut_a = std::min(std::sqrt(std::max(ra * ra - o * o, 0.0)), l3 / 2.0);
            const double cut_b = std::min(std::sqrt(std::max(rb * rb - o * o, 0.0)), l3 / 2.0);
            push_bond_half(w.pending, a, m, ca, cut_a, 2.0 * style.bond_radius);
            push_bond_half(w.pending, b, m, cb, cut_b, 2.0 * style.bond_radius);
        }
    }
}

void push_balls(const core::MolBuilder& mol, SceneWork& w) {
    for (std::size_t i = 0; i < mol.atoms.size(); ++i) {
        const double r = w.radii[i];
        if (!(r > 0.0)) continue;
        const Point3& c = w.projected[i];
        Pending p{};
        p.layer = 0;
        p.colour = element_colour(mol.atoms[i].atomic_num);
        p.size = r;
        p.x1 = c[0];
        p.y1 = c[1];
        p.depth = quantise(c[2]);
        p.geometry = {quantise(c[0]), quantise(c[1]), quantise(r), 0};
        w.pending.push_back(p);
    }
}

struct Bounds {
    double min_x = 0.0, min_y = 0.0, max_x = 0.0, max_y = 0.0;
};

Bounds item_bounds(const std::vector<Pending>& items) {
    if (items.empty()) return {};
    constexpr double inf = std::numeric_limits<double>::infinity();
    Bounds b{inf, inf, -inf, -inf};
    auto take = [&b](double x, double y, double reach) {
        b.min_x = std::min(b.min_x, x - reach);
        b.max_x = std::max(b.max_x, x + reach);
        b.min_y = std::min(b.min_y, y - reach);
        b.max_y = std::max(b.max_y, y + reach);
    };
    for (const Pending& p : items) {
        if (p.layer == 0) {
            take(p.x1, p.y1, p.size);
        } else {
            take(p.x1, p.y1, p.size / 2.0);
            take(p.x2, p.y2, p.size / 2.0);
        }
    }
    return b;
}

// The position indices in the three-dimensional point ordering; canonical ranks
// are computed only when two positions coincide, the one case they decide.
void visiting_order(const core::MolBuilder& mol, std::span<const Point3> coords, std::vector<std::uint32_t>& order) {
    sort_points_3d(coords, {}, order);
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (std::ranges::equal(coords[order[k - 1]], coords[order[k]], {}, total_order_key, total_order_key)) {
            const std::vector<std::uint32_t> ranks = io::canonical_ranks(mol);
            sort_points_3d(coords, ranks, order);
            return;
        }
    }
}

PrincipalAxes axes_in_order(std::span<const Point3> coords, std::span<const std::uint32_t> order, SceneWork& w) {
    PrincipalAxes result;
    if (coords.size() < 2) return result;
    Point3 c{0, 0, 0};
    for (std::uint32_t i : order)
        for (int k = 0; k < 3; ++k) c[k] += coords[i][k];
    for (int k = 0; k < 3; ++k) c[k] /= double(coords.size());

    std::array<double, 9> scatter{};
    for (std::uint32_t i : order) {
        const Point3 d{coords[i][0] - c[0], coords[i][1] - c[1], coords[i][2] - c[2]};
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) scatter[a * 3 + b] += d[a] * d[b];
    }
    const auto eigen = conf::symmetric_eigen(scatter, 3);
    if (!eigen) {
        result.degenerate = true;
        return result;
    }
    const auto& values = eigen->values;
    const auto& vectors = eigen->vectors;
    const Point3 e0{vectors[0], vectors[1], vectors[2]}, e1{vectors[3], vectors[4], vectors[5]};

    // Signs from the coordinates alone: the candidate whose sorted quantised
    // projections come first wins, the first tried on a tie.
    bool have_best = false;
    for (const auto& [s0, s1] : {std::pair{1.0, 1.0}, {1.0, -1.0}, {-1.0, 1.0}, {-1.0, -1.0}}) {
        const Point3 a0{s0 * e0[0], s0 * e0[1], s0 * e0[2]}, a1{s1 * e1[0], s1 * e1[1], s1 * e1[2]};
        const Point3 a2 = cross(a0, a1);
        w.triples.clear();
        for (const Point3& p : coords) {
            const Point3 d{p[0] - c[0], p[1] - c[1], p[2] - c[2]};
            w.triples.push_back({quantise(dot(a0, d)), quantise(dot(a1, d)), quantise(dot(a2, d))});
        }
        std::sort(w.triples.begin(), w.triples.end());
        if (!have_best || w.triples < w.best) {
            have_best = true;
            std::swap(w.best, w.triples);
            result.axes = {a0, a1, a2};
        }
    }
    result.centroid = c;
    const double t = 1e-6 * std::max(std::abs(values[0]), 2.2250738585072014e-308);
    result.degenerate = std::abs(values[0] - values[1]) <= t || std::abs(values[1] - values[2]) <= t;
    return result;
}

}  // namespace

const std::array<Rgb, 119> ELEMENT_COLOURS = [] {
    constexpr std::uint32_t hex[119] = {
        0xff1493, 0xffffff, 0xd9ffff, 0xcc80ff, 0xc2ff00, 0xffb5b5, 0x909090, 0x3050f8, 0xff0d0d, 0x90e050,
        0xb3e3f5, 0xab5cf2, 0x8aff00, 0xbfa6a6, 0xf0c8a0, 0xff8000, 0xffff30, 0x1ff01f, 0x80d1e3, 0x8f40d4,
        0x3dff00, 0xe6e6e6, 0xbfc2c7, 0xa6a6ab, 0x8a99c7, 0x9c7ac7, 0xe06633, 0xf090a0, 0x50d050, 0xc88033,
        0x7d80b0, 0xc28f8f, 0x668f8f, 0xbd80e3, 0xffa100, 0xa62929, 0x5cb8d1, 0x702eb0, 0x00ff00, 0x94ffff,
        0x94e0e0, 0x73c2c9, 0x54b5b5, 0x3b9e9e, 0x248f8f, 0x0a7d8c, 0x006985, 0xc0c0c0, 0xffd98f, 0xa67573,
        0x668080, 0x9e63b5, 0xd47a00, 0x940094, 0x429eb0, 0x57178f, 0x00c900, 0x70d4ff, 0xffffc7, 0xd9ffc7,
        0xc7ffc7, 0xa3ffc7, 0x8fffc7, 0x61ffc7, 0x45ffc7, 0x30ffc7, 0x1fffc7, 0x00ff9c, 0x00e675, 0x00d452,
        0x00bf38, 0x00ab24, 0x4dc2ff, 0x4da6ff, 0x2194d6, 0x267dab, 0x266696, 0x175487, 0xd0d0e0, 0xffd123,
        0xb8b8d0, 0xa6544d, 0x575961, 0x9e4fb5, 0xab5c00, 0x754f45, 0x428296, 0x420066, 0x007d00, 0x70abfa,
        0x00baff, 0x00a1ff, 0x008fff, 0x0080ff, 0x006bff, 0x545cf2, 0x785ce3, 0x8a4fe3, 0xa136d4, 0xb31fd4,
        0xb31fba, 0xb30da6, 0xbd0d87, 0xc70066, 0xcc0059, 0xd1004f, 0xd90045, 0xe00038, 0xe6002e, 0xeb0026,
        0xff1493, 0xff1493, 0xff1493, 0xff1493, 0xff1493, 0xff1493, 0xff1493, 0xff1493, 0xff1493,
    };
    std::array<Rgb, 119> out{};
    for (std::size_t z = 0; z < out.size(); ++z) out[z] = rgb(hex[z]);
    return out;
}();

Rgb element_colour(std::uint32_t atomic_num) {
    return ELEMENT_COLOURS[atomic_num < ELEMENT_COLOURS.size() ? atomic_num : 0];
}

double element_radius(std::uint32_t atomic_num) {
    const core::ElementInfo* info = core::element(atomic_num);
    return info && info->vdw_radius > 0.0f ? double(info->vdw_radius) : 1.7;
}

const Style3d* style_3d(std::string_view name) {
    for (const Style3d& s : STYLES_3D)
        if (s.name == name) return &s;
    return nullptr;
}

std::string to_string(const Scene3dError& error) {
    if (const auto* e = std::get_if<CoordCountMismatch>(&error))
        return "分子有 " + std::to_string(e->atoms) + " 个原子,给进来的坐标有 " + std::to_string(e->coords) + " 组";
    return "第 " + std::to_string(std::get<NonFiniteCoord>(error).atom) + " 个原子的坐标不是有限数";
}

PrincipalAxes principal_axes(std::span<const Point3> coords, std::span<const std::uint32_t> ranks) {
    if (ranks.size() != coords.size()) internal_error("秩与坐标数必须一一对应");
    auto w = core::Scratch<SceneWork>::borrow(coords.size());
    sort_points_3d(coords, ranks, w->order);
    return axes_in_order(coords, w->order, *w);
}

std::expected<Scene3d, Scene3dError> build_scene_3d(const core::MolBuilder& mol, std::span<const Point3> coords,
                                                    const Style3d& style) {
    const std::size_t n = mol.atoms.size();
    if (coords.size() != n) return std::unexpected(CoordCountMismatch{n, coords.size()});
    for (std::size_t i = 0; i < n; ++i)
        for (double v : coords[i])
            if (!std::isfinite(v)) return std::unexpected(NonFiniteCoord{i});

    auto work = core::Scratch<SceneWork>::borrow(n);
    SceneWork& w = *work;
    Scene3d scene;
    visiting_order(mol, coords, w.order);
    scene.axes = axes_in_order(coords, w.order, w);
    scene.style_name = style.name;

    const auto& ax = scene.axes.axes;
    const Point3& c = scene.axes.centroid;
    w.projected.resize(n);
    w.radii.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Point3 d{coords[i][0] - c[0], coords[i][1] - c[1], coords[i][2] - c[2]};
        w.projected[i] = {dot(ax[0], d), dot(ax[1], d), dot(ax[2], d)};
        w.radii[i] = style.ball_scale * element_radius(mol.atoms[i].atomic_num);
    }

    w.pending.clear();
    w.pending.reserve(n + 4 * mol.bonds.size());
    if (style.bond_radius > 0.0) push_bonds(mol, style, w);
    push_balls(mol, w);
    std::sort(w.pending.begin(), w.pending.end(), draws_before);

    const Bounds b = item_bounds(w.pending);
    const double s = style.scale;
    scene.width = (b.max_x - b.min_x) * s + 2 * MARGIN;
    scene.height = (b.max_y - b.min_y) * s + 2 * MARGIN;
    auto map_x = [&](double x) { return MARGIN + (x - b.min_x) * s; };
    auto map_y = [&](double y) { return MARGIN + (b.max_y - y) * s; };

    scene.items.resize(w.pending.size());
    for (std::size_t k = 0; k < w.pending.size(); ++k) {
        const Pending& p = w.pending[k];
        SceneItem& item = scene.items[k];
        item.kind = p.layer == 0 ? ItemKind::Ball : ItemKind::BondHalf;
        item.colour = p.colour;
        item.width = p.size * s;
        item.x1 = map_x(p.x1);
        item.y1 = map_y(p.y1);
        if (p.layer != 0) {
            item.x2 = map_x(p.x2);
            item.y2 = map_y(p.y2);
        }
    }
    scene.atoms.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        scene.atoms[i] = {map_x(w.projected[i][0]), map_y(w.projected[i][1]), w.projected[i][2], s * w.radii[i]};
    return scene;
}

}  // namespace quorix::depict
