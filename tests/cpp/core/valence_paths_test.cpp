// The one-walk valence functions count bonds in half units and fall back to the
// float sum only for enormous totals; both must give the float rule's numbers.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/valence.hpp"

using namespace quorix::core;

namespace {

struct HubCase {
    const char* name;
    std::uint32_t quadruple;  // parallel quadruple bonds from the hub
    std::uint32_t aromatic;   // parallel aromatic bonds
    std::uint32_t single;     // parallel single bonds
    std::uint8_t declared_hs;
    std::int32_t expected;    // by hand: bond valences plus hydrogens, halves rounded up
};

// A wildcard hub (no valence limits) bound to one partner by parallel bonds:
// 2^17 quadruple bonds sum to 2^19, the largest total still counted in integers.
constexpr std::uint32_t Q = 1u << 17;
constexpr std::int32_t V = 1 << 19;

const HubCase HUB_CASES[] = {
    {"AtTheIntegerLimit", Q, 0, 0, 0, V},
    {"JustBelowWithAHalf", Q - 1, 1, 1, 0, V - 1},  // 2^19 - 1.5 rounds to 2^19 - 1
    {"JustAboveWithAHalf", Q, 1, 0, 0, V + 2},      // 2^19 + 1.5 rounds up
    {"DeclaredHydrogensOnTop", Q, 0, 0, 255, V + 255},
};

class HubValence : public ::testing::TestWithParam<HubCase> {};

TEST_P(HubValence, AllEntriesAgreeWithTheHandValue) {
    const HubCase& c = GetParam();
    MolBuilder m;
    Atom hub;
    hub.atomic_num = 0;
    hub.num_explicit_hs = c.declared_hs;
    m.add_atom(hub);
    m.add_atom(Atom{});
    auto add = [&](std::uint32_t count, BondOrder order) {
        for (std::uint32_t k = 0; k < count; ++k) {
            Bond b;
            b.begin = 0;
            b.end = 1;
            b.order = order;
            m.push_bond(b);
        }
    };
    add(c.quadruple, BondOrder::Quadruple);
    add(c.aromatic, BondOrder::Aromatic);
    add(c.single, BondOrder::Single);

    const auto by_float = explicit_valence(m, 0, false, static_cast<float>(c.declared_hs));
    ASSERT_TRUE(by_float);
    EXPECT_EQ(*by_float, c.expected);
    EXPECT_EQ(lenient_explicit_valence(m, 0), c.expected);
    const AtomValence lenient = lenient_valence_hs(m, 0);
    EXPECT_EQ(lenient.explicit_valence, c.expected);
    EXPECT_EQ(lenient.implicit_hs, 0);
    EXPECT_EQ(lenient.aromatic, c.aromatic > 0);
    const auto strict = strict_valence_hs(m, 0);
    ASSERT_TRUE(strict);
    EXPECT_EQ(strict->explicit_valence, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Bounds, HubValence, ::testing::ValuesIn(HUB_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
