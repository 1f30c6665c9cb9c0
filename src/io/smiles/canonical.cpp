#include "io/smiles/canonical.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ranges>
#include <unordered_map>

#include "core/components.hpp"
#include "core/error.hpp"
#include "core/permutation.hpp"
#include "core/polyhedron.hpp"
#include "core/scratch.hpp"
#include "core/valence.hpp"
#include "io/canon.hpp"
#include "io/smiles/arms.hpp"
#include "io/smiles/canonical_testing.hpp"
#include "io/stereo.hpp"

namespace quorix::io {

using core::Bond;
using core::BondOrder;
using core::BondStereo;
using core::MolBuilder;
using core::NONE;

namespace {

// A double bond whose cis/trans is known, as the sides of its substituents: per
// end, up to two substituents, each with the direction it is seen in from that
// end (1 or 2; equal directions across the bond mean the same side; 0 unknown).
struct Configured {
    std::uint32_t end_atom[2];
    std::uint32_t sub[2][2];
    std::uint8_t side[2][2];
};

std::uint8_t opposite(std::uint8_t d) { return d == 1 ? 2 : d == 2 ? 1 : 0; }

// Collects the substituents of `x` (its neighbours other than `partner`); false
// when there are more than two.
bool substituents(const MolBuilder& mol, std::uint32_t x, std::uint32_t partner, std::uint32_t (&sub)[2],
                  std::uint32_t (&bond)[2]) {
    sub[0] = sub[1] = bond[0] = bond[1] = NONE;
    unsigned k = 0;
    for (core::Neighbor nb : mol.neighbors(x)) {
        if (nb.atom == partner) continue;
        if (k == 2) return false;
        sub[k] = nb.atom;
        bond[k] = nb.bond;
        ++k;
    }
    return true;
}

// The double bonds whose configuration the written text will carry: stored values
// first, else the directional marks that count.
std::vector<Configured> configured_double_bonds(const MolBuilder& mol, std::span<const std::uint8_t> flags) {
    std::vector<Configured> out;
    bool any_stored = false;
    for (const Bond& b : mol.bonds) any_stored |= b.stereo != BondStereo::None;
    if (flags.empty() && !any_stored) return out;

    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        const Bond& bond = mol.bonds[d];
        // Without a stored value only a double bond with marks around can count.
        if (bond.stereo == BondStereo::None && (flags.empty() || bond.order != BondOrder::Double)) continue;
        Configured c{};
        std::uint32_t sub_bond[2][2];
        c.end_atom[0] = bond.begin;
        c.end_atom[1] = bond.end;
        if (!substituents(mol, bond.begin, bond.end, c.sub[0], sub_bond[0]) ||
            !substituents(mol, bond.end, bond.begin, c.sub[1], sub_bond[1]))
            continue;
        const bool stored = has_double_bond_stereo(mol, d) &&
                            (bond.stereo == BondStereo::Cis || bond.stereo == BondStereo::Trans);
        if (stored) {
            for (int e = 0; e < 2; ++e) {
                const std::uint8_t ref_side = e == 0 || bond.stereo == BondStereo::Cis ? 1 : 2;
                for (int k = 0; k < 2; ++k) {
                    if (c.sub[e][k] == NONE) {
                        c.side[e][k] = 0;
                    } else {
                        c.side[e][k] = c.sub[e][k] == bond.stereo_atoms[e] ? ref_side : opposite(ref_side);
                    }
                }
            }
            out.push_back(c);
            continue;
        }
        if (flags.empty() || bond.order != BondOrder::Double || (bond.flags & core::AROMATIC) ||
            in_small_ring(mol, d))
            continue;
        bool known[2] = {false, false};
        for (int e = 0; e < 2; ++e) {
            for (int k = 0; k < 2; ++k) {
                c.side[e][k] = 0;
                const std::uint32_t sb = sub_bond[e][k];
                if (sb == NONE || !flags[sb] || mol.bonds[sb].order == BondOrder::Double) continue;
                const auto dir = static_cast<std::uint8_t>(mol.bonds[sb].direction);
                c.side[e][k] = mol.bonds[sb].begin == c.end_atom[e] ? dir : opposite(dir);
                known[e] = true;
            }
            // A lone mark at an end also places the unmarked substituent.
            for (int k = 0; k < 2; ++k)
                if (c.sub[e][k] != NONE && c.side[e][k] == 0) c.side[e][k] = opposite(c.side[e][1 - k]);
        }
        if (known[0] && known[1]) out.push_back(c);
    }
    return out;
}

// Splits tied cells by double-bond configuration seen against substituents chosen
// by class, so that E and Z branches that refinement cannot tell apart by the
// graph alone do not share a cell. Returns whether a cell was split.
class ConfigurationSplitter {
public:
    // `forward`: the partitions given only ever split further (one tie-break,
    // no backtracking), so a bond whose two atoms stand alone can be let go: it
    // keys no atom of a tied cell again.
    explicit ConfigurationSplitter(std::vector<Configured> bonds, bool forward = false)
        : bonds_(std::move(bonds)), forward_(forward) {}
    bool empty() const { return bonds_.empty(); }

