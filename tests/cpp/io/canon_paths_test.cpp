// The fast paths of refinement and writing against their general forms: packed
// keys against byte keys, keys too long to pack, a writer reused across orders and
// nested, and the automorphism check that spares writing equal leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "core/builder.hpp"
#include "io/canon.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/smiles/write.hpp"
#include "smiles_roundtrip.hpp"
#include "support.hpp"

using namespace quorix;
using core::MolBuilder;
using core::NONE;

namespace {

MolBuilder read(const std::string& smiles) { return test::read_or_fail(smiles); }

core::Bond bond(std::uint32_t a, std::uint32_t b, core::BondOrder order = core::BondOrder::Single) {
    core::Bond out;
    out.begin = a, out.end = b, out.order = order;
    return out;
}

std::uint32_t atom(MolBuilder& mol, std::uint8_t z) {
    core::Atom a;
    a.atomic_num = z;
    return mol.add_atom(a);
}

// Two hubs of equal invariants, each with `spokes` bonds into one cell of
// two-bonded carbons. With `differ`, the second hub takes one spoke as a double
// bond and one as a bond of unspecified order (same order sum), each carbon
// balancing it on its far bond, so the hubs' keys into that cell differ while
// their invariants do not.
MolBuilder hubs(std::uint32_t spokes, bool differ) {
    using core::BondOrder;
    MolBuilder mol;
    const std::uint32_t h1 = atom(mol, 14), h2 = atom(mol, 14);
    for (std::uint32_t hub : {h1, h2}) {
        for (std::uint32_t k = 0; k < spokes; ++k) {
            const std::uint32_t x = atom(mol, 6), tail = atom(mol, 8);
            BondOrder near = BondOrder::Single, far = BondOrder::Double;
            if (differ && hub == h2 && k == 0) near = BondOrder::Double, far = BondOrder::Single;
            if (differ && hub == h2 && k == 1) near = BondOrder::Unspecified, far = BondOrder::Triple;
            mol.add_bond(bond(hub, x, near));
            mol.add_bond(bond(x, tail, far));
        }
    }
    return mol;
}

// ---------------------------------------------------------------- split_cell

TEST(CanonPaths, PackedKeysSplitExactlyAsTheirBytes) {
    std::mt19937 rng(1);
    for (int round = 0; round < 800; ++round) {
        const std::uint32_t n = 1 + rng() % 40;
        MolBuilder mol;
        for (std::uint32_t i = 0; i < n; ++i) atom(mol, 6);
        io::Partition a = io::initial_partition(mol);
        // Start from a partly split cell so that `was_queued` and the largest
        // block both vary.
        if (rng() % 2) a.pop_queue();
        io::Partition b = a;
        const std::uint32_t k = rng() % (n + 1);
        std::vector<std::uint32_t> chosen(n);
        for (std::uint32_t i = 0; i < n; ++i) chosen[i] = i;
        std::shuffle(chosen.begin(), chosen.end(), rng);
        std::vector<std::vector<std::uint8_t>> keys(k);
        std::vector<io::KeyedAtom> keyed;
        std::vector<io::CodedAtom> coded;
        for (std::uint32_t i = 0; i < k; ++i) {
            // Few distinct bytes and lengths, so that equal keys and proper prefixes occur.
            keys[i].resize(rng() % 9);
            for (auto& byte : keys[i]) byte = static_cast<std::uint8_t>(rng() % 3);
            keyed.push_back({chosen[i], keys[i]});
            coded.push_back({io::code_key(keys[i]), chosen[i]});
        }
        io::split_cell(a, 0, std::span<io::KeyedAtom>(keyed));
        io::split_cell_coded(b, 0, std::span<io::CodedAtom>(coded));
        ASSERT_EQ(a.order, b.order);
        ASSERT_EQ(a.position, b.position);
        ASSERT_EQ(a.cell_of, b.cell_of);
        ASSERT_EQ(a.cell_start, b.cell_start);
        ASSERT_EQ(a.cell_end, b.cell_end);
        ASSERT_EQ(a.queue_contents(), b.queue_contents());
    }
}

// ---------------------------------------------------------------- long keys

struct HubCase {
    std::uint32_t spokes;
    bool differ;
};
class LongKeys : public testing::TestWithParam<HubCase> {};

TEST_P(LongKeys, ClassesAndTextIgnoreStorageOrder) {
    const MolBuilder mol = hubs(GetParam().spokes, GetParam().differ);
    const std::vector<std::uint32_t> classes = io::symmetry_classes(mol);
    // Atoms 0 and 1 are the hubs.
    EXPECT_EQ(classes[0] == classes[1], !GetParam().differ);
    const std::string text = io::to_canonical_smiles(mol);
    std::mt19937 rng(7);
    for (int round = 0; round < 6; ++round) {
        std::vector<std::uint32_t> index = test::identity(mol.num_atoms());
        std::shuffle(index.begin(), index.end(), rng);
        const MolBuilder other = test::scrambled(mol, index, &rng);
        const std::vector<std::uint32_t> other_classes = io::symmetry_classes(other);
        for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) ASSERT_EQ(classes[a], other_classes[index[a]]) << a;
        EXPECT_EQ(io::to_canonical_smiles(other), text);
    }
}

