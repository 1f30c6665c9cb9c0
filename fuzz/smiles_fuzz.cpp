// Reads arbitrary bytes as SMILES. A fault must render its caret view; a molecule
// must satisfy every invariant of the graph. Anything else aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "io/smiles/read.hpp"

namespace {

using namespace quorix::core;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check_error(const quorix::io::ParseError& e) {
    if (e.pos > e.input.size()) broken("error position past the end");
    const std::string view = e.caret_view();
    if (view.compare(0, e.input.size(), e.input) != 0 || view[e.input.size()] != '\n')
        broken("caret view does not start with the input");
    if (view.find("^ ", e.input.size()) == std::string::npos) broken("caret view has no caret");
}

void check_molecule(const MolBuilder& m) {
    const std::size_t n = m.atoms.size();
    if (m.first_half_edge.size() != n || m.last_half_edge.size() != n || m.degree.size() != n)
        broken("per-atom arrays differ in length");
    if (m.next_half_edge.size() != 2 * m.bonds.size()) broken("half-edge array length");
    if (n == 0) broken("empty molecule read without error");

    std::vector<std::uint8_t> seen(2 * m.bonds.size(), 0);
    for (std::uint32_t a = 0; a < n; ++a) {
        std::uint32_t count = 0, last = NONE, h = m.first_half_edge[a];
        while (h != NONE) {
            if (h >= seen.size()) broken("half-edge out of range");
            if (seen[h]++) broken("half-edge listed twice");
            const Bond& b = m.bonds[h >> 1];
            if (((h & 1u) ? b.end : b.begin) != a) broken("half-edge on the wrong atom");
            if (count > m.bonds.size()) broken("half-edge list loops");
            last = h;
            ++count;
            h = m.next_half_edge[h];
        }
        if (count != m.degree[a]) broken("degree differs from list length");
        if (m.last_half_edge[a] != last) broken("last half-edge is not the tail");
        const Atom& at = m.atoms[a];
        if (at.flags & ~(AROMATIC | FIXED_HS)) broken("unexpected atom flag");
        if (at.atomic_num > 118) broken("atomic number");
        if (at.num_implicit_hs || at.num_radical_electrons || at.hybridization != Hybridization::Unspecified)
            broken("perceived field set by the reader");
        const unsigned tag = static_cast<unsigned>(at.chiral_tag);
        static constexpr unsigned max_perm[] = {0, 0, 0, 2, 3, 20, 30};
        if (tag > 6 || at.chiral_permutation > max_perm[tag]) broken("chiral class number");
    }
    for (std::uint8_t s : seen)
        if (s != 1) broken("half-edge not listed");

    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    pairs.reserve(m.bonds.size());
    for (const Bond& b : m.bonds) {
        if (b.begin >= n || b.end >= n || b.begin == b.end) broken("bond ends");
        if (b.order == BondOrder::Unspecified) broken("bond without order");
        if (b.flags != (b.order == BondOrder::Aromatic ? AROMATIC : 0u)) broken("bond aromatic flag");
        if (b.stereo != BondStereo::None || b.stereo_atoms[0] != NONE || b.stereo_atoms[1] != NONE)
            broken("bond stereo set by the reader");
        pairs.emplace_back(std::min(b.begin, b.end), std::max(b.begin, b.end));
    }
    std::sort(pairs.begin(), pairs.end());
    if (std::adjacent_find(pairs.begin(), pairs.end()) != pairs.end()) broken("parallel bonds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto r = quorix::io::read_smiles(text);
    if (!r) check_error(r.error());
    else check_molecule(*r);
    return 0;
}
