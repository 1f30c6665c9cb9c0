// Reaction application and product construction: outcome order, assignments,
// joined substrates, atom maps, construction rules, and stereo carried through
// templates on real molecules.
#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "helpers.hpp"
#include "reaction_inputs.hpp"
#include "io/smarts/reaction.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"
#include "match/react.hpp"

namespace quorix::test {
namespace {

using match::RawOutcome;
using match::ReactionInput;

std::string canonical(core::MolBuilder m) {
    if (!chem::sanitize(m)) return "<unsanitizable>";
    return io::to_canonical_smiles(m);
}

// Product SMILES of one outcome, in product order, separated by blanks.
std::string products_text(const RawOutcome& o) {
    std::string out;
    for (const core::MolBuilder& p : o.products) out += (out.empty() ? "" : " ") + canonical(p);
    return out;
}

// ---------------------------------------------------------------------------
// Construction rules, product SMILES checked by hand.

struct Built {
    const char* reaction;
    const char* smiles;
    const char* products;  // first outcome
};

std::ostream& operator<<(std::ostream& os, const Built& c) { return os << c.reaction << " on " << c.smiles; }

class Construction : public ::testing::TestWithParam<Built> {};

TEST_P(Construction, FirstOutcomeGivesTheseProducts) {
    const Built& c = GetParam();
    const auto outcomes = match::run(reaction_of(c.reaction), inputs_of({c.smiles}), 1, false);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(products_text(outcomes[0]), c.products);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Construction,
    ::testing::Values(
        // Element change drops the old hydrogens; sanitisation gives the new ones.
        Built{"[C:1][Cl:2]>>[C:1][N:2]", "CCCl", "CCN"},
        // A product-template atom without a map number is new.
        Built{"[C:1][OH1:2]>>[C:1][O:2]C(C)=O", "CCO", "CC(=O)OCC"},
        // A ring bond outside the template is carried.
        Built{"[C:1][Br:2]>>[C:1][I:2]", "BrC1CCCCC1", "C1CCCCC1I"},
        // What hangs only off a matched, unmapped atom reaches no product.
        Built{"[C:1][O:2][C:3]>>[C:1][OH1:2]", "CCOC(C)C", "CCO"},
        // An untouched component comes after the template's products.
        Built{"[C:1][Br:2]>>[C:1][I:2]", "CBr.OCC", "CI CCO"},
        // `~` copies the input's order.
        Built{"[C:1]~[O:2]>>[C:1]~[S:2]", "CC=O", "CC=S"},
        // Written charge and hydrogen count are applied exactly.
        Built{"[N:1]>>[NH3+:1]", "CN", "C[NH3+]"},
        // Unwritten bond between aromatic atoms stays aromatic.
        Built{"[c:1][Cl:2]>>[c:1]c1ccccc1", "Clc1ccccc1", "c1ccccc1-c1ccccc1"},
        // Carried double bond keeps its configuration through an element change.
        Built{"[F:1][C:2]>>[Cl:1][C:2]", "F/C=C/C", "C/C=C/Cl"},
        // The only direction mark on one side goes with the discarded atom.
        Built{"[C:2][F:1]>>[C:2]", "F/C(C)=C/Cl", "CC=CCl"},
        // Retention and inversion through the template's own marks.
        Built{"[C@:1][Br:2]>>[C@:1][O:2]", "C[C@H](Br)CC", "C[C@@H](CC)O"},
        Built{"[C@:1][Br:2]>>[C@@:1][O:2]", "C[C@H](Br)CC", "C[C@H](CC)O"},
        // Neighbours listed in another order: the marks are compared through that order.
        Built{"[C@:1]([F:2])([Cl:3])[Br:4]>>[C@@:1]([Cl:3])([F:2])[Br:4]", "C[C@](F)(Cl)Br", "C[C@](F)(Cl)Br"},
        // Mark on the reactant side only clears the centre.
        Built{"[C@:1][Br:2]>>[C:1][O:2]", "C[C@H](Br)CC", "CC(CC)O"},
        // Mark on the product side only sets it, whatever the input had.
        Built{"[C:1][Br:2]>>[C@@:1][O:2]", "C[C@@H](Br)CC", "C[C@@H](CC)O"},
        // A centre left with neighbours that cannot be lined up with its old ones loses its tag.
        Built{"[#6:1][C:2](=[O:3])[OH1:4]>>[*:1]", "N[C@@H](C)C(=O)O", "CCN"},
        // A carried centre keeps its arrangement when its neighbours come back in another order.
        Built{"[C:1][Br:2]>>[C:1][O:2]", "C[C@H](Br)CC", "C[C@@H](CC)O"},
        // Intramolecular ring closure and ring opening.
        Built{"[OH1:1][C:2][C:3][C:4][C:5][C:6](=[O:7])[OH1:8]>>[O:1]1[C:2][C:3][C:4][C:5][C:6]1=[O:7]",
              "OCCCCC(=O)O", "C1CCCC(=O)O1"},
        Built{"[C:1]1[O:2][C:3]1>>[C:1]([OH1:4])[C:3][OH1:2]", "C[C@H]1CO1", "C[C@@H](CO)O"},
        // Two products from one template; a product template in two pieces gives two products.
        Built{"[C:1](=[O:2])[O:3][C:4]>>[C:1](=[O:2])[OH1:3].[OH1][C:4]", "CC(=O)OCC", "CC(O)=O CCO"}));

// ---------------------------------------------------------------------------
// Application.

// The input atom each product atom 0 came from, read through the atom maps.
std::uint32_t source_of_first_atom(const RawOutcome& o, std::size_t product, std::size_t input) {
    const std::uint16_t m = o.products.at(product).atoms.at(0).map_num;
    const auto& atoms = o.reactants.at(input).atoms;
    for (std::uint32_t a = 0; a < atoms.size(); ++a)
        if (atoms[a].map_num == m && m != 0) return a;
    return core::NONE;
}

TEST(Apply, TemplateZeroVariesFastestAndTheCapIsExact) {
    const auto r = reaction_of("[Cl:1].[Br:2]>>[Cl:1].[Br:2]");
    const auto in = inputs_of({"ClCCl", "BrC(Br)Br"});
    const auto all = match::run(r, in, 0, true);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const RawOutcome& o : all) got.emplace_back(source_of_first_atom(o, 0, 0), source_of_first_atom(o, 1, 1));
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {{0, 0}, {2, 0}, {0, 2},
                                                                           {2, 2}, {0, 3}, {2, 3}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(match::run(r, in, 4, false).size(), 4u);
}

TEST(Apply, InputOrderDoesNotDecideWhetherTheReactionRuns) {
    const auto r = reaction_of("[C:1](=[O:2])[OH1:3].[NH2:4][C:5]>>[C:1](=[O:2])[N:4][C:5]");
    const auto forward = match::run(r, inputs_of({"CC(=O)O", "NCC"}), 0, false);
    const auto backward = match::run(r, inputs_of({"NCC", "CC(=O)O"}), 0, true);
    ASSERT_EQ(forward.size(), 1u);
    ASSERT_EQ(backward.size(), 1u);
    EXPECT_EQ(products_text(forward[0]), "CC(NCC)=O");
    // Discarded lists and reactant copies stay in input order.
    EXPECT_EQ(backward[0].discarded, (std::vector<std::vector<std::uint32_t>>{{}, {3}}));
    EXPECT_EQ(backward[0].reactants[0].num_atoms(), 3u);
}

TEST(Apply, CountMismatchIsEmptyButTheJoinedSubstrateRuns) {
    const auto r = reaction_of("[C:1][Cl:2].[C:3][Br:4].[OH2:5]>>[C:1][O:5][C:3]");
    const auto in = inputs_of({"ClCCCBr", "O"});
    EXPECT_TRUE(match::run(r, in, 0, false).empty());
    const auto joined = match::run_on_substrate(r, in, 0, true);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(canonical(joined[0].products[0]), "[CH2:1]1[CH2:2][CH2:3][O:4]1");
    EXPECT_EQ(joined[0].discarded, (std::vector<std::vector<std::uint32_t>>{{0, 4}, {}}));
    EXPECT_EQ(joined[0].reactants.size(), 1u);
    EXPECT_EQ(joined[0].reactants[0].num_atoms(), 6u);
}

TEST(Apply, OverlappingMatchesAreSkipped) {
    const auto r = reaction_of("[O:1].[O:2]>>[O:1][O:2]");
    EXPECT_TRUE(match::run_on_substrate(r, inputs_of({"CO"}), 0, false).empty());
    EXPECT_EQ(match::run_on_substrate(r, inputs_of({"OCO"}), 0, false).size(), 2u);
}

TEST(Apply, NoReactantTemplateBuildsOnceFromNothing) {
    const auto r = reaction_of(">>[C:1]");
    const auto out = match::run(r, {}, 0, true);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].products.size(), 1u);
    EXPECT_TRUE(out[0].reactants.empty() && out[0].discarded.empty());
    EXPECT_TRUE(match::run_on_substrate(r, {}, 0, true).empty());
}

