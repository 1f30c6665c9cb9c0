#pragma once
// Shared by the engine tests: test SMILES that must read, the real data set read
// once per process, and small graph helpers.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <fstream>
#include <numeric>
#include <random>
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

// The SMILES with every tetrahedral mark inverted (@ <-> @@).
inline std::string mirror_image(std::string_view smiles) {
    std::string out;
    for (std::size_t i = 0; i < smiles.size(); ++i) {
        if (smiles[i] != '@') {
            out += smiles[i];
        } else if (i + 1 < smiles.size() && smiles[i + 1] == '@') {
            out += '@';
            ++i;
        } else {
            out += "@@";
        }
    }
    return out;
}

// The SMILES with a donor oxygen in the place of its first marked CH centre's
// hydrogen, or "" when it has none: a centre whose fourth bond is dative, which
// the real molecules never have.
inline std::string donor_in_place_of_hydrogen(const std::string& smiles) {
    for (std::string_view mark : {"[C@@H]", "[C@H]"})
        if (const std::size_t at = smiles.find(mark); at != std::string::npos) {
            std::string out = smiles;
            return out.replace(at, mark.size(), std::string(mark.substr(0, mark.size() - 2)) + "](<-O)");
        }
    return "";
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

// The caret view a fault at byte `pos` of `input` must show: the input, then the
// caret under the character (not the byte) at `pos`, then the message.
inline std::string expected_caret_view(std::string_view input, std::size_t pos, std::string_view message) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < pos && i < input.size(); ++i)
        if ((static_cast<unsigned char>(input[i]) & 0xC0) != 0x80) ++columns;
    return std::string(input) + "\n" + std::string(columns, ' ') + "^ " + std::string(message);
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

// The molecule with atom i moved to perm[i]; bonds keep their order and ends, so
// neighbour order (and with it @/@@) carries over. With `rng` the bonds also come
// in a shuffled order, each turned round at random (its direction mark and stereo
// references then read the other way round): neighbour order changes and @/@@
// with it. `bond_of`, when given, receives every bond's new index.
inline core::MolBuilder scrambled(const core::MolBuilder& m, const std::vector<std::uint32_t>& perm,
                                  std::mt19937* rng = nullptr, std::vector<std::uint32_t>* bond_of = nullptr) {
    std::vector<std::uint32_t> inverse(perm.size()), order(m.num_bonds());
    for (std::uint32_t i = 0; i < perm.size(); ++i) inverse[perm[i]] = i;
    core::MolBuilder out;
    for (std::uint32_t j = 0; j < perm.size(); ++j) out.add_atom(m.atoms[inverse[j]]);
    std::iota(order.begin(), order.end(), 0u);
    if (rng) std::shuffle(order.begin(), order.end(), *rng);
    if (bond_of) bond_of->assign(m.num_bonds(), core::NONE);
    for (std::uint32_t b : order) {
        core::Bond bond = m.bonds[b];
        bond.begin = perm[bond.begin];
        bond.end = perm[bond.end];
        if (rng && ((*rng)() & 1u)) {
            std::swap(bond.begin, bond.end);
            std::swap(bond.stereo_atoms[0], bond.stereo_atoms[1]);
            if (bond.direction == core::BondDirection::Slash) bond.direction = core::BondDirection::Backslash;
            else if (bond.direction == core::BondDirection::Backslash) bond.direction = core::BondDirection::Slash;
        }
        const std::uint32_t at = out.push_bond(bond);
        if (bond_of) (*bond_of)[b] = at;
    }
    return out;
}

}  // namespace quorix::test
