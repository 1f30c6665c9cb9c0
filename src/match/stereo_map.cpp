#include "match/stereo_map.hpp"

#include <algorithm>

#include "core/permutation.hpp"
#include "core/scratch.hpp"

namespace quorix::match {

using core::NONE;

namespace {

bool contains(std::span<const std::uint32_t> list, std::uint32_t x) {
    return std::find(list.begin(), list.end(), x) != list.end();
}

struct LigandScratch {
    std::vector<std::uint32_t> actual;
    std::vector<std::optional<std::uint32_t>> ligands;
};

}  // namespace

std::optional<std::vector<std::uint32_t>> fill_unmapped_ligands(std::span<const std::optional<std::uint32_t>> ligands,
                                                                std::span<const std::uint32_t> actual) {
    std::vector<std::uint32_t> values, out;
    for (const auto& l : ligands)
        if (l) values.push_back(*l);
    if (values.size() == ligands.size()) return values;
    std::size_t cursor = 0;
    for (const auto& l : ligands) {
        if (l) {
            out.push_back(*l);
            continue;
        }
        while (cursor < actual.size() && contains(values, actual[cursor])) ++cursor;
        if (cursor == actual.size()) return std::nullopt;
        out.push_back(actual[cursor++]);
    }
    for (; cursor < actual.size(); ++cursor)
        if (!contains(values, actual[cursor])) return std::nullopt;
    return out;
}

std::optional<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> ligand_correspondence(
    std::span<const std::optional<std::uint32_t>> ligands, std::span<const std::uint32_t> actual) {
    using Lists = std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>;
    const std::size_t n = ligands.size(), m = actual.size();
    const std::size_t gaps = static_cast<std::size_t>(std::count(ligands.begin(), ligands.end(), std::nullopt));
    if (auto filled = fill_unmapped_ligands(ligands, actual); filled && filled->size() == m)
        return Lists{std::move(*filled), {actual.begin(), actual.end()}};
    if (n == 4 && gaps == 1 && m == 3) {
        // The ligand that reached no product stands where the implicit one would.
        Lists out;
        for (const auto& l : ligands) out.first.push_back(l ? *l : NONE);
        out.second = {actual[0], NONE, actual[1], actual[2]};
        return out;
    }
    if (n == 3 && gaps == 0 && m == 4) {
        std::vector<std::uint32_t> values{*ligands[0], *ligands[1], *ligands[2]};
        std::uint32_t extra = NONE, count = 0;
        for (std::uint32_t x : actual)
            if (!contains(values, x)) {
                extra = x;
                ++count;
            }
        if (count == 1) return Lists{{values[0], extra, values[1], values[2]}, {actual.begin(), actual.end()}};
    }
    return std::nullopt;
}

core::ChiralTag reexpress_tetrahedral(const core::MolBuilder& source, std::uint32_t atom,
                                      std::span<const std::uint32_t> to_target, const core::MolBuilder& target,
                                      std::uint32_t copy, core::ChiralTag tag) {
    auto scratch = core::Scratch<LigandScratch>::borrow(target.degree[copy]);
    std::vector<std::uint32_t>& actual = scratch->actual;
    std::vector<std::optional<std::uint32_t>>& ligands = scratch->ligands;
    actual.clear();
    for (core::Neighbor nb : target.neighbors(copy)) actual.push_back(nb.atom);
    ligands.clear();
    for (core::Neighbor nb : source.neighbors(atom)) {
        const std::uint32_t q = to_target[nb.atom];
        ligands.push_back(q != NONE && contains(actual, q) ? std::optional<std::uint32_t>(q) : std::nullopt);
    }
    const auto lists = ligand_correspondence(ligands, actual);
    if (!lists) return core::ChiralTag::Unspecified;
    return core::permutation_parity(lists->first, lists->second) == 1 ? core::mirrored(tag) : tag;
}

}  // namespace quorix::match
