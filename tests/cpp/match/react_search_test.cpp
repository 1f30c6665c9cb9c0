// The bounded reaction search against the exhaustive one it replaces: the same
// outcomes in the same order, on random small reactions, and a bounded number of
// search steps on inputs where the exhaustive search never ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "match/pieces.hpp"
#include "reaction_inputs.hpp"

namespace quorix::test {
namespace {

using match::Match;
using match::RawOutcome;
using match::ReactionInput;
using Lists = std::vector<std::vector<Match>>;

// ---------------------------------------------------------------------------
// The exhaustive search: every match list in full, the whole template-by-input
// table, every assignment and every combination tried in turn.
namespace exhaustive {

constexpr match::MatchOptions ALL{0, false, false};

struct Setup {
    const io::ReactionTemplates& templates;
    std::vector<const core::MolBuilder*> mols;
    std::vector<std::vector<std::uint32_t>> components;
    std::uint64_t max_products;
    bool mapping;
};

// The odometer, template 0 fastest; `atoms` > 0 skips combinations whose
// matches share one of that many atoms.
std::vector<RawOutcome> odometer(const Setup& s, const Lists& lists, const std::vector<std::uint64_t>& assignment,
                                 std::uint32_t atoms = 0) {
    std::vector<RawOutcome> out;
    std::vector<std::size_t> c(lists.size(), 0);
    for (;;) {
        std::vector<Match> selection;
        std::vector<int> used(atoms, 0);
        bool overlap = false;
        for (std::size_t t = 0; t < lists.size(); ++t) {
            selection.push_back(lists[t][c[t]]);
            if (atoms)
                for (std::uint32_t a : lists[t][c[t]]) overlap = used[a]++ > 0 || overlap;
        }
        if (!overlap) {
            out.push_back(match::number_atom_maps(
                s.mols, match::build_products(s.templates, s.mols, selection, assignment, s.components), s.mapping));
            if (s.max_products > 0 && out.size() >= s.max_products) return out;
        }
        std::size_t t = 0;
        for (; t < lists.size(); ++t) {
            if (++c[t] < lists[t].size()) break;
            c[t] = 0;
        }
        if (t == lists.size()) return out;
    }
}

bool assign(const std::vector<Lists>& table, std::size_t t, std::vector<std::uint64_t>& a, std::vector<bool>& taken) {
    if (t == table.size()) return true;
    for (std::size_t j = 0; j < table.size(); ++j) {
        if (taken[j] || table[t][j].empty()) continue;
        taken[j] = true;
        a[t] = j;
        if (assign(table, t + 1, a, taken)) return true;
        taken[j] = false;
    }
    return false;
}

std::vector<RawOutcome> run(const io::ReactionTemplates& r, const std::vector<ReactionInput>& in, std::uint64_t max,
                            bool mapping) {
    const std::size_t n = in.size();
    if (n != r.reactants.size() || r.products.empty()) return {};
    Setup s{r, {}, {}, max, mapping};
    for (const ReactionInput& i : in) {
        s.mols.push_back(i.mol);
        s.components.push_back(core::connected_components(*i.mol));
    }
    std::vector<Lists> table(n);
    for (std::size_t t = 0; t < n; ++t)
        for (std::size_t j = 0; j < n; ++j)
            table[t].push_back(match::find_matches(r.reactants[t], *in[j].mol, in[j].props, ALL));
    std::vector<std::uint64_t> a(n);
    Lists lists;
    for (std::size_t t = 0; t < n; ++t) {
        a[t] = t;
        lists.push_back(table[t][t]);
    }
    bool positional = true;
    for (const auto& l : lists) positional = positional && !l.empty();
    if (!positional) {
        std::vector<bool> taken(n, false);
        if (!assign(table, 0, a, taken)) return {};
        for (std::size_t t = 0; t < n; ++t) lists[t] = table[t][a[t]];
    }
    return odometer(s, lists, a);
}

std::vector<RawOutcome> run_on_substrate(const io::ReactionTemplates& r, const std::vector<ReactionInput>& in,
                                         std::uint64_t max, bool mapping) {
    if (in.empty() || r.reactants.empty() || r.products.empty()) return {};
    const match::JoinedInputs joined = match::join_inputs(in);
    const match::QueryProps props = match::compute_query_props(joined.mol);
    Lists lists;
    for (const io::Query& q : r.reactants) {
        lists.push_back(match::find_matches(q, joined.mol, props, ALL));
        if (lists.back().empty()) return {};
    }
    Setup s{r, {&joined.mol}, {core::connected_components(joined.mol)}, max, mapping};
    auto out = odometer(s, lists, std::vector<std::uint64_t>(lists.size(), 0), joined.mol.num_atoms());
    for (RawOutcome& o : out) {
        std::vector<std::vector<std::uint32_t>> split(in.size());
        std::uint32_t offset = 0;
        std::size_t i = 0;
        for (std::uint32_t a : o.discarded[0]) {
            while (a - offset >= joined.atom_counts[i]) offset += joined.atom_counts[i++];
            split[i].push_back(a - offset);
        }
        o.discarded = std::move(split);
    }
    return out;
}

}  // namespace exhaustive

void expect_same(const std::vector<RawOutcome>& got, const std::vector<RawOutcome>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_TRUE(got[k].products == want[k].products) << what << " outcome " << k;
        EXPECT_TRUE(got[k].reactants == want[k].reactants) << what << " outcome " << k;
        EXPECT_EQ(got[k].discarded, want[k].discarded) << what << " outcome " << k;
    }
}

const char* const TEMPLATES[] = {"[C:1]",     "[C:2][O:3]", "[O:4]",      "[N:5]",   "[C:6]=[C:7]",
                                 "[c:8]",     "[C:9]C",     "[#6:10]~[#7,#8:11]", "[C:12]C[C:13]"};
const char* const MOLECULES[] = {"C",   "CO",  "N",        "CC=C", "c1ccccc1", "OCCN", "CCO",
                                 "O",   "C=CC=C", "NC(C)C", "CC(C)(C)C", "OC(=O)CN"};

// k different templates (a map number may appear once on the reactant side).
std::string random_reaction(std::mt19937& rng, std::size_t k) {
    std::vector<const char*> pool(std::begin(TEMPLATES), std::end(TEMPLATES));
    std::shuffle(pool.begin(), pool.end(), rng);
    std::string text;
    for (std::size_t t = 0; t < k; ++t) text += (t ? "." : "") + std::string(pool[t]);
    const char* const products[] = {">>[C:1]", ">>[C:1][N:5]", ">>[C:2][O:4]", ">>[O:3].[C:6]", ">>[C:9]=[C:12]"};
    return text + products[rng() % std::size(products)];
}

std::vector<std::string> random_molecules(std::mt19937& rng, std::size_t k) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < k; ++i) out.push_back(MOLECULES[rng() % std::size(MOLECULES)]);
    return out;
}

