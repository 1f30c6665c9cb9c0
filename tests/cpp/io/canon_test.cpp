#include "io/canon.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "core/error.hpp"
#include "core/permutation.hpp"
#include "support.hpp"

using namespace quorix::core;
using namespace quorix::io;

namespace {

// Small molecules built atom by atom, so the tests control neighbour order.
struct Sketch {
    MolBuilder mol;

    std::uint32_t atom(std::uint8_t z, std::uint8_t hs = 0) {
        Atom a;
        a.atomic_num = z;
        a.num_explicit_hs = hs;
        return mol.add_atom(a);
    }
    std::uint32_t bond(std::uint32_t a, std::uint32_t b, BondOrder order = BondOrder::Single) {
        Bond bd;
        bd.begin = a;
        bd.end = b;
        bd.order = order;
        return *mol.add_bond(bd);
    }
};

// Atoms as (element, hydrogens), single bonds as index pairs.
MolBuilder sketch(std::vector<std::pair<std::uint8_t, std::uint8_t>> atoms,
                  std::vector<std::pair<std::uint32_t, std::uint32_t>> bonds) {
    Sketch s;
    for (auto [z, hs] : atoms) s.atom(z, hs);
    for (auto [a, b] : bonds) s.bond(a, b);
    return s.mol;
}

MolBuilder neopentane() { return sketch({{6, 3}, {6, 0}, {6, 3}, {6, 3}, {6, 3}}, {{0, 1}, {1, 2}, {1, 3}, {1, 4}}); }

// F-C=C-F with the given directions on the two single bonds.
MolBuilder difluoroethene(BondDirection first, BondDirection second) {
    MolBuilder m = sketch({{9, 0}, {6, 1}, {6, 1}, {9, 0}}, {{0, 1}, {1, 2}, {2, 3}});
    m.bonds[1].order = BondOrder::Double;
    m.bonds[0].direction = first;
    m.bonds[2].direction = second;
    return m;
}

// A bromochlorofluoromethane centre: F, Cl, Br bonded in the given order.
void add_halomethane(Sketch& s, std::vector<std::uint8_t> order, ChiralTag tag) {
    std::uint32_t c = s.atom(6, 1);
    s.mol.atoms[c].chiral_tag = tag;
    for (std::uint8_t z : order) s.bond(c, s.atom(z));
}

bool all_distinct(std::vector<std::uint32_t> v) {
    std::sort(v.begin(), v.end());
    return std::adjacent_find(v.begin(), v.end()) == v.end();
}

}  // namespace

// ---------------------------------------------------------------- classes of symmetric molecules

struct ClassCase {
    const char* name;
    MolBuilder (*build)();
    std::vector<std::uint32_t> classes;
};

class SymmetryClassTable : public ::testing::TestWithParam<ClassCase> {};

TEST_P(SymmetryClassTable, MatchesHandCount) {
    EXPECT_EQ(symmetry_classes(GetParam().build()), GetParam().classes);
}

