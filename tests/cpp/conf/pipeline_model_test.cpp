// generate_conformer against a plain step-by-step model built from the public
// stages (embedding, spreading, the handedness vote, refinement, retries and
// their choice, the last run towards the middle of the windows, the pieces
// set side by side, the choice between the holds'
// conformer and the plain one and the fresh embeddings), compared bit for bit
// on real molecules; and the error texts.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "conf/optimize.hpp"
#include "conf/pieces.hpp"
#include "core/elements.hpp"
#include "conf/pipeline.hpp"
#include "conf/smooth.hpp"
#include "conf/spread.hpp"
#include "support.hpp"

namespace quorix::conf {
namespace {

struct Field final : Objective {
    const ErrorFunction& f;
    explicit Field(const ErrorFunction& e) : f(e) {}
    double value_and_gradient(std::span<const double> x, std::span<double> g) override { return field_energy(f, x, g); }
};

struct ModelRun {
    std::vector<double> x;
    MinimiserResult m;
    std::size_t chiral, violations, angles;
    double plain;
};

struct ModelAttempt {
    ConformerResult r;
    // Centres wrong, stored cis/trans flipped, bonds and bond angles outside their bounds.
    std::tuple<std::size_t, std::size_t, std::size_t, std::size_t> faults;
    Holds level = Holds::All;
    double value = 0.0;  // of the function refined, holds included
    double refined_energy = 0.0;  // before the last run
    std::vector<double> x;        // before the pieces are set side by side
};

// One conformer at a level of holds, from the upper bounds (k = 0) or a
// sampled embedding, and the faults of its kept run.
// From `start` (a faultless attempt at a lower level) instead of an embedding
// when given: no embedding and no first refinement, its reported figures kept.
ModelAttempt attempt(const core::MolBuilder& mol, const std::vector<ChiralConstraint>& cs, Holds holds,
                     std::uint64_t embedding, int& retried, const ModelAttempt* start = nullptr) {
    const std::size_t n = mol.atoms.size();
    const ConformerHolds held(mol);
    DistanceBounds b = build_bounds(mol, &held.bounds(holds));
    EXPECT_FALSE(triangle_smooth(b));
    ConformerResult r;
    std::vector<double> flat;
    std::vector<double> g(3 * n);
    if (start) {
        flat = start->x;
        r.spread = start->r.spread;
        r.mirrored = start->r.mirrored;
        r.energy_before = start->r.energy_before;
    } else {
        std::vector<Coord> p =
            *embed_coordinates(embedding == 0                    ? full_distance_matrix(b)
                               : embedding >= BETWEEN_EMBEDDINGS ? between_distance_matrix(b, BETWEEN_FRACTIONS[embedding - BETWEEN_EMBEDDINGS])
                                                                 : sampled_distance_matrix(b, embedding),
                               n);
        r.spread = spread_coincident(p);
        std::size_t right = 0, wrong = 0;
        for (const ChiralConstraint& c : cs) {
            const double v = signed_volume(p, c);
            if (v != 0.0) ++((v > 0 ? 1.0 : -1.0) == c.target ? right : wrong);
        }
        r.mirrored = wrong > right;
        if (r.mirrored)
            for (Coord& q : p) q[0] = -q[0];
        for (const Coord& q : p) flat.insert(flat.end(), q.begin(), q.end());
        // Without holds the plain function; with them, made after a first
        // refinement on the bounds and chiral volumes alone (the chairs take
        // their forms from it).
        r.energy_before = field_energy(conformer_field(held, b, cs, Holds::None, flat), flat, g);
        const ErrorFunction bounds_only = build_chiral_terms(b, cs);
        Field rough(bounds_only);
        minimise(rough, flat, {100, 1e-6, 8});
    }
    const ErrorFunction plain = conformer_field(held, b, cs, Holds::None, flat);
    const ErrorFunction f = holds < Holds::Shapes ? plain : conformer_field(held, b, cs, holds, flat);
    Field obj(f);
    const auto run = [&](std::vector<double> x, std::size_t iterations = 400) {
        const MinimiserResult m = minimise(obj, x, {iterations, 1e-6, 8});
        std::vector<double> gx(x.size());
        return ModelRun{x, m, count_chiral_ok(x, cs), count_bond_violations(x, mol, b), count_angle_faults(x, mol, b),
                        field_energy(plain, x, gx)};
    };
    // Retried on a centre wrong, a bond outside its bounds or, with the
    // holds, an angle far outside them, without them the function above 1e-3.
    const auto faulty = [&](const ModelRun& k) {
        return k.chiral < cs.size() || k.violations > 0 || std::isnan(k.plain) ||
               (holds >= Holds::Shapes ? k.angles > 0 : !(k.plain <= 1e-3));
    };
    ModelRun kept = run(flat);
    // An unconverged run goes on from where it stopped, three times at most,
    // unless it has an angle fault with the holds; from a lower level's
    // run, only while it has no fault at all, and it is never retried.
    const auto goes_on = [&] {
        if (start)
            return kept.chiral == cs.size() && count_flipped_double_bonds(kept.x, mol) == 0 && kept.violations == 0 &&
                   kept.angles == 0;
        return !(holds >= Holds::Shapes && kept.angles > 0);
    };
    for (int c = 0; c < 3 && !kept.m.converged && goes_on(); ++c) kept = run(kept.x, 300);
    const std::vector<double> base = kept.x;
    for (std::uint64_t k = 1; k <= 4 && !start && faulty(kept); ++k) {
        ++retried;
        std::vector<double> x = base;
        for (std::size_t i = 0; i < x.size(); ++i) x[i] += retry_offset(k, i);
        ModelRun t = run(x);
        if (std::tuple(kept.chiral, t.violations, t.angles, t.m.value) <
            std::tuple(t.chiral, kept.violations, kept.angles, kept.m.value))
            kept = t;
    }
    std::tuple<std::size_t, std::size_t, std::size_t, std::size_t> faults{
        cs.size() - kept.chiral, count_flipped_double_bonds(kept.x, mol), kept.violations, kept.angles};
    double value = kept.m.value;
    const double refined_energy = kept.plain;
    // Without a fault, a last run of 50 iterations with every well exact and
    // springs on the bonds and on the angles' 1-3 pairs at the middle of
    // their bounds, kept when it has no fault either. It reads every pair: the
    // pipeline's shortcut to the pairs near a bound must change nothing.
    if (faults == decltype(faults){}) {
        ErrorFunction last = f;
        const auto middle = [&](std::uint32_t i, std::uint32_t j) { return 0.5 * (b.lower(i, j) + b.upper(i, j)); };
        std::vector<DistanceSpring> springs;
        for (const core::Bond& bond : mol.bonds)
            springs.push_back({{bond.begin, bond.end}, middle(bond.begin, bond.end), BOND_SPRING_WEIGHT});
        // A large ring's C-C-C angle, walled at this level, springs harder.
        const auto walled_carbons = [&](std::uint32_t a, std::uint32_t c, std::uint32_t d) {
            for (const WindowAngle& w : f.angles)
                if (w.atoms[1] == c && ((w.atoms[0] == a && w.atoms[2] == d) || (w.atoms[0] == d && w.atoms[2] == a)))
                    return mol.atoms[a].atomic_num == 6 && mol.atoms[c].atomic_num == 6 && mol.atoms[d].atomic_num == 6 &&
                           mol.atoms[c].hybridization == core::Hybridization::Sp3;
            return false;
        };
        for (std::uint32_t c = 0; c < n; ++c) {
            std::vector<std::uint32_t> seen;
            for (const core::Neighbor& nb : mol.neighbors(c)) {
                for (std::uint32_t a : seen)
                    if (mol.bond_between(a, nb.atom) == core::NONE)
                        springs.push_back({{a, nb.atom}, middle(a, nb.atom),
                                           walled_carbons(a, c, nb.atom) ? LARGE_RING_SPRING_WEIGHT : ANGLE_SPRING_WEIGHT});
                seen.push_back(nb.atom);
            }
        }
        add_spring_terms(last, springs);
        // Walls: two N, O or F four or five bonds apart, a carbon and one of
        // them four bonds apart.
        std::vector<std::vector<int>> hops(n, std::vector<int>(n, 99));
        for (std::uint32_t s0 = 0; s0 < n; ++s0) {
            std::vector<std::uint32_t> queue{s0};
            hops[s0][s0] = 0;
            for (std::size_t q = 0; q < queue.size(); ++q)
                for (const core::Neighbor& nb : mol.neighbors(queue[q]))
                    if (hops[s0][nb.atom] == 99) {
                        hops[s0][nb.atom] = hops[s0][queue[q]] + 1;
                        queue.push_back(nb.atom);
                    }
        }
        const auto kind = [&](std::uint32_t a) {
            const auto z = mol.atoms[a].atomic_num;
            return z == core::Element::N || z == core::Element::O || z == core::Element::F ? 2 : z == core::Element::C;
        };
        for (std::uint32_t i = 0; i < n; ++i)
            for (std::uint32_t j = i + 1; j < n; ++j)
                if ((kind(i) + kind(j) >= 3 && hops[i][j] == 4) || (kind(i) + kind(j) == 4 && hops[i][j] == 5))
                    last.walls.push_back(static_cast<std::uint32_t>(i * n + j));
        last.tolerance_scale = 0.0;
        Field polish(last);
        std::vector<double> x = kept.x;
        minimise(polish, x, {50, 1e-6, 8});
        if (count_chiral_ok(x, cs) == cs.size() && count_flipped_double_bonds(x, mol) == 0 &&
            count_bond_violations(x, mol, b) == 0 && count_angle_faults(x, mol, b) == 0) {
            kept.x = x;
            kept.plain = field_energy(plain, x, g);
        }
        value = field_energy(f, kept.x, g);
    }
    const std::vector<double> unplaced = kept.x;
    // A salt's pieces are set side by side once the refinement is done.
    place_pieces(mol, kept.x);
    for (std::size_t i = 0; i < n; ++i) r.coords.push_back({kept.x[3 * i], kept.x[3 * i + 1], kept.x[3 * i + 2]});
    r.energy = kept.plain;
    r.iterations = kept.m.iterations;
    r.grad_norm = kept.m.grad_norm;
    r.converged = kept.m.converged;
    r.chiral_total = cs.size();
    r.chiral_ok = count_chiral_ok(kept.x, cs);
    return {r, faults, holds, value, refined_energy, unplaced};
}

// The conformer of one embedding: with every hold, unless it has a fault and
// a level below (the shapes, then none) has fewer, counted in order; a level
// that holds nothing the one below does not is skipped.
ModelAttempt from_embedding(const core::MolBuilder& mol, const std::vector<ChiralConstraint>& cs, std::uint64_t k,
                            int& retried, int& released, int& regained) {
    const ConformerHolds holds(mol);
    std::optional<ModelAttempt> kept;
    std::optional<Holds> faulted;
    for (Holds level : {Holds::All, Holds::Shapes, Holds::Lengths, Holds::None}) {
        if (level != Holds::None && !holds.anything_held(level)) continue;
        ModelAttempt made = attempt(mol, cs, level, k, retried);
        if (!kept || made.faults < kept->faults) {
            released += kept.has_value();
            kept = made;
        }
        if (kept->faults == decltype(kept->faults){}) break;
        if (!faulted) faulted = level;
    }
    // A faultless conformer below a level that left a fault is refined again
    // from where it ended at each level above it up to that one, highest
    // first; the first faultless one replaces it.
    if (faulted && kept->faults == decltype(kept->faults){})
        for (Holds level : {Holds::All, Holds::Shapes, Holds::Lengths}) {
            if (level > *faulted || level <= kept->level || !holds.anything_held(level)) continue;
            ModelAttempt made = attempt(mol, cs, level, k, retried, &*kept);
            if (made.faults == decltype(made.faults){}) {
                ++regained;
                kept = made;
                break;
            }
        }
    return *kept;
}

// The first embedding's conformer, replaced by a fresh embedding's one with
// fewer faults while it has a centre, a cis/trans or an angle wrong; for its
// first two, while it is strained and has at most 100 atoms, also by one as
// faulty at the same level whose refined function ends lower.
ConformerResult model(const core::MolBuilder& mol, const std::vector<ChiralConstraint>& cs, int& retried,
                      int& released, int& fresh_kept, int& regained) {
    ModelAttempt kept = from_embedding(mol, cs, 0, retried, released, regained);
    for (std::uint64_t k = 1; k <= REEMBEDDINGS; ++k) {
        const auto [chiral, flipped, bonds, angles] = kept.faults;
        const bool strained = !(kept.refined_energy <= 0.03) && k <= 2 && mol.num_atoms() <= 100;
        if (chiral == 0 && flipped == 0 && angles == 0 && !strained) break;
        const ModelAttempt fresh = from_embedding(mol, cs, k, retried, released, regained);
        if (fresh.faults < kept.faults ||
            (strained && fresh.faults == kept.faults && fresh.level == kept.level && fresh.value < kept.value)) {
            kept = fresh;
            ++fresh_kept;
        }
    }
    // Above 100 atoms and an energy of 0.06, the embeddings between the bounds.
    for (std::uint64_t j = 0; j < BETWEEN_FRACTIONS.size() && mol.num_atoms() > 100 && !(kept.refined_energy <= 0.06);
         ++j) {
        const ModelAttempt fresh = from_embedding(mol, cs, BETWEEN_EMBEDDINGS + j, retried, released, regained);
        if (fresh.faults < kept.faults ||
            (fresh.faults == kept.faults && fresh.level == kept.level && fresh.value < kept.value)) {
            kept = fresh;
            ++fresh_kept;
        }
    }
    return kept.r;
}

TEST(ConformerModel, PipelineFollowsItsStepsBitForBit) {
    // Real records plus molecules chosen to be embedded as their mirror image,
    // to need retries, to keep the conformer made without the holds (a
    // strained bicycle whose ring double bonds the holds would bend out of
    // its bounds; a steroid-like amide whose holds leave only an angle
    // fault), and (a tropane and a beta-lactam whose first embeddings fold a
    // bridgehead inside out) to keep one from a fresh embedding; a macrolide
    // whose held run folds an angle until a retry, a nitrosourea whose
    // first embedding is strained, and a macrolide of more than 100 atoms
    // whose strained first embedding is kept; an imine whose last run leaves
    // an angle fault, and is dropped; a bridged aroyl amide whose fresh
    // embedding is faultless only without the holds, and regains them; a
    // phenothiazine whose held run keeps a fold and goes to its retries, and
    // a dimeric naphthoquinone whose fold skips the level on its bounds; a
    // rifamycin amide of 116 atoms whose first fold is strained and which
    // keeps the embedding from the middle of its bounds.
    std::vector<std::string> smiles{"C[C@@H](O)[C@H](N)C(=O)O", "F[C@](Cl)(Br)I", "C[C@H]1CC[C@@H](C)CC1",
                                    "CC1CC=CC=CCCC(O)CCCC=CC(=O)O1", "C(=O)(N(N=O)C)NC(=O)N",
                                    "O[C@H]1[C@H](O)[C@@H](O)[C@H](O)[C@@H](O)[C@@H]1O", "C1CC2CCC1CC2",
                                    "ClC(C(C=C1)C2C1)=C2OP(=O)(OC)OC",
                                    "CC(C(=O)N1CCN(C)CC1)C1CCC2(C)Cc3sc(-c4ccsc4)[nH+]c3C(C)C2C1O",
                                    "CCN(CC)C(=O)c1ccc(cc1)N([C@H]2C[C@H]3CC[C@@H](C2)N3)c4ccccc4",
                                    "CC(C)(C)OC(/C=C1\\[C@@H]2N(C1=O)C(C([O-])=O)=C(CS2(=O)=O)COC(C)=O)=O.[Na+]",
                                    "O(C1C(OC)C(OC(=O)CC)CC(=O)OC(C)CC=CC=CC(C(CC1CC=O)C)O)C3C(O)C(N(C)C)C(OC2CC(C)(O)"
                                    "C(OC(=O)CC)C(O2)C)C(O3)C",
                                    "CCC(CO)/N=C(\\C)C1=C([O-])CC2C1C2(C)C",
                                    "O=C(c1cnccn1)N1CC2Cn3c(=O)ccc(-c4ccc(OC(F)(F)F)cc4)c3C(C1)C2",
                                    "C(CCN1CCN(CCO)CCC1)N2c4c(Sc3c2cccc3)ccc(c4)C(F)(F)F",
                                    "O=C%10C6=C5Oc1c4c(cc(c1c3c(O)c2c(c(c(O)c(c2C=O)O)C(C)C)cc3C)C)C(=C(C(=O)C4=C(N5)Oc7c6c(cc(c7c9c(O)c8"
                                    "c(c(c(O)c(c8C=N)O)C(C)C)cc9C)C)C(=C%10O)C(C)C)O)C(C)C",
                                    "O(CC(=O)N(CC)CC)c2c3c1c4OC(C1=O)(C)OC=CC(OC)C(C)C(OC(=O)C)C(C)C(O)C(C(C(C=CC=C(C(=O)"
                                    "Nc(c2)c(c3c(c4C)O)O)C)C)O)C"};
    const auto& records = test::data_records();
    for (std::size_t k = 0; k < records.size(); k += 350) smiles.push_back(records[k].smiles);
    int mirrored = 0, retried = 0, released = 0, fresh_kept = 0, regained = 0;
    for (const std::string& s : smiles) {
        SCOPED_TRACE(s);
        core::MolBuilder mol = test::read_or_fail(s);
        const auto cs = prepare_for_conformer(mol);
        ASSERT_TRUE(cs);
        const auto got = generate_conformer(mol, *cs);
        ASSERT_TRUE(got);
        const ConformerResult want = model(mol, *cs, retried, released, fresh_kept, regained);
        EXPECT_EQ(got->coords, want.coords);
        EXPECT_EQ(std::tuple(got->energy_before, got->energy, got->iterations, got->grad_norm, got->converged),
                  std::tuple(want.energy_before, want.energy, want.iterations, want.grad_norm, want.converged));
        EXPECT_EQ(std::tuple(got->spread, got->mirrored, got->chiral_total, got->chiral_ok),
                  std::tuple(want.spread, want.mirrored, want.chiral_total, want.chiral_ok));
        mirrored += want.mirrored;
    }
    EXPECT_GT(mirrored, 0);
    EXPECT_GT(retried, 0);
    EXPECT_GT(released, 0);
    EXPECT_GT(fresh_kept, 0);
    EXPECT_GT(regained, 0);
}

TEST(ConformerError, Texts) {
    using E = ConformerError;
    const std::pair<E, std::string> rows[] = {
        {E{conformer_error::InconsistentBounds{3, 17}}, "界矩阵自相矛盾:原子 3 与 17 之间的上下界交空"},
        {E{EmbedError{embed_error::BadShape{}}}, "嵌入失败:BadShape"},
        {E{EmbedError{EigenError{eigen_error::NoConverge{60}}}}, "嵌入失败:Eigen(NoConverge { sweeps: 60 })"},
        {E{EmbedError{EigenError{eigen_error::NotFinite{7}}}}, "嵌入失败:Eigen(NotFinite { index: 7 })"},
        {E{EmbedError{EigenError{eigen_error::Overflowed{}}}}, "嵌入失败:Eigen(Overflowed)"},
        {E{conformer_error::TooManyAtoms{1001, 1000}}, "原子数 1001 超出构型生成的上限 1000"},
        {E{conformer_error::ImpossibleStereo{{4}}}, "手性中心 4 的构型在三维中不可能存在:只有把中心原子挤出四个配体围成的四面体才能满足"},
        {E{conformer_error::ImpossibleStereo{{0, 3, 12}}},
         "手性中心 0、3、12 的构型在三维中不可能存在:只有把中心原子挤出四个配体围成的四面体才能满足"},
        {E{conformer_error::ImpossibleDoubleBonds{{{4, 5}}}},
         "双键 4=5 标明的顺反构型在三维中搭不出来:环容不下它,每次精修都把它拧成另一种异构体或直角"},
        {E{conformer_error::ImpossibleDoubleBonds{{{2, 3}, {6, 7}}}},
         "双键 2=3、6=7 标明的顺反构型在三维中搭不出来:环容不下它,每次精修都把它拧成另一种异构体或直角"},
    };
    for (const auto& [error, text] : rows) EXPECT_EQ(error.to_string(), text);
    core::MolBuilder bad = test::read_or_fail("c1cccc1");
    const auto r = conformer_for(bad);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().to_string().starts_with("净化失败:kekulize 失败:")) << r.error().to_string();
}

}  // namespace
}  // namespace quorix::conf