    // Only the cells of end atoms of bonds that can be read are keyed: every other
    // atom keys 0, so the cells without such an atom stay whole.
    bool split(Partition& p) {
        if (forward_)
            std::erase_if(bonds_, [&p](const Configured& c) {
                return p.cell_size(p.cell_of[c.end_atom[0]]) == 1 && p.cell_size(p.cell_of[c.end_atom[1]]) == 1;
            });
        const std::uint32_t n = p.num_atoms();
        const std::uint32_t cells_before = p.num_cells();
        if (key_.size() != n) key_.assign(n, 0);
        cells_.clear();
        bool any = false;
        for (const Configured& c : bonds_) {
            std::uint8_t ref_side[2];
            bool ok = true;
            for (int e = 0; e < 2 && ok; ++e) {
                const std::uint32_t s0 = c.sub[e][0], s1 = c.sub[e][1];
                std::uint32_t ref;
                if (s0 == NONE) {
                    ok = false;
                    break;
                } else if (s1 == NONE) {
                    ref = 0;
                } else {
                    const std::uint32_t c0 = p.cell_start[p.cell_of[s0]], c1 = p.cell_start[p.cell_of[s1]];
                    if (c0 == c1) {
                        ok = false;
                        break;
                    }
                    ref = c0 < c1 ? 0 : 1;
                }
                ref_side[e] = c.side[e][ref];
                ok = ref_side[e] != 0;
            }
            if (!ok) continue;
            const std::uint8_t k = ref_side[0] == ref_side[1] ? 1 : 2;
            for (std::uint32_t x : c.end_atom) {
                // An atom at two configured bonds (a cumulene) keeps both in one byte.
                key_[x] = std::uint8_t(key_[x] * 3 + k);
                keyed_atoms_.push_back(x);
                if (p.cell_size(p.cell_of[x]) >= 2) cells_.push_back(p.cell_of[x]);
            }
            any = true;
        }
        if (!any) return false;
        std::sort(cells_.begin(), cells_.end());
        cells_.erase(std::unique(cells_.begin(), cells_.end()), cells_.end());
        for (std::uint32_t cell : cells_) {
            keyed_.clear();
            for (std::uint32_t pos = p.cell_start[cell]; pos < p.cell_end[cell]; ++pos) {
                const std::uint32_t a = p.order[pos];
                keyed_.push_back({std::uint64_t(key_[a] + 1u) << 56, a});
            }
            split_cell_coded(p, cell, std::span<CodedAtom>(keyed_));
        }
        for (std::uint32_t x : keyed_atoms_) key_[x] = 0;
        keyed_atoms_.clear();
        return p.num_cells() != cells_before;
    }

private:
    std::vector<Configured> bonds_;
    bool forward_ = false;
    std::vector<std::uint8_t> key_;  // per atom, 0 between calls
    std::vector<std::uint32_t> keyed_atoms_, cells_;
    std::vector<CodedAtom> keyed_;
};

std::uint32_t find(std::vector<std::uint32_t>& parent, std::uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Whether a later tie can hide a stereo difference: refinement cannot always tell a
// centre's tied neighbours apart (ring cis/trans, pseudo-asymmetric centres), and
// then which of them is split off first decides the written marks.
bool has_stereo(const MolBuilder& mol, bool configured_bonds) {
    if (configured_bonds) return true;
    for (const core::Atom& a : mol.atoms)
        if (a.chiral_tag != core::ChiralTag::Unspecified) return true;
    return false;
}

bool is_tetrahedral_tag(core::ChiralTag tag) { return tag == core::ChiralTag::Cw || tag == core::ChiralTag::Ccw; }

// One piece of `mol` as a molecule of its own: `members` are its atoms in the
// order the copy stores them, and its bonds keep their order in the molecule.
// `local` (one slot per atom of `mol`) receives each member's index in the copy;
// `piece_of` numbers the pieces. False when a centre has more ligands than its
// mark can be carried over with.
bool extract_piece(const MolBuilder& mol, std::span<const std::uint32_t> members, std::span<const std::uint32_t> piece_of,
                   std::vector<std::uint32_t>& local, std::vector<std::uint32_t>& piece_bonds, MolBuilder& sub) {
    const std::uint32_t n = mol.num_atoms();
    const std::uint32_t* next = mol.next_half_edge.data();
    const std::uint32_t k = piece_of[members.front()];
    sub = MolBuilder();
    piece_bonds.clear();
    for (const std::uint32_t a : members) {
        local[a] = sub.add_atom(mol.atoms[a]);
        for (std::uint32_t h = mol.first_half_edge[a]; h != NONE; h = next[h])
            if ((h & 1u) == 0) piece_bonds.push_back(h >> 1);
    }
    std::sort(piece_bonds.begin(), piece_bonds.end());
    for (std::uint32_t b : piece_bonds) {
        Bond copy = mol.bonds[b];
        copy.begin = local[copy.begin];
        copy.end = local[copy.end];
        for (std::uint32_t& x : copy.stereo_atoms)
            if (x != NONE) x = x < n && piece_of[x] == k ? local[x] : NONE;
        sub.push_bond(copy);
    }
    // Marks read the neighbours in half-edge order, which the copy may store
    // otherwise: such a mark is turned or renumbered to keep its meaning. A
    // polyhedron's hydrogen counts first in both orders. Allenes read their
    // ends' neighbours and are not carried over.
    std::uint32_t own[17], copied[17];
    for (const std::uint32_t a : members) {
        const core::ChiralTag tag = mol.atoms[a].chiral_tag;
        if (tag == core::ChiralTag::Unspecified) continue;
        if (tag == core::ChiralTag::Allene) return false;
        const std::uint32_t vertices = core::polyhedron_vertex_count(tag);
        std::uint32_t d = vertices != 0 && vertices == mol.degree[a] + 1u ? 1 : 0;
        own[0] = copied[0] = NONE;
        for (core::Neighbor nb : mol.neighbors(a)) {
            if (d == 16) return false;
            own[d++] = local[nb.atom];
        }
        d = vertices != 0 && vertices == mol.degree[a] + 1u ? 1 : 0;
        for (core::Neighbor nb : sub.neighbors(local[a])) copied[d++] = nb.atom;
        core::Atom& atom = sub.atoms[local[a]];
        if (vertices != 0) {
            if (!core::polyhedron_fits_bonds(vertices, mol.degree[a]) || atom.chiral_permutation == 0) continue;
            const auto renumbered = core::renumber_polyhedral_permutation(tag, atom.chiral_permutation, {own, d}, {copied, d});
            if (!renumbered) return false;
            atom.chiral_permutation = *renumbered;
            continue;
        }
        const std::uint8_t parity = core::permutation_parity({own, d}, {copied, d});
        if (parity > 1) return false;
        if (parity == 1) atom.chiral_tag = atom.chiral_tag == core::ChiralTag::Cw ? core::ChiralTag::Ccw : core::ChiralTag::Cw;
    }
    return true;
}

// The pieces (connected components) of a molecule, numbered by their first atom,
// each piece's atoms listed in an order the caller sets.
struct Pieces {
    std::vector<std::uint32_t> piece_of, start, members;

    explicit Pieces(const MolBuilder& mol) : piece_of(core::connected_components(mol)) {
        const std::uint32_t n = mol.num_atoms();
        std::uint32_t pieces = 0;
        for (std::uint32_t k : piece_of) pieces = std::max(pieces, k + 1);
        start.assign(pieces + 1, 0);
        for (std::uint32_t a = 0; a < n; ++a) ++start[piece_of[a] + 1];
        for (std::uint32_t k = 0; k < pieces; ++k) start[k + 1] += start[k];
        order_members(std::views::iota(0u, n));
    }
    std::uint32_t count() const { return static_cast<std::uint32_t>(start.size() - 1); }
    // Each piece's atoms in the order `atoms` (every atom once) lists them.
    template <class Atoms>
    void order_members(const Atoms& atoms) {
        members.resize(piece_of.size());
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (std::uint32_t a : atoms) members[fill[piece_of[a]]++] = a;
    }
    std::span<const std::uint32_t> members_of(std::uint32_t k) const {
        return std::span<const std::uint32_t>(members).subspan(start[k], start[k + 1] - start[k]);
    }
};

// Buckets copied-out pieces that may be stored alike; equality is checked in full.
std::uint64_t piece_hash(const MolBuilder& sub) {
    std::uint64_t h = 14695981039346656037ull;
    auto mix = [&h](std::uint64_t v) { h = (h ^ v) * 1099511628211ull; };
    for (const core::Atom& a : sub.atoms)
        mix((std::uint64_t{a.atomic_num} << 40) | (std::uint64_t{a.isotope} << 24) |
            (std::uint64_t(static_cast<std::uint8_t>(a.formal_charge)) << 16) |
            (std::uint64_t{a.num_explicit_hs} << 8) | static_cast<std::uint8_t>(a.chiral_tag));
    for (const Bond& b : sub.bonds) mix((std::uint64_t{b.begin} << 32) ^ b.end ^ (std::uint64_t(b.order) << 60));
    return h;
}

// A node of the search: a refined partition and the tied cell it branches on.
// Automorphisms found at equal texts prune its candidates only when they fix every
// atom split off on the way to it.
struct Node {
    Partition partition;
    std::uint32_t cell = 0;
    std::uint32_t fixed_atom = NONE;  // the atom split off to reach it; NONE at the root
    std::vector<std::uint32_t> candidates;
    std::size_t next = 0;
    std::vector<std::uint32_t> parent;  // union-find over atoms, once parent_ready
    bool parent_ready = false;
    std::vector<std::uint32_t> tried;
    // Per set root, whether the set holds a tried candidate: kept once many are
    // tried, so that a check does not walk them all.
    std::vector<std::uint8_t> holds_tried;
    bool flags = false;
    // The automorphisms found so far that fix every atom split off on the way to
    // this node, in the order they were found.
    std::vector<std::uint32_t> fixing;
    // Centres whose marks the swap of the cell's two atoms inverts, all else kept:
    // the second candidate's leaves are the first's with these marks inverted.
    std::vector<std::uint32_t> flips;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> swapped;  // the swap's pairs
};

// An automorphism by the atoms it moves, (atom, image) in ascending atom order:
// the ones a search finds between leaves mostly move a few atoms.
using Moves = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

std::uint32_t image_under(const Moves& moves, std::uint32_t x) {
    const auto it = std::lower_bound(moves.begin(), moves.end(), std::pair<std::uint32_t, std::uint32_t>{x, 0});
    return it != moves.end() && it->first == x ? it->second : x;
}

// Storage of one canonical call, kept per thread so that a warm call allocates
// little beyond its result. Nodes and automorphisms are pools: only the first
// `depth` / `automorphism_count` entries are live.
struct CanonScratch {
    Partition root;
    RefineWorkspace work;
    std::vector<std::uint32_t> classes;
    std::vector<Node> nodes;
    std::vector<Moves> automorphisms;
    Moves moves;  // of the leaf at hand
    Partition child;
    SmilesOutput best, candidate;
    std::vector<std::uint32_t> best_order;
    std::vector<std::uint32_t> best_position;  // the priorities that write `best`
    std::vector<std::uint32_t> gamma;
    std::vector<std::uint32_t> marks;  // per atom, NONE between uses
    CanonicalWork* counted = nullptr;  // tests only
    std::vector<std::uint32_t> piece_of, piece_stack, near;
    ArmScratch arms;
    std::vector<std::uint8_t> frozen;  // per atom when some atom is, else empty
    std::vector<std::uint32_t> flip_image, flip_moved, flip_at;  // NONE between uses (image)
    std::vector<std::uint32_t> flip_level;
};

// Grows the swap of x and y, two atoms of one cell of p, along the arms from
// them: each tied neighbour of a swapped atom goes to the one neighbour of its
// image in the same cell. False, as soon as it is seen, when that is not one
// other atom or the swap would move more than `limit` atoms. `image` is NONE
// off `moved` on entry; the pairs are added to both.
bool grow_swap(const MolBuilder& m, const Partition& p, std::uint32_t x, std::uint32_t y,
               std::vector<std::uint32_t>& image, std::vector<std::uint32_t>& moved, std::size_t limit) {
    auto only_neighbour_in = [&](std::uint32_t atom, std::uint32_t cell) {
        std::uint32_t found = NONE;
        for (core::Neighbor nb : m.neighbors(atom)) {
            if (p.cell_of[nb.atom] != cell) continue;
            if (found != NONE) return NONE;
            found = nb.atom;
        }
        return found;
    };
    auto pair = [&](std::uint32_t u, std::uint32_t v) {
        image[u] = v;
        image[v] = u;
        moved.push_back(u);
        moved.push_back(v);
    };
    pair(x, y);
    for (std::size_t q = 0; q < moved.size(); ++q) {
        const std::uint32_t u = moved[q], v = image[u];
        for (core::Neighbor nb : m.neighbors(u)) {
            const std::uint32_t w = nb.atom, cell = p.cell_of[w];
            if (p.cell_size(cell) < 2 || image[w] != NONE) continue;
            const std::uint32_t w_image = only_neighbour_in(v, cell);
            if (w_image == NONE || w_image == w || image[w_image] != NONE || only_neighbour_in(u, cell) != w ||
                moved.size() > limit)
                return false;
            pair(w, w_image);
        }
    }
    return true;
}

class Search {
public:
    // `text_wanted` false: the caller reads only the atom order of the result, and
    // a text is written only when two leaves must be compared.
    Search(const MolBuilder& mol, std::span<const std::uint8_t> effective_marks, CanonScratch& s, bool text_wanted)
        : mol_(mol), configurations_(configured_double_bonds(mol, effective_marks)),
          writer_(mol, SmilesMode::Canonical, effective_marks), s_(s), text_wanted_(text_wanted) {
        deep_ = has_stereo(mol, !configurations_.empty());
        leaf_budget_ = std::max<std::uint32_t>(8, 30000 / std::max<std::uint32_t>(mol.num_atoms(), 1));
    }

    // Refinement; below the root, tied cells are also split by double-bond
    // configuration. The root is left as it is so that the first tied cell and its
    // candidates, and with them every text that was already invariant, stay the same.
    void refine(Partition& p) {
        if (s_.counted) ++s_.counted->refinements;
        refine_partition(p, mol_, s_.work);
        if (configurations_.empty()) return;
        while (configurations_.split(p)) refine_partition(p, mol_, s_.work);
    }

    // `refined` is the refined root; it is used up.
    SmilesOutput run(Partition& refined) {
        const auto first = next_tied_cell(refined);
        if (!first) {
            SmilesOutput out;
            if (text_wanted_)
                writer_.write(refined.position, out);
            else
                writer_.write_order(refined.position, out.atom_order);
            return out;
        }
        depth_ = 0;
        automorphism_count_ = 0;
        has_best_ = false;
        push(refined, *first, NONE);
        const bool one_leaf = one_leaf_decides(s_.nodes[0].partition, *first);
        while (depth_ > 0) {
            Node& node = s_.nodes[depth_ - 1];
            if (!node.flips.empty() && !node.tried.empty()) node.next = node.candidates.size();
            std::uint32_t a = NONE;
            while (node.next < node.candidates.size() && a == NONE) {
                const std::uint32_t c = node.candidates[node.next++];
                if (!node.tried.empty()) ready_parents(node);
                bool symmetric = false;
                if (node.flags) {
                    symmetric = node.holds_tried[find(node.parent, c)];
                } else {
                    for (std::uint32_t t : node.tried) symmetric |= find(node.parent, c) == find(node.parent, t);
                }
                if (!symmetric) a = c;
            }
            if (a == NONE) {
                --depth_;
                continue;
            }
            node.tried.push_back(a);
            if (node.flags) {
                node.holds_tried[find(node.parent, a)] = 1;
            } else if (node.tried.size() == 16) {
                start_flags(node);
            }
            Partition& child = s_.child;
            // Atoms before the node's cell are alone, in the child too. A node
            // with no candidate left to try hands its partition over.
            const std::uint32_t start = node.partition.cell_start[node.cell];
            if (node.next == node.candidates.size() || !node.flips.empty())
                std::swap(child, node.partition);
            else
                child = node.partition;
            individualise(child, a, node.cell);
            refine(child);
            const auto tied = next_tied_cell(child, start);
            // With one leaf to find, the first candidate at every level is the
            // first atom of the lowest tied cell: the greedy completion.
            if (tied && deep_ && !one_leaf && leaves_ < leaf_budget_) {
                push(child, *tied, a);
                continue;
            }
            complete(child, tied ? child.cell_start[*tied] : child.num_atoms());
            leaf(child);
            if (one_leaf) break;
        }
        if (!has_best_) internal_error("格非空");
        return std::move(s_.best);
    }

private:
    // Beyond this many written candidates (fewer for large molecules), further ties
    // are broken greedily.
    std::uint32_t leaf_budget_ = 16;

    const MolBuilder& mol_;
    ConfigurationSplitter configurations_;
    SmilesWriter writer_;
    CanonScratch& s_;
    bool text_wanted_ = true;
    bool best_has_text_ = false;  // else `s_.best` holds only the atom order
    bool deep_ = false;
    std::uint8_t shortcut_ = 0;  // whether automorphisms decide equal texts: 0 not yet known, 1 yes, 2 no
    std::uint8_t arms_mode_ = 0;  // whether arm swaps can be checked: 0 not yet known, 1 yes, 2 no
    bool has_best_ = false;
    std::size_t depth_ = 0;
    std::size_t automorphism_count_ = 0;
    std::uint32_t leaves_ = 0;
    bool flips_on_path_ = false;  // some node found mark groups

    // Whether the first candidate's leaf is known to be the result. The twin and
    // piece checks pay off only on many identical candidates; the arm check costs
    // about one pass over the tied atoms, and a deep search one leaf per tie.
    [[gnu::noinline, gnu::cold]] bool one_leaf_decides(const Partition& root, std::uint32_t first_cell) {
        if (root.cell_size(first_cell) >= 8 && (tied_cells_are_twins(root) || pieces_write_alike(root))) return true;
        return tied_cells_are_swappable_arms(root);
    }

    // Every tie the symmetry of arms that swap as a whole (see arms.hpp): the rings
    // and forks hanging off a chain of stereocentres, the arms of a star.
    bool tied_cells_are_swappable_arms(const Partition& root) {
        if (arms_mode_ == 0) arms_mode_ = find_frozen_atoms() ? 1 : 2;
        if (arms_mode_ != 1) return false;
        const SwapCheck swap = [this](std::span<const std::uint32_t> image, std::span<const std::uint32_t> moved) {
            if (!s_.frozen.empty())
                for (std::uint32_t x : moved)
                    if (s_.frozen[x]) return false;
            auto gamma = [&](std::uint32_t x) { return image[x] == NONE ? x : image[x]; };
            // Only centres at or next to moved atoms see their ligands move.
            std::vector<std::uint32_t>& near = s_.near;
            near.assign(moved.begin(), moved.end());
            for (std::uint32_t x : moved)
                for (core::Neighbor nb : mol_.neighbors(x)) near.push_back(nb.atom);
            return automorphic_on(gamma, moved, near);
        };
        return tied_cells_are_arms(mol_, root, s_.arms, swap);
    }

    // Whether every tied cell of the refined root holds twins: atoms any two of
    // which can be exchanged, all else fixed, without changing the molecule or its
    // text. Every leaf keeps the root's cells at their places, so any two leaves
    // differ by exchanges inside cells and write the same text: the first
    // candidate's leaf is the result, and the other candidates need not be tried.
    // Exchanges of neighbours in a chain generate every permutation of a cell.
    [[gnu::noinline, gnu::cold]] bool tied_cells_are_twins(const Partition& p) {
        if (shortcut_ == 0) shortcut_ = automorphisms_decide_text() ? 1 : 2;
        if (shortcut_ != 1) return false;
        for (auto cell = next_tied_cell(p); cell; cell = next_tied_cell(p, p.cell_end[*cell])) {
            for (std::uint32_t pos = p.cell_start[*cell] + 1; pos < p.cell_end[*cell]; ++pos)
                if (!exchangeable(p.order[pos - 1], p.order[pos])) return false;
            if (p.cell_end[*cell] == p.num_atoms()) break;
        }
        return true;
    }

    // Whether every leaf writes the same text because of how the molecule falls
    // apart into pieces (connected components). A leaf keeps every atom inside its
    // root cell, and the writer takes the pieces in the order of their first atoms
    // and writes each from the order of its own atoms alone. So when each piece
    // writes one text under every order of its atoms that keeps the root's cells,
    // and pieces whose first root cell is the same write alike, every leaf writes
    // the same text, and the first candidate's leaf is the result.
    //
    // Each kind of piece is written under all its orders once (within a budget);
    // a further piece of the kind is matched to the first, atom by atom in written
    // order, by a map that keeps atoms, bonds, root cells and atom texts.
    [[gnu::noinline, gnu::cold]] bool pieces_write_alike(const Partition& p) {
        if (shortcut_ == 0) shortcut_ = automorphisms_decide_text() ? 1 : 2;
        if (shortcut_ != 1) return false;
        const MolBuilder& mol = mol_;
        const std::uint32_t n = mol.num_atoms();
        const std::uint32_t* next = mol.next_half_edge.data();
        auto root_cell = [&](std::uint32_t a) { return p.cell_start[p.cell_of[a]]; };

        // Pieces numbered by their first atom in root order; each piece's atoms in
        // root order.
        std::vector<std::uint32_t>& piece_of = s_.piece_of;
        std::vector<std::uint32_t>& stack = s_.piece_stack;
        piece_of.assign(n, NONE);
        std::uint32_t pieces = 0;
        for (std::uint32_t pos = 0; pos < n; ++pos) {
            const std::uint32_t seed = p.order[pos];
            if (piece_of[seed] != NONE) continue;
            piece_of[seed] = pieces;
            stack.assign(1, seed);
            std::uint32_t size = 1;
            while (!stack.empty()) {
                const std::uint32_t a = stack.back();
                stack.pop_back();
                for (std::uint32_t h = mol.first_half_edge[a]; h != NONE; h = next[h]) {
                    const Bond& b = mol.bonds[h >> 1];
                    const std::uint32_t far = (h & 1u) ? b.begin : b.end;
                    if (piece_of[far] == NONE) {
                        piece_of[far] = pieces;
                        stack.push_back(far);
                        ++size;
                    }
                }
            }
            if (size == n) return false;  // one piece: nothing to gain
            ++pieces;
        }
        // The search would try about one candidate per piece of the first tied
        // cell, each at a cost of the whole molecule: that bounds what this check
        // may spend (in atoms written), and with few such pieces it is not worth it.
        std::uint64_t budget = 0;
        {
            const auto cell = next_tied_cell(p);
            std::vector<std::uint32_t>& seen = stack;
            seen.clear();
            for (std::uint32_t pos = p.cell_start[*cell]; pos < p.cell_end[*cell]; ++pos)
                seen.push_back(piece_of[p.order[pos]]);
            std::sort(seen.begin(), seen.end());
            const auto spread = static_cast<std::uint64_t>(std::unique(seen.begin(), seen.end()) - seen.begin());
            if (spread < 4) return false;
            budget = std::uint64_t{n} * spread / 2;
        }
        std::vector<std::uint32_t> piece_start(pieces + 1, 0), members(n);
        for (std::uint32_t a = 0; a < n; ++a) ++piece_start[piece_of[a] + 1];
        for (std::uint32_t k = 0; k < pieces; ++k) piece_start[k + 1] += piece_start[k];
        {
            std::vector<std::uint32_t> fill(piece_start.begin(), piece_start.end() - 1);
            for (std::uint32_t pos = 0; pos < n; ++pos) members[fill[piece_of[p.order[pos]]]++] = p.order[pos];
        }

        // One piece as a molecule of its own, atoms in root order.
        std::vector<std::uint32_t> local(n, NONE), piece_bonds;
        auto extract = [&](std::uint32_t k, MolBuilder& sub) {
            return extract_piece(mol, std::span<const std::uint32_t>(members).subspan(piece_start[k], piece_start[k + 1] - piece_start[k]),
                                 piece_of, local, piece_bonds, sub);
        };

        // Kinds of piece by the text of their atoms in root order.
        struct Kind {
            std::uint32_t piece;                 // the first piece of the kind
            std::vector<std::uint32_t> written;  // its atoms in written order
        };
        std::map<std::string, Kind> kinds;
        std::vector<const std::string*> text_of(pieces, nullptr);
        std::vector<std::uint32_t> written_at(n, NONE);
        MolBuilder sub;
        SmilesOutput out;
        std::vector<std::uint32_t> priorities, perm;
        for (std::uint32_t k = 0; k < pieces; ++k) {
            const std::uint32_t size = piece_start[k + 1] - piece_start[k];
            if (!extract(k, sub)) return false;
            SmilesWriter writer(sub, SmilesMode::Canonical);
            priorities.resize(size);
            for (std::uint32_t i = 0; i < size; ++i) priorities[i] = i;
            writer.write(priorities, out);
            std::vector<std::uint32_t> written(size);
            for (std::uint32_t i = 0; i < size; ++i) written[i] = members[piece_start[k] + out.atom_order[i]];
            auto found = kinds.find(out.text);
            if (found != kinds.end()) {
                if (!same_piece(found->second.written, written, written_at, root_cell)) return false;
                text_of[k] = &found->first;
                continue;
            }
            // A new kind: every order of its atoms that keeps the root cells, as
            // long as they fit the budget.
            std::uint64_t orders = 1;
            for (std::uint32_t i = 1, run = 1; i < size && orders <= budget; ++i) {
                const bool same = root_cell(members[piece_start[k] + i]) == root_cell(members[piece_start[k] + i - 1]);
                run = same ? run + 1 : 1;
                orders *= run;
            }
            if (orders > budget / size) return false;
            perm.resize(size);
            for (std::uint32_t i = 0; i < size; ++i) perm[i] = i;
            const std::string first_text = out.text;
            for (;;) {
                // Next order: the last cell (runs of one root cell in root order)
                // that can step does, the cells after it start over.
                std::uint32_t end = size;
                bool stepped = false;
                while (end > 0 && !stepped) {
                    std::uint32_t begin = end - 1;
                    const std::uint32_t cell = root_cell(members[piece_start[k] + perm[begin]]);
                    while (begin > 0 && root_cell(members[piece_start[k] + perm[begin - 1]]) == cell) --begin;
                    stepped = std::next_permutation(perm.begin() + begin, perm.begin() + end);
                    end = begin;
                }
                if (!stepped) break;
                if (budget < size) return false;
                budget -= size;
                for (std::uint32_t i = 0; i < size; ++i) priorities[perm[i]] = i;
                writer.write(priorities, out);
                if (out.text != first_text) return false;
            }
            auto [it, inserted] = kinds.emplace(first_text, Kind{k, std::move(written)});
            text_of[k] = &it->first;
        }

        // Pieces that start in the same root cell write alike, and the molecule as a
        // whole in root order writes the pieces' texts in turn (the writer keeps to
        // each piece on its own).
        std::string joined;
        std::vector<std::uint8_t> seen(pieces, 0);
        std::uint32_t cell_text_start = NONE;
        const std::string* cell_text = nullptr;
        for (std::uint32_t pos = 0; pos < n; ++pos) {
            const std::uint32_t k = piece_of[p.order[pos]];
            if (seen[k]) continue;
            seen[k] = 1;
            const std::uint32_t cell = root_cell(p.order[pos]);
            if (cell == cell_text_start && *cell_text != *text_of[k]) return false;
            cell_text_start = cell;
            cell_text = text_of[k];
            if (!joined.empty()) joined += '.';
            joined += *text_of[k];
        }
        writer_.write(p.position, out);
        return out.text == joined;
    }

    // Whether mapping the atoms of one piece onto another's, position by position
    // in written order, keeps atoms, atom texts, root cells and bonds.
    template <class RootCell>
    bool same_piece(const std::vector<std::uint32_t>& from, const std::vector<std::uint32_t>& to,
                    std::vector<std::uint32_t>& written_at, RootCell root_cell) const {
        if (from.size() != to.size()) return false;
        for (std::uint32_t i = 0; i < from.size(); ++i) written_at[from[i]] = i;
        const std::uint32_t* next = mol_.next_half_edge.data();
        bool ok = true;
        for (std::uint32_t i = 0; i < from.size() && ok; ++i) {
            const std::uint32_t x = from[i], y = to[i];
            // @/@@ are compared below, against the ligand order.
            core::Atom ax = mol_.atoms[x], ay = mol_.atoms[y];
            if (is_tetrahedral(ax) && is_tetrahedral(ay)) ax.chiral_tag = ay.chiral_tag = core::ChiralTag::Unspecified;
            ok = ax == ay && mol_.degree[x] == mol_.degree[y] && root_cell(x) == root_cell(y) &&
                 writer_.same_atom_text(x, y);
            // Each bond of x has its image at y: same order, flags and direction.
            for (std::uint32_t h = mol_.first_half_edge[x]; h != NONE && ok; h = next[h]) {
                const Bond& b = mol_.bonds[h >> 1];
                const std::uint32_t far = (h & 1u) ? b.begin : b.end;
                const std::uint32_t far_image = to[written_at[far]];
                const std::uint32_t image = mol_.bond_between(y, far_image);
                if (image == NONE) {
                    ok = false;
                    break;
                }
                const Bond& c = mol_.bonds[image];
                ok = c.order == b.order && c.flags == b.flags &&
                     (b.order != BondOrder::Dative || (c.begin == y) == (b.begin == x));
            }
        }
        // A centre and its image read their ligands in corresponding order.
        std::uint32_t mapped[16], own[16];
        for (std::uint32_t i = 0; i < from.size() && ok; ++i) {
            const std::uint32_t x = from[i], y = to[i];
            if (!is_tetrahedral(mol_.atoms[x])) continue;
            if (mol_.degree[x] > 16) {
                ok = false;
                break;
            }
            std::uint32_t d = 0;
            for (core::Neighbor nb : mol_.neighbors(x)) mapped[d++] = to[written_at[nb.atom]];
            d = 0;
            for (core::Neighbor nb : mol_.neighbors(y)) own[d++] = nb.atom;
            const std::uint8_t parity = core::permutation_parity({mapped, d}, {own, d});
            const bool flipped = mol_.atoms[x].chiral_tag != mol_.atoms[y].chiral_tag;
            ok = parity <= 1 && flipped == (parity == 1);
        }
        for (std::uint32_t a : from) written_at[a] = NONE;
        return ok;
    }

    // Opens a node on `p`, taking its contents (p is left holding spare storage).
    void push(Partition& p, std::uint32_t cell, std::uint32_t fixed_atom) {
        if (depth_ == s_.nodes.size()) s_.nodes.emplace_back();
        Node& node = s_.nodes[depth_];
        node.cell = cell;
        node.fixed_atom = fixed_atom;
        node.candidates.assign(p.order.begin() + p.cell_start[cell], p.order.begin() + p.cell_end[cell]);
        if (node.candidates.empty()) internal_error("格非空");
        node.next = 0;
        node.parent_ready = false;
        node.tried.clear();
        node.flags = false;
        std::swap(node.partition, p);
        ++depth_;
        // The automorphisms that fix the path: those fixing the parent's path
        // that also fix the atom split off here.
        node.fixing.clear();
        if (depth_ == 1) {
            for (std::uint32_t k = 0; k < automorphism_count_; ++k) node.fixing.push_back(k);
        } else {
            for (std::uint32_t k : s_.nodes[depth_ - 2].fixing)
                if (fixed_atom == NONE || image_under(s_.automorphisms[k], fixed_atom) == fixed_atom)
                    node.fixing.push_back(k);
        }
        for (std::uint32_t k : node.fixing) unite(node, s_.automorphisms[k]);
        node.flips.clear();
        if (deep_ && node.partition.cell_size(cell) == 2) {
            find_flips(node);
            // Twins (two methyls of one carbon): the second's subtree is the
            // first's image, so it is known alike without being searched.
            const std::uint32_t a = node.candidates[0], b = node.candidates[1];
            if (node.flips.empty() && shortcut_ == 1 && exchangeable(a, b)) unite(node, Moves{{a, b}, {b, a}});
        }
    }

    // A node whose two candidates a and b are swapped, with the arms grown from
    // them, by a map that keeps everything the text shows but the marks of some
    // centres it fixes, each a cell of its own. Those centres' marks key no split
    // from here on, so the map carries the subtree below a, on the molecule with
    // those marks inverted, onto the subtree below b: b's leaves write a's texts
    // with those marks inverted, and trying a alone with both forms of each leaf
    // covers them. The centres must not be inverted by another node on the path,
    // so that the forms of each leaf are chosen mark group by mark group.
    [[gnu::noinline]] void find_flips(Node& node) {
        if (shortcut_ == 0) shortcut_ = automorphisms_decide_text() ? 1 : 2;
        if (shortcut_ != 1) return;
        const Partition& p = node.partition;
        const std::uint32_t a = p.order[p.cell_start[node.cell]], b = p.order[p.cell_start[node.cell] + 1];
        std::vector<std::uint32_t>& image = s_.flip_image;
        if (image.size() != p.num_atoms()) image.assign(p.num_atoms(), NONE);
        std::vector<std::uint32_t>& moved = s_.flip_moved;
        moved.clear();
        bool ok = grow_swap(mol_, p, a, b, image, moved, SIZE_MAX);
        if (ok) {
            auto gamma = [&](std::uint32_t x) { return image[x] == NONE ? x : image[x]; };
            std::vector<std::uint32_t>& near = s_.near;
            near.assign(moved.begin(), moved.end());
            for (std::uint32_t x : moved)
                for (core::Neighbor nb : mol_.neighbors(x)) near.push_back(nb.atom);
            std::sort(near.begin(), near.end());
            near.erase(std::unique(near.begin(), near.end()), near.end());
            ok = automorphic_on(gamma, moved, near, &node.flips) && !node.flips.empty();
        }
        for (std::uint32_t x : node.flips)
            ok = ok && image[x] == NONE && p.cell_size(p.cell_of[x]) == 1;
        // Per atom, the level whose flips last took it: right for every node on
        // the path, and checked against the node for a stale one.
        std::vector<std::uint32_t>& held = s_.flip_level;
        if (held.size() != p.num_atoms()) held.assign(p.num_atoms(), NONE);
        for (std::uint32_t x : node.flips) {
            const std::uint32_t level = held[x];
            ok = ok && (level == NONE || level + 1 >= depth_ ||
                        std::ranges::find(s_.nodes[level].flips, x) == s_.nodes[level].flips.end());
        }
        if (ok)
            for (std::uint32_t x : node.flips) held[x] = static_cast<std::uint32_t>(depth_ - 1);
        node.swapped.clear();
        if (ok)
            for (std::size_t q = 0; q < moved.size(); q += 2) node.swapped.emplace_back(moved[q], moved[q + 1]);
        for (std::uint32_t x : moved) image[x] = NONE;
        if (!ok) node.flips.clear();
        if (ok) flips_on_path_ = true;
    }

    // Whether a node on the path has mark groups.
    bool path_has_flips() const {
        if (!flips_on_path_) return false;
        for (std::size_t level = 0; level < depth_; ++level)
            if (!s_.nodes[level].flips.empty()) return true;
        return false;
    }

    // The least of a leaf's forms: each group of marks of the path inverted or not,
    // the groups independent (disjoint marks). They are taken in the order their
    // first centre is written, each as its first mark writes less.
    void least_form(SmilesOutput& out) {
        const std::string& t = out.text;
        std::vector<std::uint32_t>& at = s_.flip_at;  // per atom, its token's offset
        at.resize(out.atom_order.size());
        std::size_t k = 0;
        for (std::size_t i = 0; i < t.size() && k < out.atom_order.size(); ++i) {
            const char c = t[i];
            const bool atom = c == '[' || c == '*' || (std::isalpha(static_cast<unsigned char>(c)) != 0);
            if (!atom) continue;
            at[out.atom_order[k++]] = static_cast<std::uint32_t>(i);
            if (c == '[') i = t.find(']', i);
            else if ((c == 'C' && i + 1 < t.size() && t[i + 1] == 'l') || (c == 'B' && i + 1 < t.size() && t[i + 1] == 'r')) ++i;
        }
        if (k != out.atom_order.size()) internal_error("标记组");
        // (offset of the first mark, level) per group, then the marks to invert.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> groups;
        auto mark_of = [&](std::uint32_t x) -> std::size_t {
            const std::size_t i = at[x];
            if (t[i] != '[') return std::string::npos;
            const std::size_t close = t.find(']', i);
            const std::size_t m = t.find('@', i);
            return m < close ? m : std::string::npos;
        };
        for (std::size_t level = 0; level < depth_; ++level) {
            std::uint32_t first = NONE;
            for (std::uint32_t x : s_.nodes[level].flips) {
                const std::size_t m = mark_of(x);
                if (m != std::string::npos) first = std::min(first, static_cast<std::uint32_t>(m));
            }
            if (first != NONE) groups.emplace_back(first, static_cast<std::uint32_t>(level));
        }
        std::vector<std::size_t> invert;
        std::vector<std::uint32_t> swaps;  // levels whose swap the written atoms take
        for (const auto& [m, level] : groups) {
            const bool twice = t[m + 1] == '@';
            const bool flip = twice ? t[m + 2] < '@' : '@' < t[m + 1];
            if (!flip) continue;
            swaps.push_back(level);
            for (std::uint32_t x : s_.nodes[level].flips) {
                const std::size_t i = mark_of(x);
                if (i != std::string::npos) invert.push_back(i);
            }
        }
        if (invert.empty()) return;
        std::sort(invert.begin(), invert.end());
        std::string text;
        text.reserve(t.size() + invert.size());
        std::size_t from = 0;
        for (std::size_t m : invert) {
            text.append(t, from, m + 1 - from);  // through the first '@'
            if (t[m + 1] == '@') from = m + 2;
            else text += '@', from = m + 1;
        }
        text.append(t, from, std::string::npos);
        out.text = std::move(text);
        // The text is that of the leaf's image under the swaps, the deepest first:
        // its atoms are written in the swapped order.
        std::sort(swaps.begin(), swaps.end(), std::greater<>());
        for (std::uint32_t k = 0; k < out.atom_order.size(); ++k) at[out.atom_order[k]] = k;
        for (std::uint32_t level : swaps)
            for (const auto& [x, y] : s_.nodes[level].swapped) {
                std::swap(out.atom_order[at[x]], out.atom_order[at[y]]);
                std::swap(at[x], at[y]);
            }
    }

    // The union-find starts with every atom alone, made when first asked for:
    // most nodes of a long path try one candidate and never need it.
    void ready_parents(Node& node) const {
        if (node.parent_ready) return;
        node.parent.resize(mol_.num_atoms());
        for (std::uint32_t x = 0; x < node.parent.size(); ++x) node.parent[x] = x;
        node.parent_ready = true;
    }

    [[gnu::noinline]] void start_flags(Node& node) const {
        ready_parents(node);
        node.holds_tried.assign(node.parent.size(), 0);
        for (std::uint32_t t : node.tried) node.holds_tried[find(node.parent, t)] = 1;
        node.flags = true;
    }

    void unite(Node& node, const Moves& moves) const {
        ready_parents(node);
        for (const auto& [x, y] : moves) {
            const std::uint32_t a = find(node.parent, x), b = find(node.parent, y);
            if (a != b) {
                node.parent[a] = b;
                if (node.flags) node.holds_tried[b] |= node.holds_tried[a];
            }
        }
    }

    // The remaining ties: split off the first atom of the lowest tied cell. No
    // tied cell starts before `from`.
    void complete(Partition& p, std::uint32_t from) {
        while (auto cell = next_tied_cell(p, from)) {
            from = p.cell_start[*cell];
            individualise(p, p.order[from], *cell);
            refine(p);
        }
    }

    // Whether gamma maps the molecule onto itself with everything the text shows:
    // then the leaf it maps the best leaf to writes the same text.
    bool automorphic(const std::vector<std::uint32_t>& gamma) const {
        const auto all = std::views::iota(0u, mol_.num_atoms());
        return automorphic_on([&](std::uint32_t x) { return gamma[x]; }, all, all);
    }

    // Whether exchanging two atoms, everything else fixed, is such a map.
    [[gnu::noinline, gnu::cold]] bool exchangeable(std::uint32_t a, std::uint32_t b) const {
        auto gamma = [a, b](std::uint32_t x) { return x == a ? b : x == b ? a : x; };
        const std::array<std::uint32_t, 2> moved{a, b};
        // Only centres at or next to the two atoms see their ligands move.
        std::vector<std::uint32_t>& near = s_.near;
        near.assign(moved.begin(), moved.end());
        for (std::uint32_t x : moved)
            for (core::Neighbor nb : mol_.neighbors(x)) near.push_back(nb.atom);
        return automorphic_on(gamma, moved, near);
    }

    // The check behind both: `gamma` maps atoms, `moved` holds (at least) every
    // atom gamma moves, `centres` every atom whose ligands gamma can move.
    // `inverted`, when given, collects the centres whose marks alone disagree.
    template <class Gamma, class Moved, class Centres>
    bool automorphic_on(Gamma gamma, const Moved& moved, const Centres& centres,
                        std::vector<std::uint32_t>* inverted = nullptr) const {
        const std::uint32_t n = mol_.num_atoms();
        for (std::uint32_t x : moved) {
            const std::uint32_t y = gamma(x);
            if (x == y) continue;
            if (mol_.degree[x] != mol_.degree[y] || !writer_.same_atom_text(x, y)) return false;
            core::Atom ax = mol_.atoms[x], ay = mol_.atoms[y];
            if (is_tetrahedral(ax) != is_tetrahedral(ay)) return false;
            if (is_tetrahedral(ax)) ax.chiral_tag = ay.chiral_tag = core::ChiralTag::Unspecified;
            if (!(ax == ay)) return false;
        }
        // Each moved atom's bonds against its image's, through marks on the
        // image's neighbours: linear in the bonds however large a degree. A bond
        // between two fixed atoms is its own image.
        const std::uint32_t* next = mol_.next_half_edge.data();
        std::vector<std::uint32_t>& bond_to = s_.marks;
        if (bond_to.size() < n) bond_to.assign(n, NONE);
        for (std::uint32_t x : moved) {
            const std::uint32_t y = gamma(x);
            if (x == y) continue;
            for (std::uint32_t h = mol_.first_half_edge[y]; h != NONE; h = next[h]) {
                const Bond& c = mol_.bonds[h >> 1];
                bond_to[(h & 1u) ? c.begin : c.end] = h >> 1;
            }
            bool ok = true;
            for (std::uint32_t h = mol_.first_half_edge[x]; h != NONE && ok; h = next[h]) {
                const Bond& b = mol_.bonds[h >> 1];
                const std::uint32_t image = bond_to[gamma((h & 1u) ? b.begin : b.end)];
                if (image == NONE) {
                    ok = false;
                    break;
                }
                const Bond& c = mol_.bonds[image];
                ok = c.order == b.order && c.flags == b.flags &&
                     (b.order != BondOrder::Dative || c.begin == gamma(b.begin));
            }
            for (std::uint32_t h = mol_.first_half_edge[y]; h != NONE; h = next[h]) {
                const Bond& c = mol_.bonds[h >> 1];
                bond_to[(h & 1u) ? c.begin : c.end] = NONE;
            }
            if (!ok) return false;
        }
        // A centre and its image are written with the same mark when the tags agree
        // once the image's ligands are read in the order gamma gives them.
        std::uint32_t mapped[16], own[16];
        for (std::uint32_t x : centres) {
            if (!is_tetrahedral(mol_.atoms[x])) continue;
            const std::uint32_t y = gamma(x);
            if (mol_.degree[x] > 16) return false;
            std::uint32_t k = 0;
            for (core::Neighbor nb : mol_.neighbors(x)) mapped[k++] = gamma(nb.atom);
            k = 0;
            for (core::Neighbor nb : mol_.neighbors(y)) own[k++] = nb.atom;
            const std::uint8_t parity = core::permutation_parity({mapped, k}, {own, k});
            if (parity > 1) return false;
            const bool flipped = mol_.atoms[x].chiral_tag != mol_.atoms[y].chiral_tag;
            if (flipped == (parity == 1)) continue;
            if (!inverted) return false;
            inverted->push_back(x);
        }
        return true;
    }

    static bool is_tetrahedral(const core::Atom& a) {
        return a.chiral_tag == core::ChiralTag::Cw || a.chiral_tag == core::ChiralTag::Ccw;
    }

    // Whether swaps of arms can be checked like automorphisms, given that they leave
    // the atoms marked in `frozen` in place: the atoms of bonds with direction marks or
    // stored cis/trans, and their neighbours. Those bonds, their marks, the
    // references they are read against and the configuration keys are then the same
    // in the image of a leaf. Centres other than @/@@ and repeated bonds between two
    // atoms are not looked into.
    bool find_frozen_atoms() {
        const MolBuilder& mol = mol_;
        const std::uint32_t n = mol.num_atoms();
        for (const core::Atom& a : mol.atoms)
            if (a.chiral_tag != core::ChiralTag::Unspecified && !is_tetrahedral(a)) return false;
        std::vector<std::uint32_t>& seen_from = s_.gamma;  // free until the leaf fills it
        seen_from.assign(n, NONE);
        const std::uint32_t* next = mol.next_half_edge.data();
        for (std::uint32_t a = 0; a < n; ++a) {
            for (std::uint32_t h = mol.first_half_edge[a]; h != NONE; h = next[h]) {
                const Bond& b = mol.bonds[h >> 1];
                const std::uint32_t far = (h & 1u) ? b.begin : b.end;
                if (seen_from[far] == a) return false;
                seen_from[far] = a;
            }
        }
        std::vector<std::uint8_t>& frozen = s_.frozen;
        frozen.clear();
        for (const Bond& b : mol.bonds) {
            if (b.direction == core::BondDirection::None && b.stereo == BondStereo::None) continue;
            if (frozen.empty()) frozen.assign(n, 0);
            for (std::uint32_t end : {b.begin, b.end}) {
                frozen[end] = 1;
                for (core::Neighbor nb : mol.neighbors(end)) frozen[nb.atom] = 1;
            }
            for (std::uint32_t x : b.stereo_atoms)
                if (x < n) frozen[x] = 1;
        }
        return true;
    }

    // The text depends on nothing an automorphism check cannot see: no direction
    // marks, no stored cis/trans, no centres but @/@@, one bond per atom pair.
    bool automorphisms_decide_text() const {
        const MolBuilder& mol = mol_;
        for (const Bond& b : mol.bonds)
            if (b.direction != core::BondDirection::None || b.stereo != BondStereo::None) return false;
        for (const core::Atom& a : mol.atoms)
            if (a.chiral_tag != core::ChiralTag::Unspecified && !is_tetrahedral(a)) return false;
        // One bond per atom pair: no atom meets the same neighbour twice.
        std::vector<std::uint32_t>& seen_from = s_.gamma;  // free until the leaf fills it
        seen_from.assign(mol.num_atoms(), NONE);
        const std::uint32_t* next = mol.next_half_edge.data();
        for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
            for (std::uint32_t h = mol.first_half_edge[a]; h != NONE; h = next[h]) {
                const Bond& b = mol.bonds[h >> 1];
                const std::uint32_t far = (h & 1u) ? b.begin : b.end;
                if (seen_from[far] == a) return false;
                seen_from[far] = a;
            }
        }
        return true;
    }

    void leaf(const Partition& p) {
        ++leaves_;
        if (s_.counted) ++s_.counted->leaves;
        std::vector<std::uint32_t>& gamma = s_.gamma;
        bool equal = false;
        // Below mark groups a leaf stands for its least form, which only its text shows.
        const bool flips = path_has_flips();
        if (has_best_ && shortcut_ == 0) shortcut_ = automorphisms_decide_text() ? 1 : 2;
        if (has_best_ && shortcut_ == 1 && !flips) {
            gamma.resize(p.num_atoms());
            for (std::uint32_t k = 0; k < p.num_atoms(); ++k) gamma[s_.best_order[k]] = p.order[k];
            equal = automorphic(gamma);
        }
        SmilesOutput& out = s_.candidate;
        if (!equal && !has_best_ && !text_wanted_ && !flips) {
            // The first leaf is the best so far whatever it writes.
            writer_.write_order(p.position, s_.best.atom_order);
            s_.best.text.clear();
            s_.best_position = p.position;
            best_has_text_ = false;
            has_best_ = true;
            s_.best_order = p.order;
            return;
        }
        if (!equal) {
            if (has_best_ && !best_has_text_) {
                writer_.write(s_.best_position, s_.best);
                best_has_text_ = true;
            }
            writer_.write(p.position, out);
            if (flips) least_form(out);
            equal = has_best_ && out.text == s_.best.text;
            if (equal) {
                gamma.resize(p.num_atoms());
                for (std::uint32_t k = 0; k < p.num_atoms(); ++k) gamma[s_.best_order[k]] = p.order[k];
                // Equal least forms of leaves that are no images of each other.
                if (flips && !automorphic(gamma)) return;
            }
        }
        if (equal) {
            // Equal texts: atoms at equal positions are images of each other.
            Moves& moves = s_.moves;
            moves.clear();
            for (std::uint32_t x = 0; x < gamma.size(); ++x)
                if (gamma[x] != x) moves.emplace_back(x, gamma[x]);
            const auto k = static_cast<std::uint32_t>(automorphism_count_);
            for (std::size_t level = 0; level < depth_; ++level) {
                const std::uint32_t v = s_.nodes[level].fixed_atom;
                if (v != NONE && gamma[v] != v) break;
                unite(s_.nodes[level], moves);
                if (deep_) s_.nodes[level].fixing.push_back(k);
            }
            if (deep_) {
                if (automorphism_count_ == s_.automorphisms.size()) s_.automorphisms.emplace_back();
                std::swap(s_.automorphisms[automorphism_count_++], moves);
            }
        } else if (!has_best_ || out.text < s_.best.text) {
            std::swap(s_.best, out);
            has_best_ = true;
            best_has_text_ = true;
            s_.best_order = p.order;
        }
    }
};


// Map numbers are written, so atoms that differ only by them must not be put in
// order by where they are stored: they order the atoms of each tied cell of the
// refined root, below everything the graph tells apart. Symmetry classes, and
// with them which marks make centres, are read before and do not see them.
void split_by_map_numbers(const MolBuilder& m, CanonScratch& s) {
    if (std::ranges::none_of(m.atoms, [](const core::Atom& a) { return a.map_num != 0; })) return;
    Partition& p = s.root;
    const std::uint32_t cells_before = p.num_cells();
    std::vector<CodedAtom> keyed;
    for (std::uint32_t pos = 0; pos < p.num_atoms();) {
        const std::uint32_t cell = p.cell_of[p.order[pos]];
        const std::uint32_t end = p.cell_end[cell];
        if (end - pos >= 2) {
            keyed.clear();
            for (std::uint32_t q = pos; q < end; ++q) keyed.push_back({m.atoms[p.order[q]].map_num, p.order[q]});
            split_cell_coded(p, cell, std::span<CodedAtom>(keyed));
        }
        pos = end;  // the cell's parts cover the same positions
    }
    if (p.num_cells() == cells_before) return;
    if (s.counted) ++s.counted->refinements;
    refine_partition(p, m, s.work);
}

// The search from the refined root in `s.root`, which it uses up.
SmilesOutput search_from_root(const MolBuilder& m, CanonScratch& s, bool text_wanted) {
    // Which marks count depends only on the graph and its directions: once per call.
    std::vector<std::uint8_t> effective;
    for (const Bond& b : m.bonds)
        if (b.direction != core::BondDirection::None) {
            classes_of(s.root, s.classes);
            effective = effective_direction_marks(m, s.classes);
            break;
        }
    split_by_map_numbers(m, s);
    Search search(m, effective, s, text_wanted);
    return search.run(s.root);
}

SmilesOutput output_with_tags(const MolBuilder& m, CanonScratch& s) {
    refined_partition(m, s.root, s.work);
    return search_from_root(m, s, true);
}

// Whether the allene centre has an end whose two substituents share a class.
bool allene_end_tied(const MolBuilder& m, std::uint32_t centre, std::span<const std::uint32_t> classes) {
    for (core::Neighbor end : m.neighbors(centre)) {
        std::uint32_t sub[2], bond[2];
        if (!substituents(m, end.atom, centre, sub, bond) || sub[1] == NONE) continue;
        if (classes[sub[0]] == classes[sub[1]]) return true;
    }
    return false;
}

enum class MarkVerdict : std::uint8_t { Keep, Drop, Invert };

// The verdict on one mark from the graph alone: Drop when it cannot make a
// centre, Invert when only comparing the molecule with its mirrored mark can tell.
MarkVerdict mark_verdict(const MolBuilder& m, std::uint32_t a, std::span<const std::uint8_t> centres,
                         std::span<const std::uint32_t> classes) {
    const core::Atom& atom = m.atoms[a];
    if (is_tetrahedral_tag(atom.chiral_tag)) {
        if ((at(centres, a) & 1u) == 0) return MarkVerdict::Drop;
        // Two hydrogens are interchangeable, and fewer than three ligands span no
        // handedness.
        const unsigned hs = atom.total_hs();
        if (hs >= 2 || m.degree[a] + hs < 3) return MarkVerdict::Drop;
        if (ties_rule_out_centre(m, a, classes)) return MarkVerdict::Drop;
        return tied_neighbour_pair(m, a, classes) ? MarkVerdict::Invert : MarkVerdict::Keep;
    }
    if (atom.chiral_tag == core::ChiralTag::Allene) {
        // Only numbers 1 and 2 give a configuration.
        if (atom.chiral_permutation != 1 && atom.chiral_permutation != 2) return MarkVerdict::Drop;
        return allene_end_tied(m, a, classes) ? MarkVerdict::Invert : MarkVerdict::Keep;
    }
    // A polyhedral mark without a number, or whose class cannot arrange the
    // atom's bonds, is never written: kept, it would only bracket the atom.
    if (const std::uint32_t vertices = core::polyhedron_vertex_count(atom.chiral_tag); vertices != 0)
        if (atom.chiral_permutation == 0 || !core::polyhedron_fits_bonds(vertices, m.degree[a]))
            return MarkVerdict::Drop;
    return MarkVerdict::Keep;
}

void invert_mark(core::Atom& atom) {
    if (atom.chiral_tag == core::ChiralTag::Allene) {
        atom.chiral_permutation = static_cast<std::uint8_t>(atom.chiral_permutation == 1 ? 2 : 1);
    } else {
        atom.chiral_tag = atom.chiral_tag == core::ChiralTag::Cw ? core::ChiralTag::Ccw : core::ChiralTag::Cw;
    }
}

// Whether the molecule carries stereo that each piece, copied out on its own,
// is written with as it is in the whole: @/@@ and polyhedral classes (which the
// copy re-expresses for its own order of ligands), direction marks and stored
// cis/trans (whose bonds and references stay inside their piece). Allenes read
// their ends' ligands and are left to the search over the whole.
bool stereo_written_like_its_pieces(const MolBuilder& mol) {
    bool any = false;
    for (const core::Atom& a : mol.atoms) {
        if (a.chiral_tag == core::ChiralTag::Allene) return false;
        any |= a.chiral_tag != core::ChiralTag::Unspecified;
    }
    for (const Bond& b : mol.bonds) any |= b.direction != core::BondDirection::None || b.stereo != BondStereo::None;
    return any;
}

// A workspace of a check beside the search, whose splits count as its work.
struct CountedWorkspace {
    RefineWorkspace work;
    CanonicalWork* counted = nullptr;
    explicit CountedWorkspace(CanonicalWork* c) : counted(c) {}
    CountedWorkspace(const CountedWorkspace&) = delete;
    CountedWorkspace& operator=(const CountedWorkspace&) = delete;
    ~CountedWorkspace() {
        if (counted) counted->cells_made += work.cells_made;
    }
};

// Scratch for searches over single pieces next to the whole's: their work counts
// as the whole's, and the pooled scratch must not keep pointing at the counter.
class PieceScratch {
public:
    PieceScratch(CanonScratch& whole, std::uint32_t n) : whole_(whole), lease_(core::Scratch<CanonScratch>::borrow(n)) {
        lease_->counted = whole.counted;
        lease_->work.chirality_visits = 0;
        lease_->work.cells_made = 0;
    }
    ~PieceScratch() {
        whole_.work.chirality_visits += lease_->work.chirality_visits;
        whole_.work.cells_made += lease_->work.cells_made;
        lease_->work.chirality_visits = 0;
        lease_->work.cells_made = 0;
        lease_->counted = nullptr;
    }
    CanonScratch& get() { return *lease_; }

private:
    CanonScratch& whole_;
    core::Scratch<CanonScratch>::Lease lease_;
};

// Whether g maps the graph onto itself keeping every atom in its cell and every
// bond's order, flags and dative direction. `bond_to` is all NONE, and is left so.
bool keeps_cells_and_bonds(const MolBuilder& plain, std::span<const std::uint32_t> cell_of,
                           std::span<const std::uint32_t> g, std::vector<std::uint32_t>& bond_to) {
    const std::uint32_t* next = plain.next_half_edge.data();
    auto far = [&](std::uint32_t h) { return (h & 1u) ? plain.bonds[h >> 1].begin : plain.bonds[h >> 1].end; };
    for (std::uint32_t x = 0; x < plain.num_atoms(); ++x) {
        const std::uint32_t y = g[x];
        if (cell_of[x] != cell_of[y]) return false;
        for (std::uint32_t h = plain.first_half_edge[y]; h != NONE; h = next[h]) bond_to[far(h)] = h >> 1;
        bool ok = plain.degree[x] == plain.degree[y];
        for (std::uint32_t h = plain.first_half_edge[x]; h != NONE && ok; h = next[h]) {
            const std::uint32_t image = bond_to[g[far(h)]];
            if (image == NONE) {
                ok = false;
                break;
            }
            const Bond& b = plain.bonds[h >> 1];
            const Bond& c = plain.bonds[image];
            ok = c.order == b.order && c.flags == b.flags && (b.order != BondOrder::Dative || c.begin == g[b.begin]);
        }
        for (std::uint32_t h = plain.first_half_edge[y]; h != NONE; h = next[h]) bond_to[far(h)] = NONE;
        if (!ok) return false;
    }
    return true;
}

// Whether no suspect's mark can be inverted without changing the molecule, shown
// from the automorphisms of the graph without its marks, when there are few of
// them. The molecule with the mark at `a` inverted is the same molecule exactly
// when some automorphism x -> g(x) of the unmarked graph carries every mark onto
// the mark at its image except one, that of the atom g maps onto `a`. A full
// search tree of the unmarked graph (refinement, every atom of the first tied cell
// split off at every level) meets every automorphism among its leaves, as the
// tree is the same from any labelling. False when the tree outgrows its budget or
// the graph does not show all the text shows (then the searches decide).
bool no_mark_mirrors_alone(const MolBuilder& m, std::span<const std::uint32_t> suspects, CanonScratch& s) {
    const std::uint32_t n = m.num_atoms();
    for (const core::Atom& a : m.atoms)
        if (a.chiral_tag != core::ChiralTag::Unspecified && !is_tetrahedral_tag(a.chiral_tag)) return false;
    for (const Bond& b : m.bonds)
        if (b.direction != core::BondDirection::None || b.stereo != BondStereo::None) return false;
    MolBuilder plain = m;
    for (core::Atom& a : plain.atoms) a.chiral_tag = core::ChiralTag::Unspecified;
    Partition root;
    CountedWorkspace counted_work(s.counted);
    RefineWorkspace& work = counted_work.work;
    refined_partition(plain, root, work);
    if (s.counted) ++s.counted->refinements;
    // Atoms of one cell alike in every field, and one bond per pair of atoms:
    // automorphisms then need only keep cells and bonds.
    std::vector<std::uint32_t>& bond_to = s.marks;
    bond_to.assign(n, NONE);
    for (std::uint32_t pos = 1; pos < n; ++pos)
        if (root.cell_of[root.order[pos]] == root.cell_of[root.order[pos - 1]] &&
            !(plain.atoms[root.order[pos]] == plain.atoms[root.order[pos - 1]]))
            return false;
    for (std::uint32_t a = 0; a < n; ++a) {
        for (core::Neighbor nb : plain.neighbors(a)) {
            if (bond_to[nb.atom] == a) return false;
            bond_to[nb.atom] = a;
        }
    }
    bond_to.assign(n, NONE);
    const std::vector<std::uint32_t> cell_of = root.cell_of;
    std::vector<std::uint8_t> suspect(n, 0);
    for (std::uint32_t a : suspects) suspect[a] = 1;

    std::vector<std::uint32_t> first, g(n);
    // Whether g, an automorphism, leaves exactly one mark out of place, the one it
    // carries onto a suspect.
    auto witnesses = [&]() {
        std::uint32_t misplaced = 0, onto = NONE;
        std::uint32_t mapped[16], own[16];
        for (std::uint32_t x = 0; x < n; ++x) {
            const bool tagged = is_tetrahedral_tag(m.atoms[x].chiral_tag);
            if (tagged != is_tetrahedral_tag(m.atoms[g[x]].chiral_tag)) return false;
            if (!tagged) continue;
            if (m.degree[x] > 16) return false;
            std::uint32_t k = 0;
            for (core::Neighbor nb : m.neighbors(x)) mapped[k++] = g[nb.atom];
            k = 0;
            for (core::Neighbor nb : m.neighbors(g[x])) own[k++] = nb.atom;
            const std::uint8_t parity = core::permutation_parity({mapped, k}, {own, k});
            if (parity > 1) return false;
            if ((m.atoms[x].chiral_tag != m.atoms[g[x]].chiral_tag) != (parity == 1)) {
                if (++misplaced > 1) return false;
                onto = g[x];
            }
        }
        return misplaced == 1 && suspect[onto];
    };
    // The tree, depth first; each level keeps its partition and the next candidate.
    struct Level {
        Partition partition;
        std::uint32_t cell, next;
    };
    std::vector<Level> stack;
    std::uint64_t budget = 4ull * n + 64;
    const auto tied = next_tied_cell(root);
    if (!tied) return false;
    stack.push_back({std::move(root), *tied, 0});
    Partition child;
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.partition.cell_size(level.cell)) {
            stack.pop_back();
            continue;
        }
        if (budget-- == 0) return false;
        child = level.partition;
        const std::uint32_t a = level.partition.order[level.partition.cell_start[level.cell] + level.next++];
        individualise(child, a, level.cell);
        refine_partition(child, plain, work);
        if (s.counted) ++s.counted->refinements;
        if (const auto cell = next_tied_cell(child)) {
            stack.push_back({std::move(child), *cell, 0});
            continue;
        }
        if (s.counted) ++s.counted->leaves;
        if (first.empty()) {
            first = child.order;
            continue;
        }
        for (std::uint32_t k = 0; k < n; ++k) g[first[k]] = child.order[k];
        if (keeps_cells_and_bonds(plain, cell_of, g, bond_to) && witnesses()) return false;
    }
    return true;
}