TEST(BoundedSearch, RunGivesTheExhaustiveOutcomesInOrder) {
    std::mt19937 rng(11);
    std::size_t reassigned = 0, some = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        const std::size_t k = 1 + trial % 4;
        const auto r = reaction_of(random_reaction(rng, k));
        const auto mols = random_molecules(rng, k);
        const Inputs in = inputs_of(mols);
        const std::uint64_t max = std::array<std::uint64_t, 4>{0, 1, 2, 5}[rng() % 4];
        const bool mapping = rng() % 2;
        const auto want = exhaustive::run(r, in.list, max, mapping);
        const auto got = match::run(r, in.list, max, mapping);
        expect_same(got, want, "trial " + std::to_string(trial));
        some += !want.empty();
        for (std::size_t t = 0; t < k && !want.empty(); ++t)
            if (match::find_matches(r.reactants[t], *in.list[t].mol, in.list[t].props, exhaustive::ALL).empty()) {
                ++reassigned;
                break;
            }
    }
    // The assignment search ran, and results were found, in many trials.
    EXPECT_GT(reassigned, 80u);
    EXPECT_GT(some, 250u);
}

TEST(BoundedSearch, SubstrateGivesTheExhaustiveOutcomesInOrder) {
    std::mt19937 rng(5);
    std::size_t some = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        const auto r = reaction_of(random_reaction(rng, 1 + trial % 5));
        const Inputs in = inputs_of(random_molecules(rng, 1 + rng() % 3));
        const std::uint64_t max = std::array<std::uint64_t, 4>{0, 1, 3, 7}[rng() % 4];
        const bool mapping = rng() % 2;
        const auto want = exhaustive::run_on_substrate(r, in.list, max, mapping);
        expect_same(match::run_on_substrate(r, in.list, max, mapping), want, "trial " + std::to_string(trial));
        some += !want.empty();
    }
    EXPECT_GT(some, 250u);
}