TEST(Apply, MapNumbersRunWithoutGapsAndOldOnesAreReplaced) {
    const auto out = match::run(reaction_of("[C:1][Br:2]>>[C:1]"), inputs_of({"[CH3:7]C[Br:9]"}), 0, true);
    ASSERT_EQ(out.size(), 1u);
    std::vector<std::uint16_t> reactant, product;
    for (const auto& a : out[0].reactants[0].atoms) reactant.push_back(a.map_num);
    for (const auto& a : out[0].products[0].atoms) product.push_back(a.map_num);
    EXPECT_EQ(reactant, (std::vector<std::uint16_t>{1, 2, 0}));
    EXPECT_EQ(product, (std::vector<std::uint16_t>{2, 1}));
}

// A map number on several reactant-template atoms maps the first of them, by
// template and then atom order, whatever the input order; the others are only
// matched, so they and what hangs only off them reach no product.
TEST(Apply, ARepeatedMapNumberMapsOnlyItsFirstAtom) {
    using Discarded = std::vector<std::vector<std::uint32_t>>;
    const auto ether = reaction_of("[CH2:1][O:2][CH2:1]>>[CH2:1][OH1:2]");
    const auto in = inputs_of({"CCOCCC"});
    for (const auto& out : {match::run(ether, in, 0, false), match::run_on_substrate(ether, in, 0, false)}) {
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(products_text(out[0]), "CCO");
        EXPECT_EQ(out[0].discarded, (Discarded{{3, 4, 5}}));
        EXPECT_EQ(products_text(out[1]), "CCCO");
        EXPECT_EQ(out[1].discarded, (Discarded{{0, 1}}));
    }
    // The acid's oxygen stays although the alcohol is given first.
    const auto ester = reaction_of("[C:1](=[O:2])[OH1:3].[OH1:3][CH3:4]>>[C:1](=[O:2])[O:3][CH3:4]");
    const auto out = match::run(ester, inputs_of({"OC", "CC(=O)O"}), 0, false);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(products_text(out[0]), "COC(C)=O");
    EXPECT_EQ(out[0].discarded, (Discarded{{0}, {}}));
}