// The @/@@ byte an atom keys with under the partition: 0 when untagged or two
// ligands share a cell, else the tag as seen with the ligands in cell order.
std::uint32_t described_byte(const MolBuilder& m, const Partition& p, std::uint32_t x) {
    const core::ChiralTag tag = m.atoms[x].chiral_tag;
    if (!is_tetrahedral_tag(tag)) return 0;
    std::uint32_t own[16], sorted[16], k = 0;
    for (core::Neighbor nb : m.neighbors(x)) {
        if (k == 16) return 3;
        own[k++] = p.cell_start[p.cell_of[nb.atom]];
    }
    std::copy(own, own + k, sorted);
    std::sort(sorted, sorted + k);
    for (std::uint32_t i = 1; i < k; ++i)
        if (sorted[i] == sorted[i - 1]) return 0;
    const bool odd = core::permutation_parity({own, k}, {sorted, k}) == 1;
    return (tag == core::ChiralTag::Cw) != odd ? 1 : 2;
}

// A description of partitions that is the same whatever the labels: per cell,
// its start, size and the distinct bytes of its atoms.
using Description = std::vector<std::uint32_t>;

void describe_cell(const MolBuilder& m, const Partition& p, std::uint32_t cell, Description& out) {
    out.push_back(p.cell_start[cell]);
    out.push_back(p.cell_size(cell));
    const std::size_t from = out.size();
    for (std::uint32_t pos = p.cell_start[cell]; pos < p.cell_end[cell]; ++pos)
        out.push_back(described_byte(m, p, p.order[pos]));
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(from), out.end());
    out.erase(std::unique(out.begin() + static_cast<std::ptrdiff_t>(from), out.end()), out.end());
    out.push_back(NONE);
}

