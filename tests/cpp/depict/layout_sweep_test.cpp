// Whole layouts of real molecules: bond lengths, clashes reported, cis/trans
// drawn as stored, and the same drawing whatever the atom numbering.
#include <cmath>
#include <random>

#include "depict/chains.hpp"
#include "depict/double_bonds.hpp"
#include "depict/stereo.hpp"
#include "pipeline.hpp"

namespace quorix {
namespace {

// The sanitised build (the one CI runs) sweeps a subset.
#ifdef __SANITIZE_ADDRESS__
constexpr std::size_t SWEEP = 100;
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

TEST(LayoutSweep, RealMoleculesAreDrawnWithUnitBondsAndHonestClashLists) {
    std::size_t with_clashes = 0, with_crossings = 0;
    for (std::size_t i : sample(SWEEP)) {
        const std::string& smiles = test::data_records()[i].smiles;
        const test::Drawing d = test::draw(test::prepared(smiles));
        const core::MolBuilder& m = d.mol;
        ASSERT_EQ(d.positions.size(), m.num_atoms()) << smiles;
        const chem::RingMembership rings = chem::ring_membership_of(m);  // flags are unset when unsanitised
        for (std::uint32_t i = 0; i < m.num_bonds(); ++i) {
            const core::Bond& b = m.bonds[i];
            if (rings.bond_in_ring[i]) continue;  // ring shapes are the ring layout's
            const double len = depict::length(d.positions.at(b.begin) - d.positions.at(b.end));
            EXPECT_NEAR(len, 1.0, 1e-6) << smiles << " bond " << b.begin << "-" << b.end;
        }
        // Every unbonded pair closer than its label radii is listed, and only those.
        const auto radii = depict::label_radii(m, depict::STYLE_2D.bond_length, depict::STYLE_2D.font_size);
        std::vector<depict::AtomPair> close;
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a)
            for (std::uint32_t b = a + 1; b < m.num_atoms(); ++b)
                if (m.bond_between(a, b) == core::NONE &&
                    depict::length(d.positions.at(a) - d.positions.at(b)) < radii[a] + radii[b])
                    close.emplace_back(a, b);
        EXPECT_EQ(d.refined.unresolved, close) << smiles;
        with_clashes += !close.empty();
        with_crossings += !d.refined.crossings.empty();
        // Acyclic cis/trans bonds are always drawn as stored; ring ones may not be.
        std::vector<depict::Point> coords(m.num_atoms());
        for (const auto& [a, p] : d.positions) coords[a] = p;
        for (std::uint32_t b : depict::find_misdrawn_double_bonds(m, coords))
            EXPECT_TRUE(rings.bond_in_ring[b]) << smiles << " bond " << b;
    }
    std::printf("%zu molecules: %zu with clashes, %zu with crossings\n", SWEEP, with_clashes, with_crossings);
    // Most drug-like molecules come out clean.
    EXPECT_LT(with_clashes * 10, SWEEP) << with_clashes;
    EXPECT_LE(with_crossings * 20, SWEEP) << with_crossings;
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
