// Wedge choice, the wedge-hydrogen plan and the Kekule orders of the 2-D molblock.
#include <algorithm>
#include <numeric>
#include <random>
#include <tuple>

#include "chem/rings.hpp"
#include "depict/hydrogens.hpp"
#include "depict/lib.hpp"
#include "depict/render.hpp"
#include "depict/stereo.hpp"
#include "io/smiles/canonical.hpp"
#include "python/depiction.hpp"
#include "support.hpp"

namespace quorix {
namespace {

depict::DepictionResult drawn(core::MolBuilder& m) {
    auto r = python::depict_copy(m);
    if (!r) ADD_FAILURE() << r.error();
    return r ? std::move(*r) : depict::DepictionResult{};
}

TEST(Wedges, PolyhedralCentresAreListedAndUnconfirmedMarksIgnored) {
    core::MolBuilder sp = test::read_or_fail("F[Pt@SP1](Cl)(Br)I");
    EXPECT_EQ(drawn(sp).unwedged, std::vector<std::uint32_t>{1});
    core::MolBuilder oh = test::read_or_fail("C[Co@OH1](F)(Cl)(Br)(I)N");
    EXPECT_EQ(drawn(oh).unwedged, std::vector<std::uint32_t>{1});
    core::MolBuilder same = test::read_or_fail("C[C@H](C)O");  // two methyls: no centre
    const depict::DepictionResult r = drawn(same);
    EXPECT_TRUE(r.unwedged.empty());
    for (const io::Wedge& w : r.wedges) EXPECT_EQ(w.kind, io::WedgeKind::None);
}

// Slow transcription of the wedge rule: candidates gathered by scanning every
// bond, keys compared as tuples, the verification rescanned from the start. `m`
// is the molecule the wedges are chosen on, `written` the one written: only a
// bond single in `written` is a candidate, so a dative bond that `m` holds as
// single is none.
depict::WedgeAssignment reference_pass(const core::MolBuilder& m, const core::MolBuilder& written,
                                       std::span<const depict::Point> coords, std::span<const std::uint32_t> ranks,
                                       bool stereo_first) {
    const std::uint32_t n = m.num_atoms(), nb = m.num_bonds();
    const std::vector<std::uint8_t> confirmed = io::chiral_centres(m);
    const auto tet = [&](std::uint32_t a) { return core::is_tetrahedral(m.atoms[a].chiral_tag); };
    depict::WedgeAssignment out;
    out.wedges.assign(nb, io::Wedge{});
    std::vector<std::uint8_t> used(nb, 0);
    std::vector<std::uint32_t> centres;
    for (std::uint32_t a = 0; a < n; ++a) {
        if (confirmed[a] && tet(a)) centres.push_back(a);
        if (std::uint8_t(m.atoms[a].chiral_tag) >= 3) out.unwedged.push_back(a);
    }
    std::sort(centres.begin(), centres.end(), [&](auto x, auto y) { return std::pair(ranks[x], x) < std::pair(ranks[y], y); });
    std::vector<io::Coord> flat;
    for (depict::Point p : coords) flat.push_back({p.x, p.y, 0.0});
    const auto reads = [&](std::uint32_t c) { return io::stereo_from_wedges(m, flat, out.wedges, c) == m.atoms[c].chiral_tag; };
    std::vector<std::uint32_t> placed;
    for (std::uint32_t c : centres) {
        std::vector<std::tuple<int, int, int, std::uint32_t, std::uint32_t, std::uint32_t>> cands;
        for (std::uint32_t b = 0; b < nb; ++b) {
            const core::Bond& bond = m.bonds[b];
            if ((bond.begin != c && bond.end != c) || used[b] || written.bonds[b].order != core::BondOrder::Single)
                continue;
            const std::uint32_t far = bond.other(c);
            const int ring = (bond.flags & core::IN_RING) != 0, stereo = tet(far), deg = m.degree[far] > 1;
            cands.emplace_back(stereo_first ? stereo : ring, stereo_first ? ring : stereo, deg, ranks[far], far, b);
        }
        std::sort(cands.begin(), cands.end());
        bool ok = false;
        for (const auto& cand : cands) {
            const std::uint32_t b = std::get<5>(cand);
            for (io::WedgeKind k : {io::WedgeKind::Solid, io::WedgeKind::Hashed}) {
                out.wedges[b] = io::Wedge{k, c};
                if ((ok = reads(c))) break;
            }
            if (ok) {
                used[b] = 1;
                break;
            }
            out.wedges[b] = io::Wedge{};
        }
        if (ok) placed.push_back(c);
        else out.unwedged.push_back(c);
    }
    for (auto bad = placed.begin(); (bad = std::find_if(placed.begin(), placed.end(), [&](auto c) { return !reads(c); })) != placed.end();) {
        for (std::uint32_t b = 0; b < nb; ++b)
            if (out.wedges[b].kind != io::WedgeKind::None && out.wedges[b].apex == *bad &&
                (m.bonds[b].begin == *bad || m.bonds[b].end == *bad))
                out.wedges[b] = io::Wedge{};
        out.unwedged.push_back(*bad);
        placed.erase(bad);

    }
    std::sort(out.unwedged.begin(), out.unwedged.end());
    return out;
}

// Both passes and the choice between them agree with the transcription on the
// real molecules' drawings, their mirror images, and with the ranks reversed
// (which reorders the centres); with dative bonds, on the dative-free copy the
// drawing uses, where only the written bonds say which may carry a wedge.
TEST(Wedges, MatchTheReferenceRule) {
    std::size_t compared = 0, second_pass = 0, tie = 0, dative_at_centre = 0;
    // Two ring centres whose acyclic bonds both lead to a sulfoxide: the
    // ring-first pass leaves the sulfur without a bond, the other pass does not.
    // Then two joined ring centres, one ringed by centres: the passes wedge
    // different bonds with equal counts.
    std::vector<std::string> inputs = {"O1CCC[C@H](C1)[S@](=O)[C@@H]1CCCCN1",
                                       "O1C[C@@H](CCC1)[C@H]1[C@@H](C)CCC[C@H]1F"};
#ifdef __SANITIZE_ADDRESS__
    constexpr std::size_t stride = 21;
#else
    constexpr std::size_t stride = 3;
#endif
    // Dative bonds at a centre: beside its hydrogen, in its place, the only bonds
    // of a metal centre, and at a ring nitrogen bound to a metal.
    for (const char* smiles : {"CCCCC[C@@H](CC)<-O", "O->[C@@]12CCCC[C@@H]1CCCC2", "N->[Zn@@](<-O)(<-S)<-P",
                               "C1CC[N@@]2(->[Cu])CCCC[C@@H]2C1", "O=C1O[Cu]<-[N@@H]2CCC[C@H]12"})
        inputs.push_back(smiles);
    for (std::size_t i = 0; i < test::data_records().size(); i += stride) {
        inputs.push_back(test::data_records()[i].smiles);
        if (std::string v = test::donor_in_place_of_hydrogen(test::data_records()[i].smiles); !v.empty()) inputs.push_back(v);
    }
    for (const std::string& smiles : inputs) {
        core::MolBuilder m = test::read_or_fail(smiles);
        core::MolBuilder copy = m;
        auto r = python::depict_copy(copy);
        if (!r || r->wedges.empty()) continue;
        if (!r->hydrogens.hydrogens.empty()) copy = depict::add_wedge_hydrogens(r->hydrogens, copy);
        if (std::none_of(copy.atoms.begin(), copy.atoms.end(),
                         [](const core::Atom& a) { return a.chiral_tag != core::ChiralTag::Unspecified; }))
            continue;
        const depict::PreparedLayout prepared = depict::prepare_layout(copy, r->ranks);
        const core::MolBuilder& stereo = prepared.dative_free ? *prepared.dative_free : copy;
        for (std::uint32_t b = 0; b < copy.num_bonds(); ++b)
            dative_at_centre += copy.bonds[b].order == core::BondOrder::Dative && prepared.dative_free &&
                                (core::is_tetrahedral(copy.atoms[copy.bonds[b].begin].chiral_tag) ||
                                 core::is_tetrahedral(copy.atoms[copy.bonds[b].end].chiral_tag));
        std::vector<std::uint32_t> reversed = r->ranks;
        for (std::uint32_t& x : reversed) x = copy.num_atoms() - 1 - x;
        for (int variant = 0; variant < 3; ++variant) {
            std::vector<depict::Point> c = r->coords;
            if (variant == 1) {
                for (depict::Point& p : c) p.x = -p.x;
            }
            const std::vector<std::uint32_t>& ranks = variant == 2 ? reversed : r->ranks;
            const auto ring_wedges = [&](const depict::WedgeAssignment& w) {
                std::size_t k = 0;
                for (std::uint32_t b = 0; b < stereo.num_bonds(); ++b)
                    k += w.wedges[b].kind != io::WedgeKind::None && (stereo.bonds[b].flags & core::IN_RING);
                return k;
            };
            const auto a = reference_pass(stereo, copy, c, ranks, false), b = reference_pass(stereo, copy, c, ranks, true);
            const bool take_b = b.unwedged.size() < a.unwedged.size() ||
                                (b.unwedged.size() == a.unwedged.size() && ring_wedges(b) < ring_wedges(a));
            const depict::WedgeAssignment got =
                depict::choose_wedges(stereo, c, ranks, io::chiral_centres(stereo), copy.bonds);
            const depict::WedgeAssignment& want = take_b ? b : a;
            ASSERT_EQ(got.wedges, want.wedges) << smiles;
            ASSERT_EQ(got.unwedged, want.unwedged) << smiles;
            if (variant == 0) {
                ASSERT_EQ(r->wedges, want.wedges) << smiles;  // the drawing's own wedges
            }
            if (&stereo == &copy) {
                EXPECT_EQ(depict::choose_wedges(copy, c, ranks).wedges, want.wedges);
                EXPECT_EQ(depict::assign_wedges(copy, c, ranks, true).wedges, b.wedges);
            }
            ++compared, second_pass += take_b;
            tie += a.wedges != b.wedges && a.unwedged.size() == b.unwedged.size() && ring_wedges(a) == ring_wedges(b);
        }
    }
    EXPECT_GT(compared * stride, 1500u);
    EXPECT_GT(dative_at_centre * stride, 1000u);
    EXPECT_GT(second_pass, 0u);
    EXPECT_GT(tie, 0u);
}

struct PlanCase {
    std::string_view smiles;
    std::vector<std::uint32_t> centres;  // in plan order
};
class Plan : public testing::TestWithParam<PlanCase> {};
TEST_P(Plan, ChoosesCentresThatCannotBeWedgedOtherwise) {
    core::MolBuilder m = test::read_or_fail(GetParam().smiles);
    ASSERT_TRUE(chem::sanitize(m));
    const auto plan = depict::plan_wedge_hydrogens(m);
    // The counts the writer's limit is checked with before any layout.
    EXPECT_EQ(depict::wedge_hydrogen_count(m), GetParam().centres.size());
    EXPECT_GE(depict::wedge_hydrogens_at_most(m), GetParam().centres.size());
    if (GetParam().centres.empty()) {
        EXPECT_FALSE(plan);
        return;
    }
    ASSERT_TRUE(plan);
    const std::uint32_t n = m.num_atoms();
    const auto ranks = io::canonical_ranks(m);
    ASSERT_EQ(plan->updated_atoms.size(), GetParam().centres.size());
    ASSERT_EQ(plan->hydrogens.size(), GetParam().centres.size());
    for (std::uint32_t k = 0; k < plan->updated_atoms.size(); ++k) {
        const auto& [c, atom] = plan->updated_atoms[k];
        EXPECT_EQ(c, GetParam().centres[k]);
        if (k) {
            EXPECT_LT(ranks[plan->updated_atoms[k - 1].first], ranks[c]);
        }
        EXPECT_EQ(atom.total_hs() + 1, m.atoms[c].total_hs());
        EXPECT_EQ(atom.num_implicit_hs, m.atoms[c].num_implicit_hs);  // bracket hydrogens are declared
        EXPECT_EQ(atom.chiral_tag, m.atoms[c].chiral_tag);
        EXPECT_EQ(plan->hydrogens[k].atomic_num, 1);
        EXPECT_EQ(plan->bonds[k].begin, c);
        EXPECT_EQ(plan->bonds[k].end, n + k);
        EXPECT_EQ(plan->bonds[k].order, core::BondOrder::Single);
    }
    const core::MolBuilder d = depict::add_wedge_hydrogens(*plan, m);
    EXPECT_EQ(d.num_atoms(), n + plan->hydrogens.size());
}
INSTANTIATE_TEST_SUITE_P(
    Depiction, Plan,
    testing::Values(PlanCase{"CCO", {}}, PlanCase{"C[C@H](N)O", {}},
                    // Ring-fusion atoms have only ring bonds: both get one, in rank order.
                    PlanCase{"[C@@H]12CCCC[C@H]1CCCC2", {0, 5}}, PlanCase{"[C@H]12CCCC[C@@H]1CCCO2", {0, 5}},
                    PlanCase{"[C@H]12CCCO[C@@H]1CCCC2", {5, 0}},
                    // An acyclic single bond is enough: only the fusion atom without one.
                    PlanCase{"C[C@@]12CCCC[C@H]1CCCC2", {6}}, PlanCase{"C[C@@]12CCCC[C@H]1C(F)CCC2", {6}},
                    PlanCase{"O[C@H]1CCCC[C@H]1N", {}},
                    // Fewer than three neighbours: one whatever the bonds.
                    PlanCase{"[C@@H](F)(Cl)", {0}},
                    // A dative bond carries no wedge: a ring centre whose only
                    // acyclic bond is dative gets one, a chain centre with a
                    // single bond beside its dative one none.
                    PlanCase{"CC1CCC[C@@H]1<-O", {5}}, PlanCase{"CCCCC[C@@H](CC)<-O", {}}));

// Benzene's Kekule pattern is fixed by canonical numbering, not by input order.
TEST(KekuleOrders, FollowCanonicalNumbering) {
    const auto pattern = [](std::string_view smiles) {
        core::MolBuilder m = test::read_or_fail(smiles);
        EXPECT_TRUE(chem::sanitize(m));
        const auto orders = depict::render_molblock_2d(m);
        const auto ranks = io::canonical_ranks(m);
        std::vector<std::tuple<std::uint32_t, std::uint32_t, core::BondOrder>> out;
        for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
            const std::uint32_t x = ranks[m.bonds[b].begin], y = ranks[m.bonds[b].end];
            out.emplace_back(std::min(x, y), std::max(x, y), orders[b]);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(pattern("Cc1ccccc1O"), pattern("Oc1c(C)cccc1"));
    EXPECT_EQ(pattern("c1ccc2ccccc2c1"), pattern("c1cc2ccccc2cc1"));
    core::MolBuilder plain = test::read_or_fail("C=CC#N");
    ASSERT_TRUE(chem::sanitize(plain));
    EXPECT_EQ(depict::render_molblock_2d(plain), (std::vector<core::BondOrder>{
        core::BondOrder::Double, core::BondOrder::Single, core::BondOrder::Triple}));
    EXPECT_TRUE(depict::render_molblock_2d(test::read_or_fail("[Na+].[Cl-]")).empty());
    // No Kekule form: the aromatic orders stay and the writer refuses them.
    core::MolBuilder odd = test::read_or_fail("c1cccc1"), benzene = test::read_or_fail("c1ccccc1");
    chem::ring_membership(odd), chem::ring_membership(benzene);
    for (core::BondOrder o : depict::render_molblock_2d(odd)) EXPECT_EQ(o, core::BondOrder::Aromatic);
    for (core::BondOrder o : depict::render_molblock_2d(benzene)) EXPECT_NE(o, core::BondOrder::Aromatic);
}

// Reference model of the Kekule orders: a full copy of the molecule in rank
// order (ties by index), bonds sorted by their new ends, kekulized on its own.
std::vector<core::BondOrder> kekule_orders_by_copy(const core::MolBuilder& mol, std::span<const std::uint32_t> ranks) {
    std::vector<core::BondOrder> orders;
    for (const core::Bond& b : mol.bonds) orders.push_back(b.order);
    std::vector<std::uint32_t> order(mol.num_atoms()), new_index(mol.num_atoms());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t x, std::uint32_t y) { return std::pair(ranks[x], x) < std::pair(ranks[y], y); });
    for (std::uint32_t k = 0; k < order.size(); ++k) new_index[order[k]] = k;
    core::MolBuilder copy;
    for (std::uint32_t a : order) copy.add_atom(mol.atoms[a]);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> records;
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b) {
        const std::uint32_t x = new_index[mol.bonds[b].begin], y = new_index[mol.bonds[b].end];
        records.emplace_back(std::min(x, y), std::max(x, y), b);
    }
    std::sort(records.begin(), records.end());
    for (const auto& [lo, hi, b] : records) {
        core::Bond bond = mol.bonds[b];
        for (std::uint32_t& s : bond.stereo_atoms)
            if (s != core::NONE) s = new_index[s];
        bond.begin = lo;
        bond.end = hi;
        copy.push_bond(bond);
    }
    if (!chem::kekulize(copy)) return orders;
    for (std::size_t k = 0; k < records.size(); ++k) orders[std::get<2>(records[k])] = copy.bonds[k].order;
    return orders;
}

