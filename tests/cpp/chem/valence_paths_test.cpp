// The fused valence entries and the lists handed between pipeline steps must
// give exactly what the two-step valence functions give.
#include <gtest/gtest.h>

#include <algorithm>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "chem/adjust_hs.hpp"
#include "chem/aromaticity.hpp"
#include "chem/cleanup.hpp"
#include "chem/cleanup_chirality.hpp"
#include "chem/conjugation.hpp"
#include "chem/kekulize.hpp"
#include "chem/organometallics.hpp"
#include "chem/radicals.hpp"
#include "chem/rings.hpp"
#include "chem/valence.hpp"
#include "core/error.hpp"
#include "core/valence.hpp"
#include "io/smiles/read.hpp"
#include "support.hpp"

using namespace quorix;

namespace {

std::vector<std::string> real_smiles() {
    std::vector<std::string> out;
    for (const auto& record : test::data_records()) out.push_back(record.smiles);
    return out;
}

// The list form, which reuses answers between atoms of one kind, against the
// single-atom form, in index order and backwards.
void expect_list_agrees(const core::MolBuilder& m, const std::string& what) {
    std::vector<std::uint32_t> atoms;
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) atoms.push_back(a);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<core::AtomValence> listed(atoms.size());
        core::lenient_valences(m, atoms, listed);
        for (std::size_t k = 0; k < atoms.size(); ++k) {
            const core::AtomValence single = core::lenient_valence_hs(m, atoms[k]);
            ASSERT_EQ(listed[k].explicit_valence, single.explicit_valence) << what << " atom " << atoms[k];
            ASSERT_EQ(listed[k].implicit_hs, single.implicit_hs) << what << " atom " << atoms[k];
            ASSERT_EQ(listed[k].aromatic, single.aromatic) << what << " atom " << atoms[k];
        }
        std::reverse(atoms.begin(), atoms.end());
    }
}

// Every atom: the one-walk results against explicit_valence then implicit_hs.
void expect_fused_agree(const core::MolBuilder& m, const std::string& smiles) {
    expect_list_agrees(m, smiles);
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        const core::Atom& atom = m.atoms[a];
        const bool fixed = (atom.flags & core::FIXED_HS) != 0;
        const float declared = static_cast<float>(atom.num_explicit_hs);

        const std::int32_t ev = *core::explicit_valence(m, a, false, declared);
        const std::int32_t ih = fixed ? 0 : *core::implicit_hs(m, a, ev, false);
        const core::AtomValence lenient = core::lenient_valence_hs(m, a);
        ASSERT_EQ(lenient.explicit_valence, ev) << smiles << " atom " << a;
        ASSERT_EQ(lenient.implicit_hs, ih) << smiles << " atom " << a;
        ASSERT_EQ(lenient.aromatic, core::is_aromatic_atom(m, a)) << smiles << " atom " << a;
        ASSERT_EQ(core::lenient_explicit_valence(m, a), ev) << smiles << " atom " << a;

        const auto strict_ev = core::explicit_valence(m, a, true, declared);
        std::expected<std::uint8_t, core::ValenceError> strict_ih = std::uint8_t(0);
        if (strict_ev && !fixed) strict_ih = core::implicit_hs(m, a, *strict_ev, true);
        const auto strict = core::strict_valence_hs(m, a);
        if (!strict_ev) {
            ASSERT_FALSE(strict) << smiles << " atom " << a;
            EXPECT_EQ(strict.error(), strict_ev.error()) << smiles;
        } else if (!strict_ih) {
            ASSERT_FALSE(strict) << smiles << " atom " << a;
            EXPECT_EQ(strict.error(), strict_ih.error()) << smiles;
        } else {
            ASSERT_TRUE(strict) << smiles << " atom " << a;
            EXPECT_EQ(strict->explicit_valence, *strict_ev);
            EXPECT_EQ(strict->implicit_hs, *strict_ih);
        }
    }
}

