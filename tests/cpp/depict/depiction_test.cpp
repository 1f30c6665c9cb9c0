// The whole 2-D depiction: stereo that survives a written and re-read molblock,
// metal complexes and the preparation copies, packing, orientation, the report's
// records.
#include <cstdio>

#include "chem/remove_hs.hpp"
#include "depict/lib.hpp"
#include "depict/refine.hpp"
#include "io/smiles/canonical.hpp"
#include "python/depiction.hpp"
#include "python/finish.hpp"
#include "support.hpp"

namespace quorix {
namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr std::size_t STRIDE = 35;
#else
constexpr std::size_t STRIDE = 1;
#endif

// Canonical SMILES keeping only one kind of stereo.
std::string canonical_with(core::MolBuilder m, bool tetrahedral) {
    for (core::Atom& a : m.atoms)
        if (!tetrahedral) a.chiral_tag = core::ChiralTag::Unspecified;
    for (core::Bond& b : m.bonds)
        if (tetrahedral) b.stereo = core::BondStereo::None, b.direction = core::BondDirection::None;
    return io::canonical_smiles(m).text;
}

bool any_tetrahedral(const core::MolBuilder& m) {
    return std::any_of(m.atoms.begin(), m.atoms.end(), [](const core::Atom& a) { return core::is_tetrahedral(a.chiral_tag); });
}
bool any_cis_trans(const core::MolBuilder& m) {
    return std::any_of(m.bonds.begin(), m.bonds.end(), [](const core::Bond& b) {
        return b.stereo == core::BondStereo::Cis || b.stereo == core::BondStereo::Trans;
    });
}

// Every wedge sits on a single bond at its centre and reads back as the centre's
// tag; `unwedged` holds exactly the confirmed centres without one.
void expect_wedges_read_back(core::MolBuilder m, const depict::DepictionResult& r, std::string_view smiles) {
    if (!r.hydrogens.hydrogens.empty()) m = depict::add_wedge_hydrogens(r.hydrogens, m);
    ASSERT_EQ(r.wedges.size(), m.num_bonds());
    std::vector<io::Coord> flat;
    for (depict::Point p : r.coords) flat.push_back({p.x, p.y, 0.0});
    std::vector<std::uint8_t> wedged(m.num_atoms(), 0);
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
        if (r.wedges[b].kind == io::WedgeKind::None) continue;
        const std::uint32_t c = r.wedges[b].apex;
        ASSERT_TRUE(c == m.bonds[b].begin || c == m.bonds[b].end) << smiles;
        EXPECT_EQ(m.bonds[b].order, core::BondOrder::Single) << smiles;
        wedged[c] = 1;
        EXPECT_EQ(io::stereo_from_wedges(m, flat, r.wedges, c), m.atoms[c].chiral_tag) << smiles << " atom " << c;
    }
    const std::vector<std::uint8_t> confirmed = io::chiral_centres(m);
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        const bool listed = std::binary_search(r.unwedged.begin(), r.unwedged.end(), a);
        if (!core::is_tetrahedral(m.atoms[a].chiral_tag)) continue;
        if (confirmed[a]) {
            EXPECT_NE(wedged[a], listed) << smiles << a;
        } else {
            EXPECT_FALSE(wedged[a] || listed) << smiles << a;
        }
    }
}

