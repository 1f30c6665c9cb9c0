#include "conf/pipeline.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <optional>
#include <tuple>

#include "chem/explicit_hs.hpp"
#include "conf/bridges.hpp"
#include "conf/field.hpp"
#include "conf/linalg.hpp"
#include "conf/optimize.hpp"
#include "conf/pieces.hpp"
#include "conf/smooth.hpp"
#include "conf/spread.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"

namespace quorix::conf {

std::string ConformerError::to_string() const {
    struct Visitor {
        std::string operator()(const conformer_error::InconsistentBounds& e) const {
            return "界矩阵自相矛盾:原子 " + std::to_string(e.i) + " 与 " + std::to_string(e.j) + " 之间的上下界交空";
        }
        std::string operator()(const EmbedError& e) const { return "嵌入失败:" + e.debug(); }
        std::string operator()(const chem::SanitizeError& e) const { return "净化失败:" + e.to_string(); }
        std::string operator()(const conformer_error::TooManyAtoms& e) const {
            return "原子数 " + std::to_string(e.atoms) + " 超出构型生成的上限 " + std::to_string(e.limit);
        }
        std::string operator()(const conformer_error::ImpossibleStereo& e) const {
            std::string centres;
            for (std::uint32_t c : e.centres) centres += (centres.empty() ? "" : "、") + std::to_string(c);
            return "手性中心 " + centres + " 的构型在三维中不可能存在:只有把中心原子挤出四个配体围成的四面体才能满足";
        }
        std::string operator()(const conformer_error::ImpossibleDoubleBonds& e) const {
            std::string bonds;
            for (const auto& [b, c] : e.bonds)
                bonds += (bonds.empty() ? "" : "、") + std::to_string(b) + "=" + std::to_string(c);
            return "双键 " + bonds + " 标明的顺反构型在三维中搭不出来:环容不下它,每次精修都把它拧成另一种异构体或直角";
        }
    };
    return std::visit(Visitor{}, kind);
}

namespace {

constexpr MinimiserOptions REFINE{400, 1e-6, 8};
// The first refinement only untangles the embedding for the held one.
constexpr MinimiserOptions FIRST{100, 1e-6, 8};
constexpr MinimiserOptions CONTINUE{300, 1e-6, 8};
constexpr std::size_t CONTINUATIONS = 3;
constexpr std::size_t RETRIES = 4;

struct FieldObjective final : Objective {
    const ErrorFunction& field;
    explicit FieldObjective(const ErrorFunction& f) : field(f) {}
    double value_and_gradient(std::span<const double> x, std::span<double> g) override {
        return field_energy(field, x, g);
    }
};

std::vector<double> flat_of(const std::vector<Coord>& coords) {
    std::vector<double> flat(3 * coords.size());
    for (std::size_t i = 0; i < coords.size(); ++i)
        for (std::size_t a = 0; a < 3; ++a) flat[3 * i + a] = coords[i][a];
    return flat;
}

std::vector<Coord> regroup(std::span<const double> flat) {
    std::vector<Coord> coords(flat.size() / 3);
    for (std::size_t i = 0; i < coords.size(); ++i) coords[i] = {flat[3 * i], flat[3 * i + 1], flat[3 * i + 2]};
    return coords;
}

// +1 or -1 when the volume is nonzero and its sign is the target's; a NaN or
// zero volume is neither right nor wrong.
enum class Hand { Right, Wrong, Neither };
Hand hand(double volume, double target) {
    if (!(volume != 0.0) || std::isnan(volume)) return Hand::Neither;
    return (volume > 0.0 ? 1.0 : -1.0) == target ? Hand::Right : Hand::Wrong;
}

// Negates x when more centres come out as mirror images than as themselves.
bool mirror_vote(std::vector<Coord>& coords, std::span<const ChiralConstraint> constraints) {
    if (constraints.empty()) return false;
    std::size_t right = 0, wrong = 0;
    for (const ChiralConstraint& c : constraints) {
        const Hand h = hand(signed_volume(coords, c), c.target);
        if (h == Hand::Right) ++right;
        if (h == Hand::Wrong) ++wrong;
    }
    if (wrong <= right) return false;
    for (Coord& p : coords) p[0] = -p[0];
    return true;
}

struct Run {
    std::vector<double> flat;
    MinimiserResult refined;
    std::size_t chiral_score = 0;
    std::size_t violations = 0;
    std::size_t angle_faults = 0;
    double plain_value = 0.0;  // of the function without the attempt's holds
};

// Refines `flat` on `field` and scores the run; `plain` is the function
// without the attempt's holds (the same as `field` for an attempt without
// them).
Run refine(std::vector<double> flat, const ErrorFunction& field, const ErrorFunction& plain,
           const core::MolBuilder& mol, const DistanceBounds& bounds, std::span<const ChiralConstraint> constraints,
           const MinimiserOptions& options = REFINE) {
    Run run{std::move(flat), {}, 0, 0, 0, 0.0};
    FieldObjective objective(field);
    run.refined = minimise(objective, run.flat, options);
    run.chiral_score = count_chiral_ok(run.flat, constraints);
    run.violations = count_bond_violations(run.flat, mol, bounds);
    run.angle_faults = count_angle_faults(run.flat, mol, bounds);
    if (&plain == &field) {
        run.plain_value = run.refined.value;
    } else {
        std::vector<double> gradient(run.flat.size());
        run.plain_value = field_energy(plain, run.flat, gradient);
    }
    return run;
}

// Retries are for a run with a centre wrong, a bond outside its bounds or
// other bounds clearly missed: what the holds leave unmet (a crowded link
// twisted, a torsion short of its well) is a preference given up, and a
// nudged start rarely meets it; nor does one meet the last 1e-3 of a
// function whose bounds cannot all hold.
constexpr double RETRY_ABOVE = 1e-3;
bool needs_retry(const Run& run, std::size_t centres, bool held) {
    // Bounds the holds pull against stay missed however the start is nudged;
    // an angle far outside its window is a fold, which a nudge can undo, and
    // which would otherwise cost the level all its holds (a cyclic peptide
    // came out with its amides twisted).
    if (held)
        return run.chiral_score < centres || run.violations > 0 || run.angle_faults > 0 || std::isnan(run.plain_value);
    return run.chiral_score < centres || run.violations > 0 || run.plain_value > RETRY_ABOVE ||
           std::isnan(run.plain_value);
}

bool better(const Run& trial, const Run& kept) {
    if (trial.chiral_score != kept.chiral_score) return trial.chiral_score > kept.chiral_score;
    if (trial.violations != kept.violations) return trial.violations < kept.violations;
    if (trial.angle_faults != kept.angle_faults) return trial.angle_faults < kept.angle_faults;
    return trial.refined.value < kept.refined.value;
}

// The larger of two values; a NaN loses to a number.
double larger(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

// A fixed hash of (k, i) as a double in [0, 1).
double retry_fraction(std::uint64_t k, std::uint64_t i) {
    std::uint64_t z = (k * 0x9E3779B97F4A7C15ull) ^ (i * 0xBF58476D1CE4E5B9ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z = z ^ (z >> 31);
    return static_cast<double>(z >> 11) * 0x1p-53;
}

using Vec3 = std::array<double, 3>;

Vec3 flat_point(std::span<const double> flat, std::uint32_t atom) {
    return {flat[3 * std::size_t(atom)], flat[3 * std::size_t(atom) + 1], flat[3 * std::size_t(atom) + 2]};
}

// How far the distance of atoms i and j lies outside their bounds (negative
// inside); NaN only when the distance is.
double bounds_miss(std::span<const double> flat, const DistanceBounds& bounds, std::size_t i, std::size_t j) {
    const double dx = flat[3 * i] - flat[3 * j];
    const double dy = flat[3 * i + 1] - flat[3 * j + 1];
    const double dz = flat[3 * i + 2] - flat[3 * j + 2];
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    return larger(bounds.lower(i, j) - d, d - bounds.upper(i, j));
}

// Every bounded pair at its own fraction of the way from lower to upper
// bound (`fraction` of the pair's flat index i * n + j); unbounded pairs
// keep the full matrix's value.
template <class Fraction>
std::vector<double> distances_between_bounds(const DistanceBounds& bounds, Fraction fraction) {
    std::vector<double> d = full_distance_matrix(bounds);
    const std::size_t n = bounds.n;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const double lo = bounds.lower(i, j), hi = bounds.upper(i, j);
            if (hi >= UNBOUNDED) continue;
            d[i * n + j] = d[j * n + i] = lo + (hi - lo) * fraction(i * n + j);
        }
    return d;
}

}  // namespace

double retry_offset(std::uint64_t k, std::uint64_t i) {
    return (static_cast<double>(k) * 0.1) * (2.0 * retry_fraction(k, i) - 1.0);
}

std::vector<double> sampled_distance_matrix(const DistanceBounds& bounds, std::uint64_t k) {
    return distances_between_bounds(bounds, [k](std::uint64_t ij) { return retry_fraction(k, ij); });
}

std::vector<double> between_distance_matrix(const DistanceBounds& bounds, double fraction) {
    return distances_between_bounds(bounds, [fraction](std::uint64_t) { return fraction; });
}

std::vector<double> target_distances(const DistanceBounds& bounds, std::uint64_t embedding) {
    if (embedding == 0) return full_distance_matrix(bounds);
    if (embedding >= BETWEEN_EMBEDDINGS)
        return between_distance_matrix(bounds, at(BETWEEN_FRACTIONS, embedding - BETWEEN_EMBEDDINGS));
    return sampled_distance_matrix(bounds, embedding);
}

std::size_t count_bond_violations(std::span<const double> flat, const core::MolBuilder& mol,
                                  const DistanceBounds& bounds) {
    std::size_t count = 0;
    for (const core::Bond& b : mol.bonds)
        if (bounds_miss(flat, bounds, b.begin, b.end) > 0.1) ++count;
    return count;
}

std::size_t count_angle_faults(std::span<const double> flat, const core::MolBuilder& mol,
                               const DistanceBounds& bounds) {
    std::size_t count = 0;
    for (std::uint32_t centre = 0; centre < mol.num_atoms(); ++centre) {
        bool fault = false;
        for (core::Neighbor a : mol.neighbors(centre)) {
            for (core::Neighbor c : mol.neighbors(centre)) {
                if (c.bond == a.bond) break;  // each pair once
                if (c.atom == a.atom) continue;
                // A lost coordinate is a fault too, so that it never wins a choice.
                fault = fault || !(bounds_miss(flat, bounds, a.atom, c.atom) <= ANGLE_FAULT_TOLERANCE);
            }
        }
        count += fault;
    }
    return count;
}

namespace {
const double BUILT_MARGIN_SINE = std::sin(DOUBLE_BOND_MARGIN * DEG_TO_RAD);
}  // namespace

std::size_t count_flipped_double_bonds(std::span<const double> flat, const core::MolBuilder& mol) {
    return flipped_double_bonds(flat, mol).size();
}

std::vector<std::uint32_t> flipped_double_bonds(std::span<const double> flat, const core::MolBuilder& mol) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (bond.order != core::BondOrder::Double || !has_stored_configuration(bond)) continue;
        const Vec3 b = flat_point(flat, bond.begin), c = flat_point(flat, bond.end);
        const Vec3 axis{c[0] - b[0], c[1] - b[1], c[2] - b[2]};
        const double axis2 = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
        // The part of an end-to-substituent vector across the bond axis.
        const auto across = [&](const Vec3& from, std::uint32_t to) {
            const Vec3 p = flat_point(flat, to);
            const Vec3 v{p[0] - from[0], p[1] - from[1], p[2] - from[2]};
            const double t = (v[0] * axis[0] + v[1] * axis[1] + v[2] * axis[2]) / axis2;
            return Vec3{v[0] - t * axis[0], v[1] - t * axis[1], v[2] - t * axis[2]};
        };
        bool flipped = false;
        for (core::Neighbor na : mol.neighbors(bond.begin)) {
            if (na.atom == bond.end) continue;
            const Vec3 u = across(b, na.atom);
            for (core::Neighbor nd : mol.neighbors(bond.end)) {
                if (nd.atom == bond.begin || nd.atom == na.atom) continue;
                const Vec3 w = across(c, nd.atom);
                const double same_side = u[0] * w[0] + u[1] * w[1] + u[2] * w[2];
                const double least = BUILT_MARGIN_SINE * std::sqrt((u[0] * u[0] + u[1] * u[1] + u[2] * u[2]) *
                                                                   (w[0] * w[0] + w[1] * w[1] + w[2] * w[2]));
                // A NaN or a square arrangement reads as neither.
                const bool as_stored = stored_cis(bond, na.atom, nd.atom) ? same_side > least : same_side < -least;
                flipped = flipped || !as_stored;
            }
        }
        if (flipped) out.push_back(bi);
    }
    return out;
}