INSTANTIATE_TEST_SUITE_P(
    Molecules, SymmetryClassTable,
    ::testing::Values(
        // Four methyls (degree 1) sort before the quaternary carbon.
        ClassCase{"neopentane", neopentane, {0, 4, 0, 0, 0}},
        // Carbons before fluorines; the two ends tie, directions play no part.
        ClassCase{"difluoroethene_cis",
                  [] { return difluoroethene(BondDirection::Slash, BondDirection::Backslash); }, {2, 0, 0, 2}},
        ClassCase{"isobutanol_chain",  // C-C(-C)-C-O
                  [] { return sketch({{6, 3}, {6, 1}, {6, 3}, {6, 2}, {8, 1}}, {{0, 1}, {1, 2}, {1, 3}, {3, 4}}); },
                  {0, 3, 0, 2, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- initial invariants

TEST(CanonInvariant, MapNumbersAndRingFlagsDoNotSplit) {
    MolBuilder m = sketch({{6, 0}, {6, 0}, {6, 0}}, {});
    m.atoms[0].map_num = 1;
    m.atoms[1].map_num = 7;
    m.atoms[2].flags |= IN_RING;
    EXPECT_EQ(symmetry_classes(m), (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST(CanonInvariant, HydrogenCountCapsAndBondWeights) {
    Sketch s;
    for (std::uint8_t z : {6, 6, 7}) s.atom(z);
    s.bond(0, 1, BondOrder::Aromatic);
    s.bond(0, 2, BondOrder::Dative);
    s.bond(1, 2, BondOrder::Quadruple);
    s.mol.atoms[0].num_explicit_hs = 200;
    s.mol.atoms[0].num_implicit_hs = 200;
    CanonInvariant inv = canon_invariant(s.mol, 0);
    EXPECT_EQ(inv.total_hs, 255);
    EXPECT_EQ(inv.bond_order_sum, 3u + 2u);
    EXPECT_EQ(inv.degree, 2);
    // The dative bond weighs 2 at its acceptor as well.
    EXPECT_EQ(canon_invariant(s.mol, 2).bond_order_sum, 2u + 8u);
}

// ---------------------------------------------------------------- @/@@ parity keys

TEST(ChiralityKeys, ClearedMarksCountForNothingInAReusedWorkspace) {
    // The canonical search clears unconfirmed marks on a copy and refines it with
    // scratch space prepared on the original: a cleared atom must key 0 however
    // its neighbours are listed.
    struct Case {
        std::vector<std::uint8_t> first, second;
        ChiralTag tag_first, tag_second;
    };
    for (const Case& c : {Case{{9, 17, 35}, {17, 9, 35}, ChiralTag::Cw, ChiralTag::Cw},
                          Case{{9, 17, 35}, {9, 17, 35}, ChiralTag::Cw, ChiralTag::Ccw},
                          Case{{35, 9, 17}, {9, 35, 17}, ChiralTag::Ccw, ChiralTag::Ccw}}) {
        Sketch s;
        add_halomethane(s, c.first, c.tag_first);
        add_halomethane(s, c.second, c.tag_second);
        RefineWorkspace w;
        w.prepare(s.mol);
        MolBuilder cleared = s.mol;
        for (Atom& a : cleared.atoms) a.chiral_tag = ChiralTag::Unspecified;
        Partition p = initial_partition(cleared);
        refine_partition(p, cleared, w);
        std::vector<std::uint32_t> classes(cleared.num_atoms());
        for (std::uint32_t a = 0; a < cleared.num_atoms(); ++a) classes[a] = p.cell_start[p.cell_of[a]];
        EXPECT_EQ(classes, symmetry_classes(cleared));
        EXPECT_EQ(classes[0], classes[4]);
    }
}

TEST(ChiralityKeys, MarkedCentreSplitsFromUnmarkedButPolyhedralDoesNot) {
    Sketch s;
    add_halomethane(s, {9, 17, 35}, ChiralTag::SquarePlanar);
    add_halomethane(s, {9, 17, 35}, ChiralTag::Unspecified);
    add_halomethane(s, {9, 17, 35}, ChiralTag::Ccw);
    auto classes = symmetry_classes(s.mol);
    EXPECT_EQ(classes[0], classes[4]);
    EXPECT_NE(classes[0], classes[8]);
    EXPECT_EQ(classes[8], 2u);  // byte 2 sorts after the two zeros
}

// ---------------------------------------------------------------- real molecules

namespace {

bool has_tetrahedral_marks(const MolBuilder& m) {
    return std::any_of(m.atoms.begin(), m.atoms.end(), [](const Atom& a) {
        return a.chiral_tag == ChiralTag::Cw || a.chiral_tag == ChiralTag::Ccw;
    });
}

}  // namespace

// Classes follow the atoms under renumbering and ignore bond order and ends;
// the refined partition is a fixed point; the tie-break only refines it.
TEST(CanonRealMolecules, ClassesAndNumbering) {
    const auto& mols = quorix::test::data_molecules_as_read();
    ASSERT_EQ(mols.size(), 7000u);
    std::mt19937 rng(20261206);
    std::size_t tied = 0, shuffled = 0;
    for (std::size_t i = 0; i < mols.size() && !HasFailure(); ++i) {
        const MolBuilder& m = mols[i];
        const auto classes = symmetry_classes(m);
        std::vector<std::uint32_t> perm(m.num_atoms());
        std::iota(perm.begin(), perm.end(), 0u);
        std::shuffle(perm.begin(), perm.end(), rng);
        const auto moved = symmetry_classes(quorix::test::scrambled(m, perm));
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) ASSERT_EQ(moved[perm[a]], classes[a]) << "molecule " << i;
        if (!has_tetrahedral_marks(m)) {
            ++shuffled;
            ASSERT_EQ(symmetry_classes(quorix::test::scrambled(m, quorix::test::identity(m.num_atoms()), &rng)), classes)
                << "molecule " << i;
        }
        RefineWorkspace w;
        w.prepare(m);
        Partition p = initial_partition(m);
        refine_partition(p, m, w);
        ASSERT_TRUE(p.queue_empty());
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) ASSERT_EQ(p.cell_start[p.cell_of[a]], classes[a]);
        Partition again = p;
        for (std::uint32_t c = 0; c < again.num_cells(); ++c) again.enqueue(c);
        refine_partition(again, m, w);
        ASSERT_EQ(again.order, p.order);
        ASSERT_EQ(again.cell_start, p.cell_start);
        if (!p.is_discrete()) ++tied;
        auto numbers = canonical_numbering(m);
        ASSERT_TRUE(all_distinct(numbers));
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
            ASSERT_GE(numbers[a], classes[a]);
            ASSERT_LT(numbers[a], p.cell_end[p.cell_of[a]]);
        }
    }
    EXPECT_GT(shuffled, 2000u);
    EXPECT_GT(tied, 1000u);  // most real molecules have symmetric atoms
}

// ---------------------------------------------------------------- against a literal model

namespace {

// A second, deliberately plain partition: the splitter queue is an ordered set
// of (start, cell) pairs and every rule is followed step by step, with no
// shortcut. Refinement must agree with it position for position, cell number
// for cell number, including which cells wait.
struct ModelPartition {
    std::vector<std::uint32_t> order, position, cell_of, cell_start, cell_end;
    std::set<std::pair<std::uint32_t, std::uint32_t>> queue;
};

using ModelKeys = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;

void model_swap(ModelPartition& p, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t px = p.position[x], py = p.position[y];
    p.order[px] = y;
    p.order[py] = x;
    p.position[x] = py;
    p.position[y] = px;
}

ModelPartition model_initial(const MolBuilder& m) {
    const std::uint32_t n = m.num_atoms();
    using Inv = std::tuple<int, int, std::uint32_t, int, int, int, int>;
    std::vector<Inv> inv(n);
    for (std::uint32_t a = 0; a < n; ++a) {
        const Atom& at = m.atoms[a];
        std::uint32_t sum = 0;
        for (Neighbor nb : m.neighbors(a)) {
            static const std::uint32_t weight[] = {0, 2, 4, 6, 8, 3, 2};
            sum += weight[static_cast<int>(m.bonds[nb.bond].order)];
        }
        inv[a] = Inv{at.atomic_num, static_cast<int>(m.degree[a] & 0xFF), sum, at.formal_charge,
                     static_cast<int>(std::min(at.total_hs(), 255u)), at.isotope, (at.flags & AROMATIC) ? 1 : 0};
    }
    ModelPartition p;
    p.order.resize(n);
    std::iota(p.order.begin(), p.order.end(), 0u);
    std::stable_sort(p.order.begin(), p.order.end(), [&](std::uint32_t x, std::uint32_t y) { return inv[x] < inv[y]; });
    p.position.resize(n);
    p.cell_of.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) p.position[p.order[i]] = i;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (i == 0 || inv[p.order[i]] != inv[p.order[i - 1]]) {
            p.queue.insert({i, static_cast<std::uint32_t>(p.cell_start.size())});
            p.cell_start.push_back(i);
            p.cell_end.push_back(i);
        }
        p.cell_of[p.order[i]] = static_cast<std::uint32_t>(p.cell_start.size() - 1);
        p.cell_end.back() = i + 1;
    }
    return p;
}

void model_split(ModelPartition& p, std::uint32_t c, ModelKeys keyed) {
    const std::uint32_t s = p.cell_start[c], e = p.cell_end[c];
    const std::size_t k = keyed.size();
    bool all_equal = true;
    for (const auto& kv : keyed) all_equal = all_equal && kv.second == keyed[0].second;
    if (k == e - s && all_equal) return;
    std::sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) {
        return x.second != y.second ? x.second < y.second : x.first < y.first;
    });
    for (std::size_t i = 0; i < k; ++i) model_swap(p, keyed[i].first, p.order[e - 1 - i]);
    for (std::size_t i = 0; i < k; ++i) {
        p.order[e - k + i] = keyed[i].first;
        p.position[keyed[i].first] = static_cast<std::uint32_t>(e - k + i);
    }
    const bool was_queued = p.queue.erase({s, c}) > 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;  // [start, end)
    if (e - k > s) blocks.push_back({s, static_cast<std::uint32_t>(e - k)});
    for (std::size_t i = 0; i < k;) {
        std::size_t j = i;
        while (j < k && keyed[j].second == keyed[i].second) ++j;
        blocks.push_back({static_cast<std::uint32_t>(e - k + i), static_cast<std::uint32_t>(e - k + j)});
        i = j;
    }
    std::vector<std::uint32_t> numbers;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        std::uint32_t number = c;
        if (b == 0) {
            p.cell_end[c] = blocks[b].second;
        } else {
            number = static_cast<std::uint32_t>(p.cell_start.size());
            p.cell_start.push_back(blocks[b].first);
            p.cell_end.push_back(blocks[b].second);
        }
        for (std::uint32_t q = blocks[b].first; q < blocks[b].second; ++q) p.cell_of[p.order[q]] = number;
        numbers.push_back(number);
    }
    std::size_t largest = 0;
    for (std::size_t b = 1; b < blocks.size(); ++b)
        if (blocks[b].second - blocks[b].first >= blocks[largest].second - blocks[largest].first) largest = b;
    for (std::size_t b = 0; b < blocks.size(); ++b)
        if (b != largest || was_queued) p.queue.insert({blocks[b].first, numbers[b]});
}