// Every cell in position order.
void describe_partition(const MolBuilder& m, const Partition& p, Description& out) {
    out.clear();
    for (std::uint32_t pos = 0; pos < p.num_atoms(); pos = p.cell_end[p.cell_of[p.order[pos]]])
        describe_cell(m, p, p.cell_of[p.order[pos]], out);
}

// The proof of MirrorProof one level down, for marks on long chains of units:
// there each split off the root is global, but one off a partition whose ends
// are told apart stays within a unit. Each atom x of the smallest tied root cell
// is split off once, giving refined partitions P_x shared by every mark. A mark
// whose ligands still tie in every P_x leaves them as they are when inverted, so
// splitting off, in each P_x, each atom of the cell at one fixed position, and
// describing the result together with its P_x, gives as a multiset a
// description of the molecule whatever its labels, for the molecule and its
// mirror alike. Each split is a trial taken back afterwards and is described by
// what it changed, so a mark costs what its splits move.
class LocalMirrorProof {
public:
    LocalMirrorProof(const MolBuilder& m, const Partition& root, std::uint64_t budget, CanonicalWork* counted)
        : m_(m), root_(root), budget_(budget), counted_work_(counted) {}

    // Whether inverting the mark at `a` (as `mirrored` has it), whose ligand `b`
    // ties with another in the root, is shown to change the molecule.
    bool changes(const MolBuilder& mirrored, std::uint32_t a, std::uint32_t b, CanonicalWork* counted) {
        if (counted && !counted->local_mark_checks) return false;
        if (const auto shown = changes_at_root(a, b, counted)) return *shown;
        if (!ready(counted)) return false;
        for (const Level& level : levels_)
            if (!ligands_tie(level.p, a)) return false;
        const Partition& first = levels_.front().p;
        const std::uint32_t position = first.cell_start[first.cell_of[b]];
        const bool swap = swap_of_arms(first, a, b);
        // Per level, the atoms to split off: where the swap keeps every cell, it
        // keeps every split of an atom it fixes, which therefore leaves a's
        // ligands tied and cancels.
        splits_.clear();
        std::uint32_t levels_split = 0, last = 0;
        bool last_kept = false;
        for (std::uint32_t x = 0; x < levels_.size(); ++x) {
            const Partition& p = levels_[x].p;
            const std::uint32_t cell = p.cell_of[p.order[position]];
            const std::uint32_t size = p.cell_size(cell);
            if (size == 1) continue;  // splits nothing, alike in both
            if (size > 8) return false;
            const bool kept = swap && std::ranges::all_of(moved_, [&](std::uint32_t u) {
                                  return p.cell_of[u] == p.cell_of[image_[u]];
                              });
            const std::size_t before = splits_.size();
            for (std::uint32_t pos = p.cell_start[cell]; pos < p.cell_end[cell]; ++pos)
                if (!kept || image_[p.order[pos]] != NONE) splits_.emplace_back(x, p.order[pos]);
            if (splits_.size() == before) continue;
            ++levels_split;
            last = x;
            last_kept = kept;
        }
        if (levels_split == 1 && last_kept && splits_.size() == 2)
            if (const auto shown = changes_by_one_split(levels_[last], a, counted)) return *shown;
        ready_descriptions();
        std::size_t found = 0;
        for (const auto& [x, y] : splits_) {
            if (found == found_[0].size()) {
                found_[0].emplace_back();
                found_[1].emplace_back();
            }
            found += trial(levels_[x], mirrored, y, a, found_[0][found], found_[1][found], counted);
            if (spent_ > budget_) {
                levels_.clear();
                return false;
            }
        }
        const auto here = found_[0].begin(), there = found_[1].begin();
        const auto end = static_cast<std::ptrdiff_t>(found);
        std::sort(here, here + end);
        std::sort(there, there + end);
        return !std::equal(here, here + end, there);
    }

private:
    struct Level {
        Partition p;
        std::vector<std::uint8_t> bytes;  // per atom, its byte under p
        std::uint32_t kind = 0;           // levels of one kind describe alike
    };

