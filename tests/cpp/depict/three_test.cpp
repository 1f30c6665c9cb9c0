#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "depict/render.hpp"
#include "depict/three.hpp"
#include "support.hpp"

namespace quorix::depict {
namespace {

const Style3d& style(std::string_view name) { return *style_3d(name); }

core::MolBuilder chain(std::vector<std::uint8_t> elements, std::vector<std::array<std::uint32_t, 3>> bonds) {
    core::MolBuilder m;
    for (std::uint8_t z : elements) {
        core::Atom a;
        a.atomic_num = z;
        m.add_atom(a);
    }
    for (auto [b, e, order] : bonds) {
        core::Bond bond;
        bond.begin = b;
        bond.end = e;
        bond.order = core::BondOrder(order);
        m.push_bond(bond);
    }
    return m;
}

std::size_t count(const Scene3d& s, ItemKind kind) {
    return std::count_if(s.items.begin(), s.items.end(), [&](const SceneItem& it) { return it.kind == kind; });
}

TEST(Scene3d, EmptyMolecule) {
    const auto scene = build_scene_3d(core::MolBuilder{}, {}, style("ball-and-stick"));
    ASSERT_TRUE(scene);
    EXPECT_TRUE(scene->items.empty());
    EXPECT_FALSE(scene->axes.degenerate);
    EXPECT_EQ(scene->width, 16.0);
    EXPECT_EQ(scene->height, 16.0);
    EXPECT_EQ(scene->style_name, "ball-and-stick");
}

TEST(Scene3d, OneAtomKeepsItsInputFrame) {
    const std::vector<Point3> at{{3, -2, 5}};
    const auto scene = build_scene_3d(chain({6}, {}), at, style("ball-and-stick"));
    ASSERT_TRUE(scene);
    ASSERT_EQ(scene->items.size(), 1u);
    const double r = 0.23 * double(1.70f);
    EXPECT_NEAR(scene->width, 2 * r * 36 + 16, 1e-9);
    EXPECT_NEAR(scene->height, 2 * r * 36 + 16, 1e-9);
    EXPECT_EQ(scene->atoms[0].depth, 5.0);
    EXPECT_EQ(scene->atoms[0].radius, r * 36);
    EXPECT_EQ(scene->items[0].colour, (Rgb{0x90, 0x90, 0x90}));
}

TEST(Scene3d, Refusals) {
    const auto mol = chain({6, 6, 6, 6}, {});
    const std::vector<Point3> three{{0, 0, 0}, {NAN, 0, 0}, {1, 1, 1}};
    const auto short_list = build_scene_3d(mol, three, style("stick"));
    ASSERT_FALSE(short_list);
    EXPECT_EQ(short_list.error(), Scene3dError(CoordCountMismatch{4, 3}));
    EXPECT_EQ(to_string(short_list.error()), "分子有 4 个原子,给进来的坐标有 3 组");
    const std::vector<Point3> infinite{{0, 0, 0}, {1, 0, 0}, {0, INFINITY, 0}, {NAN, 0, 0}};
    const auto bad = build_scene_3d(mol, infinite, style("stick"));
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), Scene3dError(NonFiniteCoord{2}));
    EXPECT_EQ(to_string(bad.error()), "第 2 个原子的坐标不是有限数");
}

// Coincident atoms are ordered by rank; a bond of zero length draws nothing.
TEST(Scene3d, CoincidentAtoms) {
    const auto mol = chain({8, 7, 6}, {{0, 1, 2}, {1, 2, 1}});
    const std::vector<Point3> pts{{1, 1, 1}, {1, 1, 1}, {2.5, 1, 0}};
    const auto scene = build_scene_3d(mol, pts, style("ball-and-stick"));
    ASSERT_TRUE(scene);
    EXPECT_TRUE(scene->axes.degenerate);
    EXPECT_EQ(count(*scene, ItemKind::Ball), 3u);
    EXPECT_EQ(count(*scene, ItemKind::BondHalf), 2u);
    EXPECT_EQ(scene->atoms[0].x, scene->atoms[1].x);
}

TEST(Scene3d, WildcardAndUnknownElements) {
    EXPECT_EQ(element_radius(0) + element_radius(200), 3.4);
    EXPECT_EQ(element_colour(200), element_colour(118));
    EXPECT_EQ(element_colour(79), (Rgb{0xff, 0xd1, 0x23}));
}

TEST(Scene3d, ColourRows) {
    const std::pair<std::uint32_t, Rgb> rows[] = {{0, {0xff, 0x14, 0x93}},  {1, {0xff, 0xff, 0xff}},
                                                  {7, {0x30, 0x50, 0xf8}},  {8, {0xff, 0x0d, 0x0d}},
                                                  {53, {0x94, 0x00, 0x94}}, {109, {0xeb, 0x00, 0x26}},
                                                  {110, {0xff, 0x14, 0x93}}};
    for (const auto& [z, colour] : rows) EXPECT_EQ(element_colour(z), colour) << z;
}