TEST(Construction, DativeDirectionFollowsTheArrow) {
    for (const auto& [text, begin] : {std::pair{"[N:1].[B:2]>>[N:1]->[B:2]", 0u}, std::pair{"[N:1].[B:2]>>[N:1]<-[B:2]", 1u}}) {
        const auto out = match::run(reaction_of(text), inputs_of({"N", "B"}), 0, false);
        ASSERT_EQ(out.size(), 1u);
        const core::Bond& b = out[0].products[0].bonds.at(0);
        EXPECT_EQ(b.order, core::BondOrder::Dative) << text;
        EXPECT_EQ(b.begin, begin) << text;
    }
}

// Configurations held in the bond's stereo field rather than direction marks.
TEST(Construction, CarriedDoubleBondTakesAnotherReferenceAtom) {
    for (const auto& [smiles, expected] : {std::pair{"F/C(C)=C/Cl", "C/C=C\\Cl"}, std::pair{"F/C=C/Cl", "C=CCl"}}) {
        core::MolBuilder m = mol_of(smiles);
        ASSERT_TRUE(chem::sanitize(m));
        ASSERT_EQ(io::double_bond_stereo(m), 1u);
        for (core::Bond& b : m.bonds) b.direction = core::BondDirection::None;
        const Inputs in = input_of(std::move(m));
        const auto out = match::run(reaction_of("[C:2][F:1]>>[C:2]"), in, 0, false);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(products_text(out[0]), expected) << smiles;
    }
}

