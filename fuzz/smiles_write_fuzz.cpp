// Reads arbitrary bytes as SMILES; every molecule that reads is written in storage
// order and canonically, and both texts must read back to the same atoms and bonds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/smiles/write.hpp"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void reads_back(const quorix::core::MolBuilder& mol, const quorix::io::SmilesOutput& out) {
    require(out.atom_order.size() == mol.num_atoms());
    std::vector<std::uint8_t> seen(mol.num_atoms(), 0);
    for (std::uint32_t a : out.atom_order) {
        require(a < mol.num_atoms() && !seen[a]);
        seen[a] = 1;
    }
    auto back = quorix::io::read_smiles(out.text);
    require(back.has_value());
    require(back->num_atoms() == mol.num_atoms() && back->num_bonds() == mol.num_bonds());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto mol = quorix::io::read_smiles(text);
    if (!mol) return 0;
    reads_back(*mol, quorix::io::write_smiles(*mol));
    reads_back(*mol, quorix::io::canonical_smiles(*mol));
    std::vector<std::uint32_t> ranks = quorix::io::canonical_ranks(*mol);
    std::sort(ranks.begin(), ranks.end());
    for (std::uint32_t k = 0; k < ranks.size(); ++k) require(ranks[k] == k);
    return 0;
}
