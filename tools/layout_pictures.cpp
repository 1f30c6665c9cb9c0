// Writes one SVG per SMILES line of stdin into the folder given as argument: the
// layout's bonds, element labels and, in red, its unresolved clashes and
// crossings. For looking at layouts, not for users.
//   g++ -std=c++23 -O2 -Isrc -Itests/cpp -DQUORIX_TEST_DATA='""' tools/layout_pictures.cpp build/rel/libquorix_*.a ...
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "core/elements.hpp"
#include "support.hpp"
#include "depict/pipeline.hpp"

using namespace quorix;

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    std::string line;
    int n = 0;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        const std::string smiles = line.substr(0, line.find_first_of(" \t"));
        test::Drawing d = test::draw(test::prepared(smiles));
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (const auto& [a, p] : d.positions) x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        const double s = 40.0, m = 30.0;
        const auto X = [&](double x) { return m + (x - x0) * s; };
        const auto Y = [&](double y) { return m + (y1 - y) * s; };
        std::ofstream out(std::string(argv[1]) + "/" + std::to_string(n++) + ".svg");
        out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << (x1 - x0) * s + 2 * m << "' height='"
            << (y1 - y0) * s + 2 * m + 20 << "'><rect width='100%' height='100%' fill='white'/>\n";
        std::vector<std::uint8_t> crossing(d.mol.num_bonds(), 0);
        for (auto [a, b] : d.refined.crossings) crossing[a] = crossing[b] = 1;
        for (std::uint32_t b = 0; b < d.mol.num_bonds(); ++b) {
            const auto& bond = d.mol.bonds[b];
            const auto p = d.positions.at(bond.begin), q = d.positions.at(bond.end);
            const char* colour = crossing[b] ? "red" : "black";
            const int order = bond.order == core::BondOrder::Double ? 2 : bond.order == core::BondOrder::Triple ? 3 : 1;
            const double dx = q.x - p.x, dy = q.y - p.y, l = std::hypot(dx, dy), nx = -dy / l * 0.12, ny = dx / l * 0.12;
            for (int k = 0; k < order; ++k) {
                const double o = k - (order - 1) / 2.0;
                out << "<line x1='" << X(p.x + nx * o) << "' y1='" << Y(p.y + ny * o) << "' x2='" << X(q.x + nx * o)
                    << "' y2='" << Y(q.y + ny * o) << "' stroke='" << colour << "' stroke-width='1.5'/>\n";
            }
        }
        for (const auto& [a, p] : d.positions) {
            const auto& atom = d.mol.atoms[a];
            if (atom.atomic_num == 6 && d.mol.degree[a] > 0 && atom.formal_charge == 0) continue;
            out << "<text x='" << X(p.x) << "' y='" << Y(p.y) + 5 << "' font-size='14' text-anchor='middle' "
                << "font-family='sans-serif' fill='blue' stroke='white' stroke-width='0.3'>"
                << core::ELEMENTS[atom.atomic_num].symbol << "</text>\n";
        }
        for (auto [a, b] : d.refined.unresolved) {
            const auto p = d.positions.at(a), q = d.positions.at(b);
            out << "<line x1='" << X(p.x) << "' y1='" << Y(p.y) << "' x2='" << X(q.x) << "' y2='" << Y(q.y)
                << "' stroke='red' stroke-dasharray='3,3'/>\n";
        }
        out << "<text x='5' y='" << (y1 - y0) * s + 2 * m + 15 << "' font-size='10'>" << smiles.substr(0, 120)
            << " unresolved=" << d.refined.unresolved.size() << " crossings=" << d.refined.crossings.size()
            << "</text></svg>\n";
    }
}
