#pragma once
// Molecules for chemistry tests, read from SMILES.
#include <stdexcept>
#include <string>
#include <string_view>

#include "chem/cleanup.hpp"
#include "chem/organometallics.hpp"
#include "chem/rings.hpp"
#include "chem/valence.hpp"
#include "core/builder.hpp"
#include "io/smiles/read.hpp"

namespace quorix::test {

inline core::MolBuilder smiles(std::string_view text) {
    auto r = io::read_smiles(text);
    if (!r) throw std::runtime_error("test SMILES does not read: " + r.error().caret_view());
    return std::move(*r);
}

// The sanitisation steps that run before the Kekulé assignment.
inline void prepare_kekule(core::MolBuilder& m) {
    chem::cleanup(m);
    chem::organometallics(m);
    auto v = chem::assign_valences(m);
    if (!v) throw std::runtime_error("test molecule fails its valence check: " + v.error().to_string());
    chem::ring_membership(m);
}

inline core::MolBuilder before_kekule(std::string_view text) {
    core::MolBuilder m = smiles(text);
    prepare_kekule(m);
    return m;
}

}  // namespace quorix::test
