// Adding and then removing hydrogens keeps every kind of stereo: the canonical
// text before and after must agree.
#include <gtest/gtest.h>

#include <numeric>

#include "chem/explicit_hs.hpp"
#include "chem/remove_hs.hpp"
#include "chem/sanitize.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/stereo.hpp"

using namespace quorix;

class HydrogenRoundTripCanonical : public ::testing::TestWithParam<const char*> {};

TEST_P(HydrogenRoundTripCanonical, AddThenRemoveKeepsTheCanonicalText) {
    auto m = io::read_smiles(GetParam());
    ASSERT_TRUE(m.has_value());
    ASSERT_TRUE(chem::sanitize(*m).has_value());
    io::double_bond_stereo(*m);
    const std::string before = io::canonical_smiles(*m).text;
    std::vector<std::uint32_t> ranks = io::canonical_ranks(*m);
    ASSERT_GT(chem::add_explicit_hs(*m, ranks), 0u);
    chem::remove_hs(*m);
    EXPECT_EQ(io::canonical_smiles(*m).text, before);
}

INSTANTIATE_TEST_SUITE_P(
    Stereo, HydrogenRoundTripCanonical,
    ::testing::Values("N[C@@H](C)C(=O)O", "F/C=C/C[C@H](Cl)Br", "C[CH]=[C@@]=C(Cl)Br", "[P@TB7H](F)(Cl)(Br)I",
                      "O[C@H]1CC[C@@H](N)CC1"));

// The round trip above only means something if the text tells the arrangements apart.
TEST(HydrogenRoundTripCanonicalText, DistinguishesTheArrangements) {
    const std::pair<const char*, const char*> pairs[] = {{"C[CH]=[C@@]=C(Cl)Br", "C[CH]=[C@]=C(Cl)Br"},
                                                         {"N[C@@H](C)C(=O)O", "N[C@H](C)C(=O)O"}};
    for (auto [a, b] : pairs) {
        auto x = io::read_smiles(a), y = io::read_smiles(b);
        ASSERT_TRUE(x && y && chem::sanitize(*x) && chem::sanitize(*y));
        EXPECT_NE(io::canonical_smiles(*x).text, io::canonical_smiles(*y).text) << a;
    }
}
