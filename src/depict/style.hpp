#pragma once
// The one 2-D drawing style. Several numbers are carried only so the record is
// whole; the layout reads bond length, chain angle and font size, the SVG writer
// only the font family.
#include <string_view>

namespace quorix::depict {

struct Style2d {
    std::string_view name;
    std::string_view font_family;
    double bond_length;   // pt
    double line_width;    // pt
    double bold_width;    // pt
    double margin_width;  // pt
    double hash_spacing;  // pt
    double bond_spacing;  // percent of bond_length
    double chain_angle;   // degrees
    double font_size;     // pt
    double aux_size;
};

inline constexpr Style2d STYLE_2D{
    "ACS Document 1996", "Arial, Helvetica, sans-serif", 14.4, 0.6, 2.0, 1.6, 2.5, 18.0, 120.0, 10.0, 10.0,
};

}  // namespace quorix::depict
