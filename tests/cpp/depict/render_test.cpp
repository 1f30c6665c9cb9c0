#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "depict/render.hpp"

namespace quorix::depict {
namespace {

std::string fixed(double v, int decimals) {
    std::string out;
    append_fixed(out, v, decimals);
    return out;
}

TEST(Fixed, Boundaries) {
    constexpr double INF = std::numeric_limits<double>::infinity();
    const std::tuple<double, int, const char*> cases[] = {
        {0.0005, 3, "0.001"},  // the double lies just above the half
        {-0.0005, 3, "-0.001"}, {0.0004999, 3, "0.000"}, {-0.0004, 3, "-0.000"}, {-0.0, 2, "-0.00"},
        {0.125, 2, "0.12"},     {0.375, 2, "0.38"},      {2.675, 2, "2.67"},      {12.5, 2, "12.50"},
        {1e21, 2, "1000000000000000000000.00"}, {std::nan(""), 2, "NaN"}, {INF, 3, "inf"}, {-INF, 2, "-inf"},
    };
    for (const auto& [v, decimals, text] : cases) EXPECT_EQ(fixed(v, decimals), text) << v;
    EXPECT_EQ(fixed(-std::numeric_limits<double>::max(), 3).size(), 1 + 309 + 1 + 3);
}

// The writer's fast path against the library's correctly rounded formatting, on
// random magnitudes, near-halves and exact binary halves.
TEST(Fixed, AgreesWithLibraryFormatting) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-6, 12);
    for (int k = 0; k < 200000; ++k) {
        const int decimals = k % 4;
        double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        if (k % 3 == 0) v = (std::round(v * 1000) + 0.5) / std::pow(10.0, decimals);  // near a half
        if (k % 7 == 0) v = std::ldexp(std::round(std::ldexp(v, 3)), -3);               // exact eighths
        char buf[400];
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
        ASSERT_EQ(fixed(v, decimals), std::string(buf, r.ptr)) << v << " " << decimals;
    }
}

SceneItem item(ItemKind kind, double w, double x1, double y1, double x2 = 0, double y2 = 0, Rgb c = {0, 0, 0}) {
    SceneItem it;
    it.kind = kind;
    it.width = w;
    it.x1 = x1, it.y1 = y1, it.x2 = x2, it.y2 = y2;
    it.colour = c;
    return it;
}

constexpr Rgb RED{255, 0, 0};

TEST(WriteSvg, EmptyScene) {
    Scene3d scene;
    scene.width = 16;
    scene.height = 16;
    EXPECT_EQ(write_svg(scene, STYLE_2D),
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16.00\" height=\"16.00\" viewBox=\"0 0 16.00 16.00\">\n"
              "<rect width=\"16.00\" height=\"16.00\" fill=\"#fff\"/>\n</svg>\n");
}

TEST(WriteSvg, LinesWedgesAndLabelsNeedNoDefs) {
    Scene3d scene;
    scene.items.push_back(item(ItemKind::Line, 0.6, 1, 2, 3.005, -4));
    scene.items.push_back(item(ItemKind::SolidWedge, 4, 0, 0, 10, 0));
    SceneItem label = item(ItemKind::Label, 10, 5, 6);
    label.runs = {{RunKind::Normal, "N"}, {RunKind::Normal, "H"}, {RunKind::Subscript, "2"}};
    scene.items.push_back(label);
    const std::string svg = write_svg(scene, STYLE_2D);
    EXPECT_EQ(svg.find("<defs>"), std::string::npos);
    EXPECT_NE(svg.find("<line x1=\"1.00\" y1=\"2.00\" x2=\"3.00\" y2=\"-4.00\" stroke=\"#000\" stroke-width=\"0.60\" "
                       "stroke-linecap=\"round\"/>\n"),
              std::string::npos);
    EXPECT_NE(svg.find("<path d=\"M0.00,0.00 L10.00,2.00 L10.00,-2.00 Z\" fill=\"#000\"/>\n"), std::string::npos);
    EXPECT_NE(svg.find("<text x=\"5.00\" y=\"6.00\" font-family=\"Arial, Helvetica, sans-serif\" font-size=\"10.00\" "
                       "text-anchor=\"middle\" dominant-baseline=\"central\" fill=\"#000\">"
                       "<tspan font-size=\"10.00\" dy=\"0.00\">N</tspan><tspan font-size=\"10.00\" dy=\"0.00\">H</tspan>"
                       "<tspan font-size=\"6.00\" dy=\"1.40\">2</tspan></text>\n"),
              std::string::npos);
}

TEST(WriteSvg, EscapesFontFamilyAndRunText) {
    Scene3d scene;
    SceneItem label = item(ItemKind::Label, 10, 0, 0);
    label.runs = {{RunKind::Superscript, "<a&b'\">"}};
    scene.items.push_back(label);
    Style2d style = STYLE_2D;
    style.font_family = "A&B's <font>";
    const std::string svg = write_svg(scene, style);
    EXPECT_NE(svg.find("font-family=\"A&amp;B&apos;s &lt;font&gt;\""), std::string::npos);
    EXPECT_NE(svg.find("dy=\"-3.60\">&lt;a&amp;b&apos;&quot;&gt;</tspan>"), std::string::npos);
}