void model_refine(ModelPartition& p, const MolBuilder& m) {
    const std::uint32_t n = m.num_atoms();
    for (;;) {
        while (!p.queue.empty()) {
            const std::uint32_t x = p.queue.begin()->second;
            p.queue.erase(p.queue.begin());
            std::vector<std::uint32_t> touched;
            std::vector<std::vector<std::uint8_t>> key(n);
            std::vector<bool> has(n, false);
            for (std::uint32_t q = p.cell_start[x]; q < p.cell_end[x]; ++q)
                for (Neighbor nb : m.neighbors(p.order[q])) {
                    if (!has[nb.atom]) touched.push_back(nb.atom);
                    has[nb.atom] = true;
                    key[nb.atom].push_back(static_cast<std::uint8_t>(m.bonds[nb.bond].order));
                }
            std::vector<std::uint32_t> group_cells;
            std::vector<ModelKeys> groups;
            for (std::uint32_t u : touched) {
                std::sort(key[u].begin(), key[u].end());
                const std::uint32_t c = p.cell_of[u];
                auto it = std::find(group_cells.begin(), group_cells.end(), c);
                if (it == group_cells.end()) {
                    group_cells.push_back(c);
                    groups.emplace_back();
                    it = group_cells.end() - 1;
                }
                groups[it - group_cells.begin()].push_back({u, key[u]});
            }
            for (std::size_t g = 0; g < groups.size(); ++g) model_split(p, group_cells[g], groups[g]);
        }
        std::vector<std::uint32_t> cls(n);
        for (std::uint32_t a = 0; a < n; ++a) cls[a] = p.cell_start[p.cell_of[a]];
        const std::size_t before = p.cell_start.size();
        for (std::uint32_t c = 0; c < before; ++c) {
            if (p.cell_end[c] - p.cell_start[c] < 2) continue;
            ModelKeys keyed;
            for (std::uint32_t q = p.cell_start[c]; q < p.cell_end[c]; ++q) {
                const std::uint32_t a = p.order[q];
                const auto tag = static_cast<std::uint8_t>(m.atoms[a].chiral_tag);
                std::uint8_t byte = 0;
                if (tag == 1 || tag == 2) {
                    std::vector<std::uint32_t> listed, sorted;
                    for (Neighbor nb : m.neighbors(a)) listed.push_back(nb.bond);
                    sorted = listed;
                    auto far = [&](std::uint32_t b) { return cls[m.bonds[b].other(a)]; };
                    std::stable_sort(sorted.begin(), sorted.end(),
                                     [&](std::uint32_t x, std::uint32_t y) { return far(x) < far(y); });
                    bool tie = false;
                    for (std::size_t i = 1; i < sorted.size(); ++i) tie = tie || far(sorted[i]) == far(sorted[i - 1]);
                    if (!tie) byte = permutation_parity(listed, sorted) == 1 ? static_cast<std::uint8_t>(3 - tag) : tag;
                }
                keyed.push_back({a, {byte}});
            }
            model_split(p, c, keyed);
        }
        if (p.cell_start.size() == before) return;
    }
}

