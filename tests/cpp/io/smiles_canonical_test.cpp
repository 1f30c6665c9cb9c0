#include "io/smiles/canonical.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "core/permutation.hpp"
#include "io/canon.hpp"
#include "io/smiles/canonical_testing.hpp"
#include "io/smiles/read.hpp"
#include "io/smiles/write.hpp"
#include "io/stereo.hpp"
#include "python/finish.hpp"
#include "smiles_roundtrip.hpp"
#include "support.hpp"

using namespace quorix;
using core::MolBuilder;
using core::NONE;

namespace {

MolBuilder read(const std::string& smiles) { return test::read_or_fail(smiles); }

std::string canonical(const std::string& smiles) { return io::to_canonical_smiles(read(smiles)); }

// The same molecule with its atoms stored in another order: written from a shuffled
// priority array by our own writer and read back.
MolBuilder reordered(const MolBuilder& mol, std::mt19937& rng) {
    const std::string text =
        io::write_smiles(mol, test::shuffled_priorities(mol.num_atoms(), rng), io::SmilesMode::Storage).text;
    auto back = io::read_smiles(text);
    if (!back) ADD_FAILURE() << "cannot read back " << text;
    return back ? *back : MolBuilder{};
}

// Ways of preparing a molecule before it is written; each must leave the canonical
// text invariant and idempotent.
using Prepare = std::function<bool(MolBuilder&)>;

bool as_read(MolBuilder&) { return true; }

bool without_stereo(MolBuilder& mol) {
    for (auto& a : mol.atoms) a.chiral_tag = core::ChiralTag::Unspecified, a.chiral_permutation = 0;
    for (auto& b : mol.bonds) b.direction = core::BondDirection::None, b.stereo = core::BondStereo::None, b.stereo_atoms = {NONE, NONE};
    return true;
}

// As the module sanitises: the pipeline, then cis/trans stored from the marks.
bool sanitised(MolBuilder& mol) {
    if (!chem::sanitize(mol)) return false;
    io::double_bond_stereo(mol);
    return true;
}

struct Form {
    const char* name;
    Prepare prepare;
    bool round_trip;
    // Reading the text back gives an unsanitised molecule no hydrogens on atoms
    // written without brackets.
    bool unwritten_hydrogens_vanish;
};

const std::vector<Form>& forms() {
    static const std::vector<Form> all = {
        {"as read", as_read, true, true},
        {"without stereo", without_stereo, false, true},
        {"sanitised", sanitised, true, false},
    };
    return all;
}

// What reading the canonical text back gives for an unprepared molecule: declared
// hydrogens the valence rules restore are not written, and marks that make no
// centre are left out.
MolBuilder expected_after_reading(const MolBuilder& mol, bool unwritten_hydrogens_vanish) {
    MolBuilder out = mol;
    const std::vector<std::uint8_t> centres = io::chiral_centres(mol);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        auto& atom = out.atoms[a];
        if ((centres[a] & 1u) == 0 &&
            (atom.chiral_tag == core::ChiralTag::Cw || atom.chiral_tag == core::ChiralTag::Ccw))
            atom.chiral_tag = core::ChiralTag::Unspecified;
    }
    for (std::uint32_t a = 0; a < mol.num_atoms() && unwritten_hydrogens_vanish; ++a) {
        if (io::needs_brackets(out, a, io::SmilesMode::Canonical)) continue;
        out.atoms[a].flags &= ~core::FIXED_HS;
        out.atoms[a].num_explicit_hs = 0;
    }
    return out;
}

// Invariance over 20 storage orders, idempotence, and the round trip of atoms,
// bonds, charges, hydrogens and stereo.
std::vector<MolBuilder> reorderings(const MolBuilder& mol, std::mt19937& rng) {
    std::vector<MolBuilder> out;
    for (int k = 0; k < 20; ++k) out.push_back(reordered(mol, rng));
    return out;
}

std::string check_molecule(const MolBuilder& input, const std::vector<MolBuilder>& reordered_inputs,
                           const Form& form) {
    MolBuilder mol = input;
    if (!form.prepare(mol)) return "";
    const io::SmilesOutput out = io::canonical_smiles(mol);
    for (const MolBuilder& reordered_input : reordered_inputs) {
        MolBuilder other = reordered_input;
        if (!form.prepare(other)) return "prepare failed on a reordering";
        const std::string text = io::to_canonical_smiles(other);
        if (text != out.text) return "not invariant: " + out.text + " vs " + text;
    }
    auto back = io::read_smiles(out.text);
    if (!back) return "canonical text does not read: " + out.text;
    MolBuilder again = *back;
    if (!form.prepare(again)) return "prepare failed on the canonical text";
    const std::string twice = io::to_canonical_smiles(again);
    if (twice != out.text) return "not idempotent: " + out.text + " then " + twice;
    if (form.round_trip) {
        std::vector<std::uint32_t> map(mol.num_atoms(), NONE);
        for (std::uint32_t k = 0; k < out.atom_order.size(); ++k) map[out.atom_order[k]] = k;
        const MolBuilder expected = expected_after_reading(mol, form.unwritten_hydrogens_vanish);
        const std::string diff = test::compare_mapped(expected, again, map, test::mark_relations(expected),
                                                      test::mark_relations(again));
        if (!diff.empty()) return "round trip: " + diff + " in " + out.text;
    }
    return "";
}

TEST(CanonicalSmiles, EmptyMolecule) {
    const MolBuilder empty;
    EXPECT_EQ(io::canonical_smiles(empty), io::SmilesOutput{});
    EXPECT_TRUE(io::canonical_ranks(empty).empty());
}

struct Case {
    std::vector<const char*> inputs;  // one molecule, several ways
    const char* out;
};
class Texts : public testing::TestWithParam<Case> {};

TEST_P(Texts, AreTheSameForEveryWayOfWriting) {
    for (const char* in : GetParam().inputs) EXPECT_EQ(canonical(in), GetParam().out) << in;
}

