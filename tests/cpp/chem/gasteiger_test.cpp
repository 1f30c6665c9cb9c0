#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>

#include "chem/descriptors.hpp"
#include "chem/gasteiger.hpp"
#include "io/smiles/read.hpp"
#include "support.hpp"

using namespace quorix;
using namespace quorix::core;

namespace {

MolBuilder smiles(const char* text) { return test::read_or_fail(text); }

void hybridise(MolBuilder& m, std::initializer_list<Hybridization> h) {
    std::uint32_t i = 0;
    for (Hybridization x : h) m.atoms[i++].hybridization = x;
}

constexpr auto SP3 = Hybridization::Sp3;
constexpr auto SP2 = Hybridization::Sp2;

}  // namespace

TEST(Gasteiger, EmptyMoleculeAndZeroIterations) {
    EXPECT_TRUE(chem::gasteiger_charges(MolBuilder{}, 12).empty());
    EXPECT_TRUE(chem::atom_descriptors(MolBuilder{}).empty());
    // Iteration 0 gives the starting charges: a carboxylate's charge shared by
    // its two oxygens over the conjugated bonds.
    MolBuilder m = smiles("CC(=O)[O-]");
    m.bonds[1].flags |= CONJUGATED;
    m.bonds[2].flags |= CONJUGATED;
    const auto q = chem::gasteiger_charges(m, 0);
    EXPECT_EQ(q, (std::vector<double>{0.0, 0.0, -0.5, -0.5}));
}

TEST(Gasteiger, FirstIterationByHand) {
    // SO2 with an unhybridised sulfur takes the "so2" row: chi(S) = 12.00,
    // chi(O) = 17.07, cation(S) = 24.01; one step moves 0.5 * 2 * 5.07 / 24.01.
    MolBuilder m = smiles("O=S=O");
    hybridise(m, {SP2, Hybridization::Unspecified, SP2});
    const auto q = chem::gasteiger_charges(m, 1);
    EXPECT_NEAR(q[1], 0.5 * 2 * 5.07 / 24.01, 1e-12);
    EXPECT_NEAR(q[0], -0.5 * 5.07 / 24.01, 1e-12);
    // With three oxygens the sulfur falls back to the sp3 row (cation 20.65).
    MolBuilder t = smiles("O=S(=O)=O");
    hybridise(t, {SP2, Hybridization::Unspecified, SP2, SP2});
    EXPECT_NEAR(chem::gasteiger_charges(t, 1)[1], 0.5 * 3 * (17.07 - 10.14) / 20.65, 1e-12);
}

TEST(Gasteiger, ChargeIsConserved) {
    // Without hydrogens the reported charges alone carry the net charge.
    MolBuilder tfa = smiles("FC(F)(F)C(=O)[O-]");
    hybridise(tfa, {SP3, SP3, SP3, SP3, SP2, SP2, SP2});
    tfa.bonds[4].flags |= CONJUGATED;
    tfa.bonds[5].flags |= CONJUGATED;
    const auto q = chem::gasteiger_charges(tfa, 12);
    EXPECT_NEAR(std::accumulate(q.begin(), q.end(), 0.0), -1.0, 1e-9);
    MolBuilder perchlorate = smiles("[O-][Cl+3]([O-])([O-])[O-]");
    hybridise(perchlorate, {SP3, SP3, SP3, SP3, SP3});
    const auto p = chem::gasteiger_charges(perchlorate, 12);
    EXPECT_NEAR(std::accumulate(p.begin(), p.end(), 0.0), -1.0, 1e-9);

    // With hydrogens the lumped hydrogen charges make up the rest, on real molecules.
    int checked = 0;
    for (const auto& [line, id] : test::data_records()) {
        if (checked == 500) break;
        auto m = io::read_smiles(line);
        if (!m) continue;
        int net = 0;
        for (Atom& a : m->atoms) {
            net += a.formal_charge;
            a.hybridization = (a.flags & AROMATIC) ? SP2 : SP3;
            if (!(a.flags & FIXED_HS)) a.num_implicit_hs = a.atomic_num == 6 ? 1 : 0;
        }
        const auto r = chem::gasteiger_with_hydrogens(*m, 12);
        double sum = 0.0;
        bool finite = true;
        for (std::size_t i = 0; i < r.charges.size(); ++i) {
            sum += r.charges[i] + r.hydrogen_charges[i];
            finite = finite && std::isfinite(r.charges[i]);
        }
        if (!finite) continue;  // metals outside the table
        EXPECT_NEAR(sum, net, 1e-9) << line;
        ++checked;
    }
    EXPECT_GT(checked, 400);
}

TEST(Gasteiger, AtomsOutsideTheTableSpreadNonFiniteCharges) {
    MolBuilder m = smiles("[Na]OCC");
    hybridise(m, {Hybridization::Unspecified, SP3, SP3, SP3});
    auto q = chem::gasteiger_charges(m, 1);
    EXPECT_EQ(q[0], INFINITY);
    EXPECT_EQ(q[1], -INFINITY);
    EXPECT_TRUE(std::isfinite(q[2]));
    q = chem::gasteiger_charges(m, 2);
    EXPECT_FALSE(std::isfinite(q[2]));
    const auto d = chem::atom_descriptors(m);
    EXPECT_FALSE(std::isfinite(d[3].gasteiger_charge));
}

TEST(Gasteiger, ExplicitHydrogenUsesTheHydrogenRow) {
    // H with hybridisation s or none both match ("H", "*").
    MolBuilder a = smiles("[H]F");
    hybridise(a, {Hybridization::S, SP3});
    MolBuilder b = smiles("[H]F");
    hybridise(b, {Hybridization::Unspecified, SP3});
    const auto qa = chem::gasteiger_charges(a, 3);
    EXPECT_EQ(qa, chem::gasteiger_charges(b, 3));
    EXPECT_GT(qa[0], 0.0);
}

TEST(AtomDescriptors, MassesAndCounts) {
    MolBuilder m = smiles("[13CH4].[999C].C.[13*].[Ne]");
    m.atoms[2].num_implicit_hs = 4;
    const auto d = chem::atom_descriptors(m);
    EXPECT_DOUBLE_EQ(d[0].mass, 13.00335484);
    EXPECT_DOUBLE_EQ(d[1].mass, 999.0);
    EXPECT_DOUBLE_EQ(d[2].mass, 12.011);
    EXPECT_DOUBLE_EQ(d[3].mass, 0.0);
    EXPECT_FALSE(d[4].electronegativity.has_value());
    EXPECT_EQ(d[2].electronegativity, 2.55);
    EXPECT_EQ(d[0].total_degree, 4u);
    EXPECT_EQ(d[0].total_num_hs, 4u);

    MolBuilder explicit_h = smiles("[H]C([H])([H])[H]");
    const auto e = chem::atom_descriptors(explicit_h);
    EXPECT_EQ(e[1].total_degree, 4u);
    EXPECT_EQ(e[1].total_num_hs, 0u);
}