void model_individualise(ModelPartition& p, std::uint32_t atom, std::uint32_t c) {
    const std::uint32_t s = p.cell_start[c];
    model_swap(p, atom, p.order[s]);
    const auto fresh = static_cast<std::uint32_t>(p.cell_start.size());
    p.cell_start.push_back(s);
    p.cell_end.push_back(s + 1);
    p.cell_of[atom] = fresh;
    p.cell_start[c] = s + 1;
    p.queue.insert({s, fresh});
    p.queue.insert({s + 1, c});
}

std::optional<std::uint32_t> model_next_tied(const ModelPartition& p) {
    std::optional<std::uint32_t> best;
    for (std::uint32_t c = 0; c < p.cell_start.size(); ++c)
        if (p.cell_end[c] - p.cell_start[c] >= 2 && (!best || p.cell_start[c] < p.cell_start[*best])) best = c;
    return best;
}

// Empty string when the two agree, else what differs first.
std::string differs(const Partition& p, const ModelPartition& q) {
    if (p.order != q.order) return "order";
    if (p.position != q.position) return "position";
    if (p.cell_of != q.cell_of) return "cell_of";
    if (p.cell_start != q.cell_start) return "cell_start";
    if (p.cell_end != q.cell_end) return "cell_end";
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> model_queue(q.queue.begin(), q.queue.end());
    if (p.queue_contents() != model_queue) return "queue";
    return {};
}

