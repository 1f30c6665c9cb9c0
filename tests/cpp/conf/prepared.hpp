#pragma once
// Molecules as the conformer sees them: sanitised, cis/trans read from the
// direction marks, every hydrogen an explicit atom.
#include <gtest/gtest.h>

#include "chem/explicit_hs.hpp"
#include "chem/sanitize.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"
#include "support.hpp"

namespace quorix::test {

// With `must_sanitize` false, a molecule that fails gives an empty one.
inline core::MolBuilder prepared(std::string_view smiles, bool with_hs = true, bool must_sanitize = true) {
    core::MolBuilder mol = read_or_fail(smiles);
    if (auto s = chem::sanitize(mol); !s) {
        if (must_sanitize) ADD_FAILURE() << smiles << ": " << s.error().to_string();
        return {};
    }
    io::double_bond_stereo(mol);
    if (with_hs) chem::add_explicit_hs(mol, io::canonical_ranks(mol));
    return mol;
}

}  // namespace quorix::test
