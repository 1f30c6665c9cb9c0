#include "core/valence.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/numeric.hpp"
#include <cmath>
#include <cstdint>

using namespace quorix::core;

namespace {

struct Center {
    int z = 6;
    int charge = 0;
    int radicals = 0;
    bool aromatic_flag = false;
    std::vector<BondOrder> bonds;       // the centre is each bond's `begin`
    std::vector<BondOrder> bonds_in;    // the centre is each bond's `end`
    bool aromatic_bond_flags = false;   // set the bond AROMATIC bit on every bond
    std::uint32_t filler_atoms = 0;     // unbonded atoms before the centre
};

// Builds the centre atom (index = filler_atoms) with one carbon neighbour per bond.
MolBuilder build(const Center& c, std::uint32_t* center_index = nullptr) {
    MolBuilder m;
    for (std::uint32_t i = 0; i < c.filler_atoms; ++i) m.add_atom(Atom{});
    Atom a;
    a.atomic_num = static_cast<std::uint8_t>(c.z);
    a.formal_charge = static_cast<std::int8_t>(c.charge);
    a.num_radical_electrons = static_cast<std::uint8_t>(c.radicals);
    if (c.aromatic_flag) a.flags |= AROMATIC;
    const std::uint32_t center = m.add_atom(a);
    auto add = [&](BondOrder order, bool center_is_end) {
        Atom other;
        other.atomic_num = 6;
        const std::uint32_t n = m.add_atom(other);
        Bond b;
        b.begin = center_is_end ? n : center;
        b.end = center_is_end ? center : n;
        b.order = order;
        if (c.aromatic_bond_flags) b.flags |= AROMATIC;
        EXPECT_TRUE(m.add_bond(b));
    };
    for (BondOrder o : c.bonds) add(o, false);
    for (BondOrder o : c.bonds_in) add(o, true);
    if (center_index) *center_index = center;
    return m;
}

constexpr auto S = BondOrder::Single;
constexpr auto D = BondOrder::Double;
constexpr auto T = BondOrder::Triple;
constexpr auto Q = BondOrder::Quadruple;
constexpr auto A = BondOrder::Aromatic;
constexpr auto U = BondOrder::Unspecified;
constexpr auto DAT = BondOrder::Dative;

// Expected outcome of a strict call: a value, or the error kind and reported valence.
struct Strict {
    bool ok;
    int value;  // the result, or the error's explicit_valence
    ValenceErrorKind kind = ValenceErrorKind::ExplicitValenceOutOfRange;
};
Strict ok(int v) { return {true, v}; }
Strict fails(int v, ValenceErrorKind k = ValenceErrorKind::ExplicitValenceOutOfRange) { return {false, v, k}; }

struct Case {
    std::string name;
    Center center;
    float extra_hs;
    int lenient_valence;  // non-strict explicit valence
    Strict strict_valence;
    int lenient_hs;       // non-strict implicit hydrogens for lenient_valence
    Strict strict_hs;
};

class Valence : public ::testing::TestWithParam<Case> {};

TEST_P(Valence, ExplicitAndImplicit) {
    const Case& c = GetParam();
    std::uint32_t atom = 0;
    const MolBuilder m = build(c.center, &atom);

    auto lenient = explicit_valence(m, atom, false, c.extra_hs);
    ASSERT_TRUE(lenient);
    EXPECT_EQ(*lenient, c.lenient_valence);

    auto strict = explicit_valence(m, atom, true, c.extra_hs);
    ASSERT_EQ(strict.has_value(), c.strict_valence.ok);
    if (strict) {
        EXPECT_EQ(*strict, c.strict_valence.value);
    } else {
        EXPECT_EQ(strict.error().kind, c.strict_valence.kind);
        EXPECT_EQ(strict.error().explicit_valence, c.strict_valence.value);
        EXPECT_EQ(strict.error().atom, atom);
    }

    auto hs = implicit_hs(m, atom, c.lenient_valence, false);
    ASSERT_TRUE(hs);
    EXPECT_EQ(int(*hs), c.lenient_hs);

    auto strict_hs = implicit_hs(m, atom, c.lenient_valence, true);
    ASSERT_EQ(strict_hs.has_value(), c.strict_hs.ok);
    if (strict_hs) {
        EXPECT_EQ(int(*strict_hs), c.strict_hs.value);
    } else {
        EXPECT_EQ(strict_hs.error().kind, c.strict_hs.kind);
        EXPECT_EQ(strict_hs.error().explicit_valence, c.strict_hs.value);
    }
}

// Shorthand for centres.
Center at(int z, std::vector<BondOrder> bonds, int charge = 0, bool aromatic_flag = false, int radicals = 0) {
    Center c;
    c.z = z;
    c.charge = charge;
    c.bonds = std::move(bonds);
    c.aromatic_flag = aromatic_flag;
    c.radicals = radicals;
    return c;
}

const ValenceErrorKind AROM = ValenceErrorKind::AromaticValenceNotAllowed;
const ValenceErrorKind CHARGE = ValenceErrorKind::UnreasonableCharge;

INSTANTIATE_TEST_SUITE_P(
    Atoms, Valence,
    ::testing::Values(
        // Aromatic correction.
        Case{"PyridineNitrogen", at(7, {A, A}, 0, true), 0, 3, ok(3), 0, ok(0)},
        Case{"AromaticCarbanionUsesNitrogenList", at(6, {A, A, A}, -1, true), 0, 3, ok(3), 0, ok(0)},
        Case{"OvershootBeyondOneAndAHalfStays", at(6, {A, A, A, A}, 0, true), 0, 6, fails(6), 0, fails(6, AROM)},
        Case{"AromaticSodiumStopsAtTrailingAny", at(11, {A, A, A}, 0, true), 0, 5, ok(5), 0, fails(5, AROM)},
        Case{"AromaticSulfurThreeBondsSnapsToTwo", at(16, {S, S, S}, 0, true), 0, 2, ok(2), 0, ok(0)},
        Case{"AromaticXenonZeroEntryEndsWalk", at(54, {S, S}, 0, true), 0, 2, ok(2), 0, fails(2, AROM)},
        // Plain sums, charges and the shifted element.
        Case{"CarbonFiveBonds", at(6, {S, S, S, S, S}), 0, 5, fails(5), 0, fails(5)},
        Case{"CarbonWithExtraHs", at(6, {S, S, S}), 1, 4, ok(4), 0, ok(0)},
        Case{"QuadrupleAndUnspecified", at(6, {Q, U, U}), 0, 4, ok(4), 0, ok(0)},
        Case{"CarbocationTwoBonds", at(6, {S, S}, 1), 0, 2, ok(2), 1, ok(1)},  // boron's list: 3
        Case{"SulfurValenceThree", at(16, {S, D}), 0, 3, ok(3), 1, ok(1)},
        Case{"SulfurValenceSeven", at(16, {D, D, D, S}), 0, 7, fails(7), 0, fails(7)},
        Case{"NeonBonded", at(10, {S}), 0, 1, fails(1), 0, ok(0)},  // own last entry 0: no hydrogen failure
        Case{"MethylRadicalFillsThroughRadical", at(6, {S}, 0, false, 1), 0, 1, ok(1), 2, ok(2)},
        // Elements whose own list ends in "any" never fail; cesium's does not.
        Case{"LithiumThreeBonds", at(3, {S, S, S}), 0, 3, ok(3), 0, ok(0)},
        Case{"CesiumHasNoTrailingAny", at(55, {S, S}), 0, 2, fails(2), 0, fails(2)},
        // Unrestricted and unknown elements.
        Case{"BeyondTheTable", at(200, {S, S, S, S, S, S, S}), 0, 7, ok(7), 0, ok(0)},
        Case{"ShiftedToWildcard", at(6, {S, S, S, S, S}, 6), 0, 5, ok(5), 0, ok(0)},
        // Hydrogen.
        Case{"LoneHydrogen", at(1, {}), 0, 0, ok(0), 1, ok(1)},
        Case{"LoneHydrogenDication", at(1, {}, 2), 0, 0, ok(0), 0, fails(0, CHARGE)},
        // The bond check allows a bridging hydride; the hydrogen count (helium's list) does not.
        Case{"BridgingHydride", at(1, {S, S}, -1), 0, 2, ok(2), 0, fails(2)},
        // Phosphorus, sulfur, arsenic and selenium anions keep their own lists.
        Case{"ArsenideOneMinusUsesSelenium", at(33, {S, S, S, S, S, S}, -1), 0, 6, ok(6), 0, ok(0)}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(ValenceError, TextOfCarbonWithFiveBonds) {
    Center c = at(6, {S, S, S, S, S});
    c.filler_atoms = 3;
    std::uint32_t atom = 0;
    const MolBuilder m = build(c, &atom);
    ASSERT_EQ(atom, 3u);
    auto r = explicit_valence(m, atom, true, 0.0f);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), (ValenceError{"C", 3, 5, ValenceErrorKind::ExplicitValenceOutOfRange}));
    EXPECT_EQ(r.error().to_string(), "原子 #3(C):显式价超出允许范围,显式价 = 5");
}

TEST(ValenceError, KindTextsAndSymbols) {
    EXPECT_EQ((ValenceError{"Cl", 12, -3, ValenceErrorKind::UnreasonableCharge}).to_string(),
              "原子 #12(Cl):形式电荷不合理,显式价 = -3");

    std::uint32_t atom = 0;
    MolBuilder h = build(at(1, {}, 3), &atom);
    auto r = implicit_hs(h, atom, 0, true);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "原子 #0(H):形式电荷不合理,显式价 = 0");