// The whole-molecule pass reuses answers between atoms of the same kind; it must
// still give each atom what the single-atom check gives.
void expect_pass_matches_atoms(core::MolBuilder m, const std::string& what) {
    const core::MolBuilder before = m;
    auto lists = chem::assign_valences(m);
    std::vector<core::AtomValence> singles;
    for (std::uint32_t a = 0; a < before.num_atoms(); ++a) {
        const auto single = core::strict_valence_hs(before, a);
        if (!single) {  // the first failing atom ends the pass
            ASSERT_FALSE(lists) << what;
            EXPECT_EQ(lists.error(), single.error()) << what;
            return;
        }
        singles.push_back(*single);
    }
    ASSERT_TRUE(lists) << what;
    for (std::uint32_t a = 0; a < before.num_atoms(); ++a) {
        ASSERT_EQ(lists->explicit_valence[a], singles[a].explicit_valence) << what << " atom " << a;
        ASSERT_EQ(lists->implicit_hs[a], singles[a].implicit_hs) << what << " atom " << a;
    }
}

TEST(FusedValence, AgreesWithTheTwoStepFunctionsOnRealMolecules) {
    std::size_t checked = 0;
    for (const std::string& smiles : real_smiles()) {
        auto parsed = io::read_smiles(smiles);
        if (!parsed) continue;
        core::MolBuilder m = std::move(*parsed);
        expect_fused_agree(m, smiles);  // as read: aromatic bonds, declared hydrogens
        expect_pass_matches_atoms(m, smiles);
        chem::cleanup(m);
        chem::organometallics(m);
        if (!chem::assign_valences(m)) continue;
        chem::ring_membership(m);
        if (!chem::kekulize(m)) continue;
        expect_fused_agree(m, smiles);  // Kekulé form
        ++checked;
    }
    EXPECT_GT(checked, 6900u);
}

// Charges, radicals, odd bond orders and flags the real file rarely has.
TEST(FusedValence, AgreesOnUnusualAtoms) {
    const char* odd[] = {"[CH5]", "[C-5]", "[H-2]", "[P+]([O-])(F)(F)(F)(F)F", "[Se+](=O)(=O)(=O)C", "c1cccc1",
                         "[c]1ccccc1", "n1cccc1", "[Xe](F)(F)(F)F", "[Og]", "*c1ccccc1", "[Fe]<-N", "C$C"};
    for (const char* smiles : odd) {
        auto parsed = io::read_smiles(smiles);
        ASSERT_TRUE(parsed) << smiles;
        expect_fused_agree(*parsed, smiles);
        expect_pass_matches_atoms(*parsed, smiles);
    }
}

// The first failing atom is reported, and a failing pass writes nothing.
TEST(ValencePass, FirstFailureWinsAndNothingIsWritten) {
    auto parsed = io::read_smiles("CCC(C)(C)(C)C.O(C)(C)C");  // atom 2: five bonds; atom 7: three
    ASSERT_TRUE(parsed);
    for (auto& a : parsed->atoms) a.num_implicit_hs = 7;
    auto r = chem::assign_valences(*parsed);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().to_string(), "原子 #2(C):显式价超出允许范围,显式价 = 5");
    for (const auto& a : parsed->atoms) EXPECT_EQ(a.num_implicit_hs, 7);
}

// More atom kinds than the pass keeps answers for, revisited in a different
// order, and a failing atom after many remembered ones.
TEST(ValencePass, ManyKindsAndALateFailure) {
    core::MolBuilder chain;
    for (std::uint32_t i = 0; i < 300; ++i) {
        core::Atom a;
        a.atomic_num = i % 3 == 0 ? 6 : 0;
        a.num_explicit_hs = static_cast<std::uint8_t>(a.atomic_num == 6 ? (i / 3) % 3 : (i * 7) % 61);
        a.flags = core::FIXED_HS;
        chain.add_atom(a);
        if (i > 0) {
            core::Bond b;
            b.begin = i - 1;
            b.end = i;
            b.order = i % 5 == 0 ? core::BondOrder::Aromatic : core::BondOrder::Single;
            chain.push_bond(b);
        }
    }
    expect_pass_matches_atoms(chain, "chain");
    expect_list_agrees(chain, "chain");
    chain.atoms[290].atomic_num = 9;  // fluorine with two bonds
    chain.atoms[290].num_explicit_hs = 0;
    expect_pass_matches_atoms(chain, "chain with fluorine");
}

// The pipeline as far as the second valence check.
struct Perceived {
    core::MolBuilder mol;
    std::vector<std::uint8_t> saved;  // implicit hydrogens before aromaticity
    chem::ValenceLists valences;
};