// Every refinement the canonical search makes on one molecule: the refined
// partition, each candidate of the first tied cell individualised and refined,
// and the greedy completion, each compared with the model.
std::string compare_with_model(const MolBuilder& m) {
    Partition p = initial_partition(m);
    ModelPartition q = model_initial(m);
    if (auto d = differs(p, q); !d.empty()) return "initial " + d;
    RefineWorkspace w;
    refine_partition(p, m, w);
    model_refine(q, m);
    if (auto d = differs(p, q); !d.empty()) return "refined " + d;
    if (auto tied = next_tied_cell(p)) {
        if (tied != model_next_tied(q)) return "first tied cell";
        for (std::uint32_t pos = p.cell_start[*tied]; pos < p.cell_end[*tied]; ++pos) {
            Partition pc = p;
            ModelPartition qc = q;
            individualise(pc, pc.order[pos], *tied);
            model_individualise(qc, qc.order[pos], *tied);
            if (auto d = differs(pc, qc); !d.empty()) return "individualised " + d;
            refine_partition(pc, m, w);
            model_refine(qc, m);
            if (auto d = differs(pc, qc); !d.empty()) return "candidate " + std::to_string(pos) + " " + d;
        }
    }
    while (auto c = next_tied_cell(p)) {
        if (c != model_next_tied(q)) return "tied cell";
        individualise(p, p.order[p.cell_start[*c]], *c);
        model_individualise(q, q.order[q.cell_start[*c]], *c);
        refine_partition(p, m, w);
        model_refine(q, m);
        if (auto d = differs(p, q); !d.empty()) return "tie-break " + d;
    }
    if (model_next_tied(q)) return "model still tied";
    if (canonical_numbering(m) != q.position) return "canonical numbering";
    return {};
}

}  // namespace

TEST(CanonModel, RealMoleculesRefineExactlyAsTheRulesSay) {
    std::size_t failures = 0;
    const auto& mols = quorix::test::data_molecules_as_read();
    for (std::size_t i = 0; i < mols.size() && failures < 5; ++i) {
        if (auto d = compare_with_model(mols[i]); !d.empty()) {
            ADD_FAILURE() << "molecule " << i << ": " << d;
            ++failures;
        }
    }
}