// ---------------------------------------------------------------------------
// Inputs on which the exhaustive search walks factorially many assignments,
// combinations or matches; each answer is found in a few hundred steps.

std::string numbered(const char* atom, std::uint32_t from, std::uint32_t to, const char* tail = "") {
    std::string out;
    for (std::uint32_t i = from; i <= to; ++i) out += (out.empty() ? "[" : ".[") + std::string(atom) + ":" + std::to_string(i) + "]" + tail;
    return out;
}

std::string carbon_grid_smiles(std::uint32_t side) {
    // Rows of the grid as chains, each atom closing a ring bond to the one below.
    std::string out;
    for (std::uint32_t r = 0; r < side; ++r)
        for (std::uint32_t k = 0; k < side; ++k) {
            out += (k == 0 && r > 0) ? "." : "";
            out += "C";
            const std::uint32_t down = 100 + k, up = 100 + k;
            if (r > 0) out += "%(" + std::to_string(up) + ")";
            if (r + 1 < side) out += "%(" + std::to_string(down) + ")";
        }
    return out;
}

TEST(BoundedSearch, NoAssignmentIsFoundOutWithoutTryingThem) {
    for (std::uint32_t n : {8u, 13u, 50u}) {
        const auto r = reaction_of(numbered("C", 1, n - 2) + "." + numbered("N", n - 1, n) + ">>[C:1]");
        std::vector<std::string> mols(n - 1, "C");
        mols.push_back("N");
        const Inputs in = inputs_of(mols);
        const auto result = match::run_counted(r, in.list, 1, false);
        EXPECT_TRUE(result.outcomes.empty());
        EXPECT_LT(result.steps, 10u * n * n) << n;
        if (n == 8) expect_same(result.outcomes, exhaustive::run(r, in.list, 1, false), "eight");
    }
}

TEST(BoundedSearch, SubstrateStopsAtTheFirstDisjointCombination) {
    const Inputs icosane = inputs_of({std::string(20, 'C')});
    for (std::uint32_t k : {4u, 9u}) {
        const auto r = reaction_of(numbered("C", 1, k) + ">>[C:1]");
        const auto result = match::run_on_substrate_counted(r, icosane.list, 1, false);
        ASSERT_EQ(result.outcomes.size(), 1u);
        // Template k-1, the slowest, on atom 0, and so on down to template 0.
        std::vector<std::uint32_t> first(k - 1);
        for (std::uint32_t i = 0; i + 1 < k; ++i) first[i] = i;
        EXPECT_EQ(result.outcomes[0].discarded[0], first);
        EXPECT_LT(result.steps, 400u) << k;
        if (k == 4) expect_same(result.outcomes, exhaustive::run_on_substrate(r, icosane.list, 1, false), "four");
    }
    const Inputs neopentane = inputs_of({"CC(C)(C)C"});
    const auto six = reaction_of(numbered("C", 1, 6, "(C)(C)(C)C") + ">>[C:1]");
    const auto none = match::run_on_substrate_counted(six, neopentane.list, 1, false);
    EXPECT_TRUE(none.outcomes.empty());
    EXPECT_LT(none.steps, 400u);
}

TEST(BoundedSearch, OneProductCostsOneMatch) {
    const Inputs grid = inputs_of({carbon_grid_smiles(12)});
    ASSERT_EQ(grid.list[0].mol->num_bonds(), 2u * 12 * 11);
    for (std::uint32_t len : {15u, 16u}) {
        const auto r = reaction_of("[C:1]" + std::string(len - 1, 'C') + ">>[C:1]");
        const auto result = match::run_counted(r, grid.list, 1, false);
        EXPECT_EQ(result.outcomes.size(), 1u);
        EXPECT_LT(result.steps, 100u * len) << len;
    }
}

}  // namespace
}  // namespace quorix::test
