#include "chem/valence.hpp"

#include <gtest/gtest.h>

#include "atoms.hpp"

using namespace quorix;
using quorix::test::AtomSpec;
using quorix::test::build;

namespace {

TEST(AssignValences, StoresImplicitHydrogensAndZeroForFixed) {
    // Ethanol-like C-C-O plus a bracket [CH2] that declares its own hydrogens.
    core::MolBuilder m = build({{6}, {6}, {8}, AtomSpec{6, 0, 2, true}}, {{0, 1}, {1, 2}, {1, 3}});
    for (auto& a : m.atoms) a.num_implicit_hs = 9;
    auto r = chem::assign_valences(m);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->explicit_valence, (std::vector<std::int32_t>{1, 3, 1, 3}));
    EXPECT_EQ(r->implicit_hs, (std::vector<std::uint8_t>{3, 1, 1, 0}));
    for (std::uint32_t a = 0; a < 4; ++a) EXPECT_EQ(m.atoms[a].num_implicit_hs, r->implicit_hs[a]);
}

TEST(AssignValences, FirstFailureWinsAndNothingIsWritten) {
    // Atoms 0..2 fine; atom 3 is a carbon with five bonds; atom 4 an oxygen with three.
    core::MolBuilder m = build({{6}, {6}, {6}, {6}, {8}, {6}, {6}, {6}, {6}, {6}},
                               {{0, 1}, {1, 2}, {3, 0}, {3, 5}, {3, 6}, {3, 7}, {3, 8}, {4, 9}, {4, 5}, {4, 6}});
    for (auto& a : m.atoms) a.num_implicit_hs = 7;
    auto r = chem::assign_valences(m);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().atom, 3u);
    EXPECT_EQ(r.error().explicit_valence, 5);
    EXPECT_EQ(r.error().kind, core::ValenceErrorKind::ExplicitValenceOutOfRange);
    EXPECT_EQ(r.error().to_string(), "原子 #3(C):显式价超出允许范围,显式价 = 5");
    for (const auto& a : m.atoms) EXPECT_EQ(a.num_implicit_hs, 7) << "a failure writes nothing";
}

}  // namespace
