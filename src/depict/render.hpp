#pragma once
// A finished scene written as one SVG picture: white background, one shared
// gradient per ball colour and per bond band, then the items back to front.
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include <span>
#include <vector>

#include "core/builder.hpp"
#include "depict/style.hpp"
#include "depict/three.hpp"

namespace quorix::depict {

// Every bond half with the same direction, offset line, width and colour shares
// one gradient; the normal is always turned towards the upper left.
struct BondBandKey {
    std::int64_t na, nb, off, hw;
    Rgb colour;
    auto operator<=>(const BondBandKey&) const = default;
};

BondBandKey bond_band_key(const SceneItem& half);
std::string gradient_id(const BondBandKey& key);
std::string xml_escape(std::string_view text);

// Fixed notation with `decimals` digits, correctly rounded from the binary value;
// "-0.00" for a negative zero, "NaN", "inf" and "-inf" for the non-finite.
void append_fixed(std::string& out, double value, int decimals);

// Per channel: round((255 - c) * t + c) and round(c * s), clamped to 0..255.
Rgb highlight(Rgb colour, double t);
Rgb shade(Rgb colour, double s);

// Reads only the scene's size and items and the style's font family; never fails.
std::string write_svg(const Scene3d& scene, const Style2d& style);

// Per bond the order a 2-D molblock writes: aromatic bonds get the single and
// double orders of a Kekule form found on the canonically renumbered molecule,
// so the pattern does not depend on input atom order. Without a Kekule form the
// aromatic orders stay (the writer refuses them).
std::vector<core::BondOrder> render_molblock_2d(const core::MolBuilder& mol);
// Same, with the molecule's canonical ranks already at hand.
std::vector<core::BondOrder> render_molblock_2d(const core::MolBuilder& mol, std::span<const std::uint32_t> ranks);

}  // namespace quorix::depict
