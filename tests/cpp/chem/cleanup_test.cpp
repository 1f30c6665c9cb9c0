#include "chem/cleanup.hpp"

#include <gtest/gtest.h>

#include <string>

#include "atoms.hpp"

using namespace quorix;
using core::BondOrder;
using quorix::test::AtomSpec;
using quorix::test::BondSpec;
using quorix::test::build;

namespace {

constexpr auto S = BondOrder::Single, D = BondOrder::Double, T = BondOrder::Triple, A = BondOrder::Aromatic;

struct CleanupCase {
    std::string name;
    std::vector<AtomSpec> atoms;
    std::vector<BondSpec> bonds;
    std::vector<int> charges;         // expected, per atom
    std::vector<BondOrder> orders;    // expected, per bond
};

class Cleanup : public ::testing::TestWithParam<CleanupCase> {};

TEST_P(Cleanup, ChargesAndOrders) {
    const CleanupCase& c = GetParam();
    core::MolBuilder m = build(c.atoms, c.bonds);
    const core::MolBuilder before = m;
    chem::cleanup(m);
    std::vector<int> charges;
    std::vector<BondOrder> orders;
    for (const auto& a : m.atoms) charges.push_back(a.formal_charge);
    for (const auto& b : m.bonds) orders.push_back(b.order);
    EXPECT_EQ(charges, c.charges);
    EXPECT_EQ(orders, c.orders);
    // Nothing but charges and orders may change.
    ASSERT_EQ(m.num_atoms(), before.num_atoms());
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        core::Atom x = m.atoms[a];
        x.formal_charge = before.atoms[a].formal_charge;
        EXPECT_EQ(x, before.atoms[a]) << "atom " << a;
    }
    EXPECT_EQ(m.first_half_edge, before.first_half_edge);
    EXPECT_EQ(m.next_half_edge, before.next_half_edge);
}

AtomSpec ion(std::uint8_t z, std::int8_t q) { return AtomSpec{z, q, 0, true}; }
AtomSpec ar(std::uint8_t z) { return AtomSpec{z, 0, 0, false, true}; }

INSTANTIATE_TEST_SUITE_P(
    Chem, Cleanup,
    ::testing::Values(
        // CN(=O)=O: the first oxygen in the nitrogen's neighbour order changes.
        CleanupCase{"nitromethane", {{6}, {7}, {8}, {8}}, {{0, 1}, {1, 2, D}, {1, 3, D}},
                    {0, 1, -1, 0}, {S, S, D}},
        // Same group with the bonds to the oxygens listed the other way round.
        CleanupCase{"nitro_neighbour_order", {{6}, {7}, {8}, {8}}, {{0, 1}, {1, 3, D}, {1, 2, D}},
                    {0, 1, 0, -1}, {S, S, D}},
        // Pyridine N-oxide in aromatic form with a neutral N=O; ring flags untouched.
        CleanupCase{"aromatic_n_oxide", {ar(7), ar(6), ar(6), ar(6), ar(6), ar(6), {8}},
                    {{0, 1, A}, {1, 2, A}, {2, 3, A}, {3, 4, A}, {4, 5, A}, {5, 0, A}, {0, 6, D}},
                    {1, 0, 0, 0, 0, 0, -1}, {A, A, A, A, A, A, S}},
        CleanupCase{"methyl_azide", {{6}, {7}, {7}, {7}}, {{0, 1}, {1, 2, D}, {2, 3, T}},
                    {0, 0, 1, -1}, {S, D, D}},
        // O=N#N: the oxygen pass already made the nitrogen N+; the triple bond stays,
        // giving nitrous oxide as N#[N+][O-] with its charges balanced.
        CleanupCase{"nitrous_oxide_pentavalent", {{8}, {7}, {7}}, {{0, 1, D}, {1, 2, T}},
                    {-1, 1, 0}, {S, T}},
        // CP(=O)=CC: phosphorus ylide with a substituted carbon.
        CleanupCase{"phosphorus_ylide", {{6}, {15}, {8}, {6}, {6}}, {{0, 1}, {1, 2, D}, {1, 3, D}, {3, 4}},
                    {0, 1, -1, 0, 0}, {S, S, D, S}},
        // =CH2 with no other bond: not an ylide.
        CleanupCase{"ylide_terminal_carbon", {{6}, {15}, {8}, {6}}, {{0, 1}, {1, 2, D}, {1, 3, D}},
                    {0, 0, 0, 0}, {S, D, D}},
        CleanupCase{"phosphorus_four_neighbours", {{6}, {15}, {8}, {6}, {6}, {6}},
                    {{0, 1}, {1, 2, D}, {1, 3, D}, {3, 4}, {1, 5}}, {0, 0, 0, 0, 0, 0}, {S, D, D, S, S}},
        CleanupCase{"perchlorate", {{17}, ion(8, -1), {8}, {8}, {8}}, {{0, 1}, {0, 2, D}, {0, 3, D}, {0, 4, D}},
                    {3, -1, -1, -1, -1}, {S, S, S, S}},
        CleanupCase{"charged_halogen_skipped", {ion(17, 1), {8}, {8}}, {{0, 1, D}, {0, 2, D}},
                    {1, 0, 0}, {D, D}},
        // Hypochlorous acid: valence 1 is not 3, 5 or 7.
        CleanupCase{"hypochlorite", {{17}, {8}}, {{0, 1}}, {0, 0}, {S}},
        // Fluorine is never rewritten.
        CleanupCase{"fluorine_oxide", {{9}, {8}, {8}}, {{0, 1, D}, {0, 2}}, {0, 0, 0}, {D, S}}),
    [](const auto& info) { return info.param.name; });

TEST(Cleanup, NitrogenValenceCountsDeclaredHydrogens) {
    // [NH](=O)=O bracket-like: one declared hydrogen makes the valence 5.
    core::MolBuilder m = build({AtomSpec{7, 0, 1, true}, {8}, {8}}, {{0, 1, D}, {0, 2, D}});
    chem::cleanup(m);
    EXPECT_EQ(m.atoms[0].formal_charge, 1);
    EXPECT_EQ(m.atoms[1].formal_charge, -1);
    EXPECT_EQ(m.atoms[0].num_explicit_hs, 1);
}

}  // namespace