// Refinement and greedy numbering with packed keys against the same with byte keys.
void expect_paths_agree(const MolBuilder& mol, const std::string& what) {
    io::Partition packed = io::initial_partition(mol), bytes = packed;
    io::RefineWorkspace packed_work, bytes_work;
    bytes_work.bytes_only = true;
    packed_work.prepare(mol);
    bytes_work.prepare(mol);
    for (int step = 0; step < 64; ++step) {
        io::refine_partition(packed, mol, packed_work);
        io::refine_partition(bytes, mol, bytes_work);
        ASSERT_EQ(packed.order, bytes.order) << what;
        ASSERT_EQ(packed.cell_of, bytes.cell_of) << what;
        ASSERT_EQ(packed.cell_start, bytes.cell_start) << what;
        ASSERT_EQ(packed.cell_end, bytes.cell_end) << what;
        const auto cell = io::next_tied_cell(packed);
        if (!cell) break;
        const std::uint32_t a = packed.order[packed.cell_start[*cell]];
        io::individualise(packed, a, *cell);
        io::individualise(bytes, a, *cell);
    }
}

TEST_P(LongKeys, PackedAndByteKeysRefineAlike) {
    expect_paths_agree(hubs(GetParam().spokes, GetParam().differ), "hubs");
}

TEST(CanonPaths, PackedAndByteKeysRefineAlikeOnRealMolecules) {
    const std::vector<std::string> inputs = {
        "C[C@H]1CC[C@@H](C)CC1", "c1cc2ccc3ccc4ccc5ccc6ccc1c1c2c3c4c5c61", "OC(=O)[C@@H]=C=C=C[C@H](C)F",
        "[U](C)(C)(C)(C)(C)(C)(C)(C)(C)(C)CC", "[Si](C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)(C)C",
        "C1CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC1"};
    for (const std::string& smiles : inputs) expect_paths_agree(read(smiles), smiles);
}

INSTANTIATE_TEST_SUITE_P(CanonPaths, LongKeys,
                         testing::Values(HubCase{8, true}, HubCase{9, false}, HubCase{9, true}, HubCase{40, true}));

// ---------------------------------------------------------------- writer

TEST(CanonPaths, ReusedAndNestedWritersMatchOneShotWriting) {
    const std::vector<std::string> inputs = {"N[C@@H](C/C=C/C)C(=O)[O-]", "[NH3]->[Pt](<-[NH3])(Cl)Cl"};
    std::mt19937 rng(5);
    for (const std::string& smiles : inputs) {
        const MolBuilder mol = read(smiles);
        const MolBuilder other = read("CC(=O)Oc1ccccc1C(=O)O");
        for (io::SmilesMode mode : {io::SmilesMode::Storage, io::SmilesMode::Canonical}) {
            io::SmilesWriter writer(mol, mode);
            io::SmilesOutput out;
            for (int round = 0; round < 5; ++round) {
                std::vector<std::uint32_t> priorities(mol.num_atoms());
                for (auto& p : priorities) p = rng() % (mol.num_atoms() + 2);
                writer.write(priorities, out);
                EXPECT_EQ(out, io::write_smiles(mol, priorities, mode)) << smiles;
                // A second writer while the first is alive.
                io::SmilesWriter inner(other, mode);
                io::SmilesOutput inner_out;
                inner.write(test::identity(other.num_atoms()), inner_out);
                EXPECT_EQ(inner_out, io::write_smiles(other, test::identity(other.num_atoms()), mode));
            }
        }
    }
}

