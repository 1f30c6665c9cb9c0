#pragma once
// Shared by the engine tests: test SMILES that must read, the real data set read
// once per process, and small graph helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/builder.hpp"
#include "io/smiles/read.hpp"

namespace quorix::test {

// A SMILES the test relies on: one that does not read fails the test where it is used.
inline core::MolBuilder read_or_fail(std::string_view smiles) {
    auto m = io::read_smiles(smiles);
    if (!m) {
        ADD_FAILURE() << "test SMILES does not read: " << m.error().caret_view();
        return {};
    }
    return std::move(*m);
}

struct DataMolecule {
    std::string smiles;
    std::string id;
};

// The records of molecules.smi (7000 real molecules, text and id).
inline const std::vector<DataMolecule>& data_records() {
    static const std::vector<DataMolecule> all = [] {
        std::vector<DataMolecule> out;
        std::ifstream in(std::string(QUORIX_TEST_DATA) + "/molecules.smi");
        for (std::string line; std::getline(in, line);) {
            if (line.empty()) continue;
            const auto tab = line.find_first_of(" \t");
            out.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
        }
        return out;
    }();
    return all;
}

// Every record of molecules.smi as read (all of them read).
inline const std::vector<core::MolBuilder>& data_molecules_as_read() {
    static const std::vector<core::MolBuilder> all = [] {
        std::vector<core::MolBuilder> out;
        for (const DataMolecule& d : data_records())
            if (auto m = io::read_smiles(d.smiles)) out.push_back(std::move(*m));
        return out;
    }();
    return all;
}

// The lines of queries.smarts (823 real queries).
inline std::vector<std::string> data_queries() {
    std::vector<std::string> out;
    std::ifstream in(std::string(QUORIX_TEST_DATA) + "/queries.smarts");
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

inline std::vector<std::uint32_t> neighbour_atoms(const core::MolBuilder& mol, std::uint32_t a) {
    std::vector<std::uint32_t> out;
    for (core::Neighbor nb : mol.neighbors(a)) out.push_back(nb.atom);
    return out;
}

inline std::vector<std::uint32_t> identity(std::uint32_t n) {
    std::vector<std::uint32_t> p(n);
    for (std::uint32_t i = 0; i < n; ++i) p[i] = i;
    return p;
}

}  // namespace quorix::test
