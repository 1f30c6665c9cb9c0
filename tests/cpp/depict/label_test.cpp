#include <gtest/gtest.h>

#include "core/error.hpp"
#include "depict/label.hpp"

namespace quorix::depict {
namespace {

constexpr double S = 10.0 / 14.4;

struct LabelCase {
    const char* name;
    core::Atom atom;
    bool hydrogens_first;
    std::vector<LabelRun> runs;
    double width_em;  // expected W
    double height_em;
};

core::Atom atom(std::uint8_t z, std::uint8_t hs = 0, std::int8_t q = 0, std::uint16_t iso = 0, std::uint8_t rad = 0) {
    core::Atom a;
    a.atomic_num = z;
    a.num_implicit_hs = hs;
    a.formal_charge = q;
    a.isotope = iso;
    a.num_radical_electrons = rad;
    return a;
}

constexpr RunKind N = RunKind::Normal, SUB = RunKind::Subscript, SUP = RunKind::Superscript;

class AtomLabelTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(AtomLabelTest, RunsAndExtents) {
    const LabelCase& c = GetParam();
    const std::vector<core::Atom> atoms{core::Atom{}, c.atom};
    const AtomLabel label = atom_label(atoms, 1, c.hydrogens_first, 14.4, 10.0);
    EXPECT_EQ(label.runs, c.runs);
    EXPECT_DOUBLE_EQ(label.half_width, S * c.width_em / 2);
    EXPECT_DOUBLE_EQ(label.half_height, S * c.height_em);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, AtomLabelTest,
    ::testing::Values(
        LabelCase{"bare_carbon", atom(6), false, {{N, "C"}}, 0.722, 0.359},
        LabelCase{"amine", atom(7, 2), false, {{N, "N"}, {N, "H"}, {SUB, "2"}}, 0.722 + 0.722 + 0.6 * 0.556, 0.499},
        LabelCase{"amine_h_first", atom(7, 2), true, {{N, "H"}, {SUB, "2"}, {N, "N"}}, 0.722 + 0.722 + 0.6 * 0.556,
                  0.499},
        LabelCase{"dication", atom(20, 0, 2), false, {{N, "Ca"}, {SUP, "2+"}}, 0.722 + 0.556 + 0.6 * (0.556 + 0.584),
                  0.719},
        LabelCase{"lowest_charge", atom(8, 0, -128), false, {{N, "O"}, {SUP, "128-"}},
                  0.778 + 0.6 * (3 * 0.556 + 0.333), 0.719},
        LabelCase{"single_anion", atom(17, 0, -1), false, {{N, "Cl"}, {SUP, "-"}}, 0.722 + 0.222 + 0.6 * 0.333, 0.719},
        LabelCase{"isotope_with_h", atom(6, 3, 0, 13), true, {{N, "H"}, {SUB, "3"}, {SUP, "13"}, {N, "C"}},
                  0.722 + 0.6 * 0.556 + 0.6 * 2 * 0.556 + 0.722, 0.719},
        LabelCase{"beyond_table", atom(200), false, {{N, "*"}}, 0.389, 0.359},
        LabelCase{"five_radicals", atom(6, 0, 0, 0, 5), false, {{N, "C"}, {SUP, "***"}}, 0.722 + 0.6 * 3 * 0.389,
                  0.719}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LabelWidth, CharactersOutsideTheTableAndDigits) {
    // Digits always 556; "é" is one character outside the table; "[" is punctuation.
    EXPECT_DOUBLE_EQ(label_width(std::vector<LabelRun>{{N, "0"}, {N, "é"}, {SUB, "9["}}),
                     0.556 + 1.0 + 0.6 * (0.556 + 1.0));
    EXPECT_EQ(label_width(std::vector<LabelRun>{}), 0.0);
    EXPECT_EQ(HELVETICA_WIDTHS['W' - 42], 944);
    EXPECT_EQ(HELVETICA_WIDTHS['z' - 42], 500);
}

TEST(AtomLabelTest, IndexBeyondAtomsIsInternal) {
    const std::vector<core::Atom> atoms(2);
    EXPECT_THROW(atom_label(atoms, 2, false, 14.4, 10.0), InternalError);
}

}  // namespace
}  // namespace quorix::depict
