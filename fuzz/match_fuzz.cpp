// Reads "SMARTS\nSMILES" and searches; every match must be a valid embedding, a
// limit must give a prefix, and uniquify one match per atom set.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>
#include <vector>

#include "io/smarts/parse.hpp"
#include "io/smiles/read.hpp"
#include "match/matcher.hpp"
#include "match/props.hpp"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorix;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = text.find('\n');
    if (cut == std::string_view::npos) return 0;
    auto q = io::read_smarts(text.substr(0, cut));
    auto mol = io::read_smiles(text.substr(cut + 1));
    if (!q || !mol) return 0;
    // Keep each run short: the search is exponential in the worst case.
    if (q->num_atoms() > 10 || mol->num_atoms() > 40) return 0;
    const auto props = match::compute_query_props(*mol);
    const auto all = match::find_matches(*q, *mol, props, {200, false, true});
    for (const auto& m : all) {
        require(m.size() == q->num_atoms());
        std::vector<std::uint32_t> s = m;
        std::sort(s.begin(), s.end());
        require(std::adjacent_find(s.begin(), s.end()) == s.end());
        require(s.empty() || s.back() < mol->num_atoms());
        for (const auto& b : q->graph.bonds) require(mol->bond_between(m[b.begin], m[b.end]) != core::NONE);
    }
    const auto some = match::find_matches(*q, *mol, props, {3, false, true});
    require(some.size() == std::min<std::size_t>(3, all.size()));
    require(std::equal(some.begin(), some.end(), all.begin()));
    const auto uniq = match::find_matches(*q, *mol, props, {50, true, false});
    std::set<std::vector<std::uint32_t>> sets;
    for (auto m : uniq) {
        std::sort(m.begin(), m.end());
        require(sets.insert(m).second);
    }
    return 0;
}