INSTANTIATE_TEST_SUITE_P(
    CanonicalSmiles, Texts,
    testing::Values(
        Case{{"OCC", "CCO", "C(O)C"}, "CCO"}, Case{{"[CH4]", "C"}, "C"}, Case{{"[Cl-].[Na+]"}, "[Na+].[Cl-]"},
        // A mark that makes no centre is left out.
        Case{{"C[C@H](C)O", "OC(C)C"}, "CC(C)O"}, Case{{"F\\C=C\\F", "C(/F)=C\\F"}, "C(=C/F)\\F"},
        Case{{"F/C=C\\F", "C(\\F)=C\\F"}, "C(=C/F)/F"},
        // An aromatic atom whose hydrogens follow from the rules loses its brackets.
        Case{{"c1cc[o]c1", "c1ccoc1"}, "c1ccco1"},
        Case{{"c1cc[n]cc1", "c1ccncc1"}, "c1ccccn1"}, Case{{"c1cc[nH]c1"}, "c1ccc[nH]1"},
        // Marks whose mirror image is the same molecule carry no stereo.
        Case{{"C[C@H2]O", "C[C@@H2]O", "CCO"}, "CCO"}, Case{{"[C@]", "[C]"}, "[C]"},
        Case{{"CC(C)=[C@]=C(C)C", "CC(C)=[C@@]=C(C)C"}, "CC(C)=C=C(C)C"},
        Case{{"CC(C)=C=[C@]=C=C(C)C", "CC(C)=C=C=C=C(C)C"}, "CC(C)=C=C=C=C(C)C"},
        Case{{"F[C@]([C@@H](C)C)([C@@H](C)C)Cl", "F[C@@]([C@@H](C)C)([C@H](C)C)Cl"}, "CC(C)C(C(C)C)(F)Cl"},
        Case{{"F[C@]1([H])CCC1"}, "[H]C1(CCC1)F"},
        // The middle centre between two like-handed ends has two equal ligands.
        Case{{"C[C@H](O)[C@@H](C)[C@H](C)O", "C[C@H](O)[C@H](C)[C@H](C)O", "C[C@H](O)C(C)[C@H](C)O"},
             "C[C@@H](C(C)[C@H](C)O)O"},
        // cis,trans rings: one of the two like faces goes unmarked, the other two stay.
        Case{{"C[C@H]1C[C@@H](C)C[C@H](C)C1"}, "C[C@H]1C[C@H](C)CC(C)C1"},
        Case{{"F[C@H]1[C@H](F)[C@H]1F"}, "C1([C@@H]([C@H]1F)F)F"},
        Case{{"O[C@H]1C[C@H](O)C[C@@H](O)C1"}, "C1[C@H](CC(C[C@@H]1O)O)O"}));

// A model of ring and chain stereo that knows nothing of the canonical code. The
// skeleton (the ring, or the carbon chain) is walked from every start and both
// ways; each centre's substituent is up (+1) or down (-1) against the walk, read
// from its mark and its ligand order. Turning a ring over or reading a chain from
// its other end is another walk, so the smallest face list over all walks names the
// stereoisomer.
using Faces = std::vector<int>;

struct Family {
    const char* name;
    const char* pattern;  // "{}" stands for @ or @@ at each centre
    bool ring;
    std::size_t isomers;
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.pattern; }

bool on_skeleton(const MolBuilder& m, std::uint32_t a, bool ring) {
    return ring ? m.degree[a] >= 2 : m.atoms[a].atomic_num == 6;
}

// +1 or -1 for a marked centre, 0 for an atom that is none, 2 for an unmarked one.
int face(const MolBuilder& m, std::uint32_t a, std::uint32_t prev, std::uint32_t next, bool ring) {
    std::uint32_t sub = NONE;
    std::vector<std::uint32_t> ligands;
    for (core::Neighbor nb : m.neighbors(a)) {
        ligands.push_back(nb.atom);
        if (!on_skeleton(m, nb.atom, ring)) sub = nb.atom;
    }
    if (sub == NONE || ligands.size() != 3) return 0;
    const core::ChiralTag tag = m.atoms[a].chiral_tag;
    if (tag != core::ChiralTag::Cw && tag != core::ChiralTag::Ccw) return 2;
    ligands.push_back(NONE);  // the implicit hydrogen follows the bonds
    const std::vector<std::uint32_t> reference{prev, next, sub, NONE};
    // Seen from the previous atom, next, substituent and hydrogen turn clockwise
    // when the substituent is up.
    const bool up = (tag == core::ChiralTag::Cw) != (core::permutation_parity(ligands, reference) == 1);
    return up ? 1 : -1;
}

Faces isomer_key(const MolBuilder& m, bool ring) {
    std::vector<std::vector<std::uint32_t>> next_to(m.num_atoms());
    std::vector<std::uint32_t> starts;
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        if (!on_skeleton(m, a, ring)) continue;
        for (core::Neighbor nb : m.neighbors(a))
            if (on_skeleton(m, nb.atom, ring)) next_to[a].push_back(nb.atom);
        if (ring || next_to[a].size() == 1) starts.push_back(a);
    }
    Faces best;
    for (std::uint32_t start : starts) {
        for (std::uint32_t first : next_to[start]) {
            std::vector<std::uint32_t> walk{start};
            for (std::uint32_t prev = start, at = first; at != start;) {
                walk.push_back(at);
                if (next_to[at].size() == 1) break;
                const std::uint32_t ahead = next_to[at][0] == prev ? next_to[at][1] : next_to[at][0];
                prev = at;
                at = ahead;
            }
            Faces faces;
            for (std::size_t i = 0; i < walk.size(); ++i) {
                const std::uint32_t prev = i > 0 ? walk[i - 1] : ring ? walk.back() : NONE;
                const std::uint32_t next = i + 1 < walk.size() ? walk[i + 1] : ring ? walk[0] : NONE;
                faces.push_back(prev == NONE || next == NONE ? 0 : face(m, walk[i], prev, next, ring));
            }
            if (best.empty() || faces < best) best = faces;
        }
    }
    return best;
}

