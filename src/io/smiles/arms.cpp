#include "io/smiles/arms.hpp"

namespace quorix::io {

using core::MolBuilder;
using core::NONE;

// Why one order is enough. Every order the tie-break reaches is a leaf of the
// search tree: a path of atoms split off, each from the lowest tied cell of a
// refined partition. A swap of two arms (all else fixed) that keeps the molecule
// and its text maps refined partitions to refined partitions, so it maps the
// subtree below one atom onto the subtree below its image. At a node, let the
// touched arms be those holding an atom of its path: splitting off any atom of an
// arm tells the whole arm apart (checked below from the root; a node's partition
// is finer, and refinement of a finer partition stays finer), so the tied cells
// of the node hold atoms of untouched arms only. Swaps of two untouched arms fix
// the path, so such a cell is one orbit of them: every choice at every node leads
// to a mirror image of the first, and every leaf writes the first leaf's text.
//
// The swaps: within a family, the swap of the arms of two neighbouring atoms of a
// seed cell (in position order) is grown from the pair through neighbours in tied
// cells, each taken only when both atoms have exactly one neighbour in that cell.
// Swaps of neighbouring arms generate the swap of any two arms that fixes every
// other arm atom for atom.

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
        s_.single_stamp.assign(n, 0);
        s_.left.assign(root_.num_cells(), 0);
        s_.left_stamp.assign(root_.num_cells(), 0);
        s_.stamp = 0;
        s_.families.clear();
        s_.owned.clear();
        for (auto cell = next_tied_cell(root_); cell; cell = next_tied_cell(root_, root_.cell_end[*cell]))
            if (!cover(*cell)) return false;
        for (std::uint32_t f = 0; f < s_.families.size(); ++f)
            if (!arms_come_apart(f)) return false;
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
            s_.queue.assign(k, 0);  // arms seen
            for (std::uint32_t pos = start; pos < end; ++pos) {
                const std::uint32_t a = root_.order[pos];
                if (s_.family_of[a] != f || s_.queue[s_.arm_of[a]]) return false;
                s_.queue[s_.arm_of[a]] = 1;
            }
            return true;
        }
        for (std::uint32_t pos = start; pos < end; ++pos)
            if (s_.family_of[root_.order[pos]] != NONE) return false;
        const auto fresh = static_cast<std::uint32_t>(s_.families.size());
        s_.families.push_back({k, 0, static_cast<std::uint32_t>(s_.owned.size())});
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
            // Arm 0 first, then each new arm: `owned` lists the family arm by arm.
            for (std::uint8_t side = (i == 0 ? 0 : 1); side < 2; ++side)
                for (std::uint32_t x : moved) {
                    if (s_.side[x] != side) continue;
                    s_.family_of[x] = f;
                    s_.arm_of[x] = i + side;
                    s_.owned.push_back(x);
                }
        }
        for (std::uint32_t x : moved) s_.image[x] = NONE;
        return ok;
    }

    // Whether splitting off any atom of arm 0 of family f tells the whole arm
    // apart; by the swaps the same then holds for every arm. Followed only as far
    // as it surely goes: an atom is told apart when it is the only one of its cell
    // (less those already apart) bonded to an atom apart with that bond order, or
    // the last of its cell.
    bool arms_come_apart(std::uint32_t f) {
        const ArmScratch::Family& family = s_.families[f];
        for (std::uint32_t k = 0; k < family.arm_size; ++k) {
            const std::uint32_t x = s_.owned[family.first_owned + k];
            if (++s_.stamp == 0) return false;  // stamps ran out
            s_.queue.clear();
            set_apart(x);
            for (std::size_t q = 0; q < s_.queue.size(); ++q) {
                const std::uint32_t apart = s_.queue[q];
                if (!spend(std::uint64_t{mol_.degree[apart]} * mol_.degree[apart])) return false;
                for (core::Neighbor nb : mol_.neighbors(apart)) {
                    const std::uint32_t u = nb.atom;
                    if (!tied(u) || is_apart(u)) continue;
                    const std::uint32_t cell = root_.cell_of[u];
                    const core::BondOrder order = mol_.bonds[nb.bond].order;
                    std::uint32_t alike = 0;
                    for (core::Neighbor other : mol_.neighbors(apart))
                        alike += root_.cell_of[other.atom] == cell && !is_apart(other.atom) &&
                                 mol_.bonds[other.bond].order == order;
                    if (alike == 1 && !set_apart(u)) return false;
                }
            }
            for (std::uint32_t j = 0; j < family.arm_size; ++j)
                if (!is_apart(s_.owned[family.first_owned + j])) return false;
        }
        return true;
    }

    bool is_apart(std::uint32_t a) const { return s_.single_stamp[a] == s_.stamp; }

    bool set_apart(std::uint32_t a) {
        s_.single_stamp[a] = s_.stamp;
        s_.queue.push_back(a);
        const std::uint32_t cell = root_.cell_of[a];
        if (s_.left_stamp[cell] != s_.stamp) {
            s_.left_stamp[cell] = s_.stamp;
            s_.left[cell] = root_.cell_size(cell);
        }
        if (--s_.left[cell] != 1) return true;
        // The last atom of the cell is a cell of its own as well.
        if (!spend(root_.cell_size(cell))) return false;
        for (std::uint32_t pos = root_.cell_start[cell]; pos < root_.cell_end[cell]; ++pos) {
            const std::uint32_t y = root_.order[pos];
            if (is_apart(y)) continue;
            s_.single_stamp[y] = s_.stamp;
            s_.queue.push_back(y);
            s_.left[cell] = 0;
            break;
        }
        return true;
    }
};

}  // namespace

bool tied_cells_are_arms(const MolBuilder& mol, const Partition& root, ArmScratch& s, const SwapCheck& automorphic) {
    if (root.num_atoms() != mol.num_atoms()) return false;
    return ArmCheck(mol, root, s, automorphic).run();
}

}  // namespace quorix::io