    // The one level whose splits do not cancel holds one pair y, σ(y) of the
    // swap σ, which carries the molecule onto itself with the marks of the atoms
    // `flips_` inverted. When a and those atoms are alone in their cells, their
    // marks key no split, so with D the description of y's split and D^S that of
    // D with the bytes of S inverted, the molecule's pair is {D, D^flips} and the
    // mirror's {D^a, D^(flips xor a)}. An inversion shows only on an atom whose
    // ligands have fallen apart, so one refinement decides.
    // None when they are not alone.
    std::optional<bool> changes_by_one_split(Level& level, std::uint32_t a, CanonicalWork* counted) {
        Partition& p = level.p;
        auto alone = [&](std::uint32_t t) { return p.cell_size(p.cell_of[t]) == 1; };
        if (!alone(a) || !std::ranges::all_of(flips_, alone)) return std::nullopt;
        const std::uint32_t y = splits_.front().second;
        split_off(level, m_, y, counted);
        auto shows = [&](std::uint32_t t) {
            const std::uint32_t byte = described_byte(m_, p, t);
            return byte == 1 || byte == 2;
        };
        bool other = std::ranges::find(flips_, a) == flips_.end();
        for (std::uint32_t t : flips_) other |= t != a && shows(t);
        const bool differ = shows(a) && other;
        take_back_trial(p);
        if (spent_ > budget_) levels_.clear();
        return differ;
    }