// Written, read back and finished the way parse_molblock does; every molecule
// whose stereo does not come back must be named in the report.
TEST(DepictionSweep, StereoSurvivesTheWrittenMolblock) {
    std::size_t tet = 0, tet_kept = 0, ct = 0, ct_kept = 0, unreported = 0;
    for (std::size_t i = 0; i < test::data_records().size(); i += STRIDE) {
        const core::MolBuilder mol = test::read_or_fail(test::data_records()[i].smiles);
        core::MolBuilder sane = mol;
        if (!chem::sanitize(sane)) continue;
        io::double_bond_stereo(sane);
        const bool has_tet = any_tetrahedral(sane), has_ct = any_cis_trans(sane);
        if (!has_tet && !has_ct) continue;
        chem::remove_hs(sane);
        auto text = python::molblock_2d(mol, "");
        ASSERT_TRUE(text) << test::data_records()[i].smiles << ": " << text.error();
        auto parsed = io::read_molblock(*text);
        ASSERT_TRUE(parsed);
        auto back = python::finish_molblock(std::move(*parsed));
        ASSERT_TRUE(back) << back.error();
        chem::remove_hs(back->mol);
        const bool tet_same = canonical_with(sane, true) == canonical_with(back->mol, true);
        const bool ct_same = canonical_with(sane, false) == canonical_with(back->mol, false);
        tet += has_tet, tet_kept += has_tet && tet_same;
        ct += has_ct, ct_kept += has_ct && ct_same;
        core::MolBuilder copy = mol;
        auto report = python::depict_copy(copy);
        ASSERT_TRUE(report);
        expect_wedges_read_back(copy, *report, test::data_records()[i].smiles);
        if (tet_same && ct_same) continue;
        if (!tet_same && report->unwedged.empty()) ++unreported;
        if (!ct_same && report->misdrawn_stereo.empty()) ++unreported;
        EXPECT_FALSE(!tet_same && report->unwedged.empty()) << test::data_records()[i].smiles;
        EXPECT_FALSE(!ct_same && report->misdrawn_stereo.empty()) << test::data_records()[i].smiles;
    }
    std::printf("tetrahedral kept %zu/%zu, cis/trans kept %zu/%zu, %zu losses unreported\n", tet_kept, tet, ct_kept,
                ct, unreported);
    if (STRIDE > 1) return;  // the rates hold for the whole set, not for every sample of it
    EXPECT_GE(tet_kept * 100, tet * 99);
    EXPECT_GE(ct_kept * 100, ct * 95);  // trans bonds in rings of 8+ are drawn cis, and reported
}

// Every "either" mark written stands on a double bond each of whose ends holds
// something besides its partner (a substituent or a hydrogen) to be cis or trans.
TEST(DepictionSweep, EitherMarksOnlyBondsWithTwoSubstitutedEnds) {
    std::size_t marks = 0;
    for (std::size_t i = 0; i < test::data_records().size(); i += STRIDE) {
        const std::string& smiles = test::data_records()[i].smiles;
        auto text = python::molblock_2d(test::read_or_fail(smiles), "");
        if (!text) continue;
        auto parsed = io::read_molblock(*text);
        ASSERT_TRUE(parsed) << smiles;
        const std::vector<std::uint8_t> either = parsed->either;
        auto back = python::finish_molblock(std::move(*parsed));
        ASSERT_TRUE(back) << smiles;
        const core::MolBuilder& m = back->mol;
        for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
            if (!either[b]) continue;
            ++marks;
            for (std::uint32_t x : {m.bonds[b].begin, m.bonds[b].end})
                EXPECT_TRUE(m.degree[x] > 1 || m.atoms[x].total_hs() > 0) << smiles << " bond " << b;
        }
    }
    EXPECT_GT(marks, 0u);
}

// A dative bond's written direction is its meaning: donor first, never a wedge
// (written apex first, a wedge could turn it round). Centres beside dative
// bonds, in real molecules with a donor in a centre's hydrogen's place and in
// metal complexes, come back or are listed as unwedged.
TEST(DepictionSweep, DativeBondsAreWrittenAsTheyStand) {
    std::vector<std::string> inputs = {
        "CCCCC[C@@H](CC)<-O", "O->[C@@]12CCCC[C@@H]1CCCC2", "N->[Zn@@](<-O)(<-S)<-P", "C[Zn@@](<-N)(<-O)Cl",
        "C1CC[N@@]2(->[Cu])CCCC[C@@H]2C1", "O=C1O[Cu]<-[N@@H]2CCC[C@H]12", "C[C@@H]1C(=O)O[Pt](Cl)<-[NH2]1",
        "C[C@@H]1C(=O)O[Cu]2(OC(=O)[C@H](C)[NH2]->2)<-[NH2]1", "Cl[Pt]1(Cl)<-[NH2][C@@H]2CCCC[C@H]2[NH2]->1"};
    for (std::size_t i = 0; i < test::data_records().size(); i += STRIDE)
        if (std::string v = test::donor_in_place_of_hydrogen(test::data_records()[i].smiles); !v.empty())
            inputs.push_back(std::move(v));
    std::size_t written = 0, kept = 0;
    for (const std::string& smiles : inputs) {
        const core::MolBuilder mol = test::read_or_fail(smiles);
        core::MolBuilder drawn = mol;
        auto report = python::depict_copy(drawn);
        if (!report) continue;  // a donor the centre's element cannot take
        expect_wedges_read_back(drawn, *report, smiles);
        if (!report->hydrogens.hydrogens.empty()) drawn = depict::add_wedge_hydrogens(report->hydrogens, drawn);
        auto text = python::molblock_2d(mol, "");
        ASSERT_TRUE(text) << smiles << ": " << text.error();
        auto parsed = io::read_molblock(*text);
        ASSERT_TRUE(parsed) << smiles;
        ASSERT_EQ(parsed->mol.num_bonds(), drawn.num_bonds());
        for (std::uint32_t b = 0; b < drawn.num_bonds(); ++b) {
            const core::Bond &want = drawn.bonds[b], &got = parsed->mol.bonds[b];
            if (want.order != core::BondOrder::Dative) continue;
            ++written;
            EXPECT_EQ(got.order, core::BondOrder::Dative) << smiles;
            EXPECT_EQ(std::pair(got.begin, got.end), std::pair(want.begin, want.end)) << smiles << " bond " << b;
            EXPECT_EQ(parsed->wedge_marks[b].kind, io::WedgeKind::None) << smiles << " bond " << b;
        }
        auto back = python::finish_molblock(std::move(*parsed));
        ASSERT_TRUE(back) << smiles << ": " << back.error();
        chem::remove_hs(back->mol);
        core::MolBuilder sane = mol;
        ASSERT_TRUE(chem::sanitize(sane));
        chem::remove_hs(sane);
        const bool same = canonical_with(sane, true) == canonical_with(back->mol, true);
        kept += same;
        EXPECT_TRUE(same || !report->unwedged.empty()) << smiles;
    }
    EXPECT_GT(written * STRIDE, 2000u);
    EXPECT_GT(kept * STRIDE, 2000u);
}