    MolBuilder s = build(at(16, {S, S, S}, 0, true), &atom);
    r = implicit_hs(s, atom, 3, true);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "原子 #0(S):芳香原子的显式价不在允许的价态中,显式价 = 3");
}

TEST(Valence, DativeBondCountsOnlyAtTheAcceptor) {
    // N -> C: the acceptor gains one, the nitrogen nothing.
    std::uint32_t atom = 0;
    MolBuilder m = build(at(7, {DAT}), &atom);
    ASSERT_EQ(atom, 0u);
    EXPECT_EQ(explicit_valence(m, 0, true, 0.0f), 0);
    EXPECT_EQ(explicit_valence(m, 1, true, 0.0f), 1);
    EXPECT_EQ(implicit_hs(m, 0, 0, true), 3);

    // Reversing the bond moves the count to the other atom.
    ASSERT_TRUE(m.reverse_bond(0));
    EXPECT_EQ(explicit_valence(m, 0, false, 0.0f), 1);
    EXPECT_EQ(explicit_valence(m, 1, false, 0.0f), 0);

    // Boron accepting from nitrogen reaches four with three more bonds: out of range.
    Center boron = at(5, {S, S, S});
    boron.bonds_in = {DAT};
    MolBuilder bm = build(boron, &atom);
    EXPECT_EQ(explicit_valence(bm, atom, false, 0.0f), 4);
    auto r = explicit_valence(bm, atom, true, 0.0f);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().explicit_valence, 4);
}

