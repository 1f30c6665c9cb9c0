// Bridgehead pairs turned inward: both configurations of every small bicycle,
// lone pairs and quaternary centres, independence of atom and bond order, and
// no real molecule refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "chem/sssr.hpp"
#include "conf/bridges.hpp"
#include "conf/chiral.hpp"
#include "core/permutation.hpp"
#include "prepared.hpp"
#include "support.hpp"

namespace quorix::conf {
namespace {

std::vector<std::uint32_t> inward(const core::MolBuilder& mol) {
    return inward_bridgeheads(mol, chem::sssr(mol), collect_chiral_centres(mol));
}

std::vector<std::uint32_t> inward(std::string_view smiles) { return inward(test::prepared(smiles)); }

// Every bicycle [l.m.s] up to six-atom bridges, with the second bridgehead
// marked each way: only the inward form is refused, and only when the ring of
// the two longest bridges is under seven atoms (bonded) or nine (apart).
TEST(InwardBridgeheads, EveryBicycleUpToSixAtomBridges) {
    const auto bicycle = [](int l, int m, int s, const char* mark) {
        const std::string q = std::string("[C") + mark + "H]";
        if (s == 0) return "[C@H]12" + std::string(l, 'C') + q + "1" + std::string(m, 'C') + "2";
        return "[C@H]12" + std::string(l, 'C') + q + "(" + std::string(m, 'C') + "1)" + std::string(s, 'C') + "2";
    };
    for (int l = 1; l <= 6; ++l)
        for (int m = 1; m <= l; ++m)
            for (int s = 0; s <= m; ++s) {
                const std::string out = bicycle(l, m, s, "@"), in = bicycle(l, m, s, "@@");
                const bool too_short = l + m + 2 < (s == 0 ? 7 : 9);
                const std::vector<std::uint32_t> none, pair{0, static_cast<std::uint32_t>(l) + 1};
                EXPECT_EQ(inward(out), none) << out;
                EXPECT_EQ(inward(in), too_short ? pair : none) << in;
            }
}

TEST(InwardBridgeheads, LonePairsQuaternaryCentresAndTricycles) {
    const std::vector<std::pair<const char*, std::vector<std::uint32_t>>> cases{
        {"[P@@]12CC[C@@H](CC1)CC2", {0, 3}},
        {"[P@]12CC[C@@H](CC1)CC2", {}},
        {"CC1(C)[C@H]2CC[C@@]1(C)C(=O)C2", {3, 6}},
        {"CC1(C)[C@@H]2CC[C@@]1(C)C(=O)C2", {}},  // camphor
        {"C1C[C@H]2C[C@H]1C[C@@H]1CCC[C@H]12", {2, 4}},
    };
    for (const auto& [smiles, centres] : cases) EXPECT_EQ(inward(smiles), centres) << smiles;
}

// The molecule with its atoms and bonds in other orders, each mark rewritten
// for its centre's new neighbour order.
core::MolBuilder reordered(const core::MolBuilder& mol, const std::vector<std::uint32_t>& perm, std::mt19937& rng) {
    core::MolBuilder out = test::scrambled(mol, perm, &rng);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (!core::is_tetrahedral(mol.atoms[a].chiral_tag)) continue;
        std::vector<std::uint32_t> before;
        for (std::uint32_t nb : test::neighbour_atoms(mol, a)) before.push_back(perm[nb]);
        if (core::permutation_parity(before, test::neighbour_atoms(out, perm[a])) == 1) {
            core::ChiralTag& tag = out.atoms[perm[a]].chiral_tag;
            tag = tag == core::ChiralTag::Cw ? core::ChiralTag::Ccw : core::ChiralTag::Cw;
        }
    }
    return out;
}

TEST(InwardBridgeheads, IndependentOfAtomAndBondOrder) {
    std::mt19937 rng(11);
    for (const char* smiles : {"C1C[C@H]2CC[C@H]1CC2", "CC1(C)[C@H]2CC[C@@]1(C)C(=O)C2",
                               "C1C[C@H]2C[C@H]1C[C@@H]1CCC[C@H]12", "[C@H]12CCC[C@@H]1C2"}) {
        const core::MolBuilder mol = test::prepared(smiles);
        const std::vector<std::uint32_t> named = inward(mol);
        ASSERT_FALSE(named.empty()) << smiles;
        for (int round = 0; round < 8; ++round) {
            std::vector<std::uint32_t> perm = test::identity(mol.num_atoms());
            std::shuffle(perm.begin(), perm.end(), rng);
            std::vector<std::uint32_t> expected;
            for (std::uint32_t c : named) expected.push_back(perm[c]);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(inward(reordered(mol, perm, rng)), expected) << smiles;
        }
    }
}

TEST(InwardBridgeheads, NoRealMoleculeIsRefused) {
    for (const test::DataMolecule& d : test::data_records()) {
        const core::MolBuilder mol = test::prepared(d.smiles, true, false);
        EXPECT_EQ(inward(mol), std::vector<std::uint32_t>{}) << d.id << " " << d.smiles;
    }
}

}  // namespace
}  // namespace quorix::conf
