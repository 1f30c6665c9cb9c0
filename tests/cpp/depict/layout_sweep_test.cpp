// Whole layouts of real molecules: bond lengths, clashes reported, cis/trans
// drawn as stored, and the same drawing whatever the atom numbering.
#include <cmath>
#include <random>

#include "depict/chains.hpp"
#include "depict/stereo.hpp"
#include "depict/spring.hpp"
#include "pipeline.hpp"

namespace quorix {
namespace {

// The sanitised build (the one CI runs) sweeps a subset.
#ifdef __SANITIZE_ADDRESS__
constexpr std::size_t SWEEP = 700;
#else
constexpr std::size_t SWEEP = 7000;  // all of them
#endif

// Every 10th molecule of the data set, so the sweep spans all of it.
std::vector<std::size_t> sample(std::size_t count) {
    std::vector<std::size_t> out;
    const std::size_t n = test::data_records().size();
    for (std::size_t i = 0; i < n && out.size() < count; i += std::max<std::size_t>(1, n / count)) out.push_back(i);
    return out;
}

// Every unbonded pair closer than its label radii, and every pair of crossing
// bonds, found the slow way.
void expect_honest_lists(const test::Drawing& d, const std::string& smiles) {
    const core::MolBuilder& m = d.mol;
    const auto radii = depict::label_radii(m, depict::STYLE_2D.bond_length, depict::STYLE_2D.font_size);
    std::vector<depict::AtomPair> close;
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a)
        for (std::uint32_t b = a + 1; b < m.num_atoms(); ++b)
            if (m.bond_between(a, b) == core::NONE &&
                depict::length(d.positions.at(a) - d.positions.at(b)) < radii[a] + radii[b])
                close.emplace_back(a, b);
    EXPECT_EQ(d.refined.unresolved, close) << smiles;
    std::vector<depict::BondPair> crossing;
    for (std::uint32_t i = 0; i < m.num_bonds(); ++i)
        for (std::uint32_t j = i + 1; j < m.num_bonds(); ++j) {
            const core::Bond &x = m.bonds[i], &y = m.bonds[j];
            if (depict::segments_cross(d.positions.at(x.begin), d.positions.at(x.end), d.positions.at(y.begin),
                                       d.positions.at(y.end)))
                crossing.emplace_back(i, j);
        }
    EXPECT_EQ(d.refined.crossings, crossing) << smiles;
}

void expect_unit_chain_bonds(const test::Drawing& d, const std::string& smiles) {
    const chem::RingMembership rings = chem::ring_membership_of(d.mol);  // flags are unset when unsanitised
    for (std::uint32_t i = 0; i < d.mol.num_bonds(); ++i) {
        const core::Bond& b = d.mol.bonds[i];
        if (rings.bond_in_ring[i]) continue;  // ring shapes are the ring layout's
        EXPECT_NEAR(depict::length(d.positions.at(b.begin) - d.positions.at(b.end)), 1.0, 1e-6)
            << smiles << " bond " << b.begin << "-" << b.end;
    }
}

std::string dendrimer(int generation) {
    if (generation == 0) return "CN";
    const std::string branch = dendrimer(generation - 1);
    return "CCN(CC(=O)NC" + branch + ")CC(=O)NC" + branch;
}

// A mixture of 2n small ions.
std::string salts(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += std::string(i ? "." : "") + "CC(=O)[O-].[NH4+]";
    return out;
}

class Crowded : public testing::TestWithParam<std::string> {};

// Crowded drawings: whatever the layout cannot mend stays in its lists.
TEST_P(Crowded, DrawnWholeWithWhatRemainsListed) {
    const std::string& smiles = GetParam();
    const test::Drawing d = test::draw(test::prepared(smiles));
    ASSERT_EQ(d.positions.size(), d.mol.num_atoms());
    expect_unit_chain_bonds(d, smiles);
    expect_honest_lists(d, smiles);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Crowded,
    testing::Values("CC(C)(C)C(C)(C)C(C)(C)C(C)(C)C(C)(C)C(C)(C)C",        // branched alkane
                    "CC(C)(C(C)(C)C(C)(C)C)C(C)(C(C)(C)C)C(C)(C)C",         // more so
                    "C1CCCCCCCCCCCCCCCCCCCCCCC1",                           // macrocycle
                    "O=C1CCCCCCCCCCC/C=C/CCCCO1",                           // macrolactone, ring cis/trans
                    "C1CCC2(CC1)CCC1(CC2)CCC2(CC1)CCCCC2",                  // spiro chain
                    "C12C3C4C1C5C2C3C45",                                   // cubane
                    "C1C2CC3CC1CC(C2)C3CC12CC3CC(CC(C3)C1)C2",              // two adamantanes
                    std::string(300, 'C'),                                  // long chain
                    "CC(C)(C)c1cc(C(C)(C)C)c(O)c(C(C)(C)C)c1",              // crowded arene
                    dendrimer(3), salts(100)));

TEST(LayoutSweep, RealMoleculesAreDrawnWithUnitBondsAndHonestClashLists) {
    std::size_t with_clashes = 0, with_crossings = 0;
    for (std::size_t i : sample(SWEEP)) {
        const std::string& smiles = test::data_records()[i].smiles;
        const test::Drawing d = test::draw(test::prepared(smiles));
        const core::MolBuilder& m = d.mol;
        ASSERT_EQ(d.positions.size(), m.num_atoms()) << smiles;
        expect_unit_chain_bonds(d, smiles);
        expect_honest_lists(d, smiles);
        with_clashes += !d.refined.unresolved.empty();
        with_crossings += !d.refined.crossings.empty();
        // Acyclic cis/trans bonds are always drawn as stored; ring ones may not be.
        std::vector<depict::Point> coords(m.num_atoms());
        for (const auto& [a, p] : d.positions) coords[a] = p;
        const chem::RingMembership rings = chem::ring_membership_of(m);
        for (std::uint32_t b : depict::find_misdrawn_double_bonds(m, coords))
            EXPECT_TRUE(rings.bond_in_ring[b]) << smiles << " bond " << b;
    }
    std::printf("%zu molecules: %zu with clashes, %zu with crossings\n", SWEEP, with_clashes, with_crossings);
    // Most drug-like molecules come out clean (about 5% keep a clash or a crossing).
    EXPECT_LT(with_clashes * 10, SWEEP) << with_clashes;
    EXPECT_LT(with_crossings * 10, SWEEP) << with_crossings;
}

TEST(LayoutSweep, RenumberedAtomsGetTheSameCoordinates) {
    std::mt19937 rng(7);
    for (std::size_t i : sample(SWEEP / 4)) {
        const std::string& smiles = test::data_records()[i].smiles;
        const core::MolBuilder m = test::read_or_fail(smiles);
        std::vector<std::uint32_t> perm = test::identity(m.num_atoms());
        std::shuffle(perm.begin(), perm.end(), rng);
        const test::Drawing a = test::draw(test::prepared(m));
        const test::Drawing b = test::draw(test::prepared(test::scrambled(m, perm)));
        // Symmetric atoms may trade ranks, so atoms are matched by canonical rank.
        std::vector<std::uint32_t> by_rank_a(m.num_atoms()), by_rank_b(m.num_atoms());
        for (std::uint32_t x = 0; x < m.num_atoms(); ++x) {
            by_rank_a[a.ranks[x]] = x;
            by_rank_b[b.ranks[x]] = x;
        }
        for (std::uint32_t r = 0; r < m.num_atoms(); ++r) {
            const depict::Point p = a.positions.at(by_rank_a[r]), q = b.positions.at(by_rank_b[r]);
            EXPECT_NEAR(p.x, q.x, 1e-9) << smiles << " rank " << r;
            EXPECT_NEAR(p.y, q.y, 1e-9) << smiles << " rank " << r;
        }
        EXPECT_EQ(a.refined.unresolved.size(), b.refined.unresolved.size()) << smiles;
        EXPECT_EQ(a.refined.crossings.size(), b.refined.crossings.size()) << smiles;
    }
}

}  // namespace
}  // namespace quorix