TEST(Valence, AromaticityFromFlagsAndOrders) {
    std::uint32_t atom = 0;
    EXPECT_FALSE(is_aromatic_atom(build(at(6, {S, D}), &atom), atom));
    EXPECT_TRUE(is_aromatic_atom(build(at(6, {S, D}, 0, true), &atom), atom));
    EXPECT_TRUE(is_aromatic_atom(build(at(6, {S, A}), &atom), atom));
    Center flagged_bond = at(6, {S, S});
    flagged_bond.aromatic_bond_flags = true;
    EXPECT_TRUE(is_aromatic_atom(build(flagged_bond, &atom), atom));
    // An aromatic bond flag is enough for the correction too: 3 x 1.5 would be 4.5.
    Center fused = at(7, {S, D, S});
    fused.aromatic_bond_flags = true;
    MolBuilder m = build(fused, &atom);
    EXPECT_EQ(explicit_valence(m, atom, true, 0.0f), 3);
}

TEST(Valence, RoundingOfOddTotals) {
    std::uint32_t atom = 0;
    // Iron has no list, so no correction: 3 x 1.5 = 4.5 rounds up.
    EXPECT_EQ(explicit_valence(build(at(26, {A, A, A}), &atom), atom, false, 0.0f), 5);
    EXPECT_EQ(explicit_valence(build(at(26, {}), &atom), atom, false, 0.3f), 0);
    EXPECT_EQ(explicit_valence(build(at(26, {}), &atom), atom, false, -0.5f), 0);
}

