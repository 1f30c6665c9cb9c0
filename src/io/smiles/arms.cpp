#include "io/smiles/arms.hpp"

namespace quorix::io {

using core::MolBuilder;
using core::NONE;

// Why one order is enough. Every order the tie-break reaches is a leaf of the
// search tree: a path of atoms split off, each from the lowest tied cell of a
// refined partition. A swap of two arms (all else fixed) that keeps the molecule
// and its text maps refined partitions to refined partitions, so it maps the
// subtree below one atom onto the subtree below its image. At a node, call an arm
// touched when it holds an atom of the node's path. Splitting off any atom of an
// arm tells the whole arm apart: a swap grows only along bonds by which each atom
// of one cell has exactly one neighbour in another, both cells hold one atom per
// arm, and the refined root is equitable, so each atom of the other cell has
// exactly one neighbour back, and refinement follows those bonds through the arm
// (a node's partition is finer than the root's, and stays so). So the tied cells
// of a node hold atoms of untouched arms only, and swaps of two untouched arms fix
// the path: such a cell is one orbit of them, every choice at every node leads to
// an image of the first, and every leaf writes the first leaf's text.
//
// The swaps: within a family, the swap of the arms of two neighbouring atoms of a
// seed cell (in position order) is grown from the pair through neighbours in tied
// cells. Swaps of neighbouring arms generate the swap of any two arms that fixes
// every other arm atom for atom.

namespace {

class ArmCheck {
public:
    ArmCheck(const MolBuilder& mol, const Partition& root, ArmScratch& s, const SwapCheck& automorphic)
        : mol_(mol), root_(root), s_(s), automorphic_(automorphic),
          budget_(32 * (std::uint64_t{mol.num_atoms()} + 2 * std::uint64_t{mol.num_bonds()}) + 4096) {}

    bool run() {
        const std::uint32_t n = mol_.num_atoms();
        s_.family_of.assign(n, NONE);
        s_.arm_of.assign(n, NONE);
        s_.image.assign(n, NONE);
        s_.side.assign(n, 0);
        s_.families.clear();
        for (auto cell = next_tied_cell(root_); cell; cell = next_tied_cell(root_, root_.cell_end[*cell]))
            if (!cover(*cell)) return false;
        return true;
    }

private:
    const MolBuilder& mol_;
    const Partition& root_;
    ArmScratch& s_;
    const SwapCheck& automorphic_;
    std::uint64_t budget_;  // neighbours looked at, so that a failing check stays linear

    bool tied(std::uint32_t a) const { return root_.cell_size(root_.cell_of[a]) >= 2; }

    bool spend(std::uint64_t cost) {
        if (cost > budget_) return false;
        budget_ -= cost;
        return true;
    }

    // The one neighbour of `x` in `cell`, or NONE when there are none or several.
    std::uint32_t only_neighbour_in(std::uint32_t x, std::uint32_t cell) {
        std::uint32_t found = NONE;
        for (core::Neighbor nb : mol_.neighbors(x)) {
            if (root_.cell_of[nb.atom] != cell) continue;
            if (found != NONE) return NONE;
            found = nb.atom;
        }
        return spend(mol_.degree[x]) ? found : NONE;
    }

    // A tied cell either starts a family (its atoms are the arms' seeds) or is
    // already covered by one, one atom in every arm.
    bool cover(std::uint32_t cell) {
        const std::uint32_t start = root_.cell_start[cell], end = root_.cell_end[cell];
        const std::uint32_t k = end - start;
        const std::uint32_t f = s_.family_of[root_.order[start]];
        if (f != NONE) {
            if (s_.families[f].arms != k) return false;
            s_.seen.assign(k, 0);  // arms seen
            for (std::uint32_t pos = start; pos < end; ++pos) {
                const std::uint32_t a = root_.order[pos];
                if (s_.family_of[a] != f || s_.seen[s_.arm_of[a]]) return false;
                s_.seen[s_.arm_of[a]] = 1;
            }
            return true;
        }
        for (std::uint32_t pos = start; pos < end; ++pos)
            if (s_.family_of[root_.order[pos]] != NONE) return false;
        const auto fresh = static_cast<std::uint32_t>(s_.families.size());
        s_.families.push_back({k, 0});
        for (std::uint32_t i = 0; i + 1 < k; ++i)
            if (!swap_arms(fresh, i, root_.order[start + i], root_.order[start + i + 1])) return false;
        return true;
    }

    // Grows the swap of arms i and i+1 of family f from their seeds a and b,
    // checks it and records arm i+1 (and arm 0 with the first swap).
    bool swap_arms(std::uint32_t f, std::uint32_t i, std::uint32_t a, std::uint32_t b) {
        std::vector<std::uint32_t>& moved = s_.moved;
        moved.clear();
        const auto pair = [&](std::uint32_t x, std::uint32_t y, std::uint8_t side_x) {
            s_.image[x] = y;
            s_.image[y] = x;
            s_.side[x] = side_x;
            s_.side[y] = std::uint8_t(1 - side_x);
            moved.push_back(x);
            moved.push_back(y);
        };
        pair(a, b, 0);
        bool ok = true;
        for (std::size_t q = 0; q < moved.size() && ok; ++q) {
            const std::uint32_t u = moved[q], v = s_.image[u];
            for (core::Neighbor nb : mol_.neighbors(u)) {
                const std::uint32_t w = nb.atom;
                if (!tied(w) || s_.image[w] != NONE) continue;
                const std::uint32_t cell = root_.cell_of[w];
                const std::uint32_t w_image = only_neighbour_in(v, cell);
                if (w_image == NONE || w_image == w || s_.image[w_image] != NONE || only_neighbour_in(u, cell) != w) {
                    ok = false;
                    break;
                }
                pair(w, w_image, s_.side[u]);
            }
        }
        ArmScratch::Family& family = s_.families[f];
        const auto half = static_cast<std::uint32_t>(moved.size() / 2);
        if (ok) {
            if (i == 0) family.arm_size = half;
            ok = half == family.arm_size;
        }
        for (std::size_t q = 0; q < moved.size() && ok; ++q) {
            const std::uint32_t x = moved[q];
            if (s_.side[x] == 0 && i > 0)
                ok = s_.family_of[x] == f && s_.arm_of[x] == i;
            else
                ok = s_.family_of[x] == NONE;
        }
        ok = ok && automorphic_(s_.image, moved);
        if (ok) {
            for (std::uint32_t x : moved) {
                if (s_.side[x] == 0 && i > 0) continue;
                s_.family_of[x] = f;
                s_.arm_of[x] = i + s_.side[x];
            }
        }
        for (std::uint32_t x : moved) s_.image[x] = NONE;
        return ok;
    }
};

}  // namespace

bool tied_cells_are_arms(const MolBuilder& mol, const Partition& root, ArmScratch& s, const SwapCheck& automorphic) {
    if (root.num_atoms() != mol.num_atoms()) return false;
    return ArmCheck(mol, root, s, automorphic).run();
}

}  // namespace quorix::io