std::size_t count_chiral_ok(std::span<const double> flat, std::span<const ChiralConstraint> constraints) {
    if (constraints.empty()) return 0;
    const std::vector<Coord> coords = regroup(flat);
    std::size_t ok = 0;
    for (const ChiralConstraint& c : constraints)
        if (hand(signed_volume(coords, c), c.target) == Hand::Right) ++ok;
    return ok;
}

ErrorFunction conformer_field(const ConformerHolds& held, const DistanceBounds& bounds,
                              std::span<const ChiralConstraint> constraints, Holds holds, std::span<const double> start) {
    ErrorFunction field = build_chiral_terms(bounds, constraints);
    held.add_terms(field, holds, start);
    return field;
}

std::expected<std::vector<ChiralConstraint>, chem::SanitizeError> prepare_for_conformer(core::MolBuilder& mol) {
    if (auto done = chem::sanitize(mol); !done) return std::unexpected(std::move(done.error()));
    io::double_bond_stereo(mol);
    const std::vector<std::uint32_t> ranks = io::canonical_ranks(mol);
    chem::add_explicit_hs(mol, ranks);
    return collect_chiral_centres(mol);
}

namespace {

// What a conformer gets wrong, in the order the choice between two weighs it.
struct Faults {
    std::size_t chiral_wrong = 0;
    std::size_t flipped = 0;     // stored cis/trans the other way
    std::size_t violations = 0;  // bonds outside their bounds
    std::size_t angles = 0;      // atoms with a bond angle far outside its bounds

