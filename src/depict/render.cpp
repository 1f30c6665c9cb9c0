#include "depict/render.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "core/numeric.hpp"
#include "core/scratch.hpp"

namespace quorix::depict {

namespace {

constexpr double EPSILON = 2.220446049250313e-16;
constexpr double BALL_LIGHT = 0.55;
constexpr double BAND_LIGHT = 0.42;
// 1 - 0.42 as computed, 0.5800000000000001: it decides the rounding of a channel of 25.
constexpr double BAND_SHADE = 1.0 - BAND_LIGHT;
// Hashes of one wedge; a tiny spacing or a huge wedge must not write millions of lines.
constexpr std::int64_t MAX_HASHES = 1000;

void append_int(std::string& out, std::int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void append_hex(std::string& out, Rgb c) {
    static constexpr char digits[] = "0123456789abcdef";
    for (std::uint8_t ch : c) {
        out.push_back(digits[ch >> 4]);
        out.push_back(digits[ch & 15]);
    }
}

void append_colour(std::string& out, Rgb c) {
    out.push_back('#');
    append_hex(out, c);
}

void append_gradient_id(std::string& out, const BondBandKey& key) {
    out.push_back('c');
    for (std::int64_t v : {key.na, key.nb, key.off, key.hw}) {
        if (v < 0) {
            out.push_back('m');
            // The magnitude of INT64_MIN does not fit; its digits are written from the unsigned value.
            char buf[24];
            const auto r = std::to_chars(buf, buf + sizeof buf, std::uint64_t(0) - std::uint64_t(v));
            out.append(buf, r.ptr);
        } else {
            append_int(out, v);
        }
        out.push_back('_');
    }
    append_hex(out, key.colour);
}

void append_escaped(std::string& out, std::string_view text) {
    for (char ch : text) {
        switch (ch) {
            case '\'': out += "&apos;"; break;
            case '"': out += "&quot;"; break;
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out.push_back(ch);
        }
    }
}

// ` name="value"` with the value in fixed notation.
void attr(std::string& out, std::string_view name, double v, int decimals = 2) {
    out.push_back(' ');
    out += name;
    out += "=\"";
    append_fixed(out, v, decimals);
    out.push_back('"');
}

void attr(std::string& out, std::string_view name, std::string_view text) {
    out.push_back(' ');
    out += name;
    out += "=\"";
    out += text;
    out.push_back('"');
}

void stop(std::string& out, std::string_view offset, Rgb colour) {
    out += "<stop offset=\"";
    out += offset;
    out += "\" stop-color=\"";
    append_colour(out, colour);
    out += "\"/>";
}

void write_line(std::string& out, double x1, double y1, double x2, double y2, double width) {
    out += "<line";
    attr(out, "x1", x1);
    attr(out, "y1", y1);
    attr(out, "x2", x2);
    attr(out, "y2", y2);
    attr(out, "stroke", "#000");
    attr(out, "stroke-width", width);
    out += " stroke-linecap=\"round\"/>\n";
}

void write_ball_gradient(std::string& out, Rgb c) {
    out += "<radialGradient id=\"s";
    append_hex(out, c);
    out += "\" cx=\"0.5\" cy=\"0.5\" r=\"0.55\" fx=\"0.32\" fy=\"0.30\">";
    stop(out, "0", highlight(c, BALL_LIGHT));
    stop(out, "0.55", c);
    stop(out, "1", shade(c, BALL_LIGHT));
    out += "</radialGradient>\n";
}

void write_band_gradient(std::string& out, const BondBandKey& key) {
    const double a = double(key.na) / 1000.0, b = double(key.nb) / 1000.0;
    const double o = double(key.off) / 1000.0, h = double(key.hw) / 1000.0;
    out += "<linearGradient id=\"";
    append_gradient_id(out, key);
    out += "\" gradientUnits=\"userSpaceOnUse\"";
    attr(out, "x1", a * (o - h), 3);
    attr(out, "y1", b * (o - h), 3);
    attr(out, "x2", a * (o + h), 3);
    attr(out, "y2", b * (o + h), 3);
    out.push_back('>');
    stop(out, "0", shade(key.colour, BAND_SHADE));
    stop(out, "0.4", key.colour);
    stop(out, "0.75", highlight(key.colour, BAND_LIGHT));
    stop(out, "1", shade(key.colour, BAND_SHADE));
    out += "</linearGradient>\n";
}

void write_solid_wedge(std::string& out, const SceneItem& it) {
    double ux = it.x2 - it.x1, uy = it.y2 - it.y1;
    const double len = std::sqrt(ux * ux + uy * uy);
    if (!(len < EPSILON)) {
        ux /= len;
        uy /= len;
    }
    const double h = it.width * 0.5;
    out += "<path d=\"M";
    append_fixed(out, it.x1, 2);
    out.push_back(',');
    append_fixed(out, it.y1, 2);
    out += " L";
    append_fixed(out, it.x2 - uy * h, 2);
    out.push_back(',');
    append_fixed(out, it.y2 + ux * h, 2);
    out += " L";
    append_fixed(out, it.x2 + uy * h, 2);
    out.push_back(',');
    append_fixed(out, it.y2 - ux * h, 2);
    out += " Z\" fill=\"#000\"/>\n";
}

void write_hashed_wedge(std::string& out, const SceneItem& it) {
    double ux = it.x2 - it.x1, uy = it.y2 - it.y1;
    const double len = std::sqrt(ux * ux + uy * uy);
    if (!(len < EPSILON)) {
        ux /= len;
        uy /= len;
    }
    std::int64_t n = 2;
    if (it.spacing > 0.0)
        n = std::clamp<std::int64_t>(core::saturating_cast<std::int64_t>(std::floor(len / it.spacing)), 2, MAX_HASHES);
    for (std::int64_t i = 1; i <= n; ++i) {
        const double t = double(i) / double(n);
        const double mx = it.x1 + ux * (len * t), my = it.y1 + uy * (len * t);
        const double h = t * it.width * 0.5;
        write_line(out, mx + uy * h, my - ux * h, mx - uy * h, my + ux * h, it.stroke);
    }
}

void write_label(std::string& out, const SceneItem& it, std::string_view font_family) {
    const double f = it.width;
    out += "<text";
    attr(out, "x", it.x1);
    attr(out, "y", it.y1);
    out += " font-family=\"";
    append_escaped(out, font_family);
    out.push_back('"');
    attr(out, "font-size", f);
    out += " text-anchor=\"middle\" dominant-baseline=\"central\" fill=\"#000\">";
    double previous = 0.0;
    for (const LabelRun& run : it.runs) {
        const double offset = run.kind == RunKind::Normal ? 0.0 : run.kind == RunKind::Subscript ? 0.14 * f : -0.36 * f;
        out += "<tspan";
        attr(out, "font-size", run.kind == RunKind::Normal ? f : 0.6 * f);
        attr(out, "dy", offset - previous);
        out.push_back('>');
        append_escaped(out, run.text);
        out += "</tspan>";
        previous = offset;
    }
    out += "</text>\n";
}

struct SvgWork {
    std::vector<Rgb> ball_colours;
    std::vector<BondBandKey> bands;
    std::vector<BondBandKey> item_bands;  // per item; only BondHalf entries are meaningful
};

}  // namespace

void append_fixed(std::string& out, double value, int decimals) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    // Fast path: below 1e8 in units of the last digit, the scaled product is off
    // by under 1.2e-8 of a unit, so unless the value sits within 1e-7 of a half
    // the rounding direction is that of the exact value.
    static constexpr double scale[] = {1.0, 10.0, 100.0, 1000.0};
    if (decimals >= 0 && decimals <= 3) {
        const double scaled = std::abs(value) * scale[decimals];
        if (scaled < 1e8) {
            const double whole = std::floor(scaled), frac = scaled - whole;
            if (std::abs(frac - 0.5) > 1e-7) {
                auto units = core::saturating_cast<std::uint32_t>(whole) + (frac > 0.5 ? 1u : 0u);
                char buf[16];
                char* p = buf + sizeof buf;
                for (int k = 0; k < decimals; ++k, units /= 10) *--p = char('0' + units % 10);
                if (decimals > 0) *--p = '.';
                do {
                    *--p = char('0' + units % 10);
                    units /= 10;
                } while (units != 0);
                if (std::signbit(value)) *--p = '-';
                out.append(p, buf + sizeof buf);
                return;
            }
        }
    }
    // Up to 309 integer digits, the point and the decimals.
    char buf[340];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, r.ptr);
}