std::optional<Perceived> perceive(const std::string& smiles) {
    auto parsed = io::read_smiles(smiles);
    if (!parsed) return std::nullopt;
    Perceived p{std::move(*parsed), {}, {}};
    chem::cleanup(p.mol);
    chem::organometallics(p.mol);
    if (!chem::assign_valences(p.mol)) return std::nullopt;
    chem::ring_membership(p.mol);
    if (!chem::kekulize(p.mol)) return std::nullopt;
    chem::assign_radicals(p.mol);
    chem::perceive_aromaticity(p.mol);
    for (const core::Atom& a : p.mol.atoms) p.saved.push_back(a.num_implicit_hs);
    auto v = chem::assign_valences(p.mol);
    if (!v) return std::nullopt;
    p.valences = std::move(*v);
    return p;
}

TEST(HandedValences, ConjugationAndHydrogenRepairMatchTheRecomputingSteps) {
    std::size_t checked = 0, repaired = 0;
    std::vector<std::string> inputs = real_smiles();
    for (const char* extra : {"c1cc[nH]c1", "[nH]1cccc1", "C[N+](C)(C)C", "[CH2]c1ccccc1", "C=[C@@]=CC"})
        inputs.push_back(extra);
    for (const std::string& smiles : inputs) {
        auto p = perceive(smiles);
        if (!p) continue;
        core::MolBuilder recomputed = p->mol, handed = p->mol;
        chem::perceive_conjugation_and_hybridization(recomputed);
        chem::perceive_conjugation_and_hybridization(handed, p->valences);
        ASSERT_EQ(handed, recomputed) << smiles;
        chem::cleanup_chirality(recomputed);
        chem::cleanup_chirality(handed);
        const std::uint32_t a = chem::adjust_hs(recomputed, p->saved);
        const std::uint32_t b = chem::adjust_hs(handed, p->saved, p->valences.implicit_hs);
        ASSERT_EQ(a, b) << smiles;
        ASSERT_EQ(handed, recomputed) << smiles;
        ++checked;
        repaired += a > 0;
    }
    EXPECT_GT(checked, 6900u);
    EXPECT_GT(repaired, 0u);
}

TEST(HandedValences, KekulizeStartsFromTheFirstCheck) {
    std::size_t checked = 0, failures = 0;
    std::vector<std::string> inputs = real_smiles();
    for (const char* extra : {"c1cccc1", "c1ccccc1.c1cccc1", "[nH]1cccc1", "c1cc[c-]c1", "C1=CC=CC=C1", "c1ccc*1"})
        inputs.push_back(extra);
    for (const std::string& smiles : inputs) {
        auto parsed = io::read_smiles(smiles);
        if (!parsed) continue;
        core::MolBuilder m = std::move(*parsed);
        chem::cleanup(m);
        chem::organometallics(m);
        auto valences = chem::assign_valences(m);
        if (!valences) continue;
        chem::RingBlocks blocks;
        chem::find_ring_blocks(m, blocks);
        chem::set_ring_flags(m, blocks);
        core::MolBuilder handed = m;
        const auto plain_result = chem::kekulize(m, blocks.systems);
        const auto handed_result = chem::kekulize(handed, blocks.systems, *valences);
        ASSERT_EQ(handed_result.has_value(), plain_result.has_value()) << smiles;
        if (!plain_result) {
            EXPECT_EQ(handed_result.error(), plain_result.error()) << smiles;
            ++failures;
        }
        ASSERT_EQ(handed, m) << smiles;
        ++checked;
    }
    EXPECT_GT(checked, 6900u);
    EXPECT_GE(failures, 3u);
}

TEST(HandedValences, ListsMustMatchTheAtomCount) {
    auto p = perceive("c1ccccc1O");
    ASSERT_TRUE(p);
    chem::ValenceLists short_lists = p->valences;
    short_lists.explicit_valence.pop_back();
    EXPECT_THROW(chem::perceive_conjugation_and_hybridization(p->mol, short_lists), InternalError);
    std::vector<std::uint8_t> short_now(p->mol.num_atoms() - 1, 0);
    EXPECT_THROW(chem::adjust_hs(p->mol, p->saved, short_now), InternalError);
    chem::RingBlocks blocks;
    chem::find_ring_blocks(p->mol, blocks);
    EXPECT_THROW(chem::kekulize(p->mol, blocks.systems, short_lists), InternalError);
}

}  // namespace
