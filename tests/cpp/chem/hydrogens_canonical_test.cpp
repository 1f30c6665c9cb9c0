// Adding and then removing hydrogens keeps every kind of stereo: the canonical
// text before and after must agree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>

#include "chem/explicit_hs.hpp"
#include "chem/remove_hs.hpp"
#include "chem/sanitize.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/smiles/write.hpp"
#include "io/stereo.hpp"
#include "support.hpp"

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

// Real molecules written with one hydrogen of each atom as an atom, the others
// counted: removing them again, on the molecule as read or once sanitised, gives
// back the same molecule after a text round trip (every third record; all with
// QUORIX_FULL_DATA=1).
TEST(HydrogenRoundTripCanonical, RealMoleculesWithHydrogenAtoms) {
    const bool full = std::getenv("QUORIX_FULL_DATA") != nullptr;
    const auto& records = test::data_records();
    auto sanitised = [](core::MolBuilder& m) {
        if (!chem::sanitize(m)) return false;
        io::double_bond_stereo(m);
        return true;
    };
    auto canonical_after_text = [&](const core::MolBuilder& m) -> std::string {
        auto back = io::read_smiles(io::write_smiles(m).text);
        if (!back || !sanitised(*back)) return "does not read back: " + io::write_smiles(m).text;
        return io::canonical_smiles(*back).text;
    };
    std::size_t checked = 0, failures = 0;
    for (std::size_t i = 0; i < records.size() && failures < 20; i += full ? 1 : 3) {
        auto mol = io::read_smiles(records[i].smiles);
        if (!mol || !sanitised(*mol)) continue;
        // Some records carry hydrogen atoms of their own.
        core::MolBuilder heavy = *mol;
        chem::remove_hs(heavy);
        const std::string expected = canonical_after_text(heavy);
        std::vector<core::Atom> counts = mol->atoms;
        for (core::Atom& a : mol->atoms) {
            a.num_implicit_hs = a.total_hs() > 0 ? 1 : 0;
            a.num_explicit_hs = 0;
        }
        chem::add_explicit_hs(*mol, test::identity(mol->num_atoms()));
        for (std::uint32_t a = 0; a < counts.size(); ++a) {
            core::Atom& c = counts[a];
            if (c.num_explicit_hs > 0) --c.num_explicit_hs;
            else if (c.num_implicit_hs > 0) --c.num_implicit_hs;
            mol->atoms[a].num_explicit_hs = c.num_explicit_hs;
            mol->atoms[a].num_implicit_hs = c.num_implicit_hs;
        }
        const std::string with_hs = io::write_smiles(*mol).text;
        for (bool sanitise_first : {false, true}) {
            core::MolBuilder m = test::read_or_fail(with_hs);
            if (sanitise_first && !sanitised(m)) {
                ADD_FAILURE() << with_hs << " does not sanitise";
                ++failures;
                continue;
            }
            chem::remove_hs(m);
            const std::string got = canonical_after_text(m);
            if (got != expected) {
                ++failures;
                ADD_FAILURE() << records[i].id << (sanitise_first ? " sanitised: " : " as read: ") << got
                              << " expected " << expected;
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, full ? 6000u : 2000u);
}