// Canonical ranks, random numberings and random ranks with ties, on real
// molecules and on spiro and bridged systems whose blocks share atoms.
TEST(KekuleOrders, EqualAFullCopyInRankOrder) {
    std::vector<core::MolBuilder> mols;
    for (std::string_view smiles : {"c1ccc2c(c1)C1(CC2)c2ccccc2-c2ccccc21", "c1ccc2c(c1)[C@]1(C2)Cc2ccccc21",
                                    "C1CC2(CCN1)c1ccccc1-c1ccccc12", "c1cc2ccc1CCc1ccc(cc1)CC2", "[O-][n+]1ccccc1"})
        mols.push_back(test::read_or_fail(smiles));
    const auto& data = test::data_molecules_as_read();
    for (std::size_t i = 0; i < data.size(); i += 5) mols.push_back(data[i]);
    std::mt19937 rng(3);
    std::size_t aromatic = 0;
    for (core::MolBuilder& m : mols) {
        if (!chem::sanitize(m)) continue;
        aromatic += std::any_of(m.bonds.begin(), m.bonds.end(),
                                [](const core::Bond& b) { return b.order == core::BondOrder::Aromatic; });
        std::vector<std::uint32_t> ranks = io::canonical_ranks(m);
        EXPECT_EQ(depict::render_molblock_2d(m, ranks), kekule_orders_by_copy(m, ranks));
        std::shuffle(ranks.begin(), ranks.end(), rng);
        EXPECT_EQ(depict::render_molblock_2d(m, ranks), kekule_orders_by_copy(m, ranks));
        for (std::uint32_t& r : ranks) r = rng() % (m.num_atoms() / 2 + 1);
        EXPECT_EQ(depict::render_molblock_2d(m, ranks), kekule_orders_by_copy(m, ranks));
    }
    EXPECT_GT(aromatic, 1000u);
}

