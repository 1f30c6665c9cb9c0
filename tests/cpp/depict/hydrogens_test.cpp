// Wedge-carrying hydrogens applied to a copy of the molecule.
#include "depict/hydrogens.hpp"
#include "support.hpp"

namespace quorix {
namespace {

depict::WedgeHydrogens one_hydrogen(std::uint32_t centre, std::uint32_t n) {
    core::Atom h;
    h.atomic_num = 1;
    core::Bond b;
    b.begin = centre, b.end = n, b.order = core::BondOrder::Single;
    return {{}, {h}, {b}};
}

TEST(AddWedgeHydrogens, EmptyPlanCopiesExactly) {
    const core::MolBuilder m = test::read_or_fail("C[C@H](N)O");
    EXPECT_EQ(depict::add_wedge_hydrogens({}, m), m);
}

TEST(AddWedgeHydrogens, HydrogenComesLastEverywhere) {
    const core::MolBuilder m = test::read_or_fail("C[C@H](N)O");
    depict::WedgeHydrogens plan = one_hydrogen(1, 4);
    core::Atom centre = m.atoms[1];
    centre.num_explicit_hs = 0;
    plan.updated_atoms = {{1, centre}, {4, centre}};  // 4 is past the input, not yet the hydrogen: ignored
    const core::MolBuilder drawn = depict::add_wedge_hydrogens(plan, m);
    ASSERT_EQ(drawn.num_atoms(), 5u);
    ASSERT_EQ(drawn.num_bonds(), 4u);
    EXPECT_EQ(drawn.atoms[1].num_explicit_hs, 0);
    EXPECT_EQ(drawn.atoms[4].atomic_num, 1);
    EXPECT_EQ(test::neighbour_atoms(drawn, 1), (std::vector<std::uint32_t>{0, 2, 3, 4}));
    EXPECT_EQ(test::neighbour_atoms(drawn, 4), (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(drawn, depict::add_wedge_hydrogens(plan, m));
    EXPECT_EQ(m.num_atoms(), 4u);
}

TEST(AddWedgeHydrogens, BondOutsideTheMoleculeIsAnInternalError) {
    const core::MolBuilder m = test::read_or_fail("CC");
    const auto message = [&](const depict::WedgeHydrogens& plan) {
        try {
            depict::add_wedge_hydrogens(plan, m);
        } catch (const InternalError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message(one_hydrogen(1, 7)), "补出来的键端点越界: AtomIndexOutOfRange { index: 7, num_atoms: 3 }");
    EXPECT_EQ(message(one_hydrogen(2, 2)), "补出来的键端点越界: SelfLoop { atom: 2 }");
}

}  // namespace
}  // namespace quorix
