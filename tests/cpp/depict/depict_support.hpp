#pragma once
// Ring systems of real molecules, laid out as the depiction driver will: a
// sanitised molecule, its canonical ranks, its ring list and one record per ring
// system (rings whose atoms all lie in the system, in list order).
#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "depict/rings.hpp"
#include "io/smiles/canonical.hpp"
#include "support.hpp"

namespace quorix::test {

struct Systems {
    core::MolBuilder mol;
    std::vector<std::uint32_t> ranks;
    std::vector<chem::Ring> rings;
    std::vector<depict::RingSystemRecord> records;
};

inline std::unique_ptr<Systems> ring_systems_of(core::MolBuilder mol) {
    auto s = std::make_unique<Systems>();
    s->mol = std::move(mol);
    if (!chem::sanitize(s->mol)) ADD_FAILURE() << "test molecule does not sanitise";
    s->ranks = io::canonical_ranks(s->mol);
    s->rings = chem::sssr(s->mol);
    for (const auto& atoms : chem::ring_systems(s->mol)) {
        depict::RingSystemRecord r{atoms, {}};
        for (const chem::Ring& ring : s->rings)
            if (std::all_of(ring.atoms.begin(), ring.atoms.end(),
                            [&](std::uint32_t a) { return std::binary_search(atoms.begin(), atoms.end(), a); }))
                r.rings.push_back(&ring);
        s->records.push_back(std::move(r));
    }
    return s;
}

inline std::unique_ptr<Systems> ring_systems_of(std::string_view smiles) { return ring_systems_of(read_or_fail(smiles)); }

// Shortest and longest bond inside the system, and the closest pair of atoms.
struct Geometry {
    double shortest = 1e300, longest = 0, closest = 1e300;
};

inline Geometry geometry(const core::MolBuilder& mol, const depict::PositionMap& p) {
    Geometry g;
    for (const core::Bond& b : mol.bonds)
        if (p.contains(b.begin) && p.contains(b.end)) {
            const double l = depict::length(p.at(b.begin) - p.at(b.end));
            g.shortest = std::min(g.shortest, l);
            g.longest = std::max(g.longest, l);
        }
    for (auto i = p.begin(); i != p.end(); ++i)
        for (auto j = std::next(i); j != p.end(); ++j) g.closest = std::min(g.closest, depict::length(i->second - j->second));
    return g;
}

}  // namespace quorix::test
