#include "conf/bridges.hpp"

#include <algorithm>
#include <array>

#include "chem/sssr.hpp"
#include "core/permutation.hpp"

// Why the two sizes. With p and q apart, the inward substituent points across
// the ring of the two longest bridges. Stretched into a crown, a ring of n
// carbons is n * 1.26 A round (a C-C bond seen along a staggered chain), so
// 0.4 n A wide, and the width must take a C-H bond and an H...C contact
// (1.09 + 2.4 A): n >= 9. Ingenane's inside-outside [4.4.1] core has ten.
// With p and q bonded nothing has to point into a ring: a trans fusion twists
// both rings about the shared bond by some 120 degrees between them, at most
// half of which comes from opening the bridgeheads' angles. A three-ring
// twists a bond not at all, a four-ring some 25 degrees, a five-ring 45 and a
// six-ring 60, so the rings give the other half only with seven atoms round
// them ([3.2.0], [4.1.0]), never with six ([2.2.0], [3.1.0]).
// Stated configurations of real molecules come from real structures, so the
// check only refuses: it never changes how a conformer is made.

namespace quorix::conf {
namespace {

// One bridge seen from both ends: its atom count and its atoms next to p and q
// (for a direct bond, q and p).
struct Bridge {
    std::uint32_t atoms = 0;
    std::uint32_t at_p = core::NONE, at_q = core::NONE;
};

// The path two rings share, when it is one run of at least two atoms in both:
// its ends p and q, and the three bridges between them (the shared one first).
struct Pair {
    std::uint32_t p = core::NONE, q = core::NONE;
    std::array<Bridge, 3> bridges;
};

// The start and length of the run of `ring` whose atoms are marked 2 (common
// to both rings), when they form exactly one run shorter than the ring.
bool marked_run(const chem::Ring& ring, const std::vector<std::uint8_t>& marked, std::size_t& start,
                std::size_t& length) {
    const std::size_t n = ring.atoms.size();
    std::size_t count = 0, starts = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (marked[ring.atoms[k]] != 2) continue;
        ++count;
        if (marked[ring.atoms[(k + n - 1) % n]] != 2) {
            ++starts;
            start = k;
        }
    }
    length = count;
    return starts == 1 && count >= 2;
}

// The bridge of `ring` outside its run [start, start + length), from p (the
// run's first atom) to q (its last).
Bridge outer_bridge(const chem::Ring& ring, std::size_t start, std::size_t length) {
    const std::size_t n = ring.atoms.size();
    return {static_cast<std::uint32_t>(n - length), ring.atoms[(start + n - 1) % n], ring.atoms[(start + length) % n]};
}

// The bridges of rings a and b, whose atoms common to both are marked.
bool shared_path(const chem::Ring& a, const chem::Ring& b, const std::vector<std::uint8_t>& marked, Pair& out) {
    std::size_t start_a = 0, len_a = 0, start_b = 0, len_b = 0;
    if (!marked_run(a, marked, start_a, len_a) || !marked_run(b, marked, start_b, len_b) || len_a != len_b)
        return false;
    const std::size_t na = a.atoms.size(), nb = b.atoms.size();
    const auto in_a = [&](std::size_t k) { return a.atoms[(start_a + k) % na]; };
    const auto in_b = [&](std::size_t k) { return b.atoms[(start_b + k) % nb]; };
    const std::size_t last = len_a - 1;
    // The run must be one path, walked the same way in b or backwards.
    bool forward = true, backward = true;
    for (std::size_t k = 0; k <= last; ++k) {
        forward = forward && in_a(k) == in_b(k);
        backward = backward && in_a(k) == in_b(last - k);
    }
    if (!forward && !backward) return false;
    out.p = in_a(0);
    out.q = in_a(last);
    out.bridges[0] = {static_cast<std::uint32_t>(len_a - 2), in_a(1), in_a(last - 1)};
    out.bridges[1] = outer_bridge(a, start_a, len_a);
    out.bridges[2] = outer_bridge(b, start_b, len_b);
    if (backward && !forward) std::swap(out.bridges[2].at_p, out.bridges[2].at_q);
    return true;
}

// The ligand of `c` that starts no bridge, and the sign of c's configuration
// read as (that ligand, the bridges' first atoms in order); 0 when c's
// ligands are not those.
double outer_sign(const ChiralConstraint& c, std::array<std::uint32_t, 3> firsts, std::uint32_t& outer) {
    outer = core::NONE;
    std::size_t found = 0;
    for (std::uint32_t l : c.ligands) {
        if (std::find(firsts.begin(), firsts.end(), l) != firsts.end()) ++found;
        else outer = l;
    }
    if (found != 3) return 0.0;
    const std::array<std::uint32_t, 4> order{outer, firsts[0], firsts[1], firsts[2]};
    const std::uint8_t parity = core::permutation_parity(c.ligands, order);
    return parity == 0 ? c.target : parity == 1 ? -c.target : 0.0;
}

// Whether a pair's configurations put one fourth ligand inside bridges too
// short to hold it.
bool inward_and_too_short(const Pair& pair, const ChiralConstraint& at_p, const ChiralConstraint& at_q) {
    std::uint32_t outer_p = core::NONE, outer_q = core::NONE;
    const auto& b = pair.bridges;
    const double sign_p = outer_sign(at_p, {b[0].at_p, b[1].at_p, b[2].at_p}, outer_p);
    const double sign_q = outer_sign(at_q, {b[0].at_q, b[1].at_q, b[2].at_q}, outer_q);
    if (sign_p == 0.0 || sign_q == 0.0 || sign_p != sign_q) return false;
    // A fourth ligand that is the other bridgehead, or one atom bonded to
    // both, is a fourth bridge (a propellane): no substituent to hold.
    if (outer_p == pair.q || (outer_p != core::NONE && outer_p == outer_q)) return false;
    std::array<std::uint32_t, 3> atoms{b[0].atoms, b[1].atoms, b[2].atoms};
    std::sort(atoms.begin(), atoms.end());
    const std::uint32_t ring = atoms[1] + atoms[2] + 2;
    return ring < (atoms[0] == 0 ? INWARD_RING_BONDED : INWARD_RING_APART);
}

}  // namespace