// Priorities that are a permutation take the bucket fill of the neighbour lists;
// the same order spread out (doubled) takes the sort. Both must write alike,
// including for two bonds between one pair of atoms stored in either order.
TEST(CanonPaths, PermutationAndSpreadPrioritiesWriteAlike) {
    std::vector<MolBuilder> mols;
    for (const char* smiles : {"N[C@@H](C/C=C/C)C(=O)[O-]", "[NH3]->[Pt](<-[NH3])(Cl)Cl", "CC.O.[Na+]"})
        mols.push_back(read(smiles));
    for (bool falling : {false, true}) {
        MolBuilder twice;
        for (int i = 0; i < 4; ++i) atom(twice, 6);
        twice.add_bond(bond(0, 1));
        twice.add_bond(bond(1, 2));
        twice.add_bond(bond(2, 1, core::BondOrder::Double));
        twice.add_bond(bond(2, 3));
        if (falling) {
            // Atom 1 lists its bonds as 0, 2, 1 (half-edges 1, 5, 2).
            twice.first_half_edge[1] = 1;
            twice.next_half_edge[1] = 5;
            twice.next_half_edge[5] = 2;
            twice.next_half_edge[2] = NONE;
            twice.last_half_edge[1] = 2;
        }
        mols.push_back(twice);
    }
    std::mt19937 rng(9);
    for (const MolBuilder& mol : mols) {
        for (io::SmilesMode mode : {io::SmilesMode::Storage, io::SmilesMode::Canonical}) {
            for (int round = 0; round < 6; ++round) {
                const std::vector<std::uint32_t> order = test::shuffled_priorities(mol.num_atoms(), rng);
                std::vector<std::uint32_t> spread(order.size());
                for (std::uint32_t a = 0; a < order.size(); ++a) spread[a] = 2 * order[a];
                const io::SmilesOutput a = io::write_smiles(mol, order, mode);
                EXPECT_EQ(a, io::write_smiles(mol, spread, mode)) << a.text;
            }
        }
    }
}

// The order alone against the order the full text gives: real molecules under
// shuffled priorities and under tied ones (taken by atom index), both modes, from
// a writer that has written no text yet and from one that has.
TEST(CanonPaths, OrderAloneIsTheWrittenOrder) {
    const auto& all = test::data_molecules_as_read();
    std::mt19937 rng(17);
    std::vector<std::uint32_t> order{99}, first{99};  // stale contents must not survive
    for (std::size_t i = 0; i < all.size(); i += 7) {
        const MolBuilder& mol = all[i];
        for (io::SmilesMode mode : {io::SmilesMode::Storage, io::SmilesMode::Canonical}) {
            io::SmilesWriter writer(mol, mode);
            std::vector<std::uint32_t> priorities = test::shuffled_priorities(mol.num_atoms(), rng);
            if (i % 2)
                for (auto& p : priorities) p = rng() % 4;
            writer.write_order(priorities, first);
            io::SmilesOutput out;
            writer.write(priorities, out);
            writer.write_order(priorities, order);
            ASSERT_EQ(first, out.atom_order) << out.text;
            ASSERT_EQ(order, out.atom_order) << out.text;
        }
    }
}

// ---------------------------------------------------------------- ranks