TEST(CanonModel, RandomTetrahedralMarksRefineExactlyAsTheRulesSay) {
    // Marks on every branching atom, so the parity phase splits often and
    // phase 1 has to run again after it.
    std::mt19937 rng(4242);
    std::size_t failures = 0, split_by_parity = 0;
    const auto& mols = quorix::test::data_molecules_as_read();
    for (std::size_t i = 0; i < mols.size() && failures < 5; i += 3) {
        MolBuilder m = mols[i];
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a)
            m.atoms[a].chiral_tag = m.degree[a] >= 3 ? (rng() & 1u ? ChiralTag::Cw : ChiralTag::Ccw)
                                                       : ChiralTag::Unspecified;
        if (symmetry_classes(m) != symmetry_classes(mols[i])) ++split_by_parity;
        if (auto d = compare_with_model(m); !d.empty()) {
            ADD_FAILURE() << "molecule " << i << ": " << d;
            ++failures;
        }
    }
    EXPECT_GT(split_by_parity, 50u);
}

TEST(CanonModel, RandomSplitsKeepTheQueueOfThePairs) {
    // Random keyed subsets (prefix keys included) on random partitions, with
    // the queue drained pair by pair before each individualise.
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const std::uint32_t n = 2 + rng() % 70;
        Sketch s;
        for (std::uint32_t i = 0; i < n; ++i) s.atom(rng() % 3 == 0 ? 7 : 6);
        Partition p = initial_partition(s.mol);
        ModelPartition q = model_initial(s.mol);
        const char* alphabet[] = {"", "a", "aa", "ab", "b"};
        for (int step = 0; step < 40; ++step) {
            const auto c = static_cast<std::uint32_t>(rng() % p.num_cells());
            if (step % 7 == 6 && p.cell_size(c) >= 2) {
                while (!q.queue.empty()) {
                    ASSERT_EQ(p.pop_queue(), q.queue.begin()->second);
                    q.queue.erase(q.queue.begin());
                }
                ASSERT_TRUE(p.queue_empty());
                const std::uint32_t atom = p.order[p.cell_start[c] + rng() % p.cell_size(c)];
                individualise(p, atom, c);
                model_individualise(q, atom, c);
            } else {
                std::vector<std::vector<std::uint8_t>> keys;
                ModelKeys model_keyed;
                for (std::uint32_t pos = p.cell_start[c]; pos < p.cell_end[c]; ++pos) {
                    if (rng() % 3 == 0) continue;
                    const std::string_view k = alphabet[rng() % 5];
                    keys.emplace_back(k.begin(), k.end());
                    model_keyed.push_back({p.order[pos], keys.back()});
                }
                std::vector<KeyedAtom> keyed;
                for (std::size_t i = 0; i < keys.size(); ++i) keyed.push_back({model_keyed[i].first, keys[i]});
                split_cell(p, c, keyed);
                model_split(q, c, model_keyed);
            }
            ASSERT_EQ(differs(p, q), "") << "round " << round << " step " << step;
        }
    }
}

TEST(CanonModel, LongMixedKeysSortLikeShortOnes) {
    // Two equal hubs, each with `leaves` carbons bonded alternately by single
    // and double bonds (each leaf makes up the other order to an oxygen), so the
    // hubs tie and a hub's key into the leaf cell is long and arrives unsorted.
    for (std::uint32_t leaves : {3u, 20u, 21u, 64u, 121u}) {
        Sketch s;
        for (int hub = 0; hub < 2; ++hub) {
            const std::uint32_t h = s.atom(6);
            for (std::uint32_t i = 0; i < leaves; ++i) {
                const std::uint32_t j = hub == 0 ? i : leaves - 1 - i;  // same multiset, other order
                const bool dbl = (j * 7) % 3 == 0;
                const std::uint32_t leaf = s.atom(6);
                s.bond(h, leaf, dbl ? BondOrder::Double : BondOrder::Single);
                s.bond(leaf, s.atom(8), dbl ? BondOrder::Single : BondOrder::Double);
            }
        }
        EXPECT_EQ(compare_with_model(s.mol), "") << leaves << " leaves";
    }
}

