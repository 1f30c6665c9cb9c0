#pragma once
// Reaction templates and inputs for the reaction tests: texts that must read,
// and inputs that own the molecules they point to.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "helpers.hpp"
#include "io/smarts/reaction.hpp"
#include "match/react.hpp"

namespace quorix::test {

inline io::ReactionTemplates reaction_of(const std::string& text) {
    auto r = io::read_reaction_smarts(text);
    if (!r) {
        ADD_FAILURE() << "reaction did not read: " << text;
        return {};
    }
    return std::move(*r);
}

// Inputs that own the molecules they point to.
struct Inputs {
    std::vector<std::unique_ptr<core::MolBuilder>> mols;
    std::vector<match::ReactionInput> list;

    void add(core::MolBuilder mol) {
        mols.push_back(std::make_unique<core::MolBuilder>(std::move(mol)));
        list.push_back({mols.back().get(), match::compute_query_props(*mols.back())});
    }
    operator std::span<const match::ReactionInput>() const { return list; }
    const match::ReactionInput& operator[](std::size_t i) const { return list[i]; }
};

inline Inputs input_of(core::MolBuilder mol) {
    Inputs in;
    in.add(std::move(mol));
    return in;
}

inline Inputs inputs_of(const std::vector<std::string>& smiles) {
    Inputs out;
    for (const std::string& s : smiles) {
        core::MolBuilder m = mol_of(s);
        EXPECT_TRUE(chem::sanitize(m)) << s;
        out.add(std::move(m));
    }
    return out;
}

}  // namespace quorix::test