    auto key() const { return std::tuple(chiral_wrong, flipped, violations, angles); }
    bool stereo_or_angles() const { return chiral_wrong != 0 || flipped != 0 || angles != 0; }
    bool none() const { return key() == Faults{}.key(); }
};

Faults faults_of(const Run& run, const core::MolBuilder& mol, std::span<const ChiralConstraint> constraints) {
    return {constraints.size() - run.chiral_score, count_flipped_double_bonds(run.flat, mol), run.violations,
            run.angle_faults};
}

// A refinement stops wherever its flat-bottomed bounds and wells first hold,
// so bond lengths and angles end anywhere in their windows, some 3 degrees
// off their typical values, and planes and staggered torsions at the edges
// of their tolerances. A last, short run of the refined function, every bond
// and bond angle drawn towards the middle of its bounds and every such well
// held exactly, moves them towards it where nothing else asks otherwise.
constexpr MinimiserOptions POLISH{50, 1e-6, 8};
// The run moves an atom by a few tenths of an ångström at most (drug-like
// molecules: 0.25 at the median, 0.45 at the 90th percentile), so only pairs
// this close to a bound (Å) can reach it.
constexpr double POLISH_MARGIN = 1.0;

// Springs on every bond and every 1-3 pair of bonded neighbours towards the
// middle of their bounds, by centre then neighbour order; a 1-3 pair that is
// also bonded (a three-ring) has its bond's spring alone, and one across two
// centres (a four-ring's diagonal) a spring from each, as it has two angles.
// The C-C-C angles of large rings that `walls` hold take
// LARGE_RING_SPRING_WEIGHT: a large ring's torsions and crowded inside hold
// them at the top of their windows, 119 degrees at the median.
std::vector<DistanceSpring> typical_springs(const core::MolBuilder& mol, const DistanceBounds& bounds,
                                            std::span<const WindowAngle> walls) {
    std::vector<std::array<std::uint32_t, 3>> carbon_walls;  // centre, then the lower and higher end
    for (const WindowAngle& w : walls) {
        const auto [a, c, b] = w.atoms;
        if (mol.atoms[a].atomic_num == core::Element::C && mol.atoms[c].atomic_num == core::Element::C &&
            mol.atoms[b].atomic_num == core::Element::C && mol.atoms[c].hybridization == core::Hybridization::Sp3)
            carbon_walls.push_back({c, std::min(a, b), std::max(a, b)});
    }
    std::sort(carbon_walls.begin(), carbon_walls.end());
    std::vector<DistanceSpring> springs;
    const auto spring = [&](std::uint32_t a, std::uint32_t b, double weight) {
        springs.push_back({{a, b}, 0.5 * (bounds.lower(a, b) + bounds.upper(a, b)), weight});
    };
    for (const core::Bond& b : mol.bonds) spring(b.begin, b.end, BOND_SPRING_WEIGHT);
    for (std::uint32_t c = 0; c < mol.num_atoms(); ++c) {
        for (const core::Neighbor& x : mol.neighbors(c))
            for (const core::Neighbor& y : mol.neighbors(c)) {
                if (y.half_edge == x.half_edge) break;
                if (mol.bond_between(x.atom, y.atom) != core::NONE) continue;
                const bool walled = std::binary_search(carbon_walls.begin(), carbon_walls.end(),
                                                       std::array{c, std::min(x.atom, y.atom), std::max(x.atom, y.atom)});
                spring(y.atom, x.atom, walled ? LARGE_RING_SPRING_WEIGHT : ANGLE_SPRING_WEIGHT);
            }
    }
    return springs;
}

// The near pairs whose lower bound a lone pair sets: two lone-pair atoms
// four or five bonds apart, a carbon and a lone-pair atom four bonds apart
// (see `four_bonds_factor`). The springs and exact wells of the last run
// trade a little of the bounds for typical values; such a contact is no
// part of that trade, yet at the plain weight an OH and a ring fluorine,
// two fluorines of a perfluoroalkyl chain or a taxane's C...O ended 0.1 to
// 0.2 A inside the distance their refinement had kept.
std::vector<std::uint32_t> contact_walls(const core::MolBuilder& mol, std::span<const std::uint32_t> pairs) {
    const std::size_t n = mol.num_atoms();
    const auto bonded = [&](std::uint32_t a, std::uint32_t b) { return mol.bond_between(a, b) != core::NONE; };
    // The fewest bonds between i and j, or 6 for six or more.
    const auto hops = [&](std::uint32_t i, std::uint32_t j) {
        if (bonded(i, j)) return 1;
        int fewest = 6;
        for (const core::Neighbor& a : mol.neighbors(i)) {
            if (bonded(a.atom, j)) return 2;
            for (const core::Neighbor& b : mol.neighbors(j)) {
                if (bonded(a.atom, b.atom)) fewest = std::min(fewest, 3);
                for (const core::Neighbor& x : mol.neighbors(a.atom)) {
                    if (x.atom == i) continue;
                    if (bonded(x.atom, b.atom)) fewest = std::min(fewest, 4);
                    for (const core::Neighbor& y : mol.neighbors(b.atom))
                        if (y.atom != j && bonded(x.atom, y.atom)) fewest = std::min(fewest, 5);
                }
            }
        }
        return fewest;
    };
    std::vector<std::uint32_t> walls;
    for (std::uint32_t p : pairs) {
        const auto i = static_cast<std::uint32_t>(p / n), j = static_cast<std::uint32_t>(p % n);
        const std::uint8_t zi = mol.atoms[i].atomic_num, zj = mol.atoms[j].atomic_num;
        const bool both = lone_pair_atom(zi) && lone_pair_atom(zj);
        if (!both && !(four_bonds_factor(zi, zj) > FOUR_BONDS_FACTOR)) continue;
        const int h = hops(i, j);
        if (h == 4 || (both && h == 5))
            walls.push_back(p);
    }
    return walls;
}

// Runs `field` a last time from a faultless run, its springs on and its
// wells exact, near pairs only, and keeps the result unless it has a fault;
// returns `field`'s value at what is kept, `field` as it was. The
// refinement's figures stay those of the run it refined. `plain` may be
// `field` itself.
double polish(Run& kept, ErrorFunction& field, const ErrorFunction& plain, const core::MolBuilder& mol,
              const DistanceBounds& bounds, std::span<const ChiralConstraint> constraints) {
    std::vector<double> gradient(kept.flat.size());
    const std::size_t springs = field.springs.size();
    const double scale = field.tolerance_scale;
    std::vector<std::uint32_t> pairs = std::move(field.pairs);
    add_spring_terms(field, typical_springs(mol, bounds, field.angles));
    keep_near_pairs(field, kept.flat, POLISH_MARGIN);
    field.walls = contact_walls(mol, field.pairs);
    field.tolerance_scale = 0.0;
    Run last = refine(kept.flat, field, plain, mol, bounds, constraints, POLISH);
    field.walls.clear();
    field.springs.resize(springs);
    field.pairs = std::move(pairs);
    field.tolerance_scale = scale;
    if (faults_of(last, mol, constraints).none()) {
        kept.flat = std::move(last.flat);
        kept.plain_value = field_energy(plain, kept.flat, gradient);
    }
    return field_energy(field, kept.flat, gradient);
}

// One conformer made start to end with or without the holds, from the
// embedding of the upper bounds (0) or a sampled one (k >= 1), and the faults
// of its kept run.
struct Attempt {
    ConformerResult result;
    Faults faults;
    ConformerTrace trace;
    double value = 0.0;  // of the function refined, holds included
    // `energy` before the last run, which trades a little of the bounds for
    // typical lengths and angles: a strained fold shows in it.
    double refined_energy = 0.0;
    // The kept run's coordinates before the pieces are brought together:
    // where a run at a higher level starts from (see `conformer_from`).
    std::vector<double> unplaced;
};

// An embedding refined on its bounds and chiral volumes alone, with what the
// result reports of it. Levels whose bounds come out the same share it.
struct Embedding {
    DistanceBounds raw, bounds;  // as built, and smoothed
    std::vector<double> flat;    // after the first refinement
    double energy_before = 0.0;
    std::size_t spread = 0;
    bool mirrored = false;
};

std::expected<Embedding, ConformerError> embed(const core::MolBuilder& mol, const ConformerHolds& held,
                                               std::span<const ChiralConstraint> constraints, DistanceBounds raw,
                                               std::uint64_t embedding) {
    const std::size_t n = mol.atoms.size();
    Embedding out;
    out.bounds = raw;
    out.raw = std::move(raw);
    DistanceBounds& bounds = out.bounds;
    // Made in place: g++ 12 takes a moved error for one whose list of
    // centres might be uninitialised.
    if (auto crossed = triangle_smooth(bounds))
        return std::expected<Embedding, ConformerError>(
            std::unexpect, conformer_error::InconsistentBounds{crossed->first, crossed->second});
    auto embedded = embed_coordinates(target_distances(bounds, embedding), n);
    if (!embedded) return std::unexpected(ConformerError{std::move(embedded.error())});
    std::vector<Coord>& coords = *embedded;
    out.spread = spread_coincident(coords);
    out.mirrored = mirror_vote(coords, constraints);
    const ErrorFunction plain = conformer_field(held, bounds, constraints, Holds::None, flat_of(coords));
    out.flat = flat_of(coords);
    std::vector<double> scratch_gradient(3 * n);
    out.energy_before = field_energy(plain, out.flat, scratch_gradient);
    // The embedding is refined on the bounds and chiral volumes first and
    // then with the holds: held from the start, they pin twisted parts of the
    // embedding in place and refinement ends in tangles. Retries start from
    // the refined coordinates and need only the second run.
    const ErrorFunction rough = build_chiral_terms(bounds, constraints);
    FieldObjective first(rough);
    minimise(first, out.flat, FIRST);
    return out;
}

// Where an attempt starts: an embedding, whose fault the nudged retries may
// undo; or a faultless run of a level below (see `regain_holds`), which the
// level's own terms either keep faultless or not, and which is given up at
// its first fault.
enum class Start { Embedding, Regained };

std::expected<Attempt, ConformerError> attempt(const core::MolBuilder& mol, const ConformerHolds& held,
                                               std::span<const ChiralConstraint> constraints, Holds holds,
                                               std::uint64_t embedding,
                                               std::optional<std::expected<Embedding, ConformerError>>& shared,
                                               Start start = Start::Embedding) {
    DistanceBounds raw = build_bounds(mol, &held.bounds(holds));
    if (!shared || !*shared || (**shared).raw.values != raw.values)
        shared = embed(mol, held, constraints, std::move(raw), embedding);
    if (!*shared) return std::unexpected((*shared).error());
    const Embedding& embedded = **shared;
    const DistanceBounds& bounds = embedded.bounds;
    std::vector<double> flat = embedded.flat;

    Attempt out;
    ConformerResult& result = out.result;
    result.spread = embedded.spread;
    result.mirrored = embedded.mirrored;
    result.energy_before = embedded.energy_before;
    ErrorFunction plain = conformer_field(held, bounds, constraints, Holds::None, flat);
    // Below the shapes a level holds no term beyond the plain function's.
    const bool held_terms = holds >= Holds::Shapes;
    ErrorFunction field = held_terms ? conformer_field(held, bounds, constraints, holds, flat) : ErrorFunction{};
    ErrorFunction& refined_on = held_terms ? field : plain;
    Run kept = refine(std::move(flat), refined_on, plain, mol, bounds, constraints);
    // A run that ends unconverged often stalls on a stale curvature history
    // rather than at its minimum; a fresh run from where it stopped goes on.
    // Not one with the holds and an angle far outside its window: going on
    // does not undo a fold (a bridgehead inside out kept a chain-bearing
    // biadamantane's 1,300 iterations unconverged), the nudges below may.
    const auto goes_on = [&] {
        if (kept.refined.converged) return false;
        if (start == Start::Regained) return faults_of(kept, mol, constraints).none();
        return !(held_terms && kept.angle_faults > 0);
    };
    for (std::size_t c = 0; c < CONTINUATIONS && goes_on(); ++c)
        kept = refine(kept.flat, refined_on, plain, mol, bounds, constraints, CONTINUE);
    if (start == Start::Embedding && needs_retry(kept, constraints.size(), held_terms)) {
        const std::vector<double> base = kept.flat;
        for (std::size_t k = 1; k <= RETRIES; ++k) {
            std::vector<double> trial = base;
            for (std::size_t i = 0; i < trial.size(); ++i) trial[i] = trial[i] + retry_offset(k, i);
            Run run = refine(std::move(trial), refined_on, plain, mol, bounds, constraints);
            if (better(run, kept)) kept = std::move(run);
            if (!needs_retry(kept, constraints.size(), held_terms)) break;
        }
    }

    out.value = kept.refined.value;
    out.refined_energy = kept.plain_value;
    out.faults = faults_of(kept, mol, constraints);
    if (out.faults.none()) out.value = polish(kept, refined_on, plain, mol, bounds, constraints);

    // The pieces were refined where the embedding put them, far apart, and
    // are only now brought together. `energy` stays the refinement's: the
    // moves keep every term within a piece, while across pieces the van der
    // Waals lower bounds, meant for neutral contacts, ask more room than an
    // ion or a water takes at the chosen gap.
    out.unplaced = kept.flat;
    place_pieces(mol, kept.flat);
    result.coords = regroup(kept.flat);
    result.chiral_ok = count_chiral_ok(kept.flat, constraints);
    result.chiral_total = constraints.size();
    // The holds are preferences: the energy tells how far the bounds and
    // chiral volumes are met, as without them.
    result.energy = kept.plain_value;
    result.iterations = kept.refined.iterations;
    result.grad_norm = kept.refined.grad_norm;
    result.converged = kept.refined.converged;
    out.trace = {embedding, holds, out.faults.chiral_wrong, out.faults.flipped, out.faults.violations,
                 out.faults.angles};
    return out;
}

// A fold the embedding got wrong at one level (a taxane's eight-ring
// pressed against its windows, a bridged ring inside out) is often right in
// a faultless run of a level below, which drops the groups those levels hold:
// amides twist by 40 to 75 degrees. Refined from that run, the levels above
// it, highest first, mostly keep it and the holds too; the first faultless
// one replaces it.
std::optional<Attempt> regain_holds(const core::MolBuilder& mol, const ConformerHolds& holds,
                                    std::span<const ChiralConstraint> constraints, const Attempt& faultless,
                                    Holds highest) {
    for (Holds level : {Holds::All, Holds::Shapes, Holds::Lengths}) {
        if (level > highest || level <= faultless.trace.holds || !holds.anything_held(level)) continue;
        Embedding from;
        from.raw = build_bounds(mol, &holds.bounds(level));
        from.bounds = from.raw;
        if (triangle_smooth(from.bounds)) continue;
        from.flat = faultless.unplaced;
        from.energy_before = faultless.result.energy_before;
        from.spread = faultless.result.spread;
        from.mirrored = faultless.result.mirrored;
        std::optional<std::expected<Embedding, ConformerError>> shared(std::move(from));
        auto made = attempt(mol, holds, constraints, level, faultless.trace.embedding, shared, Start::Regained);
        if (made && made->faults.none()) return std::move(*made);
    }
    return std::nullopt;
}

// The conformer of one embedding. The holds are preferences, not chemistry
// the bounds insist on: a conformer they leave with a fault gives way to the
// one made with the next level down when that has fewer faults, and so does
// a failure (strained rings can bend trans amide windows into
// contradictions). The free torsions go first, then the shapes.
std::expected<Attempt, ConformerError> conformer_from(const core::MolBuilder& mol, const ConformerHolds& holds,
                                                      std::span<const ChiralConstraint> constraints,
                                                      std::uint64_t embedding) {
    std::optional<std::expected<Attempt, ConformerError>> kept;
    std::optional<std::expected<Embedding, ConformerError>> shared;
    std::optional<Holds> faulted;  // the highest level that left a fault
    for (Holds level : {Holds::All, Holds::Shapes, Holds::Lengths, Holds::None}) {
        // A level that holds nothing beyond the next one down would make the
        // same conformer.
        if (level != Holds::None && !holds.anything_held(level)) continue;
        auto made = attempt(mol, holds, constraints, level, embedding, shared);
        if (!kept || !*kept || (made && made->faults.key() < (**kept).faults.key())) kept = std::move(made);
        if (*kept && (**kept).faults.none()) break;
        if (!faulted) faulted = level;
    }
    if (faulted && *kept && (**kept).faults.none())
        if (auto held = regain_holds(mol, holds, constraints, **kept, *faulted)) kept = std::move(*held);
    return std::move(*kept);
}

}  // namespace

