// Reads arbitrary bytes as SMILES and runs symmetry classes, the canonical
// numbering and graph stereo perception on every molecule that reads. Classes
// must follow the atoms when the atoms are renumbered, the numbering must be a
// permutation that refines the classes, and stereo perception must settle in
// one run. Anything else aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/builder.hpp"
#include "io/canon.hpp"
#include "io/smiles/read.hpp"
#include "io/stereo.hpp"

namespace {

using namespace quorix::core;
using namespace quorix::io;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Atoms in reverse order; bonds keep their order, so neighbour order (and with
// it every @/@@) carries over.
MolBuilder reversed(const MolBuilder& m) {
    const std::uint32_t n = m.num_atoms();
    MolBuilder out;
    for (std::uint32_t j = 0; j < n; ++j) out.add_atom(m.atoms[n - 1 - j]);
    for (Bond b : m.bonds) {
        b.begin = n - 1 - b.begin;
        b.end = n - 1 - b.end;
        if (b.stereo_atoms[0] != NONE) b.stereo_atoms[0] = n - 1 - b.stereo_atoms[0];
        if (b.stereo_atoms[1] != NONE) b.stereo_atoms[1] = n - 1 - b.stereo_atoms[1];
        out.push_bond(b);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    auto read = read_smiles(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read) return 0;
    MolBuilder& m = *read;
    const std::uint32_t n = m.num_atoms();

    const auto classes = symmetry_classes(m);
    if (classes.size() != n) broken("one class per atom");
    const auto moved = symmetry_classes(reversed(m));
    for (std::uint32_t a = 0; a < n; ++a)
        if (moved[n - 1 - a] != classes[a]) broken("classes depend on atom order");

    const auto numbers = canonical_numbering(m);
    std::vector<std::uint32_t> sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    for (std::uint32_t i = 0; i < n; ++i)
        if (sorted[i] != i) broken("canonical numbering is not a permutation");
    std::vector<std::uint32_t> class_size(n, 0);
    for (std::uint32_t c : classes) ++class_size[c];
    for (std::uint32_t a = 0; a < n; ++a)
        if (numbers[a] < classes[a] || numbers[a] >= classes[a] + class_size[classes[a]])
            broken("canonical number outside the atom's class");

    const auto centres = chiral_centres(m);
    if (centres.size() != n) broken("one centre flag per atom");
    for (std::uint32_t a = 0; a < n; ++a) {
        const auto tag = m.atoms[a].chiral_tag;
        if (centres[a] && tag != ChiralTag::Cw && tag != ChiralTag::Ccw) broken("unmarked atom flagged as centre");
    }

    const auto flags = effective_direction_marks(m);
    if (flags.size() != m.num_bonds()) broken("one flag per bond");
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b)
        if (flags[b] && m.bonds[b].direction == BondDirection::None) broken("unmarked bond counts");

    MolBuilder before = m;
    const std::uint32_t written = double_bond_stereo(m);
    std::uint32_t changed = 0;
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
        if (m.bonds[b] == before.bonds[b]) continue;
        ++changed;
        const Bond& bond = m.bonds[b];
        if (bond.order != BondOrder::Double || in_small_ring(m, b) || !has_double_bond_stereo(m, b))
            broken("stereo stored on an ineligible bond");
        if (bond.stereo != BondStereo::Cis && bond.stereo != BondStereo::Trans) broken("stored value not cis/trans");
        if (bond.direction != before.bonds[b].direction) broken("direction changed");
    }
    if (changed > written) broken("more bonds changed than reported");
    MolBuilder settled = m;
    if (double_bond_stereo(settled) != 0 || !(settled == m)) broken("second run changed the molecule");
    return 0;
}