Rgb highlight(Rgb colour, double t) {
    Rgb out;
    for (int k = 0; k < 3; ++k)
        out[k] = core::round_saturating<std::uint8_t>((255.0 - colour[k]) * t + colour[k]);
    return out;
}

Rgb shade(Rgb colour, double s) {
    Rgb out;
    for (int k = 0; k < 3; ++k) out[k] = core::round_saturating<std::uint8_t>(colour[k] * s);
    return out;
}

BondBandKey bond_band_key(const SceneItem& half) {
    const double dx = half.x2 - half.x1, dy = half.y2 - half.y1;
    const double len = std::sqrt(dx * dx + dy * dy);
    double nx = 1.0, ny = 0.0;
    if (len > EPSILON) {
        nx = -dy / len;
        ny = dx / len;
    }
    constexpr double k = -0.7071067811865476;
    const double v = nx * k + ny * k;
    if (v < 0.0 || (v == 0.0 && nx < 0.0)) {
        nx = -nx;
        ny = -ny;
    }
    return {core::round_saturating<std::int64_t>(nx * 1000.0), core::round_saturating<std::int64_t>(ny * 1000.0),
            core::round_saturating<std::int64_t>((half.x1 * nx + half.y1 * ny) * 1000.0),
            core::round_saturating<std::int64_t>(half.width * 0.5 * 1000.0), half.colour};
}