namespace {

std::expected<Attempt, ConformerError> best_conformer(const core::MolBuilder& mol, const ConformerHolds& holds,
                                                      std::span<const ChiralConstraint> constraints) {
    auto kept = conformer_from(mol, holds, constraints, 0);
    if (!kept) return kept;
    // A wrong fold of the embedding (a bridgehead inside out, a ring closed
    // across a double bond) survives every refinement of it; another
    // embedding can be folded right. So can a tangle that leaves no fault
    // but strains the whole molecule (a triterpene's ring angle past 140
    // degrees): a fresh embedding at the same level replaces it when it
    // meets the bounds and the holds together better.
    // A large cycloalkane's first embedding is a crown (see
    // `ConformerHolds::large_carbocycle`): every fresh one is tried.
    const bool crown = holds.large_carbocycle();
    for (std::uint64_t k = 1; k <= REEMBEDDINGS; ++k) {
        const bool strained = (crown || !(kept->refined_energy <= STRAINED)) &&
                              k <= (crown ? REEMBEDDINGS : STRAIN_REEMBEDDINGS) &&
                              mol.num_atoms() <= STRAIN_REEMBEDDING_ATOMS;
        if (!kept->faults.stereo_or_angles() && !strained) break;
        auto fresh = conformer_from(mol, holds, constraints, k);
        if (!fresh) continue;
        if (fresh->faults.key() < kept->faults.key() ||
            (strained && fresh->faults.key() == kept->faults.key() && fresh->trace.holds == kept->trace.holds &&
             fresh->value < kept->value))
            kept = std::move(*fresh);
    }
    // A larger molecule's first fold hangs on the rounding of its embedding
    // and refinement, so on its atom order alone: paclitaxel's came out with
    // an energy anywhere from 0.02 to 0.15 and, at the high end, a puckered
    // oxetane and sp3 C-C bonds pressed to 1.46-1.48 A. Its sampled
    // embeddings mostly fold worse still (13 of 16 kept a fault at a lower
    // level), while one of distances a fixed way between the bounds beat the
    // first fold in each of 8 orders tried (its 7 most strained and the usual
    // one).
    for (std::size_t j = 0; j < BETWEEN_FRACTIONS.size(); ++j) {
        if (mol.num_atoms() <= STRAIN_REEMBEDDING_ATOMS || kept->refined_energy <= LARGE_STRAINED) break;
        auto fresh = conformer_from(mol, holds, constraints, BETWEEN_EMBEDDINGS + j);
        if (!fresh) continue;
        if (fresh->faults.key() < kept->faults.key() ||
            (fresh->faults.key() == kept->faults.key() && fresh->trace.holds == kept->trace.holds &&
             fresh->value < kept->value))
            kept = std::move(*fresh);
    }
    return kept;
}

// See FLAT_TOLERANCE. Already flat in z, or not flat at all, the coordinates
// are left as they are.
void lay_flat(std::vector<Coord>& coords) {
    if (std::all_of(coords.begin(), coords.end(), [](const Coord& p) { return p[2] == 0.0; })) return;
    const double n = static_cast<double>(coords.size());
    Vec3 centre{0.0, 0.0, 0.0};
    for (const Coord& p : coords)
        for (std::size_t a = 0; a < 3; ++a) centre[a] += p[a] / n;
    std::array<double, 9> scatter{};
    for (const Coord& p : coords)
        for (std::size_t a = 0; a < 3; ++a)
            for (std::size_t b = 0; b < 3; ++b) scatter[3 * a + b] += (p[a] - centre[a]) * (p[b] - centre[b]);
    const auto eigen = symmetric_eigen(scatter, 3);
    if (!eigen) return;  // a lost coordinate: nothing is flat
    Vec3 normal{eigen->vectors[6], eigen->vectors[7], eigen->vectors[8]};  // of the smallest value
    if (normal[2] < 0.0)
        for (double& v : normal) v = -v;
    double off = 0.0;
    for (const Coord& p : coords)
        off = larger(off, std::abs((p[0] - centre[0]) * normal[0] + (p[1] - centre[1]) * normal[1] +
                                   (p[2] - centre[2]) * normal[2]));
    if (!(off <= FLAT_TOLERANCE)) return;
    // The rotation about normal x z that takes the normal to z (Rodrigues).
    const double sine = std::hypot(normal[0], normal[1]), cosine = normal[2];
    const Vec3 axis = sine > 0.0 ? Vec3{normal[1] / sine, -normal[0] / sine, 0.0} : Vec3{1.0, 0.0, 0.0};
    for (Coord& p : coords) {
        const Vec3 v{p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
        const double along = axis[0] * v[0] + axis[1] * v[1];
        const Vec3 across{axis[1] * v[2], -axis[0] * v[2], axis[0] * v[1] - axis[1] * v[0]};  // axis x v
        for (std::size_t a = 0; a < 2; ++a)
            p[a] = centre[a] + (v[a] * cosine + across[a] * sine + axis[a] * along * (1.0 - cosine));
        p[2] = 0.0;
    }
}

}  // namespace

std::expected<ConformerResult, ConformerError> generate_conformer(const core::MolBuilder& mol,
                                                                  std::span<const ChiralConstraint> constraints,
                                                                  ConformerTrace* trace) {
    const std::size_t n = mol.atoms.size();
    // Before anything reads them: the bridgehead check indexes by centre.
    check_constraints(constraints, n);
    // Nothing to place and nothing to refine: the empty conformer, already at
    // its minimum (the minimiser itself refuses an empty variable list).
    if (n == 0) {
        ConformerResult empty;
        empty.converged = true;
        empty.chiral_total = constraints.size();
        return empty;
    }
    if (n > MAX_CONFORMER_ATOMS)
        return std::expected<ConformerResult, ConformerError>(
            std::unexpect, conformer_error::TooManyAtoms{n, MAX_CONFORMER_ATOMS});

    const ConformerHolds holds(mol);
    if (auto centres = inward_bridgeheads(mol, holds.context().ring_list, constraints); !centres.empty())
        return std::unexpected(ConformerError{conformer_error::ImpossibleStereo{std::move(centres)}});
    auto kept = best_conformer(mol, holds, constraints);
    if (!kept) return std::unexpected(std::move(kept.error()));
    if (trace) *trace = kept->trace;
    lay_flat(kept->result.coords);
    // The other isomer is no answer, nor a double bond twisted square: a
    // stored cis/trans that every attempt left so is refused by name.
    if (const auto flipped = flipped_double_bonds(flat_of(kept->result.coords), mol); !flipped.empty()) {
        conformer_error::ImpossibleDoubleBonds error;
        for (std::uint32_t bi : flipped) error.bonds.push_back({mol.bonds[bi].begin, mol.bonds[bi].end});
        return std::unexpected(ConformerError{std::move(error)});
    }
    return std::move(kept->result);
}

std::expected<ConformerResult, ConformerError> conformer_for(core::MolBuilder& mol) {
    auto constraints = prepare_for_conformer(mol);
    if (!constraints) return std::unexpected(ConformerError{std::move(constraints.error())});
    return generate_conformer(mol, *constraints);
}

}  // namespace quorix::conf
