// Prints what sanitisation and ring perception make of every real molecule, one
// line per molecule and atom order, for before/after comparisons of chem speed
// work: a hash of every atom and bond field after sanitize (or the error text),
// a hash of the ring list, and the ring systems. Each molecule is seen in its
// own order and in a few random atom and bond orders (bonds sometimes turned
// round), which send the searches down other paths.
//   sanitize_dump [variants] > listing
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "common.hpp"

using namespace quorix;

namespace {

struct Hash {
    std::uint64_t h = 1469598103934665603ull;
    void add(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            h ^= (v >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
};

std::uint64_t molecule_hash(const core::MolBuilder& m) {
    Hash h;
    h.add(m.num_atoms());
    for (const core::Atom& a : m.atoms) {
        h.add(a.flags);
        h.add(a.isotope);
        h.add(a.map_num);
        h.add(a.atomic_num);
        h.add(std::uint8_t(a.formal_charge));
        h.add(a.num_explicit_hs);
        h.add(a.num_implicit_hs);
        h.add(a.num_radical_electrons);
        h.add(a.chiral_permutation);
        h.add(std::uint8_t(a.hybridization));
        h.add(std::uint8_t(a.chiral_tag));
    }
    h.add(m.num_bonds());
    for (const core::Bond& b : m.bonds) {
        h.add(b.stereo_atoms[0]);
        h.add(b.stereo_atoms[1]);
        h.add(b.begin);
        h.add(b.end);
        h.add(b.flags);
        h.add(std::uint8_t(b.order));
        h.add(std::uint8_t(b.stereo));
        h.add(std::uint8_t(b.direction));
    }
    for (const auto* list : {&m.first_half_edge, &m.last_half_edge, &m.next_half_edge, &m.degree})
        for (std::uint32_t v : *list) h.add(v);
    return h.h;
}

std::uint64_t rings_hash(const std::vector<chem::Ring>& rings) {
    Hash h;
    for (const chem::Ring& r : rings) {
        h.add(r.atoms.size());
        for (std::uint32_t a : r.atoms) h.add(a);
        for (std::uint32_t b : r.bonds) h.add(b);
    }
    return h.h;
}

// Atom i moves to perm[i]; bonds come in a shuffled order, some turned round.
core::MolBuilder reordered(const core::MolBuilder& m, std::mt19937& rng) {
    std::vector<std::uint32_t> perm(m.num_atoms()), inverse(m.num_atoms()), order(m.num_bonds());
    std::iota(perm.begin(), perm.end(), 0u);
    std::shuffle(perm.begin(), perm.end(), rng);
    for (std::uint32_t i = 0; i < perm.size(); ++i) inverse[perm[i]] = i;
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), rng);
    core::MolBuilder out;
    for (std::uint32_t j = 0; j < perm.size(); ++j) out.add_atom(m.atoms[inverse[j]]);
    for (std::uint32_t b : order) {
        core::Bond bond = m.bonds[b];
        bond.begin = perm[bond.begin];
        bond.end = perm[bond.end];
        for (std::uint32_t& s : bond.stereo_atoms)
            if (s != core::NONE) s = perm[s];
        if (rng() & 1u) {
            std::swap(bond.begin, bond.end);
            std::swap(bond.stereo_atoms[0], bond.stereo_atoms[1]);
            bond.direction = core::reversed(bond.direction);
        }
        out.push_bond(bond);
    }
    return out;
}

void dump(std::size_t id, int variant, core::MolBuilder m) {
    std::printf("%zu.%d", id, variant);
    if (auto r = chem::sanitize(m); r) std::printf(" %016llx", (unsigned long long)molecule_hash(m));
    else std::printf(" error %s", r.error().to_string().c_str());
    std::printf(" rings %016llx systems", (unsigned long long)rings_hash(chem::sssr(m)));
    for (const auto& system : chem::ring_systems(m)) {
        std::printf(" [");
        for (std::uint32_t a : system) std::printf(" %u", a);
        std::printf(" ]");
    }
    const chem::RingMembership member = chem::ring_membership_of(m);
    Hash h;
    for (const auto* list : {&member.smallest_ring, &member.atom_in_ring, &member.bond_in_ring})
        for (std::uint8_t v : *list) h.add(v);
    std::printf(" membership %016llx\n", (unsigned long long)h.h);
}

}  // namespace

int main(int argc, char** argv) {
    const int variants = bench::count_arg(argc, argv, 3);
    const std::vector<std::string> smiles = bench::data_smiles();
    std::mt19937 rng(20261207);
    for (std::size_t id = 0; id < smiles.size(); ++id) {
        auto m = io::read_smiles(smiles[id]);
        if (!m) {
            std::printf("%zu unread\n", id);
            continue;
        }
        dump(id, 0, *m);
        for (int v = 1; v <= variants; ++v) dump(id, v, reordered(*m, rng));
    }
    return 0;
}