TEST(Depiction, StyleFingerprintAndEmptyMolecule) {
    EXPECT_EQ(depict::style_fingerprint(depict::STYLE_2D), 0x5ae67bbdc8e0bb62ull);
    const depict::DepictionResult r = depict::depict_2d(core::MolBuilder{}, depict::STYLE_2D, nullptr);
    EXPECT_TRUE(r.coords.empty() && r.degraded.empty() && r.wedges.empty() && r.unwedged.empty());
    EXPECT_EQ(r.style_name, "ACS Document 1996");
    EXPECT_EQ(r.style_fingerprint, 0x5ae67bbdc8e0bb62ull);
}

TEST(Depiction, OneAtomKeepsItsPackedPoint) {
    core::MolBuilder m = test::read_or_fail("[NH4+]");
    auto r = python::depict_copy(m);
    ASSERT_TRUE(r);
    const double radius = depict::label_radii(m, 14.4, 10.0)[0];
    EXPECT_GT(radius, 0.25);
    EXPECT_DOUBLE_EQ(r->coords[0].x, radius);
}

// Centred on the centroid and turned to the lowest height over width.
TEST(Depiction, ZigZagLiesFlat) {
    core::MolBuilder m = test::read_or_fail("CCCCCCCC");
    auto chain = python::depict_copy(m);
    ASSERT_TRUE(chain);
    double xlo = 1e9, xhi = -1e9, ylo = 1e9, yhi = -1e9, sx = 0, sy = 0;
    for (depict::Point p : chain->coords)
        xlo = std::min(xlo, p.x), xhi = std::max(xhi, p.x), ylo = std::min(ylo, p.y), yhi = std::max(yhi, p.y),
        sx += p.x, sy += p.y;
    EXPECT_GT(xhi - xlo, 5.0);
    EXPECT_LT(yhi - ylo, 1.0);
    EXPECT_NEAR(sx, 0.0, 1e-9);
    EXPECT_NEAR(sy, 0.0, 1e-9);
}

TEST(Depiction, MetalCentres) {
    const auto centres = [](std::string_view smiles) { return depict::metal_centres(test::read_or_fail(smiles)); };
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(centres("C[Sn](C)(C)C"), V{1});
    EXPECT_EQ(centres("C[Si](C)(C)C"), V{});
    EXPECT_EQ(centres("Cl[Hg]Cl"), V{});
    EXPECT_EQ(centres("[Fe].CCO"), V{});
    EXPECT_EQ(centres("CC(C)[Al](C(C)C)C(C)C.Cl[Pt](Cl)(N)N"), (V{3, 11}));
}

constexpr std::string_view FERROCENE =
    "[Fe]%10%11%12%13%14%15%16%17%18%19.[CH]%101[CH]%11[CH]%12[CH]%13[CH]%141.[CH]%152[CH]%16[CH]%17[CH]%18[CH]%192";

std::string degraded_text(std::string_view smiles) {
    core::MolBuilder m = test::read_or_fail(smiles);
    auto r = python::depict_copy(m);
    if (!r) return r.error();
    std::string out;
    for (const auto& d : r->degraded) out += depict::degradation_text(d) + ";";
    return out;
}

