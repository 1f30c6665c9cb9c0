#pragma once
// A molecule with 3-D positions turned into a flat, depth-sorted picture: balls
// and bond segments in painter's order, seen along the principal axes.
#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/builder.hpp"
#include "depict/label.hpp"

namespace quorix::depict {

struct Style3d {
    std::string_view name;
    double ball_scale;    // ball radius / van der Waals radius; 0 draws no balls
    double bond_radius;   // Å; bonds drawn only above 0, lines 2 × this wide
    double bond_spacing;  // Å between the lines of a multiple bond; 0 draws one line
    double scale;         // points per Å
};

inline constexpr std::array<Style3d, 4> STYLES_3D{{
    {"space-filling", 1.0, 0.0, 0.0, 24.0},
    {"ball-and-stick", 0.23, 0.15, 0.35, 36.0},
    {"stick", 0.0, 0.30, 0.0, 36.0},
    {"wireframe", 0.0, 0.01, 0.25, 36.0},
}};

// Exact, case-sensitive; nullptr for any other name.
const Style3d* style_3d(std::string_view name);

using Rgb = std::array<std::uint8_t, 3>;

// Entries 0..118; anything above 118 draws as entry 0.
extern const std::array<Rgb, 119> ELEMENT_COLOURS;
Rgb element_colour(std::uint32_t atomic_num);
// The van der Waals radius in Å, 1.7 where the table has none.
double element_radius(std::uint32_t atomic_num);

// Kinds shared with the SVG writer; the 3-D scene makes only Ball and BondHalf.
enum class ItemKind : std::uint8_t { Line = 0, SolidWedge = 1, HashedWedge = 2, Ball = 3, BondHalf = 4, Label = 5 };

// One drawing item in points, y growing downwards. Fields by kind:
// Line: width, (x1, y1)-(x2, y2). SolidWedge: width (base), apex (x1, y1), base
// centre (x2, y2). HashedWedge: width (wide end), spacing, stroke, narrow end
// (x1, y1), wide end (x2, y2). Ball: colour, width = radius, centre (x1, y1).
// BondHalf: colour, width, (x1, y1)-(x2, y2). Label: anchor (x1, y1), width =
// font size, runs.
struct SceneItem {
    ItemKind kind = ItemKind::Line;
    Rgb colour{0, 0, 0};
    double width = 0.0;
    double x1 = 0.0, y1 = 0.0, x2 = 0.0, y2 = 0.0;
    double spacing = 0.0;
    double stroke = 0.0;
    std::vector<LabelRun> runs;
};

struct PrincipalAxes {
    std::array<std::array<double, 3>, 3> axes{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    std::array<double, 3> centroid{0, 0, 0};
    bool degenerate = false;
};

struct SceneAtom {
    double x = 0.0, y = 0.0;  // points
    double depth = 0.0;       // Å along the viewing axis, larger is nearer
    double radius = 0.0;      // points
};

struct Scene3d {
    std::vector<SceneItem> items;  // back to front
    double width = 0.0, height = 0.0;
    std::vector<SceneAtom> atoms;
    PrincipalAxes axes;
    std::string_view style_name;
};

struct CoordCountMismatch {
    std::uint64_t atoms, coords;
    bool operator==(const CoordCountMismatch&) const = default;
};
struct NonFiniteCoord {
    std::uint64_t atom;
    bool operator==(const NonFiniteCoord&) const = default;
};
using Scene3dError = std::variant<CoordCountMismatch, NonFiniteCoord>;
std::string to_string(const Scene3dError& error);

using Point3 = std::array<double, 3>;

std::expected<Scene3d, Scene3dError> build_scene_3d(const core::MolBuilder& mol, std::span<const Point3> coords,
                                                    const Style3d& style);

// Screen x, screen y and depth from the coordinates alone; `ranks` order atoms
// that sit at exactly the same place.
PrincipalAxes principal_axes(std::span<const Point3> coords, std::span<const std::uint32_t> ranks);

}  // namespace quorix::depict