TEST(WriteSvg, BallsShareOneGradientPerColour) {
    Scene3d scene;
    scene.items.push_back(item(ItemKind::Ball, 5, 1, 1, 0, 0, RED));
    scene.items.push_back(item(ItemKind::Ball, 2, 9, 9, 0, 0, RED));
    const std::string svg = write_svg(scene, STYLE_2D);
    EXPECT_NE(svg.find("<defs>\n<radialGradient id=\"sff0000\" cx=\"0.5\" cy=\"0.5\" r=\"0.55\" fx=\"0.32\" fy=\"0.30\">"
                       "<stop offset=\"0\" stop-color=\"#ff8c8c\"/><stop offset=\"0.55\" stop-color=\"#ff0000\"/>"
                       "<stop offset=\"1\" stop-color=\"#8c0000\"/></radialGradient>\n</defs>\n"),
              std::string::npos);
    EXPECT_NE(svg.find("<circle cx=\"1.00\" cy=\"1.00\" r=\"5.00\" fill=\"url(#sff0000)\" stroke=\"#8c0000\" "
                       "stroke-width=\"0.25\"/>\n"),
              std::string::npos);
    EXPECT_EQ(std::count(svg.begin(), svg.end(), '\n'), 8);
}

TEST(BondBand, HorizontalHalfAndItsReverseShareTheKey) {
    const BondBandKey key = bond_band_key(item(ItemKind::BondHalf, 4, 0, 0, 10, 0, RED));
    EXPECT_EQ(key, (BondBandKey{0, -1000, 0, 2000, RED}));
    EXPECT_EQ(gradient_id(key), "c0_m1000_0_2000_ff0000");
    EXPECT_EQ(bond_band_key(item(ItemKind::BondHalf, 4, 10, 0, 0, 0, RED)), key);
    // A point has no direction: its normal ends as (-1, -0).
    EXPECT_EQ(bond_band_key(item(ItemKind::BondHalf, 1, 3, 3, 3, 3, RED)), (BondBandKey{-1000, 0, -3000, 500, RED}));
    EXPECT_EQ(gradient_id({INT64_MIN, 1, -2, 0, {1, 2, 3}}), "cm9223372036854775808_1_m2_0_010203");

    Scene3d scene;
    scene.items.push_back(item(ItemKind::BondHalf, 4, 0, 0, 10, 0, RED));
    scene.items.push_back(item(ItemKind::BondHalf, 4, 10, 0, 0, 0, RED));
    const std::string svg = write_svg(scene, STYLE_2D);
    // 0 × -2 is a negative zero, written with its sign.
    EXPECT_NE(svg.find("<linearGradient id=\"c0_m1000_0_2000_ff0000\" gradientUnits=\"userSpaceOnUse\" x1=\"-0.000\" "
                       "y1=\"2.000\" x2=\"0.000\" y2=\"-2.000\"><stop offset=\"0\" stop-color=\"#940000\"/>"
                       "<stop offset=\"0.4\" stop-color=\"#ff0000\"/><stop offset=\"0.75\" stop-color=\"#ff6b6b\"/>"
                       "<stop offset=\"1\" stop-color=\"#940000\"/></linearGradient>\n"),
              std::string::npos);
    EXPECT_EQ(svg.find("<linearGradient", svg.find("<linearGradient") + 1), std::string::npos);
    EXPECT_NE(svg.find("stroke=\"url(#c0_m1000_0_2000_ff0000)\" stroke-width=\"4.00\" stroke-linecap=\"round\"/>"),
              std::string::npos);
}

TEST(BondBand, ShadeUsesTheComputedFactor) {
    EXPECT_EQ(shade({25, 25, 25}, 1.0 - 0.42), (Rgb{15, 15, 15}));
    EXPECT_EQ(shade({25, 25, 25}, 0.58), (Rgb{14, 14, 14}));
    EXPECT_EQ(highlight({0, 128, 255}, 0.55), (Rgb{140, 198, 255}));
}

std::string hashed(double x2, double y2, double spacing) {
    Scene3d scene;
    SceneItem w = item(ItemKind::HashedWedge, 4, 0, 0, x2, y2);
    w.spacing = spacing;
    w.stroke = 0.5;
    scene.items.push_back(w);
    return write_svg(scene, STYLE_2D);
}

std::size_t lines(const std::string& svg) {
    std::size_t n = 0;
    for (std::size_t at = svg.find("<line"); at != std::string::npos; at = svg.find("<line", at + 1)) ++n;
    return n;
}

TEST(HashedWedge, HashCountAndPlacement) {
    EXPECT_EQ(lines(hashed(10, 0, 3)), 3u);
    EXPECT_EQ(lines(hashed(10, 0, 6)), 2u);
    EXPECT_EQ(lines(hashed(10, 0, 0)), 2u);
    EXPECT_EQ(lines(hashed(0, 0, 3)), 2u);
    EXPECT_EQ(lines(hashed(std::nan(""), 0, 3)), 2u);
    // A degenerate spacing or an absurd length is capped, not millions of lines.
    EXPECT_EQ(lines(hashed(10, 0, 1e-300)), 1000u);
    EXPECT_EQ(lines(hashed(1e300, 0, 2.5)), 1000u);
    // Halfway and at the wide end, where the hash spans the full width.
    const std::string svg = hashed(0, 10, 6);
    EXPECT_NE(svg.find("<line x1=\"1.00\" y1=\"5.00\" x2=\"-1.00\" y2=\"5.00\" stroke=\"#000\" stroke-width=\"0.50\""),
              std::string::npos);
    EXPECT_NE(svg.find("<line x1=\"2.00\" y1=\"10.00\" x2=\"-2.00\" y2=\"10.00\""), std::string::npos);
}

}  // namespace
}  // namespace quorix::depict