    // The root as the one level, for a mark alone in its root cell: in a molecule
    // with no symmetry end to end, a split near the mark stays near it there,
    // and no level needs making. Used until its splits have cost more than a few
    // refinements of the whole would; none when it cannot tell.
    std::optional<bool> changes_at_root(std::uint32_t a, std::uint32_t b, CanonicalWork* counted) {
        const std::uint32_t n = m_.num_atoms();
        if (root_spent_ > 16ull * n + 256 || root_.cell_size(root_.cell_of[a]) != 1) return std::nullopt;
        if (root_level_.p.num_atoms() != n) root_level_.p = root_;
        Partition& p = root_level_.p;
        if (!swap_of_arms(p, a, b) ||
            !std::ranges::all_of(moved_, [&](std::uint32_t u) { return p.cell_of[u] == p.cell_of[image_[u]]; }))
            return std::nullopt;
        splits_.clear();
        for (std::uint32_t pos = p.cell_start[p.cell_of[b]]; pos < p.cell_end[p.cell_of[b]]; ++pos)
            if (image_[p.order[pos]] != NONE) splits_.emplace_back(0, p.order[pos]);
        if (splits_.size() != 2) return std::nullopt;
        const std::uint64_t before = work_.cells_made;
        const auto shown = changes_by_one_split(root_level_, a, counted);
        root_spent_ += work_.cells_made - before;
        return shown;
    }

    // The levels, made on first use; false when there are none to use.
    bool ready(CanonicalWork* counted) {
        if (made_) return !levels_.empty();
        made_ = true;
        std::uint32_t best = NONE;
        for (std::uint32_t pos = 0; pos < root_.num_atoms();) {
            const std::uint32_t cell = root_.cell_of[root_.order[pos]];
            const std::uint32_t size = root_.cell_size(cell);
            if (size >= 2 && (best == NONE || size < root_.cell_size(best))) best = cell;
            pos = root_.cell_end[cell];
        }
        if (best == NONE || root_.cell_size(best) > 8) return false;
        const std::uint32_t n = m_.num_atoms();
        for (std::uint32_t pos = root_.cell_start[best]; pos < root_.cell_end[best]; ++pos) {
            Level& level = levels_.emplace_back();
            level.p = root_;
            individualise(level.p, root_.order[pos], best);
            refine_partition(level.p, m_, work_);
            if (counted) ++counted->refinements;
        }
        spent_ += std::uint64_t{n} * levels_.size();
        stamp_.assign(n, NONE);
        return true;
    }

    // Each level's bytes and kind, made when first needed.
    void ready_descriptions() {
        if (described_) return;
        described_ = true;
        const std::uint32_t n = m_.num_atoms();
        std::vector<Description> kinds;
        Description described;
        for (Level& level : levels_) {
            level.bytes.resize(n);
            for (std::uint32_t x = 0; x < n; ++x)
                level.bytes[x] = static_cast<std::uint8_t>(described_byte(m_, level.p, x));
            describe_partition(m_, level.p, described);
            const auto same = std::ranges::find(kinds, described);
            level.kind = static_cast<std::uint32_t>(same - kinds.begin());
            if (same == kinds.end()) kinds.push_back(described);
        }
        spent_ += std::uint64_t{n} * levels_.size();
    }

    // A swap of b with another ligand of a, grown through p's cells along the
    // arms from them, that maps the graph without marks onto itself and inverts
    // no mark but those of atoms it fixes (a's among them); it is left in
    // image_ (NONE for a fixed atom) and moved_. A partition whose cells it keeps
    // stays so under refinement of the marked molecule, as those marks key
    // nothing while the swapped ligands tie.
    bool swap_of_arms(const Partition& p, std::uint32_t a, std::uint32_t b) {
        const std::uint32_t n = m_.num_atoms();
        if (image_.size() != n) image_.assign(n, NONE);
        for (std::uint32_t u : moved_) image_[u] = NONE;
        moved_.clear();
        std::uint32_t c = NONE;
        for (core::Neighbor nb : m_.neighbors(a))
            if (nb.atom != b && p.cell_of[nb.atom] == p.cell_of[b]) c = c == NONE ? nb.atom : n;
        if (c == NONE || c == n) return false;
        if (!grow_swap(m_, p, b, c, image_, moved_, 64)) return false;
        auto sigma = [&](std::uint32_t x) { return image_[x] == NONE ? x : image_[x]; };
        const std::uint32_t* next = m_.next_half_edge.data();
        auto far = [&](std::uint32_t h) { return (h & 1u) ? m_.bonds[h >> 1].begin : m_.bonds[h >> 1].end; };
        std::uint32_t mapped[16], own[16];
        for (std::uint32_t x : moved_) {
            const std::uint32_t y = image_[x];
            core::Atom ax = m_.atoms[x], ay = m_.atoms[y];
            ax.chiral_tag = ay.chiral_tag = core::ChiralTag::Unspecified;
            if (!(ax == ay) || m_.degree[x] != m_.degree[y]) return false;
            // Each bond of x has its image at y.
            for (std::uint32_t h = m_.first_half_edge[x]; h != NONE; h = next[h]) {
                const Bond& bond = m_.bonds[h >> 1];
                const std::uint32_t w = far(h);
                bool kept = false;
                for (std::uint32_t g = m_.first_half_edge[y]; g != NONE && !kept; g = next[g]) {
                    const Bond& other = m_.bonds[g >> 1];
                    kept = far(g) == sigma(w) && other.order == bond.order && other.flags == bond.flags &&
                           (bond.order != BondOrder::Dative || other.begin == sigma(bond.begin));
                }
                if (!kept) return false;
            }
        }
        // Only centres at or next to moved atoms see their ligands move; each
        // keeps its mark unless the swap fixes it.
        auto centre_kept = [&](std::uint32_t t) {
            if (!is_tetrahedral_tag(m_.atoms[t].chiral_tag)) return true;
            const std::uint32_t d = m_.degree[t];
            if (d > 16) return false;
            std::uint32_t i = 0;
            for (core::Neighbor nb : m_.neighbors(t)) mapped[i++] = sigma(nb.atom);
            i = 0;
            for (core::Neighbor nb : m_.neighbors(sigma(t))) own[i++] = nb.atom;
            const std::uint8_t parity = core::permutation_parity({mapped, d}, {own, d});
            if (parity > 1) return false;
            const bool inverted = (m_.atoms[t].chiral_tag != m_.atoms[sigma(t)].chiral_tag) != (parity == 1);
            if (inverted && sigma(t) == t && std::ranges::find(flips_, t) == flips_.end()) flips_.push_back(t);
            return !inverted || sigma(t) == t;
        };
        flips_.clear();
        for (std::uint32_t x : moved_) {
            if (!centre_kept(x)) return false;
            for (core::Neighbor nb : m_.neighbors(x))
                if (!centre_kept(nb.atom)) return false;
        }
        return true;
    }