// Ranks as defined: by symmetry class, ties by position in the canonical text.
std::vector<std::uint32_t> ranks_by_definition(const MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    const std::vector<std::uint32_t> classes = io::symmetry_classes(mol);
    const io::SmilesOutput text = io::canonical_smiles(mol);
    std::vector<std::uint32_t> written_at(n), by_rank(n), ranks(n);
    for (std::uint32_t k = 0; k < n; ++k) written_at.at(text.atom_order.at(k)) = k;
    std::iota(by_rank.begin(), by_rank.end(), 0u);
    std::sort(by_rank.begin(), by_rank.end(), [&](std::uint32_t x, std::uint32_t y) {
        return std::pair(classes[x], written_at[x]) < std::pair(classes[y], written_at[y]);
    });
    for (std::uint32_t r = 0; r < n; ++r) ranks[by_rank[r]] = r;
    return ranks;
}

// canonical_ranks skips the search when no class is shared and reads only the
// order of the leaves it need not compare: real molecules as read and
// sanitised, and ties broken only by comparing texts (stereo rings, E/Z arms,
// mirror-image pieces).
TEST(CanonPaths, RanksFollowClassThenCanonicalText) {
    std::vector<MolBuilder> mols;
    const auto& all = test::data_molecules_as_read();
    for (std::size_t i = 0; i < all.size(); i += 5) {
        mols.push_back(all[i]);
        MolBuilder copy = all[i];
        if (chem::sanitize(copy)) mols.push_back(std::move(copy));
    }
    for (const char* smiles :
         {"C[C@H]1CC[C@@H](C)CC1", "C[C@@H]1C[C@H](C)C[C@@H](C)C1", "F/C=C/C=C\\F", "C1CC2(CC1)CCCC2",
          "[Si](/C=C/C)(/C=C/C)(/C=C\\C)/C=C\\C", "OC[C@H]1O[C@@H](O)[C@H](O)[C@@H](O)[C@@H]1O",
          "N[C@@H](C)C(=O)O.N[C@H](C)C(=O)O.N[C@@H](C)C(=O)O", "F[C@H]1C[C@@H](F)C1", "CC(C)C", "c1ccccc1.O.O"})
        mols.push_back(read(smiles));
    for (const MolBuilder& mol : mols) ASSERT_EQ(io::canonical_ranks(mol), ranks_by_definition(mol)) << io::to_canonical_smiles(mol);
}

// ---------------------------------------------------------------- equal leaves

// Symmetric molecules where the leaves that tie differ only in the marks an
// automorphism may or may not carry over: each text must not depend on storage
// order, and each pair of stereoisomers must stay apart.
struct Isomers {
    const char* a;
    const char* b;
};
class EqualLeaves : public testing::TestWithParam<Isomers> {};

TEST_P(EqualLeaves, TextsAreInvariantAndTellIsomersApart) {
    std::mt19937 rng(3);
    std::string texts[2];
    const char* inputs[2] = {GetParam().a, GetParam().b};
    for (int i = 0; i < 2; ++i) {
        const MolBuilder mol = read(inputs[i]);
        texts[i] = io::to_canonical_smiles(mol);
        for (int round = 0; round < 12; ++round) {
            // Written from a shuffled order and read back: the same molecule stored
            // in another order.
            const std::string written =
                io::write_smiles(mol, test::shuffled_priorities(mol.num_atoms(), rng), io::SmilesMode::Storage).text;
            EXPECT_EQ(io::to_canonical_smiles(read(written)), texts[i]) << inputs[i] << " written as " << written;
        }
    }
    EXPECT_NE(texts[0], texts[1]);
}

INSTANTIATE_TEST_SUITE_P(
    CanonPaths, EqualLeaves,
    testing::Values(Isomers{"C[C@H](F)[C@@H](C)F", "C[C@H](F)[C@H](C)F"},
                    Isomers{"O[C@H]1[C@@H](O)[C@H](O)[C@@H](O)[C@H](O)[C@@H]1O",
                            "O[C@H]1[C@H](O)[C@H](O)[C@H](O)[C@H](O)[C@H]1O"},
                    // Opposite ends make the middle carbon pseudo-asymmetric: two meso forms.
                    Isomers{"C[C@H](O)[C@@H](O)[C@@H](C)O", "C[C@H](O)[C@H](O)[C@@H](C)O"},
                    Isomers{"[NH3]->[Pt](<-[NH3])(Cl)Cl", "[NH3]->[Pt](Cl)(Cl)->[NH3]"}));

}  // namespace