TEST(Construction, AnyBondAcrossInputsIsUnspecified) {
    const auto out = match::run(reaction_of("[C:1].[O:2]>>[C:1]~[O:2]"), inputs_of({"C", "O"}), 0, false);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].products[0].bonds.at(0).order, core::BondOrder::Unspecified);
}

TEST(Construction, SameDegreeKeepsHydrogensAndWrittenCountFixesThem) {
    const Inputs in = input_of(mol_of("[CH3]C"));
    const auto keep = match::run(reaction_of("[C:1]>>[C:1]"), in, 1, false);
    EXPECT_EQ(keep[0].products[0].atoms[0].num_explicit_hs, 3);
    const auto grow = match::run(reaction_of("[C:1]>>[C:1]O"), in, 1, false);
    EXPECT_EQ(grow[0].products[0].atoms[0].num_explicit_hs, 0);
    EXPECT_FALSE(grow[0].products[0].atoms[0].flags & core::FIXED_HS);
    const auto fixed = match::run(reaction_of("[C:1]>>[CH2:1]O"), in, 1, false);
    EXPECT_EQ(fixed[0].products[0].atoms[0].num_explicit_hs, 2);
    EXPECT_TRUE(fixed[0].products[0].atoms[0].flags & core::FIXED_HS);
}

// ---------------------------------------------------------------------------
// Ligand order.

struct Ligands {
    std::vector<std::optional<std::uint32_t>> ligands;
    std::vector<std::uint32_t> actual;
    std::optional<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> expected;
};

class LigandOrder : public ::testing::TestWithParam<Ligands> {};

TEST_P(LigandOrder, LinesUpReactantAndProductOrder) {
    EXPECT_EQ(match::ligand_correspondence(GetParam().ligands, GetParam().actual), GetParam().expected);
}

constexpr std::uint32_t GAP = core::NONE;
using Pair = std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>;

INSTANTIATE_TEST_SUITE_P(
    Cases, LigandOrder,
    ::testing::Values(
        Ligands{{1, 2, 3, 4}, {4, 3, 2, 1}, Pair{{1, 2, 3, 4}, {4, 3, 2, 1}}},
        // A gap takes the next actual neighbour that is not a ligand.
        Ligands{{1, std::nullopt, 3}, {3, 9, 1}, Pair{{1, 9, 3}, {3, 9, 1}}},
        // A lost ligand stands against the second place of three.
        Ligands{{1, std::nullopt, 3, 4}, {4, 3, 1}, Pair{{1, GAP, 3, 4}, {4, GAP, 3, 1}}},
        // Three ligands and one new neighbour: the new one goes second.
        Ligands{{1, 2, 3}, {3, 7, 2, 1}, Pair{{1, 7, 2, 3}, {3, 7, 2, 1}}},
        Ligands{{1, 2}, {5, 6, 7, 8}, std::nullopt}));

// ---------------------------------------------------------------------------
// Real molecules: a template that maps one atom onto itself must give the
// molecule back, stereo included, although the matched atom moves to the front
// and every neighbour order around it changes; one that inverts the atom must
// give the molecule with that one centre mirrored.

