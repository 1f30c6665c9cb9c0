// Reads arbitrary bytes as SMILES and sanitises every molecule that reads: the
// pipeline must end in success or its error value, never a crash or a hang, and
// a success must leave the flags consistent.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "chem/sanitize.hpp"
#include "io/smiles/read.hpp"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto parsed = quorix::io::read_smiles(text);
    if (!parsed) return 0;
    quorix::core::MolBuilder mol = std::move(*parsed);
    auto result = quorix::chem::sanitize(mol);
    if (!result) {
        (void)result.error().to_string();
        return 0;
    }
    for (const auto& a : mol.atoms)
        if (a.flags & quorix::core::AROMATIC) require(a.flags & quorix::core::IN_RING);
    for (const auto& b : mol.bonds)
        if (b.flags & quorix::core::AROMATIC) require(b.flags & quorix::core::CONJUGATED);
    // A second run on the perceived molecule must also finish.
    (void)quorix::chem::sanitize(mol);
    return 0;
}