namespace {

std::string branches(const char* atom, const char* branch, int count) {
    std::string s = atom;
    for (int i = 0; i < count; ++i) s += branch;
    return s;
}

// Invariants on both sides of the widths a compact sort key holds: isotopes and
// bond order sums around one byte, atom counts around 2^15.
std::vector<std::string> wide_invariant_cases() {
    std::string chain(32760, 'C');
    chain[5] = chain[20000] = 'N';
    return {"[254C][255C]C[255C][2H]O",
            "[255C][256C]C[256C][2H]O[300U]",
            "[CH](C)(C)C.[256C](C)(C)C",
            branches("[Xe]", "(C)", 127) + "." + branches("[Xe]", "(C)", 127),
            branches("[Xe]", "(C)", 128) + "." + branches("[Xe]", "(C)", 127) + ".CC",
            branches("[Xe]", "(#C)", 43) + "." + branches("[Xe]", "(=C)", 64),
            chain + "CCCCCCCC",
            chain + "CCCCCCCCC",
            chain + "CCCCCCCCCCCC[13CH3]"};
}

}  // namespace

TEST(CanonModel, InitialCellsHoldForInvariantsOfAnyWidth) {
    for (const std::string& smiles : wide_invariant_cases()) {
        const MolBuilder m = quorix::test::read_or_fail(smiles);
        const std::string name = smiles.size() > 60 ? smiles.substr(smiles.size() - 30) : smiles;
        const std::string d = differs(initial_partition(m), model_initial(m));
        EXPECT_EQ(d, "") << name << " (" << m.num_atoms() << " atoms)";
        if (m.num_atoms() < 1000) {
            EXPECT_EQ(compare_with_model(m), "") << name;
        }
    }
}

// A trial split taken back leaves the refined partition as it was: every cell with
// its number, atoms and quiet mark, and the @/@@ bookkeeping, so that the next
// split refines to the same cells as it would have.
TEST(CanonModel, TrialSplitsTakenBackLeaveThePartitionAsItWas) {
    const auto& molecules = quorix::test::data_molecules_as_read();
    std::size_t trials = 0;
    auto cells = [](const Partition& p) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (std::uint32_t pos = 0; pos < p.num_atoms(); pos = p.cell_end[p.cell_of[p.order[pos]]])
            out.emplace_back(pos, p.cell_size(p.cell_of[p.order[pos]]));
        return out;
    };
    for (std::size_t k = 0; k < molecules.size(); k += 7) {
        const MolBuilder& m = molecules[k];
        Partition p;
        RefineWorkspace work;
        refined_partition(m, p, work);
        std::uint32_t from = 0;
        for (int tied = 0; tied < 3; ++tied) {
            const auto cell = next_tied_cell(p, from);
            if (!cell) break;
            from = p.cell_end[*cell];
            for (std::uint32_t i = 0; i < std::min<std::uint32_t>(p.cell_size(*cell), 2); ++i) {
                const Partition before = p;
                const std::uint32_t atom = p.order[p.cell_start[*cell] + i];
                begin_trial(p);
                individualise(p, atom, *cell);
                refine_partition(p, m, work);
                const auto split = cells(p);
                take_back_trial(p);
                ++trials;
                ASSERT_EQ(p.cell_of, before.cell_of) << k;
                ASSERT_EQ(p.cell_start, before.cell_start) << k;
                ASSERT_EQ(p.cell_end, before.cell_end) << k;
                ASSERT_EQ(p.quiet, before.quiet) << k;
                ASSERT_EQ(p.chiral_waiting, before.chiral_waiting) << k;
                ASSERT_EQ(p.chiral_waiting_count, before.chiral_waiting_count) << k;
                ASSERT_EQ(p.chiral_byte, before.chiral_byte) << k;
                ASSERT_TRUE(p.queue_empty());
                for (std::uint32_t a = 0; a < m.num_atoms(); ++a) ASSERT_EQ(p.order[p.position[a]], a);
                // The same split again, on the partition and on its copy.
                Partition again = before;
                individualise(again, atom, *cell);
                refine_partition(again, m, work);
                begin_trial(p);
                individualise(p, atom, *cell);
                refine_partition(p, m, work);
                ASSERT_EQ(cells(p), cells(again)) << k;
                ASSERT_EQ(cells(p), split) << k;
                take_back_trial(p);
            }
        }
    }
    EXPECT_GT(trials, 1000u);
}