    bool ligands_tie(const Partition& p, std::uint32_t a) const {
        std::uint32_t cells[16], k = 0;
        for (core::Neighbor nb : m_.neighbors(a)) {
            if (k == 16) return false;
            cells[k++] = p.cell_of[nb.atom];
        }
        std::sort(cells, cells + k);
        return std::adjacent_find(cells, cells + k) != cells + k;
    }

    // Splits off `y` in the level's partition, refines, and describes the result
    // for the molecule and for `mirrored`, its mirror at `a`, into `here` and
    // `there`: the level's kind, then every cell (start, size, bytes) that is new
    // or whose size or bytes changed, in position order. False, with nothing
    // written, when a's ligands still tie: that split never reads a's mark, so it
    // is the mirror's too, and the two cancel. With a alone in its cell, its mark
    // keys no split, and one refinement serves both.
    bool trial(Level& level, const MolBuilder& mirrored, std::uint32_t y, std::uint32_t a, Description& here,
               Description& there, CanonicalWork* counted) {
        Partition& p = level.p;
        const bool alone = p.cell_size(p.cell_of[a]) == 1;
        split_off(level, m_, y, counted);
        if (ligands_tie(p, a)) {
            take_back_trial(p);
            return false;
        }
        describe_trial(level, m_, here);
        if (!alone) {
            take_back_trial(p);
            split_off(level, mirrored, y, counted);
        }
        describe_trial(level, mirrored, there);
        take_back_trial(p);
        return true;
    }

    void split_off(Level& level, const MolBuilder& mol, std::uint32_t y, CanonicalWork* counted) {
        Partition& p = level.p;
        begin_trial(p);
        individualise(p, y, p.cell_of[y]);
        refine_partition(p, mol, work_);
        if (counted) ++counted->refinements;
        spent_ += p.num_cells() - p.trial_cells;
    }

    void describe_trial(const Level& level, const MolBuilder& mol, Description& out) {
        const Partition& p = level.p;
        const std::uint32_t base = p.trial_cells;
        // Every cell inside an old cell that split has changed; an unsplit cell
        // changed if one of its tagged atoms has a ligand that moved.
        changed_.clear();
        roots_.assign(p.trial_parent.begin(), p.trial_parent.end());
        for (std::uint32_t k = 0; k < roots_.size(); ++k) {
            if (roots_[k] >= base) roots_[k] = roots_[roots_[k] - base];
            changed_.push_back(p.cell_start[base + k]);
            if (stamp_[roots_[k]] != 1) {
                stamp_[roots_[k]] = 1;
                changed_.push_back(p.cell_start[roots_[k]]);
            }
        }
        for (std::uint32_t k = 0; k < roots_.size(); ++k) {
            const std::uint32_t cell = base + k;
            spent_ += p.cell_size(cell);
            for (std::uint32_t pos = p.cell_start[cell]; pos < p.cell_end[cell]; ++pos)
                for (core::Neighbor nb : mol.neighbors(p.order[pos])) {
                    const std::uint32_t c = p.cell_of[nb.atom];
                    ++spent_;
                    if (c >= base || stamp_[c] != NONE || !is_tetrahedral_tag(mol.atoms[nb.atom].chiral_tag)) continue;
                    stamp_[c] = 2;
                    candidates_.push_back(c);
                }
        }
        for (std::uint32_t c : candidates_) {
            spent_ += p.cell_size(c);
            std::uint8_t before = 0, after = 0;  // the bytes present, as bits
            for (std::uint32_t pos = p.cell_start[c]; pos < p.cell_end[c]; ++pos) {
                before |= static_cast<std::uint8_t>(1u << level.bytes[p.order[pos]]);
                after |= static_cast<std::uint8_t>(1u << described_byte(mol, p, p.order[pos]));
            }
            if (before != after) changed_.push_back(p.cell_start[c]);
        }
        for (std::uint32_t r : roots_) stamp_[r] = NONE;
        for (std::uint32_t c : candidates_) stamp_[c] = NONE;
        candidates_.clear();
        std::ranges::sort(changed_);
        out.clear();
        out.push_back(level.kind);
        for (std::uint32_t start : changed_) describe_cell(mol, p, p.cell_of[p.order[start]], out);
    }

    const MolBuilder& m_;
    const Partition& root_;
    std::uint64_t budget_, spent_ = 0;  // atoms looked at, roughly
    bool made_ = false, described_ = false;
    std::vector<Level> levels_;
    Level root_level_;             // a copy of the root, made on first use
    std::uint64_t root_spent_ = 0;  // cells its splits made
    CountedWorkspace counted_work_;
    RefineWorkspace& work_ = counted_work_.work;
    std::vector<std::uint32_t> stamp_;  // per cell number below the trial's; NONE between trials
    std::vector<std::uint32_t> roots_, changed_, candidates_;
    std::vector<std::uint32_t> image_, moved_;  // the last swap of arms; image_ NONE off moved_
    std::vector<std::uint32_t> flips_;          // the atoms it fixes whose marks it inverts
    std::vector<std::pair<std::uint32_t, std::uint32_t>> splits_;  // (level, atom)
    std::vector<Description> found_[2];  // per split, for the molecule and its mirror
};

// Proofs that inverting a mark with tied ligands changes the molecule, each at the
// cost of a few refinements. Refinement is the same from any labelling: the cells
// it gives, in order, with the @/@@ byte their atoms key with (which reads the
// ligands in class order), describe the molecule whatever its labels. Inverting
// the mark at `a` leaves the refined root as it is (its ligands tie there), so a
// molecule the same as the mirrored one has the same root cells; split off each
// atom of one root cell in turn and refine, and the descriptions met, as a
// multiset, are then the same as well. When they differ the mark tells the
// molecule from its mirror, with no search over either. Where they agree, nothing
// is shown, and the search decides.
class MirrorProof {
public:
    // `root`: the refined partition of `m`.
    MirrorProof(const MolBuilder& m, const Partition& root, std::uint64_t budget, CanonicalWork* counted)
        : m_(m), mirrored_(m), budget_(budget), root_(root),
          local_(m_, root_, 64ull * m.num_atoms() + 4096, counted), counted_work_(counted) {
        described_.assign(m.num_atoms(), NONE);
    }

    // Whether inverting the mark at `a`, whose ligands `b` and another tie,
    // is shown to change the molecule. The mirror's root is the molecule's: the
    // tie keeps the mark from keying any split.
    bool changes(std::uint32_t a, std::uint32_t b, CanonicalWork* counted) {
        invert_mark(mirrored_.atoms[a]);
        const bool differ = local_.changes(mirrored_, a, b, counted) || changes_at_root(b, counted);
        mirrored_.atoms[a] = m_.atoms[a];
        return differ;
    }

private:
    bool changes_at_root(std::uint32_t b, CanonicalWork* counted) {
        // A large cell costs more than it is likely to show.
        const std::uint32_t cell = root_.cell_of[b];
        const std::uint64_t cost = 2ull * root_.cell_size(cell);
        if (root_.cell_size(cell) > 8 || cost > budget_) return false;
        budget_ -= cost;
        std::uint32_t& own = described_[root_.cell_start[cell]];
        if (own == NONE) {
            own = static_cast<std::uint32_t>(seen_.size());
            seen_.push_back(descriptions(m_, root_, cell, counted));
        }
        return descriptions(mirrored_, root_, cell, counted) != seen_[own];
    }

    // Each atom of the root cell split off in turn, as a sorted list.
    std::vector<Description> descriptions(const MolBuilder& m, const Partition& root, std::uint32_t cell,
                                          CanonicalWork* counted) {
        std::vector<Description> out;
        for (std::uint32_t pos = root.cell_start[cell]; pos < root.cell_end[cell]; ++pos) {
            child_ = root;
            individualise(child_, root.order[pos], cell);
            refine_partition(child_, m, work_);
            if (counted) ++counted->refinements;
            describe_partition(m, child_, out.emplace_back());
        }
        std::ranges::sort(out);
        return out;
    }


    const MolBuilder& m_;
    MolBuilder mirrored_;
    std::uint64_t budget_;  // refinements left
    const Partition& root_;
    Partition child_;
    LocalMirrorProof local_;
    CountedWorkspace counted_work_;
    RefineWorkspace& work_ = counted_work_.work;
    std::vector<std::uint32_t> described_;  // per root cell start, its entry in seen_
    std::vector<std::vector<Description>> seen_;
};

// Clears, on `copy`, every @/@@ or allene mark that carries no stereo: one whose
// mirror image is the same molecule. Marks that fail on the graph alone go first.
// A mark with tied ligands is compared with its mirror, every other mark in place,
// and only one such mark goes per round: two marks can each be redundant given the
// other and not together (cis,trans-1,3,5-trisubstituted rings), so the rest are
// judged again on the molecule without it. Of several, the one written first goes,
// so the choice follows the molecule and not its storage order. Dropping a mark can
// free others (a centre told apart only by marked branches), so rounds repeat until
// none is dropped. Returns whether `s.root` holds the refined partition of the
// molecule as it stands. `root_given`: it holds that of `mol` on entry, and
// `given_centres`, unless empty, are chiral_centres of `mol` under its classes.
bool drop_stereoless_marks(const MolBuilder& mol, std::optional<MolBuilder>& copy, CanonScratch& s,
                           bool root_given, std::span<const std::uint8_t> given_centres) {
    bool any_mark = false;
    for (const core::Atom& a : mol.atoms)
        any_mark |= a.chiral_tag != core::ChiralTag::Unspecified;
    if (!any_mark) return false;
    std::vector<std::uint32_t> drops, suspects;
    for (bool first = true;; first = false) {
        const MolBuilder& m = copy ? *copy : mol;
        if (!first || !root_given) refined_partition(m, s.root, s.work);
        classes_of(s.root, s.classes);
        // The caller may have read the first round's centres off the same classes.
        std::vector<std::uint8_t> found;
        const bool reuse = first && root_given && !given_centres.empty();
        if (!reuse) found = chiral_centres(m, s.classes);
        const std::span<const std::uint8_t> centres = reuse ? given_centres : std::span<const std::uint8_t>(found);
        drops.clear();
        suspects.clear();
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
            switch (mark_verdict(m, a, centres, s.classes)) {
                case MarkVerdict::Keep: break;
                case MarkVerdict::Drop: drops.push_back(a); break;
                case MarkVerdict::Invert: suspects.push_back(a); break;
            }
        }
        if (drops.empty() && !suspects.empty()) {
            const MolBuilder base = m;
            // Marks shown to tell the molecule from its mirror need no search.
            {
                MirrorProof proof(base, s.root, 16ull * base.num_atoms() + 256, s.counted);
                std::erase_if(suspects, [&](std::uint32_t a) {
                    const auto pair = tied_neighbour_pair(base, a, s.classes);
                    return pair && proof.changes(a, pair->first, s.counted);
                });
            }
            // Neither touches s.root.
            if (suspects.empty() || no_mark_mirrors_alone(base, suspects, s)) return true;
            const SmilesOutput written = output_with_tags(base, s);
            MolBuilder mirrored = base;
            for (std::uint32_t a : written.atom_order) {
                if (std::find(suspects.begin(), suspects.end(), a) == suspects.end()) continue;
                invert_mark(mirrored.atoms[a]);
                if (output_with_tags(mirrored, s).text == written.text) {
                    drops.push_back(a);
                    break;
                }
                mirrored.atoms[a] = base.atoms[a];
            }
            if (drops.empty()) {
                refined_partition(base, s.root, s.work);
                return true;
            }
        }
        if (drops.empty()) return true;
        if (!copy) copy = mol;
        for (std::uint32_t a : drops) {
            copy->atoms[a].chiral_tag = core::ChiralTag::Unspecified;
            copy->atoms[a].chiral_permutation = 0;
        }
    }
}

// Declared hydrogens that the text will not carry: for a molecule whose implicit
// hydrogens were never computed, reading the text back gives such an atom none, so
// the ranking must not see them either, or the text would not be its own canonical
// form.
void drop_unwritten_hydrogens(const MolBuilder& mol, std::optional<MolBuilder>& copy) {
    const MolBuilder& m = copy ? *copy : mol;
    if (!core::implicit_hs_uncounted(m)) return;
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        const core::Atom& atom = (copy ? *copy : mol).atoms[a];
        if ((atom.flags & core::FIXED_HS) == 0 && atom.num_explicit_hs == 0) continue;
        if (needs_brackets(copy ? *copy : mol, a, SmilesMode::Canonical)) continue;
        if (!copy) copy = mol;
        copy->atoms[a].flags &= ~core::FIXED_HS;
        copy->atoms[a].num_explicit_hs = 0;
    }
}

}  // namespace

