#include "depict/label.hpp"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "core/elements.hpp"
#include "core/error.hpp"

namespace quorix::depict {

const std::uint16_t HELVETICA_WIDTHS[81] = {
    389, 584, 1000, 333, 1000, 1000,                                    // * + , - . /
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556,                   // digits (measured as 556 anyway)
    1000, 1000, 1000, 1000, 1000, 1000, 1000,                           // : ; < = > ? @
    667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833,    // A..M
    722, 778, 667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611,    // N..Z
    1000, 1000, 1000, 1000, 1000, 1000,                                 // [ \ ] ^ _ `
    556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833,    // a..m
    556, 556, 556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500,    // n..z
};

namespace {

constexpr double SMALL_RUN = 0.6;
constexpr double HALF_CAP = 0.359;
constexpr double WITH_SUPERSCRIPT = 0.719;
constexpr double WITH_SUBSCRIPT = 0.499;

// Width of one character, in thousandths of an em.
unsigned char_width(unsigned code) {
    if (code >= '0' && code <= '9') return 556;
    if (code >= 42 && code <= 122) return HELVETICA_WIDTHS[code - 42];
    return 1000;
}

// Sum of the character widths in ems; a multi-byte UTF-8 character counts once.
double text_width(std::string_view text) {
    double sum = 0.0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        sum += char_width(byte < 0x80 ? byte : 0x100) / 1000.0;
    }
    return sum;
}

double run_factor(RunKind kind) { return kind == RunKind::Normal ? 1.0 : SMALL_RUN; }

// Decimal digits of `value`, then `suffix` (0 for none), into `buf`: any
// unsigned and a sign fit.
std::string_view decimal(char (&buf)[16], unsigned value, char suffix = 0) {
    char* last = std::to_chars(buf, buf + sizeof buf - 1, value).ptr;
    if (suffix != 0) *last++ = suffix;
    return {buf, static_cast<std::size_t>(last - buf)};
}

// "H" and, from two on, a subscript count.
template <class Sink>
void hydrogen_runs(std::uint8_t count, char (&buf)[16], Sink&& sink) {
    if (count == 0) return;
    sink(RunKind::Normal, std::string_view("H"));
    if (count >= 2) sink(RunKind::Subscript, decimal(buf, count));
}

// Hands sink(kind, text) the runs of an atom's label in reading order; the texts
// live only for the call. One composition for the runs and for their measure.
template <class Sink>
void compose_label(const core::Atom& a, bool hydrogens_first, Sink&& sink) {
    char buf[16];
    const auto hs = static_cast<std::uint8_t>(std::min(a.total_hs(), 255u));
    if (hydrogens_first) hydrogen_runs(hs, buf, sink);
    if (a.isotope != 0) sink(RunKind::Superscript, decimal(buf, a.isotope));
    const core::ElementInfo* info = core::element(a.atomic_num);
    sink(RunKind::Normal, info ? info->symbol : std::string_view("*"));
    if (!hydrogens_first) hydrogen_runs(hs, buf, sink);
    if (a.formal_charge != 0) {
        const int q = a.formal_charge;
        const char sign = q > 0 ? '+' : '-';
        const int magnitude = q > 0 ? q : -q;
        sink(RunKind::Superscript, magnitude == 1 ? std::string_view(&sign, 1)
                                                  : decimal(buf, static_cast<unsigned>(magnitude), sign));
    }
    if (a.num_radical_electrons != 0)
        sink(RunKind::Superscript, std::string_view("***", std::min<unsigned>(a.num_radical_electrons, 3)));
}

double half_height(double scale, bool superscript, bool subscript) {
    return scale * std::max(superscript ? WITH_SUPERSCRIPT : HALF_CAP, subscript ? WITH_SUBSCRIPT : HALF_CAP);
}

}  // namespace

void push_hydrogen_runs(std::uint8_t count, std::vector<LabelRun>& runs) {
    char buf[16];
    hydrogen_runs(count, buf, [&](RunKind kind, std::string_view text) { runs.push_back({kind, std::string(text)}); });
}

double label_width(std::span<const LabelRun> runs) {
    double w = 0.0;
    for (const LabelRun& run : runs) w += run_factor(run.kind) * text_width(run.text);
    return w;
}

AtomLabel atom_label(std::span<const core::Atom> atoms, std::uint32_t index, bool hydrogens_first,
                     double bond_length, double font_size) {
    const core::Atom& a = at(atoms, index);
    AtomLabel label;
    bool superscript = false, subscript = false;
    compose_label(a, hydrogens_first, [&](RunKind kind, std::string_view text) {
        label.runs.push_back({kind, std::string(text)});
        superscript |= kind == RunKind::Superscript;
        subscript |= kind == RunKind::Subscript;
    });
    const double s = font_size / bond_length;
    label.half_width = s * label_width(label.runs) / 2.0;
    label.half_height = half_height(s, superscript, subscript);
    return label;
}

LabelExtent label_extent(const core::Atom& atom, bool hydrogens_first, double scale) {
    // The same sum as label_width over the composed runs, run by run in order.
    double w = 0.0;
    bool superscript = false, subscript = false;
    compose_label(atom, hydrogens_first, [&](RunKind kind, std::string_view text) {
        w += run_factor(kind) * text_width(text);
        superscript |= kind == RunKind::Superscript;
        subscript |= kind == RunKind::Subscript;
    });
    return {scale * w / 2.0, half_height(scale, superscript, subscript)};
}

}  // namespace quorix::depict