std::string gradient_id(const BondBandKey& key) {
    std::string out;
    append_gradient_id(out, key);
    return out;
}

std::string xml_escape(std::string_view text) {
    std::string out;
    append_escaped(out, text);
    return out;
}

std::string write_svg(const Scene3d& scene, const Style2d& style) {
    std::string out;
    out.reserve(1024 + 96 * scene.items.size());
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\"";
    attr(out, "width", scene.width);
    attr(out, "height", scene.height);
    out += " viewBox=\"0 0 ";
    append_fixed(out, scene.width, 2);
    out.push_back(' ');
    append_fixed(out, scene.height, 2);
    out += "\">\n<rect";
    attr(out, "width", scene.width);
    attr(out, "height", scene.height);
    out += " fill=\"#fff\"/>\n";

    auto work = core::Scratch<SvgWork>::borrow(scene.items.size());
    SvgWork& w = *work;
    w.ball_colours.clear();
    w.bands.clear();
    w.item_bands.resize(scene.items.size());
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
        const SceneItem& it = scene.items[i];
        if (it.kind == ItemKind::Ball) w.ball_colours.push_back(it.colour);
        if (it.kind == ItemKind::BondHalf) w.bands.push_back(w.item_bands[i] = bond_band_key(it));
    }
    std::sort(w.ball_colours.begin(), w.ball_colours.end());
    w.ball_colours.erase(std::unique(w.ball_colours.begin(), w.ball_colours.end()), w.ball_colours.end());
    std::sort(w.bands.begin(), w.bands.end());
    w.bands.erase(std::unique(w.bands.begin(), w.bands.end()), w.bands.end());
    if (!w.ball_colours.empty() || !w.bands.empty()) {
        out += "<defs>\n";
        for (Rgb c : w.ball_colours) write_ball_gradient(out, c);
        for (const BondBandKey& key : w.bands) write_band_gradient(out, key);
        out += "</defs>\n";
    }

    for (std::size_t i = 0; i < scene.items.size(); ++i) {
        const SceneItem& it = scene.items[i];
        switch (it.kind) {
            case ItemKind::Line: write_line(out, it.x1, it.y1, it.x2, it.y2, it.width); break;
            case ItemKind::SolidWedge: write_solid_wedge(out, it); break;
            case ItemKind::HashedWedge: write_hashed_wedge(out, it); break;
            case ItemKind::Ball:
                out += "<circle";
                attr(out, "cx", it.x1);
                attr(out, "cy", it.y1);
                attr(out, "r", it.width);
                out += " fill=\"url(#s";
                append_hex(out, it.colour);
                out += ")\" stroke=\"";
                append_colour(out, shade(it.colour, BALL_LIGHT));
                out.push_back('"');
                attr(out, "stroke-width", std::max(it.width * 0.04, 0.25));
                out += "/>\n";
                break;
            case ItemKind::BondHalf:
                out += "<line";
                attr(out, "x1", it.x1);
                attr(out, "y1", it.y1);
                attr(out, "x2", it.x2);
                attr(out, "y2", it.y2);
                out += " stroke=\"url(#";
                append_gradient_id(out, w.item_bands[i]);
                out += ")\"";
                attr(out, "stroke-width", it.width);
                out += " stroke-linecap=\"round\"/>\n";
                break;
            default: write_label(out, it, style.font_family); break;
        }
    }
    out += "</svg>\n";
    return out;
}

}  // namespace quorix::depict