// The isomers a molecule can be: every way of marking its unmarked centres.
std::set<Faces> isomer_keys(const MolBuilder& m, bool ring) {
    std::vector<std::uint32_t> open;
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        if (!on_skeleton(m, a, ring) || m.atoms[a].chiral_tag != core::ChiralTag::Unspecified) continue;
        for (core::Neighbor nb : m.neighbors(a)) {
            if (!on_skeleton(m, nb.atom, ring) && m.degree[a] == 3) open.push_back(a);
        }
    }
    std::set<Faces> keys;
    for (std::uint32_t mask = 0; mask < (1u << open.size()); ++mask) {
        MolBuilder marked = m;
        for (std::size_t k = 0; k < open.size(); ++k)
            marked.atoms[open[k]].chiral_tag = (mask >> k) & 1u ? core::ChiralTag::Cw : core::ChiralTag::Ccw;
        keys.insert(isomer_key(marked, ring));
    }
    return keys;
}

class StereoFamilies : public testing::TestWithParam<Family> {};

// Every @/@@ writing in random atom orders, as read and sanitised: one text per
// isomer, a different text for each, each text its own canonical form and still
// naming exactly its isomer.
TEST_P(StereoFamilies, OneTextPerIsomerAndNoStereoLost) {
    const Family& f = GetParam();
    std::vector<std::string> parts{""};
    for (const char* c = f.pattern; *c; ++c) {
        if (c[0] == '{' && c[1] == '}') {
            parts.emplace_back();
            ++c;
        } else {
            parts.back() += *c;
        }
    }
    const std::size_t centres = parts.size() - 1;
    for (const Form* form : {&forms()[0], &forms()[2]}) {
        auto text = [&](MolBuilder mol) {
            EXPECT_TRUE(form->prepare(mol));
            return io::to_canonical_smiles(mol);
        };
        std::mt19937 rng(7);
        std::map<Faces, std::string> text_of;
        for (std::uint32_t mask = 0; mask < (1u << centres); ++mask) {
            std::string writing = parts[0];
            for (std::size_t k = 0; k < centres; ++k) writing += ((mask >> k) & 1u ? "@@" : "@") + parts[k + 1];
            const MolBuilder mol = read(writing);
            const Faces key = isomer_key(mol, f.ring);
            auto [it, fresh] = text_of.emplace(key, text(mol));
            if (!fresh) {
                EXPECT_EQ(text(mol), it->second) << writing << " " << form->name;
            }
            for (int r = 0; r < 3; ++r) {
                const MolBuilder other = reordered(mol, rng);
                ASSERT_EQ(isomer_key(other, f.ring), key) << "model: " << writing;
                EXPECT_EQ(text(other), it->second) << writing << " " << form->name;
            }
        }
        EXPECT_EQ(text_of.size(), f.isomers);
        std::set<std::string> texts;
        for (const auto& [key, written] : text_of) {
            texts.insert(written);
            const MolBuilder back = read(written);
            EXPECT_EQ(text(back), written) << form->name;
            EXPECT_EQ(isomer_keys(back, f.ring), std::set<Faces>{key}) << written << " " << form->name;
        }
        EXPECT_EQ(texts.size(), text_of.size()) << form->name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    CanonicalSmiles, StereoFamilies,
    testing::Values(Family{"trimethylcyclohexane135", "C[C{}H]1C[C{}H](C)C[C{}H](C)C1", true, 2},
                    Family{"cyclohexanetriol135", "O[C{}H]1C[C{}H](O)C[C{}H](O)C1", true, 2},
                    Family{"trifluorocyclopropane", "F[C{}H]1[C{}H](F)[C{}H]1F", true, 2},
                    Family{"tetramethylcyclobutane", "C[C{}H]1[C{}H](C)[C{}H](C)[C{}H]1C", true, 4},
                    Family{"trimethylcyclopentane124", "C[C{}H]1C[C{}H](C)[C{}H](C)C1", true, 4},
                    Family{"pentamethylcyclopentane", "C[C{}H]1[C{}H](C)[C{}H](C)[C{}H](C)[C{}H]1C", true, 4},
                    Family{"tetramethylcyclohexane1245", "C[C{}H]1C[C{}H](C)[C{}H](C)C[C{}H]1C", true, 7},
                    Family{"hexamethylcyclohexane", "C[C{}H]1[C{}H](C)[C{}H](C)[C{}H](C)[C{}H](C)[C{}H]1C", true, 9},
                    Family{"inositol", "O[C{}H]1[C{}H](O)[C{}H](O)[C{}H](O)[C{}H](O)[C{}H]1O", true, 9},
                    Family{"tetramethylcyclooctane1357", "C[C{}H]1C[C{}H](C)C[C{}H](C)C[C{}H](C)C1", true, 4},
                    Family{"pentitol", "OC[C{}H](O)[C{}H](O)[C{}H](O)CO", false, 4},
                    Family{"hexitol", "OC[C{}H](O)[C{}H](O)[C{}H](O)[C{}H](O)CO", false, 10},
                    Family{"pentanetriol234", "C[C{}H](O)[C{}H](O)[C{}H](O)C", false, 4}),
    [](const testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

// Pairs that must give one text, and the pair's mirror that must not.
TEST(CanonicalSmiles, StereoThatMustSurvive) {
    // Ring cis/trans: each centre has two ring neighbours of one class.
    EXPECT_NE(canonical("C[C@H]1CC[C@@H](C)CC1"), canonical("C[C@H]1CC[C@H](C)CC1"));
    EXPECT_NE(canonical("C[C@H]1CC[C@@H](C)CC1").find('@'), std::string::npos);
    // Pseudo-asymmetric middle centre between unlike ends.
    EXPECT_NE(canonical("C[C@H](O)[C@H](C)[C@@H](C)O"), canonical("C[C@H](O)[C@@H](C)[C@@H](C)O"));
    EXPECT_NE(canonical("C[C@H](O)[C@H](C)[C@@H](C)O"), canonical("C[C@H](O)C(C)[C@@H](C)O"));
}

// A ring-closure digit written after a branch stands after that branch in the
// neighbour order; right after the atom it stands at the atom's own place.
TEST(CanonicalSmiles, RingClosureAfterBranchFollowsTextOrder) {
    const std::pair<const char*, const char*> same[] = {
        {"F[C@](Cl)1Br.I1", "F[C@](Cl)(I)Br"},
        {"F[C@]1(Cl)Br.I1", "F[C@](I)(Cl)Br"},
        {"[C@H](F)1Cl.Br1", "[C@H](F)(Br)Cl"},
        {"Cl[C@](F)1CCN1", "Cl[C@](F)(N1)CC1"},
        {"F[Pt@SP1](Cl)1Br.I1", "F[Pt@SP1](Cl)(I)Br"},
        // Two real records (rtecs:14605-22-2, rtecs:3385-03-3) and the same written
        // with every digit right after its atom.
        {"O=S(O)(CCNC(CC[C@@H](C)[C@H]3CC[C@@]4([H])[C@]2([H])[C@@H](O)CC1C[C@H](O)CC[C@@](C)1[C@]([H])2CC[C@]34C)=O)=O",
         "O=S(O)(CCNC(CC[C@@H](C)[C@H]3CC[C@@]4([H])[C@]2([H])[C@@H](O)CC1C[C@H](O)CC[C@]1(C)[C@@]2([H])CC[C@]34C)=O)=O"},
        {"O=C1\\C=C2/C(C3C(C[C@H](F)2)C4C(CC3O)([C@]5(C(=O)CO)OC(O[C@H](C4)5)(C)C)C)(\\C=C/1)C",
         "O=C1\\C=C2/C(C3C(C[C@@H]2F)C4C(CC3O)([C@]5(C(=O)CO)OC(O[C@@H]5C4)(C)C)C)(\\C=C/1)C"},
    };
    for (auto [digit_after_branch, plain] : same) {
        EXPECT_EQ(canonical(digit_after_branch), canonical(plain)) << digit_after_branch;
        EXPECT_NE(canonical(digit_after_branch).find('@'), std::string::npos) << digit_after_branch;
    }
    EXPECT_NE(canonical("F[C@](Cl)1Br.I1"), canonical("F[C@@](Cl)(I)Br"));
}

TEST(CanonicalSmiles, ChiralCentresAndMirrorImagesDiffer) {
    const std::string l = canonical("N[C@@H](C)C(=O)O");
    EXPECT_EQ(canonical("OC(=O)[C@H](C)N"), l);
    EXPECT_NE(canonical("N[C@H](C)C(=O)O"), l);
    EXPECT_NE(l.find('@'), std::string::npos);
}

TEST(CanonicalRanks, FollowClassThenWrittenPosition) {
    EXPECT_EQ(io::canonical_ranks(read("OCC")), (std::vector<std::uint32_t>{2, 1, 0}));
    // Benzene: one class; ranks follow the written order.
    const MolBuilder benzene = read("c1ccccc1");
    const io::SmilesOutput out = io::canonical_smiles(benzene);
    const std::vector<std::uint32_t> ranks = io::canonical_ranks(benzene);
    for (std::uint32_t k = 0; k < out.atom_order.size(); ++k) EXPECT_EQ(ranks[out.atom_order[k]], k);
    // Equivalent atoms get consecutive ranks: the two methyls of isobutane.
    const std::vector<std::uint32_t> iso = io::canonical_ranks(read("CC(C)C=O"));
    EXPECT_EQ(std::max(iso[0], iso[2]) - std::min(iso[0], iso[2]), 1u);
}

// Ranks by class, then by place in the canonical text, against one refinement
// lent first to the classes and then to the ranks while other molecules are
// refined and searched in between (their scratch must not leak into it).
TEST(CanonicalRanks, SharedRefinementGivesClassesAndRanksOfTheRule) {
    const auto& mols = test::data_molecules_as_read();
    std::size_t tied = 0;
    for (std::size_t i = 0; i < mols.size() && !HasFailure(); i += 3) {
        const MolBuilder& m = mols[i];
        const std::vector<std::uint32_t> classes = io::symmetry_classes(m);
        std::vector<std::uint32_t> written(m.num_atoms());
        const std::vector<std::uint32_t> order = io::canonical_smiles(m).atom_order;
        for (std::uint32_t k = 0; k < order.size(); ++k) written[order[k]] = k;
        std::vector<std::uint32_t> by_rank(m.num_atoms());
        std::iota(by_rank.begin(), by_rank.end(), 0u);
        std::sort(by_rank.begin(), by_rank.end(), [&](std::uint32_t x, std::uint32_t y) {
            return std::pair(classes[x], written[x]) < std::pair(classes[y], written[y]);
        });
        std::vector<std::uint32_t> expected(m.num_atoms());
        for (std::uint32_t r = 0; r < by_rank.size(); ++r) expected[by_rank[r]] = r;
        tied += !std::ranges::equal(classes, expected);

        io::CanonicalRefinement shared(m);
        if (i % 2 == 0) {
            ASSERT_TRUE(std::ranges::equal(shared.classes(), classes)) << "molecule " << i;
        }
        const MolBuilder& other = mols[(i + 1) % mols.size()];
        (void)io::canonical_ranks(other);
        (void)io::symmetry_classes(other);
        // Centres handed over from the same classes must not change the ranks.
        std::vector<std::uint8_t> centres;
        if (i % 2 == 0) centres = io::chiral_centres(m, shared.classes());
        ASSERT_EQ(shared.ranks(centres), expected) << "molecule " << i;
        if (i % 2 == 0) {
            ASSERT_TRUE(std::ranges::equal(shared.classes(), classes)) << "molecule " << i;
        }
        ASSERT_EQ(io::canonical_ranks(m), expected) << "molecule " << i;
    }
    EXPECT_GT(tied, 500u);
}

// Molecules whose E and Z branches the graph alone cannot tell apart.
class ConfigurationTies : public testing::TestWithParam<const char*> {};

TEST_P(ConfigurationTies, AreInvariantAndIdempotent) {
    std::mt19937 rng(11);
    const MolBuilder mol = read(GetParam());
    for (const Form& form : forms()) {
        for (int round = 0; round < 5; ++round) {
            const std::string problem = check_molecule(mol, reorderings(mol, rng), form);
            EXPECT_EQ(problem, "") << GetParam() << " (" << form.name << ")";
        }
    }
    // The text carries cis/trans at all.
    EXPECT_NE(io::to_canonical_smiles(mol).find('/'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    CanonicalSmiles, ConfigurationTies,
    testing::Values("CC(C)(C)C(/C=C/C)/C=C\\C", "C(/C=C/C)(/C=C\\C)(/C=C/C)/C=C\\C", "N(/C=C/C)(/C=C\\C)C",
                    "C(/C=C/C)(/C=C\\C)C(/C=C\\C)/C=C/C"));

TEST(CanonicalSmiles, UnchangedWhenConfigurationsDoNotTie) {
    // E and Z apart from any tie keep the text of the plain search.
    EXPECT_EQ(canonical("C/C=C/C"), "C/C=C/C");
    EXPECT_EQ(canonical("C/C=C\\C"), "C/C=C\\C");
    EXPECT_EQ(canonical("CC(/C=C/C)/C=C/C"), canonical("C(/C=C/C)(/C=C/C)C"));
}

// The real data set: every third record in the debug build keeps CI quick (all
// records with QUORIX_FULL_DATA=1), split into shards that run in parallel.
constexpr int SHARDS = 8;
class RealMolecules : public testing::TestWithParam<int> {};

TEST_P(RealMolecules, AreInvariantIdempotentAndRoundTrip) {
    const bool full = std::getenv("QUORIX_FULL_DATA") != nullptr;
    const auto molecules = test::data_molecules(full ? 1 : 3);
    ASSERT_GT(molecules.size(), 2000u);
    std::mt19937 rng(99 + GetParam());
    std::size_t checked = 0, read_ok = 0, failures = 0;
    for (std::size_t i = GetParam(); i < molecules.size(); i += SHARDS) {
        const auto& m = molecules[i];
        ++checked;
        auto mol = io::read_smiles(m.smiles);
        if (!mol) continue;
        ++read_ok;
        const std::vector<MolBuilder> others = reorderings(*mol, rng);
        for (const Form& form : forms()) {
            // Every molecule as read; every other one also in the other forms.
            if (!full && &form != &forms()[0] && read_ok % 2 == 0) continue;
            const std::string problem = check_molecule(*mol, others, form);
            if (!problem.empty()) {
                ++failures;
                ADD_FAILURE() << m.id << " " << m.smiles << " (" << form.name << "): " << problem;
            }
        }
        if (failures > 20) break;
    }
    EXPECT_GT(read_ok, checked * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(CanonicalSmiles, RealMolecules, testing::Range(0, SHARDS));

// A sanitised molecule with every atom numbered, as the text a user would write
// for it (hydrogen counts in the brackets) reads back. The numbers then travel
// with the atoms when the storage order is shuffled, and symmetric atoms differ
// only by their numbers, which the text prints.
std::optional<MolBuilder> mapped(MolBuilder mol) {
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) mol.atoms[a].map_num = static_cast<std::uint16_t>(a + 1);
    const std::string text = io::write_smiles(mol, test::identity(mol.num_atoms()), io::SmilesMode::Storage).text;
    auto back = io::read_smiles(text);
    if (!back) return std::nullopt;
    return std::move(*back);
}

// The real molecules and the PubChem records, sanitised and fully mapped: one text
// and one rank per atom over 20 storage orders, and the text its own canonical
// form. Sharded and thinned as above.
class MappedRealMolecules : public testing::TestWithParam<int> {};

TEST_P(MappedRealMolecules, AreInvariantAndIdempotent) {
    const bool full = std::getenv("QUORIX_FULL_DATA") != nullptr;
    const std::size_t stride = full ? 1 : 3;
    static const std::vector<MolBuilder> inputs = [stride] {
        std::vector<MolBuilder> out;
        auto add = [&](std::optional<MolBuilder> m) {
            if (m) out.push_back(std::move(*m));
        };
        for (const auto& m : test::data_molecules(stride)) {
            auto mol = io::read_smiles(m.smiles);
            if (mol && sanitised(*mol)) add(mapped(std::move(*mol)));
        }
        std::ifstream in(std::string(QUORIX_TEST_DATA) + "/pubchem-1000.sdf", std::ios::binary);
        const std::string sdf{std::istreambuf_iterator<char>(in), {}};
        const auto records = python::read_sdf_records(sdf);
        for (std::size_t k = 0; k < records.size(); k += stride)
            if (records[k].block) add(mapped(records[k].block->mol));
        return out;
    }();
    ASSERT_GT(inputs.size(), (7000 + 1000) * 9 / 10 / stride);
    // Each atom's number names it in every storage order.
    auto ranks_by_number = [](const MolBuilder& m) {
        std::vector<std::uint32_t> out(m.num_atoms());
        const std::vector<std::uint32_t> ranks = io::canonical_ranks(m);
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) out.at(m.atoms[a].map_num - 1u) = ranks[a];
        return out;
    };
    std::mt19937 rng(199 + GetParam());
    std::size_t failures = 0;
    for (std::size_t i = GetParam(); i < inputs.size() && failures <= 20; i += SHARDS) {
        const std::vector<MolBuilder> others = reorderings(inputs[i], rng);
        const std::vector<std::uint32_t> ranks = ranks_by_number(inputs[i]);
        for (const MolBuilder& other : others) {
            if (ranks_by_number(other) == ranks) continue;
            ++failures;
            ADD_FAILURE() << "input " << i << ": ranks depend on the atom order";
            break;
        }
        // One text and a fixed point; the round trip is the unmapped sweep's.
        for (Form form : {forms()[0], forms()[2]}) {
            form.round_trip = false;
            const std::string problem = check_molecule(inputs[i], others, form);
            if (!problem.empty()) {
                ++failures;
                ADD_FAILURE() << "input " << i << " (" << form.name << "): " << problem;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CanonicalSmiles, MappedRealMolecules, testing::Range(0, SHARDS));

// A ring whose atoms differ only by their numbers, numbered round one way and the
// other: the same mapped molecule, so one text from every start and direction.
TEST(CanonicalSmiles, MapNumbersOrderAtomsTheGraphLeavesTied) {
    const std::string expected = "[CH2:1]1[S:2][CH2:3][S:4][CH2:5][S:6]1";
    const char* ring[] = {"[CH2:1]", "[S:2]", "[CH2:3]", "[S:4]", "[CH2:5]", "[S:6]"};
    for (int start = 0; start < 6; ++start) {
        for (int step : {1, 5}) {
            std::string text = std::string(ring[start]) + "1";
            for (int k = 1; k < 6; ++k) text += ring[(start + k * step) % 6];
            text += "1";
            EXPECT_EQ(canonical(text), expected) << text;
        }
    }
    // Ranks keep the classes: the carbons first, each class in written order.
    EXPECT_EQ(io::canonical_ranks(read("[S:6]1[CH2:5][S:4][CH2:3][S:2][CH2:1]1")),
              (std::vector<std::uint32_t>{5, 2, 4, 1, 3, 0}));
    // Numbers do not make a centre of an atom with two like neighbours.
    EXPECT_EQ(canonical("[CH3:1][C@H:2]([OH:3])[CH3:4]"), "[CH3:1][CH:2]([CH3:4])[OH:3]");
}


// Many interchangeable pieces: the work stays linear in the atoms (a bound on
// refinements, not on time), the text is the one the pieces give, and the same
// whatever order the atoms are stored in.
struct Repeated {
    std::string piece;     // written `copies` times, dot-joined, or as branches on `centre`
    std::string centre;
    int copies;
    std::string first;     // the text starts so
    std::size_t length;
};

std::string repeated_input(const Repeated& r) {
    std::string text = r.centre;
    for (int k = 0; k < r.copies; ++k) {
        if (r.centre.empty()) {
            text += (k ? "." : "") + r.piece;
        } else {
            text += "(" + r.piece + ")";
        }
    }
    return text;
}

class RepeatedPieces : public testing::TestWithParam<Repeated> {};

TEST_P(RepeatedPieces, CostLinearWorkAndKeepTheirText) {
    const Repeated& r = GetParam();
    const MolBuilder mol = read(repeated_input(r));
    io::CanonicalWork work;
    const std::string text = io::canonical_smiles_counted(mol, work).text;
    EXPECT_LE(work.refinements, 2 * std::uint64_t{mol.num_atoms()} + 10);
    EXPECT_LE(work.leaves, 2u);
    EXPECT_EQ(text.substr(0, r.first.size()), r.first);
    EXPECT_EQ(text.size(), r.length);
    std::mt19937 rng(16);
    EXPECT_EQ(io::to_canonical_smiles(reordered(mol, rng)), text);
}

INSTANTIATE_TEST_SUITE_P(
    CanonicalSmiles, RepeatedPieces,
    testing::Values(Repeated{"O", "", 5000, "O.O.O.", 5000 * 2 - 1},
                    Repeated{"[Na+].[Cl-]", "", 2000, "[Na+].[Na+].", 2000 * 12 - 1},
                    Repeated{"C", "[Si]", 3000, "C[Si](C)(C)", 5 + 2998 * 3 + 1},
                    Repeated{"[Cl-]", "", 3000, "[Cl-].[Cl-]", 3000 * 6 - 1},
                    Repeated{"c1ccccc1", "", 600, "c1ccccc1.c1ccccc1.", 600 * 9 - 1},
                    Repeated{"CC(C)=O", "", 400, "CC(C)=O.CC(C)=O.", 400 * 8 - 1},
                    Repeated{"N[C@@H](C)C(=O)O", "", 400, "C[C@@H](C(O)=O)N.", 400 * 17 - 1},
                    // One arm opens the text, the last closes it, 298 in parentheses.
                    Repeated{"CC", "[Si]", 300, "CC[Si](CC)(CC)", 2 + 4 + 298 * 4 + 2},
                    Repeated{"CO", "[Si]", 300, "C(O)[Si](CO)(CO)", 4 + 4 + 298 * 4 + 2}));

// Copies of pieces whose marks sit on a ring (cis/trans that refinement cannot
// see), alone or mixed with other pieces: each piece's ties are broken on its own,
// so the work grows with the pieces (a bound on refinements, leaves and @/@@ looks,
// not on time), the text holds each piece's own text once per copy, and no
// storage order changes it.
std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> out;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t to = std::min(text.find(sep, from), text.size());
        out.push_back(text.substr(from, to - from));
        from = to + 1;
    }
    return out;
}

struct Copies {
    std::string piece;
    int copies;
    std::string other = "";  // further pieces, each once per copy
    int other_copies = 0;
    std::uint64_t leaves = 200;  // a kind's own search may try many orders of tied ligands
};

class CopiesOfAStereoPiece : public testing::TestWithParam<Copies> {};

TEST_P(CopiesOfAStereoPiece, CostLinearWorkAndWriteEachPieceOncePerCopy) {
    const Copies& c = GetParam();
    std::string input;
    std::vector<std::string> expected;
    for (const auto& [text, copies] : {std::pair{c.piece, c.copies}, std::pair{c.other, c.other_copies}}) {
        for (const std::string& piece : split(text, '.')) {
            const std::string piece_text = io::to_canonical_smiles(read(piece));
            for (int k = 0; k < copies; ++k) {
                input += (input.empty() ? "" : ".") + piece;
                expected.push_back(piece_text);
            }
        }
    }
    const MolBuilder mol = read(input);
    io::CanonicalWork work;
    const io::SmilesOutput out = io::canonical_smiles_counted(mol, work);
    const int pieces = static_cast<int>(expected.size());
    EXPECT_LE(work.refinements, 3u * pieces + 200 + 3 * (c.leaves - 200));
    EXPECT_LE(work.leaves, c.leaves);
    EXPECT_LE(work.chirality_visits, 4u * mol.num_atoms());
    std::vector<std::string> written = split(out.text, '.');
    std::ranges::sort(written);
    std::ranges::sort(expected);
    EXPECT_EQ(written, expected);
    std::mt19937 rng(51);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(io::to_canonical_smiles(reordered(mol, rng)), out.text) << k;
    MolBuilder again = read(out.text);
    EXPECT_EQ(io::to_canonical_smiles(again), out.text);
}

INSTANTIATE_TEST_SUITE_P(
    CanonicalSmiles, CopiesOfAStereoPiece,
    testing::Values(Copies{"[H][C@@]12CCCC[C@]1([H])CCCC2", 12}, Copies{"[H][C@@]12CCCC[C@]1([H])CCCC2", 400},
                    Copies{"C[C@H]1CC[C@H](C)CC1", 12}, Copies{"C[C@H]1CC[C@H](C)CC1", 400},
                    // A mark that only the others make redundant, and a mark that
                    // makes no centre at all: dropped in every copy alike.
                    Copies{"C[C@@H]1C[C@H](C)C[C@@H](C)C1", 30}, Copies{"C[C@H](C)[C@@H]1CC[C@H](C)CC1", 30},
                    // Counter-ions, several kinds of piece, and kinds that refinement
                    // cannot tell apart (cis and trans), whose turns follow their texts.
                    Copies{"[H][C@@]12CCCC[C@]1([H])CCCC2", 12, "[Na+]", 1},
                    Copies{"C[C@H]1CC[C@H](C)CC1", 20, "C[C@H]1CC[C@@H](C)CC1.[H][C@@]12CCCC[C@@]1([H])CCCC2", 20},
                    Copies{"C[C@H]1CC[C@H](C)CC1", 12, "[Cl-].O", 2},
                    Copies{"[H][C@@]12CCCC[C@]1([H])CCCC2", 10, "C[C@H]1CC[C@H](C)CC1.C[C@@H]1C[C@H](C)C[C@@H](C)C1", 10},
                    Copies{"[H][C@@]12CCCC[C@]1([H])CCCC2", 300, "C[C@H]1CC[C@H](C)CC1.[Na+]", 300},
                    // Marks on bonds, map numbers and polyhedral classes: pieces
                    // that only these tell apart take turns by their texts.
                    Copies{"C/C=C/C", 800}, Copies{"C/C=C/C", 30, "C/C=C\\C.[Na+]", 30},
                    Copies{"C[C@H]1CC[C@@H](/C=C/C)CC1", 40},
                    Copies{"[CH3:1][C@H]1CC[C@@H](C)CC1", 40, "[CH3:2][C@H]1CC[C@H](C)CC1", 40},
                    Copies{"F[S@OH1](F)(F)(F)(F)F", 160, "", 0, 1200}, Copies{"F[P@TB1](F)(F)(F)F", 160, "", 0, 400},
                    Copies{"Cl[Pt@SP1](Cl)(Cl)Cl", 160, "Cl[Pt@SP2](F)(Cl)F", 20, 400}));

// One molecule of many marked units whose ligands tie (a chain of rings, a ring
// of centres): every mark is kept, and telling each from its mirror takes a few
// refinements, not a search of the mirrored molecule per mark. The chain's ring
// flips, which invert the marks of their ring pairwise, are not searched, and its
// text is the same from any storage order.
struct MarkedUnits {
    std::string unit;
    int copies;
    bool ring;                  // the units close one ring, else a chain between two methyls
    std::uint64_t refinements;  // per atom
    std::uint64_t leaves;
    std::uint64_t cells;  // split off by refinements, per atom
    std::string head = "C";  // of a chain: another atom leaves it no symmetry end to end
};

class MarkedUnitsInOneMolecule : public testing::TestWithParam<MarkedUnits> {};

TEST_P(MarkedUnitsInOneMolecule, KeepEveryMarkWithLinearWorkPerMark) {
    const MarkedUnits& u = GetParam();
    std::string input = u.ring ? "" : u.head;
    for (int k = 0; k < u.copies; ++k) input += u.unit;
    if (u.ring) input.insert(input.rfind(']') + 1, "1").insert(input.find(']') + 1, "1");
    else input += "C";
    const MolBuilder mol = read(input);
    io::CanonicalWork work;
    const io::SmilesOutput out = io::canonical_smiles_counted(mol, work);
    const std::string& text = out.text;
    EXPECT_LE(work.refinements, u.refinements * mol.num_atoms());
    EXPECT_LE(work.leaves, u.leaves);
    EXPECT_LE(work.cells_made, u.cells * mol.num_atoms());
    // The atoms are listed in the order that writes the text.
    std::vector<std::uint32_t> priorities(mol.num_atoms());
    for (std::uint32_t k = 0; k < out.atom_order.size(); ++k) priorities[out.atom_order[k]] = k;
    EXPECT_EQ(io::write_smiles(mol, priorities, io::SmilesMode::Canonical).text, text);
    auto marks = [](const std::string& smiles) {
        std::size_t n = 0;
        for (std::size_t i = smiles.find("[C@"); i != std::string::npos; i = smiles.find("[C@", i + 1)) ++n;
        return n;
    };
    EXPECT_EQ(marks(text), marks(input));
    EXPECT_EQ(io::to_canonical_smiles(read(text)), text);
    std::mt19937 rng(58);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(io::to_canonical_smiles(reordered(mol, rng)), text) << k;
}

INSTANTIATE_TEST_SUITE_P(CanonicalSmiles, MarkedUnitsInOneMolecule,
                         // Each mark of a chain is checked by a split near it, so the
                         // cells split grow with the chain; the ring's orders start at
                         // each of its atoms, and each start splits the whole ring.
                         testing::Values(MarkedUnits{"[C@H]1CC[C@@H](CC1)", 80, false, 1, 2, 3},
                                         MarkedUnits{"[C@H]1CC[C@@H](CC1)", 160, false, 1, 2, 3},
                                         MarkedUnits{"[C@H]1CC[C@@H](CC1)", 160, false, 1, 2, 3, "O"},
                                         // Twin methyls between the units: one of each is tried.
                                         MarkedUnits{"[C@H]1CC[C@@H](CC1)C(C)(C)", 40, false, 1, 3, 3},
                                         MarkedUnits{"[C@H]1CC[C@@H](CC1)[C@H]1CC[C@H](CC1)", 20, false, 1, 2, 3},
                                         MarkedUnits{"[C@@H](C)", 160, true, 3, 500, 400},
                                         MarkedUnits{"[C@@H](C)[C@H](C)", 40, true, 3, 300, 400}));

// Marks on rings of tied ligands, in chains and on their own, at random: the
// checks that settle a chain's marks by splits near each must keep and drop
// exactly the marks the checks over the whole molecule keep and drop.
TEST(CanonicalSmiles, MarkChecksNearEachMarkAgreeWithChecksOverTheWhole) {
    std::mt19937 rng(5858);
    const std::vector<std::string> rings = {"1CC(CC1)", "1CCC(CCC1)", "1CC(C1)", "1CC(C)C(C1)", "1CC(C)CC(C1)",
                                            "1CCC(CC1)", "1C(C)CC(CC1C)"};
    const std::vector<std::string> starts = {"C", "O", "CC", "F", "Cl[C@H](F)", "CC(C)"};
    const std::vector<std::string> ends = {"C", "O", "CC", "F", "[C@H](F)Cl", "C(C)C"};
    auto mark = [&]() { return std::string(rng() % 3 == 0 ? "" : rng() % 2 ? "@" : "@@"); };
    std::size_t kept_sum = 0;
    for (int k = 0; k < 300; ++k) {
        std::string smiles = starts[rng() % 2 == 0 ? 0 : rng() % starts.size()];
        const int units = 1 + static_cast<int>(rng() % 5);
        const std::string& ring = rings[rng() % rings.size()];
        for (int u = 0; u < units; ++u) {
            // The unit's two ring atoms joined to its neighbours carry the marks.
            std::string unit = "[C" + mark() + "H]" + ring;
            const std::size_t joint = unit.find("C(", 4);
            unit.replace(joint, 1, "[C" + mark() + "H]");
            smiles += unit;
        }
        smiles += ends[rng() % ends.size()];
        const MolBuilder mol = read(smiles);
        io::CanonicalWork near, whole;
        whole.local_mark_checks = false;
        const std::string text = io::canonical_smiles_counted(mol, near).text;
        ASSERT_EQ(text, io::canonical_smiles_counted(mol, whole).text) << smiles;
        kept_sum += std::count(text.begin(), text.end(), '@');
        MolBuilder other = reordered(mol, rng);
        io::CanonicalWork near_other;
        ASSERT_EQ(io::canonical_smiles_counted(other, near_other).text, text) << smiles;
    }
    EXPECT_GT(kept_sum, 300u);  // marks are met and kept, not only dropped
}

// A chain of residues from a repeating unit: most atoms are told apart by the
// chain, and what ties is local (ring flips, fork ends) next to many centres.
std::string chain_of(const std::vector<std::string>& unit, int residues, const std::string& tail) {
    std::string out;
    for (int k = 0; k < residues; ++k) out += unit[k % unit.size()];
    return out + tail;
}

const std::vector<std::string> PEPTIDE = {"N[C@@H](Cc1ccccc1)C(=O)", "N[C@@H](C)C(=O)", "NCC(=O)", "N[C@@H](CO)C(=O)",
                                          "N[C@@H](CC(C)C)C(=O)"};

struct LocalTies {
    std::string smiles;
    bool one_order;  // every tie is known to break alike
    bool chiral;     // the mirror image is another molecule
};

class LocalTiesTable : public testing::TestWithParam<LocalTies> {};

// The tie-break writes one order when every tie is a swap of whole arms, and the
// refinements stay about one per tie; the text is the same from any storage order,
// reads back to itself, and tells mirror images apart.
TEST_P(LocalTiesTable, WriteOneOrderOnlyWhenEveryTieIsASwapOfArms) {
    const LocalTies& row = GetParam();
    MolBuilder mol = read(row.smiles);
    ASSERT_TRUE(sanitised(mol));
    io::CanonicalWork work;
    const std::string text = io::canonical_smiles_counted(mol, work).text;
    if (row.one_order) {
        EXPECT_EQ(work.leaves, 1u);
        EXPECT_LE(work.refinements, mol.num_atoms() / 6 + 4);
        // Each centre is looked at until its neighbours fall apart, not once per round.
        EXPECT_LE(work.chirality_visits, mol.num_atoms());
    } else {
        EXPECT_GT(work.leaves, 1u);
    }
    std::mt19937 rng(77);
    for (int k = 0; k < 20; ++k) {
        MolBuilder other = reordered(mol, rng);
        ASSERT_TRUE(sanitised(other));
        ASSERT_EQ(io::to_canonical_smiles(other), text) << k;
    }
    MolBuilder again = read(text);
    ASSERT_TRUE(sanitised(again));
    EXPECT_EQ(io::to_canonical_smiles(again), text);
    MolBuilder mirrored = read(test::mirror_image(row.smiles));
    ASSERT_TRUE(sanitised(mirrored));
    EXPECT_EQ(io::to_canonical_smiles(mirrored) != text, row.chiral);
}

INSTANTIATE_TEST_SUITE_P(
    CanonicalSmiles, LocalTiesTable,
    testing::Values(LocalTies{chain_of(PEPTIDE, 3, "O"), true, true}, LocalTies{chain_of(PEPTIDE, 60, "O"), true, true},
                    LocalTies{chain_of({"N[C@@H](Cc1ccc(O)cc1)C(=O)", "N[C@H](CC(C)C)C(=O)"}, 40, "O"), true, true},
                    LocalTies{"[Si]([C@@H](C)CC)([C@@H](C)CC)([C@@H](C)CC)[C@@H](C)CC", true, true},
                    // Arms that hold ties of their own (a ring flip inside each of
                    // two swapped halves), rings whose cis/trans the refinement cannot
                    // see, forks of a fork: searched.
                    LocalTies{"C/C=C/C(=O)" + chain_of(PEPTIDE, 30, "O"), true, true},
                    LocalTies{"C[C@H](c1ccccc1)[C@H](C)c1ccccc1", false, true},
                    // Halves that only cis/trans tells apart.
                    LocalTies{"F/C=C/C=C\\F", false, false},
                    LocalTies{"C(Cc1ccccc1)(Cc1ccccc1)(Cc1ccccc1)[C@H](F)Cl", false, true},
                    LocalTies{"[Si](C(C)(C)C)(C(C)(C)C)[C@@H](O)C(C)(C)C", false, true},
                    LocalTies{"C[C@H]1CC[C@@H](C)CC1", false, false},
                    LocalTies{"C[C@@H]1C[C@H](C)C[C@@H](C)C1", false, false},
                    LocalTies{"CC(C)C(C(C)C)[C@H](F)Cl", false, true}));

}  // namespace
