// Conformer generation on the real drug-like molecules (the ChEMBL records of
// molecules.smi): milliseconds per conformer, hydrogens added by the pipeline,
// best of a few runs per molecule, then median and 90th percentile over the
// molecules. `conformer_bench N` times N molecules (default 300).
//
// `conformer_bench --check [N]` instead runs every record of the file (or the
// first N) and reports the chirality tally over the molecules that carry a
// tetrahedral centre, and the geometry figures: bond lengths against their bound midpoints, the closest
// non-bonded heavy-atom pair, the flatness of aromatic rings, and the twist of
// double bonds (from their stated cis/trans when one is stored, else from the
// nearer of 0 and 180 degrees).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chem/sssr.hpp"
#include "common.hpp"
#include "conf/bounds.hpp"
#include "conf/linalg.hpp"
#include "conf/pipeline.hpp"

using namespace quorix;

namespace {

struct Record {
    std::string smiles, id;
};

std::vector<Record> records(bool chembl_only) {
    std::vector<Record> out;
    for (const std::string& line : bench::data_lines("molecules.smi")) {
        const auto tab = line.find_first_of(" \t");
        if (tab == std::string::npos) continue;
        Record r{line.substr(0, tab), line.substr(tab + 1)};
        if (!chembl_only || r.id.rfind("chembl20:", 0) == 0) out.push_back(r);
    }
    return out;
}

int timing(int count) {
    std::vector<double> ms;
    std::size_t failed = 0, atoms = 0;
    for (const Record& r : records(true)) {
        if (int(ms.size()) >= count) break;
        auto mol = io::read_smiles(r.smiles);
        if (!mol) continue;
        double best = 1e300;
        bool ok = true;
        for (int rep = 0; rep < 3; ++rep) {
            core::MolBuilder copy = *mol;
            best = std::min(best, bench::time_us([&] { ok = conf::conformer_for(copy).has_value(); }));
            if (rep == 0) atoms += copy.atoms.size();
        }
        if (!ok) ++failed;
        ms.push_back(best / 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("conformer: %zu drug-like molecules (%zu failed), mean %.1f atoms with hydrogens, best of 3\n",
                ms.size(), failed, double(atoms) / double(ms.size()));
    double total = 0.0;
    for (double t : ms) total += t;
    std::printf("  median %.3f ms/conformer, p90 %.3f ms, max %.3f ms, total %.1f ms\n", bench::quantile(ms, 0.5),
                bench::quantile(ms, 0.9), ms.back(), total);
    return 0;
}

double distance(const conf::Coord& a, const conf::Coord& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// Largest distance of the points from their least-squares plane.
double off_plane(const std::vector<conf::Coord>& pts) {
    conf::Coord c{0, 0, 0};
    for (const auto& p : pts)
        for (int a = 0; a < 3; ++a) c[a] += p[a] / double(pts.size());
    std::vector<double> m(9, 0.0);
    for (const auto& p : pts)
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) m[a * 3 + b] += (p[a] - c[a]) * (p[b] - c[b]);
    auto e = conf::symmetric_eigen(m, 3);
    if (!e) return 1e9;
    const double* normal = e->vectors.data() + 6;  // smallest eigenvalue
    double worst = 0;
    for (const auto& p : pts)
        worst = std::max(worst, std::fabs((p[0] - c[0]) * normal[0] + (p[1] - c[1]) * normal[1] +
                                          (p[2] - c[2]) * normal[2]));
    return worst;
}

// Torsion a-b-c-d in degrees, (-180, 180].
double torsion(const std::vector<conf::Coord>& x, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    const auto sub = [](const conf::Coord& p, const conf::Coord& q) { return conf::Coord{p[0] - q[0], p[1] - q[1], p[2] - q[2]}; };
    const auto cross = [](const conf::Coord& u, const conf::Coord& v) {
        return conf::Coord{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    };
    const auto dot = [](const conf::Coord& u, const conf::Coord& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
    const conf::Coord b1 = sub(x[b], x[a]), b2 = sub(x[c], x[b]), b3 = sub(x[d], x[c]);
    const conf::Coord n1 = cross(b1, b2), n2 = cross(b2, b3);
    return std::atan2(std::sqrt(dot(b2, b2)) * dot(b1, n2), dot(n1, n2)) * 57.29577951308232;
}

// An end that carries a second double or a triple bond is linear: no torsion.
bool linear_end(const core::MolBuilder& m, std::uint32_t bond) {
    for (std::uint32_t end : {m.bonds[bond].begin, m.bonds[bond].end})
        for (core::Neighbor nb : m.neighbors(end))
            if (nb.bond != bond && (m.bonds[nb.bond].order == core::BondOrder::Double ||
                                    m.bonds[nb.bond].order == core::BondOrder::Triple))
                return true;
    return false;
}

struct Twist {
    std::size_t bonds = 0, off = 0, wrong = 0;
    double worst = 0;
    void add(double dev) {
        ++bonds;
        off += dev > 5.0;
        wrong += dev > 90.0;
        worst = std::max(worst, dev);
    }
    void print(const char* what) const {
        std::printf("%s: %zu of %zu twisted more than 5 degrees (%zu past 90), worst %.2f degrees\n", what, off,
                    bonds, wrong, worst);
    }
};

// Per double bond its worst torsion deviation: from the stated arrangement when
// one is stored, else from the nearer of 0 and 180.
void double_bond_twist(const core::MolBuilder& m, const std::vector<conf::Coord>& x, Twist& chain,
                       Twist& configured, Twist& ring, const std::string& smiles) {
    for (std::uint32_t bi = 0; bi < m.num_bonds(); ++bi) {
        const core::Bond& bond = m.bonds[bi];
        if (bond.order != core::BondOrder::Double || linear_end(m, bi)) continue;
        const bool stored = bond.stereo != core::BondStereo::None && bond.stereo_atoms[0] != core::NONE &&
                            bond.stereo_atoms[1] != core::NONE;
        const bool in_ring = bond.flags & core::IN_RING;
        double worst = -1;
        for (core::Neighbor na : m.neighbors(bond.begin))
            for (core::Neighbor nd : m.neighbors(bond.end)) {
                if (na.atom == bond.end || nd.atom == bond.begin || na.atom == nd.atom) continue;
                const double phi = std::fabs(torsion(x, na.atom, bond.begin, bond.end, nd.atom));
                double dev = std::min(phi, 180.0 - phi);
                if (stored) {
                    const bool same = bond.stereo == core::BondStereo::Z || bond.stereo == core::BondStereo::Cis;
                    const bool flip = (na.atom != bond.stereo_atoms[0]) != (nd.atom != bond.stereo_atoms[1]);
                    dev = same != flip ? phi : 180.0 - phi;
                }
                worst = std::max(worst, dev);
            }
        if (worst < 0) continue;
        if (worst > 5.0 && std::getenv("QUORIX_VERBOSE"))
            std::printf("twist %u %.1f%s %s\n", bi, worst, stored ? " stored" : "", smiles.c_str());
        if (in_ring) ring.add(worst);
        else if (stored) configured.add(worst);
        else chain.add(worst);
    }
}

int check(int limit) {
    std::size_t tried = 0, chiral_mols = 0, chiral_good = 0, errors = 0, converged = 0;
    double worst_bond = 0, closest = 1e9, worst_plane = 0;
    std::size_t bonds_off = 0, bonds = 0, close_pairs = 0, rings_off = 0, rings = 0, rings_bad = 0;
    std::size_t mols_bonds_off = 0, mols_close = 0;
    Twist chain, configured, ring_twist;
    for (const Record& r : records(false)) {
        if (limit > 0 && int(tried) >= limit) break;
        auto mol = io::read_smiles(r.smiles);
        if (!mol) continue;
        ++tried;
        core::MolBuilder prepared = *mol;
        auto result = conf::conformer_for(prepared);
        if (!result) {
            ++errors;
            std::printf("error %s %s: %s\n", r.id.c_str(), r.smiles.c_str(), result.error().to_string().c_str());
            continue;
        }
        converged += result->converged;
        if (result->chiral_total > 0) {
            ++chiral_mols;
            if (result->chiral_ok == result->chiral_total) ++chiral_good;
            else
                std::printf("chiral %zu/%zu %s %s energy %.4f\n", result->chiral_ok, result->chiral_total,
                            r.id.c_str(), r.smiles.c_str(), result->energy);
        }
        const auto& xyz = result->coords;
        const std::size_t bonds_off_before = bonds_off, close_before = close_pairs;
        const conf::ConformerHolds holds(prepared);
        const conf::BoundsPreferences& plain = holds.bounds(conf::Holds::Shapes);
        const conf::DistanceBounds b = conf::build_bounds(prepared, &plain);
        for (const core::Bond& bond : prepared.bonds) {
            const double mid = 0.5 * (b.lower(bond.begin, bond.end) + b.upper(bond.begin, bond.end));
            const double off = std::fabs(distance(xyz[bond.begin], xyz[bond.end]) - mid);
            worst_bond = std::max(worst_bond, off);
            bonds_off += off > 0.1;
            if (off > 0.1 && std::getenv("QUORIX_VERBOSE"))
                std::printf("bond %u-%u off %.3f %s energy %.4g\n", bond.begin, bond.end, off, r.smiles.c_str(),
                            result->energy);
            ++bonds;
        }
        const std::size_t n = prepared.atoms.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (prepared.atoms[i].atomic_num == 1) continue;
            for (std::size_t j = i + 1; j < n; ++j) {
                if (prepared.atoms[j].atomic_num == 1 || prepared.bond_between(std::uint32_t(i), std::uint32_t(j)) != core::NONE) continue;
                const double d = distance(xyz[i], xyz[j]);
                closest = std::min(closest, d);
                close_pairs += d < 2.0;
                if (d < 2.0 && std::getenv("QUORIX_VERBOSE"))
                    std::printf("close %zu-%zu %.3f %s energy %.4g\n", i, j, d, r.smiles.c_str(), result->energy);
            }
        }
        for (const chem::Ring& ring : chem::sssr(prepared)) {
            bool aromatic = true;
            std::vector<conf::Coord> pts;
            for (std::uint32_t a : ring.atoms) {
                aromatic = aromatic && (prepared.atoms[a].flags & core::AROMATIC);
                pts.push_back(xyz[a]);
            }
            if (!aromatic) continue;
            const double dev = off_plane(pts);
            worst_plane = std::max(worst_plane, dev);
            rings_off += dev > 0.1;
            rings_bad += dev > 0.2;
            if (dev > 0.1 && std::getenv("QUORIX_VERBOSE")) std::printf("ring %zu atoms off-plane %.3f %s energy %.4g\n", pts.size(), dev, r.smiles.c_str(), result->energy);
            ++rings;
        }
        mols_bonds_off += bonds_off > bonds_off_before;
        mols_close += close_pairs > close_before;
        double_bond_twist(prepared, xyz, chain, configured, ring_twist, r.smiles);
    }
    std::printf("%zu molecules, %zu errors, %zu converged\n", tried, errors, converged);
    std::printf("chirality: %zu of %zu molecules with tetrahedral centres have every centre right (%.2f%%)\n",
                chiral_good, chiral_mols, chiral_mols ? 100.0 * double(chiral_good) / double(chiral_mols) : 100.0);
    std::printf("bonds: %zu of %zu more than 0.1 A from their bound midpoint (%zu molecules), worst %.4f A\n",
                bonds_off, bonds, mols_bonds_off, worst_bond);
    std::printf("non-bonded heavy pairs: %zu under 2.0 A (%zu molecules), closest %.3f A\n", close_pairs, mols_close,
                closest);
    std::printf("aromatic rings: %zu of %zu off-plane by more than 0.1 A (%zu by more than 0.2 A), worst %.4f A\n",
                rings_off, rings, rings_bad, worst_plane);
    chain.print("chain double bonds without configuration");
    configured.print("configured chain double bonds");
    ring_twist.print("ring double bonds");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--check") == 0) return check(argc > 2 ? std::atoi(argv[2]) : 0);
    return timing(bench::count_arg(argc, argv, 300));
}
