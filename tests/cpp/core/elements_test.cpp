#include "core/elements.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/error.hpp"

using namespace quorix::core;

namespace {

struct SymbolCase {
    std::string text;
    std::optional<std::uint8_t> expected;
};

class FromSymbol : public ::testing::TestWithParam<SymbolCase> {};

TEST_P(FromSymbol, ExactCaseSensitiveLookup) {
    EXPECT_EQ(Element::from_symbol(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Symbols, FromSymbol,
    ::testing::Values(SymbolCase{"CL", std::nullopt}, SymbolCase{"Uut", 113}, SymbolCase{"", std::nullopt},
                      SymbolCase{"C ", std::nullopt}, SymbolCase{std::string("C\0", 2), std::nullopt}));

TEST(Elements, OneLetterSymbols) {
    const std::vector<std::pair<char, int>> one = {{'B', 5},  {'C', 6},  {'F', 9},  {'H', 1},  {'I', 53},
                                                   {'K', 19}, {'N', 7},  {'O', 8},  {'P', 15}, {'S', 16},
                                                   {'U', 92}, {'V', 23}, {'W', 74}, {'Y', 39}};
    for (char c = 0x20; c < 0x7f; ++c) {
        std::optional<std::uint8_t> want;
        if (c == '*') want = 0;
        for (auto [s, z] : one)
            if (s == c) want = static_cast<std::uint8_t>(z);
        EXPECT_EQ(Element::from_symbol(std::string(1, c)), want) << c;
    }
}

TEST(Elements, EverySymbolFindsItsOwnRecord) {
    int one = 0, two = 0;
    for (std::uint32_t z = 0; z < NUM_ELEMENTS; ++z) {
        const ElementInfo& e = ELEMENTS[z];
        EXPECT_EQ(e.atomic_num, z);
        EXPECT_EQ(Element::from_symbol(e.symbol), std::optional<std::uint8_t>(z)) << e.symbol;
        if (z > 0) (e.symbol.size() == 1 ? one : two) += 1;
        EXPECT_TRUE(e.symbol.size() == 1 || (e.symbol[0] >= 'A' && e.symbol[0] <= 'Z' && e.symbol[1] >= 'a'))
            << e.symbol;
    }
    EXPECT_EQ(one, 14);
    EXPECT_EQ(two, 104);
}

TEST(Elements, LookupByAtomicNumber) {
    EXPECT_EQ(element(6), &ELEMENTS[6]);
    EXPECT_EQ(element(118), &ELEMENTS[118]);
    EXPECT_EQ(element(119), nullptr);
    EXPECT_EQ(element(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(&element_at(0), &ELEMENTS[0]);
    EXPECT_THROW(element_at(119), quorix::InternalError);
}

TEST(Elements, ValenceLists) {
    const std::vector<std::pair<std::string, std::vector<int>>> restricted = {
        {"H", {1}},        {"He", {0}},       {"Li", {1, -1}},   {"Be", {2}},       {"B", {3}},
        {"C", {4}},        {"N", {3}},        {"O", {2}},        {"F", {1}},        {"Ne", {0}},
        {"Na", {1, -1}},   {"Mg", {2, -1}},   {"Al", {3}},       {"Si", {4}},       {"P", {3, 5}},
        {"S", {2, 4, 6}},  {"Cl", {1}},       {"Ar", {0}},       {"K", {1, -1}},    {"Ca", {2, -1}},
        {"Ga", {3}},       {"Ge", {4}},       {"As", {3, 5}},    {"Se", {2, 4, 6}}, {"Br", {1}},
        {"Kr", {0}},       {"Rb", {1, -1}},   {"Sr", {2, -1}},   {"In", {3}},       {"Sn", {2, 4}},
        {"Sb", {3, 5}},    {"Te", {2, 4, 6}}, {"I", {1, 3, 5}},  {"Xe", {0, 2, 4, 6}}, {"Cs", {1}},
        {"Ba", {2, -1}},   {"Pb", {2, 4}},    {"Bi", {3, 5}},    {"Po", {2, 4, 6}}, {"At", {1, 3, 5}},
        {"Rn", {0}},       {"Fr", {1}},       {"Ra", {2, -1}}};
    ASSERT_EQ(restricted.size(), 43u);
    for (const ElementInfo& e : ELEMENTS) {
        std::vector<int> want = {-1};
        for (const auto& [sym, list] : restricted)
            if (sym == e.symbol) want = list;
        EXPECT_EQ(std::vector<int>(e.valences.begin(), e.valences.end()), want) << e.symbol;
    }
}

TEST(Elements, NumericColumnsSpotChecks) {
    // Rows picked to cover every column kind: absent electronegativity, integral
    // values, f32 radii, periods and the lanthanide/actinide electron counts.
    // Every column of the wildcard and of carbon.
    struct Row {
        std::uint32_t z;
        std::optional<double> electronegativity;
        double weight, mass;
        float covalent, vdw;
        int mass_number, period, valence_electrons;
    };
    for (const Row& r : {Row{0, std::nullopt, 0.0, 0.0, 0.0f, 0.0f, 0, 0, 0},
                         Row{6, 2.55, 12.011, 12.0, 0.76f, 1.7f, 12, 2, 4}}) {
        const ElementInfo& e = ELEMENTS[r.z];
        EXPECT_EQ(e.electronegativity, r.electronegativity) << r.z;
        EXPECT_EQ(e.atomic_weight, r.weight) << r.z;
        EXPECT_EQ(e.monoisotopic_mass, r.mass) << r.z;
        EXPECT_EQ(e.covalent_radius, r.covalent) << r.z;
        EXPECT_EQ(e.vdw_radius, r.vdw) << r.z;
        EXPECT_EQ(e.mass_number, r.mass_number) << r.z;
        EXPECT_EQ(e.period, r.period) << r.z;
        EXPECT_EQ(e.valence_electrons, r.valence_electrons) << r.z;
    }

    // Periods step exactly at the noble gases.
    const int last_of_period[] = {0, 2, 10, 18, 36, 54, 86, 118};
    for (std::uint32_t z = 1; z < NUM_ELEMENTS; ++z) {
        int period = 1;
        while (static_cast<int>(z) > last_of_period[period]) ++period;
        EXPECT_EQ(ELEMENTS[z].period, period) << ELEMENTS[z].symbol;
    }
}

TEST(Isotopes, TellingEntries) {
    const std::vector<std::tuple<int, int, double>> cases = {
        {1, 2, 2.014101778}, {6, 12, 12.0}, {6, 13, 13.00335484}, {8, 18, 17.999161}, {86, 222, 222.0175777}};
    for (auto [z, a, mass] : cases) EXPECT_EQ(isotope_mass(z, a), std::optional<double>(mass)) << z << '-' << a;
}

TEST(Isotopes, MissingEntries) {
    EXPECT_EQ(isotope_mass(1, 8), std::nullopt);
    EXPECT_EQ(isotope_mass(6, 7), std::nullopt);
    EXPECT_EQ(isotope_mass(119, 300), std::nullopt);
    EXPECT_EQ(isotope_mass(0xFFFFFFFFu, 1), std::nullopt);
    EXPECT_TRUE(isotopes(119).empty());
}

TEST(Isotopes, Total) {
    std::size_t total = 0;
    for (std::uint32_t z = 0; z < NUM_ELEMENTS; ++z) total += isotopes(z).size();
    EXPECT_EQ(total, 3111u);
    EXPECT_EQ(total_isotope_entries(), 3111u);
}

TEST(Isotopes, MassesAreNearTheirMassNumbers) {
    // A shifted row or a mass pasted under the wrong element shows up here: the
    // binding energy keeps every exact mass within a few tenths of its mass number.
    for (std::uint32_t z = 1; z < NUM_ELEMENTS; ++z) {
        for (const IsotopeEntry& e : isotopes(z)) {
            EXPECT_LT(std::fabs(e.exact_mass - e.mass_number), 0.25) << ELEMENTS[z].symbol << '-' << e.mass_number;
        }
    }
    // Neighbouring entries differ by roughly one nucleon.
    for (std::uint32_t z = 1; z < NUM_ELEMENTS; ++z) {
        auto list = isotopes(z);
        for (std::size_t i = 1; i < list.size(); ++i) {
            double step = list[i].exact_mass - list[i - 1].exact_mass;
            EXPECT_GT(step, 0.97) << ELEMENTS[z].symbol << '-' << list[i].mass_number;
            EXPECT_LT(step, 1.02) << ELEMENTS[z].symbol << '-' << list[i].mass_number;
        }
    }
}

TEST(Isotopes, PrincipalEntryMatchesElementRecord) {
    // A label with the principal isotope keeps the element's mass, except where
    // the two tables are known to differ.
    const std::vector<int> differ = {86, 88, 111, 112};
    for (std::uint32_t z = 1; z < NUM_ELEMENTS; ++z) {
        const ElementInfo& e = ELEMENTS[z];
        auto mass = isotope_mass(z, e.mass_number);
        if (z >= 105 && z <= 109) {
            EXPECT_FALSE(mass.has_value());
            continue;
        }
        ASSERT_TRUE(mass.has_value()) << e.symbol;
        bool expect_differ = std::find(differ.begin(), differ.end(), int(z)) != differ.end();
        if (expect_differ) {
            EXPECT_NE(*mass, e.monoisotopic_mass) << e.symbol;
            EXPECT_NEAR(*mass, e.monoisotopic_mass, 0.01) << e.symbol;
        } else {
            EXPECT_EQ(*mass, e.monoisotopic_mass) << e.symbol;
        }
    }
}

}  // namespace
