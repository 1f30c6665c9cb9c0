// Writes, for every molecule of a SMILES file (default: the real molecules),
// one line: its number, a hash of everything the 2-D depiction returns (all
// report fields, coordinates bit for bit, wedges, the hydrogen plan, ranks) and
// a hash of the to_molblock_2d text. Two builds' outputs compared line by line
// show every molecule a change altered; see tools/compare_depiction.sh.
//
//   depict_2d_dump [FILE]
#include <bit>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "common.hpp"
#include "python/depiction.hpp"

using namespace quorix;

namespace {

struct Hash {
    std::uint64_t h = 0xcbf29ce484222325ull;
    void bytes(const void* p, std::size_t n) {
        const auto* c = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) h = (h ^ c[i]) * 0x100000001b3ull;
    }
    void u64(std::uint64_t v) { bytes(&v, sizeof v); }
    void text(std::string_view s) {
        u64(s.size());
        bytes(s.data(), s.size());
    }
    template <class T>
    void list(const std::vector<T>& v, auto each) {
        u64(v.size());
        for (const T& x : v) each(x);
    }
};

void atom(Hash& h, const core::Atom& a) {
    h.u64(a.atomic_num);
    h.u64(std::uint64_t(std::int64_t(a.formal_charge)));
    h.u64(a.isotope);
    h.u64(a.num_explicit_hs);
}

std::uint64_t result_hash(const depict::DepictionResult& r) {
    Hash h;
    h.list(r.coords, [&](const depict::Point& p) {
        h.u64(std::bit_cast<std::uint64_t>(p.x));
        h.u64(std::bit_cast<std::uint64_t>(p.y));
    });
    h.list(r.degraded, [&](const depict::Degradation& d) { h.text(depict::degradation_text(d)); });
    for (const auto* pairs : {&r.unresolved, &r.crossings})
        h.list(*pairs, [&](const auto& p) { h.u64((std::uint64_t(p.first) << 32) | p.second); });
    h.list(r.wedges, [&](const io::Wedge& w) { h.u64((std::uint64_t(w.kind) << 32) | w.apex); });
    h.list(r.unwedged, [&](std::uint32_t v) { h.u64(v); });
    h.list(r.misdrawn_stereo, [&](std::uint32_t v) { h.u64(v); });
    h.list(r.hydrogens.updated_atoms, [&](const auto& u) { h.u64(u.first); atom(h, u.second); });
    h.list(r.hydrogens.hydrogens, [&](const core::Atom& a) { atom(h, a); });
    h.list(r.hydrogens.bonds, [&](const core::Bond& b) { h.u64((std::uint64_t(b.begin) << 32) | b.end); });
    h.text(r.style_name);
    h.u64(r.style_fingerprint);
    h.list(r.ranks, [&](std::uint32_t v) { h.u64(v); });
    return h.h;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> smiles;
    if (argc > 1) {
        std::ifstream in(argv[1]);
        for (std::string line; std::getline(in, line);) smiles.push_back(line);
    } else {
        smiles = bench::data_smiles();
    }
    for (std::size_t i = 0; i < smiles.size(); ++i) {
        const std::string s = smiles[i].substr(0, smiles[i].find_first_of(" \t"));
        auto mol = io::read_smiles(s);
        if (!mol) {
            std::printf("%zu unread\n", i);
            continue;
        }
        core::MolBuilder copy = *mol;
        auto drawing = python::depict_copy(copy);
        Hash report;
        if (drawing) report.u64(result_hash(*drawing));
        else report.text(drawing.error());
        auto block = python::molblock_2d(*mol, "t");
        Hash text;
        text.text(block ? *block : "error: " + block.error());
        std::printf("%zu %016llx %016llx\n", i, (unsigned long long)report.h, (unsigned long long)text.h);
    }
}
