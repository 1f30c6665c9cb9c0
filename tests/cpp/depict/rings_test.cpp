// Ring-system layout: fused polygons, the hand-off to templates, and the hard
// ring systems of real chemistry.
#include <chrono>
#include <cmath>
#include <numbers>
#include <random>
#include <string>

#include "depict/rings.hpp"
#include "depict_support.hpp"

namespace quorix {
namespace {

using depict::PositionMap;

depict::RingSystemLayout lay_out(const test::Systems& s, std::size_t system = 0) {
    return depict::layout_ring_system(s.mol, s.records.at(system), s.ranks, nullptr);
}

std::optional<depict::TemplateLookup> lookup_of(const depict::RingSystemLayout& l) {
    if (!l.degradation) return std::nullopt;
    return std::get<depict::BridgedRingSystem>(*l.degradation).template_lookup;
}

TEST(FusedRings, SixRingStartsAtLowestRankAndTurnsCounterClockwise) {
    for (const auto& ring : {std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}, {0, 5, 4, 3, 2, 1}}) {
        core::MolBuilder m = test::read_or_fail("C1CCCCC1");
        const std::vector<std::uint32_t> ranks = test::identity(6);
        const chem::Ring r{ring, {}};
        const auto l = depict::layout_ring_system(m, {test::identity(6), {&r}}, ranks, nullptr);
        EXPECT_FALSE(l.degradation);
        EXPECT_NEAR(l.positions.at(0).x, 1.0, 1e-12);
        EXPECT_NEAR(l.positions.at(0).y, 0.0, 1e-12);
        EXPECT_NEAR(l.positions.at(1).x, 0.5, 1e-12);
        EXPECT_NEAR(l.positions.at(1).y, std::sqrt(3.0) / 2, 1e-12);
    }
}

// Lone rings of mixed sizes, some repeated and some very large, in a row: each
// corner exactly where the regular polygon puts it.
TEST(FusedRings, LoneRingsOfAnySizeAreRegularPolygons) {
    for (const std::size_t size : {6, 70, 5, 6, 64, 65, 3, 70, 5, 64}) {
        const core::MolBuilder m = test::read_or_fail("C1" + std::string(size - 1, 'C') + "1");
        const std::vector<std::uint32_t> atoms = test::identity(static_cast<std::uint32_t>(size));
        const chem::Ring r{atoms, {}};
        const auto l = depict::layout_ring_system(m, {atoms, {&r}}, atoms, nullptr);
        const double n = static_cast<double>(size), radius = 1.0 / (2.0 * std::sin(std::numbers::pi / n));
        for (std::uint32_t k = 0; k < size; ++k) {
            const double angle = static_cast<double>(k) * (2.0 * std::numbers::pi / n);
            ASSERT_EQ(l.positions.at(k), (depict::Point{radius * std::cos(angle), radius * std::sin(angle)}))
                << size << " " << k;
        }
    }
}

// Two fused rings of every pairing of small and very large sizes (the large
// ones past any kept table), fused each way round: every bond one unit long.
TEST(FusedRings, FusedPairsOfAnySizeHaveUnitBonds) {
    for (const auto& [a, b] : {std::pair{6, 5}, {70, 68}, {5, 70}, {68, 6}, {6, 6}, {66, 70}}) {
        // Atoms 0 and 1 shared; a branch of a - 2 atoms and a chain of b - 2 close the rings.
        const std::string smiles = "C%10(" + std::string(a - 3, 'C') + "C%11)C%11" + std::string(b - 3, 'C') + "C%10";
        const auto s = test::ring_systems_of(smiles);
        ASSERT_EQ(s->records.size(), 1u);
        ASSERT_EQ(s->records[0].rings.size(), 2u) << smiles;
        const auto l = lay_out(*s);
        EXPECT_FALSE(l.degradation) << smiles;
        const test::Geometry g = test::geometry(s->mol, l.positions);
        EXPECT_NEAR(g.shortest, 1.0, 1e-9) << a << " " << b;
        EXPECT_NEAR(g.longest, 1.0, 1e-9) << a << " " << b;
    }
}

TEST(FusedRings, SecondRingGoesToTheFarSideAndSixRingFirst) {
    const auto s = test::ring_systems_of("C1CCC2CCCC2C1");  // hydrindane: six + five
    const auto l = lay_out(*s);
    ASSERT_FALSE(l.degradation);
    const test::Geometry g = test::geometry(s->mol, l.positions);
    EXPECT_NEAR(g.shortest, 1.0, 1e-9);
    EXPECT_NEAR(g.longest, 1.0, 1e-9);
    EXPECT_GT(g.closest, 0.99);  // nothing folded back onto the first ring
    // The six-ring is the origin-centred polygon.
    for (std::uint32_t a : {0u, 1u, 2u, 3u, 8u})
        EXPECT_NEAR(depict::length(l.positions.at(a)), 1.0, 1e-9) << a;
}

// Hard ring systems: how each is drawn and what it reports.
struct HardCase {
    const char* name;
    const char* smiles;
    std::optional<depict::TemplateLookup> lookup;  // nothing: fused, not degraded
    double shortest, longest;                       // bond length range promised
};

class HardRingSystems : public testing::TestWithParam<HardCase> {};

TEST_P(HardRingSystems, DrawnWithinTheirPromise) {
    const HardCase& c = GetParam();
    const auto s = test::ring_systems_of(c.smiles);
    ASSERT_FALSE(s->records.empty());
    // The largest system is the hard one.
    std::size_t k = 0;
    for (std::size_t i = 0; i < s->records.size(); ++i)
        if (s->records[i].atoms.size() > s->records[k].atoms.size()) k = i;
    const auto l = lay_out(*s, k);
    EXPECT_EQ(lookup_of(l), c.lookup);
    EXPECT_EQ(l.positions.size(), s->records[k].atoms.size());
    const test::Geometry g = test::geometry(s->mol, l.positions);
    EXPECT_GE(g.shortest, c.shortest - 1e-6);
    EXPECT_LE(g.longest, c.longest + 1e-6);
    EXPECT_GT(g.closest, 0.05);
}

using depict::TemplateLookup;
INSTANTIATE_TEST_SUITE_P(
    Chemistry, HardRingSystems,
    testing::Values(
        HardCase{"norbornane", "C1CC2CCC1C2", TemplateLookup::Hit, 0.86, 1.26},
        HardCase{"camphor", "CC1(C)C2CCC1(C)C(=O)C2", TemplateLookup::Hit, 0.86, 1.26},
        HardCase{"adamantane", "C1C2CC3CC1CC(C2)C3", TemplateLookup::Hit, 0.75, 1.25},
        HardCase{"cubane", "C12C3C4C1C5C2C3C45", TemplateLookup::Hit, 0.75, 1.25},
        HardCase{"steroid", "CC12CCC3C(CCC4=CC(=O)CCC34C)C1CCC2O", std::nullopt, 0.95, 1.05},
        HardCase{"taxane", "CC1=C2CC3C(C)=CCCC3(C)CCC(C2(C)C)CC1", TemplateLookup::NotInTable, 0.999, 1.001},
        HardCase{"spiro[4.5]decane", "C1CCC2(CC1)CCCC2", std::nullopt, 0.95, 1.05},
        HardCase{"paracyclophane", "C1Cc2ccc(cc2)CCc2ccc1cc2", TemplateLookup::NotInTable, 0.95, 1.05},
        HardCase{"C60", "c12c3c4c5c1c1c6c7c2c2c8c3c3c9c4c4c%10c5c5c1c1c6c6c%11c7c2c2c7c8c3c3c8c9c4c4c9c%10c5c5c1c1c6c6c%11c2c2c7c3c3c8c4c4c9c5c1c1c6c2c3c41",
                 TemplateLookup::NotInTable, 0.5, 2.1},
        HardCase{"30-ring", "C1CCCCCCCCCCCCCCCCCCCCCCCCCCCCC1", std::nullopt, 0.999, 1.001},
        HardCase{"bicyclo[4.4.4]", "C12CCCCC(CCCC1)CCCC2", TemplateLookup::NotInTable, 0.66, 1.59}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(FusedRings, LongLadderFinishesQuickly) {
    // 500 fused four-rings: fusion draws them all, each ring costing a scan.
    core::MolBuilder m;
    core::Atom c;
    c.atomic_num = 6;
    for (int i = 0; i < 1002; ++i) m.add_atom(c);
    const auto bond = [&](std::uint32_t a, std::uint32_t b) {
        core::Bond x;
        x.begin = a, x.end = b, x.order = core::BondOrder::Single;
        m.push_bond(x);
    };
    for (std::uint32_t i = 0; i < 501; ++i) {
        bond(2 * i, 2 * i + 1);
        if (i) bond(2 * i - 2, 2 * i), bond(2 * i - 1, 2 * i + 1);
    }
    const auto s = test::ring_systems_of(std::move(m));
    ASSERT_EQ(s->records.size(), 1u);
    ASSERT_EQ(s->records[0].rings.size(), 500u);
    const auto start = std::chrono::steady_clock::now();
    const auto l = lay_out(*s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(l.degradation);
    EXPECT_NEAR(test::geometry(s->mol, l.positions).longest, 1.0, 1e-6);
    // Handed to the templates instead: no key fits, and the arcs draw it.
    const auto t = depict::place_ring_template(s->mol, s->records[0].atoms, s->ranks, s->records[0].rings, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(t.lookup, depict::TemplateLookup::NotInTable);
    EXPECT_EQ(t.positions.size(), 1002u);
    EXPECT_NEAR(test::geometry(s->mol, t.positions).longest, 1.0, 1e-6);
}

// The real molecules' ring systems: fused systems keep unit bonds, and the
// layout follows the canonical correspondence under any atom order.
TEST(RealRingSystems, UnitBondsAndOrderInvariance) {
    std::mt19937 rng(7);
    const auto& all = test::data_molecules_as_read();
    std::size_t fused = 0, degraded = 0;
    for (std::size_t i = 0; i < all.size(); i += 7) {
        const auto a = test::ring_systems_of(all[i]);
        std::vector<std::uint32_t> perm = test::identity(a->mol.num_atoms());
        std::shuffle(perm.begin(), perm.end(), rng);
        const auto b = test::ring_systems_of(test::scrambled(all[i], perm));
        ASSERT_EQ(a->records.size(), b->records.size());
        for (std::size_t k = 0; k < a->records.size(); ++k) {
            const auto la = lay_out(*a, k);
            // The corresponding system: the one with the same ranks (of two
            // equivalent systems, not necessarily the one `perm` leads to).
            const auto key = depict::rank_sorted_atoms(a->ranks, a->records[k].atoms);
            std::size_t kb = 0;
            while (kb < b->records.size() && depict::rank_sorted_atoms(b->ranks, b->records[kb].atoms) != key) ++kb;
            ASSERT_LT(kb, b->records.size()) << test::data_records()[i].smiles;
            const auto lb = lay_out(*b, kb);
            ASSERT_EQ(la.degradation.has_value(), lb.degradation.has_value()) << test::data_records()[i].smiles;
            // Symmetric atoms correspond through their ranks, not through `perm`.
            std::vector<std::uint32_t> by_rank(b->ranks.size());
            for (std::uint32_t x = 0; x < b->ranks.size(); ++x) by_rank[b->ranks[x]] = x;
            for (const auto& [atom, p] : la.positions) {
                const depict::Point q = lb.positions.at(by_rank[a->ranks[atom]]);
                ASSERT_NEAR(p.x, q.x, 1e-6) << test::data_records()[i].smiles;
                ASSERT_NEAR(p.y, q.y, 1e-6) << test::data_records()[i].smiles;
            }
            if (la.degradation) {
                ++degraded;
                continue;
            }
            ++fused;
            const test::Geometry g = test::geometry(a->mol, la.positions);
            ASSERT_NEAR(g.shortest, 1.0, 1e-9) << test::data_records()[i].smiles;
            ASSERT_NEAR(g.longest, 1.0, 1e-9) << test::data_records()[i].smiles;
        }
    }
    EXPECT_GT(fused, 500u);
    EXPECT_GT(degraded, 0u);
}

}  // namespace
}  // namespace quorix
