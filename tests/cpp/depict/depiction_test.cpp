// The whole 2-D depiction: stereo that survives a written and re-read molblock,
// metal complexes, the report's records.
#include <cstdio>

#include "chem/remove_hs.hpp"
#include "depict/lib.hpp"
#include "io/smiles/canonical.hpp"
#include "python/depiction.hpp"
#include "python/finish.hpp"
#include "support.hpp"

namespace quorix {
namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr std::size_t STRIDE = 70;
#else
constexpr std::size_t STRIDE = 1;
#endif

bool has_tetrahedral(const core::MolBuilder& m) {
    for (const core::Atom& a : m.atoms)
        if (core::is_tetrahedral(a.chiral_tag)) return true;
    return false;
}
bool has_cis_trans(const core::MolBuilder& m) {
    for (const core::Bond& b : m.bonds)
        if (b.stereo == core::BondStereo::Cis || b.stereo == core::BondStereo::Trans) return true;
    return false;
}

TEST(DepictionSweep, StereoSurvivesTheWrittenMolblock) {
    std::size_t chiral = 0, chiral_kept = 0, cis_trans = 0, cis_trans_kept = 0, unexplained = 0;
    for (std::size_t i = 0; i < test::data_records().size(); i += STRIDE) {
        const std::string& smiles = test::data_records()[i].smiles;
        core::MolBuilder mol = test::read_or_fail(smiles);
        core::MolBuilder sane = mol;
        if (!chem::sanitize(sane)) continue;
        io::double_bond_stereo(sane);
        const bool tet = has_tetrahedral(sane), ct = has_cis_trans(sane);
        if (!tet && !ct) continue;
        chem::remove_hs(sane);
        const std::string expected = io::canonical_smiles(sane).text;
        auto text = python::molblock_2d(mol, "");
        ASSERT_TRUE(text) << smiles << ": " << text.error();
        auto parsed = io::read_molblock(*text);
        ASSERT_TRUE(parsed) << smiles;
        auto back = python::finish_molblock(std::move(*parsed));
        ASSERT_TRUE(back) << smiles << ": " << back.error();
        chem::remove_hs(back->mol);
        const bool same = io::canonical_smiles(back->mol).text == expected;
        chiral += tet, cis_trans += ct;
        chiral_kept += tet && same, cis_trans_kept += ct && same;
        if (!same) {
            core::MolBuilder copy = mol;
            auto report = python::depict_copy(copy);
            ASSERT_TRUE(report);
            const bool explained = !report->unwedged.empty() || !report->misdrawn_stereo.empty();
            unexplained += !explained;
            if (getenv("SHOW_LOST")) std::printf("lost (%s): %s\n  %s\n  %s\n", explained ? "reported" : "unreported", smiles.c_str(), expected.c_str(), io::canonical_smiles(back->mol).text.c_str());
            if (!explained) std::printf("unexplained: %s\n  %s\n  %s\n", smiles.c_str(), expected.c_str(), io::canonical_smiles(back->mol).text.c_str());
        }
    }
    std::printf("tetrahedral %zu/%zu, cis/trans %zu/%zu kept, %zu unexplained\n", chiral_kept, chiral,
                cis_trans_kept, cis_trans, unexplained);
    EXPECT_GE(chiral_kept * 100, chiral * 99);
    EXPECT_GE(cis_trans_kept * 100, cis_trans * 99);
}

}  // namespace
}  // namespace quorix