// Two carbons 1.5 Å apart: each half starts where its line leaves the ball and
// ends at the middle; at equal depth both balls paint before the halves.
TEST(Scene3d, HalvesStartAtTheBallSurface) {
    const std::vector<Point3> pts{{-0.75, 0, 0}, {0.75, 0, 0}};
    const auto scene = build_scene_3d(chain({6, 6}, {{0, 1, 1}}), pts, style("ball-and-stick"));
    ASSERT_TRUE(scene);
    const double r = 0.23 * double(1.70f);
    ASSERT_EQ(scene->items.size(), 4u);
    EXPECT_EQ(scene->items[0].kind, ItemKind::Ball);
    EXPECT_EQ(scene->items[1].kind, ItemKind::Ball);
    EXPECT_LT(scene->items[0].x1, scene->items[1].x1);
    EXPECT_NEAR(scene->width, (1.5 + 2 * r) * 36 + 16, 1e-9);
    EXPECT_NEAR(scene->height, 2 * r * 36 + 16, 1e-9);
    std::vector<double> starts;
    for (std::size_t k = 2; k < 4; ++k) {
        const SceneItem& half = scene->items[k];
        EXPECT_EQ(half.kind, ItemKind::BondHalf);
        EXPECT_NEAR(half.width, 0.3 * 36, 1e-12);
        EXPECT_NEAR(half.x2, scene->width / 2, 1e-9);
        starts.push_back(half.x1);
    }
    std::sort(starts.begin(), starts.end());
    EXPECT_NEAR(starts[0], 8 + 2 * r * 36, 1e-9);
    EXPECT_NEAR(starts[1], scene->width - 8 - 2 * r * 36, 1e-9);
}

// Six atoms on the coordinate axes with spreads 4 > 3 > c: the principal axes are
// the coordinate axes, so a bond from (4, 0, 0) to (0, 0, c) changes depth by c.
std::vector<Point3> axis_points(double c) {
    return {{4, 0, 0}, {-4, 0, 0}, {0, 3, 0}, {0, -3, 0}, {0, 0, c}, {0, 0, -c}};
}

TEST(Scene3d, BondHalvesSplitPerQuarterAngstromOfDepth) {
    for (auto [c, pieces] : {std::pair{2.0, 4u}, {2.2, 5u}}) {
        const auto mol = chain({6, 6, 6, 6, 6, 6}, {{0, 4, 1}, {2, 3, 1}});
        const auto scene = build_scene_3d(mol, axis_points(c), style("stick"));
        ASSERT_TRUE(scene);
        // The 2–3 bond lies in the screen plane: one piece per half.
        EXPECT_EQ(count(*scene, ItemKind::BondHalf), 2 * pieces + 2) << c;
        EXPECT_EQ(count(*scene, ItemKind::Ball), 0u);
        for (const SceneAtom& a : scene->atoms) EXPECT_EQ(a.radius, 0.0);
    }
}

TEST(Scene3d, DepthPiecesAreCapped) {
    std::vector<Point3> pts = axis_points(2.0);
    for (Point3& p : pts)
        for (double& v : p) v *= 1e4;
    const auto scene = build_scene_3d(chain({6, 6, 6, 6, 6, 6}, {{4, 5, 1}}), pts, style("stick"));
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->items.size(), 2u * 1024);
}

TEST(Scene3d, MultipleBondLines) {
    const std::vector<Point3> pts = axis_points(2.0);
    // 0=1 lies across the screen; 4=5 is seen end-on.
    const auto mol = chain({6, 6, 6, 6, 6, 6}, {{0, 1, 2}, {4, 5, 2}, {2, 3, 5}});
    const auto scene = build_scene_3d(mol, pts, style("ball-and-stick"));
    ASSERT_TRUE(scene);
    std::set<double> across, end_on;
    for (const SceneItem& it : scene->items) {
        if (it.kind != ItemKind::BondHalf) continue;
        if (it.y1 == it.y2 && it.x1 != it.x2) across.insert(it.y1);
        if (it.x1 == it.x2 && it.y1 == it.y2) end_on.insert(it.x1 * 1000 + it.y1);
    }
    ASSERT_EQ(across.size(), 2u);  // the aromatic 2–3 bond runs vertically, one line
    EXPECT_NEAR(*across.rbegin() - *across.begin(), 0.35 * 36, 1e-9);
    EXPECT_EQ(end_on.size(), 1u);
    EXPECT_EQ(count(*build_scene_3d(mol, pts, style("stick")), ItemKind::BondHalf), 2u + 2 * 8 + 2);
    EXPECT_EQ(count(*build_scene_3d(mol, pts, style("space-filling")), ItemKind::BondHalf), 0u);
}

double volume(const Point3& a, const Point3& b, const Point3& c, const Point3& o) {
    const Point3 u{a[0] - o[0], a[1] - o[1], a[2] - o[2]}, v{b[0] - o[0], b[1] - o[1], b[2] - o[2]},
        w{c[0] - o[0], c[1] - o[1], c[2] - o[2]};
    return u[0] * (v[1] * w[2] - v[2] * w[1]) - u[1] * (v[0] * w[2] - v[2] * w[0]) + u[2] * (v[0] * w[1] - v[1] * w[0]);
}

