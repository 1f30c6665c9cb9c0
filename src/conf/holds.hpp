#pragma once
// What a chemist expects of a conformer beyond what the distance bounds ask:
// which groups the conformer holds, and why. The bounds leave every free
// torsion anywhere in [0, 180] and hold angles and planes only through
// distance windows, which barely change near 0 and 180 degrees, so planar
// groups twist within them. The holds name those groups; the bounds take a
// few of them as windows (`ConformerHolds::bounds`) and the error function
// holds the rest as terms (`ConformerHolds::add_terms`).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/field.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

// None: only what every conformer holds (chain double bonds planar in one
// arrangement, aromatic rings flat). All: every hold.
enum class Holds : std::uint8_t { None, All };

// Every substituent pair across a chain double bond whose ends are not linear,
// with the stated cis/trans or, without one, the arrangement the bounds are
// given (the lowest-ranked substituent on each side, canonical rank then
// index, trans to the other). In bond order, then neighbour order. Nothing is
// recorded on the molecule.
std::vector<PlanarFour> planar_double_bonds(const core::MolBuilder& mol);

// The ring path around every bond of an aromatic ring (a-b-c-d all in the
// first aromatic ring of the ring list that has b-c as an edge), all cis. In
// bond order, then neighbour order.
std::vector<PlanarFour> planar_aromatic_rings(const core::MolBuilder& mol);

// Around every amide C-N bond outside the rings (a carbon double-bonded to
// oxygen or sulfur X, single-bonded to a nitrogen with three neighbours:
// amides, thioamides, carbamates, ureas): the group X=C-N-Y for each other
// neighbour Y of the nitrogen. `cis` tells the arrangement the bounds give a
// secondary amide (one hydrogen, one heavy neighbour that is not itself such
// a carbon: an imide cannot put both carbonyls trans without their oxygens
// meeting); every other amide may lie either way and has `cis` false. In bond
// order, then neighbour order.
std::vector<PlanarFour> planar_amides(const core::MolBuilder& mol);

// Around every amide C-N bond of a ring (a lactam), the groups X=C-N-Y as
// `planar_amides` makes them, all with `cis` false: the ring tells cis from
// trans. In bond order, then neighbour order.
std::vector<PlanarFour> planar_lactams(const core::MolBuilder& mol);

// The ring path a-b=c-d around every C=C and C=N double bond of a ring whose
// ends are not linear (a and d in the smallest ring holding b and c): cis, or
// as stated when the bond carries a configuration. In bond order, then
// neighbour order.
std::vector<PlanarFour> planar_ring_double_bonds(const core::MolBuilder& mol);

// Every carbon with three neighbours, sp2 and not aromatic (carbonyl and
// thiocarbonyl carbons, the carbons of C=C and C=N bonds), with its
// neighbours: atoms {n0, c, n1, n2}, neighbours in neighbour order, so that
// the volume about c (see `add_flatness_terms`) is zero when the four lie in
// one plane. In atom order.
std::vector<PlanarFour> planar_sp2_carbons(const core::MolBuilder& mol);

// Every substituent of an aromatic atom with exactly two aromatic bonds, in
// atom order of the aromatic atom, then neighbour order.
std::vector<RingSubstituent> aromatic_substituents(const core::MolBuilder& mol);

// The torsion windows the holds give the bounds across chain bonds: a chain
// double bond without a stated cis/trans in its one arrangement (left as a
// free [0, 180] torsion, the embedding would aim every 1-4 pair across it at
// its trans distance and twist the bond) and, with every hold, each
// secondary amide trans (the error function holds amides flat by volumes,
// which do not tell cis from trans; these windows do).
class HeldBounds final : public BoundsPreferences {
public:
    HeldBounds(const core::MolBuilder& mol, Holds holds);
    std::optional<std::pair<double, double>> chain_torsion(std::uint32_t bond, std::uint32_t a,
                                                           std::uint32_t d) const override;

private:
    // Per bond: for a chain double bond the lowest-ranked substituent on each
    // side; for a secondary amide its carbon's oxygen or sulfur and its
    // nitrogen's heavy neighbour, `first` on the bond's begin side.
    enum class Rule : std::uint8_t { None, DoubleBond, TransAmide };
    struct ChainRule {
        Rule rule = Rule::None;
        std::uint32_t first = core::NONE, second = core::NONE;
    };
    std::vector<ChainRule> rules_;
};

// Every group of every hold, found once per molecule: the conformer is made
// from several embeddings, with and without the holds.
class ConformerHolds {
public:
    explicit ConformerHolds(const core::MolBuilder& mol);

    const BoundsPreferences& bounds(Holds holds) const { return holds == Holds::All ? held_ : plain_; }
    // Adds the holds' terms to a function of the bounds and chiral volumes.
    void add_terms(ErrorFunction& f, Holds holds) const;
    // Whether every hold adds anything to what a conformer always holds.
    bool anything_held() const;

private:
    HeldBounds plain_, held_;
    std::vector<PlanarFour> double_bonds_, aromatic_rings_, amides_, ring_double_bonds_, sp2_carbons_, lactams_;
    std::vector<RingSubstituent> substituents_;
};

}  // namespace quorix::conf
