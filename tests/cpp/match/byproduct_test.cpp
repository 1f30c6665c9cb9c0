// Byproduct capping on hand-made outcomes: verdicts, reasons, ledgers and the
// molecules the ledger closes into.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "helpers.hpp"
#include "io/smiles/canonical.hpp"
#include "match/byproduct.hpp"

namespace quorix::test {
namespace {

using match::CapBudget;
using match::CapReason;
using match::CapVerdict;

struct Capping {
    const char* name;
    std::vector<const char*> reactants;  // as read, not sanitised
    std::vector<const char*> products;
    std::vector<std::vector<std::uint32_t>> discarded;
    CapVerdict verdict;
    CapReason reason;  // when Unresolved
    std::string byproducts;
    CapBudget budget;
};

std::ostream& operator<<(std::ostream& os, const Capping& c) { return os << c.name; }

class Cap : public ::testing::TestWithParam<Capping> {};

TEST_P(Cap, GivesThisVerdictLedgerAndByproducts) {
    const Capping& c = GetParam();
    std::vector<core::MolBuilder> reactants;
    for (const char* s : c.reactants) reactants.push_back(mol_of(s));
    const std::vector<core::MolBuilder> before = reactants;
    match::RawOutcome outcome;
    for (const char* s : c.products) outcome.products.push_back(mol_of(s));
    outcome.discarded = c.discarded;
    const match::CapResult r = match::cap_byproducts(reactants, outcome);
    EXPECT_EQ(r.verdict, c.verdict);
    if (c.verdict == CapVerdict::Unresolved) {
        EXPECT_EQ(match::reason_text(r.reason), match::reason_text(c.reason));
        EXPECT_TRUE(r.byproducts.empty());
    }
    std::string text;
    for (core::MolBuilder m : r.byproducts) {
        ASSERT_TRUE(chem::sanitize(m));
        text += (text.empty() ? "" : " ") + io::to_canonical_smiles(m);
    }
    EXPECT_EQ(text, c.byproducts);
    EXPECT_EQ(r.budget, c.budget);
    EXPECT_EQ(reactants, before);
    // Reactants prepared once serve every outcome of a call alike.
    match::CapReactants shared(reactants);
    for (int k = 0; k < 2; ++k) {
        const match::CapResult again = match::cap_byproducts(shared, outcome);
        EXPECT_EQ(again.verdict, r.verdict);
        EXPECT_EQ(again.budget, r.budget);
        EXPECT_TRUE(again.byproducts == r.byproducts);
    }
}

constexpr CapVerdict NOTHING = CapVerdict::Nothing, CAPPED = CapVerdict::Capped, BONDED = CapVerdict::Bonded,
                     UNRESOLVED = CapVerdict::Unresolved;
constexpr CapReason ANY = CapReason::OddValence;

INSTANTIATE_TEST_SUITE_P(
    Ledgers, Cap,
    ::testing::Values(
        // Reactants as read carry no implicit hydrogens; they are counted after sanitising.
        Capping{"esterification_from_unsanitised_input", {"CC(=O)O", "OCC"}, {"CC(=O)OCC"}, {{3}, {}}, CAPPED, ANY, "O",
                {1, 1, 2, 1, 0, 0, 0, 0}},
        // A reactant that cannot be sanitised has no hydrogen count to go by.
        Capping{"unsanitisable_reactant", {"FC(F)(F)(F)F"}, {"C"}, {{1}}, UNRESOLVED, CapReason::SubstrateUnkekulizable,
                "", {}},
        Capping{"nothing_discarded_reads_no_product", {"C"}, {"C(C)(C)(C)(C)C"}, {{}}, NOTHING, ANY, "", {}},
        Capping{"unsanitisable_product", {"C"}, {"C(C)(C)(C)(C)C"}, {{0}}, UNRESOLVED, CapReason::ProductsUnsanitizable,
                "", {}},
        // N=N left with one open valence at each end is raised to N#N.
        Capping{"azo_extrusion", {"CN=NC"}, {"CC"}, {{1, 2}}, BONDED, ANY, "N#N", {2, 0, 0, 0, 2, 0, 0, 0}},
        // Two pieces with two open valences each: joined first, then raised.
        Capping{"join_then_raise", {"C=O", "C=O"}, {"[CH2]", "[CH2]"}, {{1}, {1}}, BONDED, ANY, "O=O",
                {4, 0, 0, 0, 4, 0, 0, 0}},
        Capping{"halogens_never_pair", {"ClCCBr"}, {"C=C"}, {{0, 3}}, UNRESOLVED, CapReason::NoPairing, "",
                {2, 0, 0, 0, 2, 0, 0, 0}},
        // A dative bond cut at its donor leaves the donor closed.
        Capping{"dative_donor", {"[NH3]->[Cu]"}, {"[Cu]"}, {{0}}, CAPPED, ANY, "N", {0, 3, 3, 0, 0, 0, 0, 0}},
        Capping{"hydrogens_missing", {"CBr"}, {"CO"}, {{1}}, UNRESOLVED, CapReason::HydrogenBudgetNegative, "",
                {1, 0, -1, -1, 2, 0, 0, 0}},
        Capping{"triple_bond_in_six_ring", {"C1#CCCCC1"}, {}, {{0, 1, 2, 3, 4, 5}}, UNRESOLVED,
                CapReason::StrainedClosure, "", {0, 8, 8, 0, 0, 0, 0, 0}},
        Capping{"triple_bond_in_eight_ring", {"C1#CCCCCCC1"}, {}, {{0, 1, 2, 3, 4, 5, 6, 7}}, CAPPED, ANY,
                "C1CCCCCC#C1", {0, 12, 12, 0, 0, 0, 0, 0}},
        // The charge the products lack goes back onto the chloride, which leaves as HCl.
        Capping{"hydrogen_chloride_from_salt", {"C[NH+](C)C.[Cl-]"}, {"CN(C)C"}, {{4}}, CAPPED, ANY, "Cl",
                {0, 0, 1, 1, 0, 0, -1, 1}},
        // The products gained a positive charge; a closed water cannot take the
        // negative one left over.
        Capping{"charge_with_no_taker", {"C", "O"}, {"[CH3+]"}, {{}, {0}}, UNRESOLVED, CapReason::NoPairing, "",
                {0, 2, 3, 1, -1, -1, 0, -1}},
        // One open valence, and the products left no hydrogen for it.
        Capping{"odd_open_valence", {"CO"}, {"[CH3]"}, {{1}}, UNRESOLVED, CapReason::OddValence, "",
                {1, 1, 1, 0, 1, 0, 0, 0}},
        // The surplus sits on hydrogen atoms, which are never stripped.
        Capping{"surplus_on_hydrogen_atoms", {"[H][H]", "C"}, {"C", "[H][H]"}, {{0, 1}, {}}, UNRESOLVED,
                CapReason::OddValence, "", {0, 2, 0, -2, 2, 0, 0, 0}},
        Capping{"more_hydrogens_than_open_valence", {"CO"}, {"[CH]"}, {{1}}, UNRESOLVED,
                CapReason::BudgetExceedsValence, "", {1, 1, 3, 2, -1, 0, 0, 0}},
        // Ten open valences after stripping six hydrogens: five bonds to invent.
        Capping{"five_bonds_to_form", {"C(C)(C)(C)C.C.C"}, {"CCCCCCCC"}, {{0, 5, 6}}, UNRESOLVED,
                CapReason::TooManyBonds, "", {4, 8, 2, -6, 10, 0, 0, 0}},
        // The charge lands on sulfur, and S+ cannot carry three double bonds.
        Capping{"charged_fragment_over_valence", {"S(=O)(=O)=O", "C"}, {"[CH3-]"}, {{0, 1, 2, 3}, {}}, UNRESOLVED,
                CapReason::FragmentUnsanitizable, "", {0, 0, 1, 1, 0, 1, 0, 1}},
        // S=O closes at valence 2 without the two hydrogens the ledger gave it.
        Capping{"sanitised_fragment_disagrees", {"CS(C)=O"}, {"C"}, {{1, 3}}, UNRESOLVED, CapReason::BudgetMismatch, "",
                {2, 0, 2, 2, 0, 0, 0, 0}}));

// A discarded stereocentre keeps its arrangement in the byproduct, with the cut
// neighbour's place taken by the hydrogen that caps it.
struct ChiralCap {
    const char* reactant;
    std::vector<std::uint32_t> discarded;
    const char* byproduct;
};

std::ostream& operator<<(std::ostream& os, const ChiralCap& c) { return os << c.reactant; }

class CapStereo : public ::testing::TestWithParam<ChiralCap> {};

TEST_P(CapStereo, KeepsTheCentre) {
    const ChiralCap& c = GetParam();
    match::RawOutcome outcome;
    outcome.products.push_back(mol_of("C=C"));
    outcome.discarded = {c.discarded};
    const match::CapResult r = match::cap_byproducts(std::vector<core::MolBuilder>{mol_of(c.reactant)}, outcome);
    ASSERT_EQ(r.verdict, CapVerdict::Capped);
    ASSERT_EQ(r.byproducts.size(), 1u);
    core::MolBuilder got = r.byproducts[0], want = mol_of(c.byproduct);
    ASSERT_TRUE(chem::sanitize(got));
    ASSERT_TRUE(chem::sanitize(want));
    EXPECT_EQ(io::to_canonical_smiles(got), io::to_canonical_smiles(want));
}

INSTANTIATE_TEST_SUITE_P(Centres, CapStereo,
                         ::testing::Values(
                             // The cut ethyl led the neighbour order: its hydrogen stands first.
                             ChiralCap{"CC[C@](F)(Cl)Br", {2, 3, 4, 5}, "[C@H](F)(Cl)Br"},
                             ChiralCap{"CC[C@@](F)(Cl)Br", {2, 3, 4, 5}, "[C@@H](F)(Cl)Br"},
                             // The cut ethyl came last.
                             ChiralCap{"[C@](F)(Cl)(Br)CC", {0, 1, 2, 3}, "F[C@H](Cl)Br"}));

}  // namespace
}  // namespace quorix::test
