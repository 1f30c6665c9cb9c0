#include "depict/label.hpp"

#include <algorithm>
#include <string>

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
double text_width(const std::string& text) {
    double sum = 0.0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        sum += char_width(byte < 0x80 ? byte : 0x100) / 1000.0;
    }
    return sum;
}

}  // namespace

void push_hydrogen_runs(std::uint8_t count, std::vector<LabelRun>& runs) {
    if (count == 0) return;
    runs.push_back({RunKind::Normal, "H"});
    if (count >= 2) runs.push_back({RunKind::Subscript, std::to_string(count)});
}

double label_width(std::span<const LabelRun> runs) {
    double w = 0.0;
    for (const LabelRun& run : runs) w += (run.kind == RunKind::Normal ? 1.0 : SMALL_RUN) * text_width(run.text);
    return w;
}

AtomLabel atom_label(std::span<const core::Atom> atoms, std::uint32_t index, bool hydrogens_first,
                     double bond_length, double font_size) {
    const core::Atom& a = at(atoms, index);
    const auto hs = static_cast<std::uint8_t>(std::min(a.total_hs(), 255u));
    AtomLabel label;
    std::vector<LabelRun>& runs = label.runs;
    if (hydrogens_first) push_hydrogen_runs(hs, runs);
    if (a.isotope != 0) runs.push_back({RunKind::Superscript, std::to_string(a.isotope)});
    const core::ElementInfo* info = core::element(a.atomic_num);
    runs.push_back({RunKind::Normal, std::string(info ? info->symbol : "*")});
    if (!hydrogens_first) push_hydrogen_runs(hs, runs);
    if (a.formal_charge != 0) {
        const int q = a.formal_charge;
        const char sign = q > 0 ? '+' : '-';
        const int magnitude = q > 0 ? q : -q;
        runs.push_back({RunKind::Superscript, magnitude == 1 ? std::string(1, sign) : std::to_string(magnitude) + sign});
    }
    if (a.num_radical_electrons != 0)
        runs.push_back({RunKind::Superscript, std::string(std::min<unsigned>(a.num_radical_electrons, 3), '*')});

    bool superscript = false, subscript = false;
    for (const LabelRun& run : runs) {
        superscript |= run.kind == RunKind::Superscript;
        subscript |= run.kind == RunKind::Subscript;
    }
    const double s = font_size / bond_length;
    label.half_width = s * label_width(runs) / 2.0;
    label.half_height = s * std::max(superscript ? WITH_SUPERSCRIPT : HALF_CAP, subscript ? WITH_SUBSCRIPT : HALF_CAP);
    return label;
}

}  // namespace quorix::depict