// The text an internal error carries, or "" when the call returns.
template <class F>
std::string internal_error_text(F call) {
    try {
        call();
    } catch (const InternalError& e) {
        return e.what();
    }
    return "";
}

// A plan naming a missing atom or a self loop is our own broken invariant.
TEST(WedgeHydrogenPlan, BadPlannedBondsStopWithTheBuilderError) {
    core::MolBuilder m = test::read_or_fail("CCO");
    depict::WedgeHydrogens plan;
    plan.hydrogens.push_back(core::Atom{.atomic_num = 1});
    plan.bonds.push_back(core::Bond{.begin = 1, .end = 7, .order = core::BondOrder::Single});
    EXPECT_EQ(internal_error_text([&] { depict::add_wedge_hydrogens(plan, m); }),
              "补出来的键端点越界: AtomIndexOutOfRange { index: 7, num_atoms: 4 }");
    plan.bonds[0] = core::Bond{.begin = 3, .end = 3, .order = core::BondOrder::Single};
    EXPECT_EQ(internal_error_text([&] { depict::add_wedge_hydrogens(plan, m); }),
              "补出来的键端点越界: SelfLoop { atom: 3 }");
}

// Replacements come before additions: an index equal to the given atom count is
// skipped even though the plan adds that atom.
TEST(WedgeHydrogenPlan, ReplacementsOutsideTheMoleculeAreSkipped) {
    const core::MolBuilder m = test::read_or_fail("CCO");
    depict::WedgeHydrogens plan;
    plan.updated_atoms.emplace_back(3, core::Atom{.atomic_num = 9});
    plan.hydrogens.push_back(core::Atom{.atomic_num = 1});
    plan.bonds.push_back(core::Bond{.begin = 1, .end = 3, .order = core::BondOrder::Single});
    const core::MolBuilder d = depict::add_wedge_hydrogens(plan, m);
    EXPECT_EQ(d.atoms[3].atomic_num, 1);
    EXPECT_EQ(d.neighbors(1).begin() != d.neighbors(1).end(), true);
    std::uint32_t last = core::NONE;
    for (core::Neighbor nb : d.neighbors(1)) last = nb.bond;
    EXPECT_EQ(last, 2u);  // the new bond is last at the centre
    EXPECT_EQ(depict::add_wedge_hydrogens(depict::WedgeHydrogens{}, m), m);
}