// The signs put the smallest sorted projections first: the atom far out along
// the long axis lands on the left, and its own screen-y projection is negative;
// depth completes a right-handed frame, so the picture is never mirrored.
TEST(Scene3d, AxisSignsFromTheCoordinates) {
    const std::vector<Point3> pts{{6, 1, 0.5}, {-3, 2, -0.2}, {-3, -2.5, 0.1}, {0, -0.5, -0.4}};
    const auto scene = build_scene_3d(chain({6, 6, 6, 6}, {}), pts, style("stick"));
    ASSERT_TRUE(scene && scene->items.empty());
    std::vector<Point3> seen;  // with no items the canvas maps x to 8 + 36x and y to 8 - 36y
    for (const SceneAtom& a : scene->atoms) seen.push_back({(a.x - 8) / 36, (8 - a.y) / 36, a.depth});
    for (std::size_t i = 1; i < 4; ++i) EXPECT_LT(seen[0][0], seen[i][0]);
    EXPECT_LT(seen[0][1], 0.0);
    EXPECT_GT(volume(pts[1], pts[2], pts[3], pts[0]) * volume(seen[1], seen[2], seen[3], seen[0]), 0.0);
}

// Deterministic stand-in coordinates for real molecules: a distorted helix.
std::vector<Point3> helix(std::uint32_t n) {
    std::vector<Point3> out;
    for (std::uint32_t i = 0; i < n; ++i)
        out.push_back({std::cos(i * 2.4) * (1 + 0.1 * i), std::sin(i * 2.4) * (1 + 0.05 * i), 0.4 * (i % 7) - 0.1 * i});
    return out;
}

// The quoted values that follow `prefix` up to `stop`, in order.
std::vector<std::string> values_after(const std::string& svg, const std::string& prefix, char stop) {
    std::vector<std::string> out;
    for (std::size_t at = svg.find(prefix); at != std::string::npos; at = svg.find(prefix, at + 1)) {
        const std::size_t from = at + prefix.size();
        out.push_back(svg.substr(from, svg.find(stop, from) - from));
    }
    return out;
}

// Every url(#id) the picture uses is defined in it, once.
void expect_references_defined(const std::string& svg) {
    std::set<std::string> defined;
    for (const std::string& id : values_after(svg, " id=\"", '"')) EXPECT_TRUE(defined.insert(id).second) << id;
    for (const std::string& id : values_after(svg, "url(#", ')')) EXPECT_TRUE(defined.count(id)) << id;
}

// Listing the atoms (and bonds, either way round) in another order changes
// nothing but the per-atom list, which follows the atoms.
TEST(Scene3d, IndependentOfAtomAndBondOrder) {
    std::mt19937 rng(7);
    const auto& mols = test::data_molecules_as_read();
    for (std::size_t k = 0; k < mols.size(); k += 97) {
        const core::MolBuilder& mol = mols[k];
        const std::vector<Point3> pts = helix(mol.num_atoms());
        std::vector<std::uint32_t> perm = test::identity(mol.num_atoms());
        std::shuffle(perm.begin(), perm.end(), rng);
        const core::MolBuilder other = test::scrambled(mol, perm, &rng);
        std::vector<Point3> other_pts(pts.size());
        for (std::size_t i = 0; i < pts.size(); ++i) other_pts[perm[i]] = pts[i];
        for (const Style3d& st : STYLES_3D) {
            const auto a = build_scene_3d(mol, pts, st), b = build_scene_3d(other, other_pts, st);
            ASSERT_TRUE(a && b);
            const std::string svg = write_svg(*a, STYLE_2D);
            ASSERT_EQ(svg, write_svg(*b, STYLE_2D)) << mols[k].num_atoms() << " " << st.name;
            for (std::size_t i = 0; i < pts.size(); ++i) ASSERT_EQ(a->atoms[i].depth, b->atoms[perm[i]].depth);
            expect_references_defined(svg);
        }
    }
}

// Turning the input rigidly (a quarter turn, exact in binary) leaves the view alone.
TEST(Scene3d, IndependentOfRigidRotation) {
    const auto& mols = test::data_molecules_as_read();
    for (std::size_t k = 5; k < mols.size(); k += 211) {
        const std::vector<Point3> pts = helix(mols[k].num_atoms());
        std::vector<Point3> turned;
        for (const Point3& p : pts) turned.push_back({-p[1], p[0] + 3, p[2] - 1});
        const auto a = build_scene_3d(mols[k], pts, style("ball-and-stick"));
        const auto b = build_scene_3d(mols[k], turned, style("ball-and-stick"));
        ASSERT_TRUE(a && b);
        if (a->axes.degenerate) continue;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            EXPECT_NEAR(a->atoms[i].x, b->atoms[i].x, 1e-6);
            EXPECT_NEAR(a->atoms[i].y, b->atoms[i].y, 1e-6);
            EXPECT_NEAR(a->atoms[i].depth, b->atoms[i].depth, 1e-6);
        }
    }
}

}  // namespace
}  // namespace quorix::depict