TEST(Valence, AbsurdInputsDoNotMisbehave) {
    std::uint32_t atom = 0;
    const MolBuilder c = build(at(6, {S}), &atom);
    EXPECT_EQ(explicit_valence(c, atom, false, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(explicit_valence(c, atom, false, std::numeric_limits<float>::infinity()),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(explicit_valence(c, atom, false, -std::numeric_limits<float>::infinity()),
              std::numeric_limits<std::int32_t>::min());
    auto big = explicit_valence(c, atom, true, 1e30f);
    ASSERT_FALSE(big);
    EXPECT_EQ(big.error().explicit_valence, std::numeric_limits<std::int32_t>::max());
    // Hydrogen counts that do not fit the u8 field give none.
    EXPECT_EQ(implicit_hs(c, atom, -1000, true), 0);
    EXPECT_EQ(implicit_hs(c, atom, -200, true), 204);
    const MolBuilder ar = build(at(6, {A}), &atom);
    EXPECT_EQ(implicit_hs(ar, atom, -1000, true), 0);
    EXPECT_FALSE(implicit_hs(c, atom, std::numeric_limits<std::int32_t>::max(), true));
    EXPECT_EQ(implicit_hs(c, atom, std::numeric_limits<std::int32_t>::max(), false), 0);
    // Undefined bond order codes count nothing.
    Center odd = at(6, {static_cast<BondOrder>(9), S});
    EXPECT_EQ(explicit_valence(build(odd, &atom), atom, true, 0.0f), 1);
}

TEST(Valence, AtomOutOfRangeIsAnInternalError) {
    std::uint32_t atom = 0;
    const MolBuilder m = build(at(6, {S}), &atom);
    EXPECT_THROW(is_aromatic_atom(m, 2), quorix::InternalError);
    EXPECT_THROW((void)explicit_valence(m, 2, false, 0.0f), quorix::InternalError);
    EXPECT_THROW((void)implicit_hs(m, NONE, 0, false), quorix::InternalError);
}

// Over every element, charge, radical count and a spread of bond sets: lenient
// calls never fail, strict and lenient agree where strict succeeds, and a lenient
// hydrogen count is 0 wherever the strict one fails.
TEST(Valence, StrictAndLenientAgree) {
    const std::vector<std::vector<BondOrder>> bond_sets = {
        {}, {S}, {D}, {S, S}, {A, A}, {A, A, A}, {S, D}, {T}, {S, S, S}, {S, S, S, S},
        {D, D, S}, {S, S, S, S, S}, {D, D, D}, {S, S, S, S, S, S}, {Q, Q}, {A, A, D}, {DAT}};
    for (int z = 0; z <= 120; ++z) {
        for (int q = -4; q <= 4; ++q) {
            for (int rad = 0; rad <= 2; ++rad) {
                for (bool flag : {false, true}) {
                    for (const auto& bonds : bond_sets) {
                        std::uint32_t atom = 0;
                        const MolBuilder m = build(at(z, bonds, q, flag, rad), &atom);
                        for (float extra : {0.0f, 1.0f, 2.0f}) {
                            auto lenient = explicit_valence(m, atom, false, extra);
                            ASSERT_TRUE(lenient);
                            auto strict = explicit_valence(m, atom, true, extra);
                            if (strict) EXPECT_EQ(*strict, *lenient);
                            else {
                                EXPECT_LE(z, 118);
                                EXPECT_EQ(strict.error().explicit_valence, *lenient);
                            }
                            auto hs = implicit_hs(m, atom, *lenient, false);
                            ASSERT_TRUE(hs);
                            auto strict_hs = implicit_hs(m, atom, *lenient, true);
                            if (strict_hs) EXPECT_EQ(*strict_hs, *hs);
                            else EXPECT_EQ(*hs, 0);
                        }
                    }
                }
            }
        }
    }
}

}  // namespace

TEST(NumericCasts, SaturateAndTruncate) {
    using quorix::core::round_saturating;
    using quorix::core::saturating_cast;
    EXPECT_EQ(saturating_cast<std::int32_t>(std::nan("")), 0);
    EXPECT_EQ(saturating_cast<std::int32_t>(1e300), 2147483647);
    EXPECT_EQ(saturating_cast<std::int32_t>(-1e300), -2147483647 - 1);
    EXPECT_EQ(saturating_cast<std::int32_t>(2147483647.9), 2147483647);
    EXPECT_EQ(saturating_cast<std::int32_t>(-2.9), -2);
    EXPECT_EQ(saturating_cast<std::uint8_t>(-1.0), 0);
    EXPECT_EQ(saturating_cast<std::uint8_t>(255.99), 255);
    EXPECT_EQ(saturating_cast<std::uint8_t>(256.0), 255);
    EXPECT_EQ(saturating_cast<std::int64_t>(9.3e18), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(round_saturating<std::int32_t>(-2.5), -3);
    EXPECT_EQ(round_saturating<std::int32_t>(2.5), 3);
    EXPECT_EQ(round_saturating<std::uint16_t>(std::numeric_limits<double>::infinity()), 65535);
}