std::vector<std::uint32_t> inward_bridgeheads(const core::MolBuilder& mol, std::span<const chem::Ring> rings,
                                              std::span<const ChiralConstraint> constraints) {
    std::vector<std::uint32_t> centres;
    if (constraints.size() < 2) return centres;
    const std::size_t n = mol.num_atoms();
    std::vector<std::uint32_t> constraint_of(n, core::NONE);
    for (std::size_t i = 0; i < constraints.size(); ++i) constraint_of[constraints[i].centre] = std::uint32_t(i);

    // Per atom, its rings in list order.
    std::vector<std::uint32_t> offsets(n + 1, 0), of_atom;
    for (const chem::Ring& r : rings)
        for (std::uint32_t a : r.atoms) ++offsets[a + 1];
    for (std::size_t a = 0; a < n; ++a) offsets[a + 1] += offsets[a];
    of_atom.resize(offsets[n]);
    std::vector<std::uint32_t> fill(offsets.begin(), offsets.end() - 1);
    for (std::uint32_t r = 0; r < rings.size(); ++r)
        for (std::uint32_t a : rings[r].atoms) of_atom[fill[a]++] = r;

    std::vector<std::uint8_t> marked(n, 0);
    std::vector<std::uint32_t> seen_with(rings.size(), core::NONE);
    for (std::uint32_t ra = 0; ra < rings.size(); ++ra) {
        const chem::Ring& a = rings[ra];
        // Only rings meeting a at a centre can give a pair of centres.
        for (std::uint32_t atom : a.atoms) {
            if (constraint_of[atom] == core::NONE) continue;
            for (std::uint32_t k = offsets[atom]; k < offsets[atom + 1]; ++k) {
                const std::uint32_t rb = of_atom[k];
                if (rb <= ra || seen_with[rb] == ra) continue;
                seen_with[rb] = ra;
                const chem::Ring& b = rings[rb];
                for (std::uint32_t x : b.atoms) marked[x] = 1;
                for (std::uint32_t x : a.atoms) marked[x] = marked[x] == 1 ? 2 : 0;
                Pair pair;
                const bool found = shared_path(a, b, marked, pair);
                for (std::uint32_t x : b.atoms) marked[x] = 0;
                if (!found || constraint_of[pair.p] == core::NONE || constraint_of[pair.q] == core::NONE) continue;
                if (inward_and_too_short(pair, constraints[constraint_of[pair.p]], constraints[constraint_of[pair.q]])) {
                    centres.push_back(pair.p);
                    centres.push_back(pair.q);
                }
            }
        }
    }
    std::sort(centres.begin(), centres.end());
    centres.erase(std::unique(centres.begin(), centres.end()), centres.end());
    return centres;
}

}  // namespace quorix::conf
