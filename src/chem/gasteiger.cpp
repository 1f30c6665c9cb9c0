#include "chem/gasteiger.hpp"

#include <cmath>
#include <limits>
#include <string_view>

#include "core/elements.hpp"

namespace quorix::chem {

namespace E = core::Element;

using namespace quorix::core;

namespace {

struct Params {
    std::string_view element, type;
    double a, b, c;
};

// Searched in order; the first row matching element and type wins.
constexpr Params GASTEIGER_PARAMS[] = {
    {"H", "*", 7.17, 6.24, -0.56},     {"C", "sp3", 7.98, 9.18, 1.88},   {"C", "sp2", 8.79, 9.32, 1.51},
    {"C", "sp", 10.39, 9.45, 0.73},    {"N", "sp3", 11.54, 10.82, 1.36}, {"N", "sp2", 12.87, 11.15, 0.85},
    {"N", "sp", 15.68, 11.70, -0.27},  {"O", "sp3", 14.18, 12.92, 1.39}, {"O", "sp2", 17.07, 13.79, 0.47},
    {"F", "sp3", 14.66, 13.85, 2.31},  {"Cl", "sp3", 11.00, 9.69, 1.35}, {"Br", "sp3", 10.08, 8.47, 1.16},
    {"I", "sp3", 9.90, 7.96, 0.96},    {"S", "sp3", 10.14, 9.13, 1.38},  {"S", "so", 10.14, 9.13, 1.38},
    {"S", "so2", 12.00, 10.81, 1.20},  {"S", "sp2", 10.88, 9.49, 1.33},  {"P", "sp3", 8.90, 8.24, 0.96},
    {"P", "sp2", 9.665, 8.53, 0.735},  {"Si", "sp3", 7.30, 6.567, 0.657}, {"Si", "sp2", 7.905, 6.748, 0.443},
    {"Si", "sp", 9.065, 7.027, -0.002}, {"B", "sp3", 5.98, 6.82, 1.605},  {"B", "sp2", 6.42, 6.807, 1.322},
    {"Be", "sp3", 3.845, 6.755, 3.165}, {"Be", "sp2", 4.005, 6.725, 3.035}, {"Mg", "sp2", 3.565, 5.572, 2.197},
    {"Mg", "sp3", 3.30, 5.587, 2.447},  {"Mg", "sp", 4.04, 5.472, 1.823}, {"Al", "sp3", 5.375, 4.953, 0.867},
    {"Al", "sp2", 5.795, 5.02, 0.695},
};
static_assert(std::size(GASTEIGER_PARAMS) == 31);

constexpr double HYDROGEN_CATION = 20.02;

std::string_view type_of(const MolBuilder& mol, std::uint32_t a) {
    switch (mol.atoms[a].hybridization) {
        case Hybridization::Sp: return "sp";
        case Hybridization::Sp2: return "sp2";
        case Hybridization::Sp3: return "sp3";
        default: break;
    }
    if (mol.atoms[a].atomic_num == E::H) return "*";
    if (mol.atoms[a].atomic_num == E::S) {
        unsigned oxygens = 0;
        for (Neighbor nb : mol.neighbors(a))
            if (mol.atoms[nb.atom].atomic_num == E::O) ++oxygens;
        return oxygens == 1 ? "so" : oxygens == 2 ? "so2" : "sp3";
    }
    return "";
}

}  // namespace

GasteigerResult gasteiger_with_hydrogens(const MolBuilder& mol, std::uint32_t iterations) {
    const std::uint32_t n = mol.num_atoms();
    GasteigerResult r{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    std::vector<double>& q = r.charges;
    std::vector<double>& h = r.hydrogen_charges;
    constexpr double eps = std::numeric_limits<double>::epsilon();

    // A formal charge is shared evenly by like atoms two conjugated bonds apart
    // (the two oxygens of a carboxylate); `members` is reused scratch.
    std::vector<std::uint32_t> members;
    for (std::uint32_t i = 0; i < n; ++i) {
        const double c = mol.atoms[i].formal_charge;
        if (!(std::fabs(c) > eps) || !(std::fabs(q[i]) < eps)) continue;
        members.assign(1, i);
        double sum = c;
        for (Neighbor ij : mol.neighbors(i)) {
            if (!(mol.bonds[ij.bond].flags & CONJUGATED)) continue;
            for (Neighbor jk : mol.neighbors(ij.atom)) {
                if (jk.bond == ij.bond || !(mol.bonds[jk.bond].flags & CONJUGATED)) continue;
                if (mol.atoms[jk.atom].atomic_num != mol.atoms[i].atomic_num) continue;
                sum += mol.atoms[jk.atom].formal_charge;
                members.push_back(jk.atom);
            }
        }
        const double share = sum / static_cast<double>(members.size());
        for (std::uint32_t m : members) q[m] = share;
    }

    std::vector<double> a(n), b(n), c(n), cation(n), chi(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        const ElementInfo* e = element(mol.atoms[i].atomic_num);
        const std::string_view symbol = e ? e->symbol : std::string_view("*");
        const std::string_view type = type_of(mol, i);
        a[i] = b[i] = c[i] = 0.0;
        for (const Params& p : GASTEIGER_PARAMS) {
            if (p.element == symbol && p.type == type) {
                a[i] = p.a;
                b[i] = p.b;
                c[i] = p.c;
                break;
            }
        }
        cation[i] = mol.atoms[i].atomic_num == E::H ? HYDROGEN_CATION : a[i] + b[i] + c[i];
    }

    double damping = 0.5;
    for (std::uint32_t iter = 0; iter < iterations; ++iter) {
        for (std::uint32_t i = 0; i < n; ++i) chi[i] = a[i] + b[i] * q[i] + c[i] * q[i] * q[i];
        for (std::uint32_t i = 0; i < n; ++i) {
            double delta = 0.0;
            for (Neighbor nb : mol.neighbors(i)) {
                const double diff = chi[nb.atom] - chi[i];
                delta += diff / (diff >= 0.0 ? cation[i] : cation[nb.atom]);
            }
            const unsigned nh = mol.atoms[i].total_hs();
            if (nh > 0) {
                const double per = h[i] / nh;
                const double chi_h = 7.17 + 6.24 * per - 0.56 * per * per;
                const double diff = chi_h - chi[i];
                const double t = nh * diff / (diff >= 0.0 ? cation[i] : HYDROGEN_CATION);
                delta += t;
                h[i] -= damping * t;
            }
            q[i] += damping * delta;
        }
        damping /= 2.0;
    }
    return r;
}

std::vector<double> gasteiger_charges(const MolBuilder& mol, std::uint32_t iterations) {
    return gasteiger_with_hydrogens(mol, iterations).charges;
}

}  // namespace quorix::chem
