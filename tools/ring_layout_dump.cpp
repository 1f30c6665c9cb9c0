// Prints the ring-system layouts of molecules for draw_layout.py: each line of
// the input is "SMILES name"; each ring system becomes one block with its
// atoms, its bonds and a note on its degradation and bond-length range.
//   ring_layout_dump < cases.smi > dump.txt   (see ring_layout_pictures.sh)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "core/elements.hpp"
#include "depict/rings.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

int main() {
    for (std::string line; std::getline(std::cin, line);) {
        if (line.empty() || line[0] == '#') continue;
        const auto space = line.find(' ');
        const std::string smiles = line.substr(0, space), name = space == std::string::npos ? smiles : line.substr(space + 1);
        auto mol = io::read_smiles(smiles);
        if (!mol || !chem::sanitize(*mol)) {
            std::fprintf(stderr, "%s: does not read or sanitise\n", name.c_str());
            continue;
        }
        const auto ranks = io::canonical_ranks(*mol);
        const auto rings = chem::sssr(*mol);
        int k = 0;
        for (const auto& atoms : chem::ring_systems(*mol)) {
            depict::RingSystemRecord record{atoms, {}};
            for (const chem::Ring& r : rings)
                if (std::all_of(r.atoms.begin(), r.atoms.end(),
                                [&](std::uint32_t a) { return std::binary_search(atoms.begin(), atoms.end(), a); }))
                    record.rings.push_back(&r);
            const auto layout = depict::layout_ring_system(*mol, record, ranks, nullptr);
            std::printf("# %s [%d]\n", name.c_str(), k++);
            if (layout.degradation) {
                static const char* names[] = {"Hit", "NotInTable", "NoFingerprint"};
                const auto& b = std::get<depict::BridgedRingSystem>(*layout.degradation);
                std::printf("D BridgedRingSystem %s\n", names[static_cast<int>(b.template_lookup)]);
            }
            double lo = 1e9, hi = 0;
            for (const core::Bond& b : mol->bonds)
                if (layout.positions.contains(b.begin) && layout.positions.contains(b.end)) {
                    const double l = depict::length(layout.positions.at(b.begin) - layout.positions.at(b.end));
                    lo = std::min(lo, l), hi = std::max(hi, l);
                    std::printf("B %u %u\n", b.begin, b.end);
                }
            std::printf("D bonds %.3f-%.3f\n", lo, hi);
            for (const auto& [a, p] : layout.positions)
                std::printf("A %u %.6f %.6f %s\n", a, p.x, p.y, std::string(core::element_at(mol->atoms[a].atomic_num).symbol).c_str());
        }
    }
}