// One hydrogen comes off the declared count when there is one, else off the
// implicit count; the added atom and bond are bare.
TEST(WedgeHydrogenPlan, ReplacementRecordTakesOneHydrogenOff) {
    core::MolBuilder m = test::read_or_fail("[C@@H]12CCCC[C@H]1CCCC2");
    ASSERT_TRUE(chem::sanitize(m));
    m.atoms[5].num_explicit_hs = 0;
    m.atoms[5].num_implicit_hs = 1;
    const auto plan = depict::plan_wedge_hydrogens(m);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->updated_atoms.size(), 2u);
    for (const auto& [c, atom] : plan->updated_atoms) {
        core::Atom expected = m.atoms[c];
        (c == 5 ? expected.num_implicit_hs : expected.num_explicit_hs) = 0;
        EXPECT_EQ(atom, expected) << c;
    }
    EXPECT_EQ(plan->hydrogens[1], core::Atom{.atomic_num = 1});
    EXPECT_EQ(plan->bonds[1], (core::Bond{.begin = plan->updated_atoms[1].first, .end = 11,
                                          .order = core::BondOrder::Single}));
}

TEST(BuilderError, StructText) {
    EXPECT_EQ(core::to_struct_text(core::AtomIndexOutOfRange{12, 10}), "AtomIndexOutOfRange { index: 12, num_atoms: 10 }");
    EXPECT_EQ(core::to_struct_text(core::SelfLoop{3}), "SelfLoop { atom: 3 }");
    EXPECT_EQ(core::to_struct_text(core::MolIndexOutOfRange{4, 2}), "MolIndexOutOfRange { index: 4, num_mols: 2 }");
    EXPECT_EQ(core::to_struct_text(core::BondIndexOutOfRange{9, 3}), "BondIndexOutOfRange { index: 9, num_bonds: 3 }");
    EXPECT_EQ(core::to_struct_text(core::BatchTooLarge{"atoms", 5000000000}), "BatchTooLarge { what: atoms, count: 5000000000 }");
}

}  // namespace
}  // namespace quorix