namespace {

std::optional<SmilesOutput> piece_by_piece(const MolBuilder& mol, CanonScratch& s);

// `root_given`: `s.root` already holds the refined partition of `mol`. Without
// `text_wanted` only the atom order of the result is filled in. `ranked`, when
// given, receives the molecule the order was found on when it is not `mol` itself
// (some marks or hydrogens cleared).
SmilesOutput canonical_smiles_in(const MolBuilder& mol, CanonScratch& s, bool root_given = false,
                                 bool text_wanted = true, std::span<const std::uint8_t> given_centres = {},
                                 std::optional<MolBuilder>* ranked = nullptr) {
    if (auto out = piece_by_piece(mol, s)) return std::move(*out);
    std::optional<MolBuilder> copy;
    const bool root_ready = drop_stereoless_marks(mol, copy, s, root_given, given_centres) || root_given;
    drop_unwritten_hydrogens(mol, copy);
    const MolBuilder& m = copy ? *copy : mol;
    if (!root_ready || copy) refined_partition(m, s.root, s.work);
    if (s.counted) ++s.counted->refinements;
    SmilesOutput out = search_from_root(m, s, text_wanted);
    if (ranked) *ranked = std::move(copy);
    return out;
}


// Whether `a` followed by '.' sorts before `b` followed by '.'.
bool dotted_less(const std::string& a, const std::string& b) {
    const std::size_t common = std::min(a.size(), b.size());
    if (const int c = a.compare(0, common, b, 0, common); c != 0) return c < 0;
    if (a.size() == b.size()) return false;
    return a.size() < b.size() ? '.' < static_cast<unsigned char>(b[common])
                               : static_cast<unsigned char>(a[common]) < '.';
}

// Pieces (connected components) with stereo marks. Searching the whole would try
// the ties of every piece against those of every other, and judge every mark of
// every piece on the whole molecule. But a mark is redundant in the whole exactly
// when it is in its piece, as the other pieces stay as they are; and the whole's
// least text holds each piece's least text, the pieces in the turn of the root
// cells their first atoms lie in (map numbers ordering the ties), and pieces of one
// root cell (which can trade places) in the order of their texts. So each kind of
// piece is ranked on its own (copies stored alike once), the pieces take their
// turns as the whole's tie-break gives them and as their texts sort, and each is
// written in its own order. Allenes: none, for the search over the whole.
std::optional<SmilesOutput> piece_by_piece(const MolBuilder& mol, CanonScratch& s) {
    if (!stereo_written_like_its_pieces(mol)) return std::nullopt;

    const std::uint32_t n = mol.num_atoms();
    Pieces split(mol);
    const std::uint32_t pieces = split.count();
    if (pieces < 2) return std::nullopt;
    const std::vector<std::uint32_t>& piece_of = split.piece_of;
    const std::vector<std::uint32_t>& piece_start = split.start;
    const std::vector<std::uint32_t>& members = split.members;

    // Every piece ranked on its own, stored in input order, for the marks and
    // hydrogens it drops; pieces stored alike share one result.
    struct Kind {
        MolBuilder sub;
        std::optional<MolBuilder> ranked;  // the piece as ranked, when marks or hydrogens went
    };
    std::vector<Kind> kinds;
    std::vector<std::uint32_t> kind_of(pieces), local(n, NONE), piece_bonds;
    std::unordered_multimap<std::uint64_t, std::uint32_t> kind_by_hash;
    const bool uncounted = core::implicit_hs_uncounted(mol);
    PieceScratch piece_scratch(s, n);
    CanonScratch& sub_scratch = piece_scratch.get();
    MolBuilder sub;
    for (std::uint32_t k = 0; k < pieces; ++k) {
        if (!extract_piece(mol, split.members_of(k), piece_of, local, piece_bonds, sub)) return std::nullopt;
        const std::uint64_t hash = piece_hash(sub);
        auto [it, end] = kind_by_hash.equal_range(hash);
        while (it != end && !(kinds[it->second].sub == sub)) ++it;
        if (it != end) {
            kind_of[k] = it->second;
            continue;
        }
        // Hydrogens are dropped by what the whole holds.
        if (core::implicit_hs_uncounted(sub) != uncounted) return std::nullopt;
        Kind& kind = kinds.emplace_back(Kind{sub, std::nullopt});
        canonical_smiles_in(kind.sub, sub_scratch, false, false, {}, &kind.ranked);
        kind_of[k] = static_cast<std::uint32_t>(kinds.size() - 1);
        kind_by_hash.emplace(hash, kind_of[k]);
    }

    // The whole as ranked: what each piece dropped, dropped from it.
    std::optional<MolBuilder> copy;
    for (std::uint32_t k = 0; k < pieces; ++k) {
        const Kind& kind = kinds[kind_of[k]];
        if (!kind.ranked) continue;
        if (!copy) copy = mol;
        const std::span<const std::uint32_t> atoms = split.members_of(k);
        for (std::uint32_t i = 0; i < atoms.size(); ++i) {
            const core::Atom& was = kind.sub.atoms[i];
            const core::Atom& now = kind.ranked->atoms[i];
            core::Atom& atom = copy->atoms[atoms[i]];
            if (now.chiral_tag == core::ChiralTag::Unspecified && was.chiral_tag != core::ChiralTag::Unspecified) {
                atom.chiral_tag = core::ChiralTag::Unspecified;
                atom.chiral_permutation = 0;
            }
            atom.flags = (atom.flags & ~core::FIXED_HS) | (now.flags & core::FIXED_HS);
            atom.num_explicit_hs = now.num_explicit_hs;
        }
    }
    const MolBuilder& m = copy ? *copy : mol;

    // The whole's root, and its first leaf: the tie-break individualises the
    // first atom of the lowest tied cell until none is left.
    Partition& p = s.root;
    refined_partition(m, p, s.work);
    if (s.counted) ++s.counted->refinements;
    std::vector<std::uint32_t> classes, turn_classes;
    classes_of(p, classes);
    // Below the root the search also splits by double-bond configuration, so the
    // leaf is the search's first leaf.
    std::vector<std::uint8_t> effective;
    if (std::ranges::any_of(m.bonds, [](const Bond& b) { return b.direction != core::BondDirection::None; }))
        effective = effective_direction_marks(m, classes);
    ConfigurationSplitter configurations(configured_double_bonds(m, effective), true);
    // Map numbers order the root's ties, and with them the pieces' turns; each
    // piece's own search splits its cells by them in the same way.
    split_by_map_numbers(m, s);
    classes_of(p, turn_classes);
    std::uint32_t from = 0;
    while (auto cell = next_tied_cell(p, from)) {
        from = p.cell_start[*cell];
        individualise(p, p.order[from], *cell);
        refine_partition(p, m, s.work);
        while (configurations.split(p)) refine_partition(p, m, s.work);
        if (s.counted) ++s.counted->refinements;
    }
    if (s.counted) ++s.counted->leaves;

    // The root's cells never hold atoms of pieces that start in different root
    // cells, but the whole's refinement may order a piece's cells otherwise than
    // the piece's own does: each piece is ranked again from the whole's root as it
    // falls on the piece, its atoms stored in the leaf's order, so that among its
    // orders that write its text it keeps the one met first from there.
    split.order_members(p.order);
    std::vector<std::uint32_t> root_cell(pieces), pattern, seen;
    struct Placed {
        MolBuilder sub;
        std::vector<std::uint32_t> pattern;  // per atom, its root cell among the piece's
        SmilesOutput out;
    };
    std::vector<Placed> placed_kinds;
    std::vector<std::uint32_t> placed_of(pieces);
    std::unordered_multimap<std::uint64_t, std::uint32_t> placed_by_hash;
    std::vector<CodedAtom> keyed;
    for (std::uint32_t k = 0; k < pieces; ++k) {
        const std::span<const std::uint32_t> atoms = split.members_of(k);
        if (!extract_piece(m, atoms, piece_of, local, piece_bonds, sub)) return std::nullopt;
        seen.clear();
        for (std::uint32_t a : atoms) seen.push_back(classes[a]);
        std::ranges::sort(seen);
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        root_cell[k] = NONE;
        for (std::uint32_t a : atoms) root_cell[k] = std::min(root_cell[k], turn_classes[a]);
        pattern.clear();
        for (std::uint32_t a : atoms)
            pattern.push_back(static_cast<std::uint32_t>(std::ranges::lower_bound(seen, classes[a]) - seen.begin()));
        const std::uint64_t hash = piece_hash(sub) ^ (std::uint64_t{pattern.back()} << 32);
        auto [it, end] = placed_by_hash.equal_range(hash);
        while (it != end && !(placed_kinds[it->second].pattern == pattern && placed_kinds[it->second].sub == sub)) ++it;
        if (it != end) {
            placed_of[k] = it->second;
            continue;
        }
        // The piece's cells before refinement split by the whole's root cells,
        // which come in the whole's order.
        Partition& r = sub_scratch.root;
        initial_partition(sub, r);
        for (std::uint32_t pos = 0; pos < r.num_atoms();) {
            const std::uint32_t cell = r.cell_of[r.order[pos]];
            const std::uint32_t end = r.cell_end[cell];
            if (end - pos >= 2) {
                keyed.clear();
                for (std::uint32_t q = pos; q < end; ++q) keyed.push_back({pattern[r.order[q]], r.order[q]});
                split_cell_coded(r, cell, std::span<CodedAtom>(keyed));
            }
            pos = end;
        }
        sub_scratch.work.prepare(sub);
        refine_partition(r, sub, sub_scratch.work);
        if (s.counted) ++s.counted->refinements;
        placed_of[k] = static_cast<std::uint32_t>(placed_kinds.size());
        placed_by_hash.emplace(hash, placed_of[k]);
        placed_kinds.push_back(Placed{sub, pattern, search_from_root(sub, sub_scratch, true)});
    }
    auto text_of = [&](std::uint32_t k) -> const std::string& { return placed_kinds[placed_of[k]].out.text; };

    // A piece takes its turn by the root cell its first atom lies in; pieces of
    // one root cell can trade places, and the least text writes them in the order
    // of their texts, each read with the '.' that follows it, and pieces of equal
    // texts in the leaf's turn.
    std::vector<std::uint32_t> turn;
    std::vector<std::uint8_t> taken(pieces, 0);
    for (std::uint32_t a : p.order)
        if (!taken[piece_of[a]]) taken[piece_of[a]] = 1, turn.push_back(piece_of[a]);
    std::ranges::stable_sort(turn, [&](std::uint32_t x, std::uint32_t y) {
        return root_cell[x] != root_cell[y] ? root_cell[x] < root_cell[y] : dotted_less(text_of(x), text_of(y));
    });
    std::string joined;
    for (std::uint32_t k : turn) joined += (joined.empty() ? "" : ".") + text_of(k);
    // The leaf writes every piece's text in that turn: no leaf writes less, and
    // the search keeps the first of equal texts. Else each piece is written in the
    // order its own search from the root meets first.
    SmilesOutput out = write_smiles(m, p.position, SmilesMode::Canonical);
    if (out.text == joined) return out;
    out.text = std::move(joined);
    out.atom_order.clear();
    for (std::uint32_t k : turn)
        for (std::uint32_t x : placed_kinds[placed_of[k]].out.atom_order) out.atom_order.push_back(members[piece_start[k] + x]);
    return out;
}

}  // namespace

SmilesOutput canonical_smiles_counted(const MolBuilder& mol, CanonicalWork& work) {
    if (mol.num_atoms() == 0) return write_smiles(mol, {}, SmilesMode::Storage);
    CanonScratch s;
    s.counted = &work;
    SmilesOutput out = canonical_smiles_in(mol, s);
    work.chirality_visits += s.work.chirality_visits;
    work.cells_made += s.work.cells_made;
    return out;
}

SmilesOutput canonical_smiles(const MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    if (n == 0) return write_smiles(mol, {}, SmilesMode::Storage);

    const auto scratch = core::Scratch<CanonScratch>::borrow(n);
    return canonical_smiles_in(mol, *scratch);
}

std::string to_canonical_smiles(const MolBuilder& mol) { return canonical_smiles(mol).text; }

namespace {

std::uint32_t atom_count_u32(const MolBuilder& mol) {
    if (mol.atoms.size() > 0xFFFFFFFFull) internal_error("原子数超出 u32");
    return mol.num_atoms();
}

}  // namespace

CanonicalRefinement::CanonicalRefinement(const MolBuilder& mol)
    : mol_(mol), refined_(core::Scratch<Refinement>::borrow(atom_count_u32(mol))) {
    refined_partition(mol, refined_->partition, refined_->work);
}

std::span<const std::uint32_t> CanonicalRefinement::classes() {
    if (!classes_read_) {
        if (spent_) internal_error("精化已交给搜索");
        classes_of(refined_->partition, refined_->classes);
        classes_read_ = true;
    }
    return refined_->classes;
}

std::vector<std::uint32_t> CanonicalRefinement::ranks(std::span<const std::uint8_t> centres) {
    if (spent_) internal_error("精化已交给搜索");
    if (!centres.empty() && centres.size() != mol_.num_atoms()) internal_error("手性中心表长度与原子数不符");
    spent_ = true;
    const Partition& root = refined_->partition;
    // Classes all distinct: the written order breaks no tie, and each atom's class
    // is its position, which is then its rank. No atoms: no ranks.
    if (root.is_discrete()) return root.position;
    // Each atom's class is the first position of its cell, so the atoms of lower
    // classes are exactly `class` many: ranks start there, and the atoms of one
    // class take them in written order.
    std::vector<std::uint32_t> ranks;
    if (classes_read_)
        ranks.assign(refined_->classes.begin(), refined_->classes.end());
    else
        classes_of(root, ranks);
    const std::uint32_t n = mol_.num_atoms();
    const auto scratch = core::Scratch<CanonScratch>::borrow(n);
    // The search starts from this refinement: the buffers change hands, nothing
    // is copied, and both pools keep warm storage. The search's own workspace
    // serves: a workspace holds nothing from one refinement to the next.
    std::swap(scratch->root, refined_->partition);
    const SmilesOutput out = canonical_smiles_in(mol_, *scratch, true, false, centres);
    if (out.atom_order.size() != n) internal_error("书写顺序未含全部原子");
    std::vector<std::uint32_t>& next_rank = scratch->classes;  // per class, the rank it hands out next
    next_rank.resize(n);
    for (std::uint32_t c = 0; c < n; ++c) next_rank[c] = c;
    for (std::uint32_t a : out.atom_order) {
        std::uint32_t& r = at(ranks, a);
        r = next_rank[r]++;
    }
    return ranks;
}

std::vector<std::uint32_t> canonical_ranks(const MolBuilder& mol) { return CanonicalRefinement(mol).ranks(); }

}  // namespace quorix::io