std::vector<std::string> piece_texts(const std::vector<core::MolBuilder>& pieces) {
    std::vector<std::string> out;
    for (const auto& p : pieces) out.push_back(canonical(p));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> split_text(const std::string& smiles) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t dot; (dot = smiles.find('.', start)) != std::string::npos; start = dot + 1)
        out.push_back(smiles.substr(start, dot - start));
    out.push_back(smiles.substr(start));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(RealMolecules, MappedAtomsComeBackWithTheirStereo) {
    const auto keep = reaction_of("[*:1]>>[*:1]");
    const auto invert = reaction_of("[C@:1]>>[C@@:1]");
    const auto& data = data_molecules_as_read();
    std::size_t checked = 0;
    for (std::size_t i = 0; i < 300; ++i) {
        core::MolBuilder m = data[i];
        if (!chem::sanitize(m)) continue;
        const std::vector<std::string> whole = split_text(io::to_canonical_smiles(m));
        const Inputs in = input_of(m);
        const auto outcomes = match::run(keep, in, 0, false);
        ASSERT_EQ(outcomes.size(), m.num_atoms());
        for (std::size_t k = 0; k < outcomes.size(); ++k)
            ASSERT_EQ(piece_texts(outcomes[k].products), whole) << data_records()[i].smiles << " atom " << k;
        const auto carbons = match::find_matches(invert.reactants[0], m, in[0].props, {0, false, false});
        const auto inverted = match::run(invert, in, 0, false);
        ASSERT_EQ(inverted.size(), carbons.size());
        for (std::size_t k = 0; k < carbons.size(); ++k) {
            core::MolBuilder mirrored = m;
            core::Atom& a = mirrored.atoms[carbons[k][0]];
            if (a.chiral_tag == core::ChiralTag::Unspecified) continue;
            a.chiral_tag = a.chiral_tag == core::ChiralTag::Cw ? core::ChiralTag::Ccw : core::ChiralTag::Cw;
            ASSERT_EQ(piece_texts(inverted[k].products), split_text(canonical(mirrored)))
                << data_records()[i].smiles << " atom " << carbons[k][0];
            ++checked;
        }
    }
    EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace quorix::test

namespace quorix::test {
namespace {

// Facts a template does not read are left uncomputed, and that changes no outcome.
TEST(PropNeeds, SkippingUnreadFactsChangesNoOutcome) {
    std::vector<io::ReactionTemplates> rxns;
    std::ifstream in(std::string(QUORIX_TEST_DATA) + "/transforms.rxn");
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') rxns.push_back(reaction_of(line.substr(line.find('\t') + 1)));
    ASSERT_GE(rxns.size(), 50u);
    for (const char* text : {"[*;R:1]>>[*:1]O", "[*;r;!x:1]>>[*:1]", "[#6:1]@[#7,#8:2]>>[#6:1].[*:2]",
                             "[$([*;x]~[*;!R]):1]>>[*:1]Cl", "[C;r6:1]>>[C:1]O", "[C;v4;R2:1]>>[C:1]N"})
        rxns.push_back(reaction_of(text));
    const auto& data = data_molecules_as_read();
    for (std::size_t i = 0; i < 200; ++i) {
        core::MolBuilder m = data[i];
        if (!chem::sanitize(m)) continue;
        for (const auto& r : rxns) {
            const Inputs full = input_of(m);
            std::vector<ReactionInput> lean{{&m, match::compute_query_props(m, match::query_needs(r.reactants))}};
            const auto a = match::run(r, full, 0, false), b = match::run(r, lean, 0, false);
            ASSERT_EQ(a.size(), b.size()) << data_records()[i].smiles;
            for (std::size_t k = 0; k < a.size(); ++k) ASSERT_EQ(a[k].products, b[k].products);
        }
    }
}

}  // namespace
}  // namespace quorix::test
