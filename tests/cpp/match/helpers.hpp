#pragma once
// Reading molecules and queries for the matcher tests; a text that does not read
// fails the test at the call site.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/builder.hpp"
#include "io/smarts/parse.hpp"
#include "io/smiles/read.hpp"
#include "match/matcher.hpp"
#include "match/props.hpp"
#include "support.hpp"

namespace quorix::test {

inline core::MolBuilder mol_of(const std::string& smiles) { return read_or_fail(smiles); }

inline io::Query query_of(const std::string& smarts) {
    auto q = io::read_smarts(smarts);
    if (!q) {
        ADD_FAILURE() << "SMARTS did not read: " << smarts << "\n" << q.error().caret_view();
        return {};
    }
    return std::move(*q);
}

inline std::vector<match::Match> run(const std::string& smarts, const core::MolBuilder& mol,
                                     match::MatchOptions options = {}) {
    const io::Query q = query_of(smarts);
    return match::find_matches(q, mol, match::compute_query_props(mol), options);
}

inline std::vector<match::Match> run(const std::string& smarts, const std::string& smiles,
                                     match::MatchOptions options = {}) {
    return run(smarts, mol_of(smiles), options);
}

inline match::MatchOptions opts(bool uniquify, std::uint64_t max_matches = 0, bool use_chirality = true) {
    return match::MatchOptions{max_matches, uniquify, use_chirality};
}

}  // namespace quorix::test