struct HaptoCase {
    std::string_view smiles;
    std::string_view degraded;
};
class Hapto : public testing::TestWithParam<HaptoCase> {};
TEST_P(Hapto, Reported) { EXPECT_EQ(degraded_text(GetParam().smiles), GetParam().degraded); }
INSTANTIATE_TEST_SUITE_P(
    Depiction, Hapto,
    testing::Values(
        HaptoCase{FERROCENE,
                  "HaptoCoordination { metal: 0, ring: [1, 5, 4, 3, 2] };"
                  "HaptoCoordination { metal: 0, ring: [6, 7, 8, 9, 10] };"},
        // Three bonds in one unbroken run along the ring count; two, or two runs, do not.
        HaptoCase{"[Pd]%10%11%12(Cl)Cl.C1C[CH]%10[CH]%11[CH]%12CCC1", "HaptoCoordination { metal: 0, ring: [4, 8, 10, 3, 9, 6, 7, 5] };"},
        HaptoCase{"[Pd]%10%11(Cl)Cl.C1C[CH]%10[CH]%11CCCC1", ""},
        HaptoCase{"[Pd]%10%11%12(Cl)Cl.C1[CH]%10C[CH]%11C[CH]%12CC1",
                  "BridgedRingSystem { atoms: [0, 3, 4, 5, 6, 7, 8, 9, 10], template: NotInTable };"},
        HaptoCase{"C1CCCC2CCCCC(CCCC1)CCCC2",
                  "BridgedRingSystem { atoms: [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17], "
                  "template: NotInTable };"},
        HaptoCase{"C12C3C4C1C5C2C3C45", "BridgedRingSystem { atoms: [0, 1, 2, 3, 4, 5, 6, 7], template: Hit };"}));

// The preparation copies are used as built: bracket atoms that lose a bond keep
// their hydrogens and gain no radical, and over-valent donors stay single-bonded.
TEST(Depiction, PreparationCopiesKeepTheDrawnAtomsAndStayDativeFree) {
    for (std::string_view smiles :
         {FERROCENE, std::string_view("[Ru]%10%11%12%13%14%15(Cl)(Cl)[PH3].Cc1ccc(C(C)C)[c]%10[c]%11[c]%12[c]%13[c]%14[c]%151"),
          std::string_view("Cl[Pt]1(Cl)[NH2]CC[NH2]1"), std::string_view("[NH3]->[Co](<-[NH3])(<-[NH3])(Cl)(Cl)Cl")}) {
        core::MolBuilder m = test::read_or_fail(smiles);
        ASSERT_TRUE(chem::sanitize(m));
        const depict::PreparedLayout p = depict::prepare_layout(m, io::canonical_ranks(m));
        for (const auto* copy : {p.dative_free ? &*p.dative_free : nullptr, p.hapto_free ? &*p.hapto_free : nullptr}) {
            if (!copy) continue;
            for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
                EXPECT_EQ(copy->atoms[a].total_hs(), m.atoms[a].total_hs()) << smiles << " atom " << a;
                EXPECT_EQ(copy->atoms[a].num_radical_electrons, m.atoms[a].num_radical_electrons) << smiles;
            }
            for (const core::Bond& b : copy->bonds) EXPECT_NE(b.order, core::BondOrder::Dative) << smiles;
        }
    }
    // The chelate ring closes through the donor bonds only when they stay single.
    core::MolBuilder en = test::read_or_fail("Cl[Pt]1(Cl)[NH2]CC[NH2]1");
    auto r = python::depict_copy(en);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->crossings.empty());
    for (std::uint32_t b : {4u, 6u}) {
        const core::Bond& bond = en.bonds[b];
        EXPECT_NEAR(depict::length(r->coords[bond.begin] - r->coords[bond.end]), 1.0, 1e-6);
    }
}

// A ring too large for a trans double bond to be drawn trans: listed, and
// written as "either" rather than with the contradicting cis geometry.
TEST(Depiction, MisdrawnRingDoubleBondIsWrittenAsEither) {
    core::MolBuilder m = test::read_or_fail("F[C@H]1CCCC/C=C/CCC1");
    core::MolBuilder copy = m;
    auto r = python::depict_copy(copy);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->misdrawn_stereo, std::vector<std::uint32_t>{6});
    auto text = python::molblock_2d(m, "");
    ASSERT_TRUE(text);
    auto parsed = io::read_molblock(*text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->either.at(6), 1);
    auto back = python::finish_molblock(std::move(*parsed));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->mol.bonds[6].stereo, core::BondStereo::None);
}

}  // namespace
}  // namespace quorix
