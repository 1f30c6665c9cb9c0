#include "io/smiles/write.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/error.hpp"
#include "io/smiles/marks.hpp"
#include "io/smiles/read.hpp"
#include "io/stereo.hpp"
#include "smiles_roundtrip.hpp"

using namespace quorix;
using core::BondDirection;
using core::BondStereo;
using core::MolBuilder;
using core::NONE;
using io::SmilesMode;

namespace {

using test::identity;

MolBuilder read(const std::string& smiles) { return test::read_or_fail(smiles); }

std::string storage(const std::string& smiles) { return io::write_smiles(read(smiles)).text; }

std::string canonical_mode(const MolBuilder& mol) {
    return io::write_smiles(mol, identity(mol.num_atoms()), SmilesMode::Canonical).text;
}

struct Case {
    const char* in;
    const char* out;
};

// Written in storage order: traversal, branches, ring labels and bond symbols.
class StorageText : public testing::TestWithParam<Case> {};

TEST_P(StorageText, IsByteExact) { EXPECT_EQ(storage(GetParam().in), GetParam().out) << GetParam().in; }

INSTANTIATE_TEST_SUITE_P(
    Writer, StorageText,
    testing::Values(
        // The closure symbol is written only where its label opens.
        Case{"C1CCCCC=1", "C=1CCCCC1"},
        // A closed label is free again; a ring opened before the first closes takes 2.
        Case{"C1CC1C1CC1", "C1CC1C1CC1"}, Case{"C1CC2CCC1CC2", "C1CC2CCC1CC2"}, Case{"C%11CC%11", "C1CC1"},
        Case{"c1ccccc1-c1ccccc1", "c1ccccc1-c1ccccc1"}, Case{"c:C", "c:C"}, Case{"c-C", "cC"},
        Case{"[Ga]$[Ga]", "[Ga]$[Ga]"}, Case{"C<-N", "C<-N"}, Case{"[Cu]1<-NCCN->1", "[Cu]<-1<-NCCN1"},
        // A branch opened before a ring closure keeps neighbour order.
        Case{"C1(C)CC1", "C1(C)CC1"}));

// What goes into brackets, per mode.
struct BracketCase {
    const char* in;
    const char* storage;
    const char* canonical;
};
class Brackets : public testing::TestWithParam<BracketCase> {};

TEST_P(Brackets, FollowTheMode) {
    const MolBuilder mol = read(GetParam().in);
    EXPECT_EQ(io::write_smiles(mol).text, GetParam().storage);
    EXPECT_EQ(canonical_mode(mol), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Writer, Brackets,
    testing::Values(BracketCase{"[CH4]", "[CH4]", "C"}, BracketCase{"[CH2]", "[CH2]", "[CH2]"},
                    BracketCase{"[Fe--]", "[Fe-2]", "[Fe-2]"}, BracketCase{"[nH]1cccc1", "[nH]1cccc1", "[nH]1cccc1"},
                    BracketCase{"C[SH](C)C", "C[SH](C)C", "CS(C)C"}, BracketCase{"[SH3]", "[SH3]", "[SH3]"},
                    BracketCase{"[*H]", "[*H]", "[*H]"}, BracketCase{"[H][H]", "[H][H]", "[H][H]"}));

TEST(Writer, RadicalsForceBracketsAndShowTotalHydrogens) {
    for (const auto& [smiles, hs, text] : {std::tuple{"CC", 2, "[CH2]C"}, std::tuple{"C", 3, "[CH3]"}}) {
        MolBuilder mol = read(smiles);
        for (core::Atom& a : mol.atoms) a.num_implicit_hs = 3;
        mol.atoms[0].num_radical_electrons = 1;
        mol.atoms[0].num_implicit_hs = static_cast<std::uint8_t>(hs);
        EXPECT_EQ(io::write_smiles(mol).text, text) << smiles;
    }
}

TEST(Writer, RingLabelsGrowToPercentAndParenthesisedForms) {
    // One atom closes a ring to each of n chain atoms, all labels open at once.
    for (std::uint32_t n : {11u, 105u}) {
        std::string in = "C", expected_head = "C", tail = "C", expected_tail = "C";
        auto label = [](std::uint32_t k) {
            return k < 10 ? std::to_string(k) : k < 100 ? "%" + std::to_string(k) : "%(" + std::to_string(k) + ")";
        };
        for (std::uint32_t k = 1; k <= n; ++k) {
            in += "%(" + std::to_string(k) + ")";
            expected_head += label(k);
            tail += "C" + std::string("%(") + std::to_string(k) + ")";
            expected_tail += "C" + label(k);
        }
        EXPECT_EQ(storage(in + tail), expected_head + expected_tail) << n;
    }
}

TEST(Writer, FragmentsComeInRootPriorityOrder) {
    const MolBuilder mol = read("CC.O.[Na+]");
    // Atoms 0 1 | 2 | 3: give the sodium the lowest priority and the ethane the highest.
    const io::SmilesOutput out = io::write_smiles(mol, std::vector<std::uint32_t>{9, 8, 5, 0}, SmilesMode::Storage);
    EXPECT_EQ(out.text, "[Na+].O.CC");
    EXPECT_EQ(out.atom_order, (std::vector<std::uint32_t>{3, 2, 1, 0}));
}

TEST(Writer, NeighboursAreVisitedByPriorityThenBondIndex) {
    const MolBuilder mol = read("C(O)(N)F");
    EXPECT_EQ(io::write_smiles(mol, std::vector<std::uint32_t>{0, 3, 1, 2}, SmilesMode::Storage).text, "C(N)(F)O");
    const io::SmilesOutput from_f = io::write_smiles(mol, std::vector<std::uint32_t>{1, 3, 2, 0}, SmilesMode::Storage);
    EXPECT_EQ(from_f.text, "FC(N)O");
    EXPECT_EQ(from_f.atom_order, (std::vector<std::uint32_t>{3, 0, 2, 1}));
}

TEST(Writer, EmptyMoleculeAndPriorityLengthFault) {
    const MolBuilder empty;
    EXPECT_EQ(io::write_smiles(empty), io::SmilesOutput{});
    const MolBuilder mol = read("CC");
    EXPECT_THROW(io::write_smiles(mol, std::vector<std::uint32_t>{0}, SmilesMode::Storage), InternalError);
}

TEST(Writer, DeepChainsNeedNoDeepRecursion) {
    std::string chain(50000, 'C');
    const MolBuilder mol = read(chain);
    EXPECT_EQ(io::write_smiles(mol).text, chain);
    // The same chain entered from its middle.
    std::vector<std::uint32_t> p(mol.num_atoms());
    for (std::uint32_t i = 0; i < p.size(); ++i) p[i] = i >= 25000 ? i - 25000 : i + 25000;
    EXPECT_EQ(io::write_smiles(mol, p, SmilesMode::Storage).text,
              "C(" + std::string(24999, 'C') + ")" + std::string(25000, 'C'));
}

// Chirality re-expressed for the written order.
struct ChiralCase {
    const char* in;
    std::vector<std::uint32_t> priorities;
    const char* out;
};
class Chirality : public testing::TestWithParam<ChiralCase> {};

TEST_P(Chirality, IsRestatedForTheWrittenOrder) {
    const MolBuilder mol = read(GetParam().in);
    std::vector<std::uint32_t> p = GetParam().priorities;
    if (p.empty()) p = identity(mol.num_atoms());
    EXPECT_EQ(io::write_smiles(mol, p, SmilesMode::Storage).text, GetParam().out) << GetParam().in;
}

INSTANTIATE_TEST_SUITE_P(
    Writer, Chirality,
    testing::Values(
        // Two neighbours exchanged: the mark flips.
        ChiralCase{"N[C@](F)(Cl)Br", {0, 1, 3, 2, 4}, "N[C@@](Cl)(F)Br"},
        // Starting at the centre, the implicit hydrogen moves to the front.
        ChiralCase{"N[C@@H](C)O", {1, 0, 2, 3}, "[C@H](N)(C)O"},
        ChiralCase{"[C@@H](N)(C)O", {1, 0, 2, 3}, "N[C@H](C)O"},
        // A ring closure partner written before the chain neighbours.
        ChiralCase{"F[C@]1(Cl)CCCCO1", {}, "F[C@]1(Cl)CCCCO1"},
        ChiralCase{"C[S@](=O)CC", {3, 0, 1, 2, 4}, "[S@](=O)(CC)C"},
        ChiralCase{"F[Pt@SP1](Cl)(Br)I", {0, 1, 3, 2, 4}, "F[Pt@SP2](Br)(Cl)I"},
        ChiralCase{"OC(Cl)=[C@AL1]=C(C)F", {0, 1, 2, 3, 4, 6, 5}, "OC(Cl)=[C@AL2]=C(F)C"},
        ChiralCase{"[C@AL1](=CF)=CCl", {}, "[C@AL1](=CF)=CCl"}));

// Round trips through the reader, on hand-picked and on real molecules.
void expect_round_trip(const MolBuilder& mol, const std::vector<std::uint32_t>& priorities, const std::string& what) {
    const io::SmilesOutput out = io::write_smiles(mol, priorities, SmilesMode::Storage);
    auto back = io::read_smiles(out.text);
    ASSERT_TRUE(back) << what << " -> " << out.text;
    ASSERT_EQ(out.atom_order.size(), mol.num_atoms());
    // The reader numbers atoms in text order.
    std::vector<std::uint32_t> map(mol.num_atoms(), NONE);
    for (std::uint32_t k = 0; k < out.atom_order.size(); ++k) map[out.atom_order[k]] = k;
    const std::string diff =
        test::compare_mapped(mol, *back, map, test::mark_relations(mol), test::mark_relations(*back));
    EXPECT_EQ(diff, "") << what << " -> " << out.text;
}

TEST(WriterRoundTrip, HandPickedStereo) {
    std::mt19937 rng(7);
    for (const char* smiles :
         {"F\\C=C\\F", "F/C(Cl)=C(/Br)I", "C/C=C(/F)\\C=C\\C", "C/C=C/1CCCCCCC1", "F[C@]12CC[C@@](Cl)(CC1)CC2",
          "[C@@H]1(F)CCC1", "F[Pt@SP3](Cl)(Br)I", "[Fe@TB7](F)(Cl)(Br)(I)N", "F[Co@OH19](Cl)(Br)(I)(N)O",
          "OC(Cl)=[C@AL2]=C(C)F", "[13C@@H](F)(Cl)Br", "C1[C@H](F)CCC1"}) {
        const MolBuilder mol = read(smiles);
        expect_round_trip(mol, identity(mol.num_atoms()), smiles);
        for (int k = 0; k < 20; ++k)
            expect_round_trip(mol, test::shuffled_priorities(mol.num_atoms(), rng), smiles);
    }
}

TEST(WriterRoundTrip, RealMoleculesInStorageAndShuffledOrders) {
    std::mt19937 rng(2024);
    const auto molecules = test::data_molecules();
    ASSERT_GT(molecules.size(), 5000u);
    std::size_t read_ok = 0;
    for (const auto& m : molecules) {
        auto mol = io::read_smiles(m.smiles);
        if (!mol) continue;
        ++read_ok;
        expect_round_trip(*mol, identity(mol->num_atoms()), m.smiles);
        expect_round_trip(*mol, test::shuffled_priorities(mol->num_atoms(), rng), m.smiles);
        if (HasFailure()) break;
    }
    EXPECT_GT(read_ok, molecules.size() * 9 / 10);
}

// Direction marks: pass-through, mode normalisation and stored values.
TEST(Writer, MarksPassThroughAndCanonicalModeTurnsGroupsToSlash) {
    EXPECT_EQ(storage("F\\C=C\\F"), "F\\C=C\\F");
    EXPECT_EQ(canonical_mode(read("F\\C=C\\F")), "F/C=C/F");
    // A mark on one side only counts for nothing and is dropped.
    EXPECT_EQ(storage("F/C=CF"), "FC=CF");
    // A ring of at most seven atoms carries no cis/trans.
    EXPECT_EQ(storage("C1/C=C\\CCCC1"), "C1C=CCCCC1");
    // Two independent groups normalise separately.
    EXPECT_EQ(canonical_mode(read("F\\C=C\\CC\\C=C/F")), "F/C=C/CC/C=C\\F");
    // A conjugated chain is one group.
    EXPECT_EQ(canonical_mode(read("C\\C=C\\C=C/C")), "C/C=C/C=C\\C");
}

struct Stored {
    std::uint32_t bond;
    BondStereo stereo;
    std::uint32_t r0, r1;
};

MolBuilder with_stored(const std::string& smiles, std::vector<Stored> values) {
    MolBuilder mol = read(smiles);
    for (const Stored& v : values) {
        mol.bonds[v.bond].stereo = v.stereo;
        mol.bonds[v.bond].stereo_atoms = {v.r0, v.r1};
    }
    return mol;
}

// The written marks read back to the relations stored on `mol`.
void expect_marks_read_back(const MolBuilder& mol) {
    auto back = io::read_smiles(io::write_smiles(mol).text);
    ASSERT_TRUE(back);
    EXPECT_EQ(test::compare_mapped(mol, *back, identity(mol.num_atoms()), test::stored_relations(mol),
                                   test::mark_relations(*back)),
              "");
}

TEST(Writer, StoredCisTransIsWrittenAsMarks) {
    // Bond 1 is the double bond of F-C=C-F.
    EXPECT_EQ(io::write_smiles(with_stored("FC=CF", {{1, BondStereo::Cis, 0, 3}})).text, "F/C=C\\F");
    EXPECT_EQ(io::write_smiles(with_stored("FC=CF", {{1, BondStereo::Trans, 0, 3}})).text, "F/C=C/F");
    // Stored values override any marks around them.
    EXPECT_EQ(io::write_smiles(with_stored("F/C=C/F", {{1, BondStereo::Cis, 0, 3}})).text, "F/C=C\\F");
    // Against the chlorine: F and Cl lie on opposite sides, so the fluorines are cis.
    const MolBuilder mol = with_stored("FC(Cl)=CF", {{2, BondStereo::Trans, 2, 4}});
    EXPECT_EQ(io::write_smiles(mol).text, "FC(/Cl)=C\\F");
    expect_marks_read_back(mol);
}

TEST(StereoMarks, ReferenceBondSharedByTwoDoubleBondsLinksTheirGroups) {
    // Bonds: 0 C0-C1, 1 C1=C2, 2 C2-C3, 3 C3=C4, 4 C4-F5, 5 C2-F6; bond 2 is a
    // reference bond of both double bonds.
    const MolBuilder mol = with_stored("CC=C(C=CF)F", {{1, BondStereo::Trans, 0, 3}, {3, BondStereo::Cis, 2, 5}});
    const io::StereoMarks marks = io::smiles_stereo_marks(mol);
    EXPECT_EQ(marks.groups, (std::vector<std::uint32_t>{0, NONE, 0, NONE, 0, NONE}));
    EXPECT_EQ(marks.directions[5], 0);
    expect_marks_read_back(mol);
}

TEST(StereoMarks, SubstituentsOfOneAtomLieOnOppositeSides) {
    // Both substituents of C1 are reference bonds: C0 for bond 1, and C3 for bond 3.
    // Bonds: 0 C0-C1, 1 C1=C2, 2 C2-F3, 3 C1-C4, 4 C4=C5, 5 C5-F6.
    const MolBuilder mol = with_stored("CC(=CF)C=CF", {{1, BondStereo::Cis, 0, 3}, {4, BondStereo::Trans, 1, 6}});
    const io::StereoMarks marks = io::smiles_stereo_marks(mol);
    auto seen_from = [&](std::uint32_t b, std::uint32_t atom) {
        const std::uint8_t d = marks.directions[b];
        return mol.bonds[b].begin == atom ? d : std::uint8_t(3 - d);
    };
    ASSERT_NE(marks.directions[0], 0);
    ASSERT_NE(marks.directions[3], 0);
    EXPECT_NE(seen_from(0, 1), seen_from(3, 1));
    EXPECT_EQ(marks.groups[0], marks.groups[3]);
    expect_marks_read_back(mol);
}

TEST(StereoMarks, RereferencingPrefersHeavyNeighboursWithLowPriority) {
    // [H]C(C)=CF: atoms H0 C1 C2 C3 F4; bond 2 is the double bond.
    MolBuilder mol = with_stored("[H]C(C)=CF", {{2, BondStereo::Trans, 0, 4}});
    const std::vector<std::uint32_t> p = identity(mol.num_atoms());
    EXPECT_EQ(io::preferred_reference_neighbour(mol, 1, 3, p), 2u);
    EXPECT_EQ(io::preferred_reference_neighbour(mol, 3, 1, p), 4u);
    EXPECT_EQ(io::preferred_reference_neighbour(mol, 4, 3, p), NONE);
    auto copy = io::rereference_double_bond_stereo(mol, p);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->bonds[2].stereo, BondStereo::Cis);
    EXPECT_EQ(copy->bonds[2].stereo_atoms, (std::array<std::uint32_t, 2>{2, 4}));
    EXPECT_EQ(mol.bonds[2].stereo, BondStereo::Trans);  // the input is left alone
    // Both references replaced: the relation stays.
    mol.bonds[2].stereo_atoms = {0, 4};
    const MolBuilder both = with_stored("[H]C(C)=C(F)Cl", {{2, BondStereo::Cis, 0, 5}});
    auto copy2 = io::rereference_double_bond_stereo(both, identity(both.num_atoms()));
    ASSERT_TRUE(copy2);
    EXPECT_EQ(copy2->bonds[2].stereo, BondStereo::Cis);
    EXPECT_EQ(copy2->bonds[2].stereo_atoms, (std::array<std::uint32_t, 2>{2, 4}));
    // Among heavy neighbours the lower priority wins, whatever the half-edge order.
    EXPECT_EQ(io::preferred_reference_neighbour(both, 3, 1, std::vector<std::uint32_t>{0, 1, 2, 3, 9, 4}), 5u);
    // Nothing stored, or priorities of the wrong length: no copy.
    EXPECT_FALSE(io::rereference_double_bond_stereo(read("F/C=C/F"), identity(4)));
    EXPECT_FALSE(io::rereference_double_bond_stereo(mol, identity(3)));
}

}  // namespace
