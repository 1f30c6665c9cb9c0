// The substructure matcher: candidate order, uniqueness, limits, stereo filters
// and recursive groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "helpers.hpp"
#include "io/smarts/parse.hpp"
#include "match/matcher.hpp"

namespace quorix::test {
namespace {

using match::Match;
using Matches = std::vector<Match>;

struct Case {
    const char* smarts;
    const char* smiles;
    bool uniquify;
    std::uint64_t max_matches;
    bool use_chirality;
    Matches expected;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.smarts << " on " << c.smiles << " uniquify=" << c.uniquify << " max=" << c.max_matches
              << " chirality=" << c.use_chirality;
}

class Exact : public ::testing::TestWithParam<Case> {};

TEST_P(Exact, GivesExactlyTheseMatchesInThisOrder) {
    const Case& c = GetParam();
    EXPECT_EQ(run(c.smarts, c.smiles, opts(c.uniquify, c.max_matches, c.use_chirality)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    UniquifyAndLimit, Exact,
    ::testing::Values(
        Case{"CC", "CC", true, 0, true, {{0, 1}}}, Case{"CC", "CC", false, 0, true, {{0, 1}, {1, 0}}},
        // The limit counts reported matches, not mappings dropped as duplicates.
        Case{"CC", "CCC", true, 2, true, {{0, 1}, {1, 2}}},
        // A disconnected query: the second part scans every atom, passing over used ones.
        Case{"C.C", "CCC", false, 0, true, {{0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 1}}},
        Case{"C.C", "CCC", true, 0, true, {{0, 1}, {0, 2}, {1, 2}}},
        // Rarest element first: the search starts at N, so results come in N's order.
        Case{"C.N", "NCCCN", false, 0, true, {{1, 0}, {2, 0}, {3, 0}, {1, 4}, {2, 4}, {3, 4}}}));

INSTANTIATE_TEST_SUITE_P(
    Bonds, Exact,
    ::testing::Values(
        // Dative bonds point: `->` from the image of the query bond's begin.
        Case{"N->[Cu]", "[NH3]->[Cu]", true, 0, true, {{0, 1}}}, Case{"N<-[Cu]", "[NH3]->[Cu]", true, 0, true, {}},
        Case{"N-[Cu]", "[NH3]->[Cu]", true, 0, true, {}}));

INSTANTIATE_TEST_SUITE_P(
    Chirality, Exact,
    ::testing::Values(
        Case{"F[C@@](Cl)(Br)I", "F[C@](Cl)(Br)I", true, 0, true, {}},
        // Same centre written from another neighbour: the parity of the
        // neighbour lists decides, not the written symbol.
        Case{"F[C@@](Cl)(Br)I", "Cl[C@](F)(Br)I", true, 0, true, {{2, 1, 0, 3, 4}}},
        // Three query neighbours: the fourth molecule neighbour fills in.
        Case{"F[C@@](Cl)Br", "F[C@](Br)(Cl)I", true, 0, true, {{0, 1, 3, 2}}},
        // Implicit hydrogens on both sides.
        Case{"F[C@@H](Cl)Br", "Cl[C@H](F)Br", true, 0, true, {{2, 1, 0, 3}}},
        // Fewer than three query neighbours: only a tag is required.
        Case{"[C@]", "FC(Cl)(Br)I", true, 0, true, {}}, Case{"[C@]", "FC(Cl)(Br)I", true, 0, false, {{1}}},
        Case{"[C@@]Br", "F[C@](Cl)(Br)I", true, 0, true, {{1, 3}}},
        // A chirality mark inside an Or does not constrain.
        Case{"F[C@,N](Cl)(Br)I", "FC(Cl)(Br)I", true, 0, true, {{0, 1, 2, 3, 4}}}));

INSTANTIATE_TEST_SUITE_P(
    CisTrans, Exact,
    ::testing::Values(
        Case{"F/C=C\\F", "F\\C=C/F", true, 0, true, {{0, 1, 2, 3}}},
        // Reading the query from the other end.
        Case{"F/C=C/F", "F/C=C/F", false, 0, true, {{0, 1, 2, 3}, {3, 2, 1, 0}}},
        // No direction marks in the molecule: nothing to compare against.
        Case{"F/C=C/F", "FC=CF", true, 0, true, {}},
        // A mark at one end only constrains nothing.
        Case{"F/C=CF", "F/C=C\\F", true, 0, true, {{0, 1, 2, 3}}},
        // The molecule's reference neighbour is F; the query's is Cl on the same atom.
        Case{"Cl/C=C\\F", "F/C(Cl)=C/F", true, 0, true, {{2, 1, 3, 4}}},
        // Double bond inside a small ring carries no configuration.
        Case{"C/C=C/C", "C1CC/C=C/CC1", true, 1, false, {{2, 3, 4, 5}}}));

INSTANTIATE_TEST_SUITE_P(
    Recursive, Exact,
    ::testing::Values(
        // Nested groups run with used flags of their own: the inner group may
        // reuse the atom the outer group stands on.
        Case{"[$([CH3][$(O[$(C=O)])])]", "[CH3]OC(C)=O", true, 0, true, {{0}}},
        // Stereo marks inside a group are checked whatever the outer option says.
        Case{"[$(F[C@](Cl)(Br)I)]", "F[C@@](Cl)(Br)I", true, 0, false, {}},
        Case{"[$(F/C=C/F)]", "F/C=C\\F", true, 0, false, {}},
        // Equal texts are separate groups; both must still agree.
        Case{"[$(CO)]~[$(CO)]", "OCCO", false, 0, true, {{1, 2}, {2, 1}}}));

TEST(Matcher, EmptyQueryMatchesNothing) {
    const io::Query empty;
    const core::MolBuilder mol = mol_of("CCO");
    EXPECT_TRUE(match::find_matches(empty, mol, match::compute_query_props(mol), {}).empty());
}

TEST(Matcher, StereoRejectionDoesNotClaimTheAtomSet) {
    // The first mapping found sends query F0 to molecule F0 and fails the
    // chirality test; the swapped mapping of the same atoms passes.
    const core::MolBuilder mol = mol_of("F[C@](F)(Cl)Br");
    EXPECT_EQ(run("F[C@@](F)(Cl)Br", mol, opts(true)), (Matches{{2, 1, 0, 3, 4}}));
    EXPECT_EQ(run("F[C@](F)(Cl)Br", mol, opts(true)), (Matches{{0, 1, 2, 3, 4}}));
    EXPECT_EQ(run("F[C@](F)(Cl)Br", mol, opts(true, 0, false)), (Matches{{0, 1, 2, 3, 4}}));
    EXPECT_EQ(run("F[C@](F)(Cl)Br", mol, opts(false, 0, false)).size(), 2u);
}

TEST(Matcher, RecursiveGroupRunsOncePerAtom) {
    // Every chain atom is tried as the group's atom from both of its neighbours;
    // the memo answers the second time without a new sub-search.
    const core::MolBuilder mol = mol_of(std::string(60, 'C'));
    const auto props = match::compute_query_props(mol);
    const io::Query alone = query_of("[$(C~C~C~C~C~C~C~C)]");
    const io::Query beside = query_of("*~[$(C~C~C~C~C~C~C~C)]");
    const auto a = match::find_matches_counted(alone, mol, props, opts(false));
    const auto b = match::find_matches_counted(beside, mol, props, opts(false));
    EXPECT_EQ(a.matches.size(), 60u);
    EXPECT_EQ(b.matches.size(), 118u);
    // The top level of `beside` adds one test per atom and one per neighbour.
    EXPECT_LE(b.steps, a.steps + 60 + 2 * 59);
}

TEST(Matcher, LimitStopsTheSearchEarly) {
    std::string chain(200, 'C');
    const core::MolBuilder mol = mol_of(chain);
    const io::Query q = query_of("CCC");
    const auto props = match::compute_query_props(mol);
    const auto all = match::find_matches_counted(q, mol, props, opts(false));
    const auto one = match::find_matches_counted(q, mol, props, opts(false, 1));
    ASSERT_EQ(all.matches.size(), 2u * 198u);
    ASSERT_EQ(one.matches.size(), 1u);
    EXPECT_EQ(one.matches[0], all.matches[0]);
    EXPECT_LT(one.steps * 50, all.steps);
}

TEST(Matcher, LongQueriesNeedNoDeepRecursion) {
    // The rare seed makes the search walk straight down the chain: depth 100001.
    const std::string chain = "N" + std::string(100000, 'C');
    const core::MolBuilder mol = mol_of(chain);
    const auto m = run(chain, mol, opts(true));
    ASSERT_EQ(m.size(), 1u);
    ASSERT_EQ(m[0].size(), 100001u);
    EXPECT_EQ(m[0][0], 0u);
    EXPECT_EQ(m[0][100000], 100000u);
}

struct OrderCase {
    const char* smarts;
    std::vector<std::uint64_t> estimates;
    std::vector<std::uint32_t> order;
};

class Order : public ::testing::TestWithParam<OrderCase> {};

TEST_P(Order, FollowsEstimateThenPlacedNeighboursThenDegree) {
    const OrderCase& c = GetParam();
    const io::Query q = query_of(c.smarts);
    EXPECT_EQ(match::plan_search_order(q.graph, c.estimates), c.order) << c.smarts;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Order,
    ::testing::Values(
        // Seed at the rarest atom, then grow along bonds by estimate.
        OrderCase{"C(C)(C)N", {5, 5, 5, 1}, {3, 0, 1, 2}},
        // Equal estimates: the larger degree seeds; ties keep the lower index.
        OrderCase{"CC(C)C", {4, 4, 4, 4}, {1, 0, 2, 3}},
        // More placed neighbours beat a smaller estimate (ring closure first).
        OrderCase{"C1CC(N)C1", {9, 9, 9, 1, 2}, {3, 2, 4, 0, 1}},
        // Each disconnected part starts at a new seed; lone atoms seed alone.
        OrderCase{"CC.N.O", {3, 3, 1, 2}, {2, 3, 0, 1}}, OrderCase{"C.CC", {1, 2, 2}, {0, 1, 2}}));

TEST(Estimates, CountMoleculeAtomsOfAdmittedElements) {
    const core::MolBuilder mol = mol_of("CCNO.Cl");
    const auto props = match::compute_query_props(mol);
    const io::Query q = query_of("[C,N].[!C].[C&N].*.[#17].[O;R]");
    EXPECT_EQ(match::estimate_candidates(q.atom_exprs, props.atoms),
              (std::vector<std::uint64_t>{3, 5, 0, 5, 1, 1}));
}

namespace brute {

bool group_holds(const io::Query& sub, const core::MolBuilder& mol, const match::QueryProps& props,
                 std::uint32_t anchor);

bool atom_holds(const io::AtomExpr& e, const core::MolBuilder& mol, const match::QueryProps& props,
                std::uint32_t a) {
    auto cb = [&](const io::Query& sub) { return group_holds(sub, mol, props, a); };
    return e.matches(props.atoms[a], cb);
}

bool bonds_hold(const io::Query& q, const core::MolBuilder& mol, const match::QueryProps& props, const Match& m) {
    for (std::uint32_t b = 0; b < q.num_bonds(); ++b) {
        const core::Bond& qb = q.graph.bonds[b];
        const std::uint32_t mb = mol.bond_between(m[qb.begin], m[qb.end]);
        if (mb == core::NONE) return false;
        io::BondProps bp = props.bonds[mb];
        if (mol.bonds[mb].order == core::BondOrder::Dative) bp.dative_forward = mol.bonds[mb].begin == m[qb.begin];
        if (!q.bond_exprs[b].matches(bp)) return false;
    }
    return true;
}

// Every injective assignment, tested atom by atom and bond by bond.
void enumerate(const io::Query& q, const core::MolBuilder& mol, const match::QueryProps& props, Match& m,
               std::vector<bool>& used, std::uint32_t i, std::vector<Match>& out, std::uint32_t fixed0) {
    if (i == q.num_atoms()) {
        if (bonds_hold(q, mol, props, m)) out.push_back(m);
        return;
    }
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (used[a] || (i == 0 && fixed0 != core::NONE && a != fixed0)) continue;
        if (!atom_holds(q.atom_exprs[i], mol, props, a)) continue;
        used[a] = true;
        m[i] = a;
        enumerate(q, mol, props, m, used, i + 1, out, fixed0);
        used[a] = false;
    }
}

std::vector<Match> all_mappings(const io::Query& q, const core::MolBuilder& mol, const match::QueryProps& props,
                                std::uint32_t fixed0 = core::NONE) {
    std::vector<Match> out;
    if (q.num_atoms() == 0 || q.num_atoms() > mol.num_atoms()) return out;
    Match m(q.num_atoms(), core::NONE);
    std::vector<bool> used(mol.num_atoms(), false);
    enumerate(q, mol, props, m, used, 0, out, fixed0);
    return out;
}

bool group_holds(const io::Query& sub, const core::MolBuilder& mol, const match::QueryProps& props,
                 std::uint32_t anchor) {
    return !all_mappings(sub, mol, props, anchor).empty();
}

}  // namespace brute

TEST(Matcher, FindsExactlyTheMappingsThatPassEveryTest) {
    const char* queries[] = {
        "C",       "CC",          "C~O",        "C=O",         "c:c",           "[#6]~[#7]",     "C.O",
        "*~*~*",   "C1CC1",       "c1ccccc1",   "[R]@[R]",     "[$(C=O)]~*",    "[!$(*=*)]~[#8]", "O~*~O",
        "N~C~C~O", "[C,N]~[!#6]", "*1~*~*~*1",  "[$(*~[$(*=O)])]", "[a;r5]~*",  "[D3]~[D3]",     "[x2;v4]"};
    const char* smiles[] = {"CC(=O)Oc1ccccc1C(=O)O", "CN1CCCC1c1cccnc1", "O=C1CCCO1", "c1ccc2ccccc2c1",
                            "C1CC1C(N)C(=O)O", "CC(C)(C)N=C=O", "C1CCC1CC1CC1", "[NH3]->[Cu]<-N"};
    for (const char* s : smiles) {
        const core::MolBuilder mol = mol_of(s);
        const auto props = match::compute_query_props(mol);
        for (const char* t : queries) {
            const io::Query q = query_of(t);
            auto got = match::find_matches(q, mol, props, opts(false, 0, false));
            auto want = brute::all_mappings(q, mol, props);
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
            EXPECT_EQ(got, want) << t << " on " << s;
        }
    }
}


// A 12 x 12 square grid of carbons: self-avoiding paths beyond counting.
core::MolBuilder carbon_grid(std::uint32_t side) {
    core::MolBuilder g;
    core::Atom c{};
    c.atomic_num = 6;
    for (std::uint32_t i = 0; i < side * side; ++i) g.add_atom(c);
    for (std::uint32_t r = 0; r < side; ++r)
        for (std::uint32_t k = 0; k < side; ++k) {
            core::Bond b{};
            b.order = core::BondOrder::Single;
            b.begin = r * side + k;
            if (k + 1 < side) {
                b.end = b.begin + 1;
                g.push_bond(b);
            }
            if (r + 1 < side) {
                b.end = b.begin + side;
                g.push_bond(b);
            }
        }
    return g;
}

TEST(MatchStream, GivesFindMatchesOneAtATime) {
    const char* queries[] = {"C", "CC", "C~O", "c1ccccc1", "[$(C=O)]~*", "*~*~*", "C.O", "[C@H]", "O~*~O"};
    const char* smiles[] = {"CC(=O)Oc1ccccc1C(=O)O", "C[C@H](N)C(=O)O", "c1ccc2ccccc2c1", "CC(C)(C)N=C=O"};
    const match::MatchOptions options[] = {opts(false, 0, false), opts(true), opts(false, 3, true)};
    for (const char* s : smiles) {
        const core::MolBuilder mol = mol_of(s);
        const auto props = match::compute_query_props(mol);
        for (const char* t : queries) {
            const io::Query q = query_of(t);
            for (const match::MatchOptions& o : options) {
                const auto want = match::find_matches_counted(q, mol, props, o);
                std::vector<Match> got;
                match::MatchStream stream(q, mol, props, o);
                while (const Match* m = stream.next()) got.push_back(*m);
                EXPECT_EQ(got, want.matches) << t << " on " << s;
                EXPECT_EQ(stream.steps(), want.steps) << t << " on " << s;
                EXPECT_EQ(stream.next(), nullptr);
                // A stream dropped half-way hands its storage back clean.
                if (want.matches.size() > 1) {
                    { match::MatchStream part(q, mol, props, o); part.next(); }
                    EXPECT_EQ(match::find_matches(q, mol, props, o), want.matches) << t << " on " << s;
                }
            }
        }
    }
}

TEST(MatchStream, FirstMatchCostsOnlyItself) {
    const core::MolBuilder grid = carbon_grid(12);
    const auto props = match::compute_query_props(grid);
    const io::Query path = query_of("CCCCCCCCCCCCCCC");
    match::MatchStream stream(path, grid, props, opts(false, 0, false));
    ASSERT_NE(stream.next(), nullptr);
    EXPECT_LT(stream.steps(), 200u);
    for (int i = 0; i < 1000; ++i) ASSERT_NE(stream.next(), nullptr);
    EXPECT_LT(stream.steps(), 20000u);
}

}  // namespace
}  // namespace quorix::test
